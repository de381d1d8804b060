# Prints the installer's size and fails the build when it passes its budget or reaches into
# the archive's room.
file(SIZE "${FILE}" size)
get_filename_component(name "${FILE}" NAME)
message(STATUS "${name}: ${size} bytes (budget ${BUDGET}, limit ${LIMIT}, goal ${GOAL})")
if(size GREATER LIMIT)
  message(FATAL_ERROR "${name} is ${size} bytes, more than ${LIMIT}: an appended archive starts at that offset")
endif()
if(size GREATER BUDGET)
  message(FATAL_ERROR "${name} is ${size} bytes, more than its budget of ${BUDGET}: what is added is paid for inside the program")
endif()

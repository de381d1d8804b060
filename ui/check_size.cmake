# Prints the installer's size and fails the build when it reaches into the archive's room.
file(SIZE "${FILE}" size)
get_filename_component(name "${FILE}" NAME)
message(STATUS "${name}: ${size} bytes (limit ${LIMIT}, goal ${GOAL})")
if(size GREATER LIMIT)
  message(FATAL_ERROR "${name} is ${size} bytes, more than ${LIMIT}: an appended archive starts at that offset")
endif()

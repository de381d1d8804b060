# Prints the uninstaller's size and fails the build past the limit.
file(SIZE "${FILE}" size)
get_filename_component(name "${FILE}" NAME)
message(STATUS "${name}: ${size} bytes (limit ${LIMIT}, goal ${GOAL})")
if(size GREATER LIMIT)
  message(FATAL_ERROR "${name} is ${size} bytes, more than ${LIMIT}")
endif()

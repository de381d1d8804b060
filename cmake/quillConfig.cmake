# find_package(quill): the packer as the imported program quill::quill, and
#
#   quill_add_installer(NAME SOURCE_DIR dir PROJECT file.ini OUTPUT setup.exe
#                       [DEPENDS targets or files...] [OPTIONS quill pack options...])
#
# a target NAME (built by default) that packs SOURCE_DIR with the project file into OUTPUT
# whenever a dependency or the project file changes. DEPENDS names what fills SOURCE_DIR:
# targets of a Windows build (mingw-w64 or another toolchain) or files. OPTIONS go to
# quill pack as they are (--icon, --version, --sign CERT --key KEY, --volume-size, ...).
get_filename_component(_quill_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
if(NOT TARGET quill::quill)
  # The package config lies in lib/cmake/quill (or lib/<multiarch>/cmake/quill).
  find_program(QUILL_EXECUTABLE quill
    PATHS "${_quill_prefix}/bin" "${_quill_prefix}/../bin" NO_DEFAULT_PATH)
  if(NOT QUILL_EXECUTABLE)
    set(quill_FOUND FALSE)
    set(quill_NOT_FOUND_MESSAGE "quill is not in ${_quill_prefix}/bin")
    return()
  endif()
  add_executable(quill::quill IMPORTED)
  set_target_properties(quill::quill PROPERTIES IMPORTED_LOCATION "${QUILL_EXECUTABLE}")
endif()

function(quill_add_installer name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "SOURCE_DIR;PROJECT;OUTPUT" "DEPENDS;OPTIONS")
  foreach(required SOURCE_DIR OUTPUT)
    if(NOT arg_${required})
      message(FATAL_ERROR "quill_add_installer(${name}): ${required} is missing")
    endif()
  endforeach()
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "quill_add_installer(${name}): unknown arguments ${arg_UNPARSED_ARGUMENTS}")
  endif()
  get_filename_component(source "${arg_SOURCE_DIR}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  get_filename_component(output "${arg_OUTPUT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  set(project "")
  if(arg_PROJECT)
    get_filename_component(project "${arg_PROJECT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  endif()
  add_custom_command(OUTPUT "${output}"
    COMMAND quill::quill pack "${source}" ${project} -o "${output}" -q ${arg_OPTIONS}
    DEPENDS ${arg_DEPENDS} ${project}
    COMMENT "quill: packing ${source} into ${output}"
    VERBATIM)
  add_custom_target(${name} ALL DEPENDS "${output}")
  set_target_properties(${name} PROPERTIES QUILL_OUTPUT "${output}")
endfunction()

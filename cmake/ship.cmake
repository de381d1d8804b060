# quill as a tool people install: the installer program it packs with, the install rules,
# a man page, a package config with quill_add_installer(), and a Debian package (CPack).

# The installer program (a Windows build) goes beside quill. Given, or built here with
# mingw-w64 when it is there.
set(QUILL_INSTALLER_PROGRAM "" CACHE FILEPATH
  "quillstead.exe to install with quill; empty: built here with i686-w64-mingw32 when found")
set(QUILL_UNINSTALLER_PROGRAM "" CACHE FILEPATH
  "quillstead-uninstall.exe to install with quill; empty: built here with the installer when its sources are here")
set(QUILL_INSTALLER_FILE "")
set(QUILL_UNINSTALLER_FILE "")
if(QUILL_UNINSTALLER_PROGRAM)
  set(QUILL_UNINSTALLER_FILE ${QUILL_UNINSTALLER_PROGRAM})
endif()
if(QUILL_INSTALLER_PROGRAM)
  set(QUILL_INSTALLER_FILE ${QUILL_INSTALLER_PROGRAM})
  # An installer program from a build tree, or from a folder of both: its uninstaller beside it.
  get_filename_component(QUILL_INSTALLER_DIR ${QUILL_INSTALLER_PROGRAM} DIRECTORY)
  foreach(candidate ${QUILL_INSTALLER_DIR}/quillstead-uninstall.exe
                    ${QUILL_INSTALLER_DIR}/../uninstall/quillstead-uninstall.exe)
    if(NOT QUILL_UNINSTALLER_FILE AND EXISTS ${candidate})
      get_filename_component(QUILL_UNINSTALLER_FILE ${candidate} ABSOLUTE)
    endif()
  endforeach()
else()
  find_program(QUILL_MINGW_CXX i686-w64-mingw32-g++)
  if(QUILL_MINGW_CXX)
    # The uninstaller is built beside the installer, from the same core sources.
    set(QUILL_WINDOWS_TARGETS quillstead)
    if(EXISTS ${CMAKE_SOURCE_DIR}/uninstall/CMakeLists.txt)
      list(APPEND QUILL_WINDOWS_TARGETS quillstead-uninstall)
      if(NOT QUILL_UNINSTALLER_FILE)
        set(QUILL_UNINSTALLER_FILE ${CMAKE_BINARY_DIR}/installer-i686/uninstall/quillstead-uninstall.exe)
      endif()
    endif()
    include(ExternalProject)
    ExternalProject_Add(installer-program
      SOURCE_DIR ${CMAKE_SOURCE_DIR}
      BINARY_DIR ${CMAKE_BINARY_DIR}/installer-i686
      CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release
      BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target ${QUILL_WINDOWS_TARGETS}
      INSTALL_COMMAND ""
      BUILD_ALWAYS ON)
    set(QUILL_INSTALLER_FILE ${CMAKE_BINARY_DIR}/installer-i686/ui/quillstead.exe)
  else()
    message(STATUS "no installer program: install quill with QUILL_INSTALLER_PROGRAM or i686-w64-mingw32-g++")
  endif()
endif()

include(GNUInstallDirs)
install(TARGETS quill RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(QUILL_INSTALLER_FILE)
  # quill looks for it in ../share/quill beside its own directory.
  install(FILES ${QUILL_INSTALLER_FILE} DESTINATION ${CMAKE_INSTALL_DATADIR}/quill)
endif()
if(QUILL_UNINSTALLER_FILE)
  # Beside the installer program, where quill looks for it the same way.
  install(FILES ${QUILL_UNINSTALLER_FILE} DESTINATION ${CMAKE_INSTALL_DATADIR}/quill)
else()
  message(STATUS "no uninstaller program: an installed quill packs only with --uninstaller or --no-uninstall")
endif()
install(FILES ${CMAKE_SOURCE_DIR}/doc/quill.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

include(CMakePackageConfigHelpers)
set(QUILL_VERSION 1.0.0)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/quillConfigVersion.cmake
  VERSION ${QUILL_VERSION} COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES ${CMAKE_SOURCE_DIR}/cmake/quillConfig.cmake ${CMAKE_BINARY_DIR}/quillConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/quill)

set(CPACK_PACKAGE_NAME quill)
set(CPACK_PACKAGE_VERSION ${QUILL_VERSION})
set(CPACK_PACKAGE_CONTACT "Quillstead developers <quill@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "packs folders into self-extracting installers for 32-bit Windows")
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# quill re-encodes icon images with libpng over zlib; shlibdeps finds them too when
# dpkg-shlibdeps is there, these hold without it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libpng16-16, zlib1g")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "osslsigncode")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)

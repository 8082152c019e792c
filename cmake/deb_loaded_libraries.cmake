# CPack pre-build script (cmake/packaging.cmake): refuses a build whose
# program would not read /etc/hearkener, and adds to the hearkener
# package's Depends the packages of the codec libraries that hearkener loads
# on first use.
#
# CPACK_HEARKENER_LOADED_LIBRARIES holds soname=package pairs. A soname that
# some installed program links is left out: dpkg-shlibdeps lists its package
# already, with the version the build needs, and the same package twice
# would be redundant.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
if(NOT CPACK_HEARKENER_INSTALL_PREFIX STREQUAL "/usr")
  message(FATAL_ERROR "the Debian packages need a build configured with "
    "-DCMAKE_INSTALL_PREFIX=/usr (this one: ${CPACK_HEARKENER_INSTALL_PREFIX}), "
    "so that the program reads /etc/hearkener")
endif()

# The hearkener component's files (one folder per component).
file(GLOB_RECURSE staged LIST_DIRECTORIES false
  "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/hearkener/*")
set(needed)
foreach(file ${staged})
  if(IS_SYMLINK "${file}")
    continue()
  endif()
  file(READ "${file}" magic LIMIT 4 HEX)
  if(NOT magic STREQUAL "7f454c46")  # not ELF
    continue()
  endif()
  execute_process(COMMAND "${CPACK_HEARKENER_READELF}" -d "${file}"
    OUTPUT_VARIABLE dynamic ERROR_QUIET)
  string(REGEX MATCHALL "Shared library: \\[[^]]+\\]" lines "${dynamic}")
  foreach(line ${lines})
    string(REGEX REPLACE "^Shared library: \\[(.*)\\]$" "\\1" soname "${line}")
    list(APPEND needed "${soname}")
  endforeach()
endforeach()

set(depends)
foreach(pair ${CPACK_HEARKENER_LOADED_LIBRARIES})
  string(REPLACE "=" ";" pair "${pair}")
  list(GET pair 0 soname)
  list(GET pair 1 package)
  # list(FIND), not IN_LIST: CPack reads this without the project's
  # policies.
  list(FIND needed "${soname}" linked)
  list(FIND depends "${package}" listed)
  if(linked EQUAL -1 AND listed EQUAL -1)
    list(APPEND depends "${package}")
  endif()
endforeach()
if(CPACK_DEBIAN_HEARKENER_PACKAGE_DEPENDS)
  list(PREPEND depends "${CPACK_DEBIAN_HEARKENER_PACKAGE_DEPENDS}")
endif()
list(JOIN depends ", " CPACK_DEBIAN_HEARKENER_PACKAGE_DEPENDS)
message(STATUS "hearkener Depends beside dpkg-shlibdeps: "
  "${CPACK_DEBIAN_HEARKENER_PACKAGE_DEPENDS}")

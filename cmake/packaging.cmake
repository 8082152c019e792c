# Installation and the Debian package.
#
# `cmake --install build [--prefix DIR]` puts the programs into bin, the
# manual pages (compressed) into share/man/man1, README.md, LICENSE and the
# example hearkener.conf into share/doc/hearkener, and the systemd unit
# hearkener@.service into lib/systemd/system; `cpack -G DEB` in the build folder packs the
# same tree under /usr as hearkener_<version>_<arch>.deb. Tests, benchmarks
# and fuzzers are never installed.
include(GNUInstallDirs)

# make_test_call writes the example call that the manual pages and README
# use; without it an installed hearkener has nothing to try.
install(TARGETS hearkener make_test_call
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
set(HEARKENER_MAN_PAGES hearkener make_test_call)
if(TARGET tapd-emu)
  install(TARGETS tapd-emu RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  list(APPEND HEARKENER_MAN_PAGES tapd-emu)
endif()
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/LICENSE
  DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The systemd template unit that follows one queue (hearkener@QUEUE) and
# its documented example settings. The unit names the program by the
# prefix of the install itself (/usr in the Debian package).
if(NOT WIN32)
  install(CODE "
    set(HEARKENER_UNIT_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    configure_file(\"${CMAKE_SOURCE_DIR}/packaging/hearkener@.service.in\"
      \"${CMAKE_BINARY_DIR}/packaging/hearkener@.service\" @ONLY)")
  install(FILES ${CMAKE_BINARY_DIR}/packaging/hearkener@.service
    DESTINATION lib/systemd/system)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/hearkener.conf
    DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
endif()

# The manual pages, gzipped as Debian keeps them (-n: no name or time stamp
# inside, so a rebuild gives the same bytes). The Windows program has none.
if(NOT WIN32)
  find_program(HEARKENER_GZIP gzip)
  set(man_files)
  foreach(page ${HEARKENER_MAN_PAGES})
    set(source ${CMAKE_SOURCE_DIR}/man/${page}.1)
    if(HEARKENER_GZIP)
      set(packed ${CMAKE_BINARY_DIR}/man/${page}.1.gz)
      add_custom_command(OUTPUT ${packed}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
        COMMAND ${HEARKENER_GZIP} -9nc ${source} > ${packed}
        DEPENDS ${source} VERBATIM)
      list(APPEND man_files ${packed})
    else()
      list(APPEND man_files ${source})
    endif()
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${man_files})
  install(FILES ${man_files} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # The pages render cleanly and keep up with the programs' options.
  if(TARGET hearkener_tests AND TARGET tapd-emu)
    add_test(NAME ManPages.RenderAndDescribeEveryOption
      COMMAND ${CMAKE_SOURCE_DIR}/tests/man_pages_check.sh
        ${CMAKE_SOURCE_DIR}/man $<TARGET_FILE:hearkener> $<TARGET_FILE:tapd-emu>)
    set_tests_properties(ManPages.RenderAndDescribeEveryOption PROPERTIES
      SKIP_RETURN_CODE 77)
  endif()
endif()

if(WIN32)
  return()
endif()

# The Debian package. Its dependencies come from the build machine:
# dpkg-shlibdeps finds the packages of every library the installed programs
# link (libasound2, libc6, libstdc++6, and tapd-emu's codec libraries).
# hearkener itself loads the codec libraries by their runtime names only
# when a call needs them, which dpkg-shlibdeps cannot see; the package that
# holds each of those files here is named below, and
# cmake/deb_loaded_libraries.cmake adds the ones that no linked library
# brings already.
set(CPACK_PACKAGE_NAME hearkener)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "hearkener developers")
set(HEARKENER_DEB_MAINTAINER "hearkener maintainers <maintainers@localhost>"
  CACHE STRING "The Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT "${HEARKENER_DEB_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "listen to or record calls of the call-recording service tapd")
# The long description; CPack puts the summary above it and formats it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"hearkener receives the audio of a telephone call that the call-recording
service tapd captures (G.711 A-law or u-law, or a framed stream of GSM,
G.726, G.729A or G.722 payloads), or reads an A-law or u-law WAV file, and
plays it on the sound card or writes it to a two-channel A-law WAV file.

The package also holds tapd-emu, a stand-in for the service that serves WAV
files as live queues, and make_test_call, which writes an example call.")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR DEB)
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/")

# The package that holds `file` on this machine, or "" when dpkg knows none.
# With merged /usr a library may be registered under /lib or /usr/lib.
function(hearkener_owning_package out file)
  set(${out} "" PARENT_SCOPE)
  find_program(HEARKENER_DPKG_QUERY dpkg-query)
  if(NOT HEARKENER_DPKG_QUERY)
    return()
  endif()
  get_filename_component(real "${file}" REALPATH)
  set(candidates "${file}" "${real}")
  foreach(path "${file}" "${real}")
    if(path MATCHES "^/usr(/lib.*)$")
      list(APPEND candidates "${CMAKE_MATCH_1}")
    elseif(path MATCHES "^/lib")
      list(APPEND candidates "/usr${path}")
    endif()
  endforeach()
  foreach(path ${candidates})
    execute_process(COMMAND ${HEARKENER_DPKG_QUERY} -S "${path}"
      OUTPUT_VARIABLE owners ERROR_QUIET RESULT_VARIABLE failed)
    # "package[:arch][, package…]: path"; diversions say "diversion by".
    string(REGEX MATCH "(^|\n)([a-z0-9][a-z0-9.+-]*)(:[a-z0-9]+)?[:,] "
      found "${owners}")
    if(NOT failed AND CMAKE_MATCH_2)
      set(${out} "${CMAKE_MATCH_2}" PARENT_SCOPE)
      return()
    endif()
  endforeach()
endfunction()

# soname=package for each library hearkener loads on first use, as the
# dynamic loader finds it: the runtime name beside the file linked against.
set(loaded)
foreach(pair "GSM;GSM_LIBRARY" "AVCODEC;avcodec_file" "AVUTIL;avutil_file"
             "SPANDSP;spandsp_file" "BCG729;bcg729_file")
  list(GET pair 0 name)
  list(GET pair 1 file_var)
  set(soname "${HEARKENER_SONAME_${name}}")
  get_filename_component(dir "${${file_var}}" DIRECTORY)
  hearkener_owning_package(package "${dir}/${soname}")
  if(package)
    list(APPEND loaded "${soname}=${package}")
  else()
    message(WARNING "no Debian package holds ${dir}/${soname}: the .deb "
      "will not depend on it")
  endif()
endforeach()
# CPack hands only CPACK_* variables to its scripts.
set(CPACK_HEARKENER_LOADED_LIBRARIES "${loaded}")
set(CPACK_HEARKENER_READELF "${HEARKENER_READELF}")
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/deb_loaded_libraries.cmake)
message(STATUS "Debian package: libraries loaded on first use: ${loaded}")

include(CPack)

# Installation and the Debian package.
#
# `cmake --install build [--prefix DIR]` puts the programs into bin, the
# manual pages (compressed) into share/man/man1, and README.md, the
# copyright file, the changelog and the example configuration into
# share/doc/hearkener (the tools' copyright and changelog into
# share/doc/hearkener-tools); `cpack` in the build folder packs the same
# tree under /usr as hearkener_<version>_<arch>.deb and
# hearkener-tools_<version>_<arch>.deb. The program reads its configuration
# from the prefix's sysconfdir, fixed when configuring: packages need
# -DCMAKE_INSTALL_PREFIX=/usr (/etc/hearkener). Tests, benchmarks and
# fuzzers are never installed.
include(GNUInstallDirs)

# Two components, one Debian package each: hearkener (the program, its
# manual page, documentation and the example configuration; every install()
# without a COMPONENT lands here) and hearkener-tools (the recorder emulator
# and the test-call maker, installed as hearkener-test-call).
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME hearkener)
install(TARGETS hearkener RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  COMPONENT hearkener)
install(TARGETS make_test_call RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  COMPONENT hearkener-tools)
# The installed name says what it belongs to; the build tree keeps
# make_test_call. install(TARGETS) keeps the strip step, so rename after it.
if(NOT WIN32)
  install(CODE "
    set(bin \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    file(RENAME \"\${bin}/make_test_call\" \"\${bin}/hearkener-test-call\")"
    COMPONENT hearkener-tools)
endif()
set(HEARKENER_MAN_PAGES hearkener)
set(HEARKENER_TOOLS_MAN_PAGES hearkener-test-call)
if(TARGET tapd-emu)
  install(TARGETS tapd-emu RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    COMPONENT hearkener-tools)
  list(APPEND HEARKENER_TOOLS_MAN_PAGES tapd-emu)
endif()
install(FILES ${CMAKE_SOURCE_DIR}/README.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT hearkener)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/defaults.ini
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples COMPONENT hearkener)
# The systemd template unit that follows one queue (hearkener@QUEUE) and
# its documented example settings. The unit names the program by the
# prefix of the install itself (/usr in the Debian package).
if(NOT WIN32)
  install(CODE "
    set(HEARKENER_UNIT_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    configure_file(\"${CMAKE_SOURCE_DIR}/packaging/hearkener@.service.in\"
      \"${CMAKE_BINARY_DIR}/packaging/hearkener@.service\" @ONLY)"
    COMPONENT hearkener)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/hearkener@.service
    DESTINATION lib/systemd/system COMPONENT hearkener)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/hearkener.conf
    DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples COMPONENT hearkener)
endif()

# The Debian maintainer, who signs the changelog and the packages.
set(HEARKENER_DEB_MAINTAINER
  "hearkener maintainers <hearkener@users.noreply.example.org>"
  CACHE STRING "The Maintainer field of the Debian packages: Name <address>")
set(HEARKENER_HOMEPAGE "" CACHE STRING
  "The Homepage field of the Debian packages (none when empty)")

# The manual pages, the changelog and the copyright file of each package,
# gzipped as Debian keeps them (-n: no name or time stamp inside, so a
# rebuild gives the same bytes). The Windows program has none.
if(NOT WIN32)
  find_program(HEARKENER_GZIP gzip REQUIRED)
  set(packed_files)
  # Gzips `source` into `packed` at build time.
  function(hearkener_gzip source packed)
    get_filename_component(folder ${packed} DIRECTORY)
    add_custom_command(OUTPUT ${packed}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
      COMMAND ${HEARKENER_GZIP} -9nc ${source} > ${packed}
      DEPENDS ${source} VERBATIM)
    set(packed_files ${packed_files} ${packed} PARENT_SCOPE)
  endfunction()
  configure_file(${CMAKE_SOURCE_DIR}/packaging/debian/changelog.in
    ${CMAKE_BINARY_DIR}/debian/changelog @ONLY)
  foreach(component hearkener hearkener-tools)
    if(component STREQUAL "hearkener")
      set(pages ${HEARKENER_MAN_PAGES})
    else()
      set(pages ${HEARKENER_TOOLS_MAN_PAGES})
    endif()
    foreach(page ${pages})
      hearkener_gzip(${CMAKE_SOURCE_DIR}/man/${page}.1
        ${CMAKE_BINARY_DIR}/man/${page}.1.gz)
      install(FILES ${CMAKE_BINARY_DIR}/man/${page}.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
    endforeach()
    hearkener_gzip(${CMAKE_BINARY_DIR}/debian/changelog
      ${CMAKE_BINARY_DIR}/debian/${component}/changelog.gz)
    install(FILES ${CMAKE_BINARY_DIR}/debian/${component}/changelog.gz
      ${CMAKE_SOURCE_DIR}/packaging/debian/copyright
      DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${component}
      COMPONENT ${component})
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${packed_files})
  # The pages render cleanly and keep up with the programs' options.
  if(TARGET hearkener_tests AND TARGET tapd-emu)
    add_test(NAME ManPages.RenderAndDescribeEveryOption
      COMMAND ${CMAKE_SOURCE_DIR}/tests/man_pages_check.sh
        ${CMAKE_SOURCE_DIR}/man $<TARGET_FILE:hearkener> $<TARGET_FILE:tapd-emu>)
    set_tests_properties(ManPages.RenderAndDescribeEveryOption PROPERTIES
      SKIP_RETURN_CODE 77)
  endif()
endif()

# What the packages hold, and nothing else: cmake --build --target
# package_contents, then cpack.
add_custom_target(package_contents)
add_dependencies(package_contents hearkener make_test_call)
if(TARGET tapd-emu)
  add_dependencies(package_contents tapd-emu)
endif()
if(TARGET man_pages)
  add_dependencies(package_contents man_pages)
endif()

# The data folder test checks the configuration folder against the prefix.
if(TARGET hearkener_tests)
  target_compile_definitions(hearkener_tests PRIVATE
    HEARKENER_TEST_INSTALL_PREFIX="${CMAKE_INSTALL_PREFIX}")
endif()

if(WIN32)
  return()
endif()

# The Debian packages, one per component. Their dependencies come from the
# build machine: dpkg-shlibdeps finds the packages of every library the
# installed programs link (libasound2, libc6, libstdc++6, and tapd-emu's
# codec libraries). hearkener itself loads the codec libraries by their
# runtime names only when a call needs them, which dpkg-shlibdeps cannot
# see; the package that holds each of those files here is named below, and
# cmake/deb_loaded_libraries.cmake adds the ones that no linked library
# brings already to the hearkener package.
#
# The maintainer: -DHEARKENER_DEB_MAINTAINER="Name <address>"; the
# homepage: -DHEARKENER_HOMEPAGE=https://...
set(CPACK_PACKAGE_NAME hearkener)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "hearkener developers")
set(CPACK_PACKAGE_CONTACT "${HEARKENER_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${HEARKENER_DEB_MAINTAINER}")
if(HEARKENER_HOMEPAGE)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${HEARKENER_HOMEPAGE}")
endif()
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL hearkener hearkener-tools)
set(CPACK_COMPONENTS_GROUPING IGNORE)
set(CPACK_DEBIAN_HEARKENER_PACKAGE_NAME hearkener)
set(CPACK_DEBIAN_HEARKENER-TOOLS_PACKAGE_NAME hearkener-tools)
set(CPACK_DEBIAN_HEARKENER_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_HEARKENER-TOOLS_PACKAGE_SECTION utils)
# The summary line and the long description of each package; CPack puts
# them together.
set(CPACK_COMPONENT_HEARKENER_DESCRIPTION
"listen to or record calls of the call-recording service tapd
hearkener receives the audio of a telephone call that the call-recording
service tapd captures (G.711 A-law or u-law, or a framed stream of GSM,
G.726, G.729A or G.722 payloads), or reads an A-law or u-law WAV file, and
plays it on the sound card or writes it to a two-channel A-law WAV file.")
set(CPACK_COMPONENT_HEARKENER-TOOLS_DESCRIPTION
"test tools for hearkener: recorder emulator and test-call maker
tapd-emu stands in for the call-recording service tapd: it serves WAV
files as live queues, in G.711 or as framed streams of GSM, G.726, G.729A
or G.722 payloads, or writes such a stream into a WAV file.
hearkener-test-call writes a short synthetic two-direction call as a G.711
WAV file, the example input of hearkener and tapd-emu.")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/")
# The installed program reads /etc/hearkener only when built for /usr.
set(CPACK_HEARKENER_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")

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

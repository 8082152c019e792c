# Libraries from Debian packages, found through pkg-config or find_library.
# Each subsystem that needs one adds it to its library here.

# ALSA (libasound): the wave-out backend of the sound device sink.
if(NOT WIN32)
  pkg_check_modules(ALSA REQUIRED IMPORTED_TARGET alsa)
  target_link_libraries(hearkener_sound PUBLIC PkgConfig::ALSA)
endif()

# The Windows program links the codec libraries statically, as
# scripts/build-windows-deps.sh cross-built them into the prefix
# HEARKENER_WINDOWS_DEPS (searched through the toolchain file's find root);
# their headers want BCG729_STATIC and LIBSPANDSP_EXPORTS in every consumer.
if(WIN32)
  if(NOT HEARKENER_WINDOWS_DEPS)
    message(FATAL_ERROR "set HEARKENER_WINDOWS_DEPS to the prefix that "
      "scripts/build-windows-deps.sh filled (scripts/build-windows.sh does)")
  endif()
  set(HEARKENER_CODEC_HEADERS gsm.h bcg729/decoder.h spandsp/g722.h
    libavcodec/avcodec.h)
  set(HEARKENER_CODEC_INCLUDE_DIRS)
  foreach(header ${HEARKENER_CODEC_HEADERS})
    string(MAKE_C_IDENTIFIER "HEARKENER_DIR_${header}" var)
    find_path(${var} ${header} REQUIRED)
    list(APPEND HEARKENER_CODEC_INCLUDE_DIRS ${${var}})
  endforeach()
  list(REMOVE_DUPLICATES HEARKENER_CODEC_INCLUDE_DIRS)
  set(HEARKENER_CODEC_STATIC_LIBRARIES)
  foreach(name gsm bcg729 spandsp avcodec avutil)
    find_library(HEARKENER_LIB_${name} NAMES lib${name}.a REQUIRED)
    list(APPEND HEARKENER_CODEC_STATIC_LIBRARIES ${HEARKENER_LIB_${name}})
  endforeach()
  add_library(hearkener_codec_libraries INTERFACE)
  target_include_directories(hearkener_codec_libraries INTERFACE
    ${HEARKENER_CODEC_INCLUDE_DIRS})
  target_compile_definitions(hearkener_codec_libraries INTERFACE
    BCG729_STATIC LIBSPANDSP_EXPORTS)
  # After the codecs: what libavcodec and libavutil use of the system.
  target_link_libraries(hearkener_codec_libraries INTERFACE
    ${HEARKENER_CODEC_STATIC_LIBRARIES} bcrypt ole32 user32 atomic)
  target_link_libraries(hearkener_codecs PUBLIC hearkener_codec_libraries)
  # No runtime names: the tests get the names the program reports.
  set(HEARKENER_SONAME_DEFINITIONS HEARKENER_SONAME_GSM="libgsm"
    HEARKENER_SONAME_BCG729="libbcg729" HEARKENER_SONAME_AVCODEC="libavcodec"
    HEARKENER_SONAME_AVUTIL="libavutil" HEARKENER_SONAME_SPANDSP="libspandsp")
  message(STATUS "codec libraries linked from ${HEARKENER_WINDOWS_DEPS}")
  return()
endif()

# The speech decoders of the media path (codecs/): spandsp (G.722), bcg729
# (G.729 Annex A), libavcodec and libavutil (G.726) and libgsm (GSM 06.10),
# which ships no pkg-config file.
pkg_check_modules(SPANDSP REQUIRED IMPORTED_TARGET spandsp)
pkg_check_modules(BCG729 REQUIRED IMPORTED_TARGET libbcg729)
pkg_check_modules(LIBAV REQUIRED IMPORTED_TARGET libavcodec libavutil)
find_path(GSM_INCLUDE_DIR gsm.h PATH_SUFFIXES gsm REQUIRED)
find_library(GSM_LIBRARY gsm REQUIRED)

# The program only compiles against the codec headers. By default it loads
# each library at run time, on the first decoder of its kind, by the runtime
# name (soname) of the library found here; HEARKENER_LINK_CODECS links them
# instead and serves the same requests from a table (as a static build must).
target_include_directories(hearkener_codecs PUBLIC ${GSM_INCLUDE_DIR}
  ${SPANDSP_INCLUDE_DIRS} ${BCG729_INCLUDE_DIRS} ${LIBAV_INCLUDE_DIRS})

# Every codec library, for targets that call them directly (the tests' and
# tools' encoders) or for a linked build.
add_library(hearkener_codec_libraries INTERFACE)
target_link_libraries(hearkener_codec_libraries INTERFACE PkgConfig::SPANDSP
  PkgConfig::BCG729 PkgConfig::LIBAV ${GSM_LIBRARY})

# The runtime name of the shared library `file`, read from its dynamic
# section.
function(hearkener_soname out file)
  get_filename_component(real "${file}" REALPATH)
  find_program(HEARKENER_READELF NAMES readelf ${CMAKE_READELF} REQUIRED)
  execute_process(COMMAND ${HEARKENER_READELF} -d "${real}"
    OUTPUT_VARIABLE dynamic RESULT_VARIABLE failed)
  string(REGEX MATCH "Library soname: \\[([^]]+)\\]" found "${dynamic}")
  if(failed OR NOT CMAKE_MATCH_1)
    message(FATAL_ERROR "no soname found in ${file}")
  endif()
  set(${out} "${CMAKE_MATCH_1}" PARENT_SCOPE)
endfunction()

# The full path of the library `name` among a pkg-config module's libraries.
function(hearkener_pick out name)
  foreach(file ${ARGN})
    get_filename_component(base "${file}" NAME)
    if(base MATCHES "^lib${name}\\.so")
      set(${out} "${file}" PARENT_SCOPE)
      return()
    endif()
  endforeach()
  message(FATAL_ERROR "lib${name} not among: ${ARGN}")
endfunction()

if(NOT WIN32)
  hearkener_pick(avcodec_file avcodec ${LIBAV_LINK_LIBRARIES})
  hearkener_pick(avutil_file avutil ${LIBAV_LINK_LIBRARIES})
  hearkener_pick(spandsp_file spandsp ${SPANDSP_LINK_LIBRARIES})
  hearkener_pick(bcg729_file bcg729 ${BCG729_LINK_LIBRARIES})
  hearkener_soname(HEARKENER_SONAME_GSM "${GSM_LIBRARY}")
  hearkener_soname(HEARKENER_SONAME_AVCODEC "${avcodec_file}")
  hearkener_soname(HEARKENER_SONAME_AVUTIL "${avutil_file}")
  hearkener_soname(HEARKENER_SONAME_SPANDSP "${spandsp_file}")
  hearkener_soname(HEARKENER_SONAME_BCG729 "${bcg729_file}")
  set(HEARKENER_SONAME_DEFINITIONS
    HEARKENER_SONAME_GSM="${HEARKENER_SONAME_GSM}"
    HEARKENER_SONAME_BCG729="${HEARKENER_SONAME_BCG729}"
    HEARKENER_SONAME_AVCODEC="${HEARKENER_SONAME_AVCODEC}"
    HEARKENER_SONAME_AVUTIL="${HEARKENER_SONAME_AVUTIL}"
    HEARKENER_SONAME_SPANDSP="${HEARKENER_SONAME_SPANDSP}")
endif()

if(HEARKENER_LINK_CODECS OR WIN32)
  target_link_libraries(hearkener_codecs PUBLIC hearkener_codec_libraries)
else()
  message(STATUS "codec libraries loaded on first use: ${HEARKENER_SONAME_GSM} "
    "${HEARKENER_SONAME_BCG729} ${HEARKENER_SONAME_AVCODEC} "
    "${HEARKENER_SONAME_AVUTIL} ${HEARKENER_SONAME_SPANDSP}")
  set_property(SOURCE ${CMAKE_SOURCE_DIR}/codecs/codec_library_posix.cpp
    TARGET_DIRECTORY hearkener_codecs APPEND PROPERTY COMPILE_DEFINITIONS
    ${HEARKENER_SONAME_DEFINITIONS})
  target_link_libraries(hearkener_codecs PUBLIC ${CMAKE_DL_LIBS})
endif()

# Libraries from Debian packages, found through pkg-config or find_library.
# Each subsystem that needs one adds it to hearkener_core here.

# ALSA (libasound): the wave-out backend of the sound device sink.
if(NOT WIN32)
  pkg_check_modules(ALSA REQUIRED IMPORTED_TARGET alsa)
  target_link_libraries(hearkener_core PUBLIC PkgConfig::ALSA)
endif()

# The speech decoders of the media path (codecs/): spandsp (G.722), bcg729
# (G.729 Annex A), libavcodec (G.726) and libgsm (GSM 06.10), which ships no
# pkg-config file.
pkg_check_modules(SPANDSP REQUIRED IMPORTED_TARGET spandsp)
pkg_check_modules(BCG729 REQUIRED IMPORTED_TARGET libbcg729)
pkg_check_modules(LIBAV REQUIRED IMPORTED_TARGET libavcodec libavutil)
find_path(GSM_INCLUDE_DIR gsm.h PATH_SUFFIXES gsm REQUIRED)
find_library(GSM_LIBRARY gsm REQUIRED)
target_include_directories(hearkener_core PUBLIC ${GSM_INCLUDE_DIR})
target_link_libraries(hearkener_core PUBLIC PkgConfig::SPANDSP
  PkgConfig::BCG729 PkgConfig::LIBAV ${GSM_LIBRARY})

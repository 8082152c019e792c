# Libraries from Debian packages, found through pkg-config or find_library.
# Each subsystem that needs one adds it to hearkener_core here.

# ALSA (libasound): the wave-out backend of the sound device sink.
if(NOT WIN32)
  pkg_check_modules(ALSA REQUIRED IMPORTED_TARGET alsa)
  target_link_libraries(hearkener_core PUBLIC PkgConfig::ALSA)
endif()

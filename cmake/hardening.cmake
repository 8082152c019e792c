# HEARKENER_HARDEN: the hardening flags of Debian's packages, for the build
# that makes packages (scripts/test-package.sh turns it on): fortified libc
# calls, stack protector, read-only relocations bound at start, and
# position-independent executables.
option(HEARKENER_HARDEN "Build with fortify, stack protector, relro/now and PIE" OFF)
if(HEARKENER_HARDEN AND NOT WIN32)
  if(HEARKENER_SANITIZE OR HEARKENER_TSAN OR HEARKENER_FUZZ)
    message(FATAL_ERROR "HEARKENER_HARDEN is for release builds, not sanitizers")
  endif()
  include(CheckPIESupported)
  check_pie_supported()
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  # _FORTIFY_SOURCE needs optimisation; Debug builds get a warning from libc.
  add_compile_options(-U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2
    -fstack-protector-strong -fstack-clash-protection -Wformat
    -Werror=format-security)
  add_link_options(-Wl,-z,relro,-z,now)
endif()

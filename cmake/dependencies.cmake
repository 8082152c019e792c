# Libraries from Debian packages, found through pkg-config or find_library.
# Each subsystem that needs one adds it to hearkener_core here.

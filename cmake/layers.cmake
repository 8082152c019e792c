# The layers: one library per folder, hearkener_<folder>, and the folders
# each may use, lowest first. A folder's product files include only its own
# headers and those of the folders named here (cmake/check_layers.cmake
# checks that on every build), and its library links only theirs.
set(HEARKENER_LAYERS core support codecs media net sound wav app)
set(HEARKENER_USES_core)
set(HEARKENER_USES_support)
set(HEARKENER_USES_codecs core support)
set(HEARKENER_USES_media core support codecs)
set(HEARKENER_USES_net core support codecs media)
set(HEARKENER_USES_sound core support codecs)
set(HEARKENER_USES_wav core support codecs media)
set(HEARKENER_USES_app core support codecs media net sound wav)

/* A shared library that stands where a codec library is looked for but
   holds none of its functions: loading succeeds, every look-up fails. */
int hearkener_codec_stand_in(void) { return 0; }

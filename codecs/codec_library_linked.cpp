// The linked form of the codec library loader: the libraries are part of
// the program, and every function an adapter may ask for is in this table.
// Nothing can be missing, so no request fails.
//
// spandsp's telephony.h defines lrint and lrintf as macros: it comes after
// every standard header.
#include <cstdint>
#include <cstring>

extern "C" {
#include <bcg729/decoder.h>
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
}
#include <gsm.h>

#include "codecs/codec_library.h"

#include <spandsp/telephony.h>
#include <spandsp/g722.h>

#undef lrint
#undef lrintf

namespace {

struct LinkedFunction {
  CodecLibrary library;
  const char* name;
  CodecFunction function;
};

template <typename Function>
CodecFunction asCodecFunction(Function function) {
  return reinterpret_cast<CodecFunction>(function);
}

#define HK_LINKED(library, name) \
  { CodecLibrary::library, #name, asCodecFunction(&::name) }

const LinkedFunction kLinked[] = {
    HK_LINKED(kGsm, gsm_create),
    HK_LINKED(kGsm, gsm_destroy),
    HK_LINKED(kGsm, gsm_decode),
    HK_LINKED(kBcg729, initBcg729DecoderChannel),
    HK_LINKED(kBcg729, closeBcg729DecoderChannel),
    HK_LINKED(kBcg729, bcg729Decoder),
    HK_LINKED(kSpandsp, g722_decode_init),
    HK_LINKED(kSpandsp, g722_decode),
    HK_LINKED(kSpandsp, g722_decode_release),
    HK_LINKED(kAvcodec, avcodec_find_decoder),
    HK_LINKED(kAvcodec, avcodec_alloc_context3),
    HK_LINKED(kAvcodec, avcodec_free_context),
    HK_LINKED(kAvcodec, avcodec_open2),
    HK_LINKED(kAvcodec, avcodec_send_packet),
    HK_LINKED(kAvcodec, avcodec_receive_frame),
    HK_LINKED(kAvcodec, av_packet_alloc),
    HK_LINKED(kAvcodec, av_packet_free),
    HK_LINKED(kAvutil, av_frame_alloc),
    HK_LINKED(kAvutil, av_frame_free),
    HK_LINKED(kAvutil, av_frame_unref),
    HK_LINKED(kAvutil, av_channel_layout_default),
    HK_LINKED(kAvutil, av_log_set_level),
};

#undef HK_LINKED

}  // namespace

const char* codecLibraryName(CodecLibrary library) {
  switch (library) {
    case CodecLibrary::kGsm:
      return "libgsm";
    case CodecLibrary::kBcg729:
      return "libbcg729";
    case CodecLibrary::kAvcodec:
      return "libavcodec";
    case CodecLibrary::kAvutil:
      return "libavutil";
    case CodecLibrary::kSpandsp:
      return "libspandsp";
  }
  return "?";
}

CodecFunction codecLibraryFunction(CodecLibrary library, const char* name) {
  for (const LinkedFunction& linked : kLinked) {
    if (linked.library == library && std::strcmp(linked.name, name) == 0) {
      return linked.function;
    }
  }
  return nullptr;
}

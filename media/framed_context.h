// FramedContext: the media decoder of the framed input modes. It pulls raw
// stream bytes from its owner through a callback, cuts them into checked
// frames, sends each frame to one of two call directions by bit 0 of its
// control byte, decodes the payload by its codec type into 8 kHz A-law per
// direction, and interleaves the two directions into the two-channel A-law
// currency, padding a silent direction with A-law silence.
//
// Apart from a G.726 decoder opened when a direction changes to a G.726 rate,
// nothing is allocated after creation.
//
// Every problem is reported, one line each, to the context's reporter: a
// dropped frame (bad check bytes, a short or long frame, a frame that could
// not be decoded) as kFrameDropped, anything else as kNotice.
//
// Thread-safety: none; a context is used by the one thread that reads the
// owning source.
#pragma once

#include <cstdint>

#include "core/input_mode.h"
#include "media/frame_parser.h"
#include "media/framed_channel.h"

// Bytes of the input ring.
constexpr int32_t kFramedInputRingSize = 1024;

// What an FramedPull returns when the input failed (any negative value counts
// as a failure).
constexpr int32_t kFramedPullFailed = -1;

// Supplies raw stream bytes: stores at most `length` bytes at `destination`
// and returns their number (at least 1), 0 at the orderly end of the input,
// or a negative value (kFramedPullFailed) when the input failed.
using FramedPull = int32_t (*)(void* userData, uint8_t* destination,
                               int32_t length);

// Results of framedContextRead. Sources translate them into their own codes in
// one place each.
enum class FramedResult : int32_t {
  kOk = 0,
  // Frames with an unsupported codec type were met; the audio is valid.
  kUndecodable = -3,
  // The pull callback failed; nothing was delivered.
  kPullFailed = -1,
};

struct FramedContext {
  FramedPull pull = nullptr;
  void* userData = nullptr;  // owned by the creator
  FrameInput input;
  FrameBuffer frame;
  FramedChannel channel[2];
  InputMode mode = InputMode::kFramedTyped;
  // Set once a frame with an unsupported codec type was met; reported again
  // by the read that ends the input.
  bool undecodableMet = false;
  Reporter* reporter = nullptr;  // null: the console
};

// Creates a context for `mode` (kFramed or kFramedTyped) that pulls through
// `pull` with `userData` and reports to `reporter` (null: the console).
// Returns nullptr after reporting why. The caller owns the result and
// releases it with framedContextDestroy.
// REQUIRES: pull is not null; userData and *reporter outlive the context.
[[nodiscard]] FramedContext* framedContextCreate(FramedPull pull,
                                                 void* userData, InputMode mode,
                                                 Reporter* reporter = nullptr);

// Delivers up to `capacity` bytes (a whole number of two-byte frames) of
// interleaved A-law into `buffer` and their number in *count. Results:
//   kOk, *count > 0: audio.
//   kUndecodable, *count > 0: audio; a frame of this call had an
//     unsupported codec type.
//   kOk or kUndecodable, *count == 0: the end of the input (the pull
//     callback returned 0); kUndecodable when any frame of the run had an
//     unsupported codec type. Before it, the reads deliver everything still
//     decoded, the shorter direction padded with A-law silence.
//   kPullFailed, *count == -1: the pull callback failed.
// The context stays usable after every result.
// REQUIRES: capacity >= 2.
[[nodiscard]] FramedResult framedContextRead(FramedContext* context,
                                             uint8_t* buffer, int32_t capacity,
                                             int32_t* count);

// Releases the decoders, the rings and the context. Does nothing for null.
void framedContextDestroy(FramedContext* context);

// The interleaving step of framedContextRead on its own: pads an idle
// direction with silence when the other runs ahead, then interleaves what
// both directions hold into `buffer`. Returns the bytes delivered.
[[nodiscard]] int32_t framedContextMix(FramedContext* context, uint8_t* buffer,
                                       int32_t capacity);

// True when framedContextRead would deliver audio without pulling: both
// directions hold decoded bytes, or one leads far enough to be padded. A
// source's readiness wait uses it, so decoded audio never waits for the
// next raw bytes to arrive.
bool framedContextPending(const FramedContext* context);

// Decodes the frame in context->frame. Returns the payload decoder's result
// (0 or 1), -1 for a frame without a complete header or a dropped payload,
// or kFramedUnsupported.
[[nodiscard]] int32_t framedContextDecodeFrame(FramedContext* context);

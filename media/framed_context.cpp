#include "media/framed_context.h"

#include <algorithm>
#include <new>

#include "codecs/g711.h"
#include "support/reporter.h"

namespace {

// A direction idle behind the other by more than this is padded with
// silence if its last unit was quiet; one whose last unit was not quiet is
// padded only when twice as far behind. Padding leaves it this far behind.
constexpr int32_t kPadLead = 400;

void releaseContext(FramedContext* context) {
  framedChannelRelease(&context->channel[0]);
  framedChannelRelease(&context->channel[1]);
  ringRelease(&context->input.ring);
  delete context;
}

}  // namespace

FramedContext* framedContextCreate(FramedPull pull, void* userData,
                                   InputMode mode, Reporter* reporter) {
  auto* context = new (std::nothrow) FramedContext;
  if (context == nullptr) {
    reportLine(reporter, ReportKind::kNotice,
               "could not allocate %d bytes memory for RTP context",
               static_cast<int32_t>(sizeof(FramedContext)));
    return nullptr;
  }
  context->reporter = reporter;
  context->input.reporter = reporter;
  context->channel[0].reporter = reporter;
  context->channel[1].reporter = reporter;
  if (!framedChannelInit(&context->channel[0]) ||
      !framedChannelInit(&context->channel[1])) {
    reportLine(reporter, ReportKind::kNotice, "could not initialize channel");
    releaseContext(context);
    return nullptr;
  }
  if (ringInit(&context->input.ring, kFramedInputRingSize) != 0) {
    reportLine(reporter, ReportKind::kNotice,
               "could not initialize ring buffer of size %d",
               kFramedInputRingSize);
    releaseContext(context);
    return nullptr;
  }
  context->pull = pull;
  context->userData = userData;
  context->mode = mode;
  context->frame.length = 0;
  context->input.state = kFrameHunt;
  return context;
}

void framedContextDestroy(FramedContext* context) {
  if (context != nullptr) releaseContext(context);
}

int32_t framedContextDecodeFrame(FramedContext* context) {
  const int32_t headerLength = context->mode == InputMode::kFramed ? 1 : 2;
  const FrameBuffer& frame = context->frame;
  if (frame.length < headerLength) {
    reportLine(context->reporter, ReportKind::kNotice, "missing control byte");
    return kFramedDropped;
  }
  const uint8_t control = frame.bytes[0];
  const int32_t codecType =
      context->mode == InputMode::kFramed ? control >> 2 : frame.bytes[1];
  const bool erasure = (control & 0x02) != 0;
  return framedChannelDecode(&context->channel[control & 0x01], codecType,
                             frame.bytes + headerLength,
                             frame.length - headerLength, erasure);
}

namespace {

// The silence the mixer must put into the emptier direction now (0: none),
// and that direction.
int32_t paddingDue(const FramedContext* context, int32_t* emptierIndex) {
  const int32_t a = ringFill(&context->channel[0].output);
  const int32_t b = ringFill(&context->channel[1].output);
  if (a != 0 && b != 0) return 0;
  const int32_t d = (a > b ? a - b : b - a) - kPadLead;
  if (d <= 0) return 0;
  *emptierIndex = b <= a ? 1 : 0;
  const FramedChannel& emptier = context->channel[*emptierIndex];
  return emptier.lastResult != 0 || d > kPadLead ? d : 0;
}

}  // namespace

bool framedContextPending(const FramedContext* context) {
  int32_t emptier = 0;
  return (ringFill(&context->channel[0].output) != 0 &&
          ringFill(&context->channel[1].output) != 0) ||
         paddingDue(context, &emptier) > 0;
}

int32_t framedContextMix(FramedContext* context, uint8_t* buffer,
                         int32_t capacity) {
  ByteRing* ring0 = &context->channel[0].output;
  ByteRing* ring1 = &context->channel[1].output;
  int32_t emptierIndex = 0;
  const int32_t padding = paddingDue(context, &emptierIndex);
  if (padding > 0) {
    // The emptier ring is empty and the other holds at most 3999 bytes, so
    // the padding always fits.
    FramedChannel* emptier = &context->channel[emptierIndex];
    for (int32_t i = 0; i < padding; ++i) {
      ringPutByte(&emptier->output, kAlawSilence);
    }
    emptier->lastResult = 1;
  }
  int32_t frames = capacity / 2;
  frames = std::min({frames, ringFill(ring0), ringFill(ring1)});
  for (int32_t i = 0; i < frames; ++i) {
    buffer[2 * i] = ringGetByte(ring0);
    buffer[2 * i + 1] = ringGetByte(ring1);
  }
  return 2 * frames;
}

namespace {

// At the end of the input: fills the shorter direction with silence up to
// the other, so that the mixer delivers everything decoded. The padding
// fits: the longer direction holds no more than a ring can.
void padToLonger(FramedContext* context) {
  const int32_t a = ringFill(&context->channel[0].output);
  const int32_t b = ringFill(&context->channel[1].output);
  ByteRing* shorter = &context->channel[a < b ? 0 : 1].output;
  for (int32_t i = a < b ? b - a : a - b; i > 0; --i) {
    ringPutByte(shorter, kAlawSilence);
  }
}

}  // namespace

FramedResult framedContextRead(FramedContext* context, uint8_t* buffer,
                               int32_t capacity, int32_t* count) {
  const int32_t skipCount = context->mode == InputMode::kFramed ? 1 : 0;
  bool undecodable = false;
  *count = framedContextMix(context, buffer, capacity);
  if (*count > 0) return FramedResult::kOk;
  for (;;) {
    while (parseFrame(&context->input, &context->frame, skipCount) == 0) {
      ByteRing* input = &context->input.ring;
      // parseFrame left the ring empty, so there is always space.
      const int32_t n = ringSpaceContiguous(input);
      const int32_t got =
          n > 0 ? context->pull(context->userData, input->write, n) : 0;
      if (got < 0) {
        *count = -1;
        return FramedResult::kPullFailed;
      }
      if (got == 0) {
        padToLonger(context);
        *count = framedContextMix(context, buffer, capacity);
        if (*count == 0) undecodable = context->undecodableMet;
        return undecodable ? FramedResult::kUndecodable : FramedResult::kOk;
      }
      // A faulty supplier must not move past the end.
      ringCommit(input, got < n ? got : n);
    }
    const int32_t result = framedContextDecodeFrame(context);
    if (result < 0) {
      reportLine(context->reporter, ReportKind::kFrameDropped,
                 "could not decode frame (ret=%d", result);
      if (result == kFramedUnsupported) {
        undecodable = true;
        context->undecodableMet = true;
      }
    }
    *count = framedContextMix(context, buffer, capacity);
    if (*count > 0) {
      return undecodable ? FramedResult::kUndecodable : FramedResult::kOk;
    }
  }
}

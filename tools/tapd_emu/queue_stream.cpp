#include "tools/tapd_emu/queue_stream.h"

#include <cstdlib>

#include "tools/tapd_emu/frame_writer.h"

namespace tapd_emu {

QueueStream::QueueStream(const QueueSetup& setup, const SourceAudio& audio,
                         bool loop)
    : setup_(setup), audio_(audio), loop_(loop) {}

std::string QueueStream::start() {
  if (setup_.encoding == WireEncoding::kAlaw ||
      setup_.encoding == WireEncoding::kUlaw) {
    return "";
  }
  for (int d = 0; d < 2; ++d) {
    std::string error;
    encoder_[d] = makePayloadEncoder(setup_.codec[d], &error);
    if (!encoder_[d]) return error;
  }
  return "";
}

void QueueStream::limitToCall(uint64_t startFrame, uint64_t frames) {
  const size_t total = audio_.frames();
  position_ = total > 0 ? static_cast<size_t>(startFrame % total) : 0;
  callFrames_ = frames;
  loop_ = true;
}

size_t QueueStream::takeFrames(size_t* indices) {
  const size_t total = audio_.frames();
  size_t count = 0;
  while (count < static_cast<size_t>(kFrameSamples) && total > 0 &&
         (callFrames_ == 0 || framesDone_ + count < callFrames_)) {
    if (position_ == total) {
      if (!loop_) break;
      position_ = 0;
    }
    indices[count++] = position_++;
  }
  framesDone_ += count;
  return count;
}

StreamStep QueueStream::next(std::vector<uint8_t>* out) {
  size_t indices[kFrameSamples];
  const size_t count = takeFrames(indices);
  if (count == 0) return StreamStep::kEnd;
  switch (setup_.encoding) {
    case WireEncoding::kAlaw:
    case WireEncoding::kUlaw: {
      const bool alaw = setup_.encoding == WireEncoding::kAlaw;
      for (size_t i = 0; i < count; ++i) {
        for (int c = 0; c < 2; ++c) {
          out->push_back(alaw ? audio_.alaw(indices[i], c)
                              : audio_.ulaw(indices[i], c));
        }
      }
      return StreamStep::kMore;
    }
    case WireEncoding::kFramed:
    case WireEncoding::kFramedControl:
      break;
  }
  return nextFramed(indices, count, out);
}

StreamStep QueueStream::nextFramed(const size_t* indices, size_t count,
                                   std::vector<uint8_t>* out) {
  const int mode = framedMode(setup_.encoding);
  if (!opened_) {
    out->push_back(kFrameFlag);
    opened_ = true;
  }
  for (int d = 0; d < 2; ++d) {
    int16_t samples[kFrameSamples] = {};
    bool quiet = true;
    for (size_t i = 0; i < count; ++i) {
      samples[i] = audio_.linear(indices[i], d);
      quiet = quiet && std::abs(samples[i]) <= kSilenceLevel;
    }
    payload_.clear();
    uint8_t type = static_cast<uint8_t>(setup_.codec[d]);
    if (quiet) {
      type = kSilenceCodecType;
      payload_.push_back(kFrameSamples / 8);  // 1-ms units
    } else {
      if (silent_[d] && !encoder_[d]->resumeAfterSilence()) {
        return StreamStep::kFailed;
      }
      if (!encoder_[d]->encode(samples, &payload_)) return StreamStep::kFailed;
    }
    silent_[d] = quiet;
    appendFrame(out, mode, d, type, payload_.data(), payload_.size());
  }
  return StreamStep::kMore;
}

}  // namespace tapd_emu

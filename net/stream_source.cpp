#include "net/stream_source.h"

#include "support/debug_trace.h"

// This build has no network input yet: opening fails, which the caller
// reports as an audio stream that could not be opened.
AudioSource* openStreamSource(const char* host, int32_t port,
                              const char* /*queueName*/, int32_t /*inputMode*/,
                              const std::atomic<int32_t>* /*stopFlag*/) {
  debugTrace("network input not available (%s:%d)\n", host ? host : "", port);
  return nullptr;
}

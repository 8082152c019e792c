#include "net/queue_exchange.h"

#include <cstring>

#include "support/debug_trace.h"

namespace {

constexpr int32_t kQueueListEndLength =
    static_cast<int32_t>(sizeof(kQueueListEnd) - 1);

bool stopSet(const std::atomic<int32_t>* stop) {
  return stop != nullptr && stop->load() != 0;
}

}  // namespace

Result queueListRead(NetSocket* connection, QueueListPiece onPiece,
                     void* context, const std::atomic<int32_t>* stop) {
  debugTrace("entering read loop for queue list...\n");
  char line[kQueueLineBuffer];
  // A piece that does not end in a line feed is continued by the next one;
  // only a piece that starts a line can be the end marker.
  bool atLineStart = true;
  for (;;) {
    if (stopSet(stop)) {
      debugTrace("stop requested, leaving read loop...\n");
      return kResultNetwork;
    }
    const int32_t length = netReadLine(line, kQueueLineBuffer, connection);
    if (length == kNetStopped) {
      debugTrace("stop requested, leaving read loop...\n");
      return kResultNetwork;
    }
    if (length < 0 || length == kNetLineClosed) {
      debugTrace("remote disconnect\n");
      return kResultNetwork;
    }
    if (atLineStart && length == kQueueListEndLength &&
        std::memcmp(line, kQueueListEnd, kQueueListEndLength) == 0) {
      return kResultOk;
    }
    if (onPiece != nullptr) onPiece(context, line, length, atLineStart);
    atLineStart = length > 0 && line[length - 1] == '\n';
  }
}

Result queueExchange(NetSocket* connection, const char* queueName,
                     const std::atomic<int32_t>* stop) {
  const Result listed = queueListRead(connection, nullptr, nullptr, stop);
  if (listed != kResultOk) return listed;
  debugTrace("sending queue name %s...\n", queueName);
  const size_t nameLength = std::strlen(queueName);
  // A name longer than one send allows is cut; the command line cannot
  // produce one.
  const int32_t sendLength =
      nameLength > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int32_t>(nameLength);
  // The service that vanished right after its list would leave an empty
  // recording behind a successful run; a failed send ends the exchange.
  if (netSend(connection, reinterpret_cast<const uint8_t*>(queueName),
              sendLength) != sendLength ||
      netSend(connection, reinterpret_cast<const uint8_t*>("\r\n"), 2) != 2) {
    debugTrace("could not send queue name\n");
    return kResultNetwork;
  }
  if (stopSet(stop)) {
    debugTrace("stop requested, leaving read loop...\n");
    return kResultNetwork;
  }
  return kResultOk;
}

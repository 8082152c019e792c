#include "net/queue_exchange.h"

#include <algorithm>
#include <cstring>

#include "support/debug_trace.h"

namespace {

constexpr int32_t kQueueListEndLength =
    static_cast<int32_t>(sizeof(kQueueListEnd) - 1);

bool stopSet(const std::atomic<int32_t>* stop) {
  return stop != nullptr && stop->load() != 0;
}

NetStatus listFailure(NetError error) {
  NetStatus status = netStatusOf(error);
  status.phase = NetPhase::kListing;
  return status;
}

// Collects the offered names from the pieces of the list.
struct NameCollector {
  std::vector<std::string>* names;
  bool collecting = false;  // the current line is being kept
};

void collectName(void* context, const char* piece, int32_t length,
                 bool atLineStart) {
  auto* collector = static_cast<NameCollector*>(context);
  std::vector<std::string>* names = collector->names;
  size_t text = static_cast<size_t>(length);
  while (text > 0 && (piece[text - 1] == '\n' || piece[text - 1] == '\r')) {
    --text;
  }
  if (atLineStart) {
    collector->collecting = text > 0 && names->size() < kQueueOfferedNames;
    if (collector->collecting) names->emplace_back();
  }
  if (!collector->collecting) return;
  std::string& name = names->back();
  if (name.size() < kQueueOfferedName) {
    name.append(piece, std::min(text, kQueueOfferedName - name.size()));
  }
}

}  // namespace

NetStatus queueListRead(NetSocket* connection, QueueListPiece onPiece,
                        void* context, const std::atomic<int32_t>* stop) {
  debugTrace("entering read loop for queue list...\n");
  char line[kQueueLineBuffer];
  // A piece that does not end in a line feed is continued by the next one;
  // only a piece that starts a line can be the end marker.
  bool atLineStart = true;
  for (;;) {
    if (stopSet(stop)) {
      debugTrace("stop requested, leaving read loop...\n");
      return listFailure(NetError::kStopped);
    }
    const int32_t length = netReadLine(line, kQueueLineBuffer, connection);
    if (length == kNetStopped) {
      debugTrace("stop requested, leaving read loop...\n");
      return listFailure(NetError::kStopped);
    }
    if (length == kNetLineClosed) {
      debugTrace("remote disconnect\n");
      return listFailure(NetError::kClosed);
    }
    if (length < 0) {
      debugTrace("remote disconnect\n");
      NetStatus status = netSocketStatus(connection);
      if (!status.failed()) status.error = NetError::kClosed;
      status.phase = NetPhase::kListing;
      return status;
    }
    if (atLineStart && length == kQueueListEndLength &&
        std::memcmp(line, kQueueListEnd, kQueueListEndLength) == 0) {
      return NetStatus{};
    }
    if (onPiece != nullptr) onPiece(context, line, length, atLineStart);
    atLineStart = length > 0 && line[length - 1] == '\n';
  }
}

NetStatus queueExchange(NetSocket* connection, const char* queueName,
                        const std::atomic<int32_t>* stop,
                        std::vector<std::string>* offered) {
  if (offered != nullptr) offered->clear();
  NameCollector collector{offered};
  const NetStatus listed =
      queueListRead(connection, offered != nullptr ? collectName : nullptr,
                    &collector, stop);
  if (listed.failed()) return listed;
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
    NetStatus status = netSocketStatus(connection);
    if (!status.failed()) status.error = NetError::kClosed;
    status.phase = NetPhase::kSendingName;
    return status;
  }
  if (stopSet(stop)) {
    debugTrace("stop requested, leaving read loop...\n");
    return netStatusOf(NetError::kStopped);
  }
  return NetStatus{};
}

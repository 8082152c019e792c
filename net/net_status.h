// NetError: why a network operation failed, one value per reason the net
// layer tells apart, with one text table. The words are those of the C
// library's error texts on Linux, on every platform, so the operator reads
// the same reason everywhere. A system error without a value of its own
// travels as kSystem with the system's text.
//
// NetStatus carries the reason up; netFailureOf turns it into the
// "OBJECT: REASON" pair that app/ prints.
#pragma once

#include <cstdint>
#include <string>

#include "support/failure.h"

enum class NetError {
  kNone,
  kNoHost,           // no host given
  kBadPort,          // a port outside 1..65535
  kUnknownHost,      // the name is not known to the resolver
  kNameTryAgain,     // the resolver could not answer now
  kNoAddress,        // the name has no address
  kRefused,
  kTimedOut,
  kHostUnreachable,
  kNetUnreachable,
  kReset,
  kAborted,
  kBrokenPipe,
  kUrgent,           // urgent (out-of-band) data arrived
  kClosed,           // the service closed the connection
  kStopped,          // the operator's stop ended the operation
  kSystem,           // another system error; its text is in NetStatus
};

// What the operation was doing when it failed; names the phase in the
// reason where the object alone would not.
enum class NetPhase {
  kConnecting,
  kListing,      // the service was sending its queue list
  kSendingName,  // the queue name was being sent
  kStreaming,    // audio was being received
};

struct NetStatus {
  NetError error = NetError::kNone;
  NetPhase phase = NetPhase::kConnecting;
  std::string systemText;  // kSystem only

  bool failed() const { return error != NetError::kNone; }
};

inline NetStatus netStatusOf(NetError error) {
  NetStatus status;
  status.error = error;
  return status;
}

// The reason's words for `error` ("Connection refused"); "" for kNone and
// kSystem.
const char* netErrorText(NetError error);

// The reason of `status` with its phase: "Connection refused", "the service
// closed the connection while sending the queue list", ...
std::string netStatusReason(const NetStatus& status);

// The failure as printed by app/: object "HOST port PORT" ("HOST" alone for
// a name the resolver does not know and for a port out of range, whose
// reason is "port PORT is out of range (1-65535)"), reason netStatusReason. Empty for a
// status that did not fail or was stopped by the operator.
Failure netFailureOf(const NetStatus& status, const char* host, int32_t port);

// Sets *status (may be null) to `error` in `phase` unless it already holds
// a failure: the first reason met is the one reported.
void netStatusSet(NetStatus* status, NetError error, NetPhase phase,
                  const std::string& systemText = std::string());

#include "net/net_status.h"

namespace {

struct ErrorText {
  NetError error;
  const char* text;
};

constexpr ErrorText kErrorTexts[] = {
    {NetError::kNone, ""},
    {NetError::kNoHost, "no host given"},
    {NetError::kBadPort, "port out of range (1-65535)"},
    {NetError::kUnknownHost, "Name or service not known"},
    {NetError::kNameTryAgain, "Temporary failure in name resolution"},
    {NetError::kNoAddress, "No address associated with hostname"},
    {NetError::kRefused, "Connection refused"},
    {NetError::kTimedOut, "Connection timed out"},
    {NetError::kHostUnreachable, "No route to host"},
    {NetError::kNetUnreachable, "Network is unreachable"},
    {NetError::kReset, "Connection reset by peer"},
    {NetError::kAborted, "Software caused connection abort"},
    {NetError::kBrokenPipe, "Broken pipe"},
    {NetError::kUrgent, "urgent data received"},
    {NetError::kClosed, "the service closed the connection"},
    {NetError::kStopped, "stopped"},
    {NetError::kSystem, ""},
};

const char* phaseSuffix(NetPhase phase) {
  switch (phase) {
    case NetPhase::kListing:
      return " while sending the queue list";
    case NetPhase::kSendingName:
      return " while the queue name was sent";
    case NetPhase::kConnecting:
    case NetPhase::kStreaming:
      break;
  }
  return "";
}

bool isNameError(NetError error) {
  return error == NetError::kUnknownHost || error == NetError::kNameTryAgain ||
         error == NetError::kNoAddress;
}

}  // namespace

const char* netErrorText(NetError error) {
  for (const ErrorText& entry : kErrorTexts) {
    if (entry.error == error) return entry.text;
  }
  return "";
}

std::string netStatusReason(const NetStatus& status) {
  std::string reason = status.error == NetError::kSystem
                           ? status.systemText
                           : std::string(netErrorText(status.error));
  return reason + phaseSuffix(status.phase);
}

Failure netFailureOf(const NetStatus& status, const char* host, int32_t port) {
  if (!status.failed() || status.error == NetError::kStopped) return {};
  std::string object = host != nullptr ? host : "(no host)";
  if (status.error == NetError::kBadPort) {
    return Failure{object, "port " + std::to_string(port) +
                               " is out of range (1-65535)"};
  }
  if (!isNameError(status.error)) object += " port " + std::to_string(port);
  return Failure{object, netStatusReason(status)};
}

void netStatusSet(NetStatus* status, NetError error, NetPhase phase,
                  const std::string& systemText) {
  if (status == nullptr || status->failed()) return;
  status->error = error;
  status->phase = phase;
  status->systemText = systemText;
}

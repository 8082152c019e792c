// NetSocket: creating, binding and connecting (netCreate4, netCreate6,
// netConnect) over the system calls of net/socket_platform.h.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include "net/name_lookup.h"
#include "net/socket.h"
#include "net/socket_internal.h"
#include "net/socket_platform.h"
#include "support/debug_trace.h"

namespace {

NetStatus statusOfLookup(const NetLookupOutcome& found) {
  if (found.code == kNetOsCodes.resolverSystem) {
    return netStatusOfError(found.systemError);
  }
  return netStatusOfCode(found.code, netOsResolverText);
}

std::string lookupText(const NetLookupOutcome& found) {
  return found.code == kNetOsCodes.resolverSystem
             ? netOsErrorText(found.systemError)
             : netOsResolverText(found.code);
}

// Connects without blocking beyond what the stop flag allows. Returns true
// when connected, else false with *status telling why.
bool connectWatchingStop(NetSocket* socket, NetStatus* status) {
  if (!netOsConnectMode(socket->os, true)) {
    *status = netStatusOfError(netOsLastError());
    return false;
  }
  int error = netOsStartConnect(socket->os, socket->peer);
  bool connected = error == 0;
  // An interrupted connect goes on in the background, like one in progress.
  if (!connected && netOsErrorClass(error) != NetErrorClass::kFailed) {
    NetWaitFor request;
    request.wanted = kNetWritable | kNetExceptional;
    request.watchStop = socket->stop != nullptr;
    unsigned found = 0;
    const NetWait ready = netSocketWait(socket, request, &found);
    if (ready == NetWait::kReady) {
      error = netOsConnectError(socket->os, found);
      connected = error == 0;
    } else if (ready == NetWait::kStopped) {
      status->error = NetError::kStopped;
    } else if (ready == NetWait::kFailed) {
      *status = socket->failure;
    } else {
      error = netOsLastError();
    }
  }
  if (!connected && !status->failed()) *status = netStatusOfError(error);
  // The connection is used in the socket's usual mode from here on.
  if (!netOsConnectMode(socket->os, false)) {
    if (connected) *status = netStatusOfError(netOsLastError());
    return false;
  }
  return connected;
}

// The last step of both connect paths: connect to the stored peer. Releases
// the socket on failure.
NetSocket* finishConnect(NetSocket* socket, NetStatus* status) {
  if (!connectWatchingStop(socket, status)) {
    netDestroy(socket);
    return nullptr;
  }
  return socket;
}

NetSocket* createBound(NetFamily family, Reporter* reporter) {
  NetSocket* socket = netNewSocket();
  if (socket == nullptr) return nullptr;
  socket->reporter = reporter;
  socket->os = netOsOpen(family);
  if (socket->os == nullptr) {
    netDestroy(socket);
    return nullptr;
  }
  if (!netOsSetOptions(socket->os, family)) {
    const int error = netOsLastError();
    reportLine(reporter, ReportKind::kNotice, "setsockopt failed, error=%d",
               error);
    netDestroy(socket);
    return nullptr;
  }
  if (!netOsBindAny(socket->os, family)) {
    const int error = netOsLastError();
    reportLine(reporter, ReportKind::kNotice, "bind failed with %d", error);
    netDestroy(socket);
    return nullptr;
  }
  return socket;
}

// The resolver path: an IPv6 look-up in which IPv4 names and literals come
// back as IPv4-mapped addresses, a dual-stack socket, the first address.
NetSocket* connectResolved(const char* host, int32_t port,
                           const std::atomic<int32_t>* stop, Reporter* reporter,
                           NetStatus* status) {
  NetSocket* socket = netCreate6(reporter);
  if (socket == nullptr) socket = netCreate4(reporter);
  if (socket == nullptr) return nullptr;
  socket->stop = stop;
  char service[16];
  std::snprintf(service, sizeof(service), "%d", port);
  const NetLookupOutcome found =
      netLookUp(host, service, NetFamily::kIpv6, stop);
  if (found.stopped) {
    status->error = NetError::kStopped;
    netDestroy(socket);
    return nullptr;
  }
  if (found.code != 0) {
    netDestroy(socket);
    reportLine(reporter, ReportKind::kNotice, "error %d: %s", found.code,
               lookupText(found).c_str());
    *status = statusOfLookup(found);
    return nullptr;
  }
  socket->peer = found.first;
  return finishConnect(socket, status);
}

// The IPv4 path: an IPv4 look-up and its first address; fails silently.
NetSocket* connectIpv4(const char* host, int32_t port,
                       const std::atomic<int32_t>* stop, Reporter* reporter,
                       NetStatus* status) {
  NetSocket* socket = netCreate4(reporter);
  if (socket == nullptr) return nullptr;
  socket->stop = stop;
  const NetLookupOutcome found =
      netLookUp(host, nullptr, NetFamily::kIpv4, stop);
  if (found.stopped || found.code != 0) {
    *status =
        found.stopped ? netStatusOf(NetError::kStopped) : statusOfLookup(found);
    netDestroy(socket);
    return nullptr;
  }
  socket->peer = found.first;
  netOsSetPort(&socket->peer, port);
  return finishConnect(socket, status);
}

}  // namespace

void netAddressCopy(NetAddress* to, const void* address, size_t length) {
  if (length > sizeof(to->bytes)) length = sizeof(to->bytes);
  std::memcpy(to->bytes, address, length);
  to->length = static_cast<int32_t>(length);
}

NetSocket* netCreate4(Reporter* reporter) {
  return createBound(NetFamily::kIpv4, reporter);
}

NetSocket* netCreate6(Reporter* reporter) {
  return createBound(NetFamily::kIpv6, reporter);
}

NetSocket* netConnect(const char* host, int32_t port,
                      const std::atomic<int32_t>* stop, Reporter* reporter,
                      NetStatus* status) {
  NetStatus ignored;
  if (status == nullptr) status = &ignored;
  *status = NetStatus{};
  if (host == nullptr || port < 1 || port > 65535) {
    debugTrace("no connection to %s:%d: invalid host or port\n",
               host != nullptr ? host : "(none)", port);
    status->error = host == nullptr ? NetError::kNoHost : NetError::kBadPort;
    return nullptr;
  }
  NetSocket* socket = connectResolved(host, port, stop, reporter, status);
  if (socket != nullptr) return socket;
  if (stop != nullptr && stop->load() != 0) {
    *status = netStatusOf(NetError::kStopped);
    return nullptr;
  }
  NetStatus second;
  socket = connectIpv4(host, port, stop, reporter, &second);
  if (socket != nullptr) {
    *status = NetStatus{};
  } else if (!status->failed()) {
    *status = second;
    if (!status->failed()) {
      *status = NetStatus{NetError::kSystem, NetPhase::kConnecting,
                          "no socket could be created"};
    }
  }
  return socket;
}

// Fuzzes the line reader and the queue exchange over a socketpair, with the
// service's bytes cut into segments that the fuzzer chooses. Each segment is
// delivered only after the client has taken the previous one, so the client
// sees exactly those boundaries.
//
// Input: byte 0 picks the test (even: the queue exchange; odd: netReadLine
// in a loop), byte 1 the line buffer size (2 to 257), then segments, each
// a length byte followed by that many bytes (fewer at the end of the input).
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "net/queue_exchange.h"
#include "net/socket.h"
#include "net/socket_posix.h"

namespace {

using Clock = std::chrono::steady_clock;

void check(bool condition) {
  if (!condition) std::abort();
}

// Writes each segment, waiting (bounded) until the client has taken the
// previous one; then ends the stream.
void serve(int service, int client, const std::vector<std::string>& segments,
           const std::atomic<bool>& clientDone) {
  for (const std::string& segment : segments) {
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(500);
    int queued = 1;
    while (!clientDone.load() && Clock::now() < deadline &&
           ioctl(client, FIONREAD, &queued) == 0 && queued > 0) {
      std::this_thread::yield();
    }
    if (clientDone.load()) break;
    if (send(service, segment.data(), segment.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(segment.size())) {
      break;
    }
  }
  shutdown(service, SHUT_WR);
}

std::string receiveRest(NetSocket* socket) {
  std::string rest;
  uint8_t buffer[512];
  int32_t got = 0;
  while ((got = netReceive(socket, buffer, sizeof(buffer))) > 0) {
    rest.append(reinterpret_cast<const char*>(buffer),
                static_cast<size_t>(got));
  }
  check(got == 0);
  return rest;
}

// Where the audio starts after the first whole line "[End]\r\n", or npos.
size_t audioStart(const std::string& stream) {
  for (size_t start = 0; start < stream.size();) {
    if (stream.compare(start, 7, kQueueListEnd) == 0) return start + 7;
    const size_t feed = stream.find('\n', start);
    if (feed == std::string::npos) break;
    start = feed + 1;
  }
  return std::string::npos;
}

void exerciseReadLine(NetSocket* socket, int32_t size,
                      const std::string& stream) {
  std::vector<char> buffer(static_cast<size_t>(size) + 1);
  std::string joined;
  for (size_t calls = 0; calls <= stream.size() + 1; ++calls) {
    buffer[static_cast<size_t>(size)] = '#';
    const int32_t length = netReadLine(buffer.data(), size, socket);
    check(buffer[static_cast<size_t>(size)] == '#');
    if (length == kNetLineClosed) break;
    check(length > 0 && length < size);
    check(buffer[static_cast<size_t>(length)] == '\0');
    const std::string piece(buffer.data(), static_cast<size_t>(length));
    // A piece ends at a line feed, fills the buffer, or ends the stream.
    check(piece.find('\n') == std::string::npos ||
          piece.find('\n') == piece.size() - 1);
    check(piece.back() == '\n' || length == size - 1 ||
          joined.size() + piece.size() == stream.size());
    joined += piece;
  }
  check(joined == stream);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const bool lineMode = (data[0] & 1) != 0;
  const int32_t lineBuffer = 2 + data[1];
  std::vector<std::string> segments;
  std::string stream;
  for (size_t at = 2; at < size;) {
    const size_t length = std::min<size_t>(data[at], size - at - 1);
    segments.emplace_back(reinterpret_cast<const char*>(data + at + 1), length);
    stream += segments.back();
    at += 1 + length;
  }

  int ends[2] = {-1, -1};
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return 0;
  const int clientEnd = ends[0];
  const int service = ends[1];
  std::atomic<int32_t> stop{0};
  NetSocket* socket = netAdoptDescriptor(clientEnd, &stop);
  check(socket != nullptr);
  std::atomic<bool> clientDone{false};
  std::thread server(serve, service, clientEnd, std::cref(segments),
                     std::cref(clientDone));
  bool exchanged = true;
  std::string audio;
  if (lineMode) {
    exerciseReadLine(socket, lineBuffer, stream);
  } else {
    exchanged = !queueExchange(socket, "sales", &stop).failed();
    if (exchanged) audio = receiveRest(socket);
  }
  clientDone.store(true);
  server.join();
  if (!lineMode) {
    std::string sent;
    char buffer[64];
    ssize_t got = 0;
    while ((got = recv(service, buffer, sizeof(buffer), MSG_DONTWAIT)) > 0) {
      sent.append(buffer, static_cast<size_t>(got));
    }
    const size_t start = audioStart(stream);
    if (exchanged) {
      check(start != std::string::npos);
      check(sent == "sales\r\n");
      check(audio == stream.substr(start));
    } else {
      check(!exchanged && start == std::string::npos);
      check(sent.empty());
    }
  }
  netDestroy(socket);
  ::close(service);
  return 0;
}

// End-to-end tests of --follow: the program records call after call of a
// queue from a service on a fixed port that goes away and comes back, and a
// stop ends it promptly in every state.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e_wav.h"
#include "tests/loopback_server.h"
#include "tests/run_program.h"
#include "tests/test_files.h"

namespace {

using e2e::Bytes;
using run_program::RunOptions;
using run_program::RunResult;
using test_files::TempDir;

constexpr double kPromptMs = 1000;
const std::string kList = "sales\r\n[End]\r\n";

// A listener on 127.0.0.1 at `port` (0: any), or -1.
int listenAt(int* port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(*port));
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(fd, 8) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(fd);
    return -1;
  }
  *port = ntohs(address.sin_port);
  return fd;
}

// Accepts within 10 s; -1 otherwise.
int acceptOne(int listener) {
  pollfd entry{listener, POLLIN, 0};
  if (poll(&entry, 1, 10000) != 1) return -1;
  return accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}

// Serves one call: the list, the client's name line, the audio, a close.
bool serveCall(int listener, const Bytes& audio) {
  const int fd = acceptOne(listener);
  if (fd < 0) return false;
  bool ok = send(fd, kList.data(), kList.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(kList.size());
  char name[7];
  ok = ok && recv(fd, name, sizeof name, MSG_WAITALL) == 7;
  ok = ok && send(fd, audio.data(), audio.size(), MSG_NOSIGNAL) ==
                 static_cast<ssize_t>(audio.size());
  close(fd);
  return ok;
}

std::vector<std::string> followArgs(int port, const std::string& pattern) {
  return {"-h", "127.0.0.1", "-p", std::to_string(port), "-q", "sales",
          "--follow", "--record", pattern, "--split", "1"};
}

size_t count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos;
       at = text.find(part, at + 1)) {
    ++n;
  }
  return n;
}

// Three calls, the service gone between the second and the third, a split
// after each second of audio: the recordings hold each call's bytes in
// order, each exactly once.
TEST(Follow, RecordsCallAfterCallAcrossAnUnreachableService) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::vector<Bytes> calls = {e2e::patternBytes(40000, 1),
                                    e2e::patternBytes(10001, 2),
                                    e2e::patternBytes(20000, 3)};
  int port = 0;
  int listener = listenAt(&port);
  ASSERT_GE(listener, 0);
  bool served = true;
  std::atomic<bool> waitingForNext{false};
  std::atomic<bool> done{false};
  std::thread service([&] {
    served = serveCall(listener, calls[0]) && serveCall(listener, calls[1]);
    close(listener);  // refused for a while
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    int again = port;
    listener = listenAt(&again);
    served = served && listener >= 0 && serveCall(listener, calls[2]);
    // The program is back for the next call: every recording is done.
    const int next = served ? acceptOne(listener) : -1;
    waitingForNext = true;
    while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (next >= 0) close(next);
  });
  RunOptions options;
  options.signal = SIGTERM;
  options.signalWhen = [&] { return waitingForNext.load(); };
  options.signalDelayMs = 0;
  options.timeoutMs = 30000;
  const RunResult run =
      e2e::runHearkener(followArgs(port, dir.file("rec/%q-%n.wav")), options);
  done = true;
  service.join();
  if (listener >= 0) close(listener);
  ASSERT_TRUE(served);
  ASSERT_TRUE(run.exited);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(count(run.err, "receiving queue sales\n"), 2u) << run.err;
  EXPECT_EQ(count(run.err, "Connection refused; retrying in 1 s\n"), 1u)
      << run.err;
  // 16000 + 16000 + 8000, 10001, 16000 + 4000 bytes.
  std::vector<Bytes> expected;
  for (const Bytes& call : calls) {
    for (size_t at = 0; at < call.size(); at += 16000) {
      expected.emplace_back(call.begin() + at,
                            call.begin() + std::min(call.size(), at + 16000));
    }
  }
  for (size_t i = 0; i < expected.size(); ++i) {
    const std::string file =
        dir.file("rec/sales-" + std::to_string(i + 1) + ".wav");
    EXPECT_EQ(e2e::difference(test_files::readFile(file),
                              e2e::recordingOf(expected[i])),
              "")
        << file;
  }
  EXPECT_EQ(e2e::fileSize(dir.file("rec/sales-7.wav")), -1);
}

// A stop ends the run within a second with 0, whatever it is doing, and
// the recording under way is finished.
struct StopCase {
  const char* state;
  // Plays the service at the given listener until `done` is set.
  std::function<void(int listener, const std::atomic<bool>& done)> service;
  bool recording;  // a recording is under way at the stop
};

TEST(Follow, StopEndsTheRunPromptlyInEveryState) {
  const Bytes audio = e2e::patternBytes(8000, 4);
  const StopCase cases[] = {
      // Refused: the run is in its retry delay.
      {"retry delay", nullptr, false},
      {"connecting", [](int, const std::atomic<bool>&) {}, false},
      {"waiting for a call",
       [](int listener, const std::atomic<bool>& done) {
         const int fd = acceptOne(listener);
         send(fd, kList.data(), kList.size(), MSG_NOSIGNAL);
         while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(5));
         close(fd);
       },
       false},
      {"receiving",
       [&audio](int listener, const std::atomic<bool>& done) {
         const int fd = acceptOne(listener);
         send(fd, kList.data(), kList.size(), MSG_NOSIGNAL);
         send(fd, audio.data(), audio.size(), MSG_NOSIGNAL);
         while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(5));
         close(fd);
       },
       true},
  };
  for (const StopCase& c : cases) {
    SCOPED_TRACE(c.state);
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    int port = 0;
    int listener = -1;
    std::unique_ptr<loopback::UnansweredListener> unanswered;
    if (c.service == nullptr) {
      port = loopback::UnansweredListener().port();  // free again
    } else if (std::string(c.state) == "connecting") {
      unanswered = std::make_unique<loopback::UnansweredListener>();
      if (!unanswered->ready()) continue;
      port = unanswered->port();
    } else {
      listener = listenAt(&port);
      ASSERT_GE(listener, 0);
    }
    std::atomic<bool> done{false};
    std::thread service([&] {
      if (listener >= 0) c.service(listener, done);
    });
    const std::string file = dir.file("sales-1.wav");
    RunOptions options;
    options.signal = SIGTERM;
    options.signalDelayMs = 400;
    options.timeoutMs = 20000;
    const RunResult run =
        e2e::runHearkener(followArgs(port, dir.file("%q-%n.wav")), options);
    done = true;
    service.join();
    if (listener >= 0) close(listener);
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_LT(run.endedMs - run.signalSentMs, kPromptMs);
    if (c.recording) {
      EXPECT_EQ(e2e::difference(test_files::readFile(file),
                                e2e::recordingOf(audio)),
                "");
    } else {
      EXPECT_EQ(e2e::fileSize(file), -1);
    }
  }
}

}  // namespace

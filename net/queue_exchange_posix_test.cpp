#include "net/queue_exchange.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "net/socket.h"
#include "net/socket_posix.h"
#include "tests/test_clock.h"

namespace {

using Clock = std::chrono::steady_clock;

// The exchange on one end of a socketpair; the test is the service.
class QueueExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    int ends[2] = {-1, -1};
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
    socket_ = netAdoptDescriptor(ends[0], &stop_);
    service_ = ends[1];
    ASSERT_NE(socket_, nullptr);
  }
  void TearDown() override {
    netDestroy(socket_);
    if (service_ >= 0) ::close(service_);
  }
  void serviceSends(const std::string& bytes) {
    ASSERT_EQ(send(service_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
  }
  std::string clientSent() {
    std::string sent;
    char buffer[256];
    ssize_t got = 0;
    while ((got = recv(service_, buffer, sizeof(buffer), MSG_DONTWAIT)) > 0) {
      sent.append(buffer, static_cast<size_t>(got));
    }
    return sent;
  }
  std::string audioAfter() {
    std::string audio;
    uint8_t buffer[256];
    int32_t got = 0;
    while ((got = netReceive(socket_, buffer, sizeof(buffer))) > 0) {
      audio.append(reinterpret_cast<const char*>(buffer),
                   static_cast<size_t>(got));
    }
    return audio;
  }

  std::atomic<int32_t> stop_{0};
  NetSocket* socket_ = nullptr;
  int service_ = -1;
};

struct ListCase {
  const char* name;
  std::string stream;  // the service's bytes, then it closes its side
  bool ends;           // the list ends (else the exchange fails)
  std::string audio;   // what follows the end marker
  std::vector<std::string> offered = {};
};

TEST_F(QueueExchangeTest, OnlyAWholeEndLineEndsTheList) {
  const std::string longLine(1500, 'q');
  const ListCase cases[] = {
      {"list then audio in the same segment",
       "queue1\r\n\r\nsales\n[End]\r\n\xD5\x55", true, "\xD5\x55",
       {"queue1", "sales"}},
      {"empty list", "[End]\r\n", true, ""},
      {"bare line feed", "[End]\n", false, ""},
      {"leading space", " [End]\r\n", false, ""},
      {"trailing space", "[End] \r\n", false, ""},
      {"other case", "[END]\r\n", false, ""},
      {"long line first", longLine + "\r\n[End]\r\nA", true, "A",
       {std::string(kQueueOfferedName, 'q')}},
      // Cut into pieces of 1023, this line's last piece is "[End]\r\n":
      // still only the tail of a longer line.
      {"end marker as the tail of a long line",
       std::string(1023, 'q') + "[End]\r\nB", false, ""},
      {"tail of a long line, then the real end",
       std::string(2046, 'q') + "[End]\r\n[End]\r\nC", true, "C",
       {std::string(kQueueOfferedName, 'q')}},
      {"closed in the middle of the list", "queue1\r\n[En", false, ""},
      {"closed before anything", "", false, ""},
  };
  for (const ListCase& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    serviceSends(c.stream);
    shutdown(service_, SHUT_WR);
    std::vector<std::string> offered;
    const NetStatus result =
        queueExchange(socket_, "sales", &stop_, &offered);
    if (c.ends) {
      EXPECT_FALSE(result.failed());
      EXPECT_EQ(clientSent(), "sales\r\n");
      EXPECT_EQ(audioAfter(), c.audio);
      EXPECT_EQ(offered, c.offered);
    } else {
      // The service closed its side before the end of the list.
      EXPECT_EQ(result.error, NetError::kClosed);
      EXPECT_EQ(netStatusReason(result),
                "the service closed the connection while sending the queue "
                "list");
      EXPECT_EQ(clientSent(), "") << "the name went out before the end";
    }
  }
}

TEST_F(QueueExchangeTest, NameIsSentAsGiven) {
  serviceSends("[End]\r\n");
  ASSERT_FALSE(queueExchange(socket_, "Sales Team/2", &stop_).failed());
  EXPECT_EQ(clientSent(), "Sales Team/2\r\n");
}

// A service that vanished right after its list must not leave a run that
// records nothing and succeeds.
TEST_F(QueueExchangeTest, FailedSendOfTheNameFailsTheExchange) {
  serviceSends("[End]\r\n");
  ::close(service_);
  service_ = -1;
  testing::internal::CaptureStderr();
  const NetStatus result = queueExchange(socket_, "sales", &stop_);
  EXPECT_EQ(testing::internal::GetCapturedStderr().find("send failed"), 0u);
  EXPECT_EQ(netStatusReason(result),
            "Broken pipe while the queue name was sent");
}

TEST_F(QueueExchangeTest, StopBeforeTheFirstLineReadsNothing) {
  serviceSends("[End]\r\n");
  stop_.store(1);
  EXPECT_EQ(queueExchange(socket_, "sales", &stop_).error, NetError::kStopped);
  EXPECT_EQ(clientSent(), "");
  // The list is still there: nothing was taken from the connection.
  EXPECT_EQ(netWait(socket_, 0), 1);
}

TEST_F(QueueExchangeTest, StopWhileTheServiceStallsEndsPromptly) {
  serviceSends("queue1\r\nsal");
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    stop_.store(1);
  });
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(queueExchange(socket_, "sales", &stop_).error, NetError::kStopped);
  const double tookMs =
      std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  stopper.join();
  EXPECT_LT(tookMs, test_clock::boundMs(1000));
  EXPECT_EQ(clientSent(), "");
}

}  // namespace

#include "app/queue_list.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "tests/loopback_server.h"
#include "tests/test_files.h"

namespace {

using loopback::Family;
using loopback::LoopbackServer;
using loopback::Peer;

std::string readBack(FILE* file) {
  std::string text;
  std::rewind(file);
  char block[4096];
  size_t got = 0;
  while ((got = std::fread(block, 1, sizeof block, file)) > 0) text.append(block, got);
  return text;
}

// What the service sends before it ends its sending; what is printed and
// returned.
struct ListCase {
  const char* name;
  std::string sent;
  std::string printed;
  Result result;
};

TEST(QueueList, PrintsEachNameOfTheListAndNothingElse) {
  const std::string longName(3000, 'q');  // arrives in several pieces
  const ListCase cases[] = {
      {"crlf_and_lf_lines", "sales\r\nsupport\n\r\n\n[End]\r\nAUDIO",
       "sales\nsupport\n", kResultOk},
      {"empty_list", "[End]\r\n", "", kResultOk},
      {"long_name", longName + "\r\n[End]\r\n", longName + "\n", kResultOk},
      {"end_lookalikes_are_names", "[End]\n x[End]\r\n[End]\r\n",
       "[End]\n x[End]\n", kResultOk},
      {"closed_before_the_end", "sales\r\nsupp", "sales\n", kResultNetwork},
  };
  for (const ListCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string received;
    LoopbackServer server(Family::kIpv4, [&](Peer& peer) {
      peer.send(c.sent);
      peer.finishSending();
      received = peer.receiveUntilClosed(5000);
    });
    ASSERT_TRUE(server.listening());
    FILE* out = test_files::anonymousTempFile();
    ASSERT_NE(nullptr, out);
    std::atomic<int32_t> stop{0};
    EXPECT_EQ(c.result, listQueues(server.host(), server.port(), &stop, out));
    server.join();
    EXPECT_EQ(c.printed, readBack(out));
    EXPECT_EQ("", received) << "no queue is chosen";
    std::fclose(out);
  }
}

TEST(QueueList, UnreachableServiceAndUnwritableOutput) {
  std::atomic<int32_t> stop{0};
  FILE* out = test_files::anonymousTempFile();
  ASSERT_NE(nullptr, out);
  EXPECT_EQ(kResultNetwork, listQueues("127.0.0.1", 0, &stop, out));

  LoopbackServer server(Family::kIpv4, [](Peer& peer) {
    peer.send("sales\r\n[End]\r\n");
    peer.receiveUntilClosed(5000);
  });
  ASSERT_TRUE(server.listening());
  std::fclose(out);
  // A stream opened for reading only: every write fails.
  test_files::TempDir dir;
  ASSERT_TRUE(test_files::writeFile(dir.file("list"), {}));
  FILE* readOnly = std::fopen(dir.file("list").c_str(), "rb");
  ASSERT_NE(nullptr, readOnly);
  EXPECT_EQ(kResultWavOutput,
            listQueues(server.host(), server.port(), &stop, readOnly));
  std::fclose(readOnly);
}

}  // namespace

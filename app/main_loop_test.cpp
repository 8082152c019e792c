#include "app/main_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

namespace {

// One turn of the scripted source: the result of `wait` and, when that is
// positive, of the `read` that follows.
struct Turn {
  Result wait;
  Result read = 0;
  int32_t count = 0;  // bytes the read delivers (or -1 / 0 with failures)
  bool stopInWait = false;
  bool stopInRead = false;
};

// An in-memory source that plays a script of turns and delivers the byte
// sequence 0, 1, 2, ... across its reads.
struct FakeSource final : AudioSource {
  std::vector<Turn> turns;
  size_t next = 0;
  uint8_t nextByte = 0;
  std::atomic<int32_t>* stop = nullptr;

  FakeSource(std::vector<Turn> script, std::atomic<int32_t>* stopFlag)
      : turns(std::move(script)), stop(stopFlag) {
    markOpen();
  }

  Result close() override {
    markClosed();
    return 0;
  }

  Result wait(int32_t timeoutMs) override {
    EXPECT_EQ(timeoutMs, kWaitTimeoutMs);
    if (next >= turns.size()) {
      ADD_FAILURE() << "the loop went on after the end of the script";
      stop->store(1);
      return -99;
    }
    const Turn& turn = turns[next];
    if (turn.stopInWait) stop->store(1);
    if (turn.wait <= 0) ++next;
    return turn.wait;
  }

  Result read(uint8_t* buffer, int32_t capacity, int32_t* count) override {
    EXPECT_EQ(capacity, kBlockSize);
    const Turn& turn = turns[next++];
    for (int32_t i = 0; i < turn.count; ++i) buffer[i] = nextByte++;
    if (turn.stopInRead) stop->store(1);
    *count = turn.count;
    return turn.read;
  }
};

// An in-memory sink that keeps what it is handed; the results of its first
// writes can be scripted (otherwise it accepts everything).
struct FakeSink final : AudioSink {
  std::vector<Result> results;
  std::vector<uint8_t> handed;
  size_t writes = 0;

  explicit FakeSink(std::vector<Result> scripted) : results(std::move(scripted)) {
    markOpen();
  }

  Result close() override {
    markClosed();
    return 0;
  }

  Result write(const uint8_t* bytes, int32_t length) override {
    EXPECT_GT(length, 0);
    handed.insert(handed.end(), bytes, bytes + length);
    const size_t call = writes++;
    return call < results.size() ? results[call] : length;
  }
};

TEST(MainLoopTest, EndsAsTheScriptSays) {
  struct Case {
    const char* name;
    std::vector<Turn> turns;
    std::vector<Result> writeResults;
    Result expected;
    size_t bytesHanded;
    size_t writes;
  };
  const Case cases[] = {
      {"count 0 is the end of the input",
       {{1, 0, 1024}, {1, 0, 500}, {1, 0, 0}}, {}, 0, 1524, 2},
      {"wait time-outs are waited again",
       {{0}, {0}, {1, 0, 10}, {0}, {1, 0, 0}}, {}, 0, 10, 1},
      {"-8 is written, remembered and the run goes on",
       {{1, kResultUndecodable, 100}, {1, 0, 50}, {1, 0, 0}}, {},
       kResultUndecodable, 150, 2},
      {"a read failure ends the run",
       {{1, 0, 10}, {1, kResultNetwork, -1}}, {}, kResultNetwork, 10, 1},
      {"a failure with count 0 is still a failure",
       {{1, 0, 10}, {1, kResultNetwork, 0}}, {}, kResultNetwork, 10, 1},
      {"count 0 keeps a remembered -8",
       {{1, kResultUndecodable, 10}, {1, 0, 0}}, {}, kResultUndecodable, 10,
       1},
      {"-8 with count 0 ends the run with -8",
       {{1, 0, 10}, {1, kResultUndecodable, 0}}, {}, kResultUndecodable, 10,
       1},
      {"a wait failure ends the run",
       {{1, 0, 10}, {kResultNetwork}}, {}, kResultNetwork, 10, 1},
      {"a wait failure after a stop is a clean end",
       {{1, kResultUndecodable, 10}, {-1, 0, 0, true}}, {}, kResultUndecodable,
       10, 1},
      {"a stop during the read drops the block",
       {{1, 0, 10}, {1, 0, 20, false, true}}, {}, 0, 10, 1},
      {"a negative write ends the run",
       {{1, 0, 10}, {1, 0, 10}, {1, 0, 10}}, {10, kResultWavOutput},
       kResultWavOutput, 20, 2},
      {"a short write is not retried",
       {{1, 0, 10}, {1, 0, 6}, {1, 0, 0}}, {3}, 0, 16, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::atomic<int32_t> stop{0};
    FakeSource source(c.turns, &stop);
    FakeSink sink(c.writeResults);
    EXPECT_EQ(runMainLoop(&source, &sink, stop), c.expected);
    EXPECT_EQ(sink.writes, c.writes);
    ASSERT_EQ(sink.handed.size(), c.bytesHanded);
    for (size_t i = 0; i < sink.handed.size(); ++i) {
      ASSERT_EQ(sink.handed[i], static_cast<uint8_t>(i)) << "byte " << i;
    }
  }
}

TEST(MainLoopTest, ARequestedStopEndsTheRunBeforeTheFirstWait) {
  std::atomic<int32_t> stop{1};
  FakeSource source({}, &stop);
  FakeSink sink({});
  EXPECT_EQ(runMainLoop(&source, &sink, stop), 0);
  EXPECT_EQ(source.next, 0u);
  EXPECT_EQ(sink.writes, 0u);
}

}  // namespace

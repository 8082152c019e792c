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
struct FakeSource {
  AudioSource endpoint;
  std::vector<Turn> turns;
  size_t next = 0;
  uint8_t nextByte = 0;
  std::atomic<int32_t>* stop = nullptr;

  FakeSource(std::vector<Turn> script, std::atomic<int32_t>* stopFlag)
      : turns(std::move(script)), stop(stopFlag) {
    endpoint.wait = wait;
    endpoint.read = read;
    endpoint.state = this;
    endpoint.isOpen = 1;
  }

  static Result wait(AudioEndpoint* endpoint, int32_t timeoutMs) {
    auto* self = static_cast<FakeSource*>(endpoint->state);
    EXPECT_EQ(timeoutMs, kWaitTimeoutMs);
    if (self->next >= self->turns.size()) {
      ADD_FAILURE() << "the loop went on after the end of the script";
      self->stop->store(1);
      return -99;
    }
    const Turn& turn = self->turns[self->next];
    if (turn.stopInWait) self->stop->store(1);
    if (turn.wait <= 0) ++self->next;
    return turn.wait;
  }

  static Result read(AudioEndpoint* endpoint, uint8_t* buffer, int32_t capacity,
                     int32_t* count) {
    auto* self = static_cast<FakeSource*>(endpoint->state);
    EXPECT_EQ(capacity, kBlockSize);
    const Turn& turn = self->turns[self->next++];
    for (int32_t i = 0; i < turn.count; ++i) buffer[i] = self->nextByte++;
    if (turn.stopInRead) self->stop->store(1);
    *count = turn.count;
    return turn.read;
  }
};

// An in-memory sink that keeps what it is handed; the results of its first
// writes can be scripted (otherwise it accepts everything).
struct FakeSink {
  AudioSink endpoint;
  std::vector<Result> results;
  std::vector<uint8_t> handed;
  size_t writes = 0;

  explicit FakeSink(std::vector<Result> scripted) : results(std::move(scripted)) {
    endpoint.write = write;
    endpoint.state = this;
    endpoint.isOpen = 1;
  }

  static Result write(AudioEndpoint* endpoint, const uint8_t* bytes,
                      int32_t length) {
    auto* self = static_cast<FakeSink*>(endpoint->state);
    EXPECT_GT(length, 0);
    self->handed.insert(self->handed.end(), bytes, bytes + length);
    const size_t call = self->writes++;
    return call < self->results.size() ? self->results[call] : length;
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
    EXPECT_EQ(runMainLoop(&source.endpoint, &sink.endpoint, stop), c.expected);
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
  EXPECT_EQ(runMainLoop(&source.endpoint, &sink.endpoint, stop), 0);
  EXPECT_EQ(source.next, 0u);
  EXPECT_EQ(sink.writes, 0u);
}

}  // namespace

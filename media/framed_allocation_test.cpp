// The media path allocates nothing once a direction's decoders exist (each
// is created with its codec's first payload) except when it opens a G.726
// decoder for a new rate. Proven by counting every allocation of the process (C
// libraries included) through the address sanitizer's allocator hooks, so
// the test needs a sanitizer build and is skipped elsewhere.
#include <gsm.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <memory>

#include "media/framed_context.h"
#include "tests/framed_stream.h"

#if defined(__SANITIZE_ADDRESS__)
#define HK_COUNT_ALLOCATIONS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HK_COUNT_ALLOCATIONS 1
#endif
#endif

#ifdef HK_COUNT_ALLOCATIONS
extern "C" int __sanitizer_install_malloc_and_free_hooks(
    void (*mallocHook)(const volatile void*, size_t),
    void (*freeHook)(const volatile void*));
#endif

namespace {

using framed::Bytes;

std::atomic<bool> armed{false};
std::atomic<int64_t> allocations{0};
std::atomic<int64_t> releases{0};

#ifdef HK_COUNT_ALLOCATIONS
void onMalloc(const volatile void*, size_t) {
  if (armed.load(std::memory_order_relaxed)) allocations.fetch_add(1);
}
void onFree(const volatile void* p) {
  if (p != nullptr && armed.load(std::memory_order_relaxed)) releases.fetch_add(1);
}
#endif

// Starts counting; false when this build cannot count.
bool startCounting() {
#ifdef HK_COUNT_ALLOCATIONS
  static const bool installed =
      __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree) != 0;
  if (!installed) return false;
  allocations = 0;
  releases = 0;
  armed = true;
  return true;
#else
  return false;
#endif
}

void stopCounting() { armed = false; }

struct ContextDeleter {
  void operator()(FramedContext* context) const {
    framedContextDestroy(context);
  }
};

// A stream exercising every decoding path but G.726: all other codecs on
// both directions, silence and ignored types. With `faults`, also frames
// that are reported on the console: unsupported types, partial units, bad
// check bytes, short frames.
Bytes everythingButG726(bool faults, int rounds = 50) {
  Bytes stream;
  gsm encoder = gsm_create();
  gsm_signal samples[160];
  for (int i = 0; i < 160; ++i) samples[i] = static_cast<gsm_signal>((i * 97) % 4000 - 2000);
  gsm_byte gsmFrame[33];
  gsm_encode(encoder, samples, gsmFrame);
  gsm_destroy(encoder);
  const Bytes gsmPayload(gsmFrame, gsmFrame + 33);
  for (int round = 0; round < rounds; ++round) {
    for (uint8_t d = 0; d < 2; ++d) {
      framed::appendFrame(stream, framed::typedFrame(d, 4, gsmPayload), 7);
      framed::appendFrame(stream, framed::typedFrame(d, 9, Bytes(30, static_cast<uint8_t>(round))), 7);
      framed::appendFrame(stream, framed::typedFrame(d, 13, Bytes(160, static_cast<uint8_t>(round * 7))), 7);
      framed::appendFrame(stream, framed::typedFrame(d, 2, Bytes(100, 0x11)), 7);
      framed::appendFrame(stream, framed::typedFrame(d, 3, Bytes(100, 0x22)), 7);
      framed::appendFrame(stream, framed::typedFrame(d, 40, {10}), 7);
      framed::appendFrame(stream, framed::typedFrame(d, 1, Bytes(5, 0)), 7);
      if (faults) {
        framed::appendFrame(stream, framed::typedFrame(d, 11, Bytes(5, 0)), 7);
        framed::appendFrame(stream, framed::typedFrame(d, 4, Bytes(40, 0xD0)), 7);
      }
    }
    if (faults) stream.insert(stream.end(), {0xFF, 0x01, 0x02, 0x03, 0x04, 0xFF, 0x05});
  }
  framed::finish(stream);
  return stream;
}

// Decodes the feed to its end; returns the bytes delivered.
size_t drain(FramedContext* context) {
  uint8_t buffer[1024];
  size_t total = 0;
  for (;;) {
    int32_t count = 0;
    (void)framedContextRead(context, buffer, sizeof buffer, &count);
    if (count <= 0) return total;
    total += static_cast<size_t>(count);
  }
}

struct Counts {
  int64_t allocations;
  int64_t releases;
  size_t delivered;
};

// Counts the allocations of decoding the stream once each direction's
// decoders exist (they are created with their codec's first payload, which
// one round of the stream provides); false when this build cannot count.
bool countDecoding(bool faults, Counts* counts) {
  framed::Feed feed;
  feed.bytes = everythingButG726(faults, 1);
  feed.segment = 333;
  std::unique_ptr<FramedContext, ContextDeleter> context(
      framedContextCreate(framed::pullFeed, &feed, InputMode::kFramedTyped));
  EXPECT_NE(context, nullptr);
  if (!context) return false;
  testing::internal::CaptureStderr();
  drain(context.get());
  const Bytes rest = everythingButG726(faults);
  feed.bytes.insert(feed.bytes.end(), rest.begin(), rest.end());
  if (!startCounting()) {
    testing::internal::GetCapturedStderr();
    return false;
  }
  counts->delivered = drain(context.get());
  stopCounting();
  testing::internal::GetCapturedStderr();
  counts->allocations = allocations.load();
  counts->releases = releases.load();
  return true;
}

TEST(FramedAllocation, NothingIsAllocatedOnceTheDecodersExistWithoutG726) {
  Counts counts{};
  if (!countDecoding(false, &counts)) {
    GTEST_SKIP() << "allocation counting needs the sanitizer build";
  }
  EXPECT_GE(counts.delivered, 80000u);
  EXPECT_EQ(counts.allocations, 0);
  EXPECT_EQ(counts.releases, 0);
}

// A reported problem allocates nothing: the console layer sets up its
// character-set converter once, on the first message of the run, and the
// decoder itself keeps nothing.
TEST(FramedAllocation, ReportedProblemsLeaveTheHeapAsItWas) {
  Counts counts{};
  // The first run lets the console layer set up what it keeps for good.
  if (!countDecoding(true, &counts) || !countDecoding(true, &counts)) {
    GTEST_SKIP() << "allocation counting needs the sanitizer build";
  }
  EXPECT_EQ(counts.allocations, 0);
  EXPECT_EQ(counts.releases, 0);
}

// G.726 allocates when it opens a decoder for a new rate. In between,
// libavcodec's packet interface keeps small reference records on the heap
// for every unit; each is returned before the next unit, so the heap does
// not grow however long the stream.
TEST(FramedAllocation, G726AllocatesOnOpenAndHoldsNothingBetweenUnits) {
  framed::Feed feed;
  for (int round = 0; round < 200; ++round) {
    framed::appendFrame(feed.bytes, framed::typedFrame(static_cast<uint8_t>(round & 1), 6,
                                                       Bytes(160, static_cast<uint8_t>(round))),
                        7);
  }
  framed::finish(feed.bytes);
  std::unique_ptr<FramedContext, ContextDeleter> context(
      framedContextCreate(framed::pullFeed, &feed, InputMode::kFramedTyped));
  ASSERT_NE(context, nullptr);
  uint8_t buffer[1024];
  int32_t count = 0;
  // The first reads open both directions' decoders.
  ASSERT_EQ(framedContextRead(context.get(), buffer, sizeof buffer, &count),
            FramedResult::kOk);
  ASSERT_GT(count, 0);
  if (!startCounting()) GTEST_SKIP() << "allocation counting needs the sanitizer build";
  const size_t delivered = drain(context.get());
  stopCounting();
  EXPECT_GT(delivered, 50000u);
  EXPECT_EQ(allocations.load(), releases.load());
  RecordProperty("g726_allocations_per_unit",
                 std::to_string(static_cast<double>(allocations.load()) / (200 * 4)));
}

}  // namespace

// The status line's text: fields, units, meter cells and the stall marker.
#include "app/status_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

struct LineCase {
  const char* name;
  StatusSample sample;
  std::string expected;
};

StatusSample sampleOf(uint64_t bytes, uint32_t first, uint32_t second,
                      uint64_t dropped, int64_t quietMs, int64_t runMs,
                      uint64_t taken = 0, uint64_t total = 0) {
  StatusSample s;
  s.bytes = bytes;
  s.peaks[0] = first;
  s.peaks[1] = second;
  s.framesDropped = dropped;
  s.quietMs = quietMs;
  s.runMs = runMs;
  s.taken = taken;
  s.total = total;
  return s;
}

TEST(StatusText, FormatsEachKindOfRun) {
  const LineCase cases[] = {
      {"nothing yet, silent, stall shown past one second only",
       sampleOf(0, 0, 0, 0, 1000, 1000), "0:00.0  0 B  [    |    ]  0 dropped"},
      {"stalled, whole seconds",
       sampleOf(999, 130, 131, 2, 3999, 9000),
       "0:00.0  999 B  [    |=   ]  2 dropped  stalled 3s"},
      {"cell edges at -36, -24 and -12 dB; full scale",
       sampleOf(199700, 2068, 32767, 0, 0, 12500),
       "0:12.4  199.7 kB  [  ==|====]  0 dropped"},
      {"one cell short on the left, three on the right",
       sampleOf(16000 * 59 + 15999, 519, 2069, 0, 500, 60000),
       "0:59.9  959.9 kB  [   =|=== ]  0 dropped"},
      {"hours, megabytes",
       sampleOf(uint64_t{16000} * 3723 + 8000, 8231, 8230, 0, 0, 3723500),
       "1:02:03.5  59.5 MB  [====|=== ]  0 dropped"},
      {"file input: share done and speed",
       sampleOf(uint64_t{16000} * 600, 0, 0, 1, 0, 1870, 4300, 10000),
       "43%  10:00.0  9.6 MB  320x  [    |    ]  1 dropped"},
      {"file input: slower than ten times real time; taken beyond total",
       sampleOf(16000 * 5, 0, 0, 0, 0, 2000, 12, 10),
       "100%  0:05.0  80.0 kB  2.5x  [    |    ]  0 dropped"},
  };
  for (const LineCase& c : cases) {
    EXPECT_EQ(formatStatusLine(c.sample), c.expected) << c.name;
  }
}

}  // namespace

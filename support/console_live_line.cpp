#include "support/console_live_line.h"

#include <cstring>

#include "support/console_output.h"
#include "support/mutex.h"

namespace {

// Room for one live line; wider consoles show it cut.
constexpr size_t kLiveLineBytes = 256;

struct LiveLine {
  Mutex mutex;
  // Bytes of the line on the console now; 0 when none is shown.
  size_t shown GUARDED_BY(mutex) = 0;
};

// Never destroyed: a thread may write a message while the process exits.
LiveLine& liveLine() {
  static LiveLine* const line = new LiveLine;
  return *line;
}

}  // namespace

void consoleLiveLineDraw(const char* text) {
  size_t length = std::strlen(text);
  if (length > kLiveLineBytes) length = kLiveLineBytes;
  const int32_t columns = liveLineColumns();
  if (columns > 1 && length > static_cast<size_t>(columns - 1)) {
    length = static_cast<size_t>(columns - 1);
  }
  LiveLine& line = liveLine();
  const MutexLock lock(&line.mutex);
  liveLineWrite(text, length, line.shown);
  line.shown = length;
}

void consoleLiveLineErase() {
  LiveLine& line = liveLine();
  const MutexLock lock(&line.mutex);
  if (line.shown == 0) return;
  liveLineWrite("", 0, line.shown);
  line.shown = 0;
}

int32_t consoleWriteMessage(const char16_t* units, size_t count) {
  LiveLine& line = liveLine();
  const MutexLock lock(&line.mutex);
  if (line.shown != 0) {
    liveLineWrite("", 0, line.shown);
    line.shown = 0;
  }
  return consoleWriteText(units, count);
}

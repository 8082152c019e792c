#include "app/run_summary.h"

#include <cstdio>
#include <string>

#include "app/status_text.h"
#include "support/console_report.h"
#include "support/display_name.h"

namespace {

// "(0 frames dropped)" without its parentheses.
std::string droppedText(uint64_t frames) {
  return std::to_string(frames) + (frames == 1 ? " frame" : " frames") +
         " dropped";
}

// "1 recording", "3 recordings".
std::string recordingsText(uint32_t count) {
  return std::to_string(count) + (count == 1 ? " recording" : " recordings");
}

// "11.2", the run's wall time in seconds with one decimal.
std::string runSecondsText(int64_t runMs) {
  const long long tenths = runMs > 0 ? runMs / 100 : 0;
  char text[32];
  std::snprintf(text, sizeof text, "%lld.%lld", tenths / 10, tenths % 10);
  return text;
}

}  // namespace

void reportRunSummary(const RunSummary& summary) {
  const std::string seconds = audioSecondsText(summary.bytes);
  const std::string dropped = droppedText(summary.framesDropped);
  if (summary.inputFile == nullptr) {
    if (summary.bytes == 0) {
      if (summary.queueName != nullptr) {
        consoleReport("no audio received from queue %Ds\r\n",
                      displayName(summary.queueName).c_str());
      } else {
        consoleReport("no audio received\r\n");
      }
    } else if (summary.outputFile != nullptr) {
      consoleReport("recorded %s seconds of audio into %Ds (%s)\r\n",
                    seconds.c_str(), displayName(summary.outputFile).c_str(),
                    dropped.c_str());
    } else if (summary.recordings != 0) {
      consoleReport("recorded %s seconds of audio into %s (%s)\r\n",
                    seconds.c_str(), recordingsText(summary.recordings).c_str(),
                    dropped.c_str());
    } else {
      consoleReport("played %s seconds of audio (%s)\r\n", seconds.c_str(),
                    dropped.c_str());
    }
    return;
  }
  const std::string input = displayName(summary.inputFile);
  if (summary.outputFile != nullptr || summary.recordings != 0) {
    const std::string target = summary.outputFile != nullptr
                                   ? displayName(summary.outputFile)
                                   : recordingsText(summary.recordings);
    const std::string speed = speedText(summary.bytes, summary.runMs);
    consoleReport(
        "converted %Ds: %s seconds of audio into %Ds in %s s (%s%s%s)\r\n",
        input.c_str(), seconds.c_str(), target.c_str(),
        runSecondsText(summary.runMs).c_str(), speed.c_str(),
        speed.empty() ? "" : "x real time, ", dropped.c_str());
  } else {
    consoleReport("played %Ds: %s seconds of audio (%s)\r\n", input.c_str(),
                  seconds.c_str(), dropped.c_str());
  }
}

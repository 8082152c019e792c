#include "tools/tapd_emu/session.h"

#include <chrono>
#include <cstdio>

#include "tools/tapd_emu/connection.h"
#include "tools/tapd_emu/queue_stream.h"

namespace tapd_emu {
namespace {

using Clock = std::chrono::steady_clock;

// In --fast mode, bytes gathered before each send.
constexpr size_t kFastBatchBytes = 16384;

const char* endName(IoEnd end) {
  switch (end) {
    case IoEnd::kOk:
      return "done";
    case IoEnd::kClosed:
      return "client closed";
    case IoEnd::kStopped:
      return "stopped";
    case IoEnd::kTimeout:
      return "timeout";
    case IoEnd::kTooLong:
      return "bad request (name line too long)";
  }
  return "?";
}

struct Outcome {
  std::string queue = "-";
  unsigned long long audioBytes = 0;
  std::string end;
};

// A client's name as the log shows it: quoted, at most 64 bytes of it,
// control bytes escaped and bytes from 0x80 as '?'.
std::string printableName(const std::string& name) {
  std::string shown = name.substr(0, 64);
  for (char& c : shown) {
    if (static_cast<unsigned char>(c) >= 0x80) c = '?';
  }
  return "\"" + escapeForLine(shown) + (name.size() > 64 ? "...\"" : "\"");
}

// The queue list: one line per queue, then the end marker.
IoEnd sendQueueList(int fd, const std::vector<ServedQueue>& queues) {
  std::string list;
  for (const ServedQueue& queue : queues) list += queue.setup.name + "\r\n";
  list += "[End]\r\n";
  return sendAll(fd, reinterpret_cast<const uint8_t*>(list.data()),
                 list.size());
}

// Streams the queue's audio until its end; fills outcome->end.
void streamQueue(int fd, const ServedQueue& queue, const SessionConfig& config,
                 Outcome* outcome) {
  QueueStream stream(queue.setup, queue.audio, config.loop);
  if (config.callSeconds > 0) {
    const uint64_t call = queue.callsServed->fetch_add(1);
    const uint64_t frames = static_cast<uint64_t>(config.callSeconds) * 8000;
    stream.limitToCall(call * frames, frames);
    outcome->queue += " call " + std::to_string(call + 1);
  }
  if (config.callGapMs > 0) {
    const IoEnd waited = waitUntil(
        fd, Clock::now() + std::chrono::milliseconds(config.callGapMs));
    if (waited != IoEnd::kOk) {
      outcome->end = endName(waited);
      return;
    }
  }
  const std::string error = stream.start();
  if (!error.empty()) {
    outcome->end = "encoder failed: " + error;
    return;
  }
  const Clock::time_point start = Clock::now();
  std::vector<uint8_t> bytes;
  for (;;) {
    // The chunk goes out when its first sample is due.
    const auto due =
        start + std::chrono::microseconds(stream.framesDone() * 1000000 / 8000);
    bytes.clear();
    StreamStep step = stream.next(&bytes);
    while (config.fast && step == StreamStep::kMore &&
           bytes.size() < kFastBatchBytes) {
      step = stream.next(&bytes);
    }
    IoEnd end = IoEnd::kOk;
    if (!config.fast) end = waitUntil(fd, due);
    if (end == IoEnd::kOk && !bytes.empty()) {
      end = sendAll(fd, bytes.data(), bytes.size());
      if (end == IoEnd::kOk) outcome->audioBytes += bytes.size();
    }
    if (end != IoEnd::kOk) {
      outcome->end = endName(end);
      return;
    }
    if (step == StreamStep::kFailed) {
      outcome->end = "encoder failed";
      return;
    }
    if (step == StreamStep::kEnd) {
      outcome->end = "done";
      return;
    }
  }
}

}  // namespace

std::string escapeForLine(const std::string& text) {
  std::string shown;
  shown.reserve(text.size());
  for (const char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7F) {
      shown += c;
    } else if (c == '\n') {
      shown += "\\n";
    } else if (c == '\r') {
      shown += "\\r";
    } else if (c == '\t') {
      shown += "\\t";
    } else {
      char hex[5];
      snprintf(hex, sizeof hex, "\\x%02X", byte);
      shown += hex;
    }
  }
  return shown;
}

void logLine(const std::string& text) {
  // One call per line: stdio keeps concurrent lines whole.
  fprintf(stderr, "tapd-emu: %s\n", escapeForLine(text).c_str());
}

void runSession(ScopedFd fd, const std::string& peer,
                const SessionConfig& config) {
  Outcome outcome;
  IoEnd end = sendQueueList(fd.get(), *config.queues);
  std::string name;
  if (end == IoEnd::kOk) {
    end = receiveLine(fd.get(), config.nameTimeoutMs, kMaxNameLine, &name);
  }
  if (end != IoEnd::kOk) {
    outcome.end = endName(end);
  } else {
    outcome.queue = printableName(name);
    const ServedQueue* found = nullptr;
    for (const ServedQueue& queue : *config.queues) {
      if (queue.setup.name == name) found = &queue;
    }
    if (found == nullptr) {
      outcome.end = "unknown queue";
    } else {
      outcome.queue += " (" + encodingName(found->setup) + ")";
      streamQueue(fd.get(), *found, config, &outcome);
    }
  }
  fd.reset();
  logLine(peer + " queue " + outcome.queue + ": " +
          std::to_string(outcome.audioBytes) + " audio bytes sent, " +
          outcome.end);
}

}  // namespace tapd_emu

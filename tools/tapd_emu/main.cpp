// tapd-emu: a stand-in for the call-recording service, so that hearkener's
// live input can be tried without one. See options.cpp for the usage.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/tapd_emu/listener.h"
#include "tools/tapd_emu/options.h"
#include "tools/tapd_emu/server.h"
#include "tools/tapd_emu/session.h"
#include "tools/tapd_emu/stop_signal.h"
#include "tools/tapd_emu/wav_writer.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

int serve(const tapd_emu::EmuOptions& options,
          const std::vector<tapd_emu::ServedQueue>& queues) {
  std::string error;
  std::string bound;
  tapd_emu::ScopedFd listener = tapd_emu::openListener(
      options.listenAddress, options.port, &bound, &error);
  if (!listener.valid()) {
    tapd_emu::logLine(error);
    return kExitFailure;
  }
  printf("tapd-emu: listening on %s\n", bound.c_str());
  fflush(stdout);
  tapd_emu::SessionConfig config;
  config.queues = &queues;
  config.fast = options.fast;
  config.loop = options.loop;
  config.nameTimeoutMs = options.nameTimeoutMs;
  config.callSeconds = options.callSeconds;
  config.callGapMs = options.callGapMs;
  const int result =
      tapd_emu::runServer(listener.get(), config, options.maxClients);
  if (result == 0) tapd_emu::logLine("stopped");
  return result == 0 ? kExitOk : kExitFailure;
}

}  // namespace

int main(int argc, char** argv) {
  tapd_emu::EmuOptions options;
  std::string error;
  switch (tapd_emu::parseEmuOptions(argc, argv, &options, &error)) {
    case tapd_emu::ParseOutcome::kHelp:
      fputs(tapd_emu::emuUsage("tapd-emu").c_str(), stdout);
      return kExitOk;
    case tapd_emu::ParseOutcome::kUsageError:
      fprintf(stderr, "tapd-emu: %s\nTry 'tapd-emu --help'.\n",
              tapd_emu::escapeForLine(error).c_str());
      return kExitUsage;
    case tapd_emu::ParseOutcome::kRun:
      break;
  }
  // Before anything is loaded: a stop while loading ends the run through
  // its own path (the server stops at once, --write removes its file).
  error = tapd_emu::installStopSignals();
  if (!error.empty()) {
    tapd_emu::logLine(error);
    return kExitFailure;
  }
  std::vector<tapd_emu::ServedQueue> queues(options.queues.size());
  for (size_t i = 0; i < queues.size(); ++i) {
    queues[i].setup = options.queues[i];
    error = tapd_emu::loadSourceAudio(queues[i].setup.path, &queues[i].audio);
    if (!error.empty()) {
      tapd_emu::logLine(error);
      return kExitFailure;
    }
  }
  if (!options.writePath.empty()) {
    error = tapd_emu::writeQueueWav(queues[0], options.writePath);
    if (!error.empty()) tapd_emu::logLine(error);
    return error.empty() ? kExitOk : kExitFailure;
  }
  return serve(options, queues);
}

#include "tools/tapd_emu/options.h"

#include <cerrno>
#include <cstdlib>
#include <set>

namespace tapd_emu {
namespace {

// A whole decimal number in [low, high].
bool parseInt(const std::string& text, long low, long high, int* value) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  errno = 0;
  char* end = nullptr;
  const long parsed = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || parsed < low || parsed > high) {
    return false;
  }
  *value = static_cast<int>(parsed);
  return true;
}

// Options that take a value, as "--name VALUE" or "--name=VALUE".
const std::set<std::string> kValueOptions = {"--queue",        "--port",
                                             "--listen",       "--max-clients",
                                             "--name-timeout", "--write",
                                             "--call-seconds", "--call-gap"};

std::string applyValue(const std::string& name, const std::string& value,
                       EmuOptions* options) {
  if (name == "--queue") {
    QueueSetup setup;
    const std::string error = parseQueueSetup(value, &setup);
    if (!error.empty()) return error;
    for (const QueueSetup& other : options->queues) {
      if (other.name == setup.name) return "queue '" + setup.name + "' twice";
    }
    options->queues.push_back(setup);
  } else if (name == "--port") {
    if (!parseInt(value, 0, 65535, &options->port)) {
      return "--port wants a number from 0 to 65535, not '" + value + "'";
    }
  } else if (name == "--listen") {
    if (value.empty()) return "--listen wants an address";
    options->listenAddress = value;
  } else if (name == "--max-clients") {
    if (!parseInt(value, 1, 1024, &options->maxClients)) {
      return "--max-clients wants a number from 1 to 1024, not '" + value + "'";
    }
  } else if (name == "--name-timeout") {
    int seconds = 0;
    if (!parseInt(value, 1, 3600, &seconds)) {
      return "--name-timeout wants seconds from 1 to 3600, not '" + value + "'";
    }
    options->nameTimeoutMs = seconds * 1000;
  } else if (name == "--call-seconds") {
    if (!parseInt(value, 1, 86400, &options->callSeconds)) {
      return "--call-seconds wants seconds from 1 to 86400, not '" + value +
             "'";
    }
  } else if (name == "--call-gap") {
    if (!parseInt(value, 0, 3600000, &options->callGapMs)) {
      return "--call-gap wants milliseconds from 0 to 3600000, not '" +
             value + "'";
    }
  } else if (name == "--write") {
    if (value.empty()) return "--write wants a file name";
    options->writePath = value;
  }
  return "";
}

std::string checkCombination(const EmuOptions& options) {
  if (options.queues.empty()) return "no queue given (--queue NAME=FILE)";
  if (!options.writePath.empty()) {
    if (options.queues.size() != 1) return "--write takes exactly one queue";
    if (options.loop) return "--write cannot --loop";
    if (options.callSeconds != 0 || options.callGapMs != 0) {
      return "--write serves no calls (--call-seconds, --call-gap)";
    }
  }
  return "";
}

}  // namespace

ParseOutcome parseEmuOptions(int argc, char** argv, EmuOptions* options,
                             std::string* error) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") return ParseOutcome::kHelp;
    if (arg == "--fast") {
      options->fast = true;
      continue;
    }
    if (arg == "--loop") {
      options->loop = true;
      continue;
    }
    std::string value;
    const size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    if (kValueOptions.count(name) == 0) {
      *error = "unknown option '" + arg + "'";
      return ParseOutcome::kUsageError;
    }
    if (equals != std::string::npos) {
      value = arg.substr(equals + 1);
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      *error = name + " wants a value";
      return ParseOutcome::kUsageError;
    }
    *error = applyValue(name, value, options);
    if (!error->empty()) return ParseOutcome::kUsageError;
  }
  *error = checkCombination(*options);
  return error->empty() ? ParseOutcome::kRun : ParseOutcome::kUsageError;
}

std::string emuUsage(const char* program) {
  const std::string p = program;
  return "Usage: " + p + " [OPTIONS] --queue NAME=FILE[:ENCODING]...\n" +
         "       " + p + " --write OUT.wav --queue NAME=FILE[:ENCODING]\n" +
         "A stand-in for the call-recording service tapd: offers each WAV\n"
         "file as a queue and streams it to every client that asks for it.\n"
         "\n"
         "  --queue NAME=FILE[:ENCODING]  a queue (repeatable). FILE: WAV,\n"
         "                     8000 Hz, 1 or 2 channels, 16-bit PCM, A-law\n"
         "                     or u-law; a mono file feeds both directions.\n"
         "     ENCODING:  alaw             A-law bytes (default; hearkener "
         "-a)\n"
         "                ulaw             u-law bytes (hearkener -u)\n"
         "                framed:C0[,C1]   frames with a codec type byte\n"
         "                                 (hearkener -r), codec C0 for the\n"
         "                                 first channel, C1 for the second\n"
         "                framed6:C0[,C1]  frames with the codec type in the\n"
         "                                 control byte\n"
         "     codecs: " +
         codecNameList() +
         "\n"
         "  --port PORT        TCP port (default 20000; 0: a free port, "
         "printed)\n"
         "  --listen ADDR      address to listen on (default 127.0.0.1).\n"
         "                     The service hands call audio to anyone who\n"
         "                     connects: use another address only on a\n"
         "                     network you trust.\n"
         "  --fast             send as fast as the client reads (default:\n"
         "                     real time)\n"
         "  --loop             start the file again at its end (default:\n"
         "                     close the connection)\n"
         "  --call-seconds S   call after call: each client of a queue gets the\n"
         "                     next S seconds of its file (which wraps\n"
         "                     round), then the connection closes; the\n"
         "                     next client gets the next call (default:\n"
         "                     every client gets the whole file)\n"
         "  --call-gap MS      wait MS milliseconds after the client named\n"
         "                     its queue before the call's audio (no call\n"
         "                     on the queue yet; default 0)\n"
         "  --max-clients N    connections served at once (default 64)\n"
         "  --name-timeout S   seconds a client has to name its queue\n"
         "                     (default 10)\n"
         "  --write OUT.wav    write the queue's stream to a WAV file\n"
         "                     (framed: tag 0xF001, framed6: 0xF000) and "
         "exit\n"
         "  --help             this text\n"
         "Exit status: 0 done, or the server stopped; 1 a failure, or --write\n"
         "interrupted (the file is removed); 2 a bad command line.\n";
}

}  // namespace tapd_emu

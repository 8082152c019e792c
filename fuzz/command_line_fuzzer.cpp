// Fuzzes the command-line parser and the usage printer: the input is split
// at NUL bytes into the arguments after the program name. The usage printer
// writes to descriptor 2 through the console layer; run with
// -close_fd_mask=2 to keep it quiet (libFuzzer and the sanitizers still
// report on their copy of the descriptor).
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "app/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args{"hearkener"};
  std::string current;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  if (size > 0) args.push_back(current);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  RunSettings settings;
  const Result result =
      parseCommandLine(static_cast<int>(args.size()), argv.data(), &settings);
  if (result != kResultOk && result != kResultCommandLine) __builtin_trap();
  if (result == kResultOk) {
    // Every text the settings hold must still be readable.
    volatile size_t touched = 0;
    for (const char* text : {settings.host, settings.queueName,
                             settings.inputFile, settings.outputFile}) {
      if (text != nullptr) touched = touched + strlen(text);
    }
  }
  return 0;
}

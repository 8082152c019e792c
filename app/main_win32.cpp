// The Windows program's entry: the rest of the program takes its arguments
// as UTF-8, so they are read from the wide command line and converted, not
// taken from the runtime's narrow (code page) copy.
#include <windows.h>
// After windows.h, whose types it uses.
#include <shellapi.h>

#include <string>
#include <vector>

#include "app/hearkener_main.h"

namespace {

// `wide` as UTF-8; an unpaired surrogate becomes U+FFFD.
std::string toUtf8(const wchar_t* wide) {
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return std::string();
  std::string text(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, &text[0], size, nullptr, nullptr);
  text.resize(static_cast<size_t>(size - 1));
  return text;
}

}  // namespace

// The exit status is hearkenerMain's result, negative codes included.
int main() {
  int argc = 0;
  wchar_t** wideArgv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (wideArgv == nullptr) return hearkenerMain(0, nullptr);
  std::vector<std::string> arguments;
  arguments.reserve(static_cast<size_t>(argc));
  for (int i = 0; i < argc; ++i) arguments.push_back(toUtf8(wideArgv[i]));
  LocalFree(wideArgv);
  std::vector<char*> argv;
  argv.reserve(arguments.size() + 1);
  for (std::string& argument : arguments) argv.push_back(&argument[0]);
  argv.push_back(nullptr);
  return hearkenerMain(argc, argv.data());
}

// Feeds arbitrary "defaults.ini" text to the line parser, through the file
// reader (lines of at most 259 bytes) and as one unbounded line, and checks
// that every text field of the record stays terminated.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "support/globals.h"
#include "support/globals_key_table.h"
#include "support/ini_parser.h"
#include "support/log_print.h"

namespace {

void checkTerminated(const Globals& globals) {
  const char* base = reinterpret_cast<const char*>(&globals);
  for (size_t i = 0; i < globalsKeyCount; ++i) {
    const GlobalsKey& key = globalsKeyTable[i];
    if (key.kind != ValueKind::kText) continue;
    if (std::memchr(base + key.offset, '\0', key.size) == nullptr) {
      __builtin_trap();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<Globals> globals(new Globals);
  globalsSetDefaults(globals.get());
  if (size > 0) {
    FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "r");
    if (file != nullptr) {
      iniReadFile(globals.get(), file);
      std::fclose(file);
    }
  }
  checkTerminated(*globals);
  const std::string line(reinterpret_cast<const char*>(data), size);
  iniParseLine(globals.get(), line.c_str());
  checkTerminated(*globals);
  return 0;
}

// Feeds arbitrary registry-export text (UTF-8 or UTF-16 with its mark) to
// the reader, looking for the section the configuration reads; a later
// value of the same name replaces the earlier one.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "support/registry_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::string text = registryFileToUtf8(bytes);
  std::vector<RegistryValue> values;
  registryFileReadSection(text.data(), text.size(),
                          "HKEY_LOCAL_MACHINE\\Software\\quandrilex\\Defaults",
                          &values);
  // A value may be read only while its name is unique in the section.
  for (size_t i = 0; i < values.size(); ++i) {
    for (size_t j = i + 1; j < values.size(); ++j) {
      if (values[i].name == values[j].name) __builtin_trap();
    }
  }
  return 0;
}

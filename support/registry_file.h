// The reader of registry-export text, the store of registry values on
// systems without a registry:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_LOCAL_MACHINE\Software\quandrilex\Defaults]
//   "rn"="414243"
//   "count"=dword:0000000a
//   "blob"=hex:01,02,03
//
// (a hex value may go on over several lines, each but the last ending in a
// backslash).
//
// Section and value names match without regard to ASCII letter case. A
// section may appear more than once (its values merge, later ones win); a
// `[-...]` section and a `"name"=-` line delete. Lines that fit no form are
// skipped; a section keeps at most 4096 values. Text of any content is
// parsed safely.
//
// Thread-safety: pure functions over caller-owned data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Value types, numbered as the registry numbers them.
constexpr uint32_t kRegTypeString = 1;
constexpr uint32_t kRegTypeExpandString = 2;
constexpr uint32_t kRegTypeBinary = 3;
constexpr uint32_t kRegTypeDword = 4;
constexpr uint32_t kRegTypeMultiString = 7;
constexpr uint32_t kRegTypeQword = 11;

struct RegistryValue {
  std::string name;
  uint32_t type = 0;
  // As the registry stores it: a string with its terminating NUL, a dword
  // as four little-endian bytes, hex values as listed.
  std::vector<uint8_t> data;
};

// Collects the values of the section named `sectionPath` (for example
// "HKEY_LOCAL_MACHINE\Software\quandrilex\Defaults", no brackets, no
// trailing backslash) from the export text of `length` bytes (UTF-8, with
// or without a byte-order mark; NUL bytes end nothing). Returns true when
// the section is present (possibly without values).
bool registryFileReadSection(const char* text, size_t length,
                             const std::string& sectionPath,
                             std::vector<RegistryValue>* values);

// Turns export text in UTF-16LE (starting with its byte-order mark FF FE)
// into UTF-8; other text is returned unchanged. An ill-formed sequence ends
// the text there.
std::string registryFileToUtf8(const std::string& bytes);

// The key table of the configuration record: each key of "defaults.ini"
// this program reads, with its value kind, the position of its field in
// Globals and the field's size in bytes (0 for a key whose value is only
// checked); and the name tables of the enumerated kinds.
//
// Thread-safety: constant data.
#pragma once

#include <cstddef>
#include <cstdint>

// How the text of a key's value is parsed (ini_parser.h).
enum class ValueKind {
  kInteger,      // signed 32-bit, base detected as by strtol with base 0
  kText,         // narrow text with quote and escape rules
  kCdriEnum,     // one CDRI_... name
  kDtmfEnum,     // one DTMF_SRC_... name
  kTraceFormat,  // one or two FMT_... names, values added
};

struct GlobalsKey {
  const char* name;  // matched without regard to ASCII letter case
  ValueKind kind;
  size_t offset;  // of the field in Globals
  size_t size;    // of the field in bytes; 0: no field, the value is dropped
};

// One entry of an enumeration's name table; a table ends with an entry
// whose name is empty.
struct EnumName {
  const char* name;
  int32_t value;
};

extern const GlobalsKey globalsKeyTable[];
extern const size_t globalsKeyCount;

extern const EnumName kCdriNames[];
extern const EnumName kDtmfSourceNames[];
extern const EnumName kTraceFormatNames[];

// The first entry of globalsKeyTable whose name equals `name` apart from
// ASCII letter case, or null.
const GlobalsKey* globalsFindKey(const char* name);

#include "support/globals_key_table.h"

#include <cstddef>

#include "support/globals.h"

// Keys are looked up in this order; the names are the field names.
#define HK_KEY(field, kind)                                                   \
  GlobalsKey {                                                                \
#field, ValueKind::kind, offsetof(Globals, field), sizeof(Globals::field) \
  }
// A key of the family whose value this program checks (an enumeration name
// that does not resolve is reported) and then drops.
#define HK_CHECKED_KEY(name, kind) \
  GlobalsKey { #name, ValueKind::kind, 0, 0 }

const GlobalsKey globalsKeyTable[] = {
    HK_KEY(release, kInteger),
    HK_KEY(dir, kText),
    HK_CHECKED_KEY(decoder_fmt, kTraceFormat),
    HK_CHECKED_KEY(dtrace_fmt, kTraceFormat),
    HK_CHECKED_KEY(dcdr_fmt, kTraceFormat),
    HK_CHECKED_KEY(btrace_fmt, kTraceFormat),
    HK_CHECKED_KEY(bvoice_fmt, kTraceFormat),
    HK_CHECKED_KEY(bfax_fmt, kTraceFormat),
    HK_CHECKED_KEY(a2_fmt, kTraceFormat),
    HK_CHECKED_KEY(bvoiceA2_fmt, kTraceFormat),
    HK_CHECKED_KEY(bfaxA2_fmt, kTraceFormat),
    HK_CHECKED_KEY(cdrInterval, kCdriEnum),
    HK_CHECKED_KEY(autoArchive, kCdriEnum),
    HK_CHECKED_KEY(dtmfSource, kDtmfEnum),
    HK_KEY(regPath, kText),
    HK_KEY(crashDir, kText),
};

#undef HK_CHECKED_KEY
#undef HK_KEY

const size_t globalsKeyCount =
    sizeof globalsKeyTable / sizeof globalsKeyTable[0];

const EnumName kCdriNames[] = {
    {"CDRI_ACTUAL", 0},     {"CDRI_HOURLY", 1},  {"CDRI_DAILY", 2},
    {"CDRI_WEEKLY", 3},     {"CDRI_MONTHLY", 4}, {"CDRI_QUARTERLY", 5},
    {"CDRI_HALFYEARLY", 6}, {"CDRI_YEARLY", 7},  {"", 0},
};

const EnumName kDtmfSourceNames[] = {
    {"DTMF_SRC_ANY", 0},
    {"DTMF_SRC_TE", 1},
    {"DTMF_SRC_NT", 2},
    {"", 0},
};

// The trace and recording format names belong to the recording service,
// which owns their values; this program knows none of them, so every
// *_fmt value is reported as uninterpretable and the field keeps its value.
const EnumName kTraceFormatNames[] = {
    {"", 0},
};

namespace {

char foldAscii(char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; }

bool equalIgnoringCase(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    if (foldAscii(*a) != foldAscii(*b)) return false;
  }
  return *a == *b;
}

}  // namespace

const GlobalsKey* globalsFindKey(const char* name) {
  for (size_t i = 0; i < globalsKeyCount; ++i) {
    if (equalIgnoringCase(globalsKeyTable[i].name, name)) {
      return &globalsKeyTable[i];
    }
  }
  return nullptr;
}

// Globals: the support library's process-wide configuration record, shared
// by the product family. It is filled on the first getGlobals from three
// layers in order: built-in defaults, "defaults.ini" beside the executable,
// and values under the family's registry key (see reg_compat.h). The
// fields are the ones this program consults: they decide where the data
// root and the crash reports are. The other keys of the family's files are
// accepted and ignored (see ini_parser.h).
//
// Thread-safety: loading takes no lock. The first getGlobals must happen
// before other threads use the record (the program calls it at start on the
// main thread); afterwards the record is read-only.
#pragma once

#include <cstdint>

// Text fields are narrow, NUL-terminated and hold at most their size minus
// one byte. release, dir and regPath are also keys of globalsKeyTable
// (globals_key_table.h); productName comes only from the defaults and the
// registry.
struct Globals {
  int32_t release;
  char dir[1024];
  char regPath[128];
  char productName[128];
};

// The record, loaded completely on the first call; later calls return it
// unchanged. Never null; lives until the process ends.
Globals* getGlobals();

// Fills every field with its built-in default (loading step 1).
void globalsSetDefaults(Globals* globals);

// Loads `globals` as getGlobals does, reading the configuration file at the
// UTF-8 path `iniPath` (null or a missing file: none) and the registry
// store. Sets the registry base path as a side effect. The seam of
// getGlobals, which passes "defaults.ini" in the program folder.
void globalsLoad(Globals* globals, const char* iniPath);

// Decodes `hex` (two hexadecimal characters per byte; a pair with any other
// character gives 0, which ends the text; a trailing odd character is
// ignored) into `out` of `size` bytes, always NUL-terminated (cut to fit).
// REQUIRES: size >= 1.
void globalsHexDecode(const char* hex, char* out, int32_t size);

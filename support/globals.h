// Globals: the support library's process-wide configuration record, shared
// by the product family. It is filled on the first getGlobals from three
// layers in order: built-in defaults, the configuration files (see
// globalsConfigFiles), and values under the family's registry key (see
// reg_compat.h). The
// fields are the ones this program consults: they decide where the data
// root and the crash reports are. The other keys of the family's files are
// accepted and ignored (see ini_parser.h).
//
// Thread-safety: loading takes no lock. The first getGlobals must happen
// before other threads use the record (the program calls it at start on the
// main thread); afterwards the record is read-only.
#pragma once

#include <cstdint>

#include "support/file_utils.h"

// Text fields are narrow, NUL-terminated and hold at most their size minus
// one byte. release, dir, regPath and crashDir are also keys of
// globalsKeyTable (globals_key_table.h); productName comes only from the
// defaults and the registry. crashDir, when not empty, is the folder of the
// crash reports on Linux (see data_folder.h); Windows ignores it.
struct Globals {
  int32_t release;
  char dir[1024];
  char regPath[128];
  char productName[128];
  char crashDir[1024];
};

// The configuration files in the order they are read, each over the ones
// before. On Linux: "<sysconfdir>/hearkener/defaults.ini" (the install
// prefix's, fixed at build time: /etc for a /usr install), then
// "$XDG_CONFIG_HOME/hearkener/defaults.ini" (~/.config when unset); on
// Windows "defaults.ini" beside the executable. A path the system cannot
// name is left out. UTF-8.
struct ConfigFiles {
  static constexpr int32_t kMax = 2;
  char paths[kMax][kPathUnits];
  int32_t count;
};
void globalsConfigFiles(ConfigFiles* files);

// The record, loaded completely on the first call; later calls return it
// unchanged. Never null; lives until the process ends.
Globals* getGlobals();

// Fills every field with its built-in default (loading step 1).
void globalsSetDefaults(Globals* globals);

// Loads `globals` as getGlobals does, reading the configuration files at the
// UTF-8 paths `iniPaths[0 .. count)` in order (a missing file is skipped)
// and the registry store. Sets the registry base path as a side effect. The
// seam of getGlobals, which passes the files of globalsConfigFiles.
void globalsLoad(Globals* globals, const char* const* iniPaths,
                 int32_t count);

// Decodes `hex` (two hexadecimal characters per byte; a pair with any other
// character gives 0, which ends the text; a trailing odd character is
// ignored) into `out` of `size` bytes, always NUL-terminated (cut to fit).
// REQUIRES: size >= 1.
void globalsHexDecode(const char* hex, char* out, int32_t size);

// The folders of the product family, named through one entry point, and
// the creation of a folder with all its missing parents.
//
// Folders are composed from the program's own location, the configured data
// root, or the system's common application-data folder plus the vendor key
// name and product name of the configuration (globals.h). On Linux the
// common application-data folder is $HEARKENER_COMMON_APPDATA when set, else
// /var/lib, so the application-data folder is for example
// /var/lib/quandrilex/Tellan USB. On Windows it is the system's common
// application-data folder (C:\ProgramData\quandrilex\Tellan USB).
//
// Thread-safety: the first use of kinds 2 and 8 loads the configuration (see
// getGlobals); afterwards every call may come from any thread.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int32_t kFolderProgram = 0;     // folder of the running executable
constexpr int32_t kFolderDataRoot = 2;    // data root
constexpr int32_t kFolderCrashDumps = 8;  // application-data + "crashdumps"

// The data root used when the configuration names none, by release.
// Windows build:
constexpr const char* kWindowsDataRootV3 = "C:\\Recordings.v3";
constexpr const char* kWindowsDataRoot = "C:\\Recordings";
// Linux build:
constexpr const char* kPosixDataRootV3 = "/srv/Recordings.v3";
constexpr const char* kPosixDataRoot = "/srv/Recordings";

// Stores the folder of `kind` in `destination` (`size` units) and returns
// its length in units. Failures: -1 for an unknown kind, a folder the
// system cannot name, or a path that does not fit; for kind 0 also -2 (the
// executable's path has no separator) and -3 (the folder does not fit).
// Nothing is promised about `destination` after a failure.
int32_t getDataFolder(int32_t kind, char16_t* destination, size_t size);

// Creates the folder `path` and every missing folder above it, from the
// top down. Returns 0 when the folder exists afterwards (an existing folder
// is success), -1 when the path cannot be resolved or a creation fails for
// another reason (the folders made so far stay).
int32_t makeDirTree(const char16_t* path);

// The walk of makeDirTree over an already full path: calls `makeDir` for
// each folder to be created, top down, with the folder's path. `makeDir`
// returns 0 or an errno value; EEXIST counts as success. Drive roots
// ("C:\") and network server and share parts ("\\server\share\") are never
// created. Returns 0 or -1.
int32_t makeDirTreeWalk(const char16_t* fullPath,
                        int32_t (*makeDir)(const char16_t* path, void* context),
                        void* context);

// The folder part of the executable path `programPath` (cut at its last
// `/` or `\`) in `destination` (`size` units). Returns its length, -2 when
// the path has no separator, -3 when the folder does not fit.
int32_t dataFolderOfProgram(const char16_t* programPath, char16_t* destination,
                            size_t size);

// The platform parts of getDataFolder: the data root used when the
// configuration names none, the common application-data folder (null when
// the system cannot name it), and the separator put between the parts of a
// composed folder ('/' on POSIX systems, '\' on Windows).
const char* dataFolderDefaultRoot(int32_t release);
const char* dataFolderCommonAppData();
char16_t dataFolderSeparator();

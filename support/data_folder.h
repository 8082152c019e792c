// The folders of the product family, named through one entry point, and
// the creation of a folder with all its missing parents.
//
// Folders are composed from the program's own location, the configured data
// root, and for crash reports: on Windows the system's common
// application-data folder plus the vendor key name and product name of the
// configuration (globals.h), C:\ProgramData\quandrilex\Tellan
// USB\crashdumps; on Linux the configured crashDir, else the user's state
// folder plus "hearkener/crashes" (~/.local/state/hearkener/crashes).
//
// Thread-safety: the first use of kinds 2 and 8 loads the configuration (see
// getGlobals); afterwards every call may come from any thread.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int32_t kFolderProgram = 0;     // folder of the running executable
constexpr int32_t kFolderDataRoot = 2;    // data root
constexpr int32_t kFolderCrashDumps = 8;  // where crash reports go

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
// the system cannot name it, and on Linux), and the separator put between
// the parts of a composed folder ('/' on POSIX systems, '\' on Windows).
const char* dataFolderDefaultRoot(int32_t release);
const char* dataFolderCommonAppData();
char16_t dataFolderSeparator();

// True where configuration and crash reports follow the user's folders
// (Linux): the configuration is read from the system's and then the user's
// configuration folder, and crash reports go to the user's state folder,
// which only a crash that writes a report creates. False where both belong
// to the installation (Windows): "defaults.ini" beside the executable, and
// the crash-dump folder made ready at set-up.
bool dataFolderPerUser();

// The system-wide configuration folder, fixed at build time from the install
// prefix (/etc/hearkener for a /usr install); null on Windows.
const char* dataFolderSystemConfig();

// The user's base folders of the XDG layout: $XDG_CONFIG_HOME and
// $XDG_STATE_HOME, or ~/.config and ~/.local/state when the variable is
// unset, empty or relative (the home folder from $HOME, else the user
// database). Stores the folder as UTF-8 in `out` (`size` bytes); false when
// it cannot be named or does not fit, and always on Windows.
enum class UserFolder { kConfig, kState };
bool dataFolderUserBase(UserFolder kind, char* out, size_t size);

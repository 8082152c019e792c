// Wide-path file operations of the support library. Paths are NUL-terminated
// UTF-16 strings; on POSIX systems they are converted to the system's byte
// form (UTF-8) at the system call, on Windows they reach the wide calls as
// they are. One entry point (utf8*) takes the system's byte form directly:
// on POSIX systems the bytes reach the system unchanged, so a name that is
// not UTF-8 (as a POSIX file name may be) still works; on Windows they are
// read as UTF-8 and converted to UTF-16.
//
// Every operation reports failure by its result (none or -1) and leaves the
// system's error code in errno; none prints anything, except the open that
// cannot make its descriptor close-on-exec (it reports that on the console
// and still returns the stream).
//
// Thread-safety: every routine may be called from any thread; they share no
// state. The caller owns every buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Units of the path buffers used by the library (PATH_MAX on Linux),
// terminator included.
constexpr size_t kPathUnits = 4096;

// Opens `path` (in the system's byte form) as fopen does with `mode` and
// makes the descriptor close-on-exec, so that no child program started
// later inherits it. A mode of 10 or more characters is refused without
// touching the file (null, errno EINVAL); so is a path of kPathUnits bytes
// or more (ENAMETOOLONG) and a null path (EINVAL). Returns the stream (the
// caller closes it with fclose), or null with errno set.
// REQUIRES: mode NUL-terminated.
FILE* utf8FopenNoInherit(const char* path, const char* mode);

// Creates the directory. Returns 0, or -1 with errno set (EEXIST when it
// already exists).
int32_t utf16Mkdir(const char16_t* path);

// As utf16Mkdir for a path in the system's byte form; a path of kPathUnits
// bytes or more gives -1 (ENAMETOOLONG), a null path -1 (EINVAL).
int32_t utf8Mkdir(const char* path);

// Creates an empty file at `path` exclusively: when anything exists there
// (a dangling link included) nothing is touched and the result is -1 with
// errno EEXIST. Returns 0, or -1 with errno set. Same path rules as
// utf8Mkdir.
int32_t utf8CreateNew(const char* path);

// Resolves `path` against the current directory into an absolute path
// without "." and ".." parts or repeated separators, in `destination`
// (`size` units), and returns `destination`. Works for paths that do not
// exist (nothing is looked up; symbolic links are not resolved). Both `/`
// and `\` separate parts; the result uses the system's separator (`/` on
// POSIX systems, `\` on Windows, where a bare drive "C:" names its root).
// Null (errno ERANGE) when the result does not fit; `destination` then holds
// nothing promised.
// REQUIRES: path non-null; destination holds `size` units.
char16_t* utf16FullPath(char16_t* destination, const char16_t* path,
                        size_t size);

// The lexical part of utf16FullPath: joins a relative `path` to `base` (an
// absolute path) and normalises the result into `destination`, with `/`
// between parts. The root is base's: "/", a drive ("C:\" or "C:/", kept as
// "C:/") or a server and share ("\\server\share", kept as "//server/share");
// ".." never climbs above it, and a `path` that starts with a separator
// starts at it. Returns false when it does not fit.
// REQUIRES: base is absolute in one of those forms; path non-null.
bool utf16NormalisePath(char16_t* destination, const char16_t* base,
                        const char16_t* path, size_t size);

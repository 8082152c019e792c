// Names of recordings made from a --record pattern: conversions of the
// local time, the queue name and the file's number, expanded when a
// recording is created; and the exclusive creation of the file under that
// name, with its folders, never over an existing file.
//
// Conversions: %Y %m %d %H %M %S (year, month, day, hour, minute, second,
// zero-padded), %F (%Y-%m-%d), %T (%H-%M-%S: no ':' in a file name), %q
// the queue name ("test" for -t), %n the file's number in the run (from
// 1), %% a percent sign. Any other '%' sequence is refused when the command
// line is read. The pattern's own text is kept as it is, '/' (and on
// Windows '\') separating folders.
//
// The queue name is made safe, the same way on every system: ASCII letters,
// digits, '.', '_' and '-' and valid UTF-8 sequences beyond ASCII are kept,
// every other byte becomes '_', a leading '.' becomes '_' (so a queue name
// never leads into another folder or makes a hidden file), and a name that
// Windows keeps for a device (CON, NUL, COM1, ...) gets a leading '_'.
//
// Thread-safety: pure functions, except createRecordingName (file system).
#pragma once

#include <cstdint>
#include <string>

#include "support/failure.h"

// The moment a name is made for, in local time.
struct PatternTime {
  int year = 1970;
  int month = 1;  // 1 to 12
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// "" when `pattern` can be expanded, else what is wrong with it.
std::string recordPatternError(const char* pattern);

// The name of file `number` for `queue` at `time`.
// REQUIRES: recordPatternError(pattern) is "".
std::string expandRecordPattern(const char* pattern, const PatternTime& time,
                                const char* queue, uint32_t number);

// `text` with the bytes that are unsafe in a file name replaced by '_'.
std::string safeFileNamePart(const std::string& text);

// `name` with "-SUFFIX" put before its extension (the last '.' of its last
// part, unless that part starts with it): "a/b.wav", 2 -> "a/b-2.wav".
std::string nameWithSuffix(const std::string& name, uint32_t suffix);

// The local time now (main thread only: the C library's conversion is not
// reentrant everywhere).
PatternTime localPatternTime();

// Creates the folders that `name` names and then an empty file exclusively
// at `name`, or, when that exists, at nameWithSuffix(name, 2, 3, ...).
// Returns the name created, or "" with the name and the system's reason in
// *failure.
std::string createRecordingName(const std::string& name, Failure* failure);

// Console text output: UTF-16 message text turned into the bytes of the
// character set of the user's locale and written to the standard error
// stream. What the character set cannot show becomes '?', and so does an
// unpaired surrogate. The platform part (console_output_posix.cpp,
// console_output_win32.cpp) finds the character set and writes; the
// encoders here are also used on their own.
//
// Thread-safety: callable from any thread. The encoders share no state;
// consoleWriteText keeps the character set and converter of the run behind
// a lock of its own.
#pragma once

#include <cstddef>
#include <cstdint>

// Shown in place of a character the console cannot show.
constexpr char kConsoleReplacement = '?';

// Bytes that the encoded form of one console message may take: three per
// UTF-16 unit covers UTF-8 and every single- and double-byte set.
constexpr size_t kConsoleBytes = 3 * 4096;

// Encodes `count` units as UTF-8 into `out` (outSize bytes); an unpaired
// surrogate becomes '?'. Stops before the first character that does not fit
// whole. Returns the bytes stored.
size_t consoleEncodeUtf8(const char16_t* units, size_t count, char* out,
                         size_t outSize);

// Encodes `count` units as ASCII: every character past 7F (a surrogate pair
// counts as one) becomes '?'. Returns the bytes stored.
size_t consoleEncodeAscii(const char16_t* units, size_t count, char* out,
                          size_t outSize);

// Encodes `count` units in the character set named `charset` (a name that
// consoleCharset reports: on POSIX systems what nl_langinfo(CODESET) says,
// e.g. "UTF-8", "ISO-8859-1"; on Windows "UTF-8" or "CP" and the code page
// number, e.g. "CP1252"). UTF-8 is encoded directly, other sets through the
// system's converter; when that does not know the set, ASCII is used. Returns the bytes stored; text that
// does not fit in outSize is cut at a character boundary.
size_t consoleEncode(const char* charset, const char16_t* units, size_t count,
                     char* out, size_t outSize);

// The character set of the user's locale, as the environment (LC_ALL,
// LC_CTYPE, LANG) names it at the time of the call, copied into `name`
// (nameSize bytes, terminated). An unknown locale gives the C locale's set.
// On Windows it is the console output code page (the ANSI code page without
// a console), named as consoleEncode reads it.
// REQUIRES: nameSize >= 1.
void consoleCharset(char* name, size_t nameSize);

// Encodes `count` units for the console and writes them to the standard
// error stream (descriptor 2) with one write, unbuffered. The character set
// is looked up on the first call of the run (consoleCharset) and kept. Line
// ends are the platform's: on POSIX systems each "\r\n" is written as "\n".
// A write that fails or stops taking bytes drops the rest of the message
// (EPIPE included); errno is left as it was. Returns the bytes written.
int32_t consoleWriteText(const char16_t* units, size_t count);

// As consoleWriteText, to the standard output stream (descriptor 1): for
// text the operator asked for (--help), not for messages.
int32_t consoleWriteOutputText(const char16_t* units, size_t count);

// Makes the next consoleWriteText look the character set up again, for a
// caller that changed the locale's environment variables (tests do).
void consoleCharsetReload();

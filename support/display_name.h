// A file or program name as console messages show it. Names are UTF-8 bytes
// everywhere inside the program; a message passes the shown form to the
// console layer with %Ds, which converts it once for the console.
//
// Thread-safety: a pure function.
#pragma once

#include <string>

// `utf8` as valid UTF-8 on one line: well-formed characters stay as they
// are (a backslash included); tab, line feed and carriage return become
// "\t", "\n" and "\r"; other C0 controls, 7F and every byte that is not part
// of a well-formed sequence become "\xHH" (upper-case hex digits). Null
// gives "(null)".
std::string displayName(const char* utf8);

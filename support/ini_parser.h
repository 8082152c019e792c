// The reader of "defaults.ini": lines of the form `key = value`, each
// overwriting one field of the configuration record through the value kind
// of its key (globals_key_table.h), or, for a key whose value is only
// checked, none. Comment lines (first character `#` or
// `=`), lines without `=`, unknown keys and rejected values are skipped
// without a message; only an uninterpretable enumeration name is reported
// on the console. Input of any content and length is handled safely: no
// value is written past its field.
//
// Thread-safety: the functions write only the record they are given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "support/globals_key_table.h"

struct Globals;

// Bytes of one line read from the file, terminator included; a longer line
// is read as several lines.
constexpr int32_t kIniLineBytes = 260;
// Only this many characters of a line are searched for the `=`.
constexpr int32_t kIniKeySearch = 128;

// Reads every line of `file` into `globals`.
// REQUIRES: file open for reading; globals non-null.
void iniReadFile(Globals* globals, FILE* file);

// Applies one line (NUL-terminated, its line end included if it had one).
void iniParseLine(Globals* globals, const char* line);

// Parses `value` (the text after the `=`, line end included) by the kind of
// `key` into its field of `globals`. Returns false when the value was
// rejected; the field then keeps its value, except a text field, which is
// left empty when the value does not fit.
bool iniParseValue(Globals* globals, const GlobalsKey& key, const char* value);

// The text kind: trims white space, drops enclosing double quotes, resolves
// backslash escapes (\a \b \f \n \r \t \v; a backslash before any other
// character stands for one backslash and swallows that character; a final
// backslash stays) into `field` of `size` bytes. The field is cleared first;
// a text that does not fit with its terminator is rejected (false) and the
// field stays empty.
bool iniParseText(const char* value, char* field, size_t size);

// Skips spaces and tabs at the start of `text`, then finds the first entry
// of `table` (ended by an empty name) whose name begins the rest. Stores its
// value in *result and returns the characters consumed (blanks and name).
// A text that is exactly one line end gives -1 silently; any other text that
// matches no name gives -1 and the console message
// "getGlobals: can not interpret enum <text>".
// REQUIRES: text, table and result non-null.
int32_t enumLookup(const char* text, const EnumName* table, int32_t* result);

#include "support/ini_parser.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "support/console_report.h"
#include "support/globals.h"

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

bool isWhite(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' ||
         c == '\f';
}

bool isLineEnd(const char* text) {
  return std::strcmp(text, "\n") == 0 || std::strcmp(text, "\r\n") == 0;
}

char escaped(char c) {
  switch (c) {
    case 'a':
      return '\a';
    case 'b':
      return '\b';
    case 'f':
      return '\f';
    case 'n':
      return '\n';
    case 'r':
      return '\r';
    case 't':
      return '\t';
    case 'v':
      return '\v';
    default:
      return '\\';
  }
}

bool parseInteger(const char* value, int32_t* field) {
  char* end = nullptr;
  errno = 0;
  const long long number = std::strtoll(value, &end, 0);
  if (end == value) return false;
  // Out-of-range values saturate, as a 32-bit strtol would.
  if (number > INT32_MAX) {
    *field = INT32_MAX;
  } else if (number < INT32_MIN) {
    *field = INT32_MIN;
  } else {
    *field = static_cast<int32_t>(number);
  }
  return true;
}

bool parseTraceFormat(const char* value, int32_t* field) {
  int32_t first = 0;
  const int32_t used = enumLookup(value, kTraceFormatNames, &first);
  if (used < 0) return false;
  const char* rest = value + used;
  while (isWhite(*rest) || *rest == '|' || *rest == '+') ++rest;
  int32_t second = 0;
  if (*rest != '\0' && enumLookup(rest, kTraceFormatNames, &second) < 0) {
    return false;
  }
  *field = static_cast<int32_t>(static_cast<uint32_t>(first) +
                                static_cast<uint32_t>(second));
  return true;
}

}  // namespace

int32_t enumLookup(const char* text, const EnumName* table, int32_t* result) {
  if (isLineEnd(text)) return -1;
  const char* p = text;
  while (isBlank(*p)) ++p;
  for (const EnumName* entry = table; entry->name[0] != '\0'; ++entry) {
    const size_t length = std::strlen(entry->name);
    if (std::strncmp(p, entry->name, length) == 0) {
      *result = entry->value;
      return static_cast<int32_t>((p - text) + length);
    }
  }
  consoleReport("%s: can not interpret enum %s\r\n", "getGlobals", text);
  return -1;
}

bool iniParseText(const char* value, char* field, size_t size) {
  const char* start = value;
  while (isWhite(*start)) ++start;
  size_t length = std::strlen(start);
  while (length > 0 && isWhite(start[length - 1])) --length;
  if (length > 2 && start[0] == '"' && start[length - 1] == '"') {
    ++start;
    length -= 2;
  }
  std::memset(field, 0, size);
  if (length + 1 > size) return false;
  size_t out = 0;
  for (size_t i = 0; i < length; ++i) {
    if (start[i] == '\\' && i + 1 < length) {
      field[out++] = escaped(start[++i]);
    } else {
      field[out++] = start[i];
    }
  }
  field[out] = '\0';
  return true;
}

bool iniParseValue(Globals* globals, const GlobalsKey& key, const char* value) {
  int32_t number = 0;
  switch (key.kind) {
    case ValueKind::kInteger:
      if (!parseInteger(value, &number)) return false;
      break;
    case ValueKind::kText:
      return iniParseText(
          value, reinterpret_cast<char*>(globals) + key.offset, key.size);
    case ValueKind::kCdriEnum:
      if (enumLookup(value, kCdriNames, &number) < 0) return false;
      break;
    case ValueKind::kDtmfEnum:
      if (enumLookup(value, kDtmfSourceNames, &number) < 0) return false;
      break;
    case ValueKind::kTraceFormat:
      if (!parseTraceFormat(value, &number)) return false;
      break;
  }
  if (key.size != 0) {
    std::memcpy(reinterpret_cast<char*>(globals) + key.offset, &number,
                sizeof number);
  }
  return true;
}

void iniParseLine(Globals* globals, const char* line) {
  if (line[0] == '#' || line[0] == '=') return;
  const char* equals = nullptr;
  for (int32_t i = 0; i < kIniKeySearch && line[i] != '\0'; ++i) {
    if (line[i] == '=') {
      equals = line + i;
      break;
    }
  }
  if (equals == nullptr) return;
  char name[kIniKeySearch + 1];
  size_t length = 0;
  for (const char* p = line; p < equals; ++p) {
    if (!isBlank(*p)) name[length++] = *p;
  }
  name[length] = '\0';
  const GlobalsKey* key = globalsFindKey(name);
  if (key == nullptr) return;
  iniParseValue(globals, *key, equals + 1);
}

void iniReadFile(Globals* globals, FILE* file) {
  char line[kIniLineBytes];
  while (std::fgets(line, sizeof line, file) != nullptr) {
    iniParseLine(globals, line);
  }
}

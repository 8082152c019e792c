#include "support/registry_file.h"

#include <cstring>

#include "support/utf_convert.h"

namespace {

char foldAscii(char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; }

bool equalIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (foldAscii(a[i]) != foldAscii(b[i])) return false;
  }
  return true;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string trim(const std::string& text) {
  size_t start = 0;
  size_t end = text.size();
  while (start < end && (text[start] == ' ' || text[start] == '\t')) ++start;
  while (end > start && (text[end - 1] == ' ' || text[end - 1] == '\t' ||
                         text[end - 1] == '\r')) {
    --end;
  }
  return text.substr(start, end - start);
}

// Reads a quoted text starting at text[*pos] == '"', resolving \\ and \".
// Leaves *pos after the closing quote. False when it is not closed.
bool readQuoted(const std::string& text, size_t* pos, std::string* out) {
  out->clear();
  size_t i = *pos + 1;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '"') {
      *pos = i + 1;
      return true;
    }
    if (c == '\\' && i + 1 < text.size()) {
      out->push_back(text[i + 1]);
      i += 2;
    } else {
      out->push_back(c);
      ++i;
    }
  }
  return false;
}

bool parseHexBytes(const std::string& text, std::vector<uint8_t>* out) {
  out->clear();
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i >= text.size()) break;
    if (i + 1 >= text.size()) return false;
    const int high = hexDigit(text[i]);
    const int low = hexDigit(text[i + 1]);
    if (high < 0 || low < 0) return false;
    out->push_back(static_cast<uint8_t>(high * 16 + low));
    i += 2;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i < text.size()) {
      if (text[i] != ',') return false;
      ++i;
    }
  }
  return true;
}

// Parses the text after `=`. False when it fits no form.
bool parseData(const std::string& text, RegistryValue* value) {
  if (!text.empty() && text[0] == '"') {
    size_t pos = 0;
    std::string content;
    if (!readQuoted(text, &pos, &content)) return false;
    value->type = kRegTypeString;
    value->data.assign(content.begin(), content.end());
    value->data.push_back(0);
    return true;
  }
  if (text.compare(0, 6, "dword:") == 0) {
    const std::string digits = trim(text.substr(6));
    if (digits.empty() || digits.size() > 8) return false;
    uint32_t number = 0;
    for (char c : digits) {
      const int digit = hexDigit(c);
      if (digit < 0) return false;
      number = number * 16 + static_cast<uint32_t>(digit);
    }
    value->type = kRegTypeDword;
    value->data = {
        static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8),
        static_cast<uint8_t>(number >> 16), static_cast<uint8_t>(number >> 24)};
    return true;
  }
  if (text.compare(0, 4, "hex:") == 0) {
    value->type = kRegTypeBinary;
    return parseHexBytes(text.substr(4), &value->data);
  }
  if (text.compare(0, 4, "hex(") == 0) {
    const size_t close = text.find("):", 4);
    if (close == std::string::npos || close == 4 || close > 12) return false;
    uint32_t type = 0;
    for (size_t i = 4; i < close; ++i) {
      const int digit = hexDigit(text[i]);
      if (digit < 0) return false;
      type = type * 16 + static_cast<uint32_t>(digit);
    }
    value->type = type;
    return parseHexBytes(text.substr(close + 2), &value->data);
  }
  return false;
}

// Values kept per section at most; further names are ignored, which bounds
// the work of the name look-ups on a huge file.
constexpr size_t kMaxValuesPerSection = 4096;

void storeValue(std::vector<RegistryValue>* values, RegistryValue value) {
  for (RegistryValue& existing : *values) {
    if (equalIgnoringCase(existing.name, value.name)) {
      existing = std::move(value);
      return;
    }
  }
  if (values->size() < kMaxValuesPerSection)
    values->push_back(std::move(value));
}

void deleteValue(std::vector<RegistryValue>* values, const std::string& name) {
  for (size_t i = 0; i < values->size(); ++i) {
    if (equalIgnoringCase((*values)[i].name, name)) {
      values->erase(values->begin() + static_cast<std::ptrdiff_t>(i));
      return;
    }
  }
}

void parseValueLine(const std::string& line,
                    std::vector<RegistryValue>* values) {
  std::string name;
  size_t pos = 0;
  if (line[0] == '@') {
    pos = 1;
  } else if (line[0] != '"' || !readQuoted(line, &pos, &name)) {
    return;
  }
  while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
  if (pos >= line.size() || line[pos] != '=') return;
  const std::string data = trim(line.substr(pos + 1));
  if (data == "-") {
    deleteValue(values, name);
    return;
  }
  RegistryValue value;
  value.name = name;
  if (parseData(data, &value)) storeValue(values, std::move(value));
}

}  // namespace

bool registryFileReadSection(const char* text, size_t length,
                             const std::string& sectionPath,
                             std::vector<RegistryValue>* values) {
  values->clear();
  size_t pos = 0;
  if (length >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0) pos = 3;
  bool inSection = false;
  bool found = false;
  std::string line;
  while (pos < length) {
    // One logical line: physical lines joined while a line ends in a
    // backslash (the continuation of hex values).
    line.clear();
    for (;;) {
      const char* start = text + pos;
      const void* newline = std::memchr(start, '\n', length - pos);
      const size_t end =
          newline != nullptr
              ? static_cast<size_t>(static_cast<const char*>(newline) - text)
              : length;
      std::string part = trim(std::string(start, end - pos));
      pos = end < length ? end + 1 : length;
      const bool continued =
          !part.empty() && part.back() == '\\' &&
          (part.compare(0, 4, "hex:") == 0 ||
           part.find("=hex") != std::string::npos || !line.empty());
      if (continued) part.pop_back();
      line += part;
      if (!continued || pos >= length) break;
    }
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      inSection = false;
      if (line.back() != ']' || line.size() < 2) continue;
      const std::string path = line.substr(1, line.size() - 2);
      if (!path.empty() && path[0] == '-') {
        if (equalIgnoringCase(path.substr(1), sectionPath)) {
          values->clear();
          found = false;
        }
        continue;
      }
      inSection = equalIgnoringCase(path, sectionPath);
      found = found || inSection;
      continue;
    }
    if (inSection) parseValueLine(line, values);
  }
  return found;
}

std::string registryFileToUtf8(const std::string& bytes) {
  if (bytes.size() < 2 || static_cast<uint8_t>(bytes[0]) != 0xFF ||
      static_cast<uint8_t>(bytes[1]) != 0xFE) {
    return bytes;
  }
  std::u16string wide;
  wide.reserve(bytes.size() / 2);
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
    const char16_t unit =
        static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                              (static_cast<uint8_t>(bytes[i + 1]) << 8));
    if (unit == 0) break;
    wide.push_back(unit);
  }
  std::string narrow(wide.size() * 3 + 1, '\0');
  const UtfCopyResult copied =
      utf16ToUtf8Convert(&narrow[0], wide.c_str(), narrow.size());
  // On failure the text converted before the bad sequence stands.
  const size_t kept =
      copied.status == UtfStatus::kOk ? copied.written - 1 : copied.written;
  narrow.resize(kept);
  return narrow;
}

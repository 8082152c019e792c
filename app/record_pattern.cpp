#include "app/record_pattern.h"

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "support/file_utils.h"
#include "support/system_error.h"

namespace {

// The most suffixes tried before giving up on a name.
constexpr uint32_t kMaxSuffix = 100000;

bool isSeparator(char c) {
#ifdef _WIN32
  return c == '/' || c == '\\';
#else
  return c == '/';
#endif
}

bool isSafeAscii(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
         (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
}

// Length of the valid UTF-8 sequence beyond ASCII at text[i], else 0.
size_t utf8SequenceAt(const std::string& text, size_t i) {
  const unsigned char lead = static_cast<unsigned char>(text[i]);
  size_t length = 0;
  uint32_t code = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    const unsigned char next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) return 0;
    code = (code << 6) | (next & 0x3F);
  }
  const bool overlong = (length == 3 && code < 0x800) ||
                        (length == 4 && code < 0x10000);
  const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
  if (overlong || surrogate || code > 0x10FFFF) return 0;
  return length;
}

void appendNumber(std::string* out, int value, int width) {
  char digits[16];
  snprintf(digits, sizeof digits, "%0*d", width, value);
  *out += digits;
}

// "first-second-third", the last two of two digits.
void appendDashed(std::string* out, int first, int firstWidth, int second,
                  int third) {
  appendNumber(out, first, firstWidth);
  *out += '-';
  appendNumber(out, second, 2);
  *out += '-';
  appendNumber(out, third, 2);
}

// True for the names that Windows keeps for devices (CON, NUL, COM1, ...),
// in any case.
bool isDeviceName(const std::string& name) {
  std::string upper;
  for (const char c : name) {
    upper += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  for (const char* device : {"CON", "PRN", "AUX", "NUL"}) {
    if (upper == device) return true;
  }
  return upper.size() == 4 &&
         (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0) &&
         upper[3] >= '1' && upper[3] <= '9';
}

}  // namespace

std::string safeFileNamePart(const std::string& text) {
  std::string safe = isDeviceName(text) ? "_" : "";
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      safe += isSafeAscii(c) && !(c == '.' && i == 0) ? text[i] : '_';
      ++i;
      continue;
    }
    const size_t length = utf8SequenceAt(text, i);
    if (length == 0) {
      safe += '_';
      ++i;
    } else {
      safe.append(text, i, length);
      i += length;
    }
  }
  return safe;
}

std::string recordPatternError(const char* pattern) {
  if (pattern == nullptr || pattern[0] == '\0') return "empty record pattern";
  for (const char* p = pattern; *p != '\0'; ++p) {
    if (*p != '%') continue;
    const char c = *++p;
    if (c == '\0') return "record pattern ends with '%'";
    if (std::string("YmdHMSFTqn%").find(c) == std::string::npos) {
      return std::string("unknown conversion '%") + c + "' in record pattern";
    }
  }
  const std::string text = pattern;
  if (isSeparator(text.back())) return "record pattern names a folder";
  return "";
}

std::string expandRecordPattern(const char* pattern, const PatternTime& time,
                                const char* queue, uint32_t number) {
  std::string out;
  for (const char* p = pattern; *p != '\0'; ++p) {
    if (*p != '%') {
      out += *p;
      continue;
    }
    switch (*++p) {
      case 'Y': appendNumber(&out, time.year, 4); break;
      case 'm': appendNumber(&out, time.month, 2); break;
      case 'd': appendNumber(&out, time.day, 2); break;
      case 'H': appendNumber(&out, time.hour, 2); break;
      case 'M': appendNumber(&out, time.minute, 2); break;
      case 'S': appendNumber(&out, time.second, 2); break;
      case 'F': appendDashed(&out, time.year, 4, time.month, time.day); break;
      // '-' in place of ':', which file names may not hold.
      case 'T': appendDashed(&out, time.hour, 2, time.minute, time.second); break;
      case 'q': out += safeFileNamePart(queue != nullptr ? queue : "test"); break;
      case 'n': out += std::to_string(number); break;
      default: out += '%'; break;  // "%%"
    }
  }
  return out;
}

std::string nameWithSuffix(const std::string& name, uint32_t suffix) {
  size_t partStart = 0;
  for (size_t i = 0; i < name.size(); ++i) {
    if (isSeparator(name[i])) partStart = i + 1;
  }
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot <= partStart) dot = name.size();
  return name.substr(0, dot) + "-" + std::to_string(suffix) + name.substr(dot);
}

PatternTime localPatternTime() {
  const std::time_t now = std::time(nullptr);
  const std::tm* local = std::localtime(&now);
  PatternTime time;
  if (local == nullptr) return time;
  time.year = local->tm_year + 1900;
  time.month = local->tm_mon + 1;
  time.day = local->tm_mday;
  time.hour = local->tm_hour;
  time.minute = local->tm_min;
  time.second = local->tm_sec;
  return time;
}

std::string createRecordingName(const std::string& name, Failure* failure) {
  // Every folder on the way, from the outermost; those that exist stay.
  for (size_t i = 1; i < name.size(); ++i) {
    if (!isSeparator(name[i]) || isSeparator(name[i - 1])) continue;
    const std::string folder = name.substr(0, i);
#ifdef _WIN32
    if (folder.size() == 2 && folder[1] == ':') continue;  // a drive
#endif
    // What cannot be made here (a share's root, a drive, no permission)
    // shows in the file's own creation below.
    utf8Mkdir(folder.c_str());
  }
  for (uint32_t suffix = 1; suffix <= kMaxSuffix; ++suffix) {
    const std::string candidate =
        suffix == 1 ? name : nameWithSuffix(name, suffix);
    if (utf8CreateNew(candidate.c_str()) == 0) return candidate;
    if (errno != EEXIST) {
      *failure = Failure{candidate, systemErrorText(errno)};
      return "";
    }
  }
  *failure = Failure{name, "every suffix up to -" + std::to_string(kMaxSuffix) +
                               " is taken"};
  return "";
}

#include "support/text_format.h"

#include <cstdarg>
#include <cstdint>

#include "support/format_core.h"
#include "support/format_sink.h"

namespace {

template <typename Unit>
using Engine = int32_t (*)(const char*, va_list, FormatSink<Unit>*);

template <typename Unit>
int32_t formatTerminated(Engine<Unit> engine, Unit* buffer, size_t capacity,
                         const char* format, va_list args) {
  // There is no unit to terminate in an empty buffer.
  if (buffer == nullptr || capacity == 0) return -1;
  FormatSink<Unit> sink{
      buffer, 0,
      capacity > INT32_MAX ? INT32_MAX : static_cast<int32_t>(capacity)};
  const int32_t result = engine(format, args, &sink);
  if (result >= 0 && sink.count < sink.capacity) {
    buffer[sink.count] = 0;
    return result;
  }
  buffer[sink.capacity - 1] = 0;
  return -sink.capacity;
}

}  // namespace

int32_t utf16Vsnprintf(char16_t* buffer, size_t capacity, const char* format,
                       va_list args) {
  return formatTerminated<char16_t>(utf16FormatCore, buffer, capacity, format,
                                    args);
}

int32_t utf16Snprintf(char16_t* buffer, size_t capacity, const char* format,
                      ...) {
  va_list args;
  va_start(args, format);
  const int32_t result = formatTerminated<char16_t>(utf16FormatCore, buffer,
                                                    capacity, format, args);
  va_end(args);
  return result;
}

int32_t utf8Snprintf(char* buffer, size_t capacity, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int32_t result =
      formatTerminated<char>(utf8FormatCore, buffer, capacity, format, args);
  va_end(args);
  return result;
}

int32_t utf8Vsnprintf(char* buffer, size_t capacity, const char* format,
                      va_list args) {
  return formatTerminated<char>(utf8FormatCore, buffer, capacity, format, args);
}

// The settings of the crash handler, the same on every platform.
#include "support/crash_handler.h"

#include "support/crash_report_text.h"
#include "support/utf_convert.h"

CrashSettings crashSettings;

void crashCopyUtf8(const char16_t* text, char* out, size_t size) {
  if (text == nullptr ||
      utf16ToUtf8Convert(out, text, size).status != UtfStatus::kOk) {
    out[0] = '\0';
  }
}

void crashHandlerSetAppName(const char16_t* name) {
  crashCopyUtf8(name, crashSettings.appName, sizeof crashSettings.appName);
}

void crashHandlerSetSupportEMail(const char* address) {
  size_t length = 0;
  if (address != nullptr) {
    while (address[length] != '\0' &&
           length + 1 < sizeof crashSettings.supportEMail) {
      crashSettings.supportEMail[length] = address[length];
      ++length;
    }
  }
  crashSettings.supportEMail[length] = '\0';
}

void crashHandlerSetFlags(int32_t flags) { crashSettings.flags = flags; }

void crashHandlerSetActivityType(int32_t activity) {
  crashSettings.activityType = activity;
}

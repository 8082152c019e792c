#include "support/crash_reporting.h"

#include "support/crash_handler.h"
#include "support/data_folder.h"
#include "support/deployment.h"
#include "support/file_utils.h"
#include "support/text_format.h"
#include "support/time_stamp.h"
#include "support/utf_convert.h"

namespace {

bool setupDone = false;

}  // namespace

void crashReportingSetup(const char* applicationName) {
  if (setupDone) return;
  setupDone = true;

  char16_t name[kPathUnits];
  if (utf8ToUtf16Convert(name, applicationName, kPathUnits).status !=
      UtfStatus::kOk) {
    name[0] = 0;
  }
  crashHandlerSetAppName(name);
  crashHandlerSetSupportEMail(kSupportEMail);
  crashHandlerSetFlags(kCrashFlagDetailedMode);

  char16_t folder[kPathUnits];
  if (getDataFolder(kFolderCrashDumps, folder, kPathUnits) >= 0) {
    // A per-user folder is made by the crash that writes a report.
    if (!dataFolderPerUser()) makeDirTree(folder);
    crashHandlerSetActivityType(kCrashActivitySaveReport);
    char stamp[kTimeStampBytes];
    char16_t path[kPathUnits];
    // A path too long for the buffer is cut, as the report path may be.
    utf16Snprintf(path, kPathUnits, "%ls%cCrash-%s-%s", folder,
                  static_cast<int>(dataFolderSeparator()), applicationName,
                  localTimeStamp(stamp));
    crashHandlerSetReportFilePath(path);
  }
  crashHandlerInstall();
}

#include "support/globals_key_table.h"

#include <cstddef>

#include "support/globals.h"

// Keys are looked up in this order; the names are the field names.
#define HK_KEY(field, kind)                                                   \
  GlobalsKey {                                                                \
#field, ValueKind::kind, offsetof(Globals, field), sizeof(Globals::field) \
  }

const GlobalsKey globalsKeyTable[] = {
    HK_KEY(release, kInteger),
    HK_KEY(dir, kText),
    HK_KEY(e1imageP, kText),
    HK_KEY(e1image, kText),
    HK_KEY(e1imold, kText),
    HK_KEY(s0imageH, kText),
    HK_KEY(s0imageP, kText),
    HK_KEY(s0image, kText),
    HK_KEY(a2imold, kText),
    HK_KEY(a2image, kText),
    HK_KEY(a8image, kText),
    HK_KEY(s4image, kText),
    HK_KEY(s2image, kText),
    HK_KEY(s4imageE, kText),
    HK_KEY(s2imageE, kText),
    HK_KEY(filenameATM, kText),
    HK_KEY(filename3, kText),
    HK_KEY(filename4, kText),
    HK_KEY(quandriChunk, kInteger),
    HK_KEY(cdr3, kText),
    HK_KEY(cdrhdr3, kText),
    HK_KEY(cdrnet3, kText),
    HK_KEY(lineState, kInteger),
    HK_KEY(dump_duration, kInteger),
    HK_KEY(decoder_fmt, kTraceFormat),
    HK_KEY(isT1, kInteger),
    HK_KEY(noCrc4, kInteger),
    HK_KEY(dtrace_fmt, kTraceFormat),
    HK_KEY(dcdr_fmt, kTraceFormat),
    HK_KEY(btrace_fmt, kTraceFormat),
    HK_KEY(bvoice_fmt, kTraceFormat),
    HK_KEY(bfax_fmt, kTraceFormat),
    HK_KEY(a2_fmt, kTraceFormat),
    HK_KEY(bvoiceA2_fmt, kTraceFormat),
    HK_KEY(bfaxA2_fmt, kTraceFormat),
    HK_KEY(a2VoxDelay, kInteger),
    HK_KEY(a2Options, kInteger),
    HK_KEY(a2Gain, kInteger),
    HK_KEY(aFirstDigitTimeout, kInteger),
    HK_KEY(aInterDigitTimeout, kInteger),
    HK_KEY(callMatchingMinDelay, kInteger),
    HK_KEY(callMatchingMaxDelay, kInteger),
    HK_KEY(offhookThreshold, kInteger),
    HK_KEY(dChannelOnly, kInteger),
    HK_KEY(l1Log, kInteger),
    HK_KEY(useOldE1Firmware, kInteger),
    HK_KEY(robbedBitMode, kInteger),
    HK_KEY(disableE1Compressor, kInteger),
    HK_KEY(e1T1RawDump, kInteger),
    HK_KEY(useOldS0Firmware, kInteger),
    HK_KEY(disablePort, kInteger),
    HK_KEY(port, kInteger),
    HK_KEY(cdrInterval, kCdriEnum),
    HK_KEY(key, kText),
    HK_KEY(quota, kInteger),
    HK_KEY(autoArchive, kCdriEnum),
    HK_KEY(notOlderThanInDays, kInteger),
    HK_KEY(debug, kInteger),
    HK_KEY(minDuration, kInteger),
    HK_KEY(maxDuration, kInteger),
    HK_KEY(disconnectWaiting, kInteger),
    HK_KEY(encrypted, kInteger),
    HK_KEY(useAcmCodec, kInteger),
    HK_KEY(dtmfPeriod, kInteger),
    HK_KEY(dtmfTimeout, kInteger),
    HK_KEY(dtmfSource, kDtmfEnum),
    HK_KEY(controlMode, kInteger),
    HK_KEY(dtmfStart, kText),
    HK_KEY(dtmfStop, kText),
    HK_KEY(dtmfKeep, kText),
    HK_KEY(dtmfDrop, kText),
    HK_KEY(dtmfMute, kText),
    HK_KEY(dtmfId, kText),
    HK_KEY(dtmfIdExtField, kInteger),
    HK_KEY(dtmfFastTrigger, kInteger),
    HK_KEY(dtmfForwardTwist, kInteger),
    HK_KEY(dtmfReverseTwist, kInteger),
    HK_KEY(a2VoxLevel, kInteger),
    HK_KEY(driver, kText),
    HK_KEY(drvOptions, kWideText),
    HK_KEY(printDevWrite, kInteger),
    HK_KEY(ldccUtc, kInteger),
    HK_KEY(l1msgs, kInteger),
    HK_KEY(earlyMediaSec, kInteger),
    HK_KEY(ntGain, kInteger),
    HK_KEY(teGain, kInteger),
    HK_KEY(forceCodec, kInteger),
    HK_KEY(dumpUnconnected, kInteger),
    HK_KEY(ymdFolders, kInteger),
    HK_KEY(dbInitSql, kTemplate),
    HK_KEY(dbInsertSql, kTemplate),
    HK_KEY(dbSeqSql, kTemplate),
    HK_KEY(dbSqlSelectTemplate, kTemplate),
    HK_KEY(dbSchema, kSchema),
    HK_KEY(srvDisplayName, kText),
    HK_KEY(vendor, kText),
    HK_KEY(version, kText),
    HK_KEY(regPath, kText),
    HK_KEY(dumpLink, kText),
    HK_KEY(usbDrvFlags, kInteger),
    HK_KEY(smtpPort, kInteger),
    HK_KEY(smtpHost, kText),
    HK_KEY(smtpUser, kText),
    HK_KEY(smtpPass, kText),
    HK_KEY(smtpTls, kInteger),
    HK_KEY(smtpFrom, kText),
    HK_KEY(smtpSubject, kText),
    HK_KEY(smtpMsg, kText),
    HK_KEY(smtpAdminAddress, kText),
    HK_KEY(smtpMinInterval, kInteger),
    HK_KEY(internationalPrefix, kText),
    HK_KEY(nationalPrefix, kText),
    HK_KEY(subscriberPrefix, kText),
    HK_KEY(logPort, kInteger),
    HK_KEY(logServer, kText),
    HK_KEY(logLevelConsole, kInteger),
    HK_KEY(logLevelFile, kInteger),
    HK_KEY(logLevelNetQ, kInteger),
    HK_KEY(logLevelSyslog, kInteger),
    HK_KEY(logLevelMail, kInteger),
    HK_KEY(logDebugMask, kInteger),
    HK_KEY(enableEventLog, kInteger),
    HK_KEY(maxSyslogSizeKB, kInteger),
    HK_KEY(maxSyslogAgeDays, kInteger),
    HK_KEY(maxEventLogAgeDays, kInteger),
    HK_KEY(voipServers, kText),
    HK_KEY(sipG711Dtmf, kInteger),
    HK_KEY(sipVlanId, kInteger),
    HK_KEY(sipTcpChecksum, kInteger),
    HK_KEY(usePreferredIdentityInsteadOfFrom, kInteger),
    HK_KEY(phoneBookName, kText),
    HK_KEY(phoneBookSchema, kTemplate),
    HK_KEY(phoneBookVersion, kText),
    HK_KEY(mountRwCmd, kText),
    HK_KEY(mountRoCmd, kText),
    HK_KEY(postProcessor, kText),
    HK_KEY(postProcArgs, kText),
    HK_KEY(hashFunction, kText),
    HK_KEY(chroot, kText),
    HK_KEY(sslEncryption, kInteger),
    HK_KEY(authRequired, kInteger),
};

#undef HK_KEY

const size_t globalsKeyCount =
    sizeof globalsKeyTable / sizeof globalsKeyTable[0];

const EnumName kCdriNames[] = {
    {"CDRI_ACTUAL", 0},     {"CDRI_HOURLY", 1},  {"CDRI_DAILY", 2},
    {"CDRI_WEEKLY", 3},     {"CDRI_MONTHLY", 4}, {"CDRI_QUARTERLY", 5},
    {"CDRI_HALFYEARLY", 6}, {"CDRI_YEARLY", 7},  {"", 0},
};

const EnumName kDtmfSourceNames[] = {
    {"DTMF_SRC_ANY", 0},
    {"DTMF_SRC_TE", 1},
    {"DTMF_SRC_NT", 2},
    {"", 0},
};

// The trace and recording format names belong to the recording service,
// which owns their values; this program knows none of them, so every
// *_fmt value is reported as uninterpretable and the field keeps its value.
const EnumName kTraceFormatNames[] = {
    {"", 0},
};

namespace {

char foldAscii(char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; }

bool equalIgnoringCase(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    if (foldAscii(*a) != foldAscii(*b)) return false;
  }
  return *a == *b;
}

}  // namespace

const GlobalsKey* globalsFindKey(const char* name) {
  for (size_t i = 0; i < globalsKeyCount; ++i) {
    if (equalIgnoringCase(globalsKeyTable[i].name, name)) {
      return &globalsKeyTable[i];
    }
  }
  return nullptr;
}

// Globals: the support library's process-wide configuration record, shared
// by the product family. It is filled on the first getGlobals from three
// layers in order: built-in defaults, "defaults.ini" beside the executable,
// and values under the family's registry key (see reg_compat.h). This
// program consults only the identity and folder fields (release, dir,
// regPath, productName), which decide where crash reports go; every other
// field serves the recording service and is only parsed.
//
// Thread-safety: loading takes no lock. The first getGlobals must happen
// before other threads use the record (the program calls it at start on the
// main thread); afterwards the record is read-only.
#pragma once

#include <cstdint>

// The parsed form of a schema value: rows of columns of short texts.
constexpr int32_t kSchemaRows = 64;
constexpr int32_t kSchemaColumns = 5;
constexpr int32_t kSchemaCellBytes = 64;
struct GlobalsSchema {
  int32_t rowCount;
  char cells[kSchemaRows][kSchemaColumns][kSchemaCellBytes];
};

// Text fields are narrow, NUL-terminated and hold at most their size minus
// one byte; integers are signed 32-bit. The field names are the key names of
// globalsKeyTable (globals_key_table.h); productName and serviceName come
// only from the defaults and the registry.
struct Globals {
  int32_t release;
  char dir[1024];
  char e1imageP[260], e1image[260], e1imold[260], s0imageH[260], s0imageP[260],
      s0image[260], a2imold[260], a2image[260], a8image[260], s4image[260],
      s2image[260], s4imageE[260], s2imageE[260];
  char filenameATM[260], filename3[260], filename4[260];
  int32_t quandriChunk;
  char cdr3[260], cdrhdr3[260], cdrnet3[260];
  int32_t lineState, dump_duration;
  int32_t decoder_fmt;
  int32_t isT1, noCrc4;
  int32_t dtrace_fmt, dcdr_fmt, btrace_fmt, bvoice_fmt, bfax_fmt, a2_fmt,
      bvoiceA2_fmt, bfaxA2_fmt;
  int32_t a2VoxDelay, a2Options, a2Gain, aFirstDigitTimeout, aInterDigitTimeout,
      callMatchingMinDelay, callMatchingMaxDelay, offhookThreshold,
      dChannelOnly, l1Log, useOldE1Firmware, robbedBitMode, disableE1Compressor,
      e1T1RawDump, useOldS0Firmware, disablePort, port;
  int32_t cdrInterval;
  char key[128];
  int32_t quota;
  int32_t autoArchive;
  int32_t notOlderThanInDays, debug, minDuration, maxDuration,
      disconnectWaiting, encrypted, useAcmCodec, dtmfPeriod, dtmfTimeout;
  int32_t dtmfSource;
  int32_t controlMode;
  char dtmfStart[32], dtmfStop[32], dtmfKeep[32], dtmfDrop[32], dtmfMute[32],
      dtmfId[32];
  int32_t dtmfIdExtField, dtmfFastTrigger, dtmfForwardTwist, dtmfReverseTwist,
      a2VoxLevel;
  char driver[128];
  char16_t drvOptions[128];  // 256 bytes: 128 UTF-16 units
  int32_t printDevWrite, ldccUtc, l1msgs, earlyMediaSec, ntGain, teGain,
      forceCodec, dumpUnconnected, ymdFolders;
  char dbInitSql[1024], dbInsertSql[1024], dbSeqSql[1024],
      dbSqlSelectTemplate[1024];
  GlobalsSchema dbSchema;
  char srvDisplayName[128];
  char vendor[128];
  char version[128];
  char regPath[128];
  char dumpLink[260];
  int32_t usbDrvFlags, smtpPort;
  char smtpHost[128], smtpUser[128], smtpPass[128];
  int32_t smtpTls;
  char smtpFrom[128], smtpSubject[256], smtpMsg[1024], smtpAdminAddress[128];
  int32_t smtpMinInterval;
  char internationalPrefix[32], nationalPrefix[32], subscriberPrefix[32];
  int32_t logPort;
  char logServer[128];
  int32_t logLevelConsole, logLevelFile, logLevelNetQ, logLevelSyslog,
      logLevelMail, logDebugMask, enableEventLog, maxSyslogSizeKB,
      maxSyslogAgeDays, maxEventLogAgeDays;
  char voipServers[1024];
  int32_t sipG711Dtmf, sipVlanId, sipTcpChecksum,
      usePreferredIdentityInsteadOfFrom;
  char phoneBookName[128], phoneBookSchema[1024], phoneBookVersion[128];
  char mountRwCmd[260], mountRoCmd[260], postProcessor[260], postProcArgs[1024],
      hashFunction[128], chroot[260];
  int32_t sslEncryption, authRequired;

  char productName[128];
  char serviceName[128];
};

// The record, loaded completely on the first call; later calls return it
// unchanged. Never null; lives until the process ends.
Globals* getGlobals();

// Fills every field with its built-in default (loading step 1).
void globalsSetDefaults(Globals* globals);

// Loads `globals` as getGlobals does, reading the configuration file at the
// UTF-8 path `iniPath` (null or a missing file: none) and the registry
// store. Sets the registry base path as a side effect. The seam of
// getGlobals, which passes "defaults.ini" in the program folder.
void globalsLoad(Globals* globals, const char* iniPath);

// Decodes `hex` (two hexadecimal characters per byte; a pair with any other
// character gives 0, which ends the text; a trailing odd character is
// ignored) into `out` of `size` bytes, always NUL-terminated (cut to fit).
// REQUIRES: size >= 1.
void globalsHexDecode(const char* hex, char* out, int32_t size);

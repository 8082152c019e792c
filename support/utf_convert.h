// Strict copies of NUL-terminated strings between UTF-8 and UTF-16.
//
// A copy converts the whole source, its terminator included. It stops at
// the first sequence it cannot convert with one of three outcomes: "source
// exhausted" (a sequence runs past the source's terminator), "target
// exhausted" (the next whole character does not fit) or "source illegal"
// (ill-formed UTF-8: overlong forms, encoded surrogates, values past
// 10FFFF, bad lead or continuation bytes; or, in UTF-16, an unpaired
// surrogate). The destination then keeps the text converted before that
// sequence and NO terminator of its own, and "%s: conversion failed (%s)\n"
// goes to the debug trace.
//
// Thread-safety: pure functions over caller-owned buffers.
#pragma once

#include <cstddef>

enum class UtfStatus {
  kOk,
  kSourceExhausted,
  kTargetExhausted,
  kSourceIllegal,
};

struct UtfCopyResult {
  UtfStatus status;
  size_t written;   // destination units stored; includes the NUL on kOk
  size_t consumed;  // source units converted; the failing sequence starts here
};

// "source exhausted", "target exhausted", "source illegal"; "ok" for kOk.
const char* utfStatusMessage(UtfStatus status);

// Converts the UTF-8 string `source` into `destination` (capacity
// `destinationSize` units) and tells how it went; failures are traced (see
// above).
// REQUIRES: source non-null and NUL-terminated; destination holds
// destinationSize units (may be null when destinationSize is 0).
UtfCopyResult utf8ToUtf16Convert(char16_t* destination, const char* source,
                                 size_t destinationSize);

// The UTF-16 to UTF-8 counterpart of utf8ToUtf16Convert.
UtfCopyResult utf16ToUtf8Convert(char* destination, const char16_t* source,
                                 size_t destinationSize);

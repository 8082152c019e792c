// The speech codec libraries behind the adapters, each reached the first
// time an adapter asks for one of its functions.
//
// A program built with the default (dynamic) loader maps none of them at
// start-up: a library is loaded by its runtime name on the first request,
// at most once per run, and never unloaded, so a run that decodes no GSM,
// G.726, G.729 or G.722 never pays for them. A build that links the
// libraries instead answers the same requests from a table filled at link
// time; the adapters cannot tell the two apart.
//
// A library that cannot be loaded, or lacks a function asked for, makes the
// request fail; one line per library and run names it, reported as
// kCodecUnavailable to the loader's reporter.
//
// Thread-safety: every function may be called from any thread.
#pragma once

#include "support/reporter.h"

enum class CodecLibrary { kGsm, kBcg729, kAvcodec, kAvutil, kSpandsp };

// The address of any function, as the loader hands it out.
using CodecFunction = void (*)();

// The function `name` of `library`, or nullptr when the library cannot be
// loaded or lacks it.
// REQUIRES: name non-null.
CodecFunction codecLibraryFunction(CodecLibrary library, const char* name);

// Makes the loader report to `reporter` (null: the console) from now on.
// REQUIRES: *reporter stays valid until it is replaced.
void codecLibrarySetReporter(Reporter* reporter);

// The loader's reporter (null: the console).
Reporter* codecLibraryReporter();

// The runtime name of `library` (the file the dynamic loader looks for).
const char* codecLibraryName(CodecLibrary library);

// Stores the function `name` of `library` in *slot, typed as the caller's
// declaration of it. Returns false (and leaves *slot) when it is missing.
template <typename Function>
[[nodiscard]] bool codecLibraryResolve(CodecLibrary library, const char* name,
                                       Function* slot) {
  const CodecFunction found = codecLibraryFunction(library, name);
  if (found == nullptr) return false;
  *slot = reinterpret_cast<Function>(found);
  return true;
}

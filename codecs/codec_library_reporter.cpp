#include <atomic>

#include "codecs/codec_library.h"

namespace {

std::atomic<Reporter*> loaderReporter{nullptr};

}  // namespace

void codecLibrarySetReporter(Reporter* reporter) {
  loaderReporter.store(reporter);
}

Reporter* codecLibraryReporter() { return loaderReporter.load(); }

// Test helpers for console output: standard error captured into a file,
// and LC_ALL set for a while.
//
// Thread-safety: both change process-wide state (descriptor 2, the
// environment); use only while no other thread writes to standard error or
// reads the environment.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/console_output.h"
#include "tests/scoped_env.h"
#include "tests/test_files.h"

namespace test_console {

// Redirects file descriptor 2 into a temporary file for its lifetime.
class StderrCapture {
 public:
  StderrCapture() : file_(test_files::anonymousTempFile()) {
    std::fflush(stderr);
    saved_ = dup(2);
    if (file_ != nullptr) dup2(fileno(file_), 2);
  }
  ~StderrCapture() {
    restore();
    if (file_ != nullptr) std::fclose(file_);
  }
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;

  // Everything written so far; ends the capture.
  std::string text() {
    restore();
    std::string result;
    if (file_ == nullptr) return result;
    std::rewind(file_);
    char block[4096];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, file_)) > 0) {
      result.append(block, n);
    }
    return result;
  }

 private:
  void restore() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
    saved_ = -1;
  }

  std::FILE* file_;
  int saved_ = -1;
};

// Sets LC_ALL for its lifetime, restoring the previous value; the console
// writer looks the character set up again each time.
class ScopedLocaleEnv {
 public:
  explicit ScopedLocaleEnv(const char* value) {
    const char* old = std::getenv("LC_ALL");
    hadOld_ = old != nullptr;
    if (hadOld_) old_ = old;
    test_env::setVariable("LC_ALL", value);
    consoleCharsetReload();
  }
  ~ScopedLocaleEnv() {
    if (hadOld_) {
      test_env::setVariable("LC_ALL", old_.c_str());
    } else {
      test_env::removeVariable("LC_ALL");
    }
    consoleCharsetReload();
  }
  ScopedLocaleEnv(const ScopedLocaleEnv&) = delete;
  ScopedLocaleEnv& operator=(const ScopedLocaleEnv&) = delete;

 private:
  bool hadOld_;
  std::string old_;
};

}  // namespace test_console

// Overrides identity fields of the loaded Globals record for one test.
//
// Thread-safety: the record is process-wide; use only while no other thread
// reads it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "support/globals.h"

namespace test_globals {

// Sets the identity fields of the loaded record for one test and puts the
// record back afterwards.
class GlobalsOverride {
 public:
  GlobalsOverride(int32_t release, const char* dir) {
    Globals* globals = getGlobals();
    std::memcpy(&saved_, globals, sizeof saved_);
    globals->release = release;
    std::snprintf(globals->dir, sizeof globals->dir, "%s", dir);
    std::snprintf(globals->regPath, sizeof globals->regPath, "quandrilex");
    std::snprintf(globals->productName, sizeof globals->productName,
                  "Tellan USB");
    globals->crashDir[0] = '\0';
  }
  ~GlobalsOverride() { std::memcpy(getGlobals(), &saved_, sizeof saved_); }

 private:
  Globals saved_;
};

}  // namespace test_globals

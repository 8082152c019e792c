// Sets or removes an environment variable for the lifetime of the object
// and puts the old value back afterwards.
//
// Thread-safety: the environment is process-wide; use only while no other
// thread reads it.
#pragma once

#include <cstdlib>
#include <string>

namespace test_env {

// Sets `name` to `value` (replacing any value) or removes it, for the whole
// process. One file per platform: scoped_env_posix.cpp, scoped_env_win32.cpp.
void setVariable(const char* name, const char* value);
void removeVariable(const char* name);

class ScopedEnv {
 public:
  // `value` null removes the variable.
  ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    hadOld_ = old != nullptr;
    if (hadOld_) old_ = old;
    if (value != nullptr) {
      setVariable(name, value);
    } else {
      removeVariable(name);
    }
  }
  ~ScopedEnv() {
    if (hadOld_) {
      setVariable(name_.c_str(), old_.c_str());
    } else {
      removeVariable(name_.c_str());
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::string old_;
  bool hadOld_ = false;
};

}  // namespace test_env

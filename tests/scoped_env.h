// Sets or removes an environment variable for the lifetime of the object
// and puts the old value back afterwards.
//
// Thread-safety: the environment is process-wide; use only while no other
// thread reads it.
#pragma once

#include <cstdlib>
#include <string>

namespace test_env {

class ScopedEnv {
 public:
  // `value` null removes the variable.
  ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    hadOld_ = old != nullptr;
    if (hadOld_) old_ = old;
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (hadOld_) {
      setenv(name_.c_str(), old_.c_str(), 1);
    } else {
      unsetenv(name_.c_str());
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

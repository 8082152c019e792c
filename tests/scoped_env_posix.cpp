// The environment calls of ScopedEnv on POSIX systems.

#include <stdlib.h>

#include "tests/scoped_env.h"

namespace test_env {

void setVariable(const char* name, const char* value) {
  setenv(name, value, 1);
}

void removeVariable(const char* name) { unsetenv(name); }

}  // namespace test_env

// The environment calls of ScopedEnv on Windows. The C runtime's _putenv_s
// also updates the process environment that GetEnvironmentVariable reads.

#include <stdlib.h>

#include "tests/scoped_env.h"

namespace test_env {

// An empty value would remove the variable: Windows has no empty variables.
void setVariable(const char* name, const char* value) {
  _putenv_s(name, value);
}

void removeVariable(const char* name) { _putenv_s(name, ""); }

}  // namespace test_env

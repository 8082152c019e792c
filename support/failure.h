// Failure: why an operation failed, as the layer that met it saw it. It
// travels up as a value; app/ prints it as one line "OBJECT: REASON".
#pragma once

#include <string>

struct Failure {
  std::string object;  // what failed: a file name, "HOST port PORT", ...
  std::string reason;  // why, in the system's or the layer's words

  bool empty() const { return object.empty() && reason.empty(); }
};

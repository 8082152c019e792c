#include "support/system_error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace {

// On Linux the table must say exactly what the C library says, so that both
// programs print the Linux wording.
TEST(SystemErrorText, TableMatchesTheCLibrary) {
  for (int value = 1; value < 140; ++value) {
    SCOPED_TRACE(value);
    // Copied first: the C library may reuse its text's buffer.
    const std::string expected = std::strerror(value);
    EXPECT_EQ(systemErrorText(value), expected);
  }
}

}  // namespace

// Anonymous temporary files on POSIX systems: the C library's tmpfile.

#include <cstdio>

#include "tests/test_files.h"

namespace test_files {

FILE* anonymousTempFile() { return std::tmpfile(); }

}  // namespace test_files

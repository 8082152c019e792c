#include <unistd.h>

#include "support/terminal.h"

bool stderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

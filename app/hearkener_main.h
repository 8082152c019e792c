// The program's entry point behind main(): start-up, option parsing, opening
// the source and the sink, the main loop and shutdown.
#pragma once

#include "core/result.h"

// Runs the program with the command line; returns the exit code (a Result).
Result hearkenerMain(int argc, char** argv);

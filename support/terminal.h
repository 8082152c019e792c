// Whether the operator watches the standard error stream: a terminal on
// POSIX systems, a console on Windows. Only then does the program show
// what is meant for a person (status line, warnings, summaries); scripts,
// pipes and logs see only the program's fixed lines.
#pragma once

bool stderrIsTerminal();

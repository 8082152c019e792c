// The standard descriptors 0, 1 and 2 of the process. A program started
// with one of them closed would hand that number to the next file or socket
// it opens, and console text would then land in that file (a recording, a
// connection). standardStreamsEnsureOpen keeps the numbers taken.
//
// Thread-safety: call on the main thread before any other thread exists and
// before anything else opens a descriptor.
#pragma once

// On Windows a descriptor counts as closed when its standard handle is
// missing, and "NUL" stands in for /dev/null.
//
// Opens /dev/null on each of the descriptors 0 (read-only), 1 and 2
// (write-only) that is closed; open ones are left as they are. Opens no
// other descriptor. When /dev/null cannot be opened the descriptor stays
// closed; nothing is printed.
void standardStreamsEnsureOpen();

// The system's error text for an errno value, in the same words on every
// platform: the common values carry their wording from a table (the GNU C
// library's), so that the Linux and the Windows program print the same
// reason for the same failure; other values take the C library's text.
//
// Thread-safety: callable from any thread for the values of the table.
#pragma once

#include <string>

std::string systemErrorText(int errnoValue);

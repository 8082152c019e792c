// The debug trace: a printf-style hook for diagnostic messages (each ending
// in a bare "\n"). In this program it prints nothing; the messages document
// what happened at each trace point and keep their arguments type-checked.
//
// Thread-safety: callable from any thread.
#pragma once

#if defined(__GNUC__)
#define HK_PRINTF_LIKE(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define HK_PRINTF_LIKE(fmt, args)
#endif

void debugTrace(const char* format, ...) HK_PRINTF_LIKE(1, 2);

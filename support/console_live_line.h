// The live line: one line of ASCII text at the bottom of the console that
// its owner rewrites in place (the status line). Every message of
// consoleReport erases it first, under the same lock as the live line's own
// writes, so no message lands inside it; the owner's next draw shows it
// again below the message.
//
// Thread-safety: callable from any thread; draws, erases and messages are
// serialised by one lock.
#pragma once

#include <cstddef>
#include <cstdint>

// Shows `text` (ASCII, no line end) as the live line in place of what it
// showed, cut to one column less than the console is wide.
void consoleLiveLineDraw(const char* text);

// Removes the live line when it is shown; the cursor is left at the start
// of the emptied line.
void consoleLiveLineErase();

// Writes one message as consoleWriteText does, after erasing the live line.
int32_t consoleWriteMessage(const char16_t* units, size_t count);

// The platform part: the console's width in columns, 0 when unknown.
int32_t liveLineColumns();

// The platform part: returns to the start of the line, writes `length`
// bytes of `text` and removes what is left there of a previous text of
// `shown` bytes, with one write to the standard error stream.
void liveLineWrite(const char* text, size_t length, size_t shown);

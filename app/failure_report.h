// The console line of a failure: "OBJECT: REASON", the object shown as
// displayName shows names. It goes before the line that says what could not
// be done.
//
// Thread-safety: callable from any thread.
#pragma once

#include "support/failure.h"

// Prints the line; prints nothing for an empty failure. An empty object or
// reason prints the other alone.
void printFailure(const Failure& failure);

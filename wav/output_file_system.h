// The platform's file calls under OutputFile::open (output_file.cpp), one
// step of the open sequence each. Descriptors are C runtime descriptors;
// a call that fails (false, kFailed) leaves its errno value in *error, and
// only then writes it.
#pragma once

#include "wav/output_file.h"

enum class FileOpenOutcome {
  kOpened,
  kMissing,  // nothing at the name (opening an existing file)
  kExists,   // something at the name (creating a new file)
  kFailed,
};

// Opens what `name` leads to for reading and writing, never blocking and
// never creating.
FileOpenOutcome outputFileOpenExisting(const char* name, int* descriptor,
                                       int* error);
// Creates `name` only when nothing is there.
FileOpenOutcome outputFileCreateNew(const char* name, int* descriptor,
                                    int* error);
// Tells whether the open file is a regular file and, where the system has it
// at hand, its identity. False when the system cannot tell.
bool outputFileInspect(int descriptor, FileIdentity* identity, bool* regular,
                       int* error);
// Takes the hold against other runs; *busy when another run has it.
bool outputFileLock(int descriptor, bool* busy, int* error);
// Makes reads and writes of the checked file block again.
bool outputFileSettle(int descriptor, int* error);
// Closes the descriptor, which releases the hold.
bool outputFileRelease(int descriptor, int* error);

// The stop request: SIGINT, SIGTERM and SIGHUP (Ctrl+C, kill, a closed
// terminal) end a run cleanly.
//
// `stopRequested` goes from 0 to 1 once and is never cleared. A stop sets it
// and then closes the current source, which makes a pending wait or read of
// the main thread return. The current source is reached only under a guard:
// once the main thread has withdrawn it (stopWithdrawSource) no stop can
// reach it any more, so it may be destroyed.
//
// Thread-safety: every function may be called from any thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/audio_endpoint.h"
#include "support/failure.h"

extern std::atomic<int32_t> stopRequested;

// Starts listening for the stop signals. Must run before any other thread is
// created, so that every thread inherits the blocked signal mask. Returns
// false when the listener could not be installed, with what failed and why
// in *failure (may be null).
bool stopHandlersInstall(Failure* failure = nullptr);

// Stops listening and joins the listener. Signals that arrive afterwards stay
// blocked (pending) until the process ends.
void stopHandlersRemove();

// Makes `source` the one a stop closes (nullptr: none). Not owned: its owner
// withdraws it before destroying it.
void stopSetSource(AudioSource* source);

// Withdraws the current source: when this returns, no stop is inside its
// close and none will reach it.
void stopWithdrawSource();

// Waits until a stop is requested or `milliseconds` have passed. Returns
// true when a stop was requested.
bool stopWaitFor(int32_t milliseconds);

// Requests the stop: sets stopRequested, then closes the current source.
// Called by the platform's listener; tests may call it directly.
void stopRequest(int32_t event);

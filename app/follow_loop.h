// The --follow run: receives a queue's calls one after the other, each on
// its own connection, until a stop.
//
// After a call ends (the service closes the connection in order, having
// sent audio) the loop connects again at once and waits for the next call.
// When the service cannot be reached, resets the connection, or closes it
// without sending audio, it retries after a delay that grows 1, 2, 4, 8,
// 16, 30, 30, ... seconds and is back to 1 s once a call brought audio.
// One console line per change of state, never one per retry:
//   "waiting for tapd at HOST port PORT: REASON; retrying in N s"
//   "receiving queue NAME" ("receiving from tapd at HOST port PORT" for -t)
// A stop ends the run in every state (connecting, waiting for a call,
// receiving, in a retry delay) within a second.
//
// Thread-safety: main thread only.
#pragma once

#include <cstdint>
#include <functional>

#include "core/audio_endpoint.h"
#include "app/command_line.h"
#include "app/run_meter.h"
#include "support/reporter.h"

// How each call's end is passed on (the recording series ends its
// recording); returns 0 or the failure that ends the run.
using CallEnd = std::function<Result(Result callResult)>;

// Follows settings' queue (or -t stream) into `sink`, calling `callEnd`
// after each connection that delivered audio. Returns 0 after a stop, else
// the failure of the sink or of callEnd that ended the run.
// REQUIRES: the stop handlers are installed; `sink` outlives the call.
Result runFollowLoop(const RunSettings& settings, AudioSink* sink,
                     const CallEnd& callEnd, Reporter* reporter,
                     RunMeter* meter);

// The delay before the retry that follows one of `delaySeconds`.
int32_t nextRetryDelay(int32_t delaySeconds);

// The main loop: moves blocks of the audio currency from one source to one
// sink until the input ends, a failure occurs or a stop is requested.
//
// Thread-safety: main thread only; reads the stop flag that the stop thread
// sets.
#pragma once

#include <atomic>
#include <cstdint>

#include "app/run_meter.h"
#include "core/audio_endpoint.h"

// Size of the block buffer and the capacity of every read.
constexpr int32_t kBlockSize = 1024;
// Time-out of every wait, in milliseconds.
constexpr int32_t kWaitTimeoutMs = 50;

// Runs the loop. Returns the run's code: 0 after the end of the input or a
// stop, -8 when undecodable frames were met along the way, else the failing
// wait, read or write result. A failing read ends the run with its code even
// when it delivered no bytes: only a read of 0 bytes without failure (or
// with -8) is the end of the input. Each block the sink took is counted
// into `meter` when one is given.
Result runMainLoop(AudioSource* source, AudioSink* sink,
                   const std::atomic<int32_t>& stop,
                   RunMeter* meter = nullptr);

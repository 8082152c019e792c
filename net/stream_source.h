// Recorder stream source: the AudioSource that connects to the recording
// service, selects a live queue and delivers its audio.
//
// Thread-safety: as AudioEndpoint; close may run on the stop thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "app/audio_endpoint.h"

// Opens the source: connects to host:port, performs the queue exchange when
// `queueName` is given, and reads `inputMode` audio. `stopFlag` is watched
// while connecting and exchanging. Returns nullptr on failure.
AudioSource* openStreamSource(const char* host, int32_t port,
                              const char* queueName, int32_t inputMode,
                              const std::atomic<int32_t>* stopFlag);

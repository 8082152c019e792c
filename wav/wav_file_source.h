// WAV file source: the AudioSource that reads a WAV file (format tags
// 0x0006 A-law, 0x0007 u-law, one or two channels, 8000 Hz) and delivers
// the audio currency: u-law converted to A-law, mono widened to two
// channels. Files with the tags 0xF000 and 0xF001 carry framed streams,
// which an RtpContext decodes from the data chunk.
//
// Thread-safety: open, wait, read and destroy run on the main thread; close
// may also run on the stop thread. A close that meets a read in progress
// waits for that read to finish, then closes the file.
#pragma once

#include "app/audio_endpoint.h"

// Opens the source on the file. Returns nullptr when the file cannot be
// opened, is not a WAV file, or has an unsupported format; the reason goes to
// the debug trace.
AudioSource* openWavFileSource(const char* fileName);

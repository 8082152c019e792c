// The --write mode: one queue's whole stream in a WAV file that hearkener -i
// reads. Framed streams get the format tag 0xF001 (with a codec type byte)
// or 0xF000 (codec type in the control byte), G.711 streams the ordinary
// A-law or u-law tag; all are two channels at 8000 Hz.
//
// Thread-safety: one call at a time per output path.
#pragma once

#include <string>

#include "tools/tapd_emu/session.h"

namespace tapd_emu {

// Writes the stream of `queue` to `path`, replacing the file. Returns "" or
// a message naming the file and what failed.
// The output rules of hearkener hold: only a regular file is written, and
// a symbolic link is never followed; a device, FIFO, folder, link, the
// queue's own source file or a file another run holds is refused as it
// is. An existing file is emptied only after every check. A failed or
// stopped write removes the file, if the name still leads to it.
// REQUIRES: installStopSignals() succeeded.
std::string writeQueueWav(const ServedQueue& queue, const std::string& path);

}  // namespace tapd_emu

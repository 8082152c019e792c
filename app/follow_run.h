// The runs that write through a RecordingSeries or follow a queue: the
// composition of source, sink, display and settling for --follow and
// --record.
//
// Thread-safety: main thread only.
#pragma once

#include "app/command_line.h"
#include "app/recording_series.h"
#include "support/reporter.h"

// The series options of the run's settings (pattern, queue, split, -i).
RecordingSeriesOptions recordingSeriesOptionsOf(const RunSettings& settings);

// A --follow run into recordings (--record) or the sound card. Ends with 0
// after a stop, -4 when recordings can no longer be written.
Result runFollow(const RunSettings& settings, Reporter* reporter);

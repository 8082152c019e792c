// The names the program's end-to-end tests share, brought in by one
// `using namespace e2e_names;`: the byte and file helpers, the loopback
// service and the program runner.
#pragma once

#include "tests/e2e_wav.h"
#include "tests/loopback_server.h"
#include "tests/run_program.h"
#include "tests/test_files.h"

namespace e2e_names {

using e2e::Bytes;
using e2e::runHearkener;
using loopback::Family;
using loopback::LoopbackServer;
using loopback::Peer;
using run_program::RunOptions;
using run_program::runProgram;
using run_program::RunResult;
using run_program::shellStatus;
using test_files::TempDir;

// How long a service script waits for the program's next step.
constexpr int kPeerTimeoutMs = 10000;

}  // namespace e2e_names

// The stop listener on Windows: a console control handler and a SIGINT
// handler. The system runs the console control handler on a thread of its
// own for each event, and the runtime runs the SIGINT handler on such a
// thread too, so both may do the stop work directly: stopRequest is safe on
// any thread.
#include <windows.h>

#include <signal.h>

#include "app/stop_control.h"
#include "support/debug_trace.h"

namespace {

bool listening = false;

// Ctrl+C, Ctrl+Break, a closed console, log-off and shut-down request the
// stop. Every event counts as handled, so the system never ends the process
// before the run has closed its output.
BOOL WINAPI onConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      stopRequest(static_cast<int32_t>(event));
      break;
    default:
      break;
  }
  return TRUE;
}

// The runtime resets SIGINT to its default before calling this; it is not
// registered again.
void onInterrupt(int signal) { stopRequest(signal); }

}  // namespace

bool stopHandlersInstall() {
  debugTrace("setting SIGINT handler...\n");
  if (listening) return true;
  signal(SIGINT, onInterrupt);
  if (!SetConsoleCtrlHandler(onConsoleEvent, TRUE)) return false;
  listening = true;
  return true;
}

void stopHandlersRemove() {
  if (!listening) return;
  SetConsoleCtrlHandler(onConsoleEvent, FALSE);
  // A Ctrl+C after this must not end a process that is finishing its run.
  signal(SIGINT, SIG_IGN);
  listening = false;
}

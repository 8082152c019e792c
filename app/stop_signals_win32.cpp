// The stop listener on Windows: a console control handler and a SIGINT
// handler. The system runs the console control handler on a thread of its
// own for each event, and the runtime runs the SIGINT handler on such a
// thread too, so both may do the stop work directly: stopRequest is safe on
// any thread.
#include <signal.h>
#include <windows.h>

#include "app/stop_control.h"
#include "support/debug_trace.h"
#include "support/errno_win32.h"
#include "support/system_error.h"

namespace {

// How long a closing console, a log-off or a shut-down waits for the run to
// close its output; the system ends the process when the handler returns
// and gives it about 5 s in all.
constexpr DWORD kEndingGraceMs = 4500;

bool listening = false;
// Set by stopHandlersRemove: the run has finished with its output.
HANDLE runFinished = nullptr;

// Ctrl+C, Ctrl+Break, a closed console, log-off and shut-down request the
// stop; every event counts as handled. After Ctrl+C and Ctrl+Break the
// process goes on and ends the run itself; for the other three the system
// ends it once this returns, so the handler waits for the run first.
BOOL WINAPI onConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      stopRequest(static_cast<int32_t>(event));
      break;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      stopRequest(static_cast<int32_t>(event));
      if (runFinished != nullptr) {
        WaitForSingleObject(runFinished, kEndingGraceMs);
      }
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

bool stopHandlersInstall(Failure* failure) {
  debugTrace("setting SIGINT handler...\n");
  if (listening) return true;
  if (runFinished == nullptr) {
    runFinished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  } else {
    ResetEvent(runFinished);
  }
  signal(SIGINT, onInterrupt);
  if (!SetConsoleCtrlHandler(onConsoleEvent, TRUE)) {
    if (failure != nullptr) {
      *failure = Failure{"console control handler",
                         systemErrorText(errnoFromWin32(GetLastError()))};
    }
    return false;
  }
  listening = true;
  return true;
}

void stopHandlersRemove() {
  if (!listening) return;
  // First releases a handler that waits for the run: removing a handler
  // may wait for the handlers that are running.
  if (runFinished != nullptr) SetEvent(runFinished);
  SetConsoleCtrlHandler(onConsoleEvent, FALSE);
  // A Ctrl+C after this must not end a process that is finishing its run.
  signal(SIGINT, SIG_IGN);
  listening = false;
}

// The stop listener on POSIX: the stop signals are blocked in every thread
// and one listener thread takes them with sigwait, so the stop work runs as
// ordinary code, never inside a signal handler.
#include <pthread.h>
#include <signal.h>

#include <atomic>

#include "app/stop_control.h"
#include "support/crash_handler.h"
#include "support/debug_trace.h"
#include "support/system_error.h"

namespace {

// SIGUSR1 is the listener's private wake-up for stopHandlersRemove.
constexpr int kQuitSignal = SIGUSR1;

pthread_t listener;
bool listening = false;
std::atomic<bool> quitting{false};

sigset_t stopSignals(bool withQuit) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  if (withQuit) sigaddset(&set, kQuitSignal);
  return set;
}

void* listen(void*) {
  const CrashThreadStack crashStack = crashHandlerThreadAttach();
  const sigset_t set = stopSignals(true);
  for (;;) {
    int signal = 0;
    if (sigwait(&set, &signal) != 0) continue;
    if (quitting.load()) return nullptr;
    if (signal == kQuitSignal) continue;
    stopRequest(signal);
  }
}

}  // namespace

bool stopHandlersInstall(Failure* failure) {
  debugTrace("setting SIGINT handler...\n");
  if (listening) return true;
  // A closed pipe or socket and the file size limit must not end a run
  // without its output being closed: their writes fail like any other.
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  const sigset_t set = stopSignals(true);
  sigset_t previous;
  const int masked = pthread_sigmask(SIG_BLOCK, &set, &previous);
  if (masked != 0) {
    if (failure != nullptr) {
      *failure = Failure{"stop signals", systemErrorText(masked)};
    }
    return false;
  }
  quitting.store(false);
  const int created = pthread_create(&listener, nullptr, listen, nullptr);
  if (created != 0) {
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (failure != nullptr) {
      *failure = Failure{"stop signal listener", systemErrorText(created)};
    }
    return false;
  }
  listening = true;
  return true;
}

void stopHandlersRemove() {
  if (!listening) return;
  quitting.store(true);
  pthread_kill(listener, kQuitSignal);
  pthread_join(listener, nullptr);
  listening = false;
}

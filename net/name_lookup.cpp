#include "net/name_lookup.h"

#include <chrono>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "support/crash_handler.h"
#include "support/mutex.h"

namespace {

// One look-up on its own thread. The thread and the caller share the job;
// a caller that gives up marks it abandoned.
struct LookupJob {
  std::string host;
  std::string service;
  bool withService = false;
  NetFamily family = NetFamily::kIpv4;
  Mutex lock;
  CondVar finished;
  bool done GUARDED_BY(lock) = false;
  bool abandoned GUARDED_BY(lock) = false;
  NetLookupOutcome outcome GUARDED_BY(lock);
};

NetLookupOutcome lookUpNow(const char* host, const char* service,
                           NetFamily family) {
  NetLookupOutcome outcome;
  outcome.code =
      netOsResolve(host, service, family, &outcome.first, &outcome.systemError);
  return outcome;
}

// The system's sockets for the look-up thread: an abandoned look-up may
// outlive every socket.
class SocketsStarted {
 public:
  SocketsStarted() : started_(netOsStart()) {}
  ~SocketsStarted() {
    if (started_) netOsStop();
  }
  SocketsStarted(const SocketsStarted&) = delete;
  SocketsStarted& operator=(const SocketsStarted&) = delete;

 private:
  bool started_;
};

}  // namespace

NetLookupOutcome netLookUp(const char* host, const char* service,
                           NetFamily family, const std::atomic<int32_t>* stop) {
  if (stop == nullptr) return lookUpNow(host, service, family);
  auto job = std::make_shared<LookupJob>();
  job->host = host;
  job->withService = service != nullptr;
  job->service = job->withService ? service : "";
  job->family = family;
  try {
    std::thread([job] {
      // Declared first, so it ends last.
      const SocketsStarted sockets;
      const CrashThreadStack crashStack = crashHandlerThreadAttach();
      NetLookupOutcome outcome = lookUpNow(
          job->host.c_str(), job->withService ? job->service.c_str() : nullptr,
          job->family);
      MutexLock guard(&job->lock);
      if (job->abandoned) return;
      job->outcome = std::move(outcome);
      job->done = true;
      job->finished.notifyOne();
    }).detach();
  } catch (const std::system_error&) {
    return lookUpNow(host, service, family);
  }
  MutexLock guard(&job->lock);
  while (!job->done) {
    if (stop->load() != 0) {
      job->abandoned = true;
      NetLookupOutcome stopped;
      stopped.stopped = true;
      return stopped;
    }
    job->finished.waitFor(&job->lock,
                          std::chrono::milliseconds(kNetStopPollMs));
  }
  return std::move(job->outcome);
}

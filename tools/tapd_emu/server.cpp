#include "tools/tapd_emu/server.h"

#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <list>
#include <memory>
#include <system_error>
#include <thread>

#include "tools/tapd_emu/listener.h"
#include "tools/tapd_emu/stop_signal.h"

namespace tapd_emu {
namespace {

// A session's thread and whether it has finished.
struct Worker {
  std::thread thread;
  std::shared_ptr<std::atomic<bool>> done;
};

// Joins the finished workers; returns how many still run.
size_t reap(std::list<Worker>* workers) {
  for (auto it = workers->begin(); it != workers->end();) {
    if (it->done->load()) {
      it->thread.join();
      it = workers->erase(it);
    } else {
      ++it;
    }
  }
  return workers->size();
}

// Starts a session thread for `fd`; logs and closes it when that fails.
void startSession(ScopedFd fd, const std::string& peer,
                  const SessionConfig& config, std::list<Worker>* workers) {
  auto done = std::make_shared<std::atomic<bool>>(false);
  auto owned = std::make_shared<ScopedFd>(std::move(fd));
  try {
    std::thread thread([owned, peer, &config, done] {
      runSession(std::move(*owned), peer, config);
      done->store(true);
    });
    workers->push_back(Worker{std::move(thread), done});
  } catch (const std::system_error& error) {
    logLine(peer + ": could not start a session: " + error.what());
  }
}

}  // namespace

int runServer(int listenFd, const SessionConfig& config, int maxClients) {
  std::list<Worker> workers;
  int result = 0;
  pollfd entries[2] = {{listenFd, POLLIN, 0}, {stopFd(), POLLIN, 0}};
  for (;;) {
    entries[0].revents = entries[1].revents = 0;
    // Wake now and then to join finished sessions.
    const int ready = poll(entries, 2, 1000);
    if (ready < 0 && errno != EINTR) {
      logLine(std::string("poll failed: ") + strerror(errno));
      result = 1;
      break;
    }
    if (entries[1].revents != 0) break;
    const size_t running = reap(&workers);
    if (ready <= 0 || entries[0].revents == 0) continue;
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    ScopedFd client(accept4(listenFd, reinterpret_cast<sockaddr*>(&address),
                            &length, SOCK_CLOEXEC));
    if (!client.valid()) {
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS ||
          errno == ENOMEM) {
        logLine(std::string("accept: ") + strerror(errno));
        poll(nullptr, 0, 100);  // let sessions end before trying again
      } else if (errno != EINTR && errno != ECONNABORTED && errno != EAGAIN &&
                 errno != EPROTO) {
        logLine(std::string("accept failed: ") + strerror(errno));
        result = 1;
        break;
      }
      continue;
    }
    const std::string peer =
        addressName(reinterpret_cast<const sockaddr*>(&address));
    if (running >= static_cast<size_t>(maxClients)) {
      logLine(peer + " queue -: 0 audio bytes sent, busy (limit " +
              std::to_string(maxClients) + ")");
      continue;
    }
    startSession(std::move(client), peer, config, &workers);
  }
  for (Worker& worker : workers) worker.thread.join();
  return result;
}

}  // namespace tapd_emu

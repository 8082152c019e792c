#include "net/socket_shared.h"

#include <mutex>

namespace {

// Created on first use; function-local statics are initialised safely even
// when two threads create their first sockets at the same time.
std::mutex& registryLock() {
  static std::mutex lock;
  return lock;
}
NetRegistryLinks* registryHead = nullptr;  // guarded by registryLock()
int32_t registryCount = 0;                 // guarded by registryLock()

}  // namespace

bool netRegistryAdd(NetRegistryLinks* links, bool (*firstUse)()) {
  std::lock_guard<std::mutex> lock(registryLock());
  if (registryCount == 0 && !firstUse()) return false;
  links->older = registryHead;
  if (registryHead != nullptr) registryHead->newer = links;
  registryHead = links;
  ++registryCount;
  return true;
}

void netRegistryRemove(NetRegistryLinks* links, void (*lastUse)()) {
  std::lock_guard<std::mutex> lock(registryLock());
  if (links->newer != nullptr) {
    links->newer->older = links->older;
  } else {
    registryHead = links->older;
  }
  if (links->older != nullptr) links->older->newer = links->newer;
  links->newer = links->older = nullptr;
  if (--registryCount == 0) lastUse();
}

int32_t netLiveSocketCount() {
  std::lock_guard<std::mutex> lock(registryLock());
  return registryCount;
}

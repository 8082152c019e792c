#include "net/socket_shared.h"

#include "support/mutex.h"

namespace {

// Created on first use; function-local statics are initialised safely even
// when two threads create their first sockets at the same time.
Mutex& registryLock() {
  static Mutex lock;
  return lock;
}
NetRegistryLinks* registryHead GUARDED_BY(registryLock()) = nullptr;
int32_t registryCount GUARDED_BY(registryLock()) = 0;

}  // namespace

bool netRegistryAdd(NetRegistryLinks* links, bool (*firstUse)()) {
  MutexLock lock(&registryLock());
  if (registryCount == 0 && !firstUse()) return false;
  links->older = registryHead;
  if (registryHead != nullptr) registryHead->newer = links;
  registryHead = links;
  ++registryCount;
  return true;
}

void netRegistryRemove(NetRegistryLinks* links, void (*lastUse)()) {
  MutexLock lock(&registryLock());
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
  MutexLock lock(&registryLock());
  return registryCount;
}

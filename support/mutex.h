// Mutex, MutexLock and CondVar: std::mutex and std::condition_variable with
// the annotations of support/thread_annotations.h, so that clang checks
// every GUARDED_BY against the locks actually held.
//
// Thread-safety: as the standard types they wrap.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "support/thread_annotations.h"

// Not constexpr-constructible on every platform (mingw-w64's std::mutex is
// not): a mutex that threads may use before main is a function-local static.
class CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock() ACQUIRE() { mutex_.lock(); }
  void unlock() RELEASE() { mutex_.unlock(); }

 private:
  friend class CondVar;
  std::mutex mutex_;
};

// Holds `mutex` for its lifetime. unlock() and lock() let go of it and take
// it again in between (a call that must not run under the lock).
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex* mutex) ACQUIRE(mutex) : mutex_(mutex) {
    mutex_->lock();
  }
  ~MutexLock() RELEASE() {
    if (held_) mutex_->unlock();
  }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

  void unlock() RELEASE() {
    mutex_->unlock();
    held_ = false;
  }
  void lock() ACQUIRE() {
    mutex_->lock();
    held_ = true;
  }

 private:
  Mutex* const mutex_;
  bool held_ = true;
};

// A condition variable used with a held Mutex. Every wait releases `mutex`
// while it sleeps and holds it again when it returns, as
// std::condition_variable does; predicates run with `mutex` held.
class CondVar {
 public:
  CondVar() = default;
  CondVar(const CondVar&) = delete;
  CondVar& operator=(const CondVar&) = delete;

  void notifyOne() noexcept { cv_.notify_one(); }
  void notifyAll() noexcept { cv_.notify_all(); }

  void wait(Mutex* mutex) REQUIRES(mutex) {
    Adopted lock(mutex);
    cv_.wait(lock.held);
  }
  template <typename Predicate>
  void wait(Mutex* mutex, Predicate ready) REQUIRES(mutex) {
    Adopted lock(mutex);
    cv_.wait(lock.held, ready);
  }

  // False when `deadline` passed first (a spurious wake-up returns true).
  template <typename Clock, typename Duration>
  bool waitUntil(Mutex* mutex,
                 const std::chrono::time_point<Clock, Duration>& deadline)
      REQUIRES(mutex) {
    Adopted lock(mutex);
    return cv_.wait_until(lock.held, deadline) == std::cv_status::no_timeout;
  }
  // ready(), after waiting until it holds or `deadline` passes.
  template <typename Clock, typename Duration, typename Predicate>
  bool waitUntil(Mutex* mutex,
                 const std::chrono::time_point<Clock, Duration>& deadline,
                 Predicate ready) REQUIRES(mutex) {
    Adopted lock(mutex);
    return cv_.wait_until(lock.held, deadline, ready);
  }
  template <typename Rep, typename Period>
  bool waitFor(Mutex* mutex, const std::chrono::duration<Rep, Period>& timeout)
      REQUIRES(mutex) {
    Adopted lock(mutex);
    return cv_.wait_for(lock.held, timeout) == std::cv_status::no_timeout;
  }
  template <typename Rep, typename Period, typename Predicate>
  bool waitFor(Mutex* mutex, const std::chrono::duration<Rep, Period>& timeout,
               Predicate ready) REQUIRES(mutex) {
    Adopted lock(mutex);
    return cv_.wait_for(lock.held, timeout, ready);
  }

 private:
  // The caller's hold on the mutex, lent to std::condition_variable for one
  // wait and given back (still held) when it ends.
  struct Adopted {
    explicit Adopted(Mutex* mutex) : held(mutex->mutex_, std::adopt_lock) {}
    ~Adopted() { held.release(); }
    std::unique_lock<std::mutex> held;
  };

  std::condition_variable cv_;
};

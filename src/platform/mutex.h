// Mutex, MutexLock and ConditionVariable: std::mutex, std::unique_lock and std::condition_variable
// with the annotations of thread_annotations.h, so that clang checks which lock guards what. Every
// lock of the tree is one of these; each says beside its declaration what it guards and which locks
// may be held when it is taken.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>

#include "platform/thread_annotations.h"

namespace halcyra::platform {

class CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void Lock() ACQUIRE() { mutex_.lock(); }
  void Unlock() RELEASE() { mutex_.unlock(); }

 private:
  friend class MutexLock;
  std::mutex mutex_;
};

// Holds a Mutex from construction to destruction. Unlock() and Lock() let the holder give it up for
// a while (to call out without it) and take it again.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : lock_(mutex.mutex_) {}
  ~MutexLock() RELEASE() {}
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

  void Unlock() RELEASE() { lock_.unlock(); }
  void Lock() ACQUIRE() { lock_.lock(); }

 private:
  friend class ConditionVariable;
  std::unique_lock<std::mutex> lock_;
};

// Waits give the MutexLock's mutex up while they sleep and hold it again when they return. A
// waiter tests its condition in its own code (while (!condition) signal.Wait(lock);), where the
// analysis sees the lock held, or passes it as a predicate. A predicate is analysed as a function
// of its own: one that reads guarded members says so ([&]() REQUIRES(mutex_) { ... }); it is
// always called with the mutex held.
class ConditionVariable {
 public:
  void Wait(MutexLock& lock) { signal_.wait(lock.lock_); }
  // Waits until done() is true.
  template <typename Predicate>
  void Wait(MutexLock& lock, Predicate done) {
    signal_.wait(lock.lock_, std::move(done));
  }
  // False when the deadline has passed.
  template <typename Clock, typename Duration>
  bool WaitUntil(MutexLock& lock, const std::chrono::time_point<Clock, Duration>& deadline) {
    return signal_.wait_until(lock.lock_, deadline) == std::cv_status::no_timeout;
  }
  // False when the time passed without a notification.
  template <typename Rep, typename Period>
  bool WaitFor(MutexLock& lock, const std::chrono::duration<Rep, Period>& time) {
    return signal_.wait_for(lock.lock_, time) == std::cv_status::no_timeout;
  }
  // Waits at most time for done() to be true; returns done().
  template <typename Rep, typename Period, typename Predicate>
  bool WaitFor(MutexLock& lock, const std::chrono::duration<Rep, Period>& time, Predicate done) {
    return signal_.wait_for(lock.lock_, time, std::move(done));
  }

  void NotifyAll() { signal_.notify_all(); }

 private:
  std::condition_variable signal_;
};

}  // namespace halcyra::platform

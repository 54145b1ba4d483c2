// Locks that clang's thread-safety analysis understands (see thread_annotations.h). The C++
// runtime's own mutexes carry no annotations, so these wrap them; they add nothing else.
//
// None of them is re-entrant: a function that runs with a lock held says so with REQUIRES and
// does not take the lock again.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <shared_mutex>

#include "platform/thread_annotations.h"

namespace platform {

class CondVar;

class CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex &) = delete;
  Mutex &operator=(const Mutex &) = delete;

  void Lock() ACQUIRE() { mutex_.lock(); }
  void Unlock() RELEASE() { mutex_.unlock(); }
  bool TryLock() TRY_ACQUIRE(true) { return mutex_.try_lock(); }

 private:
  friend class CondVar;
  std::mutex mutex_;
};

// Tells a scoped lock that the caller has taken the mutex already.
struct AdoptLock {};
inline constexpr AdoptLock kAdoptLock{};

class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex &mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.Lock(); }
  MutexLock(Mutex &mutex, AdoptLock) REQUIRES(mutex) : mutex_(mutex) {}
  ~MutexLock() RELEASE() {
    if (locked_) mutex_.Unlock();
  }
  MutexLock(const MutexLock &) = delete;
  MutexLock &operator=(const MutexLock &) = delete;

  // For a stretch inside the scope that must run without the lock.
  void Unlock() RELEASE() {
    mutex_.Unlock();
    locked_ = false;
  }
  void Lock() ACQUIRE() {
    mutex_.Lock();
    locked_ = true;
  }

 private:
  Mutex &mutex_;
  bool locked_ = true;
};

// Waits release the mutex while they sleep and hold it again when they return. No predicate
// form: the analysis cannot see a lambda run under the lock, so callers loop on their condition.
class CondVar {
 public:
  using Clock = std::chrono::steady_clock;

  void Wait(Mutex &mutex) REQUIRES(mutex) {
    std::unique_lock<std::mutex> lock(mutex.mutex_, std::adopt_lock);
    cv_.wait(lock);
    lock.release();
  }
  // False when the deadline passed.
  bool WaitUntil(Mutex &mutex, Clock::time_point deadline) REQUIRES(mutex) {
    std::unique_lock<std::mutex> lock(mutex.mutex_, std::adopt_lock);
    const bool notified = cv_.wait_until(lock, deadline) == std::cv_status::no_timeout;
    lock.release();
    return notified;
  }
  void NotifyOne() { cv_.notify_one(); }
  void NotifyAll() { cv_.notify_all(); }

 private:
  std::condition_variable cv_;
};

class CAPABILITY("shared mutex") SharedMutex {
 public:
  SharedMutex() = default;
  SharedMutex(const SharedMutex &) = delete;
  SharedMutex &operator=(const SharedMutex &) = delete;

  void Lock() ACQUIRE() { mutex_.lock(); }
  void Unlock() RELEASE() { mutex_.unlock(); }
  void LockShared() ACQUIRE_SHARED() { mutex_.lock_shared(); }
  void UnlockShared() RELEASE_SHARED() { mutex_.unlock_shared(); }

 private:
  std::shared_mutex mutex_;
};

class SCOPED_CAPABILITY WriterLock {
 public:
  explicit WriterLock(SharedMutex &mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.Lock(); }
  ~WriterLock() RELEASE() { mutex_.Unlock(); }
  WriterLock(const WriterLock &) = delete;
  WriterLock &operator=(const WriterLock &) = delete;

 private:
  SharedMutex &mutex_;
};

class SCOPED_CAPABILITY ReaderLock {
 public:
  explicit ReaderLock(SharedMutex &mutex) ACQUIRE_SHARED(mutex) : mutex_(mutex) { mutex_.LockShared(); }
  ~ReaderLock() RELEASE() { mutex_.UnlockShared(); }
  ReaderLock(const ReaderLock &) = delete;
  ReaderLock &operator=(const ReaderLock &) = delete;

 private:
  SharedMutex &mutex_;
};

}  // namespace platform

// A standard mutex the thread-safety analysis knows as a lock, and its scoped
// holder.
#pragma once

#include <mutex>

#include "platform/thread_annotations.h"

namespace maltor {

class MALTOR_CAPABILITY("mutex") Mutex {
 public:
  void lock() MALTOR_ACQUIRE() { mutex_.lock(); }
  void unlock() MALTOR_RELEASE() { mutex_.unlock(); }

 private:
  std::mutex mutex_;
};

class MALTOR_SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) MALTOR_ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
  ~MutexLock() MALTOR_RELEASE() { mutex_.unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& mutex_;
};

}  // namespace maltor

// A lock and a condition for threads that hand work to each other many times
// a second. The C++ runtime's std::mutex and std::condition_variable come,
// with MinGW's posix thread model, from winpthreads, which waits on events
// and semaphores: under Wine every contended lock, wait and wake-up is a
// request to the wineserver, which also serves every file operation. Slim
// reader/writer locks and condition variables wait on an address instead,
// which Wine serves inside the process.
#pragma once

#include "vmlib/WindowsApi.h"

namespace VMLib {

// Meets the C++ Lockable requirements, so std::lock_guard and
// std::unique_lock work with it. Not recursive.
class SlimLock {
public:
  SlimLock() = default;
  SlimLock(const SlimLock&) = delete;
  SlimLock& operator=(const SlimLock&) = delete;

  void lock() noexcept { ::AcquireSRWLockExclusive(&lock_); }
  bool try_lock() noexcept { return ::TryAcquireSRWLockExclusive(&lock_) != FALSE; }
  void unlock() noexcept { ::ReleaseSRWLockExclusive(&lock_); }

private:
  friend class SlimCondition;
  SRWLOCK lock_ = SRWLOCK_INIT;
};

class SlimCondition {
public:
  SlimCondition() = default;
  SlimCondition(const SlimCondition&) = delete;
  SlimCondition& operator=(const SlimCondition&) = delete;

  // Waits, with `held` locked by the caller, until `ready()` holds.
  template <typename Guard, typename Predicate>
  void wait(Guard& held, Predicate ready) {
    while (!ready()) ::SleepConditionVariableSRW(&condition_, &held.mutex()->lock_, INFINITE, /*flags=*/0);
  }
  void notify_all() noexcept { ::WakeAllConditionVariable(&condition_); }

private:
  CONDITION_VARIABLE condition_ = CONDITION_VARIABLE_INIT;
};

} // namespace VMLib

// Thread count and the start and join of the works of a stage.
#include "base/threads.h"

#include <sched.h>

#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

ThreadSettings threadSettings;

int32_t usableCoreCount() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return count;
  }
  const unsigned hardware = std::thread::hardware_concurrency();
  return hardware > 0 ? static_cast<int32_t>(hardware) : 1;
}

void runOnThreads(int32_t count, const std::function<void(int32_t)>& work) {
  if (count <= 1) {
    work(0);
    return;
  }
  std::mutex lock;
  std::exception_ptr first;
  auto guarded = [&](int32_t k) {
    try {
      work(k);
    } catch (...) {
      const std::lock_guard<std::mutex> hold(lock);
      if (!first) first = std::current_exception();
    }
  };
  std::vector<std::thread> threads;
  threads.reserve(static_cast<size_t>(count - 1));
  // Where the system gives fewer threads, the works that started do all of it: each takes
  // its share from the stage's shared record, none waits for a given other.
  try {
    for (int32_t k = 1; k < count; ++k) threads.emplace_back(guarded, k);
  } catch (const std::system_error&) {
  }
  guarded(0);
  for (std::thread& thread : threads) thread.join();
  if (first) std::rethrow_exception(first);
}

void lockBriefly(std::mutex& lock) {
  // About fifteen microseconds of tries, each after a pause that keeps the lock's line from
  // bouncing (a pause takes some 60 ns on the machine of the benches, a virtual one). The
  // holders keep these locks for a few microseconds at most, and on a virtual machine a sleep and
  // the wake-up that ends it cost both cores more than that: with a microsecond of tries,
  // identification on two threads spent 6 % of its time in them. A holder that has lost its core
  // keeps the lock far longer, and then sleeping is the better wait.
  constexpr int kTries = 256;
  for (int k = 0; k < kTries; ++k) {
    if (lock.try_lock()) return;
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
  }
  lock.lock();
}

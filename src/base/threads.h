// The threads a run works on: how many the stages may use (the --threads option, else the
// cores the process may run on) and the one way they start them.
#pragma once
#include <cstdint>
#include <functional>
#include <mutex>

struct ThreadSettings {
  int32_t count = 1;  // the program sets it; the library's other callers get one thread
};

extern ThreadSettings threadSettings;

// The cores the process may run on (its affinity mask), at least 1.
int32_t usableCoreCount();

// Runs work(k) for k = 0 .. count - 1, k = 0 on the calling thread and each other on a thread
// of its own, and waits for all of them. An exception that leaves a work (a fatal stop, a
// signal, out of memory) is raised again once every thread has ended: the first one caught.
// The works stop one another themselves (each sees the failure in its own shared record).
void runOnThreads(int32_t count, const std::function<void(int32_t)>& work);

// Takes the lock, trying it for a short while before the thread sleeps on it: a lock that is
// held for a few microseconds at a time at most, as the stages' shared records are, is free
// again sooner than a sleep and the wake-up that ends it take.
void lockBriefly(std::mutex& lock);

// The request for large pages, where the system takes requests (transparent large pages).
#include "base/large_pages.h"

#include <sys/mman.h>

#include <cstdint>
#include <new>

void askForLargePages(void* begin, size_t bytes) {
#ifdef MADV_HUGEPAGE
  constexpr uintptr_t kLarge = uintptr_t{1} << 21;
  const uintptr_t first = (reinterpret_cast<uintptr_t>(begin) + kLarge - 1) & ~(kLarge - 1);
  const uintptr_t last = (reinterpret_cast<uintptr_t>(begin) + bytes) & ~(kLarge - 1);
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
  (void)begin;
  (void)bytes;
#endif
}

void* mapLargePages(size_t bytes) {
  void* begin = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (begin == MAP_FAILED) throw std::bad_alloc();
  askForLargePages(begin, bytes);
  return begin;
}

void unmapLargePages(void* begin, size_t bytes) { munmap(begin, bytes); }

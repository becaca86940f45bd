// Large pages for tables that are probed all over. A lookup that lands anywhere in a table of
// tens of megabytes misses the processor's cache of page addresses as well as its data cache
// when the table lies in small pages; in large pages its addresses stay at hand.
#pragma once
#include <cstddef>
#include <memory>
#include <new>
#include <utility>
#include <vector>

// Asks the system to back the whole large pages inside [begin, begin + bytes) with large
// pages. Call it before the memory is first written; a system that does not give them on
// request ignores it, and nothing else changes.
void askForLargePages(void* begin, size_t bytes);

// Fresh memory of the given size in large pages where the system gives them (throws
// std::bad_alloc when there is none), and its return.
void* mapLargePages(size_t bytes);
void unmapLargePages(void* begin, size_t bytes);

// An allocator that takes blocks of 4 MiB and more straight from the system in large pages:
// a vector that grows by doubling then faults its memory in a few large pages instead of
// many small ones, and its probes stay within the cache of page addresses.
template <class T>
struct LargePageAllocator {
  using value_type = T;
  static constexpr size_t kLargeBytes = size_t{4} << 20;
  LargePageAllocator() = default;
  template <class U>
  LargePageAllocator(const LargePageAllocator<U>&) noexcept {}
  T* allocate(size_t n) {
    if (n * sizeof(T) >= kLargeBytes) return static_cast<T*>(mapLargePages(n * sizeof(T)));
    return std::allocator<T>().allocate(n);
  }
  void deallocate(T* p, size_t n) noexcept {
    if (n * sizeof(T) >= kLargeBytes)
      unmapLargePages(p, n * sizeof(T));
    else
      std::allocator<T>().deallocate(p, n);
  }
  // An element made without a value is left as the memory holds it: a byte record that grows
  // by resize and is then written is not cleared first. An element made from a value (assign,
  // push_back, a count and a value) is made as usual.
  template <class U>
  void construct(U* at) noexcept {
    ::new (static_cast<void*>(at)) U;
  }
  template <class U, class... Args>
  void construct(U* at, Args&&... args) {
    ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
  }
  template <class U>
  bool operator==(const LargePageAllocator<U>&) const noexcept {
    return true;
  }
};

// resize(n) and a vector of n elements without a value leave the new elements uninitialized.
template <class T>
using LargeVector = std::vector<T, LargePageAllocator<T>>;

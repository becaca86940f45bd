// Large pages for tables that are probed all over. A lookup that lands anywhere in a table of
// tens of megabytes misses the processor's cache of page addresses as well as its data cache
// when the table lies in small pages; in large pages its addresses stay at hand.
#pragma once
#include <cstddef>

// Asks the system to back the whole large pages inside [begin, begin + bytes) with large
// pages. Call it before the memory is first written; a system that does not give them on
// request ignores it, and nothing else changes.
void askForLargePages(void* begin, size_t bytes);

// Fresh memory of the given size in large pages where the system gives them (throws
// std::bad_alloc when there is none), and its return.
void* mapLargePages(size_t bytes);
void unmapLargePages(void* begin, size_t bytes);

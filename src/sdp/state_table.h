// The state table of one UDC and the search that finds a state in it by its key.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

#include "udc/state_walk.h"

// Keys of UDCs of up to 20 members fit 32 bits (3^20 < 2^32); wider UDCs keep 64-bit keys.
constexpr int kNarrowKeyMembers = 20;

// One UDC's states in enumeration order, so keys strictly descend: the keys, then the value
// columns (decision and continuation value, and the secondary objective's two in a
// two-objective solve), all in one block.
struct UdcStateTable {
  std::unique_ptr<uint8_t[]> block;
  uint32_t count = 0;
  uint32_t storedCount = 0;
  bool wideKeys = false;
  int32_t objectiveCount = 1;

  const uint32_t* narrowKeyData() const { return reinterpret_cast<const uint32_t*>(block.get()); }
  const uint64_t* wideKeyData() const { return reinterpret_cast<const uint64_t*>(block.get()); }
  float* values() const {
    return reinterpret_cast<float*>(block.get() + static_cast<size_t>(count) * (wideKeys ? 8 : 4));
  }
  const float* decisionValue() const { return values(); }
  const float* continuationValue() const { return values() + count; }
  const float* secondaryDecisionValue() const { return values() + 2 * static_cast<size_t>(count); }
  const float* secondaryContinuationValue() const { return values() + 3 * static_cast<size_t>(count); }
  StateKey keyAt(uint32_t i) const { return wideKeys ? wideKeyData()[i] : narrowKeyData()[i]; }
  void setKey(uint32_t i, StateKey key) {
    if (wideKeys)
      reinterpret_cast<uint64_t*>(block.get())[i] = key;
    else
      reinterpret_cast<uint32_t*>(block.get())[i] = static_cast<uint32_t>(key);
  }
};

// Bytes a table of this many states takes.
inline size_t stateTableBytes(uint32_t count, bool wideKeys, int32_t objectiveCount) {
  return static_cast<size_t>(count) * ((wideKeys ? 8 : 4) + 8 * static_cast<size_t>(objectiveCount));
}

// Gives the table room for count states, none stored yet; the block is not cleared.
inline void allocateTable(UdcStateTable& table, uint32_t count, bool wideKeys, int32_t objectiveCount) {
  table.block.reset(new uint8_t[stateTableBytes(count, wideKeys, objectiveCount)]);
  table.count = count;
  table.storedCount = 0;
  table.wideKeys = wideKeys;
  table.objectiveCount = objectiveCount;
}

[[noreturn]] void stopMissingState(StateKey key, int32_t udc);
[[noreturn]] void stopTableOverflow(int32_t udc);

namespace state_table_detail {
// Galloping from the finger: consecutive lookups of one kind move through a table in the
// order of its keys, mostly by a few entries, so they cost a few comparisons each even in
// tables of millions of states.
template <class Key>
uint32_t gallopFrom(const Key* keys, uint32_t count, StateKey key, uint32_t& finger, uint32_t at, int32_t udc) {
  uint32_t lo = 0;
  uint32_t hi = 0;  // the key lies in [lo, hi)
  if (keys[at] > key) {
    // Further on: indices above at.
    uint32_t step = 1;
    lo = at + 1;
    for (;;) {
      const uint64_t probe = static_cast<uint64_t>(at) + step;
      if (probe >= count) {
        hi = count;
        break;
      }
      if (keys[probe] <= key) {
        hi = static_cast<uint32_t>(probe) + 1;
        break;
      }
      lo = static_cast<uint32_t>(probe) + 1;
      step *= 2;
    }
  } else {
    uint32_t step = 1;
    hi = at;
    for (;;) {
      if (step > at) {
        lo = 0;
        break;
      }
      const uint32_t probe = at - step;
      if (keys[probe] >= key) {
        lo = probe;
        break;
      }
      hi = probe;
      step *= 2;
    }
  }
  while (lo < hi) {
    const uint32_t mid = lo + (hi - lo) / 2;
    if (keys[mid] == key) {
      finger = mid;
      return mid;
    }
    if (keys[mid] > key)
      lo = mid + 1;
    else
      hi = mid;
  }
  stopMissingState(key, udc);
}

template <class Key>
inline uint32_t searchFrom(const Key* keys, uint32_t count, StateKey key, uint32_t& finger, int32_t udc) {
  if (count == 0) stopMissingState(key, udc);
  const uint32_t at = finger < count ? finger : count - 1;
  if (keys[at] == key) return at;
  if (at + 1 < count && keys[at + 1] == key) return finger = at + 1;
  return gallopFrom(keys, count, key, finger, at, udc);
}
}  // namespace state_table_detail

// Index of key among the first count entries of the table (strictly descending keys),
// searched from the finger, which moves to the index found. A missing key stops the run,
// since identification and the solver would then disagree on the states.
inline uint32_t findState(const UdcStateTable& table, uint32_t count, StateKey key, uint32_t& finger,
                          int32_t udc) {
  if (table.wideKeys) return state_table_detail::searchFrom(table.wideKeyData(), count, key, finger, udc);
  return state_table_detail::searchFrom(table.narrowKeyData(), count, key, finger, udc);
}

// Appends one evaluated state; the secondary values are ignored in a one-objective solve.
inline void appendState(UdcStateTable& table, int32_t udc, StateKey key, double decision, double continuation,
                        double secondaryDecision, double secondaryContinuation) {
  const uint32_t i = table.storedCount;
  if (i >= table.count) stopTableOverflow(udc);
  const size_t count = table.count;
  table.setKey(i, key);
  float* values = table.values() + i;
  values[0] = static_cast<float>(decision);
  values[count] = static_cast<float>(continuation);
  if (table.objectiveCount == 2) {
    values[2 * count] = static_cast<float>(secondaryDecision);
    values[3 * count] = static_cast<float>(secondaryContinuation);
  }
  table.storedCount = i + 1;
}

// The state table of one UDC and the search that finds a state in it by its key.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "base/large_pages.h"
#include "udc/state_walk.h"

// Keys of UDCs of up to 20 members fit 32 bits (3^20 < 2^32); wider UDCs keep 64-bit keys.
constexpr int kNarrowKeyMembers = 20;

// One UDC's states in enumeration order, so keys strictly descend. A state is one row: its
// key, then its decision and continuation value, then the same two of every lane riding
// along (objectiveCount lanes in all: the optimised objective's, the other objective's, the
// variances'). A solver reads a target state's key and values together, so a row costs one
// cache line where separate columns would cost three.
//
// Merged rows hold one value, the better of the two (the continuation only when strictly
// greater). A solve of one objective alone, with no phase drawn by its probability, reads
// nothing else of a state, neither at a start nor at a completion: there its tables take 8
// bytes a state instead of 12. Both sides then read that one value (a column stride of 0).
struct UdcStateTable {
  std::unique_ptr<uint8_t[]> block;
  uint32_t count = 0;
  uint32_t storedCount = 0;
  bool wideKeys = false;
  uint8_t memberCount = 0;  // of its UDC: the solver checks a target against it
  uint8_t rowBytes = 0;
  uint8_t columnStride = 4;  // bytes from one value column to the next; 0 in merged rows
  int32_t objectiveCount = 1;

  // A record per table held (millions at once in some projects): kept at 24 bytes.
  bool mergedValues() const { return columnStride == 0; }

  const uint8_t* row(uint32_t i) const { return block.get() + static_cast<size_t>(i) * rowBytes; }
  uint8_t* row(uint32_t i) { return block.get() + static_cast<size_t>(i) * rowBytes; }
  float valueAt(uint32_t i, int column) const {
    float value;
    std::memcpy(&value, row(i) + (wideKeys ? 8 : 4) + columnStride * static_cast<size_t>(column), sizeof value);
    return value;
  }
  // The one value of a merged row.
  float mergedValueAt(uint32_t i) const {
    float value;
    std::memcpy(&value, row(i) + (wideKeys ? 8 : 4), sizeof value);
    return value;
  }
  float decisionAt(uint32_t i) const { return valueAt(i, 0); }
  float continuationAt(uint32_t i) const { return valueAt(i, 1); }
  float secondaryDecisionAt(uint32_t i) const { return valueAt(i, 2); }
  float secondaryContinuationAt(uint32_t i) const { return valueAt(i, 3); }
  StateKey keyAt(uint32_t i) const {
    if (wideKeys) {
      uint64_t key;
      std::memcpy(&key, row(i), sizeof key);
      return key;
    }
    uint32_t key;
    std::memcpy(&key, row(i), sizeof key);
    return key;
  }
  void setKey(uint32_t i, StateKey key) {
    if (wideKeys) {
      std::memcpy(row(i), &key, sizeof key);
    } else {
      const uint32_t narrow = static_cast<uint32_t>(key);
      std::memcpy(row(i), &narrow, sizeof narrow);
    }
  }
  // Values in the order decision, continuation, secondary decision, secondary continuation,
  // then the further lanes' pairs. A merged row keeps the better of the first two.
  void setValues(uint32_t i, const float* values) {
    if (mergedValues()) {
      // Rounding to single precision keeps the order, so the better of the two rounded is the
      // better of the two rounded from.
      const float better = values[1] > values[0] ? values[1] : values[0];
      std::memcpy(row(i) + (wideKeys ? 8 : 4), &better, sizeof better);
      return;
    }
    std::memcpy(row(i) + (wideKeys ? 8 : 4), values, 8 * static_cast<size_t>(objectiveCount));
  }
};
static_assert(sizeof(UdcStateTable) <= 24, "a table record per table held");

// The optimised objective and up to three lanes riding along.
constexpr int32_t kMaxValueLanes = 4;

// Merged rows exist for one objective alone (objectiveCount 1).
inline size_t stateRowBytes(bool wideKeys, int32_t objectiveCount, bool mergedValues = false) {
  return (wideKeys ? 8 : 4) + (mergedValues ? 4 : 8 * static_cast<size_t>(objectiveCount));
}

// Bytes a table of this many states takes.
inline size_t stateTableBytes(uint32_t count, bool wideKeys, int32_t objectiveCount, bool mergedValues = false) {
  return static_cast<size_t>(count) * stateRowBytes(wideKeys, objectiveCount, mergedValues);
}

// Gives the table the shape of count states, none stored yet, in the block it holds.
inline void shapeTable(UdcStateTable& table, uint32_t count, bool wideKeys, int32_t objectiveCount,
                       bool mergedValues = false) {
  table.count = count;
  table.storedCount = 0;
  table.wideKeys = wideKeys;
  table.rowBytes = static_cast<uint8_t>(stateRowBytes(wideKeys, objectiveCount, mergedValues));
  table.columnStride = mergedValues ? 0 : 4;
  table.objectiveCount = objectiveCount;
}

// Gives the table room for count states, none stored yet; the block is not cleared.
// A table of some megabytes asks for large pages before it is first written: its lookups land
// all over it, and in small pages each would miss the cache of page addresses too; a table of
// gigabytes would also take hundreds of thousands of page faults to fill.
constexpr size_t kLargePageTableBytes = size_t{4} << 20;

inline void allocateTable(UdcStateTable& table, uint32_t count, bool wideKeys, int32_t objectiveCount,
                          bool mergedValues = false) {
  const size_t bytes = stateTableBytes(count, wideKeys, objectiveCount, mergedValues);
  table.block.reset(new uint8_t[bytes]);
  if (bytes >= kLargePageTableBytes) askForLargePages(table.block.get(), bytes);
  shapeTable(table, count, wideKeys, objectiveCount, mergedValues);
}

[[noreturn]] void stopMissingState(StateKey key, int32_t udc);
[[noreturn]] void stopTableOverflow(int32_t udc);

namespace state_table_detail {
// The keys of a table, one per row.
template <class Key>
struct RowKeys {
  const uint8_t* rows;
  size_t rowBytes;
  Key operator[](uint64_t i) const {
    Key key;
    std::memcpy(&key, rows + i * rowBytes, sizeof key);
    return key;
  }
};

// The keys of a table whose rows all have one width, known where the search is compiled:
// the sweep of narrow merged rows reads them without the table's shape.
template <class Key, size_t Bytes>
struct FixedRowKeys {
  const uint8_t* rows;
  Key operator[](uint64_t i) const {
    Key key;
    std::memcpy(&key, rows + i * Bytes, sizeof key);
    return key;
  }
};

// Rows a lookup steps through one by one past the finger before it gallops.
constexpr uint32_t kForwardScanRows = 6;

// Galloping from the finger: consecutive lookups of one kind move through a table in the
// order of its keys, mostly by a few entries, so they cost a few comparisons each even in
// tables of millions of states. They move forward, and most of those that pass the next row
// land within a few rows more (on J60 tables, two in three within five rows): those rows, in
// the finger's cache line or the next, are stepped through before the gallop begins.
// The caller has compared the row at + 1, where there is one.
template <class Keys>
__attribute__((noinline)) uint32_t gallopFrom(const Keys& keys, uint32_t count, StateKey key, uint32_t& finger,
                                              uint32_t at, int32_t udc) {
  uint32_t lo = 0;
  uint32_t hi = 0;  // the key lies in [lo, hi)
  const StateKey atKey = keys[at];
  if (atKey == key) return finger = at;
  if (atKey > key) {
    if (count - at > kForwardScanRows) {
      // The last row of the scan first: a key beyond it skips the rows before.
      const StateKey lastKey = keys[at + kForwardScanRows - 1];
      if (lastKey <= key) {
        if (lastKey == key) return finger = at + kForwardScanRows - 1;
        for (uint32_t i = at + 2; i < at + kForwardScanRows - 1; ++i)
          if (keys[i] == key) return finger = i;
        stopMissingState(key, udc);
      }
      at += kForwardScanRows - 1;
    } else {
      for (uint32_t i = at + 2; i < count; ++i) {
        const StateKey seen = keys[i];
        if (seen == key) return finger = i;
        if (seen < key) stopMissingState(key, udc);
      }
      stopMissingState(key, udc);
    }
    // keys[at] > key still
    // Further on: indices above at. The first probe lies 8 rows on, not 1: a key past the
    // scan is rarely that near, and the probes saved outweigh the longer bisection (on
    // J60_401, 2.8 % of the solve's instructions).
    uint32_t step = 8;
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

template <class Keys>
__attribute__((always_inline)) inline uint32_t searchFrom(const Keys& keys, uint32_t count, StateKey key,
                                                          uint32_t& finger, int32_t udc) {
  // The row past the finger is the one most lookups find (on J60 seven in ten; the finger's
  // own row, one in three thousand, is left to the search).
  const uint32_t next = finger + 1;
  if (next < count) {
    if (keys[next] == key) return finger = next;
    return gallopFrom(keys, count, key, finger, finger, udc);
  }
  if (count == 0) stopMissingState(key, udc);
  return gallopFrom(keys, count, key, finger, count - 1, udc);
}
}  // namespace state_table_detail

// Index of key among the first count entries of the table (strictly descending keys),
// searched from the finger, which moves to the index found. A missing key stops the run,
// since identification and the solver would then disagree on the states.
// The common case, the state past the finger, is inlined into the callers; the search beyond
// it (the finger's own state included) stays out of line.
__attribute__((always_inline)) inline uint32_t findState(const UdcStateTable& table, uint32_t count, StateKey key,
                                                         uint32_t& finger, int32_t udc) {
  using state_table_detail::RowKeys;
  if (table.wideKeys)
    return state_table_detail::searchFrom(RowKeys<uint64_t>{table.block.get(), table.rowBytes}, count, key, finger,
                                          udc);
  return state_table_detail::searchFrom(RowKeys<uint32_t>{table.block.get(), table.rowBytes}, count, key, finger, udc);
}

// A merged row with a narrow key: the key, then the one value.
constexpr size_t kNarrowMergedRowBytes = 8;

// findState for a table of merged rows with narrow keys (the caller knows it is one): the
// row's width is a constant, so no lookup reads the table's shape or multiplies by it.
__attribute__((always_inline)) inline uint32_t findNarrowMergedState(const UdcStateTable& table, uint32_t count,
                                                                     StateKey key, uint32_t& finger, int32_t udc) {
  const state_table_detail::FixedRowKeys<uint32_t, kNarrowMergedRowBytes> keys{table.block.get()};
  return state_table_detail::searchFrom(keys, count, key, finger, udc);
}

// The one value of row i of a table of merged rows with narrow keys.
inline float narrowMergedValueAt(const UdcStateTable& table, uint32_t i) {
  float value;
  std::memcpy(&value, table.block.get() + static_cast<size_t>(i) * kNarrowMergedRowBytes + 4, sizeof value);
  return value;
}

// Appends one evaluated state; the secondary values are ignored in a one-objective solve.
inline void appendState(UdcStateTable& table, int32_t udc, StateKey key, double decision, double continuation,
                        double secondaryDecision, double secondaryContinuation) {
  const uint32_t i = table.storedCount;
  if (i >= table.count) stopTableOverflow(udc);
  table.setKey(i, key);
  const float values[4] = {static_cast<float>(decision), static_cast<float>(continuation),
                           static_cast<float>(secondaryDecision), static_cast<float>(secondaryContinuation)};
  table.setValues(i, values);  // reads objectiveCount pairs of them
  table.storedCount = i + 1;
}

// Appends one evaluated state with the values of its lanes in column order (decision and
// continuation of each lane); N is twice the table's objectiveCount.
template <size_t N>
inline void appendStateValues(UdcStateTable& table, int32_t udc, StateKey key, const double (&values)[N]) {
  const uint32_t i = table.storedCount;
  if (i >= table.count) stopTableOverflow(udc);
  table.setKey(i, key);
  float stored[N];
  for (size_t k = 0; k < N; ++k) stored[k] = static_cast<float>(values[k]);
  table.setValues(i, stored);
  table.storedCount = i + 1;
}

// appendStateValues for a table of merged rows with narrow keys (the caller knows it is one):
// the key and the better of the two values, rounded, as setValues keeps them.
inline void appendNarrowMergedState(UdcStateTable& table, int32_t udc, StateKey key, double decision,
                                    double continuation) {
  const uint32_t i = table.storedCount;
  if (i >= table.count) stopTableOverflow(udc);
  uint8_t* row = table.block.get() + static_cast<size_t>(i) * kNarrowMergedRowBytes;
  const uint32_t narrow = static_cast<uint32_t>(key);
  const float d = static_cast<float>(decision);
  const float c = static_cast<float>(continuation);
  const float better = c > d ? c : d;
  std::memcpy(row, &narrow, sizeof narrow);
  std::memcpy(row + 4, &better, sizeof better);
  table.storedCount = i + 1;
}

// The values of state i of a table whose keys are all written (its states evaluated out of
// the order of their rows).
template <size_t N>
inline void storeStateValuesAt(UdcStateTable& table, uint32_t i, const double (&values)[N]) {
  float stored[N];
  for (size_t k = 0; k < N; ++k) stored[k] = static_cast<float>(values[k]);
  table.setValues(i, stored);
}

// State values of the UDCs during one solve: one table per live UDC, kept in memory or
// parked in a state file, and the search that finds a state by its key.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "udc/state_walk.h"

// Keys of UDCs of up to 20 members fit 32 bits (3^20 < 2^32); wider UDCs keep 64-bit keys.
constexpr int kNarrowKeyMembers = 20;

// Columns of one UDC's states in enumeration order, so keys strictly descend. The value
// columns lie one after the other in a single block.
struct UdcStateTable {
  std::vector<uint32_t> narrowKey;
  std::vector<uint64_t> wideKey;
  std::vector<float> values;  // count entries per column
  uint32_t count = 0;
  uint32_t storedCount = 0;
  bool wideKeys = false;

  const float* decisionValue() const { return values.data(); }
  const float* continuationValue() const { return values.data() + count; }
  const float* secondaryDecisionValue() const { return values.data() + 2 * static_cast<size_t>(count); }
  const float* secondaryContinuationValue() const { return values.data() + 3 * static_cast<size_t>(count); }
  StateKey keyAt(uint32_t i) const { return wideKeys ? wideKey[i] : narrowKey[i]; }
};

// The storage of one solve. Tables live in a small pool so that a project with many UDCs
// pays a few bytes per UDC, not a table header.
struct StateStorage {
  int32_t objectiveCount = 0;  // 1 or 2
  bool onDisk = false;
  bool keepAll = false;  // every table stays in memory to the end (a policy is kept)
  std::vector<int32_t> tableSlotOfUdc;  // -1 while the UDC has no table in memory
  std::vector<UdcStateTable> tablePool;
  std::vector<int32_t> freeSlots;
  std::vector<uint32_t> remainingPredecessors;
  std::vector<uint8_t> stateFileWritten;
};

extern StateStorage stateStorage;

// Sets up the slots for udcNetwork and reads useDiskStorage. In disk mode stops the run
// first when the configured project file names could collide with state-file names.
void buildStateStorage(int32_t objectiveCount, bool keepAll = false);
// Frees every table and removes any state file of this solve still present.
void releaseStateStorage();

// The four steps of the sweep for UDC u, the same calls in memory and disk mode.
void shelveFinishedTable(int32_t finishedUdc);  // disk: write the table and free it
void openUdcStep(int32_t u);                    // table of u; disk: read the successors
void closeUdcStep(int32_t u);                   // drop successors no predecessor needs

void allocateStateTable(int32_t u);
void releaseStateTable(int32_t u);
void writeStateTable(int32_t u);
void readStateTable(int32_t u);
void deleteStateFile(int32_t u);
std::string stateFileName(int32_t u);

// True when PJFileName + number + PJFileExt can be a plain decimal name in the working
// directory, the form state files take.
bool projectNamesMayClashWithStateFiles(const std::string& fileName, const std::string& fileExt);

[[noreturn]] void stopMissingTable(int32_t udc);

inline UdcStateTable& stateTableOf(int32_t u) {
  const int32_t slot = stateStorage.tableSlotOfUdc[static_cast<size_t>(u)];
  if (slot < 0) stopMissingTable(u);
  return stateStorage.tablePool[static_cast<size_t>(slot)];
}

[[noreturn]] void stopMissingState(StateKey key, int32_t udc);

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
  if (table.wideKeys) return state_table_detail::searchFrom(table.wideKey.data(), count, key, finger, udc);
  return state_table_detail::searchFrom(table.narrowKey.data(), count, key, finger, udc);
}

[[noreturn]] void stopTableOverflow(int32_t udc);

// Appends one evaluated state; the secondary values are ignored in a one-objective solve.
inline void appendState(UdcStateTable& table, int32_t udc, StateKey key, double decision, double continuation,
                        double secondaryDecision, double secondaryContinuation) {
  const uint32_t i = table.storedCount;
  if (i >= table.count) stopTableOverflow(udc);
  const size_t count = table.count;
  if (table.wideKeys)
    table.wideKey[i] = key;
  else
    table.narrowKey[i] = static_cast<uint32_t>(key);
  float* values = table.values.data() + i;
  values[0] = static_cast<float>(decision);
  values[count] = static_cast<float>(continuation);
  if (table.values.size() > 2 * count) {
    values[2 * count] = static_cast<float>(secondaryDecision);
    values[3 * count] = static_cast<float>(secondaryContinuation);
  }
  table.storedCount = i + 1;
}

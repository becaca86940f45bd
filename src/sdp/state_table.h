// State values of the UDCs during one solve: one table per live UDC, kept in memory or
// parked in a state file named by the UDC number, and the bisection that finds a state.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Columns of one UDC's states in enumeration order, so keys strictly descend. The value
// columns lie one after the other in a single block (two allocations per table, not five:
// a project has many small tables).
struct UdcStateTable {
  std::vector<uint32_t> key;
  std::vector<float> values;  // count entries per column
  uint32_t count = 0;
  uint32_t storedCount = 0;

  const float* decisionValue() const { return values.data(); }
  const float* continuationValue() const { return values.data() + count; }
  const float* secondaryDecisionValue() const { return values.data() + 2 * static_cast<size_t>(count); }
  const float* secondaryContinuationValue() const { return values.data() + 3 * static_cast<size_t>(count); }
};

// The storage of one solve. Tables live in a small pool so that a project with many UDCs
// pays a few bytes per UDC, not a table header.
struct StateStorage {
  int32_t objectiveCount = 0;  // 1 or 2
  bool onDisk = false;
  std::vector<int32_t> tableSlotOfUdc;  // -1 while the UDC has no table in memory
  std::vector<UdcStateTable> tablePool;
  std::vector<int32_t> freeSlots;
  std::vector<uint32_t> remainingPredecessors;
  std::vector<uint8_t> stateFileWritten;
};

extern StateStorage stateStorage;

// Sets up the slots for udcNetwork and reads useDiskStorage. In disk mode stops the run
// first when the configured project file names could collide with state-file names.
void buildStateStorage(int32_t objectiveCount);
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

// Index of key among the first count entries of a descending key array; a missing key
// stops the run, since identification and the solver would then disagree on the states.
uint32_t findStateIndex(const uint32_t* keys, uint32_t count, uint32_t key, int32_t udc);

[[noreturn]] void stopTableOverflow(int32_t udc);

// Appends one evaluated state; the secondary values are ignored in a one-objective solve.
inline void appendState(UdcStateTable& table, int32_t udc, uint32_t key, double decision,
                        double continuation, double secondaryDecision, double secondaryContinuation) {
  const uint32_t i = table.storedCount;
  if (i >= table.count) stopTableOverflow(udc);
  const size_t count = table.count;
  table.key[i] = key;
  float* values = table.values.data() + i;
  values[0] = static_cast<float>(decision);
  values[count] = static_cast<float>(continuation);
  if (table.values.size() > 2 * count) {
    values[2 * count] = static_cast<float>(secondaryDecision);
    values[3 * count] = static_cast<float>(secondaryContinuation);
  }
  table.storedCount = i + 1;
}

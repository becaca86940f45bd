// Where the state tables of one solve live. Each UDC's table is kept from the step that
// fills it until the last UDC that leads to it has been evaluated; in memory, or parked in
// a state file in a directory of the run's own and read back for each UDC that needs it.
// Memory or disk is chosen when the storage opens; the sweep calls the same operations
// either way.
#pragma once
#include <cstdint>
#include <vector>

#include "sdp/state_table.h"

// Opens the storage of one solve over the UDC network: tables of objectiveCount objectives,
// in memory or, onDisk, in state files in a fresh directory inside the working directory.
// With keepAll nothing is dropped (a policy is kept).
void openStateStorage(int32_t objectiveCount, bool onDisk, bool keepAll);

// The empty table of u, to be filled in enumeration order. On disk, the table filled before
// is parked first, and the tables of u's successors are read back.
UdcStateTable& beginUdcTable(int32_t u);

// A table at hand: the one being filled, or one of its UDC's successors'.
UdcStateTable& udcTable(int32_t u);

// A hint, taken before a UDC is evaluated, that the next three UDCs of the sweep will read
// their successors' tables (given nearest first): the places where those are found are
// fetched into the cache in steps (the slot for the third, the table's record for the
// second, its first lines for the next one), so that the sweep does not wait for them one
// after the other.
void prefetchSuccessorTables(const std::vector<uint32_t>& next, const std::vector<uint32_t>& second,
                             const std::vector<uint32_t>& third);

// The UDC begun last, whose successors are given, is evaluated: a successor that no UDC
// still to come leads to is dropped.
void endUdcTable(const std::vector<uint32_t>& successors);

// Hands the table of u over, for a kept policy.
UdcStateTable takeUdcTable(int32_t u);

// Frees every table and removes every state file and the directory; also when a stop
// unwinds the solve.
void closeStateStorage();

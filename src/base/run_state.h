// Run state shared by every stage beside the configuration: the project in hand, whose number
// names every file of it, and where the solve in hand keeps its state tables.
#pragma once
#include <cstdint>

extern int32_t projectNumber;
extern bool useDiskStorage;
// The sweep in hand runs on one thread whatever threadSettings says: what a sweep on several
// threads may hold beyond the estimate does not fit the memory limit.
extern bool sweepOnOneThread;
// With disk storage, the bytes of finished tables that may stay in memory before the least
// recently needed go to disk; 0 puts every finished table on disk as soon as it is done.
extern uint64_t stateMemoryBudgetBytes;

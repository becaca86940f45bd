// Run state shared by every stage: the project in hand and the storage choice.
#include "base/run_state.h"

int32_t projectNumber = 0;
bool useDiskStorage = false;
bool sweepOnOneThread = false;
uint64_t stateMemoryBudgetBytes = 0;

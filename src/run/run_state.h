// Run state kept by the driver beside the configuration.
#pragma once
#include <cstdint>

// Four single-precision slots: slot 0 the primary value, slot 1 the secondary value;
// a makespan is stored negated.
struct SolveResult {
  float slot[4] = {0.0f, 0.0f, 0.0f, 0.0f};
};

extern int32_t projectNumber;
extern bool useDiskStorage;

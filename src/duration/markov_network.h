// The Markovian network: the base network with a phase-type model per activity and mode.
#pragma once
#include <vector>

#include "duration/phase_type.h"

struct MarkovNetwork {
  std::vector<std::vector<PhaseTypeModel>> models;  // [activity][mode]
};

extern MarkovNetwork markovNetwork;

// SCV and skewness overrides, then one fitted model per mode; .MPN at write level >= 2.
void buildMarkovNetwork();
void releaseMarkovNetwork();

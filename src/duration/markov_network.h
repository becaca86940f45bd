// The Markovian network: the base network with a phase-type model per activity and mode.
#pragma once
#include <vector>

#include "duration/phase_type.h"

struct MarkovNetwork {
  std::vector<std::vector<PhaseTypeModel>> models;  // [activity][mode]
  // Set when the models would take more than gv_CFG_max_mem: the megabytes they would take.
  // No model is then fitted and the project goes no further.
  double insufficientMemoryMegabytes = 0;
  // The megabytes the models take, weighed with what the elementary network adds to them.
  double modelMegabytes = 0;
};

extern MarkovNetwork markovNetwork;

// SCV and skewness overrides, then one fitted model per mode; .MPN at write level >= 2.
// Models that would not fit in gv_CFG_max_mem are not fitted (insufficientMemoryMegabytes).
void buildMarkovNetwork();
void releaseMarkovNetwork();

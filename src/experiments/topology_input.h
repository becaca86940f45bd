// TEST_TOP.DAT, the input of mode 1. Only the beta accuracy test uses it here; the
// remaining fields are read so that the file is checked as a whole.
#pragma once
#include <cstdint>
#include <vector>

struct TopologyTestInput {
  int32_t positionCount = 0;   // A: networks of size s have s + 3 activities
  int32_t firstSize = 0;       // 0-based
  int32_t firstTopology = 0;   // 0-based
  int32_t sampleCount = 0;     // N
  int32_t seed = 0;
  std::vector<int32_t> topologiesPerSize;
  std::vector<double> meanDurations;
  std::vector<double> costs;
  int32_t queueCapacity = 0;
  int32_t irqSwitch = 0;
  int32_t moduleSwitch = 0;
  int32_t abandonSwitch = 0;
  std::vector<double> payoffFactors;
  std::vector<double> rates;
  std::vector<double> ptsValues;
  std::vector<double> scvLevels;
};

extern TopologyTestInput topologyTestInput;

// Reads TEST_TOP.DAT; a missing file or a missing value stops the run.
void readTopologyTestInput();
void releaseTopologyTestInput();

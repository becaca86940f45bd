// TEST_TOP.DAT, the input of mode 1: the beta accuracy test and the topology test.
#pragma once
#include <cstdint>
#include <vector>

struct TopologyTestInput {
  int32_t positionCount = 0;  // A: networks of size s have s + 1 inner activities
  int32_t firstSize = 0;      // 0-based
  int32_t firstTopology = 0;  // 0-based
  int32_t sampleCount = 0;    // N
  int32_t seed = 0;
  std::vector<int32_t> topologiesPerSize;
  std::vector<double> meanDurations;
  std::vector<double> costs;
  int32_t queueCapacity = 0;
  // 0: one pass with the switch off, 1: one pass with it on, other values: off, then on.
  int32_t irqSwitch = 0;
  int32_t moduleSwitch = 0;
  int32_t abandonSwitch = 0;
  std::vector<double> payoffFactors;
  std::vector<double> rates;
  std::vector<double> ptsValues;
  std::vector<double> scvLevels;
};

extern TopologyTestInput topologyTestInput;

// Samples the beta test may keep at once: N x A x K doubles of 8 bytes, 800 MB at most.
constexpr double kMaxKeptSamples = 1e8;

// Reads TEST_TOP.DAT; a missing file, a missing value or a value outside its range stops
// the run naming the file and the field.
void readTopologyTestInput();
void releaseTopologyTestInput();

// The sizes that run: from the first size on, those whose topology count is above 0.
bool sizeRuns(int32_t size);

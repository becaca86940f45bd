// Mode 1: TEST_TOP.DAT, the seed and the beta accuracy test. The topology test that would
// follow is not part of this program, so the mode ends after the beta test.
#include "experiments/beta_distribution.h"
#include "experiments/experiment_input.h"
#include "experiments/experiments.h"
#include "experiments/topology_input.h"
#include "run/config.h"
#include "run/random15.h"

TopologyTestInput topologyTestInput;

void readTopologyTestInput() {
  topologyTestInput = TopologyTestInput{};
  TopologyTestInput& t = topologyTestInput;
  ExperimentInput input;
  openExperimentInput(input, "TEST_TOP.DAT");
  t.positionCount = readInputInt(input, "number of activities");
  t.firstSize = readInputInt(input, "first size");
  if (t.firstSize >= 1) --t.firstSize;
  t.firstTopology = readInputInt(input, "first topology");
  if (t.firstTopology >= 1) --t.firstTopology;
  t.sampleCount = readInputInt(input, "number of samples");
  t.seed = readInputInt(input, "seed");
  for (int32_t i = 0; i < t.positionCount; ++i)
    t.topologiesPerSize.push_back(readInputInt(input, "topologies per size"));
  for (int32_t i = 0; i < t.positionCount; ++i) t.meanDurations.push_back(readInputDouble(input, "durations"));
  for (int32_t i = 0; i < t.positionCount; ++i) t.costs.push_back(readInputDouble(input, "costs"));
  t.queueCapacity = readInputInt(input, "queue capacity");
  t.irqSwitch = readInputInt(input, "IRQ switch");
  t.moduleSwitch = readInputInt(input, "MODULES switch");
  t.abandonSwitch = readInputInt(input, "ABANDONMENT switch");
  t.payoffFactors = readInputList(input, "pay-off factors");
  t.rates = readInputList(input, "discount rates");
  t.ptsValues = readInputList(input, "PTS values");
  t.scvLevels = readInputList(input, "SCV levels");
}

void releaseTopologyTestInput() { topologyTestInput = TopologyTestInput{}; }

void runTopologyTest() {
  readTopologyTestInput();
  projectSrand(static_cast<unsigned>(topologyTestInput.seed));
  BetaTestInput beta;
  beta.meanDurations = topologyTestInput.meanDurations;
  beta.sampleCount = topologyTestInput.sampleCount;
  beta.scvLevels = topologyTestInput.scvLevels;
  runBetaAccuracyTest(beta);
  readConfiguration();
  releaseTopologyTestInput();
}

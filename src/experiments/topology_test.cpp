// Mode 1: TEST_TOP.DAT, the seed and the beta accuracy test. The topology test that would
// follow is not part of this program, so the mode ends after the beta test.
#include <sstream>

#include "experiments/beta_distribution.h"
#include "experiments/experiment_input.h"
#include "experiments/experiments.h"
#include "experiments/topology_input.h"
#include "network/base_network.h"
#include "run/config.h"
#include "run/fatal.h"
#include "run/random15.h"

TopologyTestInput topologyTestInput;

namespace {

// The beta test's values are checked where they enter, naming the file and the position.
void checkBetaTestValues(const ExperimentInput& input) {
  const TopologyTestInput& t = topologyTestInput;
  for (size_t i = 0; i < t.meanDurations.size(); ++i) {
    const double d = t.meanDurations[i];
    if (d == 0.0 || (d >= kMinPositiveDuration && d <= kMaxDuration)) continue;
    std::ostringstream message;
    message << input.fileName << ": the duration of inner position " << i + 1 << " is " << d
            << "; a duration must be 0 or lie within " << kMinPositiveDuration << " and " << kMaxDuration << ".";
    stopFatal(message.str());
  }
  for (size_t k = 0; k < t.scvLevels.size(); ++k) {
    const double c = t.scvLevels[k];
    if (c >= kMinBetaScv && c <= kMaxBetaScv) continue;
    std::ostringstream message;
    message << input.fileName << ": SCV level " << k + 1 << " is " << c << "; the beta test takes SCV levels within "
            << kMinBetaScv << " and " << kMaxBetaScv << ".";
    stopFatal(message.str());
  }
}

}  // namespace

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
  checkBetaTestValues(input);
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

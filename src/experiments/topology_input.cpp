// Reading and checking TEST_TOP.DAT: every value is checked where it enters, naming the
// file and the position, so that the beta test and the topology test may trust them.
#include "experiments/topology_input.h"

#include <limits>
#include <sstream>

#include "experiments/beta_distribution.h"
#include "experiments/experiment_input.h"
#include "experiments/precedence_structures.h"
#include "network/base_network.h"
#include "base/fatal.h"

TopologyTestInput topologyTestInput;

namespace {

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
  const double kept = static_cast<double>(t.sampleCount) * static_cast<double>(t.meanDurations.size()) *
                      static_cast<double>(t.scvLevels.size());
  if (kept > kMaxKeptSamples) {
    std::ostringstream message;
    message << input.fileName << ": " << t.sampleCount << " samples of " << t.meanDurations.size() << " durations at "
            << t.scvLevels.size() << " SCV levels are " << kept
            << " samples; the topology test keeps them all and takes at most " << kMaxKeptSamples << ".";
    stopFatal(message.str());
  }
}

void checkTopologyTestValues(const ExperimentInput& input) {
  const TopologyTestInput& t = topologyTestInput;
  const double largest = std::numeric_limits<double>::max();
  checkInputRange(input, "number of activities", t.positionCount, 0, largest);
  checkInputRange(input, "first size", t.firstSize, 0, largest);
  checkInputRange(input, "first topology", t.firstTopology, 0, largest);
  for (int32_t count : t.topologiesPerSize) checkInputRange(input, "number of topologies of a size", count, 0, largest);
  for (double cost : t.costs) checkInputRange(input, "cost", cost, -kMaxAmount, kMaxAmount);
  if (t.sampleCount >= 1) checkInputRange(input, "queue capacity", t.queueCapacity, 1, largest);
  for (double factor : t.payoffFactors) checkInputRange(input, "pay-off factor", factor, -largest, largest);
  for (double rate : t.rates) checkInputRange(input, "discount rate", rate, 0.0, largest);
  for (double pts : t.ptsValues) checkInputRange(input, "PTS value", pts, 0.0, 1.0);
  for (int32_t size = 0; size < t.positionCount; ++size) {
    if (!sizeRuns(size) || size + 1 <= kMaxStructureActivities) continue;
    std::ostringstream message;
    message << input.fileName << ": size " << size + 1 << " asks for networks of " << size + 1
            << " inner activities; the topology test enumerates them up to " << kMaxStructureActivities
            << " (set its number of topologies to 0).";
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
  checkTopologyTestValues(input);
}

void releaseTopologyTestInput() { topologyTestInput = TopologyTestInput{}; }

bool sizeRuns(int32_t size) {
  const TopologyTestInput& t = topologyTestInput;
  return size >= t.firstSize && size < t.positionCount && t.topologiesPerSize[static_cast<size_t>(size)] > 0;
}

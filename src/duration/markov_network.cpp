// The Markovian network: the duration overrides of the configuration, then one fitted
// phase-type model per activity and mode.
#include "duration/markov_network.h"

#include <algorithm>

#include "base/config.h"
#include "base/output_files.h"
#include "base/random15.h"
#include "duration/markov_network_file.h"
#include "network/base_network.h"

MarkovNetwork markovNetwork;

namespace {

double drawUnitInterval() {
  const int draw = projectRand();
  return static_cast<double>(draw) / 32767.0;
}

// The overrides change the base network's modes on purpose: the .MPN file and the
// network metrics show the SCVs and skewnesses that were actually fitted.
void applyDurationOverrides() {
  const bool overrideScv = settingsInForce().gv_CFG_SCV_data < 1;
  const bool clearSkewness = settingsInForce().gv_CFG_skew_data < 1 && settingsInForce().gv_CFG_skew == 0.0;
  for (Activity& activity : baseNetwork.activities) {
    for (ExecutionMode& mode : activity.modes) {
      if (overrideScv) {
        if (settingsInForce().gv_CFG_SCV == -1.0) {
          const double u = drawUnitInterval();
          const double v = drawUnitInterval();
          mode.scv = u > 0.5 ? v + 0.34 : 1.0 / (v + 0.2);
        } else if (settingsInForce().gv_CFG_SCV > 0.0) {
          mode.scv = settingsInForce().gv_CFG_SCV;
        }
      }
      if (clearSkewness) mode.skewness = 0.0;
    }
  }
}

// The models' memory against gv_CFG_max_mem (0 and -1: no limit), before any is fitted. As
// for the elementary network, the first megabyte always fits.
bool modelsFit() {
  double bytes = 0;
  for (const Activity& activity : baseNetwork.activities)
    for (const ExecutionMode& mode : activity.modes) bytes += phaseTypeModelBytes(mode.duration, mode.scv);
  const double megabytes = bytes / 1048576.0;
  markovNetwork.modelMegabytes = megabytes;
  const double limit = settingsInForce().gv_CFG_max_mem;
  if (limit == 0 || limit == -1 || megabytes <= std::max(limit, 1.0)) return true;
  markovNetwork.insufficientMemoryMegabytes = megabytes;
  return false;
}

void fitAllModes() {
  const int activityCount = static_cast<int>(baseNetwork.activities.size());
  markovNetwork.models.resize(activityCount);
  for (int a = 0; a < activityCount; ++a) {
    const std::vector<ExecutionMode>& modes = baseNetwork.activities[a].modes;
    markovNetwork.models[a].reserve(modes.size());
    for (int m = 0; m < static_cast<int>(modes.size()); ++m)
      markovNetwork.models[a].push_back(
          fitPhaseType(modes[m].duration, modes[m].scv, settingsInForce().gv_CFG_hyper, a, m));
  }
}

}  // namespace

void buildMarkovNetwork() {
  markovNetwork = MarkovNetwork{};
  applyDurationOverrides();
  if (!modelsFit()) return;
  fitAllModes();
  if (outputFileIsWritten(OutputFile::kMarkovNetwork)) writeMarkovNetworkFile();
}

void releaseMarkovNetwork() { markovNetwork = MarkovNetwork{}; }

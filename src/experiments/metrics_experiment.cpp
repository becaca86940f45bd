// Mode 3, the metrics test: random instances of every base project written as .T3B project
// files, their network metrics, then every instance through the normal per-project steps.
#include "experiments/metrics_experiment.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <limits>
#include <string>
#include <vector>

#include "duration/elementary_network.h"
#include "duration/phase_type.h"
#include "experiments/experiment_input.h"
#include "experiments/experiments.h"
#include "experiments/project_layout.h"
#include "metrics/network_metrics.h"
#include "network/base_network.h"
#include "base/config.h"
#include "base/fatal.h"
#include "base/interrupt.h"
#include "base/output_files.h"
#include "project/output_names.h"
#include "project/project_run.h"
#include "project/solve.h"
#include "project/results_file.h"
#include "base/run_state.h"

MetricsTestInput metricsTestInput;

namespace {

const char* const kInstanceExtension = ".T3B";

// Reads a base project only to copy it into instances, then lets it go with its resources.
void writeInstancesOfProject(int64_t& instanceNumber) {
  const int32_t repeats = metricsTestInput.instancesPerProject;
  for (int32_t r = 0; r < repeats; ++r) {
    ++instanceNumber;
    const std::string name = runConfig.PJFileName + std::to_string(instanceNumber) + kInstanceExtension;
    // The run reads its instances back: one that cannot be written must stop it here.
    CheckedOutput file(name);
    writeInstance(file.stream());
    file.finish();
  }
  releaseBaseNetwork();
  releaseElementaryNetwork();
}

// The bounds of the drawn values are checked where they enter; a drawn pay-off is checked
// when its instance is read back.
void checkMetricsTestValues(const ExperimentInput& input) {
  const MetricsTestInput& t = metricsTestInput;
  const double largest = std::numeric_limits<double>::max();
  if (t.rateOn > 0) {
    checkInputRange(input, "low discount rate", t.rateLow, 0.0, largest);
    checkInputRange(input, "high discount rate", t.rateHigh, 0.0, largest);
  }
  if (t.durationOn > 0) {
    checkInputRange(input, "low duration", t.durationLow, kMinPositiveDuration, kMaxDuration);
    checkInputRange(input, "high duration", t.durationHigh, kMinPositiveDuration, kMaxDuration);
  }
  if (t.scvOn > 0) {
    checkInputRange(input, "low SCV", t.scvLow, kMinScv, 1.0);
    checkInputRange(input, "high SCV", t.scvHigh, 1.0, largest);
  }
  if (t.costOn > 0) {
    checkInputRange(input, "low cost", t.costLow, -kMaxAmount, kMaxAmount);
    checkInputRange(input, "high cost", t.costHigh, -kMaxAmount, kMaxAmount);
  }
  if (t.ptsOn > 0) {
    checkInputRange(input, "low PTS", t.ptsLow, 0.0, 1.0);
    checkInputRange(input, "high PTS", t.ptsHigh, 0.0, 1.0);
  }
  if (t.payoffOn > 0) {
    checkInputRange(input, "low pay-off factor", t.payoffLow, -largest, largest);
    checkInputRange(input, "high pay-off factor", t.payoffHigh, -largest, largest);
  }
}

}  // namespace

void readMetricsTestInput() {
  metricsTestInput = MetricsTestInput{};
  MetricsTestInput& t = metricsTestInput;
  ExperimentInput input;
  openExperimentInput(input, "TEST3.DAT");
  t.instancesPerProject = readInputInt(input, "instances per project");
  double* const fields[] = {&t.rateOn, &t.rateLow, &t.rateHigh, &t.durationOn, &t.durationLow, &t.durationHigh,
                            &t.scvOn,  &t.scvLow,  &t.scvHigh,  &t.costOn,     &t.costLow,     &t.costHigh,
                            &t.ptsOn,  &t.ptsLow,  &t.ptsHigh,  &t.payoffOn,   &t.payoffLow,   &t.payoffHigh};
  for (double* field : fields) *field = readInputDouble(input, "switches and bounds");
  checkMetricsTestValues(input);
}

void releaseMetricsTestInput() { metricsTestInput = MetricsTestInput{}; }

void writeInstance(std::ostream& out) {
  const MetricsTestInput& t = metricsTestInput;
  BaseNetwork instance = baseNetwork;
  const int n = instance.activityCount;
  if (t.rateOn > 0) instance.discountRate = drawBetween(t.rateLow, t.rateHigh);
  double costSum = 0;
  double ptsProduct = 1.0;
  for (int a = 0; a < n; ++a) {
    const bool inner = a != 0 && a != n - 1;
    std::vector<ExecutionMode>& modes = instance.activities[static_cast<size_t>(a)].modes;
    for (size_t m = 0; m < modes.size(); ++m) {
      ExecutionMode& mode = modes[m];
      if (inner && t.durationOn > 0) mode.duration = drawBetween(t.durationLow, t.durationHigh);
      if (inner && t.scvOn > 0) {
        const double selector = drawUnit();
        mode.scv = selector < 0.5 ? drawBetween(t.scvLow, 1.0) : drawBetween(1.0, t.scvHigh);
      }
      if (inner && t.costOn > 0) {
        mode.cost = drawBetween(t.costLow, t.costHigh);
        costSum += mode.cost;
      } else if (a == n - 1 && t.payoffOn > 0) {
        const double factor = drawBetween(t.payoffLow, t.payoffHigh);
        // A project that cannot succeed (P = 0) gets no pay-off rather than an infinite one.
        mode.cost = ptsProduct != 0.0 ? factor * (-costSum) / ptsProduct : 0.0;
        if (mode.cost == 0.0) mode.cost = 0.0;  // no "-0" in the file when the inner costs sum to 0
      } else if (inner && m == 0) {
        costSum += mode.cost;
      }
      if (inner && t.ptsOn > 0) {
        mode.pts = drawBetween(t.ptsLow, t.ptsHigh);
        ptsProduct *= mode.pts;
      } else if (inner && m == 0) {
        ptsProduct *= mode.pts;
      }
    }
  }
  writeProjectLayout(out, instance);
}

namespace {

// The instances 1 .. R x projects, their network files and those of the base projects, and
// the two results files, against the base project files that the run reads.
void checkInstanceNames() {
  const RunConfig& config = runConfig;
  const int64_t projects = std::max<int64_t>(0, int64_t{config.gv_CFG_lnr} - config.gv_CFG_fnr + 1);
  const int64_t instances = std::max<int64_t>(0, metricsTestInput.instancesPerProject) * projects;
  std::vector<std::string> instanceFiles = writtenOutputExtensions();
  instanceFiles.push_back(kInstanceExtension);
  checkOutputNames({{1, instances, instanceFiles}, {config.gv_CFG_fnr, config.gv_CFG_lnr, writtenOutputExtensions()}},
                   {"RESULTS.CSV", kMetricsFileName});
}

}  // namespace

void runMetricsTest() {
  solveResult = SolveResult{};
  std::cout << "BOOT" << '\n';
  readConfiguration();
  readMetricsTestInput();
  checkInstanceNames();

  int64_t instanceCount = 0;
  for (int64_t number = runConfig.gv_CFG_fnr; number <= runConfig.gv_CFG_lnr; ++number) {
    checkInterrupt();
    projectNumber = static_cast<int32_t>(number);
    std::cout << "PROJECT [" << projectNumber << "]";
    readProjectFile();
    writeInstancesOfProject(instanceCount);
  }

  // From here on the run reads the instances: the series of the .T3B files, with every field.
  RunConfig instances = runConfig;
  instances.PJFileExt = kInstanceExtension;
  instances.gv_CFG_fnr = 1;
  instances.gv_CFG_lnr = static_cast<int32_t>(std::min<int64_t>(instanceCount, INT32_MAX));
  forceInstanceDataFlags(instances);
  const SettingsScope scope(instances);
  ProjectRun run;
  run.steps.showMarkers = true;
  run.objectives = chooseObjectives(instances);
  createResultsFile("RESULTS.CSV", kResultsHeaderLead, run.objectives);
  std::cout << "INITIALIZED" << '\n';
  computeNetworkMetrics();
  std::cout << "METRICS OBTAINED" << '\n';
  for (int64_t number = 1; number <= instances.gv_CFG_lnr; ++number) {
    checkInterrupt();
    projectNumber = static_cast<int32_t>(number);
    runProject(run);
  }
  releaseMetricsTestInput();
  solveResult = SolveResult{};
}

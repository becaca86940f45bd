// Mode 2, the project variance test: every project is solved for every rate, SCV setting,
// drawn-value pass and structural variant of TEST2.DAT, one row of RES_T2.CSV per run.
#include "experiments/variance_experiment.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iostream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "duration/elementary_network.h"
#include "experiments/experiment_input.h"
#include "experiments/experiments.h"
#include "metrics/network_metrics.h"
#include "network/base_network.h"
#include "base/config.h"
#include "base/interrupt.h"
#include "base/output_files.h"
#include "project/output_names.h"
#include "project/project_run.h"
#include "project/solve.h"
#include "project/pipeline.h"
#include "project/results_file.h"
#include "base/run_state.h"
#include "udc/udc_network.h"

VarianceTestInput varianceTestInput;
VarianceTestTables varianceTestTables;

const char* const kVarianceHeaderLead =
    "PROJECT;TEST2;SCV;RATE;#ACT;#UDC;#STATES;#ENTRY STATES;MAX #STATES IN MEMORY;MAX UDC SIZE;CPU UDC (SEC)";

namespace {

const char* const kVarianceResultsFile = "RES_T2.CSV";

int64_t passCount(int32_t count) { return std::llabs(static_cast<long long>(count)); }

// Rates, probabilities and amounts are checked where they enter; the pay-off, computed
// per project, is checked with the project's other values before each run.
void checkVarianceTestValues(const ExperimentInput& input) {
  const VarianceTestInput& t = varianceTestInput;
  const double largest = std::numeric_limits<double>::max();
  for (double rate : t.rates) checkInputRange(input, "discount rate", rate, 0.0, largest);
  for (const DrawBounds& bounds : t.ptsBounds) {
    checkInputRange(input, "PTS bound", bounds.low, 0.0, 1.0);
    checkInputRange(input, "PTS bound", bounds.high, 0.0, 1.0);
  }
  for (const DrawBounds& bounds : t.costBounds) {
    checkInputRange(input, "cost bound", bounds.low, -kMaxAmount, kMaxAmount);
    checkInputRange(input, "cost bound", bounds.high, -kMaxAmount, kMaxAmount);
  }
  for (const PayoffSetting& setting : t.payoffSettings) {
    checkInputRange(input, "pay-off bound", setting.low, -kMaxAmount, kMaxAmount);
    checkInputRange(input, "pay-off bound", setting.high, -kMaxAmount, kMaxAmount);
  }
}

// One row of RES_T2.CSV: the project read afresh, adjusted, varied, identified and solved.
void runVarianceRun(int64_t number, int64_t variant, double rate, double scv, const DrawnProjectValues& drawn,
                    int64_t payoffIndex) {
  projectNumber = static_cast<int32_t>(number);
  ProjectRun run;
  run.resultsFile = kVarianceResultsFile;
  run.steps.showMarkers = true;
  run.steps.adjustBaseNetwork = [&] {
    adjustProjectForRun(rate, scv, drawn, static_cast<int>(payoffIndex));
    applyStructuralVariant(variant);
    // The drawn pay-off, and variant 4's cube of it, can leave the range the solver handles.
    checkProjectValues(" After the changes of TEST2.DAT (variant " + std::to_string(variant) + "),");
  };
  // Variants 2 and 5 solve makespan first, then NPV, for this run only; the variances asked
  // for follow in their slot order.
  RunConfig objectives = runConfig;
  if (variant == 2 || variant == 5) {
    std::vector<int32_t> variances;
    for (int32_t measure : configuredMeasures(runConfig))
      if (measure == 2 || measure == 3) variances.push_back(measure);
    objectives.gv_CFG_OBJ = 1;
    objectives.gv_CFG_OBJ2 = 0;
    objectives.gv_CFG_OBJ3 = variances.size() > 0 ? variances[0] : -1;
    objectives.gv_CFG_OBJ4 = variances.size() > 1 ? variances[1] : -1;
  }
  run.objectives = chooseObjectives(objectives);
  std::ostringstream console;
  console << " SCV: " << scv << " RATE: " << rate;
  run.consoleBeforeUdcs = console.str();
  std::ostringstream lead;
  lead << projectNumber << ';' << variant << ';' << scv << ';' << rate;
  run.rowLead = lead.str();
  runProject(run);
}

}  // namespace

void readVarianceTestInput() {
  varianceTestInput = VarianceTestInput{};
  VarianceTestInput& t = varianceTestInput;
  ExperimentInput input;
  openExperimentInput(input, "TEST2.DAT");
  t.rates = readInputList(input, "discount rates");
  t.scvMode = readInputInt(input, "SCV mode");
  t.scvValues = readInputList(input, "SCV values");
  t.ptsSetCount = readInputInt(input, "number of PTS bounds");
  for (int32_t i = 0; i < t.ptsSetCount; ++i) {
    const double low = readInputDouble(input, "PTS bounds");
    const double high = readInputDouble(input, "PTS bounds");
    t.ptsBounds.push_back({low, high});
  }
  t.costSetCount = readInputInt(input, "number of cost bounds");
  for (int32_t i = 0; i < t.costSetCount; ++i) {
    const double low = readInputDouble(input, "cost bounds");
    const double high = readInputDouble(input, "cost bounds");
    t.costBounds.push_back({low, high});
  }
  t.payoffCount = readInputInt(input, "number of pay-off settings");
  for (int32_t i = 0; i < t.payoffCount; ++i) {
    PayoffSetting setting;
    setting.flag = readInputInt(input, "pay-off settings");
    setting.low = readInputDouble(input, "pay-off settings");
    setting.high = readInputDouble(input, "pay-off settings");
    t.payoffSettings.push_back(setting);
  }
  t.lastVariant = readInputInt(input, "last variant");
  checkVarianceTestValues(input);
}

void releaseVarianceTestInput() { varianceTestInput = VarianceTestInput{}; }

DrawnProjectValues drawProjectValues() {
  const VarianceTestInput& t = varianceTestInput;
  const int n = baseNetwork.activityCount;
  DrawnProjectValues drawn;
  drawn.pts.resize(n);
  drawn.cost.resize(std::max(n - 1, 0));
  for (int a = 0; a < n; ++a) drawn.pts[a].assign(baseNetwork.activities[a].modes.size(), 1.0);
  for (int a = 0; a < n - 1; ++a) drawn.cost[a].assign(baseNetwork.activities[a].modes.size(), 0.0);
  // Later bound pairs and settings overwrite the draws of earlier ones.
  if (t.ptsSetCount > 0)
    for (const DrawBounds& bounds : t.ptsBounds)
      for (int a = 0; a < n; ++a)
        for (double& value : drawn.pts[a]) value = drawBetween(bounds.low, bounds.high);
  if (t.costSetCount > 0)
    for (const DrawBounds& bounds : t.costBounds)
      for (int a = 0; a < n - 1; ++a)
        for (double& value : drawn.cost[a]) value = drawBetween(bounds.low, bounds.high);
  if (t.payoffCount > 0)
    for (const PayoffSetting& setting : t.payoffSettings)
      drawn.payoff = setting.flag != 0 ? drawUnit() : drawBetween(setting.low, setting.high);
  return drawn;
}

void buildVarianceTestTables() {
  varianceTestTables = VarianceTestTables{};
  for (int64_t number = runConfig.gv_CFG_fnr; number <= runConfig.gv_CFG_lnr; ++number) {
    checkInterrupt();
    projectNumber = static_cast<int32_t>(number);
    readProjectFile();
    varianceTestTables.projects.push_back(drawProjectValues());
    // Read only to be looked at: the base network and its resources go at once.
    releaseBaseNetwork();
    releaseElementaryNetwork();
  }
}

void releaseVarianceTestTables() { varianceTestTables = VarianceTestTables{}; }

void adjustProjectForRun(double rate, double scvValue, const DrawnProjectValues& drawn, int payoffIndex) {
  const VarianceTestInput& t = varianceTestInput;
  const int n = baseNetwork.activityCount;
  baseNetwork.discountRate = rate;
  for (int a = 1; a <= n - 2; ++a)
    for (ExecutionMode& mode : baseNetwork.activities[a].modes)
      mode.scv = t.scvMode != 0 ? mode.scv * scvValue : scvValue;
  if (t.ptsSetCount > 0)
    for (int a = 1; a <= n - 2 && a < static_cast<int>(drawn.pts.size()); ++a) {
      std::vector<ExecutionMode>& modes = baseNetwork.activities[a].modes;
      for (size_t m = 0; m < modes.size() && m < drawn.pts[a].size(); ++m) modes[m].pts = drawn.pts[a][m];
    }
  if (t.costSetCount > 0)
    for (int a = 1; a <= n - 2 && a < static_cast<int>(drawn.cost.size()); ++a) {
      std::vector<ExecutionMode>& modes = baseNetwork.activities[a].modes;
      for (size_t m = 0; m < modes.size() && m < drawn.cost[a].size(); ++m) modes[m].cost = drawn.cost[a][m];
    }
  if (t.payoffCount > 0 && n >= 1 && payoffIndex >= 0 && payoffIndex < static_cast<int>(t.payoffSettings.size())) {
    double largestCosts = 0;
    for (int a = 1; a <= n - 2; ++a) {
      double largest = 0;
      for (const ExecutionMode& mode : baseNetwork.activities[a].modes)
        largest = std::max(largest, std::fabs(mode.cost));
      largestCosts += largest;
    }
    const PayoffSetting& setting = t.payoffSettings[payoffIndex];
    const double payoff =
        setting.flag == 0 ? largestCosts * drawn.payoff : setting.low + (setting.high - setting.low) * drawn.payoff;
    for (ExecutionMode& mode : baseNetwork.activities[n - 1].modes) mode.cost = payoff;
  }
}

void applyStructuralVariant(int64_t variant) {
  const int n = baseNetwork.activityCount;
  std::vector<Activity>& activities = baseNetwork.activities;
  switch (variant) {
    case 1:
      if (baseNetwork.resourceCount == 0) baseNetwork.resourceCount = 1;
      baseNetwork.resourceAvailability.assign(baseNetwork.resourceCount, 10.0);
      for (Activity& activity : activities)
        for (ExecutionMode& mode : activity.modes) mode.resourceUse.assign(baseNetwork.resourceCount, 10.0);
      break;
    case 3:
      for (int a = 0; a < n - 1; ++a)
        for (ExecutionMode& mode : activities[a].modes) mode.cost = 0;
      break;
    case 4:
      if (n >= 1)
        for (ExecutionMode& mode : activities[n - 1].modes) mode.cost = mode.cost * mode.cost * mode.cost;
      break;
    case 5: {
      if (n < 3) break;
      std::vector<int32_t> inner;
      for (int a = 1; a <= n - 2; ++a) inner.push_back(a);
      activities[0].successors = inner;
      activities[n - 1].predecessors = inner;
      for (int a = 1; a <= n - 2; ++a) {
        activities[a].successors.assign(1, n - 1);
        activities[a].predecessors.assign(1, 0);
      }
      break;
    }
    default: break;
  }
}

void runVarianceTest() {
  solveResult = SolveResult{};
  std::cout << "BOOT" << '\n';
  readConfiguration();
  checkOutputNames({{runConfig.gv_CFG_fnr, runConfig.gv_CFG_lnr, writtenOutputExtensions()}},
                   {kVarianceResultsFile, kMetricsFileName});
  readVarianceTestInput();
  createResultsFile(kVarianceResultsFile, kVarianceHeaderLead, chooseObjectives(runConfig));
  std::cout << "INITIALIZED" << '\n';
  computeNetworkMetrics();
  std::cout << "METRICS OBTAINED" << '\n';
  buildVarianceTestTables();

  const VarianceTestInput& t = varianceTestInput;
  for (int64_t number = runConfig.gv_CFG_fnr; number <= runConfig.gv_CFG_lnr; ++number) {
    const DrawnProjectValues& drawn = varianceTestTables.projects[number - runConfig.gv_CFG_fnr];
    for (int64_t variant = 0; variant <= passCount(t.lastVariant); ++variant)
      for (double rate : t.rates)
        for (int64_t ptsPass = 0; ptsPass < passCount(t.ptsSetCount); ++ptsPass)
          for (int64_t costPass = 0; costPass < passCount(t.costSetCount); ++costPass)
            for (int64_t p = 0; p < passCount(t.payoffCount); ++p)
              for (double scv : t.scvValues) {
                checkInterrupt();
                runVarianceRun(number, variant, rate, scv, drawn, p);
              }
  }
  releaseVarianceTestTables();
  releaseVarianceTestInput();
  solveResult = SolveResult{};
}

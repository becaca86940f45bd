// The run driver: the mode prompt, the normal run over the configured project series and
// the per-project pipeline that the experiment modes share.
#include "run/driver.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>

#include "duration/elementary_network.h"
#include "experiments/experiments.h"
#include "network/base_network.h"
#include "run/config.h"
#include "run/fatal.h"
#include "run/interrupt.h"
#include "run/output_names.h"
#include "run/pipeline.h"
#include "run/results_file.h"
#include "sdp/policy.h"
#include "sdp/policy_file.h"
#include "sdp/solvers.h"
#include "udc/udc_network.h"

SolveResult solveResult;

namespace {

const char* const kResultsFileName = "RESULTS.CSV";

// A kept policy holds, per state, four values and the key (20 bytes) and the decision (16).
constexpr int kKeptPolicyBytesPerState = 36;

// The default formatting shows a negated zero as "-0".
float withoutNegativeZero(float value) { return value == 0.0f ? 0.0f : value; }

double secondsBetween(std::clock_t start, std::clock_t end) {
  return static_cast<double>(end - start) / static_cast<double>(CLOCKS_PER_SEC);
}

// One row of the objective table: which solver serves the configured pair and how its
// slots are shown.
struct ObjectiveCase {
  bool (*solver)(SolveResult&) = nullptr;
  // The same solve keeping the policy (the other objective rides along when none is asked).
  bool (*keepingSolver)(SolveResult&, KeptPolicy&) = nullptr;
  int bytesPerState = 0;
  const char* primaryLabel = "";
  bool primaryIsMakespan = false;
  const char* secondaryLabel = nullptr;
  bool secondaryIsMakespan = false;
};

ObjectiveCase chooseObjectiveCase() {
  const RunConfig& config = runConfig;
  ObjectiveCase chosen;
  if (config.gv_CFG_OBJ == 0 && config.gv_CFG_OBJ2 == -1) {
    chosen = {solveNpv, solveNpvWithMakespanKeepingPolicy, 8, " OPT NPV: ", false, nullptr, false};
  } else if (config.gv_CFG_OBJ == 0 && config.gv_CFG_OBJ2 == 1) {
    chosen = {solveNpvWithMakespan, solveNpvWithMakespanKeepingPolicy, 12, " OPT NPV: ", false, " MAKESPAN: ", true};
  } else if (config.gv_CFG_OBJ == 1 && config.gv_CFG_OBJ2 == -1) {
    chosen = {solveMakespan, solveMakespanWithNpvKeepingPolicy, 8, " OPT MAKESPAN: ", true, nullptr, false};
  } else if (config.gv_CFG_OBJ == 1 && config.gv_CFG_OBJ2 == 0) {
    chosen = {solveMakespanWithNpv, solveMakespanWithNpvKeepingPolicy, 12, " OPT MAKESPAN: ", true, " NPV: ", false};
  }
  return chosen;
}

float shownValue(float slot, bool isMakespan) { return withoutNegativeZero(isMakespan ? -slot : slot); }

// What the project can produce at all: an NPV between its bound (0 when it may be
// abandoned) and the sum of its positive costs, a makespan between 0 and the sum of its
// phase means. A value outside, or one that is not finite, means lost precision.
struct ValueRange {
  double low;
  double high;
};

ValueRange possibleValues(bool isMakespan) {
  const ElementaryNetwork& net = elementaryNetwork;
  if (isMakespan) return {0.0, static_cast<double>(net.makespanUpperBound)};
  double payable = 0;
  for (double cost : net.elemCost) payable += std::max(cost, 0.0);
  return {runConfig.gv_CFG_abandon ? 0.0 : static_cast<double>(net.npvLowerBound), payable};
}

}  // namespace

void checkSolvedValue(float value, bool isMakespan) {
  const ValueRange range = possibleValues(isMakespan);
  // The values are stored as floats: a relative slack of 1e-5 covers their rounding.
  const double slack = 1e-5 * std::max({1.0, std::fabs(range.low), std::fabs(range.high)});
  if (std::isfinite(value) && value >= range.low - slack && value <= range.high + slack) return;
  std::ostringstream message;
  message << "The solver returned " << value << " as the " << (isMakespan ? "makespan" : "NPV") << " of project file "
          << projectFileName() << " (project " << projectNumber << "), outside the " << range.low << " to "
          << range.high << " it can take; nothing is written for it. Its values lost their precision: bring its "
          << "durations, SCVs and amounts closer together.";
  stopFatal(message.str());
}

namespace {

// Project files that the run's outputs would replace stop it before it writes anything.
void checkNormalRunOutputNames() {
  checkOutputNames({{runConfig.gv_CFG_fnr, runConfig.gv_CFG_lnr, networkFileExtensions()}}, {kResultsFileName});
}

}  // namespace

int runProgram() {
  std::cout << "Choose test [0 = NO TEST CONFIG ONLY | 1 = TOPOLOGIES TEST | 2 = PROJECT VARIANCE TEST | 3 = "
               "METRICS TEST]"
            << '\n';
  long long mode = -1;
  const bool answered = readPromptNumber(mode);
  std::cout << "\n\n";
  if (answered) {
    if (mode == 0) runNormal();
    if (mode == 1) runTopologyTest();
    if (mode == 2) runVarianceTest();
    if (mode == 3) runMetricsTest();
  }
  std::cout << "\n\n" << "Test complete. Press any key to exit application..." << '\n';
  waitForAnyKey();
  return 0;
}

void runNormal() {
  solveResult = SolveResult{};
  std::cout << "BOOT" << '\n';
  readConfiguration();
  checkNormalRunOutputNames();
  createResultsFile(kResultsFileName, kResultsHeaderLead);
  std::cout << "INITIALIZED" << '\n';
  // 64 bits: a last number of 2147483647 must end the loop, not wrap around.
  for (int64_t number = runConfig.gv_CFG_fnr; number <= runConfig.gv_CFG_lnr; ++number) {
    checkInterrupt();
    projectNumber = static_cast<int32_t>(number);
    runProject();
  }
  solveResult = SolveResult{};
}

void runProject() {
  std::cout << "PROJECT [" << projectNumber << "]";
  ProjectPipeline steps;
  steps.showMarkers = true;
  steps.solveFollows = configuredPairIsSolved();
  double udcSeconds = 0;
  const bool identified = buildProjectNetworks(steps, udcSeconds);
  std::ostringstream results;
  std::cout << " NR_UDC: " << udcNetwork.udcCount << " CPU[" << udcSeconds << "]";
  results << projectNumber;
  writeUdcFields(results, udcSeconds);
  if (identified)
    solveProject(results);
  else
    std::cout << " UDC IDENTIFICATION FAIL";
  std::cout << '\n';
  std::cout.flush();
  appendResultsRow(kResultsFileName, results.str());
  releaseProjectNetworks();
}

bool configuredPairIsSolved() { return chooseObjectiveCase().solver != nullptr; }

void solveProject(std::ostream& results) {
  const ObjectiveCase objective = chooseObjectiveCase();
  if (objective.solver == nullptr) return;
  const RunConfig& config = runConfig;
  // Write level 5 keeps the policy: every state's values and decision stay in memory.
  const bool keepPolicy = config.gv_CFG_write >= kPolicyWriteLevel;
  const double estimateStateMemory =
      keepPolicy ? static_cast<double>(udcNetwork.udcTotalStates) * kKeptPolicyBytesPerState * 9.5367431640625e-7
                 : static_cast<double>(udcNetwork.udcPeakStates) * objective.bytesPerState * 9.5367431640625e-7;
  // The label of gv_CFG_max_mem: 0 no limit, -1 disk storage for every project.
  const bool noLimit = config.gv_CFG_max_mem == 0 || config.gv_CFG_max_mem == -1;
  useDiskStorage = !keepPolicy && (config.gv_CFG_IO == 1 || config.gv_CFG_max_mem == -1);
  if (!noLimit && estimateStateMemory > config.gv_CFG_max_mem) {
    if (config.gv_CFG_IO != -1 || keepPolicy) {
      std::cout << "INSUFFICIENT MEMORY: " << estimateStateMemory << " MB REQUIRED...";
      return;
    }
    useDiskStorage = true;
  }
  KeptPolicy policy;
  const std::clock_t start = std::clock();
  if (keepPolicy)
    objective.keepingSolver(solveResult, policy);
  else
    objective.solver(solveResult);
  const std::clock_t end = std::clock();
  const double solveSeconds = secondsBetween(start, end);
  const float primary = shownValue(solveResult.slot[0], objective.primaryIsMakespan);
  checkSolvedValue(primary, objective.primaryIsMakespan);
  float secondary = 0;
  if (objective.secondaryLabel != nullptr) {
    secondary = shownValue(solveResult.slot[1], objective.secondaryIsMakespan);
    checkSolvedValue(secondary, objective.secondaryIsMakespan);
  }
  if (keepPolicy) {
    writePolicyFile(policy, objective.primaryIsMakespan);
    releaseKeptPolicy(policy);
  }
  std::cout << objective.primaryLabel << primary << " CPU[" << solveSeconds << "]";
  results << ';' << primary << ';' << solveSeconds;
  if (objective.secondaryLabel != nullptr) {
    std::cout << objective.secondaryLabel << secondary;
    results << ';' << secondary;
  }
}

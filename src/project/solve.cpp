// The solve of the project in hand, written once for the normal run and every mode.
#include "project/solve.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <iostream>
#include <sstream>

#include "base/config.h"
#include "base/fatal.h"
#include "base/output_files.h"
#include "base/run_state.h"
#include "duration/elementary_network.h"
#include "network/base_network.h"
#include "sdp/policy.h"
#include "sdp/policy_file.h"
#include "sdp/policy_table.h"
#include "udc/udc_network.h"

SolveResult solveResult;

namespace {

// A kept policy holds, per state, four values and the key (20 bytes) and the decision (16).
constexpr int kKeptPolicyBytesPerState = 36;

double secondsBetween(std::clock_t start, std::clock_t end) {
  return static_cast<double>(end - start) / static_cast<double>(CLOCKS_PER_SEC);
}

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
  return {settingsInForce().gv_CFG_abandon ? 0.0 : static_cast<double>(net.npvLowerBound), payable};
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

void solveProject(std::ostream& results, const ObjectiveChoice& choice) {
  const Solver solver = solverFor(choice);
  if (solver == nullptr) return;
  const RunConfig& config = settingsInForce();
  // The policy file keeps the policy: every state's values and decision stay in memory.
  const bool keepPolicy = outputFileIsWritten(OutputFile::kPolicy);
  const double estimateStateMemory =
      keepPolicy ? static_cast<double>(udcNetwork.udcTotalStates) * kKeptPolicyBytesPerState * 9.5367431640625e-7
                 : static_cast<double>(udcNetwork.udcPeakStates) * bytesPerState(choice) * 9.5367431640625e-7;
  // The label of gv_CFG_max_mem: 0 no limit, -1 disk storage for every project.
  const bool noLimit = config.gv_CFG_max_mem == 0 || config.gv_CFG_max_mem == -1;
  useDiskStorage = !keepPolicy && (config.gv_CFG_IO == 1 || config.gv_CFG_max_mem == -1);
  stateMemoryBudgetBytes = 0;
  if (!noLimit && estimateStateMemory > config.gv_CFG_max_mem) {
    if (config.gv_CFG_IO != -1 || keepPolicy) {
      std::cout << "INSUFFICIENT MEMORY: " << estimateStateMemory << " MB REQUIRED...";
      return;
    }
    // Automatic: the tables stay in memory up to the limit, only the rest goes to disk.
    useDiskStorage = true;
    stateMemoryBudgetBytes = static_cast<uint64_t>(config.gv_CFG_max_mem * 1048576.0);
  }
  KeptPolicy policy;
  const std::clock_t start = std::clock();
  if (keepPolicy)
    policyKeepingSolverFor(choice)(solveResult, policy);
  else
    solver(solveResult);
  const std::clock_t end = std::clock();
  const double solveSeconds = secondsBetween(start, end);
  const MeasureRow& optimised = measureRow(choice.objective);
  checkSolvedValue(solveResult.optimum, optimised.isMakespan);
  for (int32_t measure : choice.measures) checkSolvedValue(solveResult.secondary, measureRow(measure).isMakespan);
  if (keepPolicy) {
    writePolicyFile(policy, optimised.isMakespan);
    writePolicyTable(policy, optimised.isMakespan);
    releaseKeptPolicy(policy);
  }
  std::cout << optimised.optimumWords << solveResult.optimum << " CPU[" << solveSeconds << "]";
  results << ';' << solveResult.optimum << ';' << solveSeconds;
  for (int32_t measure : choice.measures) {
    std::cout << measureRow(measure).measureWords << solveResult.secondary;
    results << ';' << solveResult.secondary;
  }
}

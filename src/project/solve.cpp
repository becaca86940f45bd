// The solve of the project in hand, written once for the normal run and every mode.
#include "project/solve.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <iostream>
#include <sstream>
#include <vector>

#include "base/config.h"
#include "base/fatal.h"
#include "base/memory_left.h"
#include "base/output_files.h"
#include "base/run_state.h"
#include "duration/elementary_network.h"
#include "network/base_network.h"
#include "sdp/policy.h"
#include "sdp/policy_file.h"
#include "sdp/policy_table.h"
#include "sdp/state_table.h"
#include "udc/udc_network.h"

SolveResult solveResult;

namespace {

// A kept policy holds, per state, four values and the key (20 bytes) and the decision (16);
// with a variance asked for, the two variance lanes take 16 more.
constexpr int kKeptPolicyBytesPerState = 36;
constexpr int kKeptVarianceBytesPerState = 16;

bool asksVariance(const ObjectiveChoice& choice) {
  return std::any_of(choice.measures.begin(), choice.measures.end(),
                     [](int32_t measure) { return measureRow(measure).isVariance; });
}

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

double megabytesOf(uint64_t bytes) { return static_cast<double>(bytes) * 9.5367431640625e-7; }

// On disk the UDC in hand keeps its own table and all its successors' in memory, whatever the
// budget. Where the largest such set is more than the process may still take, the solve would
// end in "out of memory", or in a kill that leaves its state files, after sweeping up to it:
// it is refused as too large at once, and the run goes on with the next project.
bool fitsInMemoryLeft(const ObjectiveChoice& choice, uint64_t left) {
  const Measure objective = static_cast<Measure>(choice.objective);
  const std::vector<Measure> measures = solverMeasures(choice);
  // Where every table would fit at once, so does any UDC's share, and the pass over the links
  // (1 % of a disk solve of millions of UDCs) is saved.
  const size_t widestRow = stateRowBytes(true, 1 + rideLaneCount(objective, measures));
  if (udcNetwork.udcTotalStates * widestRow <= left) return true;
  const UdcInHand most = largestUdcInHandOnDisk(objective, measures);
  if (most.bytes <= left) return true;
  const double megabytes = megabytesOf(most.bytes);
  std::cout << "INSUFFICIENT MEMORY: " << megabytes << " MB REQUIRED...";
  std::cout.flush();
  std::cerr << "tervano: project " << projectNumber << " of " << projectFileName() << " needs " << megabytes
            << " MB of state tables at once (UDC " << most.udc << " and its successors), more than the "
            << megabytesOf(left) << " MB this process may still take; not solved.\n";
  return false;
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

void checkSolvedVariance(float value, bool isMakespan) {
  if (std::isfinite(value) && value >= 0.0f) return;
  std::ostringstream message;
  message << "The solver returned " << value << " as the variance of the " << (isMakespan ? "makespan" : "NPV")
          << " of project file " << projectFileName() << " (project " << projectNumber
          << "); nothing is written for it. Its values lost their precision: bring its durations, SCVs and amounts "
          << "closer together.";
  stopFatal(message.str());
}

void solveProject(std::ostream& results, const ObjectiveChoice& choice) {
  if (!choice.served) return;
  const RunConfig& config = settingsInForce();
  // The policy file keeps the policy: every state's values and decision stay in memory.
  const bool keepPolicy = outputFileIsWritten(OutputFile::kPolicy);
  const double estimateStateMemory =
      keepPolicy ? static_cast<double>(udcNetwork.udcTotalStates) *
                       (kKeptPolicyBytesPerState + (asksVariance(choice) ? kKeptVarianceBytesPerState : 0)) *
                       9.5367431640625e-7
                 : static_cast<double>(udcNetwork.udcPeakStates) * bytesPerState(choice) * 9.5367431640625e-7;
  // A sweep on several threads may hold more than the one-thread peak, up to its bound; where
  // that does not fit the limit, the sweep runs on one thread. The estimate shown and the choices
  // made from it stay those of one thread, the same for every thread count.
  const double threadedStateMemory =
      static_cast<double>(udcNetwork.udcPeakStatesThreaded) * bytesPerState(choice) * 9.5367431640625e-7;
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
  // The limit is what the user allows; what the process may still take (its address-space and
  // control-group limits, the machine's memory) may be less. A solve in memory whose tables
  // exceed it would end the whole run in "out of memory", or in a kill, part way through its
  // sweep: in automatic mode its tables go to disk beyond a share of what is left, otherwise it
  // is refused and the run goes on with the next project. The estimate counts what the tables'
  // values took once; their rows take more (a key each, two values a lane), and those bytes are
  // compared here.
  const uint64_t left = memoryLeftBytes();
  const double leftMegabytes = megabytesOf(left);
  const uint64_t tableShare = spillBudgetWithin(left);
  const Measure objective = static_cast<Measure>(choice.objective);
  const std::vector<Measure> measures = solverMeasures(choice);
  const double heldMegabytes = keepPolicy
                                   ? estimateStateMemory
                                   : megabytesOf(stateTableBytesAtLeast(objective, measures, udcNetwork.udcPeakStates));
  if (!useDiskStorage && heldMegabytes > leftMegabytes) {
    if (config.gv_CFG_IO != -1 || keepPolicy || tableShare == 0) {
      std::cout << "INSUFFICIENT MEMORY: " << heldMegabytes << " MB REQUIRED...";
      std::cout.flush();
      std::cerr << "tervano: project " << projectNumber << " of " << projectFileName() << " needs " << heldMegabytes
                << " MB of state tables, more than the " << leftMegabytes
                << " MB this process may still take; not solved.\n";
      return;
    }
    useDiskStorage = true;
    stateMemoryBudgetBytes = tableShare;
    std::cerr << "tervano: project " << projectNumber << " of " << projectFileName() << " needs " << heldMegabytes
              << " MB of state tables, more than the " << leftMegabytes
              << " MB this process may still take; those beyond " << megabytesOf(tableShare) << " MB go to disk.\n";
  } else if (useDiskStorage && stateMemoryBudgetBytes > tableShare && tableShare > 0) {
    stateMemoryBudgetBytes = tableShare;
  }
  if (useDiskStorage && !fitsInMemoryLeft(choice, left)) return;
  const double threadedHeldMegabytes =
      megabytesOf(stateTableBytesAtLeast(objective, measures, udcNetwork.udcPeakStatesThreaded));
  sweepOnOneThread = !keepPolicy && ((!noLimit && threadedStateMemory > config.gv_CFG_max_mem) ||
                                     threadedHeldMegabytes > leftMegabytes);
  KeptPolicy policy;
  const std::clock_t start = std::clock();
  if (keepPolicy)
    solveChoiceKeepingPolicy(choice, solveResult, policy);
  else
    solveChoice(choice, solveResult);
  const std::clock_t end = std::clock();
  const double solveSeconds = secondsBetween(start, end);
  const MeasureRow& optimised = measureRow(choice.objective);
  checkSolvedValue(solveResult.optimum, optimised.isMakespan);
  for (size_t k = 0; k < choice.measures.size(); ++k) {
    const MeasureRow& row = measureRow(choice.measures[k]);
    if (row.isVariance)
      checkSolvedVariance(measureValue(solveResult, static_cast<int>(k)), row.isMakespan);
    else
      checkSolvedValue(measureValue(solveResult, static_cast<int>(k)), row.isMakespan);
  }
  if (keepPolicy) {
    writePolicyFile(policy, optimised.isMakespan);
    writePolicyTable(policy, optimised.isMakespan);
    releaseKeptPolicy(policy);
  }
  std::cout << optimised.optimumWords << solveResult.optimum << " CPU[" << solveSeconds << "]";
  results << ';' << solveResult.optimum << ';' << solveSeconds;
  for (size_t k = 0; k < choice.measures.size(); ++k) {
    const float value = measureValue(solveResult, static_cast<int>(k));
    std::cout << measureRow(choice.measures[k]).measureWords << value;
    results << ';' << value;
  }
}

// Mode 1: TEST_TOP.DAT, the beta accuracy test, then the topology test. Every precedence
// structure of the sizes asked for becomes a network file (or is read from the user's),
// and every combination of the passes and values of TEST_TOP.DAT is solved exactly for
// both objective pairs with the policy kept; the policy is then simulated with durations
// drawn from its own phase-type model and with the beta samples. TOPTEST_NPV.CSV and
// TOPTEST_MKSPN.CSV get one row per network and combination.
#include <algorithm>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "duration/elementary_network.h"
#include "experiments/beta_distribution.h"
#include "experiments/experiments.h"
#include "experiments/policy_simulation.h"
#include "experiments/precedence_structures.h"
#include "experiments/project_layout.h"
#include "experiments/topology_input.h"
#include "network/base_network.h"
#include "base/config.h"
#include "base/output_files.h"
#include "project/solve.h"
#include "base/fatal.h"
#include "base/interrupt.h"
#include "project/output_names.h"
#include "project/pipeline.h"
#include "base/random15.h"
#include "project/results_file.h"
#include "base/run_state.h"
#include "sdp/policy.h"

namespace {

const char* const kNetworkDirectory = "NETWORKS";
const char* const kNetworkStem = "NETWORKS/NET";
const char* const kNetworkExtension = ".dat";
const char* const kNpvResultsFile = "TOPTEST_NPV.CSV";
const char* const kMakespanResultsFile = "TOPTEST_MKSPN.CSV";
const char* const kRowLead = "SIZE;TOPOLOGY;IRQ;MODULES;ABANDON;PAYOFF FACTOR;RATE;PTS;SCV;OPT";

// One combination of the passes and values of TEST_TOP.DAT.
struct Combination {
  bool irq = false;
  bool modules = false;
  bool abandon = false;
  double payoffFactor = 0;
  double rate = 0;
  double pts = 1;
  size_t scvLevel = 0;
};

std::vector<bool> passesOf(int32_t setting) {
  if (setting == 0) return {false};
  if (setting == 1) return {true};
  return {false, true};
}

// In the order of the row columns: IRQ, MODULES, ABANDON, pay-off factor, rate, PTS, SCV.
std::vector<Combination> combinationsOfInput() {
  const TopologyTestInput& t = topologyTestInput;
  std::vector<Combination> all;
  for (bool irq : passesOf(t.irqSwitch))
    for (bool modules : passesOf(t.moduleSwitch))
      for (bool abandon : passesOf(t.abandonSwitch))
        for (double factor : t.payoffFactors)
          for (double rate : t.rates)
            for (double pts : t.ptsValues)
              for (size_t level = 0; level < t.scvLevels.size(); ++level)
                all.push_back({irq, modules, abandon, factor, rate, pts, level});
  return all;
}

// What the closing note sums up: per objective and SCV level, the rows and the gaps
// between OPT and SIM BETA, and how often SIM PH lay within its interval of OPT.
struct GapSums {
  int64_t rows = 0;
  double gap = 0;          // sum of SIM BETA - OPT
  double optimumSize = 0;  // sum of |OPT|
};

struct TopologySummary {
  int64_t networks = 0;
  int64_t rows = 0;  // in each file
  int64_t simulatedRows = 0;
  int64_t withinInterval = 0;
  int64_t failedIdentifications = 0;
  std::vector<GapSums> npvGaps;       // by SCV level
  std::vector<GapSums> makespanGaps;  // by SCV level
};

TopologySummary summary;

// ---- Network files ----

std::string networkFileName(int64_t number) { return kNetworkStem + std::to_string(number) + kNetworkExtension; }

// The structure as a project: a dummy start before the first activities, a dummy end after
// the last, inner activity i with the mean duration and cost of position i.
BaseNetwork projectOfStructure(const PrecedenceStructure& structure) {
  const TopologyTestInput& t = topologyTestInput;
  const int32_t k = structure.activityCount;
  const std::vector<std::vector<int32_t>> covers = coveringSuccessors(structure);
  BaseNetwork project;
  project.activityCount = k + 2;
  project.activities.resize(static_cast<size_t>(k) + 2);
  for (int32_t a = 0; a < k + 2; ++a) {
    Activity& activity = project.activities[static_cast<size_t>(a)];
    ExecutionMode mode;
    if (a >= 1 && a <= k) {
      mode.duration = t.meanDurations[static_cast<size_t>(a) - 1];
      mode.cost = t.costs[static_cast<size_t>(a) - 1];
    }
    activity.modes = {mode};
    activity.parentModule = a;
  }
  for (int32_t i = 0; i < k; ++i) {
    if (structure.below[static_cast<size_t>(i)] == 0) project.activities[0].successors.push_back(i + 1);
    std::vector<int32_t>& successors = project.activities[static_cast<size_t>(i) + 1].successors;
    for (int32_t j : covers[static_cast<size_t>(i)]) successors.push_back(j + 1);
    if (successors.empty()) successors.push_back(k + 1);
  }
  return project;
}

// Writes the network file of a structure unless it exists: a file the user put there is
// read instead, and never replaced. True when the file was written now.
bool provideNetworkFile(int64_t number, const PrecedenceStructure& structure) {
  CheckedOutput file(networkFileName(number), CheckedOutput::Open::kCreateOnly);
  if (!file.created()) return false;
  writeProjectLayout(file.stream(), projectOfStructure(structure));
  file.finish();
  return true;
}

void createNetworkDirectory() {
  std::error_code error;
  if (std::filesystem::is_directory(kNetworkDirectory, error)) return;
  if (!std::filesystem::create_directory(kNetworkDirectory, error) || error)
    stopFatal(std::string("Unable to create the directory ") + kNetworkDirectory +
              " for the network files of the topology test.");
}

// ---- One instance: the network read, given the values of one combination ----

bool sameSorted(std::vector<int32_t> a, std::vector<int32_t> b) {
  std::sort(a.begin(), a.end());
  std::sort(b.begin(), b.end());
  return a == b;
}

// Inner activity i takes the mean duration and cost of position i and the PTS and SCV of
// the combination; with MODULES, inner activities with the same predecessors and the same
// successors form a module of alternatives that ends on the first technical success. The
// dummy end pays factor x (- sum of inner costs) / (product of inner PTSs), as in mode 3.
void setInstanceValues(const Combination& combination, int32_t innerCount) {
  const TopologyTestInput& t = topologyTestInput;
  BaseNetwork& network = baseNetwork;
  const int32_t n = network.activityCount;
  if (n != innerCount + 2 || !network.activities[static_cast<size_t>(n) - 1].successors.empty() ||
      !network.activities[0].predecessors.empty()) {
    std::ostringstream message;
    message << "The network file " << projectFileName() << " holds " << n << " activities; a network of size "
            << innerCount << " has " << innerCount + 2 << ": the dummy start first, its " << innerCount
            << " inner activities, the dummy end last.";
    stopFatal(message.str());
  }
  network.discountRate = combination.rate;
  double costSum = 0;
  double ptsProduct = 1;
  for (int32_t a = 1; a <= innerCount; ++a) {
    Activity& activity = network.activities[static_cast<size_t>(a)];
    activity.parentModule = a;
    for (ExecutionMode& mode : activity.modes) {
      mode.duration = t.meanDurations[static_cast<size_t>(a) - 1];
      mode.cost = t.costs[static_cast<size_t>(a) - 1];
      mode.pts = combination.pts;
      mode.scv = t.scvLevels[combination.scvLevel];
      mode.pms = 0;
    }
    costSum += t.costs[static_cast<size_t>(a) - 1];
    ptsProduct *= combination.pts;
  }
  if (combination.modules)
    for (int32_t a = 2; a <= innerCount; ++a)
      for (int32_t b = 1; b < a; ++b) {
        const Activity& first = network.activities[static_cast<size_t>(b)];
        Activity& other = network.activities[static_cast<size_t>(a)];
        if (!sameSorted(first.predecessors, other.predecessors) || !sameSorted(first.successors, other.successors))
          continue;
        other.parentModule = first.parentModule;
        for (int32_t member : {a, b})
          for (ExecutionMode& mode : network.activities[static_cast<size_t>(member)].modes) mode.pms = 1.0;
        break;
      }
  double payoff = ptsProduct != 0.0 ? combination.payoffFactor * (-costSum) / ptsProduct : 0.0;
  if (payoff == 0.0) payoff = 0.0;
  for (ExecutionMode& mode : network.activities[static_cast<size_t>(n) - 1].modes) mode.cost = payoff;
  checkProjectValues(" With the values of TEST_TOP.DAT,");
}

// ---- Rows ----

std::string formatted(double value) {
  std::ostringstream text;
  text << value;
  return text.str();
}

std::string rowLead(int32_t innerCount, int64_t topology, const Combination& c) {
  std::ostringstream row;
  row << innerCount << ';' << topology << ';' << c.irq << ';' << c.modules << ';' << c.abandon << ';' << c.payoffFactor
      << ';' << c.rate << ';' << c.pts << ';' << topologyTestInput.scvLevels[c.scvLevel];
  return row.str();
}

void createTopologyResultsFile(const char* name, const char* secondary) {
  CheckedOutput file(name);
  writeConfigurationBlock(file.stream());
  file.stream() << "\n\n\n"
                << kRowLead << ';' << secondary << ";SIM PH;HW PH;SIM BETA;HW BETA;SIM PH " << secondary << ";SIM BETA "
                << secondary << '\n';
  file.finish();
}

// One solve of the instance in hand with its policy simulated: the row's fields after the
// lead, and the summary's counts.
std::string solveAndSimulate(bool npvFirst, const Combination& combination, int32_t innerCount,
                             int64_t& withinInterval) {
  const TopologyTestInput& t = topologyTestInput;
  KeptPolicy policy;
  SolveResult result;
  if (npvFirst)
    solveNpvWithMakespanKeepingPolicy(result, policy);
  else
    solveMakespanWithNpvKeepingPolicy(result, policy);
  const float optimum = result.optimum;
  const float secondary = result.secondary;
  checkSolvedValue(optimum, !npvFirst);
  checkSolvedValue(secondary, npvFirst);
  std::ostringstream row;
  row << ';' << optimum << ';' << secondary;
  if (t.sampleCount < 1) {
    row << ";;;;;;";
    releaseKeptPolicy(policy);
    return row.str();
  }
  const PolicySimulation phaseType = simulatePolicy(policy, t.sampleCount, nullptr, t.queueCapacity);
  DurationSamples samples;
  samples.byActivity.assign(static_cast<size_t>(innerCount) + 2, nullptr);
  const std::vector<std::vector<double>>& level = betaSamples.byLevel[combination.scvLevel];
  for (size_t a = 1; a <= static_cast<size_t>(innerCount); ++a) samples.byActivity[a] = &level[a - 1];
  const PolicySimulation beta = simulatePolicy(policy, t.sampleCount, &samples, t.queueCapacity);
  releaseKeptPolicy(policy);

  const RunningMean& primaryPh = npvFirst ? phaseType.npv : phaseType.makespan;
  const RunningMean& primaryBeta = npvFirst ? beta.npv : beta.makespan;
  const RunningMean& secondaryPh = npvFirst ? phaseType.makespan : phaseType.npv;
  const RunningMean& secondaryBeta = npvFirst ? beta.makespan : beta.npv;
  row << ';' << primaryPh.mean << ';' << halfWidth95(primaryPh) << ';' << primaryBeta.mean << ';'
      << halfWidth95(primaryBeta) << ';' << secondaryPh.mean << ';' << secondaryBeta.mean;

  ++summary.simulatedRows;
  if (std::fabs(primaryPh.mean - optimum) <= halfWidth95(primaryPh)) ++withinInterval;
  GapSums& gaps = (npvFirst ? summary.npvGaps : summary.makespanGaps)[combination.scvLevel];
  ++gaps.rows;
  gaps.gap += primaryBeta.mean - optimum;
  gaps.optimumSize += std::fabs(static_cast<double>(optimum));
  return row.str();
}

struct NetworkTally {
  int64_t rows = 0;  // in each file
  int64_t simulatedRows = 0;
  int64_t withinInterval = 0;
  int64_t failedIdentifications = 0;
};

// One row in each results file for the network in hand under one combination.
void runCombination(const Combination& combination, int32_t innerCount, int64_t topology, NetworkTally& tally) {
  RunConfig settings = settingsInForce();
  settings.gv_CFG_irq = combination.irq;
  settings.gv_CFG_abandon = combination.abandon;
  const SettingsScope scope(settings);
  ProjectPipeline steps;
  steps.solveFollows = true;
  steps.adjustBaseNetwork = [&] { setInstanceValues(combination, innerCount); };
  double udcSeconds = 0;
  const bool identified = buildProjectNetworks(steps, udcSeconds);
  const std::string lead = rowLead(innerCount, topology, combination);
  ++tally.rows;
  if (!identified) {
    ++tally.failedIdentifications;
    appendResultsRow(kNpvResultsFile, lead + ";UDC IDENTIFICATION FAIL;;;;;;;");
    appendResultsRow(kMakespanResultsFile, lead + ";UDC IDENTIFICATION FAIL;;;;;;;");
    releaseProjectNetworks();
    return;
  }
  const int64_t simulatedBefore = summary.simulatedRows;
  const std::string npvRow = solveAndSimulate(true, combination, innerCount, tally.withinInterval);
  const std::string makespanRow = solveAndSimulate(false, combination, innerCount, tally.withinInterval);
  tally.simulatedRows += summary.simulatedRows - simulatedBefore;
  releaseProjectNetworks();
  appendResultsRow(kNpvResultsFile, lead + npvRow);
  appendResultsRow(kMakespanResultsFile, lead + makespanRow);
}

// Every combination on network `number`, structure `topology` (1-based) of its size.
void runNetwork(int64_t number, const PrecedenceStructure& structure, int64_t topology,
                const std::vector<Combination>& combinations) {
  const std::clock_t start = std::clock();
  const int32_t innerCount = structure.activityCount;
  std::cout << "NETWORK [" << number << "] SIZE: " << innerCount << " TOPOLOGY: " << topology;
  std::cout << (provideNetworkFile(number, structure) ? "[W]" : "[R]");
  projectNumber = static_cast<int32_t>(number);
  NetworkTally tally;
  for (const Combination& combination : combinations) {
    checkInterrupt();
    runCombination(combination, innerCount, topology, tally);
  }
  ++summary.networks;
  summary.rows += tally.rows;
  summary.withinInterval += tally.withinInterval;
  summary.failedIdentifications += tally.failedIdentifications;
  std::cout << " COMBINATIONS: " << tally.rows;
  if (tally.simulatedRows > 0)
    std::cout << " SIM PH IN INTERVAL: " << tally.withinInterval << " OF " << tally.simulatedRows;
  if (tally.failedIdentifications > 0) std::cout << " UDC IDENTIFICATION FAIL: " << tally.failedIdentifications;
  std::cout << " CPU[" << static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC << "]" << '\n';
  std::cout.flush();
}

// The mean gap over the rows, and the same in % of the mean |OPT|.
void writeGapLine(double scv, const GapSums& npv, const GapSums& makespan) {
  auto mean = [](const GapSums& sums) { return sums.rows > 0 ? formatted(sums.gap / sums.rows) : std::string("-"); };
  auto percent = [](const GapSums& sums) {
    return sums.optimumSize > 0 ? formatted(100.0 * sums.gap / sums.optimumSize) : std::string("-");
  };
  std::cout << std::left << std::setw(10) << formatted(scv) << std::setw(11) << npv.rows << std::setw(14) << mean(npv)
            << std::setw(12) << percent(npv) << std::setw(12) << makespan.rows << std::setw(14) << mean(makespan)
            << percent(makespan) << std::right << '\n';
}

// The closing note: how often the simulation under the model met the exact value, and the
// gap between OPT and SIM BETA by SCV level.
void writeClosingNote() {
  const TopologyTestInput& t = topologyTestInput;
  std::cout << "TOPOLOGY TEST DONE: " << summary.networks << " NETWORKS, " << summary.rows << " ROWS IN EACH FILE";
  if (summary.failedIdentifications > 0)
    std::cout << ", " << summary.failedIdentifications << " COMBINATIONS WITHOUT UDCS";
  std::cout << '\n';
  if (summary.simulatedRows == 0) {
    std::cout << "NO SIMULATION (N < 1 OR NO ROW)" << '\n';
    return;
  }
  std::cout << "SIM PH WITHIN ITS 95% INTERVAL OF OPT: " << summary.withinInterval << " OF " << summary.simulatedRows
            << " ROWS OF BOTH FILES (" << formatted(100.0 * summary.withinInterval / summary.simulatedRows) << "%)"
            << '\n';
  std::cout << "GAP SIM BETA - OPT BY SCV LEVEL (MEAN OVER THE ROWS, AND IN % OF THE MEAN |OPT|)" << '\n';
  std::cout << std::left << std::setw(10) << "SCV" << std::setw(11) << "NPV ROWS" << std::setw(14) << "NPV GAP"
            << std::setw(12) << "NPV GAP %" << std::setw(12) << "MKSPN ROWS" << std::setw(14) << "MKSPN GAP"
            << "MKSPN GAP %" << std::right << '\n';
  for (size_t level = 0; level < t.scvLevels.size(); ++level)
    writeGapLine(t.scvLevels[level], summary.npvGaps[level], summary.makespanGaps[level]);
}

// The network files are read with every field of every mode; the values that matter come
// from TEST_TOP.DAT, and the SCVs of the files are used as set.
void useNetworkFiles(RunConfig& config, int64_t firstNumber, int64_t lastNumber) {
  config.PJFileName = kNetworkStem;
  config.PJFileExt = kNetworkExtension;
  config.gv_CFG_fnr = static_cast<int32_t>(firstNumber);
  config.gv_CFG_lnr = static_cast<int32_t>(lastNumber);
  forceInstanceDataFlags(config);
  config.gv_CFG_SCV_data = 1;
}

// The topology test proper, after the beta test and the configuration.
void runTopologies() {
  const TopologyTestInput& t = topologyTestInput;
  int largestSize = 0;
  for (int32_t size = 0; size < t.positionCount; ++size)
    if (sizeRuns(size)) largestSize = size + 1;
  const std::vector<std::vector<PrecedenceStructure>> structures = enumeratePrecedenceStructures(largestSize);
  // Network numbers run across the sizes: those of size k follow all smaller ones.
  std::vector<int64_t> firstNumberOfSize(structures.size() + 1, 1);
  for (size_t k = 0; k < structures.size(); ++k)
    firstNumberOfSize[k + 1] = firstNumberOfSize[k] + static_cast<int64_t>(structures[k].size());
  struct Planned {
    int64_t number;
    const PrecedenceStructure* structure;
    int64_t topology;
  };
  std::vector<Planned> planned;
  for (int32_t size = 0; size < largestSize; ++size) {
    if (!sizeRuns(size)) continue;
    const std::vector<PrecedenceStructure>& ofSize = structures[static_cast<size_t>(size)];
    const int64_t count =
        std::min<int64_t>(t.topologiesPerSize[static_cast<size_t>(size)], static_cast<int64_t>(ofSize.size()));
    for (int64_t i = size == t.firstSize ? t.firstTopology : 0; i < count; ++i)
      planned.push_back({firstNumberOfSize[static_cast<size_t>(size)] + i, &ofSize[static_cast<size_t>(i)], i + 1});
  }
  RunConfig networks = runConfig;
  useNetworkFiles(networks, planned.empty() ? 1 : planned.front().number, planned.empty() ? 0 : planned.back().number);
  const SettingsScope scope(networks);
  checkOutputNames({{networks.gv_CFG_fnr, networks.gv_CFG_lnr, writtenOutputExtensions()}},
                   {kNpvResultsFile, kMakespanResultsFile});
  createTopologyResultsFile(kNpvResultsFile, "MAKESPAN");
  createTopologyResultsFile(kMakespanResultsFile, "NPV");
  if (!planned.empty()) createNetworkDirectory();
  std::cout << "TOPOLOGY TEST" << '\n';
  summary = TopologySummary{};
  summary.npvGaps.assign(t.scvLevels.size(), GapSums{});
  summary.makespanGaps.assign(t.scvLevels.size(), GapSums{});
  const std::vector<Combination> combinations = combinationsOfInput();
  for (const Planned& network : planned) {
    checkInterrupt();
    runNetwork(network.number, *network.structure, network.topology, combinations);
  }
  writeClosingNote();
  summary = TopologySummary{};
}

}  // namespace

void runTopologyTest() {
  readTopologyTestInput();
  projectSrand(static_cast<unsigned>(topologyTestInput.seed));
  BetaTestInput beta;
  beta.meanDurations = topologyTestInput.meanDurations;
  beta.sampleCount = topologyTestInput.sampleCount;
  beta.scvLevels = topologyTestInput.scvLevels;
  runBetaAccuracyTest(beta);
  readConfiguration();
  runTopologies();
  releaseBetaSamples();
  releaseTopologyTestInput();
}

// The elementary network: every phase of every mode becomes one exponential elementary
// activity, with dummies where a mode is chosen, a chain branches, a chain ends and modes
// join; then ancestors, bit sets, dense modules, module sets and the two bounds.
#include "duration/elementary_network.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>

#include "base/config.h"
#include "base/fatal.h"
#include "base/output_files.h"
#include "base/run_state.h"
#include "duration/elementary_network_file.h"
#include "duration/markov_network.h"
#include "network/base_network.h"

ElementaryNetwork elementaryNetwork;

namespace {

ElementaryNetwork& net = elementaryNetwork;

void checkPhaseOrder() {
  for (size_t a = 0; a < markovNetwork.models.size(); ++a) {
    for (size_t m = 0; m < markovNetwork.models[a].size(); ++m) {
      const PhaseTypeModel& model = markovNetwork.models[a][m];
      for (int p = 0; p < model.phaseCount; ++p) {
        for (int q = 0; q < p; ++q) {
          if (model.generator[p][q] > 0) {
            std::ostringstream message;
            message << "Transition is made from phase " << p << " towards phase " << q
                    << " in Markov chain that models the duration of activity " << a << " (execution mode " << m
                    << "). Transitions to earlier phases are not allowed in acyclic project networks.";
            stopFatal(message.str());
          }
        }
      }
    }
  }
}

// The construction links each activity to the exits of its predecessors, which must
// therefore be built first.
void checkActivityOrder() {
  for (size_t a = 0; a < baseNetwork.activities.size(); ++a) {
    for (int p : baseNetwork.activities[a].predecessors) {
      if (p >= static_cast<int>(a)) {
        std::ostringstream message;
        message << "Activity " << p << " precedes activity " << a
                << " but does not have a lower index. The activities must be numbered so that every "
                   "predecessor has a lower index than its successors.";
        stopFatal(message.str());
      }
    }
  }
}

int initialPhaseCount(const PhaseTypeModel& model) {
  return static_cast<int>(std::count_if(model.initialProbability.begin(), model.initialProbability.end(),
                                        [](double probability) { return probability > 0; }));
}

int countElementary() {
  int count = 0;
  for (size_t a = 0; a < markovNetwork.models.size(); ++a) {
    const std::vector<PhaseTypeModel>& models = markovNetwork.models[a];
    if (models.size() > 1) count += 2;
    for (const PhaseTypeModel& model : models) {
      count += model.phaseCount;
      if (model.phaseCount > 1) ++count;
      if (initialPhaseCount(model) > 1) ++count;
    }
  }
  return count;
}

void allocateActivities(int n, int resourceCount) {
  net.nElementary = n;
  net.resourceCount = resourceCount;
  net.elemDuration.assign(n, 0.0);
  net.elemRate.assign(n, 1.0);
  net.elemCost.assign(n, 0.0);
  net.elemPts.assign(n, 1.0);
  net.elemPms.assign(n, 0.0);
  net.elemBaseActivity.assign(n, 0);
  net.elemBaseMode.assign(n, -1);
  net.elemResourceUse.assign(static_cast<size_t>(n) * resourceCount, 0.0);
  net.elemSuccessors.assign(n, {});
  net.elemSuccessorProb.assign(n, {});
  net.elemSuccTransitionType.assign(n, 0);
  net.elemPredecessors.assign(n, {});
  net.elemModule.assign(n, 0);
  net.elemAllowedToIdle.assign(n, 0);
}

// Creation in index order; every field not set here keeps the neutral dummy value.
struct Builder {
  int next = 0;
  int activity = 0;

  int add(double duration, int mode, bool allowedToIdle) {
    const int e = next++;
    net.elemDuration[e] = duration;
    net.elemBaseActivity[e] = activity;
    net.elemBaseMode[e] = mode;
    net.elemModule[e] = baseNetwork.activities[activity].parentModule;
    net.elemAllowedToIdle[e] = allowedToIdle ? 1 : 0;
    return e;
  }

  void copyResourceUse(int e, const ExecutionMode& mode) {
    const size_t uses = std::min(mode.resourceUse.size(), static_cast<size_t>(net.resourceCount));
    std::copy_n(mode.resourceUse.begin(), uses,
                net.elemResourceUse.begin() + static_cast<std::ptrdiff_t>(e) * net.resourceCount);
  }
};

void link(int u, int v, double probability, int transitionType) {
  net.elemSuccessors[u].push_back(v);
  net.elemSuccessorProb[u].push_back(probability);
  net.elemSuccTransitionType[u] = transitionType;
  net.elemPredecessors[v].push_back(u);
}

void buildActivities() {
  std::vector<int> exitOf(baseNetwork.activities.size(), -1);
  Builder builder;
  for (size_t a = 0; a < baseNetwork.activities.size(); ++a) {
    const Activity& activity = baseNetwork.activities[a];
    const std::vector<PhaseTypeModel>& models = markovNetwork.models[a];
    builder.activity = static_cast<int>(a);
    const bool multiMode = models.size() > 1;

    // The entry of the activity, or of a mode when there is no mode choice.
    auto linkIntoActivityEntry = [&](int entry) {
      for (int p : activity.predecessors) link(exitOf[p], entry, 1.0, kFollowAll);
    };

    int modeChoice = -1;
    if (multiMode) {
      modeChoice = builder.add(kModeChoiceCode, -1, true);
      linkIntoActivityEntry(modeChoice);
    }
    auto linkIntoModeEntry = [&](int entry) {
      if (multiMode)
        link(modeChoice, entry, 1.0, kChooseOne);
      else
        linkIntoActivityEntry(entry);
    };

    std::vector<int> modeExits;
    for (size_t m = 0; m < models.size(); ++m) {
      const PhaseTypeModel& model = models[m];
      const ExecutionMode& mode = activity.modes[m];
      const int modeIndex = static_cast<int>(m);
      const int z = model.phaseCount;

      int phaseEntry = -1;
      if (initialPhaseCount(model) > 1) {
        phaseEntry = builder.add(kPhaseEntryCode, modeIndex, true);
        net.elemCost[phaseEntry] = mode.cost;
        builder.copyResourceUse(phaseEntry, mode);
        linkIntoModeEntry(phaseEntry);
      }
      int entryPhase = -1;
      if (phaseEntry < 0) {
        const auto first = std::find_if(model.initialProbability.begin(), model.initialProbability.end(),
                                        [](double probability) { return probability > 0; });
        entryPhase =
            first == model.initialProbability.end() ? 0 : static_cast<int>(first - model.initialProbability.begin());
      }
      int exitPhase = -1;
      int exitPhaseCount = 0;
      for (int k = 0; k < z; ++k) {
        if (model.absorptionRate[k] > 0) {
          exitPhase = k;
          ++exitPhaseCount;
        }
      }

      const int firstPhase = builder.next;
      for (int k = 0; k < z; ++k) {
        const double rate = -model.generator[k][k];
        const bool isEntry = k == entryPhase;
        const int e = builder.add(mode.duration == 0.0 ? 0.0 : 1.0 / rate, modeIndex, isEntry);
        net.elemRate[e] = rate;
        if (isEntry) net.elemCost[e] = mode.cost;
        if (exitPhaseCount == 1 && k == exitPhase) {
          net.elemPts[e] = mode.pts;
          net.elemPms[e] = mode.pms;
        }
        builder.copyResourceUse(e, mode);
        if (isEntry) linkIntoModeEntry(e);
        if (phaseEntry >= 0 && model.initialProbability[k] > 0)
          link(phaseEntry, e, model.initialProbability[k], kDrawOne);
        for (int q = 0; q < k; ++q)
          if (model.generator[q][k] > 0)
            link(firstPhase + q, e, model.generator[q][k] / (-model.generator[q][q]), kDrawOne);
      }

      int modeExit = firstPhase;
      if (z > 1) {
        modeExit = builder.add(kChainExitCode, modeIndex, false);
        net.elemPts[modeExit] = mode.pts;
        net.elemPms[modeExit] = mode.pms;
        for (int k = 0; k < z; ++k)
          if (model.absorptionRate[k] > 0)
            link(firstPhase + k, modeExit, model.absorptionRate[k] / (-model.generator[k][k]), kDrawOne);
      }
      modeExits.push_back(modeExit);
    }

    if (multiMode) {
      const int modeJoin = builder.add(kModeJoinCode, -1, false);
      for (int modeExit : modeExits) link(modeExit, modeJoin, 1.0, kJoinModes);
      exitOf[a] = modeJoin;
    } else if (!modeExits.empty()) {
      exitOf[a] = modeExits[0];
    }
  }
}

// Each bound is summed in single precision; where float rounding lands on the wrong side
// of the double sum (sums beyond 2^24), the bound is stepped outward until it holds.
void computeBounds() {
  float npvLowerBound = 0;
  float makespanUpperBound = 0;
  double npvSum = 0;
  double makespanSum = 0;
  for (int e = 0; e < net.nElementary; ++e) {
    if (net.elemCost[e] < 0) {
      const float withCost = static_cast<float>(net.elemCost[e]) + npvLowerBound;
      npvLowerBound = withCost - 1.0f;
      npvSum = (net.elemCost[e] + npvSum) - 1.0;
      while (static_cast<double>(npvLowerBound) > npvSum)
        npvLowerBound = std::nextafter(npvLowerBound, -std::numeric_limits<float>::infinity());
    }
    if (net.elemDuration[e] > 0) {
      const float withDuration = static_cast<float>(net.elemDuration[e]) + makespanUpperBound;
      makespanUpperBound = withDuration + 1.0f;
      makespanSum = (net.elemDuration[e] + makespanSum) + 1.0;
      while (static_cast<double>(makespanUpperBound) < makespanSum)
        makespanUpperBound = std::nextafter(makespanUpperBound, std::numeric_limits<float>::infinity());
    }
  }
  net.npvLowerBound = npvLowerBound;
  net.makespanUpperBound = makespanUpperBound;
}

void addToSet(BitWord* set, int e) { set[net.elemWordIndex[e]] |= net.elemBitMask[e]; }

constexpr double kBytesPerMegabyte = 1048576.0;

// Whether `bytes` of ancestor data, beside the duration models held meanwhile, stay within
// gv_CFG_max_mem (0 and -1: no limit); otherwise the build stops here and says how much the
// two would take. The limit is written for the state tables: the first megabyte always fits.
bool ancestorDataFits(double bytes) {
  const double limit = settingsInForce().gv_CFG_max_mem;
  const double megabytes = bytes / kBytesPerMegabyte + markovNetwork.modelMegabytes;
  if (limit == 0 || limit == -1 || megabytes <= std::max(limit, 1.0)) return true;
  net.insufficientMemoryMegabytes = megabytes;
  return false;
}

// The ancestor sets as bit rows, each the union of its predecessors' rows and the
// predecessors themselves (predecessors have lower indices). They are sized before they are
// taken: a network whose rows would not fit in gv_CFG_max_mem is not built.
bool computeAncestors() {
  const int n = net.nElementary;
  net.nBitWords = (n + kBitWordBits - 1) / kBitWordBits;
  const size_t words = static_cast<size_t>(net.nBitWords);
  net.elemWordIndex.resize(n);
  net.elemBitMask.resize(n);
  for (int e = 0; e < n; ++e) {
    net.elemWordIndex[e] = wordOf(e);
    net.elemBitMask[e] = bitOf(e);
  }
  // The ancestor rows and the module rows (at most one module per activity).
  if (!ancestorDataFits(2.0 * static_cast<double>(n) * static_cast<double>(words) * sizeof(BitWord))) return false;
  net.elemAncestorBits.assign(n * words, 0);
  for (int e = 0; e < n; ++e) {
    BitWord* row = net.elemAncestorBits.data() + e * words;
    for (int p : net.elemPredecessors[e]) {
      unionInto(row, net.elemAncestorBits.data() + static_cast<size_t>(p) * words, net.nBitWords);
      addToSet(row, p);
    }
  }
  return true;
}

// Dense rank among the distinct ids, ascending: sound for negative and huge ids too.
void renumberModules() {
  std::vector<int32_t> ids = net.elemModule;
  std::sort(ids.begin(), ids.end());
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  for (int32_t& module : net.elemModule)
    module = static_cast<int32_t>(std::lower_bound(ids.begin(), ids.end(), module) - ids.begin());
  net.nModules = static_cast<int32_t>(ids.size());
}

void computeModuleSets() {
  const size_t words = static_cast<size_t>(net.nBitWords);
  const size_t modules = static_cast<size_t>(net.nModules);
  net.moduleFollowers.assign(modules, {});
  net.moduleMemberBits.assign(modules * words, 0);
  for (int e = 0; e < net.nElementary; ++e) {
    const int m = net.elemModule[e];
    for (int s : net.elemSuccessors[e])
      if (net.elemModule[s] != m) net.moduleFollowers[m].push_back(s);
    const BitWord* ancestorBits = net.elemAncestorBits.data() + e * words;
    BitWord* memberBits = net.moduleMemberBits.data() + m * words;
    unionInto(memberBits, ancestorBits, net.nBitWords);
    addToSet(memberBits, e);
  }
  for (std::vector<int32_t>& followers : net.moduleFollowers) {
    std::sort(followers.begin(), followers.end());
    followers.erase(std::unique(followers.begin(), followers.end()), followers.end());
    followers.shrink_to_fit();
  }
}

}  // namespace

void buildElementaryNetwork() {
  net = ElementaryNetwork{};
  checkPhaseOrder();
  checkActivityOrder();
  allocateActivities(countElementary(), baseNetwork.resourceCount);
  buildActivities();
  computeBounds();
  if (!computeAncestors()) return;
  renumberModules();
  computeModuleSets();
  if (outputFileIsWritten(OutputFile::kElementaryNetwork)) writeElementaryNetworkFile();
}

namespace {

std::string describeElement(int e) {
  std::ostringstream text;
  text << "activity " << net.elemBaseActivity[e];
  if (net.elemDuration[e] > 0)
    text << " (execution mode " << net.elemBaseMode[e] << ") has a phase of rate " << net.elemRate[e];
  else
    text << " has an instantaneous step, which counts with rate " << net.elemRate[e];
  return text.str();
}

}  // namespace

void checkRateSpread() {
  if (net.nElementary == 0) return;
  const int lastActivity = net.elemBaseActivity[net.nElementary - 1];
  int slowest = -1;
  int fastest = -1;
  for (int e = 0; e < net.nElementary; ++e) {
    const int activity = net.elemBaseActivity[e];
    // The dummy start and end are alone in their cutsets.
    if (net.elemDuration[e] <= 0 && (activity == 0 || activity == lastActivity)) continue;
    if (slowest < 0 || net.elemRate[e] < net.elemRate[slowest]) slowest = e;
    if (fastest < 0 || net.elemRate[e] > net.elemRate[fastest]) fastest = e;
  }
  if (slowest < 0 || net.elemRate[fastest] <= net.elemRate[slowest] * kMaxRateSpread) return;
  std::ostringstream message;
  message << "Error in project file " << projectFileName() << " (project " << projectNumber
          << "). The rates of its phases span more than a factor " << kMaxRateSpread << ": " << describeElement(slowest)
          << ", " << describeElement(fastest)
          << ". The solver sums the rates of running phases in double precision and would lose the slow one's "
             "digits. Bring the durations and SCVs of the project closer together (a hyper-exponential SCV c "
             "alone spreads its two phases by about c * c / 2).";
  stopFatal(message.str());
}

// The resource count goes to 0 with the availabilities so that the two never disagree.
void releaseElementaryNetwork() {
  net = ElementaryNetwork{};
  baseNetwork.resourceAvailability = std::vector<double>{};
  baseNetwork.resourceCount = 0;
}

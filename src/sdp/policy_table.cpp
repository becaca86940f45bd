// The readable policy. The kept policy is followed forwards from the state the solve starts
// in (entry 0 of UDC 0), carrying the probability of each state it reaches: a completion of an
// active member happens with its rate's share of the total, and then each of its outcomes
// with its weight; a start, a mode choice and the side a state is taken at are the policy's.
// Every move goes to a later state (a later UDC, or a larger key in the same one), so the
// states are taken up in the order of their UDCs and keys, each once, with its probability
// complete, and the rows come out in that order.
//
// A state is taken at the side the policy reaches it at: free to decide (start, or wait when
// waiting is worth more), or held to wait (after a phase change without decisions during
// execution, or after a start that the policy follows by waiting). A row is written where the
// policy decides: a start, a wait where a start would fit, a mode choice, an abandonment.
#include "sdp/policy_table.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "base/config.h"
#include "base/fatal.h"
#include "base/interrupt.h"
#include "base/output_files.h"
#include "base/run_state.h"
#include "duration/elementary_network.h"
#include "network/base_network.h"
#include "sdp/policy_moves.h"
#include "sdp/solvers.h"
#include "sdp/state_table.h"
#include "udc/udc_network.h"

const char* const kPolicyTableHeader = "finished,running,idle,decision,activities,probability,npv,makespan,udc,state";

namespace {

// How the project file names its activities, and what a name shows of a running one.
struct ActivityNames {
  int32_t first = 1;
  std::vector<int32_t> entry;       // by base activity: its first elementary activity
  std::vector<int32_t> exit;        // by base activity: its last one, done when it is done
  std::vector<uint8_t> multiMode;   // by base activity
  std::vector<int32_t> phase;       // by elementary activity: within its mode, -1 for a dummy
  std::vector<uint8_t> multiPhase;  // by elementary activity: its mode has more than one phase
};

ActivityNames nameActivities() {
  const ElementaryNetwork& net = elementaryNetwork;
  ActivityNames names;
  names.first = baseNetwork.firstActivityNumber;
  const size_t n = static_cast<size_t>(net.nElementary);
  int32_t baseCount = 0;
  for (size_t e = 0; e < n; ++e) baseCount = std::max(baseCount, net.elemBaseActivity[e] + 1);
  names.entry.assign(static_cast<size_t>(baseCount), -1);
  names.exit.assign(static_cast<size_t>(baseCount), -1);
  names.multiMode.assign(static_cast<size_t>(baseCount), 0);
  names.phase.assign(n, -1);
  names.multiPhase.assign(n, 0);
  std::map<std::pair<int32_t, int32_t>, int32_t> phases;
  for (size_t e = 0; e < n; ++e) {
    const size_t a = static_cast<size_t>(net.elemBaseActivity[e]);
    if (names.entry[a] < 0) names.entry[a] = static_cast<int32_t>(e);
    names.exit[a] = static_cast<int32_t>(e);
    if (net.elemBaseMode[e] > 0) names.multiMode[a] = 1;
    if (net.elemDuration[e] >= 0) names.phase[e] = phases[{net.elemBaseActivity[e], net.elemBaseMode[e]}]++;
  }
  for (size_t e = 0; e < n; ++e)
    names.multiPhase[e] = net.elemDuration[e] >= 0 && phases[{net.elemBaseActivity[e], net.elemBaseMode[e]}] > 1;
  return names;
}

// "7", or "7m2" for mode 2 of a multi-mode activity, with "p3" for phase 3 of a running one.
void appendName(std::string& text, const ActivityNames& names, int32_t e, bool withPhase) {
  const ElementaryNetwork& net = elementaryNetwork;
  const size_t a = static_cast<size_t>(net.elemBaseActivity[static_cast<size_t>(e)]);
  if (!text.empty()) text += ' ';
  text += std::to_string(static_cast<int64_t>(a) + names.first);
  const int32_t mode = net.elemBaseMode[static_cast<size_t>(e)];
  if (names.multiMode[a] && mode >= 0) {
    text += 'm';
    text += std::to_string(mode + 1);
  }
  if (withPhase && names.multiPhase[static_cast<size_t>(e)]) {
    text += 'p';
    text += std::to_string(names.phase[static_cast<size_t>(e)] + 1);
  }
}

// The state as the sets of base activities finished, running and idle (not started; an idle
// activity whose mode is chosen shows it).
struct StateSets {
  std::string finished, running, idle;
};

struct Describer {
  explicit Describer(const ActivityNames& activityNames) : names(activityNames) {}

  const ActivityNames& names;
  int32_t udc = -1;
  std::vector<BitWord> done;  // the ancestors of the UDC's members
  std::vector<uint8_t> status;
  std::vector<int32_t> shown;  // the elementary activity whose name a base activity takes

  StateSets describe(int32_t u, const PolicyStateView& view) {
    const ElementaryNetwork& net = elementaryNetwork;
    const int words = net.nBitWords;
    if (u != udc) {
      done.assign(static_cast<size_t>(words), 0);
      for (int32_t e : view.members) unionInto(done.data(), ancestorBitsOf(e), words);
      udc = u;
    }
    const size_t baseCount = names.entry.size();
    status.assign(baseCount, kIdle);
    shown.assign(baseCount, -1);
    for (size_t a = 0; a < baseCount; ++a) {
      shown[a] = names.entry[a];
      if (hasBit(done.data(), names.exit[a])) status[a] = kFinished;
    }
    for (size_t p = 0; p < view.members.size(); ++p) {
      const int32_t e = view.members[p];
      const size_t a = static_cast<size_t>(net.elemBaseActivity[static_cast<size_t>(e)]);
      const uint8_t memberStatus = view.statuses[p];
      if (memberStatus == kFinished && e == names.exit[a]) {
        status[a] = kFinished;
      } else if (memberStatus == kIdle || net.elemDuration[static_cast<size_t>(e)] == kModeChoiceCode) {
        // Nothing of it runs yet, its mode perhaps chosen.
        shown[a] = e;
      } else {
        status[a] = kActive;
        shown[a] = e;
      }
    }
    StateSets sets;
    for (size_t a = 0; a < baseCount; ++a) {
      if (status[a] == kFinished)
        appendName(sets.finished, names, names.exit[a], false);
      else if (status[a] == kActive)
        appendName(sets.running, names, shown[a], true);
      else
        appendName(sets.idle, names, shown[a], false);
    }
    return sets;
  }
};

// How a state is reached: the probability, and the expected discount factor at the moment it
// is reached (the probability discounted), which values the cash flows met there.
struct Mass {
  double probability = 0;
  double discounted = 0;
};

Mass operator+(Mass a, Mass b) { return {a.probability + b.probability, a.discounted + b.discounted}; }
Mass scaled(Mass m, double probabilityFactor, double discountFactor) {
  return {m.probability * probabilityFactor, m.discounted * discountFactor};
}

// The mass of a state by the side the policy takes it at.
struct Reach {
  Mass decide;      // free to decide
  Mass waitChosen;  // free, and waiting is worth more
  Mass waitHeld;    // held to wait: no decision of its own there
};

enum class ReachSide : uint8_t { kDecide, kWaitChosen, kWaitHeld };

std::string shortestText(double value, int precision) {
  char text[64];
  const std::to_chars_result done =
      std::to_chars(text, text + sizeof text, value, std::chars_format::general, precision);
  return std::string(text, done.ptr);
}

std::string floatText(float value) {
  char text[32];
  const std::to_chars_result done = std::to_chars(text, text + sizeof text, value);
  return std::string(text, done.ptr);
}

struct PolicyTableWork {
  const KeptPolicy& policy;
  bool makespanFirst;
  bool irq;
  double discountRate;
  int64_t rowLimit;
  std::ostream& out;
  PolicyMoves moves;
  ActivityNames names;
  Describer describer;
  std::map<uint64_t, Reach> frontier;  // by UDC, then by ascending key
  uint64_t current = 0;                // the order of the state taken up
  PolicyTableResult result;

  PolicyTableWork(const KeptPolicy& kept, bool makespan, int64_t limit, std::ostream& stream)
      : policy(kept),
        makespanFirst(makespan),
        irq(settingsInForce().gv_CFG_irq),
        discountRate(baseNetwork.discountRate),
        rowLimit(limit),
        out(stream),
        names(nameActivities()),
        describer(names) {
    preparePolicyMoves(moves, kept);
    result.rows = 0;
  }

  static uint64_t orderOf(int32_t u, uint32_t index) { return (static_cast<uint64_t>(u) << 32) | (UINT32_MAX - index); }

  void reach(int32_t u, uint32_t index, ReachSide side, Mass mass) {
    if (mass.probability <= 0) return;
    const uint64_t order = orderOf(u, index);
    if (order <= current)
      stopFatal("Internal error: the optimal policy moves from a state back to UDC " + std::to_string(u) +
                "; the readable policy cannot be written.");
    Reach& at = frontier[order];
    Mass& into = side == ReachSide::kDecide ? at.decide : side == ReachSide::kWaitChosen ? at.waitChosen : at.waitHeld;
    into = into + mass;
  }

  // After an outcome that leaves the side free: the side the target's values favour.
  void reachFree(const PolicyOutcome& outcome, Mass mass) {
    reach(outcome.udc, outcome.index,
          takenAtDecision(policy, outcome.udc, outcome.index) ? ReachSide::kDecide : ReachSide::kWaitChosen, mass);
  }

  // False once the rows exceed the limit.
  bool writeRow(int32_t u, uint32_t index, const PolicyStateView& view, const char* decision,
                const std::string& activities, double probability, bool atDecision) {
    if (++result.rows > rowLimit) return false;
    const UdcStateTable& table = policy.tables[static_cast<size_t>(u)];
    const float primary = atDecision ? table.decisionAt(index) : table.continuationAt(index);
    const float secondary = atDecision ? table.secondaryDecisionAt(index) : table.secondaryContinuationAt(index);
    const float npv = reportedValue(makespanFirst ? secondary : primary, false);
    const float makespan = reportedValue(makespanFirst ? primary : secondary, true);
    const StateSets sets = describer.describe(u, view);
    out << sets.finished << ',' << sets.running << ',' << sets.idle << ',' << decision << ',' << activities << ','
        << shortestText(probability, 12) << ',' << floatText(npv) << ',' << floatText(makespan) << ',' << u << ','
        << table.keyAt(index) << '\n';
    return true;
  }

  const StateDecision& decisionAt(int32_t u, uint32_t index) const {
    return policy.decisions[static_cast<size_t>(u)][index];
  }

  bool abandons(const StateDecision& d, bool atDecision) const {
    // Only an NPV can be abandoned; a makespan-optimal policy goes on.
    return !makespanFirst && (atDecision ? d.abandonAtDecision : d.abandonAtContinuation);
  }

  // The project stops here: no cash flow and no time from here on.
  bool abandon(int32_t u, uint32_t index, const PolicyStateView& view, Mass mass, bool atDecision) {
    result.abandoned = true;
    return writeRow(u, index, view, "ABANDON", "", mass.probability, atDecision);
  }

  // The starts that follow one another while the policy decides again, as one row; the state
  // they lead to is reached at the side the last one leaves.
  bool start(int32_t u, uint32_t index, PolicyStateView& view, Mass mass) {
    const std::vector<double>& cost = elementaryNetwork.elemCost;
    std::string started;
    appendName(started, names, view.startActivity, false);
    double paid = cost[static_cast<size_t>(view.startActivity)];
    uint32_t at = view.startIndex;
    bool decideThere = decisionAt(u, index).startThenDecide;
    while (decideThere) {
      const StateDecision& next = decisionAt(u, at);
      if (next.start < 0 || abandons(next, true) || next.chosen >= 0) break;
      PolicyStateView& after = policyStateView(moves, u, at);
      appendName(started, names, after.startActivity, false);
      paid += cost[static_cast<size_t>(after.startActivity)];
      const uint32_t following = after.startIndex;
      decideThere = next.startThenDecide;
      forgetPolicyState(moves, u, at);
      at = following;
    }
    if (!writeRow(u, index, view, "START", started, mass.probability, true)) return false;
    result.npv += mass.discounted * paid;
    reach(u, at, decideThere ? ReachSide::kDecide : ReachSide::kWaitHeld, mass);
    return true;
  }

  // The outcomes of the completion of the member at position p, reached with mass.
  void complete(int32_t u, uint32_t index, PolicyStateView& view, int32_t p, Mass mass, bool instantaneous) {
    const StateDecision& d = decisionAt(u, index);
    for (const PolicyOutcome& outcome : policyOutcomes(moves, u, index, view, p)) {
      switch (outcome.shape) {
        case OutcomeShape::kWeighted: reachFree(outcome, scaled(mass, outcome.weight, outcome.weight)); break;
        case OutcomeShape::kDrawn: {
          // The side after a phase change is the policy's where it may decide there, the same
          // for every phase drawn.
          const bool decide = (d.decideAfterPhase & positionBit(p)) != 0;
          const ReachSide side =
              decide ? ReachSide::kDecide : (instantaneous || irq ? ReachSide::kWaitChosen : ReachSide::kWaitHeld);
          reach(outcome.udc, outcome.index, side, scaled(mass, outcome.weight, outcome.weight));
          break;
        }
        case OutcomeShape::kChosen:
          if (outcome.successor == d.chosen)
            reach(outcome.udc, outcome.index, d.chosenThenDecide ? ReachSide::kDecide : ReachSide::kWaitChosen, mass);
          break;
      }
    }
  }

  // Takes up one reached state; false once the rows exceed the limit.
  bool takeUp(int32_t u, uint32_t index, const Reach& reached) {
    PolicyStateView& view = policyStateView(moves, u, index);
    const StateDecision& d = decisionAt(u, index);
    const Mass all = reached.decide + reached.waitChosen + reached.waitHeld;
    if (view.instantaneous >= 0) {
      if (d.chosen >= 0) {
        const int32_t dummy = view.members[static_cast<size_t>(view.instantaneous)];
        const int32_t mode =
            elementaryNetwork.elemSuccessors[static_cast<size_t>(dummy)][static_cast<size_t>(d.chosen)];
        std::string chosen;
        appendName(chosen, names, mode, false);
        if (!writeRow(u, index, view, "MODE", chosen, all.probability, true)) return false;
      } else if (abandons(d, false)) {
        return abandon(u, index, view, all, false);
      }
      complete(u, index, view, view.instantaneous, all, true);
      return true;
    }
    // Without an active member waiting is impossible: both sides start.
    const bool idle = view.activeActivities.empty();
    Mass decide = idle ? all : reached.decide;
    const Mass waitChosen = idle ? Mass{} : reached.waitChosen;
    Mass waitHeld = idle ? Mass{} : reached.waitHeld;
    if (decide.probability > 0 && d.start >= 0) {
      if (abandons(d, true)) {
        if (!abandon(u, index, view, decide, true)) return false;
      } else if (!start(u, index, view, decide)) {
        return false;
      }
      decide = Mass{};
    }
    // Free to decide where nothing fits: it waits, with nothing to choose.
    waitHeld = waitHeld + decide;
    const Mass waiting = waitChosen + waitHeld;
    if (waiting.probability <= 0 || idle) return true;  // without an active member, a dead end
    if (abandons(d, false)) return abandon(u, index, view, waiting, false);
    if (waitChosen.probability > 0 && d.start >= 0 &&
        !writeRow(u, index, view, "WAIT", "", waitChosen.probability, false))
      return false;
    // The next completion comes after an exponential time of rate totalRate: its expected
    // duration, and the expected discount factor totalRate / (rate + totalRate) at its moment.
    const double totalRate = view.totalRate;
    result.makespan += waiting.probability / totalRate;
    for (size_t k = 0; k < view.activePositions.size(); ++k) {
      const double rate = elementaryNetwork.elemRate[static_cast<size_t>(view.activeActivities[k])];
      const double share = rate / totalRate;
      const double discounted = (totalRate / (discountRate + totalRate)) * share;
      complete(u, index, view, view.activePositions[k], scaled(waiting, share, discounted), false);
    }
    return true;
  }

  // False once the rows exceed the limit.
  bool run() {
    out << kPolicyTableHeader << '\n';
    if (udcNetwork.udcCount < 1) return true;
    const int32_t end = projectEndUdc();
    current = 0;
    reach(0, 0, takenAtDecision(policy, 0, 0) ? ReachSide::kDecide : ReachSide::kWaitChosen, Mass{1.0, 1.0});
    const double payoff = elementaryNetwork.elemCost.back();
    int64_t taken = 0;
    while (!frontier.empty()) {
      if (++taken % 4096 == 0) checkInterrupt();
      const auto next = frontier.begin();
      const uint64_t order = next->first;
      const Reach reached = next->second;
      frontier.erase(next);
      current = order;
      const int32_t u = static_cast<int32_t>(order >> 32);
      const uint32_t index = UINT32_MAX - static_cast<uint32_t>(order);
      if (u == end) {
        result.npv += (reached.decide + reached.waitChosen + reached.waitHeld).discounted * payoff;
        continue;
      }
      if (!takeUp(u, index, reached)) return false;
      forgetPolicyState(moves, u, index);
    }
    return true;
  }
};

// The value the solve reports, from the state it starts in.
double solvedValue(const KeptPolicy& policy, bool makespanFirst) {
  const UdcStateTable& first = policy.tables.front();
  const float value = first.decisionAt(0) > first.continuationAt(0) ? first.decisionAt(0) : first.continuationAt(0);
  return reportedValue(value, makespanFirst);
}

// The policy followed forwards must come to the value the solve found for it; its state values
// are floats, so they may differ in the last digits of a long sum.
bool agreesWithTheSolve(const PolicyTableResult& forwards, const KeptPolicy& policy, bool makespanFirst) {
  const double solved = solvedValue(policy, makespanFirst);
  const double followed = makespanFirst ? forwards.makespan : forwards.npv;
  double scale = std::max(1.0, std::fabs(solved));
  if (!makespanFirst)
    for (double cost : elementaryNetwork.elemCost) scale = std::max(scale, std::fabs(cost));
  return std::fabs(followed - solved) <= 1e-4 * scale;
}

}  // namespace

PolicyTableResult writePolicyTable(const KeptPolicy& policy, bool makespanFirst, int64_t rowLimit) {
  // A run stopped meanwhile leaves no policy cut short: the file goes with its CheckedOutput.
  CheckedOutput file(outputFilePath(OutputFile::kPolicyTable));
  const std::string& path = file.path();
  PolicyTableWork work(policy, makespanFirst, rowLimit, file.stream());
  const bool complete = work.run();
  const bool agrees = !complete || policy.tables.empty() || agreesWithTheSolve(work.result, policy, makespanFirst);
  if (complete && agrees) {
    file.finish();
    return work.result;
  }
  file.discard();
  if (!complete)
    std::cerr << "tervano: " << path << " is not written: the optimal policy of project " << projectNumber
              << " decides in more than " << rowLimit << " reachable states, the most the readable policy lists "
              << "(the .POL file lists every state).\n";
  else if (!agrees)
    std::cerr << "tervano: " << path << " is not written: followed from the start, the policy comes to "
              << (makespanFirst ? work.result.makespan : work.result.npv) << " where the solve found "
              << solvedValue(policy, makespanFirst) << " (an internal error).\n";
  PolicyTableResult none = work.result;
  none.rows = -1;
  return none;
}

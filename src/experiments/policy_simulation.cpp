// Runs of a kept policy. A run stands on one state at a time, reached at its decision side
// or its continuation side, and does what the solver's evaluation of that state chose:
// an instantaneous member completes at once; at the decision side the chosen member starts
// (its cost is paid); otherwise the next completion happens. Where an outcome leads is the
// transition rule's, so the run moves through the very states the solver evaluated.
//
// Every elementary activity that becomes active gets its completion time at once: the
// path through its mode's phase chain and the sojourn of every phase on it are drawn when
// the chain's first activity becomes active, so a sampled duration can be spread over the
// path. With exponential sojourns this is the same process as the race of the active rates.
#include "experiments/policy_simulation.h"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <unordered_map>

#include "duration/elementary_network.h"
#include "network/base_network.h"
#include "base/fatal.h"
#include "base/interrupt.h"
#include "base/random15.h"
#include "sdp/policy_moves.h"
#include "udc/udc_network.h"

void addToMean(RunningMean& mean, double value) {
  ++mean.count;
  const double delta = value - mean.mean;
  mean.mean += delta / static_cast<double>(mean.count);
  mean.squares += delta * (value - mean.mean);
}

double halfWidth95(const RunningMean& mean) {
  if (mean.count < 2) return 0.0;
  const double n = static_cast<double>(mean.count);
  return 1.96 * std::sqrt(mean.squares / (n - 1) / n);
}

namespace {

struct PendingCompletion {
  double time;
  int32_t activity;
};

struct SimulationWork {
  const KeptPolicy* policy = nullptr;
  const DurationSamples* samples = nullptr;
  int32_t queueCapacity = 0;
  double discountRate = 0;
  // The states and outcomes met so far, kept over all runs.
  PolicyMoves moves;
  // Phase chains: the mode (base activity and mode) of each elementary activity, -1 for the
  // mode-choice and mode-join dummies.
  std::vector<int32_t> chainOf;
  // The current run: its number, and what was planned in it (valid when stamped with it).
  int32_t run = 0;
  std::vector<int32_t> chainPlanned;
  std::vector<int32_t> planStamp;
  std::vector<int32_t> plannedNext;
  std::vector<double> plannedSojourn;
  std::vector<int64_t> activeStamp;
  int64_t step = 0;
  std::vector<PendingCompletion> pending;
  std::vector<int32_t> path;
};

// ---- Draws ----

// Uniform in ]0, 1[ from two 15-bit draws, fine enough for exponential tails.
double uniform30() {
  const int high = projectRand();
  const int low = projectRand();
  return (static_cast<double>(high) * 32768.0 + static_cast<double>(low) + 0.5) / 1073741824.0;
}

// The path through the phase chain that starts at `entry` and the sojourn of each timed
// phase on it: one draw per branching with more than one successor, then one per timed
// phase; with a sample, the sojourns are scaled to add up to it.
void planChain(SimulationWork& work, int32_t entry) {
  const ElementaryNetwork& net = elementaryNetwork;
  std::vector<int32_t>& path = work.path;
  path.assign(1, entry);
  for (int32_t e = entry; net.elemSuccTransitionType[static_cast<size_t>(e)] == kDrawOne;) {
    const std::vector<int32_t>& successors = net.elemSuccessors[static_cast<size_t>(e)];
    if (successors.empty()) break;
    size_t k = 0;
    if (successors.size() > 1) {
      const double u = uniform30();
      const std::vector<double>& probability = net.elemSuccessorProb[static_cast<size_t>(e)];
      double cumulative = 0;
      for (k = 0; k + 1 < successors.size(); ++k) {
        cumulative += probability[k];
        if (u < cumulative) break;
      }
    }
    e = successors[k];
    path.push_back(e);
  }
  double total = 0;
  for (size_t i = 0; i < path.size(); ++i) {
    const size_t e = static_cast<size_t>(path[i]);
    work.planStamp[e] = work.run;
    work.plannedNext[e] = i + 1 < path.size() ? path[i + 1] : -1;
    work.plannedSojourn[e] = 0;
    if (net.elemDuration[e] > 0) {
      work.plannedSojourn[e] = -std::log(uniform30()) / net.elemRate[e];
      total += work.plannedSojourn[e];
    }
  }
  const int32_t activity = net.elemBaseActivity[static_cast<size_t>(entry)];
  if (work.samples == nullptr || total <= 0) return;
  const std::vector<const std::vector<double>*>& byActivity = work.samples->byActivity;
  const size_t a = static_cast<size_t>(activity);
  if (a >= byActivity.size() || byActivity[a] == nullptr) return;
  const std::vector<double>* sample = byActivity[a];
  const double factor = (*sample)[static_cast<size_t>(work.run)] / total;
  for (int32_t e : path) work.plannedSojourn[static_cast<size_t>(e)] *= factor;
}

[[noreturn]] void stopQueueFull(const SimulationWork& work) {
  std::ostringstream message;
  message << "The simulation of the policy needs more than " << work.queueCapacity
          << " completions pending at once, the queue capacity of TEST_TOP.DAT; raise it there.";
  stopFatal(message.str());
}

// After a move: every active member has its completion pending, nothing else has.
void updatePending(SimulationWork& work, const PolicyStateView& view, double time) {
  ++work.step;
  for (int32_t e : view.activeActivities) work.activeStamp[static_cast<size_t>(e)] = work.step;
  size_t kept = 0;
  for (const PendingCompletion& completion : work.pending)
    if (work.activeStamp[static_cast<size_t>(completion.activity)] == work.step) work.pending[kept++] = completion;
  work.pending.resize(kept);
  const ElementaryNetwork& net = elementaryNetwork;
  for (int32_t e : view.activeActivities) {
    const size_t i = static_cast<size_t>(e);
    const int32_t chain = work.chainOf[i];
    if (chain >= 0 && work.chainPlanned[static_cast<size_t>(chain)] != work.run) {
      work.chainPlanned[static_cast<size_t>(chain)] = work.run;
      planChain(work, e);
    }
    if (net.elemDuration[i] <= 0) continue;
    bool known = false;
    for (const PendingCompletion& completion : work.pending) known = known || completion.activity == e;
    if (known) continue;
    // A phase off the planned path cannot occur; it would keep its exponential sojourn.
    const double sojourn =
        work.planStamp[i] == work.run ? work.plannedSojourn[i] : -std::log(uniform30()) / net.elemRate[i];
    if (static_cast<int64_t>(work.pending.size()) >= work.queueCapacity) stopQueueFull(work);
    work.pending.push_back({time + sojourn, e});
  }
}

struct RunPosition {
  int32_t udc = 0;
  uint32_t index = 0;
  bool decide = false;
  bool ended = false;
};

// The completion of the member at position p of the state at hand: the outcome taken and
// the side of the state it leads to; a completion without a next state ends the project.
void complete(SimulationWork& work, RunPosition& at, PolicyStateView& view, int32_t p) {
  const std::vector<PolicyOutcome>& outcomes = policyOutcomes(work.moves, at.udc, at.index, view, p);
  const StateDecision& decision = work.policy->decisions[static_cast<size_t>(at.udc)][at.index];
  const PolicyOutcome* taken = nullptr;
  if (outcomes.empty()) {
    at.ended = true;
    return;
  }
  switch (outcomes.front().shape) {
    case OutcomeShape::kWeighted: {
      double total = 0;
      for (const PolicyOutcome& outcome : outcomes) total += outcome.weight;
      if (outcomes.size() == 1 && total >= 1.0) {
        taken = &outcomes.front();
      } else {
        // The mass no outcome takes is the failure of the last member of a module.
        const double u = uniform30();
        double cumulative = 0;
        for (const PolicyOutcome& outcome : outcomes) {
          cumulative += outcome.weight;
          if (u < cumulative) {
            taken = &outcome;
            break;
          }
        }
        // Rounding of factors that add up to 1 must not end the project.
        if (taken == nullptr && total >= 1.0 - 1e-12) taken = &outcomes.back();
      }
      if (taken == nullptr) {
        at.ended = true;
        return;
      }
      at.decide = takenAtDecision(*work.policy, taken->udc, taken->index);
      break;
    }
    case OutcomeShape::kDrawn: {
      const size_t e = static_cast<size_t>(view.members[static_cast<size_t>(p)]);
      if (work.planStamp[e] == work.run)
        for (const PolicyOutcome& outcome : outcomes)
          if (outcome.successor == work.plannedNext[e]) taken = &outcome;
      if (taken == nullptr) {
        // Not planned (cannot occur): drawn by the probabilities.
        const double u = uniform30();
        double cumulative = 0;
        for (const PolicyOutcome& outcome : outcomes) {
          cumulative += outcome.weight;
          taken = &outcome;
          if (u < cumulative) break;
        }
      }
      at.decide = (decision.decideAfterPhase & positionBit(p)) != 0;
      break;
    }
    case OutcomeShape::kChosen:
      for (const PolicyOutcome& outcome : outcomes)
        if (outcome.successor == decision.chosen) taken = &outcome;
      if (taken == nullptr) taken = &outcomes.front();
      at.decide = decision.chosenThenDecide;
      break;
  }
  at.udc = taken->udc;
  at.index = taken->index;
}

struct RunValues {
  double npv = 0;
  double makespan = 0;
};

// One run from the first state of UDC 0 to the end of the project. Abandonment stops the
// cash flows; like the solver, which keeps the makespan of going on in an abandoned state,
// the run goes on under the policy so that its makespan is the one the solver reports.
RunValues simulateRun(SimulationWork& work) {
  const ElementaryNetwork& net = elementaryNetwork;
  const int32_t last = projectEndUdc();
  RunPosition at;
  at.decide = takenAtDecision(*work.policy, 0, 0);
  double time = 0;
  RunValues values;
  bool abandoned = false;
  work.pending.clear();
  for (;;) {
    if (at.udc == last) {
      if (!abandoned) values.npv += net.elemCost.back() * std::exp(-work.discountRate * time);
      break;
    }
    PolicyStateView& view = policyStateView(work.moves, at.udc, at.index);
    updatePending(work, view, time);
    const StateDecision& decision = work.policy->decisions[static_cast<size_t>(at.udc)][at.index];
    if (view.instantaneous >= 0) {
      complete(work, at, view, view.instantaneous);
      if (at.ended) break;
      continue;
    }
    // Without an active member waiting is impossible: both sides start.
    const bool decide = at.decide || view.activeActivities.empty();
    if (decide && decision.start >= 0) {
      if (decision.abandonAtDecision) abandoned = true;
      if (!abandoned)
        values.npv += net.elemCost[static_cast<size_t>(view.startActivity)] * std::exp(-work.discountRate * time);
      at.index = view.startIndex;
      at.decide = decision.startThenDecide;
      continue;
    }
    if (decision.abandonAtContinuation) abandoned = true;
    if (work.pending.empty()) break;  // a dead end: the solver values it 0 from here
    size_t next = 0;
    for (size_t i = 1; i < work.pending.size(); ++i)
      if (work.pending[i].time < work.pending[next].time) next = i;
    const PendingCompletion completion = work.pending[next];
    time = std::max(time, completion.time);
    int32_t position = -1;
    for (size_t i = 0; i < view.activeActivities.size(); ++i)
      if (view.activeActivities[i] == completion.activity) position = view.activePositions[i];
    complete(work, at, view, position);
    if (at.ended) break;
  }
  values.makespan = time;
  return values;
}

void prepareSimulation(SimulationWork& work) {
  const ElementaryNetwork& net = elementaryNetwork;
  const size_t n = static_cast<size_t>(net.nElementary);
  preparePolicyMoves(work.moves, *work.policy);
  work.discountRate = baseNetwork.discountRate;
  work.chainOf.assign(n, -1);
  std::unordered_map<int64_t, int32_t> chains;
  for (size_t e = 0; e < n; ++e) {
    if (net.elemBaseMode[e] < 0) continue;
    const int64_t mode = (static_cast<int64_t>(net.elemBaseActivity[e]) << 32) | net.elemBaseMode[e];
    const auto inserted = chains.emplace(mode, static_cast<int32_t>(chains.size()));
    work.chainOf[e] = inserted.first->second;
  }
  work.chainPlanned.assign(chains.size(), -1);
  work.planStamp.assign(n, -1);
  work.plannedNext.assign(n, -1);
  work.plannedSojourn.assign(n, 0.0);
  work.activeStamp.assign(n, 0);
}

}  // namespace

PolicySimulation simulatePolicy(const KeptPolicy& policy, int32_t runs, const DurationSamples* samples,
                                int32_t queueCapacity) {
  PolicySimulation result;
  if (runs < 1 || udcNetwork.udcCount < 1 || policy.tables.empty()) return result;
  SimulationWork work;
  work.policy = &policy;
  work.samples = samples;
  work.queueCapacity = queueCapacity;
  prepareSimulation(work);
  for (int32_t run = 0; run < runs; ++run) {
    if (run % 4096 == 4095) checkInterrupt();
    work.run = run;
    const RunValues values = simulateRun(work);
    addToMean(result.npv, values.npv);
    addToMean(result.makespan, values.makespan);
  }
  return result;
}

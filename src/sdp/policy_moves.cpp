// The moves of a kept policy: the walk stood on a state to read its statuses, and the
// transition rule asked where each outcome of a completion leads.
#include "sdp/policy_moves.h"

#include <string>

#include "base/fatal.h"
#include "duration/elementary_network.h"
#include "sdp/state_table.h"
#include "udc/udc_network.h"

namespace {

// Stands the walk on the state of UDC u with this key (taking the UDC up when it changes).
void standOnState(PolicyMoves& moves, int32_t u, StateKey key) {
  UdcStateWalk& walk = moves.walk;
  if (moves.walkUdc != u) {
    udcMembersInto(u, moves.members.data(), elementaryNetwork.nBitWords);
    beginUdc(walk, moves.members.data());
    beginUdcTransitions(moves.plan, walk);
    moves.classUdc.clear();
    moves.walkUdc = u;
  }
  walk.key = key;
  walk.finishedMask = 0;
  walk.activeMask = 0;
  walk.totalRate = 0;
  StateKey rest = key;
  for (int32_t p = 0; p < walk.memberCount; ++p) {
    const uint8_t status = static_cast<uint8_t>(rest % 3);
    rest /= 3;
    walk.status[static_cast<size_t>(p)] = status;
    if (status == kActive) {
      walk.activeMask |= positionBit(p);
      walk.totalRate += walk.rate[static_cast<size_t>(p)];
    } else if (status == kFinished) {
      walk.finishedMask |= positionBit(p);
    }
  }
}

// The UDC holding the target of a class of the UDC taken up.
int32_t resolveTargetUdc(const PolicyMoves& moves, int32_t classId) {
  const TargetClass& target = moves.plan.classes[static_cast<size_t>(classId)];
  if (target.inPlace) return moves.walkUdc;
  const BitWord* members = targetMembersOf(moves.plan, target);
  for (uint32_t t : udcSuccessorsOf(moves.walkUdc))
    if (udcHasMembers(static_cast<int32_t>(t), members, elementaryNetwork.nBitWords)) return static_cast<int32_t>(t);
  stopFatal("Internal error: a transition out of UDC " + std::to_string(moves.walkUdc) +
            " leads to no successor UDC; the kept policy and identification disagree on the network.");
}

// Gathers the outcomes that the transition rule lists for one completion.
struct OutcomeCollector {
  PolicyMoves& moves;
  std::vector<PolicyOutcome>& outcomes;
  int32_t completing = -1;
  int32_t successor = 0;

  PolicyOutcome lead(OutcomeShape shape, double weight, int32_t classId) {
    PolicyOutcome outcome;
    outcome.shape = shape;
    outcome.weight = weight;
    outcome.udc = moves.classUdc[static_cast<size_t>(classId)];
    const StateKey key = targetKeyOf(moves.plan, classId, moves.walk);
    outcome.index = policyStateIndex(moves, outcome.udc, key);
    return outcome;
  }
  void newClass(int32_t id) {
    if (moves.classUdc.size() <= static_cast<size_t>(id)) moves.classUdc.resize(static_cast<size_t>(id) + 1, -1);
    moves.classUdc[static_cast<size_t>(id)] = resolveTargetUdc(moves, id);
  }
  void weighted(OutcomeKind, double factor, int32_t id) {
    outcomes.push_back(lead(OutcomeShape::kWeighted, factor, id));
  }
  void beginDraw() { successor = 0; }
  void drawn(double q, int32_t id) {
    PolicyOutcome outcome = lead(OutcomeShape::kDrawn, q, id);
    const std::vector<int32_t>& successors = elementaryNetwork.elemSuccessors[static_cast<size_t>(completing)];
    outcome.successor = successors[static_cast<size_t>(successor++)];
    outcomes.push_back(outcome);
  }
  void endDraw() {}
  void beginChoice() { successor = 0; }
  void chosen(int32_t id) {
    PolicyOutcome outcome = lead(OutcomeShape::kChosen, 0.0, id);
    outcome.successor = successor++;
    outcomes.push_back(outcome);
  }
  void endChoice() {}
};

uint64_t viewId(int32_t u, uint32_t index) { return (static_cast<uint64_t>(u) << 32) | index; }

}  // namespace

void preparePolicyMoves(PolicyMoves& moves, const KeptPolicy& policy) {
  moves = PolicyMoves{};
  moves.policy = &policy;
  prepareStateWalk(moves.walk);
  prepareTransitionPlan(moves.plan, true);
  moves.members.assign(static_cast<size_t>(elementaryNetwork.nBitWords), 0);
}

int32_t projectEndUdc() { return udcNetwork.udcCount - 1; }

uint32_t policyStateIndex(PolicyMoves& moves, int32_t u, StateKey key) {
  const UdcStateTable& table = moves.policy->tables[static_cast<size_t>(u)];
  return findState(table, table.count, key, moves.finger, u);
}

PolicyStateView& policyStateView(PolicyMoves& moves, int32_t u, uint32_t index) {
  auto found = moves.views.find(viewId(u, index));
  if (found != moves.views.end()) return found->second;
  PolicyStateView& view = moves.views[viewId(u, index)];
  const UdcStateTable& table = moves.policy->tables[static_cast<size_t>(u)];
  const StateKey key = table.keyAt(index);
  standOnState(moves, u, key);
  const UdcStateWalk& walk = moves.walk;
  view.instantaneous = walk.instantaneousPosition();
  view.members.assign(walk.memberByPosition.begin(), walk.memberByPosition.begin() + walk.memberCount);
  view.statuses.assign(walk.status.begin(), walk.status.begin() + walk.memberCount);
  view.totalRate = walk.totalRate;
  for (int32_t p = 0; p < walk.memberCount; ++p) {
    if (!(walk.activeMask & positionBit(p))) continue;
    view.activeActivities.push_back(walk.activityAt(p));
    view.activePositions.push_back(p);
  }
  const StateDecision& decision = moves.policy->decisions[static_cast<size_t>(u)][index];
  if (decision.start >= 0) {
    view.startActivity = walk.activityAt(decision.start);
    view.startIndex = policyStateIndex(moves, u, key + kPowersOfThree[static_cast<size_t>(decision.start)]);
  }
  view.outcomes.resize(static_cast<size_t>(walk.memberCount));
  return view;
}

void forgetPolicyState(PolicyMoves& moves, int32_t u, uint32_t index) { moves.views.erase(viewId(u, index)); }

const std::vector<PolicyOutcome>& policyOutcomes(PolicyMoves& moves, int32_t u, uint32_t index, PolicyStateView& view,
                                                 int32_t p) {
  std::vector<PolicyOutcome>& outcomes = view.outcomes[static_cast<size_t>(p)];
  if (view.outcomesKnown & positionBit(p)) return outcomes;
  standOnState(moves, u, moves.policy->tables[static_cast<size_t>(u)].keyAt(index));
  OutcomeCollector collector{moves, outcomes, moves.walk.activityAt(p)};
  forEachOutcome(moves.plan, moves.walk, p, collector);
  view.outcomesKnown |= positionBit(p);
  return outcomes;
}

bool takenAtDecision(const KeptPolicy& policy, int32_t u, uint32_t index) {
  const UdcStateTable& table = policy.tables[static_cast<size_t>(u)];
  return !(table.continuationAt(index) > table.decisionAt(index));
}

// The moves of a kept policy from state to state: what a run of the policy, or a walk over
// the states it reaches, needs of one state (its members and their statuses, the active
// ones, the start its evaluation chose) and the outcomes of each completion with the state
// each leads to. Where an outcome leads is the transition rule's, so the moves go through the
// very states the solver evaluated; the policy simulation and the readable policy share them.
#pragma once
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "base/bit_set.h"
#include "sdp/policy.h"
#include "udc/state_walk.h"
#include "udc/transition_rule.h"

enum class OutcomeShape : uint8_t { kWeighted, kDrawn, kChosen };

// One outcome of a completion in a given state: its weight (a factor or a probability), the
// state it leads to and, for a drawn or chosen successor, which one.
struct PolicyOutcome {
  OutcomeShape shape = OutcomeShape::kWeighted;
  double weight = 0;
  int32_t udc = 0;
  uint32_t index = 0;
  int32_t successor = -1;  // drawn: the elementary activity entering; chosen: its index
};

// What the moves need of one state, worked out the first time it is asked for.
struct PolicyStateView {
  int32_t instantaneous = -1;             // position, or -1
  std::vector<int32_t> members;           // elementary activity by position
  std::vector<uint8_t> statuses;          // MemberStatus by position
  std::vector<int32_t> activeActivities;  // by ascending position
  std::vector<int32_t> activePositions;
  double totalRate = 0;                              // of the active members
  int32_t startActivity = -1;                        // the member the decision starts
  uint32_t startIndex = 0;                           // the state after that start
  std::vector<std::vector<PolicyOutcome>> outcomes;  // by position, filled when first needed
  uint64_t outcomesKnown = 0;
};

// The walk and the transition classes of the UDC taken up, and the views worked out so far.
struct PolicyMoves {
  const KeptPolicy* policy = nullptr;
  UdcStateWalk walk;
  std::vector<BitWord> members;
  TransitionPlan plan;
  int32_t walkUdc = -1;
  std::vector<int32_t> classUdc;
  uint32_t finger = 0;
  std::unordered_map<uint64_t, PolicyStateView> views;
};

// Sizes the moves for the networks in hand and the policy kept for them.
void preparePolicyMoves(PolicyMoves& moves, const KeptPolicy& policy);

// The UDC that holds the project's end alone: the last in the final numbering.
int32_t projectEndUdc();

// The state of UDC u with this key.
uint32_t policyStateIndex(PolicyMoves& moves, int32_t u, StateKey key);

// The view of a state, kept until forgotten.
PolicyStateView& policyStateView(PolicyMoves& moves, int32_t u, uint32_t index);
void forgetPolicyState(PolicyMoves& moves, int32_t u, uint32_t index);

// The outcomes of the completion of the member at position p of the state, in the order in
// which the solver adds them up.
const std::vector<PolicyOutcome>& policyOutcomes(PolicyMoves& moves, int32_t u, uint32_t index, PolicyStateView& view,
                                                 int32_t p);

// The side at which a state reached free to decide is taken: the decision side unless the
// continuation value is strictly greater, the solver's best(c', v').
bool takenAtDecision(const KeptPolicy& policy, int32_t u, uint32_t index);

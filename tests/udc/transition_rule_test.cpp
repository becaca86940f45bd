// The classes of plain completions that a plan remembers from state to state against the
// classes a plan worked out afresh for each state: the same target cutset and the same
// target key, on random networks where successors wait for several members, so that the
// finished members that matter change back and forth along the walk.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <utility>
#include <vector>

#include "udc/transition_rule.h"
// The walk's body, after the walk's declarations.
#include "udc/state_walk_impl.h"
#include "udc_test_network.h"

namespace {

// Records the class of each outcome; newClass is met before a class is used.
struct ClassSink {
  std::vector<int32_t> seen;
  std::vector<bool> known;
  void newClass(int32_t id) {
    if (known.size() <= static_cast<size_t>(id)) known.resize(static_cast<size_t>(id) + 1, false);
    known[static_cast<size_t>(id)] = true;
  }
  void use(int32_t id) {
    ASSERT_TRUE(static_cast<size_t>(id) < known.size() && known[static_cast<size_t>(id)]) << "class " << id;
    seen.push_back(id);
  }
  void weighted(OutcomeKind, double, int32_t id) { use(id); }
  void beginDraw() {}
  void drawn(double, int32_t id) { use(id); }
  void endDraw() {}
  void beginChoice() {}
  void chosen(int32_t id) { use(id); }
  void endChoice() {}
};

// k start activities; each of m joins waits for a random subset of them; a last activity
// follows the joins and every start activity that leads to no join.
std::vector<HandActivity> joinNetwork(std::mt19937& random, int k, int m) {
  std::vector<HandActivity> acts(static_cast<size_t>(k + m + 1));
  const int last = k + m;
  for (int j = k; j < last; ++j) acts[static_cast<size_t>(j)].successors = {last};
  for (int e = 0; e < k; ++e) {
    HandActivity& a = acts[static_cast<size_t>(e)];
    a.mayIdle = random() % 3 != 0;
    a.duration = 1.0 + static_cast<double>(random() % 7);
    a.use = {static_cast<double>(random() % 3)};
    for (int j = k; j < last; ++j)
      if (random() % 3 == 0) a.successors.push_back(j);
    if (a.successors.empty()) a.successors.push_back(k + static_cast<int>(random() % m));
  }
  return acts;
}

std::vector<BitWord> targetMembers(const TransitionPlan& plan, int32_t id, int words) {
  const BitWord* bits = targetMembersOf(plan, plan.classes[static_cast<size_t>(id)]);
  return std::vector<BitWord>(bits, bits + words);
}

// Installs a random join network and takes up the UDC of its k start activities with the walk.
void takeUpRandomJoinUdc(std::mt19937& random, UdcStateWalk& walk) {
  const int k = 3 + static_cast<int>(random() % 8);
  const int m = 2 + static_cast<int>(random() % 4);
  installHandNetwork(joinNetwork(random, k, m), {2.0 + static_cast<double>(random() % 4)});
  std::vector<BitWord> starts(static_cast<size_t>(elementaryNetwork.nBitWords), 0);
  for (int e = 0; e < k; ++e) setBit(starts.data(), e);
  prepareStateWalk(walk);
  beginUdc(walk, starts.data());
}

TEST(PlainClasses, ClassesRememberedAlongTheWalkAreThoseWorkedOutAnewInEachState) {
  std::mt19937 random(404);
  int compared = 0;
  int remembered = 0;
  for (int trial = 0; trial < 60; ++trial) {
    UdcStateWalk walk;
    takeUpRandomJoinUdc(random, walk);
    const int words = elementaryNetwork.nBitWords;
    TransitionPlan along, fresh;
    prepareTransitionPlan(along, true);
    prepareTransitionPlan(fresh, true);
    beginUdcTransitions(along, walk);
    ClassSink alongSink;
    walkUdcStates(walk, false, [&](const UdcStateWalk& state) {
      if (state.instantaneousPosition() >= 0) return;
      for (int p = 0; p < state.memberCount; ++p) {
        if (!(state.activeMask & positionBit(p))) continue;
        alongSink.seen.clear();
        forEachOutcome(along, state, p, alongSink);
        beginUdcTransitions(fresh, state);
        ClassSink freshSink;
        forEachOutcome(fresh, state, p, freshSink);
        ASSERT_EQ(alongSink.seen.size(), freshSink.seen.size());
        for (size_t i = 0; i < freshSink.seen.size(); ++i) {
          const int32_t a = alongSink.seen[i];
          const int32_t f = freshSink.seen[i];
          ASSERT_EQ(targetMembers(along, a, words), targetMembers(fresh, f, words))
              << "trial " << trial << " key " << state.key << " position " << p;
          ASSERT_EQ(targetKeyOf(along, a, state), targetKeyOf(fresh, f, state))
              << "trial " << trial << " key " << state.key << " position " << p;
          ++compared;
        }
      }
    });
    remembered += static_cast<int>(along.classes.size());
  }
  // Enough states to meet each remembered class many times over.
  EXPECT_GT(compared, 20 * remembered);
}

// The solver keeps a class's target key for the state's digits above the third and adds the
// part of the lowest three anew: that holds only if the key rule's carried digits ascend by
// position and the low ones carry in with their weights alone, whatever the digits above.
TEST(PlainClasses, TargetKeysSplitIntoTheLowDigitsPartAndARestFixedByTheDigitsAbove) {
  constexpr StateKey kLowSpan = 27;  // the three lowest digits
  std::mt19937 random(77);
  int checked = 0;
  for (int trial = 0; trial < 60; ++trial) {
    UdcStateWalk walk;
    takeUpRandomJoinUdc(random, walk);
    TransitionPlan plan;
    prepareTransitionPlan(plan, true);
    beginUdcTransitions(plan, walk);
    ClassSink sink;
    // By class and the state's digits above the third: the target key less the low part.
    std::vector<std::vector<std::pair<StateKey, StateKey>>> rests;
    walkUdcStates(walk, false, [&](const UdcStateWalk& state) {
      if (state.instantaneousPosition() >= 0) return;
      for (int p = 0; p < state.memberCount; ++p) {
        if (!(state.activeMask & positionBit(p))) continue;
        sink.seen.clear();
        forEachOutcome(plan, state, p, sink);
        for (int32_t id : sink.seen) {
          const TargetClass& target = plan.classes[static_cast<size_t>(id)];
          if (target.fromOwnKey) continue;
          StateKey low = 0;
          int32_t previous = -1;
          for (uint32_t c = target.carriedBegin; c < target.carriedBegin + target.carriedCount; ++c) {
            const CarriedDigit& digit = plan.carried[c];
            ASSERT_GT(digit.position, previous) << "trial " << trial << " class " << id;
            previous = digit.position;
            if (digit.position < 3) low += state.status[static_cast<size_t>(digit.position)] * digit.weight;
          }
          const StateKey high = state.key / kLowSpan;
          const StateKey rest = targetKeyOf(plan, id, state) - low;
          if (rests.size() <= static_cast<size_t>(id)) rests.resize(static_cast<size_t>(id) + 1);
          auto& seen = rests[static_cast<size_t>(id)];
          auto at = std::find_if(seen.begin(), seen.end(), [&](const auto& entry) { return entry.first == high; });
          if (at == seen.end()) {
            seen.push_back({high, rest});
          } else {
            ASSERT_EQ(at->second, rest) << "trial " << trial << " class " << id << " key " << state.key;
            ++checked;
          }
        }
      }
    });
  }
  EXPECT_GT(checked, 1000);
}

}  // namespace

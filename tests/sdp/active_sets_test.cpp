// The facts a state's evaluation takes from its set of active members, looked up where the
// set was met before, against the same facts computed from the state alone. The networks
// have fractional rates and uses, so that the walk meets active sets with other roundings of
// their amounts and total rate, and more active sets than entries; or whole-number uses,
// whose amounts are not compared.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "sdp/active_sets.h"
#include "udc/state_walk_impl.h"
#include "../udc/udc_test_network.h"

namespace {

std::vector<BitWord> bitsOf(const std::vector<int>& members) {
  std::vector<BitWord> bits(static_cast<size_t>(elementaryNetwork.nBitWords), 0);
  for (int e : members) setBit(bits.data(), e);
  return bits;
}

double npvLikeWeight(double rate, double totalRate) { return (totalRate / (0.01 + totalRate)) * (rate / totalRate); }

// Parallel activities 0 .. k-1 before a final one, each using some of three resources.
std::vector<HandActivity> parallelNetwork(std::mt19937& random, int k) {
  std::vector<HandActivity> acts(static_cast<size_t>(k) + 1);
  for (int e = 0; e < k; ++e) {
    HandActivity& a = acts[static_cast<size_t>(e)];
    a.successors = {k};
    a.mayIdle = random() % 5 != 0;
    a.duration = 0.3 + static_cast<double>(random() % 97) / 13.0;
    for (int r = 0; r < 3; ++r) a.use.push_back(static_cast<double>(random() % 7) / 10.0);
  }
  return acts;
}

// Walks the UDC of the given members (taken to have the given number of states), checking every state with an active
// set against the facts computed anew; returns the states checked.
int checkUdc(ActiveSetCache& cache, UdcStateWalk& walk, const std::vector<int>& members,
             uint32_t states = kActiveSetMinStates) {
  beginUdc(walk, bitsOf(members).data());
  beginActiveSets(cache, states);
  int checked = 0;
  walkUdcStates(walk, false, [&](const UdcStateWalk& state) {
    // Without the entries the evaluation computes each state alone and asks for nothing.
    if (state.instantaneousPosition() >= 0 || !cache.usable) return;
    const ActiveSetFacts& facts = activeSetFactsOf(cache, state, npvLikeWeight);
    for (int p = 0; p < state.memberCount; ++p) {
      if (!(state.idleMask() & positionBit(p))) continue;
      const bool fits =
          useFits(state.resourceUse[static_cast<size_t>(p)], state.remainingResources.data(), state.resourceSlots);
      ASSERT_EQ((facts.fitting & positionBit(p)) != 0, fits) << "key " << state.key << " position " << p;
    }
    if (state.activeMask == 0) return;
    ASSERT_EQ(std::bit_cast<uint64_t>(facts.sojourn), std::bit_cast<uint64_t>(1.0 / state.totalRate));
    // Every active position once, the highest first (the order completions are added in),
    // each with its weight.
    int k = 0;
    for (int p = state.memberCount - 1; p >= 0; --p) {
      if (!(state.activeMask & positionBit(p))) continue;
      ASSERT_LT(k, facts.activeCount) << "key " << state.key;
      ASSERT_EQ(facts.positionDown[static_cast<size_t>(k)], p) << "key " << state.key;
      ASSERT_EQ(std::bit_cast<uint64_t>(facts.weightDown[static_cast<size_t>(k)]),
                std::bit_cast<uint64_t>(npvLikeWeight(state.rate[static_cast<size_t>(p)], state.totalRate)))
          << "key " << state.key << " position " << p;
      ++k;
    }
    ASSERT_EQ(k, facts.activeCount) << "key " << state.key;
    ++checked;
  });
  return checked;
}

TEST(ActiveSets, FactsLookedUpAreTheFactsOfTheStateInEveryUdcAndAfterTheStampWraps) {
  std::mt19937 random(2026);
  for (int trial = 0; trial < 40; ++trial) {
    const int k = 3 + static_cast<int>(random() % 10);
    installHandNetwork(parallelNetwork(random, k), {1.0 + static_cast<double>(random() % 9) / 10.0, 0.9, 1.3});
    UdcStateWalk walk;
    prepareStateWalk(walk);
    ActiveSetCache cache;
    prepareActiveSets(cache, walk);
    ASSERT_FALSE(cache.entries.empty());
    std::vector<int> all;
    for (int e = 0; e < k; ++e) all.push_back(e);
    // The same positions stand for other members in the second UDC, whose entries must not
    // answer for the first's; near the wrap of the stamp the entries are cleared.
    const std::vector<int> later(all.begin() + 1, all.end());
    if (trial % 4 == 3) cache.stamp = UINT32_MAX - 1;
    EXPECT_GT(checkUdc(cache, walk, all), 0) << "trial " << trial;
    checkUdc(cache, walk, later);
    // A UDC of few states between two that keep entries.
    EXPECT_EQ(checkUdc(cache, walk, later, kActiveSetMinStates - 1), 0);
    checkUdc(cache, walk, all);
  }
}

// Whole-number amounts are not compared: the same active set leaves the same amounts in any
// order. Uses and availabilities of tenths, or too large to stay exact, are compared.
TEST(ActiveSets, WholeAmountsAreTrustedAndOthersCompared) {
  std::mt19937 random(11);
  for (int trial = 0; trial < 30; ++trial) {
    const int k = 3 + static_cast<int>(random() % 10);
    std::vector<HandActivity> acts = parallelNetwork(random, k);
    for (HandActivity& a : acts)
      for (double& use : a.use) use = std::round(use * 10.0);
    std::vector<double> availability{static_cast<double>(5 + random() % 9), 9.0, 13.0};
    installHandNetwork(acts, availability);
    UdcStateWalk walk;
    prepareStateWalk(walk);
    ActiveSetCache cache;
    prepareActiveSets(cache, walk);
    ASSERT_TRUE(cache.wholeAmounts);
    std::vector<int> all;
    for (int e = 0; e < k; ++e) all.push_back(e);
    EXPECT_GT(checkUdc(cache, walk, all), 0) << "trial " << trial;
    checkUdc(cache, walk, std::vector<int>(all.begin() + 1, all.end()));
    checkUdc(cache, walk, all);
  }
  struct Case {
    double use, availability;
    bool whole;
  };
  for (const Case& c : {Case{3.0, 7.0, true}, Case{0.5, 7.0, false}, Case{3.0, 7.25, false}, Case{0x1p50, 7.0, false},
                        Case{3.0, -0x1p50, false}, Case{std::nan(""), 7.0, false}}) {
    std::vector<HandActivity> acts = parallelNetwork(random, 4);
    for (HandActivity& a : acts) a.use.assign(3, 1.0);
    acts[2].use[1] = c.use;
    installHandNetwork(acts, {8.0, c.availability, 8.0});
    UdcStateWalk walk;
    prepareStateWalk(walk);
    ActiveSetCache cache;
    prepareActiveSets(cache, walk);
    EXPECT_EQ(cache.wholeAmounts, c.whole) << c.use << " of " << c.availability;
  }
}

TEST(ActiveSets, ProjectsWithMoreResourcesThanAnEntryKeepsHaveNone) {
  std::mt19937 random(7);
  std::vector<HandActivity> acts = parallelNetwork(random, 6);
  std::vector<double> availability(kActiveSetSlots + 1, 1.0);
  for (HandActivity& a : acts) a.use.resize(availability.size(), 0.25);
  installHandNetwork(acts, availability);
  UdcStateWalk walk;
  prepareStateWalk(walk);
  ActiveSetCache cache;
  prepareActiveSets(cache, walk);
  EXPECT_TRUE(cache.entries.empty());
  beginActiveSets(cache, 1u << 20);
  EXPECT_FALSE(cache.usable);
}

}  // namespace

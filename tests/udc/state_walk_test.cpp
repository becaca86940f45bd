// The state walk against an independent oracle: every status vector of a UDC is checked
// against the status rules directly, and the walk must visit exactly the valid ones, in
// strictly descending key, with the lists, sets, rate and resources of each.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "duration/elementary_network.h"
#include "network/base_network.h"
#include "udc/state_walk.h"

namespace {

struct WalkNetwork {
  int n = 0;
  std::vector<std::vector<int>> successors;
  std::vector<int> type;
  std::vector<int> mayIdle;
  std::vector<double> rate;
  std::vector<double> duration;
  std::vector<std::vector<double>> use;
  std::vector<double> availability;
};

void installNetwork(const WalkNetwork& w) {
  ElementaryNetwork net;
  net.nElementary = w.n;
  net.nBitWords = (w.n + kBitWordBits - 1) / kBitWordBits;
  net.resourceCount = static_cast<int32_t>(w.availability.size());
  net.elemSuccessors.resize(w.n);
  net.elemPredecessors.resize(w.n);
  for (int e = 0; e < w.n; ++e) {
    net.elemSuccessors[e].assign(w.successors[e].begin(), w.successors[e].end());
    for (int s : w.successors[e]) net.elemPredecessors[s].push_back(e);
  }
  net.elemSuccTransitionType.assign(w.type.begin(), w.type.end());
  for (int e = 0; e < w.n; ++e) net.elemAllowedToIdle.push_back(static_cast<uint8_t>(w.mayIdle[e]));
  net.elemRate = w.rate;
  net.elemDuration = w.duration;
  for (int e = 0; e < w.n; ++e)
    for (double u : w.use[e]) net.elemResourceUse.push_back(u);
  net.elemAncestorBits.assign(static_cast<size_t>(w.n) * net.nBitWords, 0);
  for (int e = 0; e < w.n; ++e)  // predecessors have lower indices
    for (int p : net.elemPredecessors[e]) {
      BitWord* anc = net.elemAncestorBits.data() + static_cast<size_t>(e) * net.nBitWords;
      unionInto(anc, net.elemAncestorBits.data() + static_cast<size_t>(p) * net.nBitWords, net.nBitWords);
      setBit(anc, p);
    }
  elementaryNetwork = net;
  baseNetwork.resourceCount = net.resourceCount;
  baseNetwork.resourceAvailability = w.availability;
}

std::vector<BitWord> memberSetOf(const std::vector<int>& members) {
  std::vector<BitWord> bits(static_cast<size_t>(elementaryNetwork.nBitWords), 0);
  for (int e : members) setBit(bits.data(), e);
  return bits;
}

struct OracleState {
  uint32_t key = 0;
  std::vector<int> status;
};

// The status rules, checked position by position against the statuses above and the
// minima below.
std::vector<OracleState> validStates(const WalkNetwork& w, const std::vector<int>& members) {
  const int k = static_cast<int>(members.size());
  const int words = elementaryNetwork.nBitWords;
  std::vector<BitWord> ancestors(static_cast<size_t>(words), 0);
  for (int e : members) unionInto(ancestors.data(), ancestorBitsOf(e), words);
  std::vector<OracleState> states;
  int total = 1;
  for (int i = 0; i < k; ++i) total *= 3;
  for (int code = 0; code < total; ++code) {
    std::vector<int> status(k);
    uint32_t key = 0;
    for (int i = 0, c = code, power = 1; i < k; ++i, c /= 3, power *= 3) {
      status[i] = c % 3;
      key += static_cast<uint32_t>(status[i] * power);
    }
    bool valid = true;
    for (int p = 0; p < k && valid; ++p) {
      const int e = members[p];
      if (!w.mayIdle[e] && status[p] == 0) valid = false;
      if (status[p] == 2) {
        std::vector<BitWord> f = ancestors;
        for (int q = p; q < k; ++q)
          if (status[q] == 2 || q == p) setBit(f.data(), members[q]);
        bool finishable = w.type[e] == 0 && !w.successors[e].empty();
        for (int s : w.successors[e])
          if (isSubsetOf(ancestorBitsOf(s), f.data(), words)) finishable = false;
        if (!finishable) valid = false;
      }
      if (status[p] == 1 && w.mayIdle[e]) {
        std::vector<double> remaining = w.availability;
        for (int q = 0; q < k; ++q) {
          const bool running = q > p ? status[q] == 1 : (q < p && !w.mayIdle[members[q]]);
          if (running)
            for (size_t r = 0; r < remaining.size(); ++r) remaining[r] -= w.use[members[q]][r];
        }
        for (size_t r = 0; r < remaining.size(); ++r)
          if (w.use[e][r] > remaining[r]) valid = false;
      }
    }
    if (valid) states.push_back({key, status});
  }
  std::sort(states.begin(), states.end(), [](const OracleState& a, const OracleState& b) { return a.key > b.key; });
  return states;
}

struct Visited {
  uint32_t key;
  std::vector<int> status, idle, active;
  int instantaneous;
  double rate;
  std::vector<double> remaining;
};

std::vector<Visited> walkAll(const std::vector<int>& members, bool check, bool& completed) {
  UdcStateWalk walk;
  prepareStateWalk(walk);
  std::vector<BitWord> bits = memberSetOf(members);
  beginUdc(walk, bits.data());
  std::vector<Visited> seen;
  completed = walkUdcStates(walk, check, [&](const UdcStateWalk& s) {
    Visited v;
    v.key = s.key;
    for (int p = 0; p < s.memberCount; ++p) v.status.push_back(s.status[p]);
    forEachPositionDown(s.idleMask(), [&](int p) { v.idle.push_back(s.activityAt(p)); });
    forEachPositionDown(s.activeMask, [&](int p) { v.active.push_back(s.activityAt(p)); });
    v.instantaneous = s.instantaneousPosition() >= 0 ? s.activityAt(s.instantaneousPosition()) : -1;
    v.rate = s.totalRate;
    v.remaining.assign(s.remainingResources.begin(), s.remainingResources.begin() + s.resourceCount);
    seen.push_back(v);
  });
  return seen;
}

Visited visitedOf(const UdcStateWalk& s) {
  Visited v;
  v.key = static_cast<uint32_t>(s.key);
  for (int p = 0; p < s.memberCount; ++p) v.status.push_back(s.status[p]);
  v.rate = s.totalRate;
  v.remaining.assign(s.remainingResources.begin(), s.remainingResources.begin() + s.resourceCount);
  v.instantaneous = -1;
  return v;
}

// The walk in blocks of the positions from stopAt up: one walk marks where each block
// begins, then every block is walked by a fresh walk from its mark, the last block first.
// Returns the states in walk order; blocks counts the blocks.
std::vector<Visited> walkInBlocks(const std::vector<int>& members, int stopAt, size_t& blocks) {
  std::vector<BitWord> bits = memberSetOf(members);
  UdcStateWalk marker;
  prepareStateWalk(marker);
  beginUdc(marker, bits.data());
  std::vector<WalkPosition> marks;
  std::vector<std::vector<double>> amounts;
  std::vector<size_t> sizes;
  bool overdrawPossible = true;
  if (startUdcWalk(marker))
    for (;;) {
      marks.emplace_back();
      amounts.emplace_back(static_cast<size_t>(marker.resourceSlots));
      saveWalkPosition(marker, marks.back(), amounts.back().data());
      size_t size = 0;
      const int p = walkUdcStatesOn(marker, false, overdrawPossible, stopAt, [&](const UdcStateWalk&) { ++size; });
      sizes.push_back(size);
      if (p == kWalkEnded) break;
      EXPECT_GE(p, stopAt);
      overdrawPossible = lowerWalkPosition(marker, p) || overdrawPossible;
    }
  blocks = marks.size();
  std::vector<std::vector<Visited>> byBlock(blocks);
  for (size_t b = blocks; b-- > 0;) {
    UdcStateWalk walk;
    prepareStateWalk(walk);
    beginUdc(walk, bits.data());
    restoreWalkPosition(walk, marks[b], amounts[b].data());
    bool never = false;
    const int p = walkUdcStatesOn(walk, false, never, stopAt,
                                  [&](const UdcStateWalk& s) { byBlock[b].push_back(visitedOf(s)); });
    EXPECT_EQ(p == kWalkEnded, b + 1 == blocks);
    EXPECT_EQ(byBlock[b].size(), sizes[b]);
  }
  std::vector<Visited> all;
  for (const std::vector<Visited>& block : byBlock) {
    for (const Visited& v : block)  // the top statuses are the block's first state's
      for (size_t q = static_cast<size_t>(stopAt); q < v.status.size(); ++q) EXPECT_EQ(v.status[q], block[0].status[q]);
    all.insert(all.end(), block.begin(), block.end());
  }
  return all;
}

WalkNetwork chainOfOne(int mayIdle, double use, double available) {
  WalkNetwork w;
  w.n = 3;
  w.successors = {{1}, {2}, {}};
  w.type = {0, 0, 0};
  w.mayIdle = {1, mayIdle, 1};
  w.rate = {1, 2, 1};
  w.duration = {0, 0.5, 0};
  w.use = {{0}, {use}, {0}};
  w.availability = {available};
  return w;
}

// A finger of the solver is shared by the searches whose key offset is one digit's weight;
// the offset's position comes from its bit length.
TEST(StateWalk, PositionOfAWeightIsFoundForEveryPowerOfThreeAndNoOtherNumber) {
  for (int p = 0; p <= kMaxUdcMembers; ++p) {
    const StateKey weight = kPowersOfThree[static_cast<size_t>(p)];
    EXPECT_EQ(positionOfWeight(weight), p);
    if (weight <= ~StateKey{0} / 2) {
      EXPECT_EQ(positionOfWeight(2 * weight), -1) << p;
    }
    if (p > 0) {
      EXPECT_EQ(positionOfWeight(weight - 1), -1) << p;
      EXPECT_EQ(positionOfWeight(weight + 1), -1) << p;
      EXPECT_EQ(positionOfWeight(weight + kPowersOfThree[static_cast<size_t>(p) - 1]), -1) << p;
    }
  }
  EXPECT_EQ(positionOfWeight(0), -1);
  EXPECT_EQ(positionOfWeight(~StateKey{0}), -1);
}

TEST(StateWalk, SingleMemberCases) {
  bool done = false;
  installNetwork(chainOfOne(0, 1, 5));
  std::vector<Visited> v = walkAll({1}, true, done);
  ASSERT_TRUE(done);
  ASSERT_EQ(v.size(), 1u);  // must run and cannot stay finished: active only
  EXPECT_EQ(v[0].key, 1u);

  installNetwork(chainOfOne(1, 5, 5));  // use equal to availability fits
  v = walkAll({1}, true, done);
  ASSERT_EQ(v.size(), 2u);
  EXPECT_EQ(v[0].key, 1u);
  EXPECT_EQ(v[0].active, std::vector<int>{1});
  EXPECT_DOUBLE_EQ(v[0].remaining[0], 0.0);
  EXPECT_EQ(v[1].key, 0u);
  EXPECT_EQ(v[1].idle, std::vector<int>{1});
  EXPECT_DOUBLE_EQ(v[1].rate, 0.0);

  installNetwork(chainOfOne(1, 6, 5));  // does not fit: idle only
  v = walkAll({1}, true, done);
  ASSERT_EQ(v.size(), 1u);
  EXPECT_EQ(v[0].key, 0u);
}

TEST(StateWalk, MembersThatMustRunTogetherOverdrawResources) {
  WalkNetwork w;
  w.n = 4;
  w.successors = {{1, 2}, {3}, {3}, {}};
  w.type = {0, -3, -3, 0};
  w.mayIdle = {1, 0, 0, 1};
  w.rate = {1, 1, 1, 1};
  w.duration = {0, 1, 1, 0};
  w.use = {{0}, {3}, {3}, {0}};
  w.availability = {5};
  installNetwork(w);
  bool done = true;
  std::vector<Visited> v = walkAll({1, 2}, true, done);
  EXPECT_FALSE(done);
  EXPECT_TRUE(v.empty());
  v = walkAll({1, 2}, false, done);  // the solvers never check
  EXPECT_TRUE(done);
  EXPECT_EQ(v.size(), 1u);
}

TEST(StateWalk, FinishedMemberStaysUntilItsSuccessorIsEnabled) {
  // a and b both precede c: a finished member waits in the cutset for the other.
  WalkNetwork w;
  w.n = 4;
  w.successors = {{1, 2}, {3}, {3}, {}};
  w.type = {0, 0, 0, 0};
  w.mayIdle = {1, 1, 1, 1};
  w.rate = {1, 2, 3, 1};
  w.duration = {0, 1, 1, 0};
  w.use = {{0}, {1}, {1}, {0}};
  w.availability = {2};
  installNetwork(w);
  bool done = false;
  std::vector<Visited> v = walkAll({1, 2}, true, done);
  std::vector<uint32_t> keys;
  for (const Visited& s : v) keys.push_back(s.key);
  EXPECT_EQ(keys, (std::vector<uint32_t>{7, 6, 5, 4, 3, 2, 1, 0}));
  EXPECT_EQ(v[3].active, (std::vector<int>{2, 1}));  // key 4: both active, descending
  EXPECT_DOUBLE_EQ(v[3].rate, 5.0);
}

TEST(StateWalk, AgreesWithTheStatusRulesOnRandomNetworks) {
  std::mt19937 random(12345);
  for (int trial = 0; trial < 300; ++trial) {
    WalkNetwork w;
    w.n = 4 + static_cast<int>(random() % 36);
    const int resources = static_cast<int>(random() % 3);
    w.successors.assign(w.n, {});
    for (int e = 0; e + 1 < w.n; ++e) {
      for (int s = e + 1; s < w.n; ++s)
        if (random() % 5 == 0) w.successors[e].push_back(s);
      if (w.successors[e].empty()) w.successors[e].push_back(e + 1 + static_cast<int>(random() % (w.n - e - 1)));
    }
    for (int e = 0; e < w.n; ++e) {
      w.type.push_back(random() % 4 == 0 ? -3 : 0);
      w.mayIdle.push_back(static_cast<int>(random() % 3 != 0));
      // Rates whose sums round, so that a walk that reached a state otherwise shows it.
      w.rate.push_back(0.1 + static_cast<double>(random() % 16) / 7);
      w.duration.push_back(random() % 6 == 0 ? 0.0 : 1.0 / w.rate.back());
      std::vector<double> use;
      for (int r = 0; r < resources; ++r) use.push_back(static_cast<double>(random() % 4));
      w.use.push_back(use);
    }
    for (int r = 0; r < resources; ++r) w.availability.push_back(static_cast<double>(2 + random() % 6));
    installNetwork(w);

    // An antichain of up to 7 members.
    std::vector<int> members;
    std::vector<BitWord> related(static_cast<size_t>(elementaryNetwork.nBitWords), 0);
    for (int attempt = 0; attempt < 20 && members.size() < 7; ++attempt) {
      const int e = static_cast<int>(random() % w.n);
      if (hasBit(related.data(), e)) continue;
      bool unrelated = true;
      for (int m : members)
        if (hasBit(ancestorBitsOf(e), m)) unrelated = false;
      if (!unrelated) continue;
      members.push_back(e);
      setBit(related.data(), e);
      unionInto(related.data(), ancestorBitsOf(e), elementaryNetwork.nBitWords);
    }
    std::sort(members.begin(), members.end());

    const std::vector<OracleState> expected = validStates(w, members);
    bool done = false;
    const std::vector<Visited> seen = walkAll(members, false, done);
    ASSERT_TRUE(done);
    ASSERT_EQ(seen.size(), expected.size()) << "trial " << trial;
    for (size_t i = 0; i < seen.size(); ++i) {
      ASSERT_EQ(seen[i].key, expected[i].key) << "trial " << trial << " state " << i;
      ASSERT_EQ(seen[i].status, expected[i].status);
      std::vector<int> idle, active;
      double rate = 0;
      std::vector<double> remaining = w.availability;
      int instantaneous = -1;
      for (int p = static_cast<int>(members.size()) - 1; p >= 0; --p) {
        const int e = members[p];
        if (expected[i].status[p] == 0) idle.push_back(e);
        if (expected[i].status[p] == 1) {
          active.push_back(e);
          rate += w.rate[e];
          for (size_t r = 0; r < remaining.size(); ++r) remaining[r] -= w.use[e][r];
          if (instantaneous < 0 && w.duration[e] <= 0) instantaneous = e;
        }
      }
      EXPECT_EQ(seen[i].idle, idle);
      EXPECT_EQ(seen[i].active, active);
      EXPECT_EQ(seen[i].instantaneous, instantaneous);
      EXPECT_NEAR(seen[i].rate, rate, 1e-9);
      for (size_t r = 0; r < remaining.size(); ++r) EXPECT_NEAR(seen[i].remaining[r], remaining[r], 1e-9);
    }

    // Walked in blocks from marks, the walk carries the very same doubles along.
    for (int stopAt = 1; stopAt < static_cast<int>(members.size()); ++stopAt) {
      size_t blocks = 0;
      const std::vector<Visited> inBlocks = walkInBlocks(members, stopAt, blocks);
      ASSERT_EQ(inBlocks.size(), seen.size()) << "trial " << trial << " from " << stopAt;
      EXPECT_LE(blocks, static_cast<size_t>(std::pow(3.0, static_cast<double>(members.size()) - stopAt)));
      for (size_t i = 0; i < seen.size(); ++i) {
        ASSERT_EQ(inBlocks[i].key, seen[i].key) << "trial " << trial << " from " << stopAt << " state " << i;
        EXPECT_EQ(inBlocks[i].status, seen[i].status);
        EXPECT_EQ(std::memcmp(&inBlocks[i].rate, &seen[i].rate, sizeof(double)), 0);
        ASSERT_EQ(inBlocks[i].remaining.size(), seen[i].remaining.size());
        for (size_t r = 0; r < seen[i].remaining.size(); ++r)
          EXPECT_EQ(std::memcmp(&inBlocks[i].remaining[r], &seen[i].remaining[r], sizeof(double)), 0);
      }
    }
  }
}

}  // namespace

// The peak-state sweep over a finished UDC network and the .UDC file it is dumped to.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"
#include "base/run_state.h"
#include "base/threads.h"
#include "udc/udc_network.h"
#include "udc_test_network.h"

namespace {

void setNetwork(const std::vector<uint32_t>& states, const std::vector<std::vector<uint32_t>>& successors) {
  storeUdcNetwork({}, states, successors);
}

// A hand-made network of `count` UDCs: members, state counts and successors by UDC.
struct HandRecords {
  explicit HandRecords(uint32_t udcs) : count(udcs), members(udcs), states(udcs), successors(udcs) {}
  void store() const { storeUdcNetwork(members, states, successors); }
  uint32_t count;
  std::vector<std::vector<int32_t>> members;
  std::vector<uint32_t> states;
  std::vector<std::vector<uint32_t>> successors;
};

TEST(UdcPeakStates, ThreeUdcChainHoldsTwoNeighboursAtOnce) {
  setNetwork({5, 3, 7}, {{1}, {2}, {}});
  EXPECT_EQ(sweepPeakStates(), 10u);
  setNetwork({9, 3, 1}, {{1}, {2}, {}});
  EXPECT_EQ(sweepPeakStates(), 12u);
  releaseUdcNetwork();
}

TEST(UdcPeakStates, SuccessorIsHeldUntilItsLastPredecessorIsSwept) {
  // 0 -> 1, 0 -> 2, 1 -> 3, 2 -> 3: UDC 3 stays until UDC 1 is swept.
  setNetwork({1, 10, 20, 100}, {{1, 2}, {3}, {3}, {}});
  EXPECT_EQ(sweepPeakStates(), 130u);
  releaseUdcNetwork();
}

// The bound of a sweep on several threads: at each highest UDC not yet done, what one thread
// holds there plus the UDCs less than the lookahead below it.
TEST(UdcPeakStates, SweepAheadAddsTheUdcsBelowTheHighestNotDone) {
  // A chain 0 -> 1 -> 2 -> 3: one thread holds 8, 12, 6, 3 at UDCs 3, 2, 1, 0.
  setNetwork({1, 2, 4, 8}, {{1}, {2}, {3}, {}});
  EXPECT_EQ(sweepPeakStatesWithin(1).within, 12u);
  EXPECT_EQ(sweepPeakStatesWithin(3).oneThread, 12u);
  EXPECT_EQ(sweepPeakStatesWithin(3).within, 15u);  // at UDC 2: 12 + 2 + 1
  // The diamond: one thread holds 100, 120, 130, 31; two ahead adds the next one below.
  setNetwork({1, 10, 20, 100}, {{1, 2}, {3}, {3}, {}});
  EXPECT_EQ(sweepPeakStatesWithin(2).within, 131u);  // at UDC 1: 130 + 1
  // The network's record takes the bound of the threads in force.
  threadSettings.count = 2;
  setNetwork({1, 10, 20, 100}, {{1, 2}, {3}, {3}, {}});
  threadSettings.count = 1;
  EXPECT_EQ(udcNetwork.udcPeakStates, 130u);
  EXPECT_EQ(udcNetwork.udcPeakStatesThreaded, 131u);
  setNetwork({1, 10, 20, 100}, {{1, 2}, {3}, {3}, {}});
  EXPECT_EQ(udcNetwork.udcPeakStatesThreaded, 130u);
  releaseUdcNetwork();
}

// The bound of a window by its definition, over the network's lists: what a one-thread sweep
// holds at each H plus the states of the UDCs of the window below H.
uint64_t boundByDefinition(const std::vector<uint32_t>& states, const std::vector<std::vector<uint32_t>>& successors,
                           const SweepWindow& window) {
  const int64_t n = static_cast<int64_t>(states.size());
  std::vector<uint32_t> pending(states.size(), 0);
  for (const auto& list : successors)
    for (uint32_t s : list) ++pending[s];
  std::vector<uint64_t> heldAt(states.size(), 0);
  uint64_t held = 0;
  for (int64_t u = n - 1; u >= 0; --u) {
    held += states[static_cast<size_t>(u)];
    heldAt[static_cast<size_t>(u)] = held;
    for (uint32_t s : successors[static_cast<size_t>(u)])
      if (--pending[s] == 0) held -= states[s];
  }
  uint64_t bound = 0;
  for (int64_t h = n - 1; h >= 0; --h) {
    uint64_t below = 0;
    for (int64_t v = h - 1; v >= 0; --v) {
      if (!inSweepWindow(window, h - v, below + states[static_cast<size_t>(v)])) break;
      below += states[static_cast<size_t>(v)];
    }
    bound = std::max(bound, heldAt[static_cast<size_t>(h)] + below);
  }
  return bound;
}

// A window counted in states reaches further down past small UDCs than past large ones, and
// never past `most` UDCs; the pass over the links gives the bound of the definition on random
// networks of small and large UDCs and every kind of window.
TEST(UdcPeakStates, WindowInStatesReachesAsFarAsItsStatesAllow) {
  // A chain of ten UDCs of 1 state under an end of 100: one thread holds 101, then 2.
  std::vector<uint32_t> states(10, 1);
  states.push_back(100);
  std::vector<std::vector<uint32_t>> chain(11);
  for (uint32_t u = 0; u + 1 < 11; ++u) chain[u] = {u + 1};
  setNetwork(states, chain);
  EXPECT_EQ(sweepPeakStatesWithin(SweepWindow{1, 0, 1}).within, 101u);
  EXPECT_EQ(sweepPeakStatesWithin(SweepWindow{1, 4, 100}).within, 105u);      // four below the first
  EXPECT_EQ(sweepPeakStatesWithin(SweepWindow{6, 4, 100}).within, 106u);      // the count reaches further
  EXPECT_EQ(sweepPeakStatesWithin(SweepWindow{1, 4, 3}).within, 103u);        // `most` stops it
  EXPECT_EQ(sweepPeakStatesWithin(SweepWindow{1, 1000, 1000}).within, 110u);  // every UDC below
  EXPECT_EQ(sweepPeakStatesWithin(3).within, sweepPeakStatesWithin(SweepWindow{3, 0, 3}).within);

  std::mt19937 random(20261209);
  const std::vector<SweepWindow> windows = {{1, 0, 1},    {2, 0, 2},     {5, 0, 5},     {1, 30, 8},
                                            {3, 100, 20}, {16, 500, 64}, {2, 5000, 40}, {1, 100000, 1000}};
  for (int round = 0; round < 40; ++round) {
    const uint32_t n = 2 + random() % 120;
    std::vector<uint32_t> own(n);
    std::vector<std::vector<uint32_t>> links(n);
    for (uint32_t u = 0; u < n; ++u) {
      own[u] = random() % 5 == 0 ? 200 + random() % 2000 : 1 + random() % 40;
      if (u + 1 == n) continue;
      const uint32_t reach = 1 + random() % std::min<uint32_t>(n - 1 - u, round % 2 == 0 ? 3 : 30);
      links[u].push_back(u + 1 + random() % reach);
      for (uint32_t extra = random() % 3; extra > 0; --extra) {
        const uint32_t s = u + 1 + random() % (n - 1 - u);
        if (std::find(links[u].begin(), links[u].end(), s) == links[u].end()) links[u].push_back(s);
      }
    }
    setNetwork(own, links);
    const uint64_t oneThread = sweepPeakStates();
    for (const SweepWindow& window : windows) {
      const SweepPeaks peaks = sweepPeakStatesWithin(window);
      EXPECT_EQ(peaks.oneThread, oneThread) << round;
      EXPECT_EQ(peaks.within, boundByDefinition(own, links, window))
          << round << ": window " << window.udcs << ", " << window.states << ", " << window.most;
    }
  }
  releaseUdcNetwork();
}

// The window of two threads adds at most its states or its `most` UDCs below a chain of a
// million UDCs of one state each, and its count of UDCs below a chain of large ones.
TEST(UdcPeakStates, WindowOfTwoThreadsAddsItsStatesOrItsUdcs) {
  const SweepWindow two = sweepWindow(2);
  EXPECT_EQ(sweepWindow(1).udcs, 1);
  EXPECT_EQ(sweepWindow(1).most, 1);
  EXPECT_GE(two.most, two.udcs);
  std::vector<uint32_t> small(1000000, 1);
  std::vector<std::vector<uint32_t>> chain(small.size());
  for (uint32_t u = 0; u + 1 < small.size(); ++u) chain[u] = {u + 1};
  setNetwork(small, chain);
  EXPECT_EQ(sweepPeakStatesWithin(two).within, 2 + std::min<uint64_t>(static_cast<uint64_t>(two.most) - 1, two.states));
  std::vector<uint32_t> large(100, 100000);
  chain.resize(large.size());
  chain.back().clear();
  setNetwork(large, chain);
  EXPECT_EQ(sweepPeakStatesWithin(two).within, 200000u + static_cast<uint64_t>(two.udcs - 1) * 100000u);
  releaseUdcNetwork();
}

TEST(UdcPeakStates, CountsBeyondThirtyTwoBitsDoNotWrap) {
  const uint32_t big = 4000000000u;
  setNetwork({big, big, big}, {{1}, {2}, {}});
  EXPECT_EQ(sweepPeakStates(), 8000000000ull);
  releaseUdcNetwork();
}

// Laying the records out in a new numbering moves each UDC's members, state count and
// successors together and renames the successors; a network of 300 UDCs reversed makes
// gaps and members of several varint bytes, and the index of every 8th record must follow.
TEST(UdcRenumbering, RecordsFollowTheirUdcAndSuccessorsAreRenamed) {
  HandRecords hand(300);
  const uint32_t count = hand.count;
  const auto& successors = hand.successors;
  for (uint32_t u = 0; u < count; ++u) {
    hand.members[u] = {static_cast<int32_t>(u), static_cast<int32_t>(u + 200)};
    hand.states[u] = 1000 + u;
    if (u + 1 < count) hand.successors[u].push_back(u + 1);
    if (u + 150 < count) hand.successors[u].push_back(u + 150);
    if (u % 7 == 0 && u + 3 < count) hand.successors[u].push_back(u + 3);
  }
  hand.store();
  std::vector<uint32_t> number(count);
  for (uint32_t u = 0; u < count; ++u) number[u] = count - 1 - u;
  renumberUdcRecords(udcNetwork, number);
  for (uint32_t u = 0; u < count; ++u) {
    const int32_t n = static_cast<int32_t>(number[u]);
    EXPECT_EQ(membersOfUdc(n), std::vector<int>({static_cast<int>(u), static_cast<int>(u + 200)})) << u;
    EXPECT_EQ(udcStateCount(n), 1000 + u) << u;
    EXPECT_EQ(udcMemberCount(n), 2) << u;
    std::vector<uint32_t> want;
    for (uint32_t s : successors[u]) want.push_back(number[s]);
    EXPECT_EQ(successorNumbersOf(n), want) << u;
  }
  // The sequential reading sees the same records as the indexed one.
  forEachUdcLinks([&](int32_t n, uint32_t stateCount, const UdcSuccessors& links) {
    EXPECT_EQ(stateCount, udcStateCount(n));
    EXPECT_EQ(links.size(), udcSuccessorsOf(n).size());
  });
  releaseUdcNetwork();
}

// The renaming on two threads (members beside links) lays out the same bytes as on one, and what
// it sees on its way is what separate passes over the renamed links find: the state counts'
// largest and sum, the predecessor counts (past the one-byte ones: a UDC of 300 predecessors)
// and the first link in the old order that does not go forward.
TEST(UdcRenumbering, TwoThreadsLayOutTheSameBytesAndSeeWhatSeparatePassesFind) {
  const uint32_t count = 3000;
  HandRecords hand(count);
  std::mt19937 draw(20261209);
  for (uint32_t u = 0; u < count; ++u) {
    for (int k = 0; k < 1 + static_cast<int>(draw() % 6); ++k)
      hand.members[u].push_back(static_cast<int32_t>(draw() % 5000));
    std::sort(hand.members[u].begin(), hand.members[u].end());
    hand.members[u].erase(std::unique(hand.members[u].begin(), hand.members[u].end()), hand.members[u].end());
    hand.states[u] = 1 + draw() % 100000;
    for (int k = 0; k < static_cast<int>(draw() % 5) && u + 1 < count; ++k) {
      const uint32_t s = u + 1 + draw() % std::min<uint32_t>(count - 1 - u, 400);
      if (std::find(hand.successors[u].begin(), hand.successors[u].end(), s) == hand.successors[u].end())
        hand.successors[u].push_back(s);
    }
    if (u >= 2000 && u < 2300) hand.successors[u].push_back(count - 1);  // 300 and more predecessors
  }
  for (auto& list : hand.successors) {
    std::sort(list.begin(), list.end());
    list.erase(std::unique(list.begin(), list.end()), list.end());
  }
  // The numbering they have, every link forward, and the one that turns them all back.
  std::vector<uint32_t> forward(count);
  std::vector<uint32_t> reversed(count);
  for (uint32_t u = 0; u < count; ++u) {
    forward[u] = u;
    reversed[u] = count - 1 - u;
  }
  auto bytesOf = [](const UdcNetwork& net) {
    return std::vector<std::vector<uint64_t>>{
        std::vector<uint64_t>(net.memberRecords.data(), net.memberRecords.data() + net.memberRecords.size()),
        net.memberIndex, std::vector<uint64_t>(net.linkRecords.data(), net.linkRecords.data() + net.linkRecords.size()),
        net.linkIndex};
  };
  for (const std::vector<uint32_t>* number : {&forward, &reversed}) {
    std::vector<std::vector<uint64_t>> laidOut[2];
    for (int32_t threads : {1, 2}) {
      hand.store();
      PendingPredecessors pending;
      RenumberedLinks seen;
      seen.pending = &pending;
      renumberUdcRecords(udcNetwork, *number, &seen, threads);
      laidOut[threads - 1] = bytesOf(udcNetwork);
      EXPECT_EQ(seen.maxStates, *std::max_element(hand.states.begin(), hand.states.end()));
      uint64_t total = 0;
      for (uint32_t states : hand.states) total += states;
      EXPECT_EQ(seen.totalStates, total);
      PendingPredecessors counted;
      countPendingPredecessors(counted);
      EXPECT_TRUE(std::equal(pending.count.begin(), pending.count.end(), counted.count.begin(), counted.count.end()));
      EXPECT_EQ(pending.many, counted.many);
      uint32_t predecessorsOfLast = 0;
      for (const auto& list : hand.successors)
        predecessorsOfLast += static_cast<uint32_t>(std::count(list.begin(), list.end(), count - 1));
      EXPECT_EQ(pending.many.at((*number)[count - 1]), predecessorsOfLast);
      if (number == &forward) {
        EXPECT_FALSE(seen.backward);
      } else {
        // The first UDC with a successor, and its first successor.
        uint32_t u = 0;
        while (hand.successors[u].empty()) ++u;
        EXPECT_TRUE(seen.backward);
        EXPECT_EQ(seen.from, reversed[u]);
        EXPECT_EQ(seen.to, reversed[hand.successors[u][0]]);
      }
      // The peaks from the counts seen equal those counted afresh.
      const SweepPeaks fresh = sweepPeakStatesWithin(sweepWindow(2));
      const SweepPeaks fromSeen = sweepPeakStatesWithin(sweepWindow(2), pending);
      EXPECT_EQ(fresh.oneThread, fromSeen.oneThread);
      EXPECT_EQ(fresh.within, fromSeen.within);
    }
    EXPECT_EQ(laidOut[0], laidOut[1]);
  }
  releaseUdcNetwork();
}

// Records of 128 bytes and more carry a length of two bytes: a UDC of 50 members far apart and
// one of 200 successors sit between ordinary ones, and every way of reading the records (by
// index, in order, from the last to the first, into a list) must see the same UDCs, also after
// the records are laid out in a new numbering.
TEST(UdcRecords, LongRecordsReadTheSameEveryWay) {
  HandRecords hand(260);
  const uint32_t count = hand.count;
  const auto& members = hand.members;
  const auto& states = hand.states;
  const auto& successors = hand.successors;
  for (uint32_t u = 0; u < count; ++u) {
    hand.members[u] = {static_cast<int32_t>(u)};
    hand.states[u] = 7 * u + 1;
    if (u + 1 < count) hand.successors[u].push_back(u + 1);
  }
  for (int32_t k = 0; k < 50; ++k) hand.members[9].push_back(1000 + 20000 * k);  // gaps of three bytes
  for (uint32_t s = 20; s < 220; ++s) hand.successors[12].push_back(s);
  auto check = [&](const std::vector<uint32_t>& number) {
    for (uint32_t u = 0; u < count; ++u) {
      const int32_t n = static_cast<int32_t>(number[u]);
      std::vector<int> want(members[u].begin(), members[u].end());
      EXPECT_EQ(membersOfUdc(n), want) << u;
      EXPECT_EQ(udcStateCount(n), states[u]) << u;
      std::vector<uint32_t> renamed;
      for (uint32_t s : successors[u]) renamed.push_back(number[s]);
      EXPECT_EQ(successorNumbersOf(n), renamed) << u;
      std::vector<uint32_t> list{99, 98};
      udcSuccessorsInto(n, list);
      EXPECT_EQ(list, renamed) << u;
    }
    std::vector<int32_t> order;
    std::vector<std::vector<uint32_t>> seen(count);
    forEachUdcLinksDown([&](int32_t n, uint32_t stateCount, const UdcSuccessors& links) {
      order.push_back(n);
      EXPECT_EQ(stateCount, udcStateCount(n)) << n;
      for (uint32_t s : links) seen[static_cast<size_t>(n)].push_back(s);
    });
    ASSERT_EQ(order.size(), count);
    for (uint32_t k = 0; k < count; ++k) EXPECT_EQ(order[k], static_cast<int32_t>(count - 1 - k));
    for (uint32_t n = 0; n < count; ++n) EXPECT_EQ(seen[n], successorNumbersOf(static_cast<int>(n))) << n;
  };
  hand.store();
  std::vector<uint32_t> same(count);
  for (uint32_t u = 0; u < count; ++u) same[u] = u;
  check(same);
  // Swapping neighbours keeps every link going forward except within a pair; the reading does
  // not care.
  std::vector<uint32_t> swapped(count);
  for (uint32_t u = 0; u < count; ++u) swapped[u] = u ^ 1u;
  renumberUdcRecords(udcNetwork, swapped);
  check(swapped);
  releaseUdcNetwork();
}

// A UDC is released after exactly as many take-ups as it has predecessors, also past the
// one-byte counts (254 to 256 predecessors, and 600).
TEST(UdcPendingPredecessors, LastPredecessorIsReportedOnceForEveryCount) {
  for (uint32_t fanIn : {1u, 254u, 255u, 256u, 600u}) {
    // UDC 0 leads to the fan-in UDCs 1..fanIn, each of which leads to the end.
    const uint32_t end = fanIn + 1;
    std::vector<uint32_t> states(end + 1, 1);
    std::vector<std::vector<uint32_t>> successors(end + 1);
    for (uint32_t u = 1; u <= fanIn; ++u) {
      successors[0].push_back(u);
      successors[u] = {end};
    }
    setNetwork(states, successors);
    PendingPredecessors pending;
    countPendingPredecessors(pending);
    for (uint32_t taken = 1; taken < fanIn; ++taken) ASSERT_FALSE(takePendingPredecessor(pending, end)) << fanIn;
    EXPECT_TRUE(takePendingPredecessor(pending, end)) << fanIn;
    EXPECT_FALSE(takePendingPredecessor(pending, end)) << fanIn;  // never twice
    EXPECT_FALSE(takePendingPredecessor(pending, 0)) << fanIn;    // the start has none
    // All fan-in UDCs are held with the end when UDC 1 is swept, and with the start after.
    EXPECT_EQ(sweepPeakStates(), uint64_t{fanIn} + 1) << fanIn;
  }
  releaseUdcNetwork();
}

const char* const kLegend =
    "||||||||||||||||||||||||||||||||||\n"
    "|||FILE STRUCTURE (UDC NETWORK)|||\n"
    "||||||||||||||||||||||||||||||||||\n"
    "\n"
    "[NUMBER OF UDCs]\n"
    "[UDC 1: NUMBER OF STATES] [UDC 1: NUMBER OF PREDECESSORS] [UDC 1: NUMBER OF MEMBER ACTIVITIES] [UDC 1: MEMBER "
    "ACTIVITY 1] [UDC 1: MEMBER ACTIVITY 2] ... [UDC 1: MEMBER ACTIVITY n] [UDC 1: NUMBER OF SUCCESSORS] [UDC 1: "
    "SUCCESSOR 1] [UDC 1: SUCCESSOR 2] ... [UDC 1: SUCCESSOR s]\n"
    "[UDC 2: NUMBER OF STATES] [UDC 2: NUMBER OF PREDECESSORS] [UDC 2: NUMBER OF MEMBER ACTIVITIES] [UDC 2: MEMBER "
    "ACTIVITY 1] [UDC 2: MEMBER ACTIVITY 2] ... [UDC 2: MEMBER ACTIVITY n] [UDC 2: NUMBER OF SUCCESSORS] [UDC 2: "
    "SUCCESSOR 1] [UDC 2: SUCCESSOR 2] ... [UDC 2: SUCCESSOR s]\n"
    "...\n"
    "[UDC u: NUMBER OF STATES] [UDC u: NUMBER OF PREDECESSORS] [UDC u: NUMBER OF MEMBER ACTIVITIES] [UDC u: MEMBER "
    "ACTIVITY 1] [UDC u: MEMBER ACTIVITY 2] ... [UDC u: MEMBER ACTIVITY n] [UDC u: NUMBER OF SUCCESSORS] [UDC u: "
    "SUCCESSOR 1] [UDC u: SUCCESSOR 2] ... [UDC u: SUCCESSOR s]";

class UdcNetworkFile : public ::testing::Test {
 protected:
  void SetUp() override {
    setIdentificationConfig();
    runConfig.PJFileName = "NET";
    projectNumber = 12;
  }
  void TearDown() override {
    releaseUdcNetwork();
    elementaryNetwork = ElementaryNetwork{};
    baseNetwork = BaseNetwork{};
  }
};

TEST_F(UdcNetworkFile, WrittenAtLevelFourInFinalNumbering) {
  e2e::ScratchDirectory dir;
  runConfig.gv_CFG_write = 4;
  installHandNetwork(moduleNetwork(1.0));
  ASSERT_TRUE(identifyUdcs());
  EXPECT_EQ(dir.read("NET12.UDC"), std::string("4\n"
                                               "1 0 1 0 1 1\n"
                                               "2 1 2 1 3 2 3 2\n"
                                               "3 1 2 2 3 1 3\n"
                                               "1 2 1 4 0\n"
                                               "\n") +
                                       kLegend);
}

TEST_F(UdcNetworkFile, MembersOfLaterWordsAreNumberedFromTheirWord) {
  e2e::ScratchDirectory dir;
  runConfig.gv_CFG_write = 5;
  std::vector<HandActivity> acts(20);
  for (int e = 0; e < 19; ++e) acts[static_cast<size_t>(e)].successors = {e + 1};
  installHandNetwork(acts);
  ASSERT_TRUE(identifyUdcs());
  std::string expected = "20\n1 0 1 0 1 1\n";
  for (int e = 1; e < 19; ++e) expected += "1 1 1 " + std::to_string(e) + " 1 " + std::to_string(e + 1) + "\n";
  expected += "1 1 1 19 0\n\n";
  EXPECT_EQ(dir.read("NET12.UDC"), expected + kLegend);
}

TEST_F(UdcNetworkFile, NotWrittenBelowLevelFour) {
  e2e::ScratchDirectory dir;
  runConfig.gv_CFG_write = 3;
  installHandNetwork(moduleNetwork(1.0));
  ASSERT_TRUE(identifyUdcs());
  EXPECT_FALSE(dir.exists("NET12.UDC"));
  EXPECT_EQ(udcNetwork.udcCount, 4);
}

TEST_F(UdcNetworkFile, NotWrittenAfterAFailure) {
  e2e::ScratchDirectory dir;
  runConfig.gv_CFG_write = 4;
  runConfig.gv_CFG_mxn_UDC = 3;
  installHandNetwork(moduleNetwork(1.0));
  e2e::ConsoleCapture console;
  EXPECT_FALSE(identifyUdcs());
  EXPECT_FALSE(dir.exists("NET12.UDC"));
}

}  // namespace

// The elementary network: each kind of elementary activity and link, the field values,
// ancestors and bit sets against an independent closure, modules, bounds, the checks,
// the .EPN file and the release.
#include <algorithm>
#include <climits>
#include <cmath>
#include <random>
#include <set>

#include "duration/elementary_network_file.h"
#include "duration_test_support.h"

namespace {

using durtest::ActivitySpec;
using durtest::DurationTest;
using durtest::kOwnModule;
using durtest::makeMode;

ElementaryNetwork& net = elementaryNetwork;

class ElementaryNetworkTest : public DurationTest {
 protected:
  // Start; an Erlang-2 activity; a two-mode activity (hyper-exponential, exponential); end.
  //   e0 start | e1 e2 phases, e3 chain exit | e4 mode choice, e5 phase entry, e6 e7
  //   phases, e8 chain exit, e9 exponential mode, e10 mode join | e11 end
  void installMixedProject() { durtest::installMixedProject(); }
  // Start, one activity with the given mode, end.
  void installSingle(const ExecutionMode& mode) {
    durtest::installBaseNetwork({{{makeMode(0, 1, 0, 1, 0, {0, 0})}, {1}, kOwnModule},
                                 {{mode}, {2}, kOwnModule},
                                 {{makeMode(0, 1, 0, 1, 0, {0, 0})}, {}, kOwnModule}},
                                {4, 6});
  }
  std::vector<double> useOf(int e) const {
    return std::vector<double>(resourceUseOf(e), resourceUseOf(e) + net.resourceCount);
  }
};

TEST_F(ElementaryNetworkTest, ExponentialModeIsOneEntryAndExit) {
  installSingle(makeMode(5, 1.0, -2, 0.7, 0.3, {1, 2}));
  buildBoth();
  ASSERT_EQ(net.nElementary, 3);
  EXPECT_EQ(net.elemDuration[1], 5.0);
  EXPECT_EQ(net.elemRate[1], 0.2);
  EXPECT_EQ(net.elemCost[1], -2);
  EXPECT_EQ(net.elemPts[1], 0.7);
  EXPECT_EQ(net.elemPms[1], 0.3);
  EXPECT_EQ(net.elemAllowedToIdle[1], 1);
  EXPECT_EQ(useOf(1), (std::vector<double>{1, 2}));
  EXPECT_EQ(net.elemSuccessors[0], (std::vector<int32_t>{1}));
  EXPECT_EQ(net.elemSuccessors[1], (std::vector<int32_t>{2}));
  EXPECT_EQ(net.elemSuccTransitionType[1], 0);
  EXPECT_EQ(net.elemBaseActivity[1], 1);
  EXPECT_EQ(net.elemBaseMode[1], 0);
  EXPECT_EQ(net.resourceCount, 2);
}

TEST_F(ElementaryNetworkTest, HypoExponentialModeIsAChainWithExit) {
  installSingle(makeMode(10, 0.25, -4, 0.6, 0.2, {3, 1}));
  buildBoth();
  ASSERT_EQ(net.nElementary, 2 + 4 + 1);
  for (int e = 1; e <= 4; ++e) {
    SCOPED_TRACE(e);
    EXPECT_DOUBLE_EQ(net.elemRate[e], 0.4);
    EXPECT_DOUBLE_EQ(net.elemDuration[e], 2.5);
    EXPECT_EQ(net.elemSuccessors[e], (std::vector<int32_t>{e + 1}));
    EXPECT_EQ(net.elemSuccessorProb[e], (std::vector<double>{1.0}));
    EXPECT_EQ(net.elemSuccTransitionType[e], -3);
    EXPECT_EQ(net.elemCost[e], e == 1 ? -4 : 0);
    EXPECT_EQ(net.elemAllowedToIdle[e], e == 1 ? 1 : 0);
    EXPECT_EQ(net.elemPts[e], e == 4 ? 0.6 : 1.0);
    EXPECT_EQ(net.elemPms[e], e == 4 ? 0.2 : 0.0);
    EXPECT_EQ(useOf(e), (std::vector<double>{3, 1}));
  }
  const int exit = 5;
  EXPECT_EQ(net.elemDuration[exit], kChainExitCode);
  EXPECT_EQ(net.elemRate[exit], 1.0);
  EXPECT_EQ(net.elemPts[exit], 0.6);
  EXPECT_EQ(net.elemPms[exit], 0.2);
  EXPECT_EQ(net.elemCost[exit], 0);
  EXPECT_EQ(net.elemAllowedToIdle[exit], 0);
  EXPECT_EQ(useOf(exit), (std::vector<double>{0, 0}));
  EXPECT_EQ(net.elemSuccessors[exit], (std::vector<int32_t>{6}));
  EXPECT_EQ(net.elemSuccTransitionType[exit], 0);
  EXPECT_EQ(net.elemBaseMode[exit], 0);
}

TEST_F(ElementaryNetworkTest, SerialExponentialModeHasNoPhaseEntry) {
  runConfig.gv_CFG_hyper = 0.5;
  installSingle(makeMode(1, 2.0, -1, 0.5, 0, {1, 1}));
  buildBoth();
  ASSERT_EQ(net.nElementary, 2 + 2 + 1);
  EXPECT_EQ(net.elemSuccessors[1], (std::vector<int32_t>{2, 3}));
  EXPECT_EQ(net.elemSuccessorProb[1], (std::vector<double>{0.25, 0.75}));
  EXPECT_EQ(net.elemSuccessors[2], (std::vector<int32_t>{3}));
  EXPECT_EQ(net.elemSuccessorProb[2], (std::vector<double>{1.0}));
  EXPECT_EQ(net.elemCost[1], -1);
  EXPECT_EQ(net.elemAllowedToIdle[1], 1);
  // Both phases can end the chain, so the probabilities of success sit at the exit only.
  EXPECT_EQ(net.elemPts[1], 1.0);
  EXPECT_EQ(net.elemPts[2], 1.0);
  EXPECT_EQ(net.elemPts[3], 0.5);
  EXPECT_EQ(net.elemDuration[1], 0.5);
  EXPECT_EQ(net.elemDuration[2], 2.0);
}

TEST_F(ElementaryNetworkTest, MixedProjectFieldsAndLinks) {
  installMixedProject();
  buildBoth();
  ASSERT_EQ(net.nElementary, 12);
  const std::vector<double> durations = {
      0, 1, 1, kChainExitCode, kModeChoiceCode, kPhaseEntryCode, 2, 0.5, kChainExitCode, 4, kModeJoinCode, 0};
  EXPECT_EQ(net.elemDuration, durations);
  EXPECT_EQ(net.elemRate, (std::vector<double>{1, 1, 1, 1, 1, 1, 0.5, 2, 1, 0.25, 1, 1}));
  EXPECT_EQ(net.elemCost, (std::vector<double>{0, -3, 0, 0, 0, 0, 0, 0, 0, -1, 0, 0}));
  EXPECT_EQ(net.elemPts, (std::vector<double>{1, 1, 0.9, 0.9, 1, 1, 1, 1, 1, 0.8, 1, 1}));
  EXPECT_EQ(net.elemPms, (std::vector<double>{0, 0, 0.1, 0.1, 0, 0, 0, 0, 0, 0.2, 0, 0}));
  EXPECT_EQ(net.elemBaseActivity, (std::vector<int32_t>{0, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 3}));
  EXPECT_EQ(net.elemBaseMode, (std::vector<int32_t>{0, 0, 0, 0, -1, 0, 0, 0, 0, 1, -1, 0}));
  EXPECT_EQ(net.elemAllowedToIdle, (std::vector<uint8_t>{1, 1, 0, 0, 1, 1, 0, 0, 0, 1, 0, 1}));
  EXPECT_EQ(net.elemResourceUse, (std::vector<double>{0, 2, 2, 0, 0, 1, 1, 1, 0, 3, 0, 0}));

  const std::vector<std::vector<int32_t>> successors = {{1, 4}, {2}, {3},  {11}, {5, 9}, {6, 7},
                                                        {8},    {8}, {10}, {10}, {11},   {}};
  EXPECT_EQ(net.elemSuccessors, successors);
  EXPECT_EQ(net.elemSuccTransitionType, (std::vector<int32_t>{0, -3, -3, 0, -1, -3, -3, -3, -2, -2, 0, 0}));
  EXPECT_EQ(net.elemSuccessorProb[4], (std::vector<double>{1.0, 1.0}));
  EXPECT_DOUBLE_EQ(net.elemSuccessorProb[5][0], 1.0 / 3.0);
  EXPECT_DOUBLE_EQ(net.elemSuccessorProb[5][1], 2.0 / 3.0);
  EXPECT_EQ(net.elemSuccessorProb[6], (std::vector<double>{1.0}));
  EXPECT_EQ(net.elemSuccessorProb[7], (std::vector<double>{1.0}));
  // Predecessor exits link into an entry in predecessor-list order.
  EXPECT_EQ(net.elemPredecessors[11], (std::vector<int32_t>{3, 10}));
  EXPECT_EQ(net.elemPredecessors[8], (std::vector<int32_t>{6, 7}));
  EXPECT_EQ(net.elemPredecessors[10], (std::vector<int32_t>{8, 9}));
}

TEST_F(ElementaryNetworkTest, ModeChoiceLinksToPhaseEntryOrFirstPhase) {
  // Two modes, the first Erlang-2 without a phase entry: the choice links straight to its phase 0.
  durtest::installBaseNetwork({{{makeMode(0)}, {1}, kOwnModule},
                               {{makeMode(2, 0.5, -5), makeMode(3, 3.0, -6)}, {2}, kOwnModule},
                               {{makeMode(0)}, {}, kOwnModule}});
  buildBoth();
  ASSERT_EQ(net.nElementary, 1 + (1 + 2 + 1 + 1 + 2 + 1 + 1) + 1);
  EXPECT_EQ(net.elemSuccessors[1], (std::vector<int32_t>{2, 5}));
  EXPECT_EQ(net.elemCost[2], -5);
  EXPECT_EQ(net.elemCost[5], -6);
  EXPECT_EQ(net.elemDuration[5], kPhaseEntryCode);
  EXPECT_EQ(net.elemSuccessors[4], (std::vector<int32_t>{9}));
  EXPECT_EQ(net.elemSuccessors[8], (std::vector<int32_t>{9}));
  EXPECT_EQ(net.elemSuccTransitionType[4], -2);
  EXPECT_EQ(net.elemSuccTransitionType[8], -2);
  EXPECT_EQ(net.elemSuccTransitionType[9], 0);
}

TEST_F(ElementaryNetworkTest, ZeroDurationsArePhasesOfRateOneOutsideTheBounds) {
  installSingle(makeMode(0, 0.25, -2));
  buildBoth();
  ASSERT_EQ(net.nElementary, 3);
  for (int e = 0; e < 3; ++e) {
    EXPECT_EQ(net.elemDuration[e], 0.0);
    EXPECT_EQ(net.elemRate[e], 1.0);
  }
  EXPECT_EQ(net.makespanUpperBound, 0.0f);
  EXPECT_EQ(net.npvLowerBound, -3.0f);
}

TEST_F(ElementaryNetworkTest, BoundsOfTheMixedProject) {
  installMixedProject();
  buildBoth();
  // Costs -3 and -1; durations 1, 1, 2, 0.5 and 4.
  EXPECT_EQ(net.npvLowerBound, -6.0f);
  EXPECT_EQ(net.makespanUpperBound, 13.5f);
}

// 2^24 + 1 is not a float: the plain single-precision sums would fall inside the double sums.
TEST_F(ElementaryNetworkTest, BoundsStayBoundsBeyondFloatPrecision) {
  const double big = 16777216.0;
  std::vector<ActivitySpec> plans = {{{makeMode(0)}, {1}, kOwnModule}};
  for (int i = 0; i < 6; ++i) {
    const int a = static_cast<int>(plans.size());
    plans.push_back({{makeMode(i == 0 ? big : 1.0, 1.0, i == 0 ? -big : -0.5)}, {a + 1}, kOwnModule});
  }
  plans.push_back({{makeMode(0)}, {}, kOwnModule});
  durtest::installBaseNetwork(plans);
  buildBoth();
  double npvSum = 0, makespanSum = 0;
  for (int e = 0; e < net.nElementary; ++e) {
    if (net.elemCost[e] < 0) npvSum += net.elemCost[e] - 1;
    if (net.elemDuration[e] > 0) makespanSum += net.elemDuration[e] + 1;
  }
  EXPECT_LE(static_cast<double>(net.npvLowerBound), npvSum);
  EXPECT_GE(static_cast<double>(net.makespanUpperBound), makespanSum);
  // Within a few float steps of the exact sums: stepped outward, not thrown far off.
  EXPECT_GE(static_cast<double>(net.npvLowerBound), npvSum - 16.0);
  EXPECT_LE(static_cast<double>(net.makespanUpperBound), makespanSum + 16.0);
}

TEST_F(ElementaryNetworkTest, ModulesRenumberedDenselyByRank) {
  auto moduleIdsFor = [&](std::vector<int32_t> ids) {
    std::vector<ActivitySpec> plans;
    for (size_t a = 0; a < ids.size(); ++a) {
      std::vector<int32_t> next;
      if (a + 1 < ids.size()) next.push_back(static_cast<int32_t>(a + 1));
      plans.push_back({{makeMode(a == 0 || a + 1 == ids.size() ? 0 : 1)}, next, ids[a]});
    }
    durtest::installBaseNetwork(plans);
    buildBoth();
    return net.elemModule;
  };
  EXPECT_EQ(moduleIdsFor({3, 7, 7, 3}), (std::vector<int32_t>{0, 1, 1, 0}));
  EXPECT_EQ(net.nModules, 2);
  EXPECT_EQ(moduleIdsFor({0, 1, 2, 3}), (std::vector<int32_t>{0, 1, 2, 3}));
  EXPECT_EQ(net.nModules, 4);
  EXPECT_EQ(moduleIdsFor({INT_MAX, -5, 2, -5, INT_MIN}), (std::vector<int32_t>{3, 1, 2, 1, 0}));
  EXPECT_EQ(net.nModules, 4);
  EXPECT_EQ(net.moduleFollowers.size(), 4u);
}

TEST_F(ElementaryNetworkTest, ModuleSetsOfTheMixedProject) {
  installMixedProject();
  buildBoth();
  ASSERT_EQ(net.nModules, 3);  // ids 0, 1, 3
  EXPECT_EQ(net.elemModule, (std::vector<int32_t>{0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2}));
  EXPECT_EQ(net.moduleFollowers[0], (std::vector<int32_t>{1, 4}));
  EXPECT_EQ(net.moduleFollowers[1], (std::vector<int32_t>{11}));
  EXPECT_TRUE(net.moduleFollowers[2].empty());
  ASSERT_EQ(net.nBitWords, 1);
  EXPECT_EQ(moduleMemberBitsOf(0)[0], 0x001);
  EXPECT_EQ(moduleMemberBitsOf(1)[0], 0x7ff);
  EXPECT_EQ(moduleMemberBitsOf(2)[0], 0xfff);
}

// A random project with every kind of mode, checked against a closure computed here.
TEST_F(ElementaryNetworkTest, AncestorsAndBitSetsMatchTheClosure) {
  std::mt19937 random(4242);
  const int count = 40;
  std::vector<ActivitySpec> plans(count);
  const std::vector<double> scvChoices = {0.25, 0.4, 1.0 / 3.0, 1.0, 2.0, 0.7};
  for (int a = 0; a < count; ++a) {
    const bool dummy = a == 0 || a == count - 1;
    const int modes = dummy ? 1 : 1 + static_cast<int>(random() % 3);
    for (int m = 0; m < modes; ++m)
      plans[a].modes.push_back(
          makeMode(dummy ? 0 : static_cast<double>(random() % 9), scvChoices[random() % scvChoices.size()]));
    if (a + 1 < count) {
      std::set<int32_t> next = {static_cast<int32_t>(a + 1 + random() % std::min(5, count - 1 - a))};
      if (a > 0 && random() % 2) next.insert(static_cast<int32_t>(a + 1 + random() % (count - 1 - a)));
      plans[a].successors.assign(next.begin(), next.end());
    }
    plans[a].parentModule = static_cast<int32_t>(random() % 7) * 100;
  }
  durtest::installBaseNetwork(plans);
  buildBoth();
  const int n = net.nElementary;
  ASSERT_GT(n, 100);
  ASSERT_EQ(net.nBitWords, (n + 63) / 64);

  std::vector<std::set<int>> closure(n);
  for (int e = 0; e < n; ++e) {
    for (size_t i = 1; i < net.elemSuccessors[e].size(); ++i)
      EXPECT_LT(net.elemSuccessors[e][i - 1], net.elemSuccessors[e][i]);
    for (int p : net.elemPredecessors[e]) {
      ASSERT_LT(p, e);
      closure[e].insert(p);
      closure[e].insert(closure[p].begin(), closure[p].end());
    }
    double probability = 0;
    for (double share : net.elemSuccessorProb[e]) probability += share;
    if (!net.elemSuccessors[e].empty() && net.elemSuccTransitionType[e] == -3) {
      EXPECT_NEAR(probability, 1.0, 1e-12);
    }
  }
  for (int e = 0; e < n; ++e) {
    SCOPED_TRACE(e);
    EXPECT_EQ(ancestorCountOf(e), static_cast<int32_t>(closure[e].size()));
    EXPECT_EQ(net.elemWordIndex[e], e / 64);
    EXPECT_EQ(net.elemBitMask[e], uint64_t{1} << (e % 64));
    for (int f = 0; f < n; ++f) EXPECT_EQ(hasBit(ancestorBitsOf(e), f), closure[e].count(f) == 1);
  }
  EXPECT_EQ(net.nModules, static_cast<int>(std::set<int32_t>(net.elemModule.begin(), net.elemModule.end()).size()));
}

TEST_F(ElementaryNetworkTest, BackwardPhaseTransitionStopsTheRun) {
  installMixedProject();
  buildMarkovNetwork();
  PhaseTypeModel& model = markovNetwork.models[2][0];
  model.generator[1][0] = 0.5;
  const std::string printed = durtest::fatalOutputOf([] { buildElementaryNetwork(); });
  EXPECT_EQ(printed, durtest::fatalText("Transition is made from phase 1 towards phase 0 in Markov chain that models "
                                        "the duration of activity 2 (execution mode 0). Transitions to earlier phases "
                                        "are not allowed in acyclic project networks."));
}

TEST_F(ElementaryNetworkTest, PredecessorWithHigherIndexStopsTheRun) {
  durtest::installBaseNetwork({{{makeMode(0)}, {2}, kOwnModule},
                               {{makeMode(1)}, {3}, kOwnModule},
                               {{makeMode(1)}, {1}, kOwnModule},
                               {{makeMode(0)}, {}, kOwnModule}});
  buildMarkovNetwork();
  const std::string printed = durtest::fatalOutputOf([] { buildElementaryNetwork(); });
  EXPECT_EQ(printed, durtest::fatalText("Activity 2 precedes activity 1 but does not have a lower index. The "
                                        "activities must be numbered so that every predecessor has a lower index "
                                        "than its successors."));
}

TEST_F(ElementaryNetworkTest, ReleaseEmptiesTheNetworkAndTheAvailabilities) {
  installMixedProject();
  buildBoth();
  releaseElementaryNetwork();
  EXPECT_EQ(net.nElementary, 0);
  EXPECT_TRUE(net.elemSuccessors.empty());
  EXPECT_TRUE(net.elemAncestorBits.empty());
  EXPECT_TRUE(net.moduleMemberBits.empty());
  EXPECT_TRUE(baseNetwork.resourceAvailability.empty());
  EXPECT_EQ(baseNetwork.resourceCount, 0);
}

TEST_F(ElementaryNetworkTest, RebuildStartsFromAnEmptyRecord) {
  installMixedProject();
  buildBoth();
  installSingle(makeMode(5));
  buildBoth();
  EXPECT_EQ(net.nElementary, 3);
  EXPECT_EQ(net.elemSuccessors.size(), 3u);
  EXPECT_EQ(ancestorCountOf(2), 2);
  EXPECT_TRUE(hasBit(ancestorBitsOf(2), 0) && hasBit(ancestorBitsOf(2), 1));
}

TEST_F(ElementaryNetworkTest, FileOnlyFromWriteLevelOne) {
  installMixedProject();
  runConfig.gv_CFG_write = 0;
  buildBoth();
  EXPECT_FALSE(std::filesystem::exists(outputPath(".EPN")));
  runConfig.gv_CFG_write = 1;
  buildBoth();
  EXPECT_TRUE(std::filesystem::exists(outputPath(".EPN")));
  EXPECT_FALSE(std::filesystem::exists(outputPath(".MPN")));
}

TEST_F(ElementaryNetworkTest, FileTextByteForByte) {
  installMixedProject();
  runConfig.gv_CFG_write = 1;
  buildBoth();
  const std::string data =
      "12\n0.01\n1\n5 \n"
      "0 1 0 1 0 0 0 2 1 1 4 1 0 1 0\n"
      "1 1 -3 1 0 1 2 1 2 1 1 1 -3\n"
      "1 1 0 0.9 0.1 1 2 1 3 1 1 0 -3\n"
      "-4 1 0 0.9 0.1 1 0 1 11 1 1 0 0\n"
      "-1 1 0 1 0 2 0 2 5 1 9 1 1 1 -1\n"
      "-3 1 0 1 0 2 1 2 6 0.333333 7 0.666667 1 1 -3\n"
      "2 0.5 0 1 0 2 1 1 8 1 1 0 -3\n"
      "0.5 2 0 1 0 2 1 1 8 1 1 0 -3\n"
      "-4 1 0 1 0 2 0 1 10 1 1 0 -2\n"
      "4 0.25 -1 0.8 0.2 2 3 1 10 1 1 1 -2\n"
      "-2 1 0 1 0 2 0 1 11 1 1 0 0\n"
      "0 1 0 1 0 3 0 0 2 1 0\n";
  const std::string bars(52, '|');
  auto activity = [](const std::string& a) {
    const std::string t = "[ACT " + a + ": ";
    return t + "DURATION] " + t + "EXPONENTIAL RATE] " + t + "COST] " + t + "PROBABILITY OF TECHNICAL SUCCESS] " + t +
           "PROBABILITY OF MODULE SUCCESS] " + t + "ACTIVITY RESOURCE ID] " + t + "USE OF RESOURCE 1] " + t +
           "USE OF RESOURCE 2] ... " + t + "USE OF RESOURCE r] " + t + "NUMBER OF SUCCESSORS] " + t + "SUCCESSOR 1] " +
           t + "SUCCESSOR 1 PROBABILITY] " + t + "SUCCESSOR 2] " + t + "SUCCESSOR 2 PROBABILITY] ... " + t +
           "SUCCESSOR s] " + t + "SUCCESSOR s PROBABILITY] " + t + "PARENT MODULE] " + t + "ALLOWED TO IDLE] " + t +
           "SUCCESSOR TRANSITION TYPE]";
  };
  const std::string legend = "\n" + bars + "\n|||FILE STRUCTURE (COMPRESSED ELEMENTARY NETWORK)|||\n" + bars +
                             "\n\n[NUMBER OF ACTIVITIES (INCLUDING DUMMY-ACTIVITIES)]\n"
                             "[DISCOUNT RATE (CONTINUOUS-TIME DISCOUNTING)]\n[NUMBER OF RENEWABLE RESOURCES]\n"
                             "[AVAILABILITY RESOURCE 1] [AVAILABILITY RESOURCE 2] ... [AVAILABILITY RESOURCE r]\n" +
                             activity("1") + "\n" + activity("2") + "\n...\n" + activity("n");
  EXPECT_EQ(durtest::readFile(outputPath(".EPN")), data + legend);
}

TEST_F(ElementaryNetworkTest, FileWithoutResources) {
  durtest::installBaseNetwork(
      {{{makeMode(0)}, {1}, kOwnModule}, {{makeMode(2)}, {2}, 5}, {{makeMode(0)}, {}, kOwnModule}}, {}, 0.02);
  runConfig.gv_CFG_write = 4;
  buildBoth();
  const std::string text = durtest::readFile(outputPath(".EPN"));
  EXPECT_EQ(text.substr(0, text.find("\n\n|") + 1),
            "3\n0.02\n0\n0 1 0 1 0 0 1 1 1 0 1 0\n2 0.5 0 1 0 1 1 2 1 2 1 0\n0 1 0 1 0 2 0 1 1 0\n");
}

}  // namespace

// UDC identification on hand-built elementary networks: the UDCs found, their links, state
// counts and final numbering, the failures with their messages, and the progress trace.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"
#include "base/fatal.h"
#include "udc/udc_network.h"
#include "udc_test_network.h"

namespace {

using Lists = std::vector<std::vector<uint32_t>>;

struct UdcExpectation {
  std::vector<std::vector<int>> members;
  std::vector<uint32_t> states;
  Lists successors;
  Lists predecessors;
};

void expectNetwork(const UdcExpectation& want) {
  const UdcNetwork& net = udcNetwork;
  ASSERT_EQ(net.udcCount, static_cast<int32_t>(want.members.size()));
  for (int u = 0; u < net.udcCount; ++u) {
    SCOPED_TRACE("UDC " + std::to_string(u));
    EXPECT_EQ(membersOfUdc(u), want.members[static_cast<size_t>(u)]);
    EXPECT_EQ(udcStateCount(u), want.states[static_cast<size_t>(u)]);
    EXPECT_EQ(successorNumbersOf(u), want.successors[static_cast<size_t>(u)]);
    EXPECT_EQ(predecessorNumbersOf(u), want.predecessors[static_cast<size_t>(u)]);
  }
}

class UdcIdentification : public ::testing::Test {
 protected:
  void SetUp() override { setIdentificationConfig(); }
  void TearDown() override {
    releaseUdcNetwork();
    elementaryNetwork = ElementaryNetwork{};
    baseNetwork = BaseNetwork{};
  }
};

TEST_F(UdcIdentification, ChainGivesOneUdcPerActivity) {
  installHandNetwork(chainNetwork());
  e2e::ConsoleCapture console;
  ASSERT_TRUE(identifyUdcs());
  EXPECT_EQ(console.text(), "");
  expectNetwork({{{0}, {1}, {2}}, {1, 1, 1}, {{1}, {2}, {}}, {{}, {0}, {1}}});
  EXPECT_EQ(udcNetwork.udcMaxStates, 1u);
  EXPECT_EQ(udcNetwork.udcTotalStates, 3u);
  EXPECT_EQ(udcNetwork.udcPeakStates, 2u);
  EXPECT_EQ(udcNetwork.udcMaxMembers, 1);
}

TEST_F(UdcIdentification, BranchesLinkToNewAndToExistingUdcs) {
  installHandNetwork(twoBranchNetwork());
  ASSERT_TRUE(identifyUdcs());
  // {A,B} reaches {A,B2} and {A2,B}; both lead to {A2,B2}, which the second one finds
  // already created. Repeated targets within one UDC are listed once.
  expectNetwork({{{0}, {1, 2}, {1, 4}, {2, 3}, {3, 4}, {5}},
                 {1, 1, 2, 2, 3, 1},
                 {{1}, {2, 3}, {4}, {4}, {5}, {}},
                 {{}, {0}, {1}, {1}, {2, 3}, {4}}});
  EXPECT_EQ(udcNetwork.udcMaxStates, 3u);
  EXPECT_EQ(udcNetwork.udcTotalStates, 10u);
  EXPECT_EQ(udcNetwork.udcPeakStates, 7u);
  EXPECT_EQ(udcNetwork.udcMaxMembers, 2);
}

TEST_F(UdcIdentification, ModeChoiceAndModeJoin) {
  // start -> choice dummy -> mode entries X, Y (type -2) -> join dummy -> end.
  std::vector<HandActivity> acts(6);
  acts[0].successors = {1};
  acts[1] = {.successors = {2, 3}, .type = -1, .mayIdle = true, .duration = kModeChoiceCode};
  acts[2] = {.successors = {4}, .type = -2, .mayIdle = true, .duration = 2.0};
  acts[3] = {.successors = {4}, .type = -2, .mayIdle = true, .duration = 3.0};
  acts[4] = {.successors = {5}, .duration = kModeJoinCode};
  installHandNetwork(acts);
  ASSERT_TRUE(identifyUdcs());
  // The choice dummy is instantaneous: its completion alone is followed, once per mode.
  expectNetwork({{{0}, {1}, {2}, {3}, {4}, {5}},
                 {1, 2, 2, 2, 1, 1},
                 {{1}, {2, 3}, {4}, {4}, {5}, {}},
                 {{}, {0}, {1}, {1}, {2, 3}, {4}}});
  EXPECT_EQ(udcNetwork.udcPeakStates, 6u);
}

TEST_F(UdcIdentification, InstantaneousMemberAloneCompletes) {
  // start -> dummy D -> P -> end and start -> B -> Q -> end (0 start, 1 D, 2 B, 3 P, 4 Q,
  // 5 end). In {D,B} only the dummy completes, so {D,Q} is never reached.
  std::vector<HandActivity> acts(6);
  acts[0].successors = {1, 2};
  acts[1] = {.successors = {3}, .type = -3, .duration = kPhaseEntryCode};
  acts[2].successors = {4};
  acts[3].successors = {5};
  acts[4].successors = {5};
  installHandNetwork(acts);
  ASSERT_TRUE(identifyUdcs());
  expectNetwork(
      {{{0}, {1, 2}, {2, 3}, {3, 4}, {5}}, {1, 1, 2, 3, 1}, {{1}, {2}, {3}, {4}, {}}, {{}, {0}, {1}, {2}, {3}}});
}

const UdcExpectation kPlainAndModuleExpectation = {
    {{0}, {1, 3}, {2, 3}, {4}}, {1, 2, 3, 1}, {{1}, {2, 3}, {3}, {}}, {{}, {0}, {1}, {1, 2}}};

TEST_F(UdcIdentification, ModuleSuccessJumpsPastTheRestOfTheModule) {
  installHandNetwork(moduleNetwork(0.0));
  ASSERT_TRUE(identifyUdcs());
  expectNetwork({{{0}, {1, 3}, {2, 3}, {4}}, {1, 2, 3, 1}, {{1}, {2}, {3}, {}}, {{}, {0}, {1}, {2}}});
  releaseUdcNetwork();

  // With C finished, A's module success makes the end eligible at once.
  installHandNetwork(moduleNetwork(0.5));
  ASSERT_TRUE(identifyUdcs());
  expectNetwork(kPlainAndModuleExpectation);
}

const UdcExpectation kModuleOnlyExpectation = {
    {{0}, {1, 3}, {2, 3}, {4}}, {1, 2, 3, 1}, {{1}, {3, 2}, {3}, {}}, {{}, {0}, {1}, {1, 2}}};

TEST_F(UdcIdentification, FinalNumberingSortsByAncestorCountStably) {
  // A's completion is a module transition only: {end} is created before {A2,C} but has
  // more ancestors, so the final numbering swaps them; the link order of {A,C} is kept.
  installHandNetwork(moduleNetwork(1.0));
  ASSERT_TRUE(identifyUdcs());
  expectNetwork(kModuleOnlyExpectation);
  EXPECT_EQ(udcNetwork.udcTotalStates, 7u);
  EXPECT_EQ(udcNetwork.udcPeakStates, 6u);
}

TEST_F(UdcIdentification, EveryRankVariantNumbersAlike) {
  for (int ranks : {1, 2, 3, 0}) {
    SCOPED_TRACE("ranks " + std::to_string(ranks));
    runConfig.gv_CFG_mxn_ranks = ranks;
    installHandNetwork(moduleNetwork(1.0));
    ASSERT_TRUE(identifyUdcs());
    expectNetwork(kModuleOnlyExpectation);
    releaseUdcNetwork();
  }
}

TEST_F(UdcIdentification, TechnicalRiskKeepsThePlainCompletionWhileTheModuleIsOpen) {
  // pms 1 alone allows only the module transition; with pts below 1 and the module not
  // done the plain completion comes first again, so nothing is renumbered.
  std::vector<HandActivity> acts = moduleNetwork(1.0);
  acts[1].pts = 0.5;
  installHandNetwork(acts);
  ASSERT_TRUE(identifyUdcs());
  expectNetwork(kPlainAndModuleExpectation);
}

TEST_F(UdcIdentification, MemberLimitFailsWithItsMessage) {
  runConfig.gv_bits = 1;
  installHandNetwork(twoBranchNetwork());
  e2e::ConsoleCapture console;
  EXPECT_FALSE(identifyUdcs());
  // The limit shown is the one in force.
  EXPECT_EQ(console.text(),
            "\nNumber of UDC members (2) exceeds maximum number of UDC members(1). Please increase gv_bits "
            "parameter.\n");
  EXPECT_EQ(udcNetwork.udcCount, 2);
  EXPECT_EQ(udcNetwork.udcMaxMembers, 2);
  EXPECT_TRUE(udcNetwork.memberRecords.empty());
  EXPECT_TRUE(udcNetwork.linkRecords.empty());
}

TEST_F(UdcIdentification, MemberLimitAcceptsExactlyGvBits) {
  runConfig.gv_bits = 2;
  installHandNetwork(twoBranchNetwork());
  EXPECT_TRUE(identifyUdcs());
}

std::vector<HandActivity> fanNetwork(int branches) {
  // start -> branches parallel activities -> end, each chosen by probability (always active).
  std::vector<HandActivity> acts(static_cast<size_t>(branches + 2));
  for (int b = 1; b <= branches; ++b) {
    acts[0].successors.push_back(b);
    acts[static_cast<size_t>(b)] = {.successors = {branches + 1}, .type = -3};
  }
  return acts;
}

TEST_F(UdcIdentification, MemberLimitNeverExceedsTheEncodableForty) {
  runConfig.gv_bits = 64;
  installHandNetwork(fanNetwork(40));
  ASSERT_TRUE(identifyUdcs());
  EXPECT_EQ(udcNetwork.udcCount, 3);
  EXPECT_EQ(udcNetwork.udcMaxMembers, 40);
  releaseUdcNetwork();

  installHandNetwork(fanNetwork(41));
  e2e::ConsoleCapture console;
  EXPECT_FALSE(identifyUdcs());
  EXPECT_EQ(console.text(),
            "\nNumber of UDC members (41) exceeds maximum number of UDC members(40). A state key holds at most 40 "
            "members.\n");
  EXPECT_EQ(udcNetwork.udcMaxMembers, 41);
}

TEST_F(UdcIdentification, UdcLimitFailsRightAfterTheCreationThatReachesIt) {
  runConfig.gv_CFG_mxn_UDC = 2;
  installHandNetwork(chainNetwork());
  {
    e2e::ConsoleCapture console;
    EXPECT_FALSE(identifyUdcs());
    EXPECT_EQ(console.text(),
              "\nNumber of UDCs (2) exceeds maximum number of UDCs (2). Please increase gv_CFG_mxn_UDC "
              "parameter.\n");
    EXPECT_EQ(udcNetwork.udcCount, 2);
    EXPECT_TRUE(udcNetwork.memberRecords.empty());
  }
  runConfig.gv_CFG_mxn_UDC = 3;
  {
    e2e::ConsoleCapture console;
    EXPECT_FALSE(identifyUdcs());
    EXPECT_EQ(udcNetwork.udcCount, 3);
  }
  runConfig.gv_CFG_mxn_UDC = 4;
  EXPECT_TRUE(identifyUdcs());
  EXPECT_EQ(udcNetwork.udcCount, 3);
}

TEST_F(UdcIdentification, UdcLimitHoldsForEveryValue) {
  installHandNetwork(chainNetwork());
  for (int limit : {1, 0, -5}) {
    runConfig.gv_CFG_mxn_UDC = limit;
    e2e::ConsoleCapture console;
    EXPECT_FALSE(identifyUdcs());
    EXPECT_EQ(udcNetwork.udcCount, 1);
    EXPECT_EQ(console.text(), "\nNumber of UDCs (1) exceeds maximum number of UDCs (" + std::to_string(limit) +
                                  "). Please increase gv_CFG_mxn_UDC parameter.\n");
  }
}

const char* const kResourceMessage =
    "\nUDC-identifiaction phase has failed. Insufficient resources to start all member activities of the current "
    "UDC.\n";

TEST_F(UdcIdentification, MembersThatMustRunTogetherWithoutResourcesFail) {
  std::vector<HandActivity> acts = twoBranchNetwork();
  acts[1].use = {6};
  acts[2].use = {6};
  installHandNetwork(acts, {10});
  e2e::ConsoleCapture console;
  EXPECT_FALSE(identifyUdcs());
  EXPECT_EQ(console.text(), kResourceMessage);
  EXPECT_EQ(udcNetwork.udcCount, 2);
  EXPECT_TRUE(udcNetwork.memberRecords.empty());
}

TEST_F(UdcIdentification, StateVisitedBeforeTheFailingCheckCountsItsTargets) {
  // start -> A, B -> end: the first state of {A,B} (B finished) fits and reaches {end}
  // before the state with both active fails the check.
  std::vector<HandActivity> acts(4);
  acts[0].successors = {1, 2};
  acts[1] = {.successors = {3}, .use = {6}};
  acts[2] = {.successors = {3}, .use = {6}};
  installHandNetwork(acts, {10});
  e2e::ConsoleCapture console;
  EXPECT_FALSE(identifyUdcs());
  EXPECT_EQ(console.text(), kResourceMessage);
  EXPECT_EQ(udcNetwork.udcCount, 3);
}

TEST_F(UdcIdentification, ActivityNeedingMoreThanAvailableFails) {
  std::vector<HandActivity> acts = twoBranchNetwork();
  acts[3].use = {0, 11};
  acts[3].baseActivity = 7;
  acts[3].baseMode = 2;
  installHandNetwork(acts, {20, 10});
  e2e::ConsoleCapture console;
  EXPECT_FALSE(identifyUdcs());
  EXPECT_EQ(console.text(),
            "\nUDC identification has failed. Activity 7 (execution mode 2) needs 11 units of resource 1, but "
            "only 10 are available: it can never start.\n");
  EXPECT_EQ(udcNetwork.udcCount, 0);

  // Using exactly what is available fits.
  acts[3].use = {20, 10};
  installHandNetwork(acts, {20, 10});
  EXPECT_TRUE(identifyUdcs());
  EXPECT_EQ(udcNetwork.udcCount, 6);
}

TEST_F(UdcIdentification, ProgressTraceAtNegativeWriteLevel) {
  runConfig.gv_CFG_write = -1;
  installHandNetwork(chainNetwork());
  e2e::ConsoleCapture console;
  ASSERT_TRUE(identifyUdcs());
  EXPECT_EQ(console.text(), "-2-3-3");
}

TEST_F(UdcIdentification, BackwardLinkIsAnInternalError) {
  // A link from the end back to A, which no network built from a project has: {A} is
  // reached again from the cutset that A leads to.
  installHandNetwork(chainNetwork());
  elementaryNetwork.elemSuccessors[2].push_back(1);
  e2e::ConsoleCapture console("0\n");
  EXPECT_THROW(identifyUdcs(), FatalStop);
  EXPECT_NE(console.text().find("Internal error in UDC identification: UDC 2 links to UDC 1"), std::string::npos);
  EXPECT_EQ(udcNetwork.udcCount, 0);
  EXPECT_TRUE(udcNetwork.memberRecords.empty());
}

TEST_F(UdcIdentification, ModuleSuccessWithAFollowerUnderWayStaysInTheCutset) {
  // Module 0 holds the start and A; B follows the start, so when A succeeds for its module
  // while B runs, nothing new becomes eligible: A finishes in place and waits for B.
  std::vector<HandActivity> acts(4);
  acts[0] = {.successors = {1, 2}, .module = 0};
  acts[1] = {.successors = {3}, .module = 0, .pms = 1.0, .baseActivity = 1, .baseMode = 0};
  acts[2] = {.successors = {3}, .module = 1};
  acts[3] = {.module = 2};
  installHandNetwork(acts);
  e2e::ConsoleCapture console;
  ASSERT_TRUE(identifyUdcs());
  EXPECT_EQ(console.text(), "");
  expectNetwork({{{0}, {1, 2}, {3}}, {1, 3, 1}, {{1}, {2}, {}}, {{}, {0}, {1}}});
}

TEST_F(UdcIdentification, EachCallStartsFromEmptyRecords) {
  installHandNetwork(twoBranchNetwork());
  ASSERT_TRUE(identifyUdcs());
  installHandNetwork(chainNetwork());
  ASSERT_TRUE(identifyUdcs());
  expectNetwork({{{0}, {1}, {2}}, {1, 1, 1}, {{1}, {2}, {}}, {{}, {0}, {1}}});
  EXPECT_EQ(udcNetwork.udcMaxMembers, 1);
  releaseUdcNetwork();
  EXPECT_EQ(udcNetwork.udcCount, 0);
  EXPECT_TRUE(udcNetwork.memberRecords.empty());
  EXPECT_EQ(udcNetwork.udcTotalStates, 0u);
}

}  // namespace

// Network metrics on networks filled by hand: a chain, a fully parallel network, one small
// network worked out by hand, the guarded divisions and the METRICS.CSV row.
#include <gtest/gtest.h>

#include <sstream>

#include "e2e/e2e_support.h"
#include "metrics/metrics_test_support.h"
#include "metrics/network_metrics.h"
#include "base/fatal.h"

namespace {

using mtest::ActivitySpec;
using mtest::ModeSpec;

void buildMetricsOf(const std::vector<ActivitySpec>& plans, double rate, bool withUdcs = false) {
  mtest::installBase(plans, rate);
  mtest::installMirrorElementary();
  buildNetworkMetrics(withUdcs);
}

// 0 -> 1 -> 2 -> 3 -> 4
std::vector<ActivitySpec> chainNetwork() {
  return {mtest::dummy({1}),
          {{ModeSpec{2, 0.5, -10, 0.9}}, {2}},
          {{ModeSpec{4, 2.0, -20, 0.8}}, {3}},
          {{ModeSpec{1, 1.0, -5, 0.5}}, {4}},
          mtest::dummy({}, 100)};
}

// 0 -> {1, 2, 3} -> 4
std::vector<ActivitySpec> parallelNetwork() {
  return {mtest::dummy({1, 2, 3}),
          {{ModeSpec{2, 0.5, -10, 0.9}}, {4}},
          {{ModeSpec{4, 2.0, -20, 0.8}}, {4}},
          {{ModeSpec{1, 1.0, -5, 0.5}}, {4}},
          mtest::dummy({}, 100)};
}

// 0 -> {1, 2}; 1 -> 3; {2, 3} -> 4
std::vector<ActivitySpec> handNetwork() {
  return {mtest::dummy({1, 2}),
          {{ModeSpec{2, 0.5, -10, 0.9}}, {3}},
          {{ModeSpec{4, 2.0, -20, 0.8}}, {4}},
          {{ModeSpec{1, 1.0, -5, 0.5}}, {4}},
          mtest::dummy({}, 100)};
}

TEST(NetworkMetrics, ChainIsFullyOrderedAndSerial) {
  buildMetricsOf(chainNetwork(), 0.1);
  const NetworkMetrics& m = networkMetrics;
  EXPECT_DOUBLE_EQ(m.orderStrength, 1.0);
  EXPECT_DOUBLE_EQ(m.orderStrengthWithDummies, 1.0);
  EXPECT_DOUBLE_EQ(m.sv1, 0.5 + 2.0 + 1.0);
  EXPECT_DOUBLE_EQ(m.sv2, 0.0);
  EXPECT_DOUBLE_EQ(m.sv, 3.5);
  // One eligible activity at every step: min and max sequences agree.
  EXPECT_DOUBLE_EQ(m.ptsScore, 0.5);
  EXPECT_DOUBLE_EQ(m.costScore, 0.5);
  EXPECT_DOUBLE_EQ(m.scvScore, 0.5);
  EXPECT_DOUBLE_EQ(m.nrpaScore, 0.5);
  // Every activity of a chain has exactly one rank.
  EXPECT_EQ(m.activitySpread.total, 5);
  EXPECT_DOUBLE_EQ(m.activitySpread.average, 2.0);
  EXPECT_DOUBLE_EQ(m.activitySpread.variance, 2.0);
}

TEST(NetworkMetrics, ParallelNetworkHasNoOrderAndNoSerialPart) {
  buildMetricsOf(parallelNetwork(), 0.1);
  const NetworkMetrics& m = networkMetrics;
  EXPECT_DOUBLE_EQ(m.orderStrength, 0.0);
  EXPECT_DOUBLE_EQ(m.sv1, 0.0);
  // Of the 10 pairs only the 3 real pairs are unordered.
  EXPECT_DOUBLE_EQ(m.orderStrengthWithDummies, 0.7);
  EXPECT_DOUBLE_EQ(m.dstartNrpa, 3 * (3.0 * 1 / 5) / 5);
}

TEST(NetworkMetrics, SmallNetworkMatchesHandComputation) {
  mtest::installBase(handNetwork(), 0.1);
  mtest::installMirrorElementary();
  mtest::installUdcs({{0}, {1, 2}, {2, 3}, {4}});
  buildNetworkMetrics(true);
  const NetworkMetrics& m = networkMetrics;
  EXPECT_EQ(m.activityCount, 5);
  EXPECT_NEAR(m.ptsScore, 0.7, 1e-12);
  EXPECT_NEAR(m.costScore, 0.58, 1e-12);
  EXPECT_NEAR(m.scvScore, 0.62, 1e-12);
  // The NRPA gaps are +1 and -1: they cancel, so the weights fall back to 1/n.
  EXPECT_NEAR(m.nrpaScore, 0.5, 1e-12);

  EXPECT_EQ(m.activitySpread.total, 9);
  EXPECT_NEAR(m.activitySpread.average, 2.0, 1e-12);
  EXPECT_NEAR(m.activitySpread.variance, 12.0 / 9, 1e-12);
  EXPECT_NEAR(m.activitySpread.skewness, 0.0, 1e-12);

  EXPECT_EQ(m.udcRanks.total, 4);
  EXPECT_NEAR(m.udcRanks.average, 1.75, 1e-12);
  EXPECT_NEAR(m.udcRanks.variance, 2.1875, 1e-12);
  EXPECT_NEAR(m.udcRanks.skewness, 0.4346507595746657, 1e-12);
  EXPECT_EQ(m.udcMemberRanks.total, 6);
  EXPECT_NEAR(m.udcMemberRanks.average, 1.6666666666666665, 1e-12);
  EXPECT_NEAR(m.udcMemberRanks.variance, 1.5555555555555556, 1e-12);
  EXPECT_NEAR(m.udcMemberRanks.skewness, 0.6490630160730311, 1e-12);

  EXPECT_NEAR(m.dstartNrpa, 0.36, 1e-12);
  EXPECT_NEAR(m.dendNrpa, 0.36, 1e-12);
  EXPECT_NEAR(m.dstartCost, 9.0 / 35, 1e-12);
  EXPECT_NEAR(m.dendCost, 8.0 / 35, 1e-12);
  EXPECT_NEAR(m.dstartPts, 0.394, 1e-12);
  EXPECT_NEAR(m.dendPts, 0.458, 1e-12);
  EXPECT_DOUBLE_EQ(m.totalCost, -35);
  EXPECT_NEAR(m.totalPts, 0.36, 1e-15);
  EXPECT_DOUBLE_EQ(m.totalDuration, 7);
  // Only activity 3 passes the SV2 test (its parallel cost outweighs the lost pay-off).
  EXPECT_DOUBLE_EQ(m.sv1, 0.0);
  EXPECT_DOUBLE_EQ(m.sv2, 1.0);
  EXPECT_DOUBLE_EQ(m.sv, 1.0);
  EXPECT_NEAR(m.orderStrength, 1.0 / 3, 1e-15);
  EXPECT_DOUBLE_EQ(m.orderStrengthWithDummies, 0.8);
  EXPECT_DOUBLE_EQ(m.payoff, 100);
  EXPECT_NEAR(m.profitMeasure, 11.620096108718986, 1e-10);
  EXPECT_DOUBLE_EQ(m.rate, 0.1);
}

TEST(NetworkMetrics, RowHas35FieldsOr27WithoutUdcs) {
  mtest::installBase(handNetwork(), 0.1);
  mtest::installMirrorElementary();
  mtest::installUdcs({{0}, {1, 2}, {2, 3}, {4}});
  buildNetworkMetrics(true);
  networkMetrics.project = 7;
  // The symmetric spread leaves a rounding residue as its skewness; pinned as computed.
  std::ostringstream full;
  writeNetworkMetricsRow(full);
  EXPECT_EQ(full.str(),
            "7;5;0.7;0.58;0.62;0.5;9;2;1.33333;4.32667e-16;4;1.75;2.1875;0.434651;6;1.66667;1.55556;0.649063;"
            "0.36;0.36;0.257143;0.228571;0.394;0.458;-35;0.36;7;0;1;1;0.333333;0.8;100;11.6201;0.1");
  buildNetworkMetrics(false);
  std::ostringstream shortRow;
  writeNetworkMetricsRow(shortRow);
  EXPECT_EQ(mtest::splitFields(shortRow.str()).size(), 27u);
  EXPECT_EQ(mtest::splitFields(kMetricsHeader).size(), 35u);
  EXPECT_EQ(mtest::splitFields(kMetricsHeader)[10], "TOTAL NUMBER OF UDCS");
}

TEST(NetworkMetrics, ZeroTotalsAreWrittenAsZero) {
  // No real activity: no cost, no duration, no pair for the order strength.
  buildMetricsOf({mtest::dummy({1}), mtest::dummy({}, 0)}, 0.05);
  std::ostringstream row;
  writeNetworkMetricsRow(row);
  EXPECT_EQ(row.str().find("nan"), std::string::npos);
  EXPECT_EQ(row.str().find("inf"), std::string::npos);
  EXPECT_DOUBLE_EQ(networkMetrics.dstartCost, 0.0);
  EXPECT_DOUBLE_EQ(networkMetrics.orderStrength, 0.0);
  EXPECT_DOUBLE_EQ(networkMetrics.profitMeasure, 0.0);

  // One real activity (n = 3) of cost 0: OS has no pair, the cost shares no total.
  buildMetricsOf({mtest::dummy({1}), {{ModeSpec{3, 1, 0, 1}}, {2}}, mtest::dummy({}, 0)}, 0.05);
  EXPECT_DOUBLE_EQ(networkMetrics.orderStrength, 0.0);
  EXPECT_DOUBLE_EQ(networkMetrics.dstartCost, 0.0);
  EXPECT_DOUBLE_EQ(networkMetrics.dendCost, 0.0);
}

TEST(NetworkMetrics, ZeroPtsUsesProductOfTheOthers) {
  std::vector<ActivitySpec> plans = parallelNetwork();
  plans[2].modes[0].pts = 0.0;
  buildMetricsOf(plans, 0.1);
  // Each real activity has desc 1 and anc 1; only activity 2 keeps a non-zero P / pts(i).
  EXPECT_DOUBLE_EQ(networkMetrics.totalPts, 0.0);
  EXPECT_NEAR(networkMetrics.dstartPts, 1.0 / 5 * (0.9 * 0.5), 1e-15);
  EXPECT_NEAR(networkMetrics.dendPts, 1.0 / 5 * (0.9 * 0.5), 1e-15);
}

TEST(NetworkMetrics, CostlessProjectWithoutPayoffHasNoProfit) {
  std::vector<ActivitySpec> plans = handNetwork();
  for (ActivitySpec& a : plans) a.modes[0].cost = 0;
  buildMetricsOf(plans, 0.1);
  EXPECT_DOUBLE_EQ(networkMetrics.profitMeasure, 0.0);
  EXPECT_DOUBLE_EQ(networkMetrics.dstartCost, 0.0);
}

TEST(NetworkMetrics, GreedySequencesLookAtEveryMode) {
  // Activity 1 has a second mode of cost -50, so the cost min sequence starts with it.
  std::vector<ActivitySpec> plans = handNetwork();
  plans[1].modes.push_back(ModeSpec{2, 0.5, -50, 0.9});
  buildMetricsOf(plans, 0.1);
  // min: -50, -70, -75, 25; max: -10, -15, -35, 65 -> gaps 40, 55, 40, 40.
  const double g = 40 + 55 + 40 + 40;
  const double w1 = 40 / g, w2 = 55 / g, w3 = 40 / g, w4 = 40 / g;
  const double expected = ((w1 / 2) + (w1 + w2 / 2) + (w1 + w2 + w3 / 2) + (w1 + w2 + w3 + w4 / 2)) / 5;
  EXPECT_NEAR(networkMetrics.costScore, expected, 1e-12);
}

TEST(NetworkMetrics, RankStatisticsOfNothingAreZero) {
  const RankStatistics none = rankStatistics({0, 0, 0});
  EXPECT_EQ(none.total, 0);
  EXPECT_EQ(none.average, 0.0);
  EXPECT_EQ(none.variance, 0.0);
  EXPECT_EQ(none.skewness, 0.0);
  // A single rank has no spread, so no skewness either.
  const RankStatistics single = rankStatistics({0, 0, 4});
  EXPECT_DOUBLE_EQ(single.average, 2.0);
  EXPECT_EQ(single.variance, 0.0);
  EXPECT_EQ(single.skewness, 0.0);
}

TEST(NetworkMetrics, ScoreIsEarlyForEarlyGapsAndLateForLateGaps) {
  EXPECT_NEAR(greedyCurveScore({0, 0, 0, 0}, {0, 1, 1, 1}), (1.0 / 6 + 0.5 + 5.0 / 6) / 4, 1e-12);
  EXPECT_NEAR(greedyCurveScore({0, 0, 0, 0}, {0, 0, 0, 1}), 0.5 / 4, 1e-12);
  EXPECT_NEAR(greedyCurveScore({0, 0, 0, 0}, {0, 0, 0, 0}), 0.5, 1e-12);
}

TEST(NetworkMetrics, ActivityWithoutParallelRoomStopsTheRun) {
  // A cycle between 1 and 2 makes each count itself among its own predecessors and successors.
  mtest::installBase(
      {mtest::dummy({1}), {{ModeSpec{1, 1, 0, 1}}, {2}}, {{ModeSpec{1, 1, 0, 1}}, {1, 3}}, mtest::dummy({})}, 0.0);
  mtest::installMirrorElementary();
  e2e::ConsoleCapture console("0\n");
  EXPECT_THROW(buildNetworkMetrics(false), FatalStop);
  EXPECT_NE(console.text().find("\nError in metrics computation. Number of parallel activities is <= 0."),
            std::string::npos);
  EXPECT_EQ(console.text().find("Press any key to quit..."), std::string::npos);
}

}  // namespace

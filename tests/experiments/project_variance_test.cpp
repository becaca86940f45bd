// Mode 2 pieces on networks filled by hand: TEST2.DAT reading, the drawn tables, the run
// adjustments and the structural variants.
#include <gtest/gtest.h>

#include "e2e/e2e_support.h"
#include "experiments/variance_experiment.h"
#include "metrics/metrics_test_support.h"
#include "base/fatal.h"
#include "base/random15.h"

namespace {

using mtest::ActivitySpec;
using mtest::ModeSpec;

// 0 -> {1, 2} -> 3 -> 4, activity 2 with two modes.
void installProject() {
  mtest::installBase({mtest::dummy({1, 2}),
                      {{ModeSpec{2, 0.5, -10, 0.9}}, {3}},
                      {{ModeSpec{4, 2.0, -20, 0.8}, ModeSpec{3, 1.0, -30, 0.7}}, {3}},
                      {{ModeSpec{1, 1.0, 5, 0.5}}, {4}},
                      mtest::dummy({}, 100)},
                     0.05, {5, 5});
}

void readTest2(const std::string& text) {
  e2e::ScratchDirectory dir;
  dir.write("TEST2.DAT", text);
  readVarianceTestInput();
}

TEST(VarianceTestInput, ReadsEveryFieldInOrder) {
  readTest2("2 0.01 0.02\n1\n2 0.5 2\n2 0.1 0.2 0.3 0.4\n1 -5 -1\n2 0 1 2 1 3 4\n-3\n");
  const VarianceTestInput& t = varianceTestInput;
  EXPECT_EQ(t.rates, (std::vector<double>{0.01, 0.02}));
  EXPECT_EQ(t.scvMode, 1);
  EXPECT_EQ(t.scvValues, (std::vector<double>{0.5, 2}));
  ASSERT_EQ(t.ptsBounds.size(), 2u);
  EXPECT_EQ(t.ptsBounds[1].low, 0.3);
  ASSERT_EQ(t.costBounds.size(), 1u);
  EXPECT_EQ(t.costBounds[0].high, -1);
  ASSERT_EQ(t.payoffSettings.size(), 2u);
  EXPECT_EQ(t.payoffSettings[1].flag, 1);
  EXPECT_EQ(t.payoffSettings[1].high, 4);
  EXPECT_EQ(t.lastVariant, -3);
}

TEST(VarianceTestInput, NegativeCountsReadNoBounds) {
  readTest2("1 0.01 0 1 1 -1 -1 -1 0");
  EXPECT_EQ(varianceTestInput.ptsSetCount, -1);
  EXPECT_TRUE(varianceTestInput.ptsBounds.empty());
  EXPECT_TRUE(varianceTestInput.payoffSettings.empty());
  EXPECT_EQ(varianceTestInput.lastVariant, 0);
}

TEST(VarianceTestInput, EarlyEndAndMissingFileStop) {
  e2e::ScratchDirectory dir;
  {
    e2e::ConsoleCapture console("0\n");
    EXPECT_THROW(readVarianceTestInput(), FatalStop);
    EXPECT_EQ(console.text(), "\nUnable to open file.\nPress any key to quit...");
  }
  dir.write("TEST2.DAT", "1 0.01 0 1 1 2 0.5 0.9");
  e2e::ConsoleCapture console("0\n");
  EXPECT_THROW(readVarianceTestInput(), FatalStop);
  EXPECT_NE(console.text().find("TEST2.DAT ends early or holds a value that cannot be read (PTS bounds)."),
            std::string::npos);
}

TEST(VarianceTables, DrawsStayWithinTheLastBounds) {
  installProject();
  varianceTestInput = VarianceTestInput{};
  varianceTestInput.ptsSetCount = 2;
  varianceTestInput.ptsBounds = {{0.0, 0.1}, {0.6, 0.7}};
  varianceTestInput.costSetCount = 1;
  varianceTestInput.costBounds = {{-50, -40}};
  varianceTestInput.payoffCount = 1;
  varianceTestInput.payoffSettings = {{0, 3, 4}};
  projectSrand(5);
  const DrawnProjectValues drawn = drawProjectValues();
  ASSERT_EQ(drawn.pts.size(), 5u);
  ASSERT_EQ(drawn.pts[2].size(), 2u);
  for (const auto& modes : drawn.pts)
    for (double v : modes) {
      EXPECT_GE(v, 0.6);
      EXPECT_LE(v, 0.7);
    }
  // Costs for activities 0 .. n - 2 only.
  ASSERT_EQ(drawn.cost.size(), 4u);
  for (const auto& modes : drawn.cost)
    for (double v : modes) {
      EXPECT_GE(v, -50);
      EXPECT_LE(v, -40);
    }
  EXPECT_GE(drawn.payoff, 3);
  EXPECT_LE(drawn.payoff, 4);

  // A flag other than 0 gives a plain draw in [0, 1].
  varianceTestInput.payoffSettings = {{1, 30, 40}};
  const DrawnProjectValues unit = drawProjectValues();
  EXPECT_GE(unit.payoff, 0);
  EXPECT_LE(unit.payoff, 1);
}

TEST(VarianceTables, NegativeCountsDrawNothing) {
  installProject();
  varianceTestInput = VarianceTestInput{};
  varianceTestInput.ptsSetCount = -2;
  varianceTestInput.costSetCount = -1;
  varianceTestInput.payoffCount = -1;
  projectSrand(5);
  const int before = projectRand();
  projectSrand(5);
  drawProjectValues();
  EXPECT_EQ(projectRand(), before);
}

TEST(VarianceRun, RateScvAndDrawnValuesReachInnerActivitiesOnly) {
  installProject();
  varianceTestInput = VarianceTestInput{};
  varianceTestInput.scvMode = 1;
  varianceTestInput.ptsSetCount = 1;
  varianceTestInput.costSetCount = 1;
  DrawnProjectValues drawn;
  drawn.pts = {{0.11}, {0.22}, {0.33, 0.44}, {0.55}, {0.66}};
  drawn.cost = {{-1}, {-2}, {-3, -4}, {-5}};
  adjustProjectForRun(0.07, 2.0, drawn, 0);
  const auto& a = baseNetwork.activities;
  EXPECT_EQ(baseNetwork.discountRate, 0.07);
  EXPECT_EQ(a[1].modes[0].scv, 1.0);
  EXPECT_EQ(a[2].modes[0].scv, 4.0);
  EXPECT_EQ(a[0].modes[0].scv, 1.0);
  EXPECT_EQ(a[4].modes[0].scv, 1.0);
  EXPECT_EQ(a[2].modes[1].pts, 0.44);
  EXPECT_EQ(a[0].modes[0].pts, 1.0);
  EXPECT_EQ(a[4].modes[0].pts, 1.0);
  EXPECT_EQ(a[3].modes[0].cost, -5);
  EXPECT_EQ(a[0].modes[0].cost, 0);
  EXPECT_EQ(a[4].modes[0].cost, 100);

  installProject();
  varianceTestInput.scvMode = 0;
  varianceTestInput.ptsSetCount = -1;
  varianceTestInput.costSetCount = -1;
  adjustProjectForRun(0.07, 0.3, drawn, 0);
  EXPECT_EQ(baseNetwork.activities[2].modes[1].scv, 0.3);
  EXPECT_EQ(baseNetwork.activities[2].modes[1].pts, 0.7);
  EXPECT_EQ(baseNetwork.activities[2].modes[1].cost, -30);
}

TEST(VarianceRun, PayoffFromLargestInnerCostsOrFromTheBounds) {
  varianceTestInput = VarianceTestInput{};
  varianceTestInput.payoffCount = 2;
  varianceTestInput.payoffSettings = {{0, 0, 0}, {1, 10, 20}};
  DrawnProjectValues drawn;
  drawn.payoff = 0.5;
  installProject();
  // T = |-10| + max(|-20|, |-30|) + |5| = 45.
  adjustProjectForRun(0.01, 1, drawn, 0);
  EXPECT_EQ(baseNetwork.activities[4].modes[0].cost, 22.5);
  installProject();
  adjustProjectForRun(0.01, 1, drawn, 1);
  EXPECT_EQ(baseNetwork.activities[4].modes[0].cost, 15);
}

TEST(StructuralVariants, ResourcesBlockEveryOverlap) {
  installProject();
  applyStructuralVariant(1);
  EXPECT_EQ(baseNetwork.resourceAvailability, (std::vector<double>{10.0, 10.0}));
  for (const Activity& a : baseNetwork.activities)
    for (const ExecutionMode& m : a.modes) EXPECT_EQ(m.resourceUse, (std::vector<double>{10.0, 10.0}));

  mtest::installBase({mtest::dummy({1}), {{ModeSpec{2, 1, 0, 1}}, {2}}, mtest::dummy({})});
  applyStructuralVariant(1);
  EXPECT_EQ(baseNetwork.resourceCount, 1);
  EXPECT_EQ(baseNetwork.resourceAvailability, (std::vector<double>{10.0}));
  EXPECT_EQ(baseNetwork.activities[1].modes[0].resourceUse, (std::vector<double>{10.0}));
}

TEST(StructuralVariants, CostVariants) {
  installProject();
  applyStructuralVariant(3);
  for (int a = 0; a < 4; ++a)
    for (const ExecutionMode& m : baseNetwork.activities[a].modes) EXPECT_EQ(m.cost, 0);
  EXPECT_EQ(baseNetwork.activities[4].modes[0].cost, 100);
  installProject();
  applyStructuralVariant(4);
  EXPECT_EQ(baseNetwork.activities[4].modes[0].cost, 1e6);
  EXPECT_EQ(baseNetwork.activities[1].modes[0].cost, -10);
}

TEST(StructuralVariants, ParallelNetwork) {
  installProject();
  applyStructuralVariant(5);
  const auto& a = baseNetwork.activities;
  EXPECT_EQ(a[0].successors, (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(a[4].predecessors, (std::vector<int32_t>{1, 2, 3}));
  for (int i = 1; i <= 3; ++i) {
    EXPECT_EQ(a[i].successors, (std::vector<int32_t>{4}));
    EXPECT_EQ(a[i].predecessors, (std::vector<int32_t>{0}));
  }
  EXPECT_TRUE(a[0].predecessors.empty());
  EXPECT_TRUE(a[4].successors.empty());
}

TEST(StructuralVariants, TinyNetworkAndOtherNumbersStayUnchanged) {
  mtest::installBase({mtest::dummy({1}), mtest::dummy({})});
  applyStructuralVariant(5);
  EXPECT_EQ(baseNetwork.activities[0].successors, (std::vector<int32_t>{1}));
  EXPECT_EQ(baseNetwork.activities[1].predecessors, (std::vector<int32_t>{0}));
  installProject();
  for (int v : {0, 2, 6, 9}) applyStructuralVariant(v);
  EXPECT_EQ(baseNetwork.activities[0].successors, (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(baseNetwork.activities[4].modes[0].cost, 100);
  EXPECT_EQ(baseNetwork.resourceAvailability, (std::vector<double>{5, 5}));
}

}  // namespace

// Mode 3 pieces: TEST3.DAT reading, the .T3B instance layout and its draws, the forced
// data flags and the read-back of an instance by the project reader.
#include <gtest/gtest.h>

#include <sstream>

#include "e2e/e2e_support.h"
#include "experiments/metrics_experiment.h"
#include "experiments/project_layout.h"
#include "metrics/metrics_test_support.h"
#include "base/config.h"
#include "base/fatal.h"
#include "base/random15.h"
#include "base/run_state.h"

namespace {

using mtest::ActivitySpec;
using mtest::ModeSpec;

// 0 -> {1, 2} -> 3 -> 4 with four inner-ish activities; activity 2 has two modes.
void installProject(std::vector<double> availability = {4, 6}) {
  mtest::installBase({mtest::dummy({1, 2}),
                      {{ModeSpec{2, 0.5, -10, 0.9}}, {3}},
                      {{ModeSpec{4, 2.0, -20, 0.8}, ModeSpec{3, 1.0, -30, 0.7}}, {3}},
                      {{ModeSpec{1, 1.0, 5, 0.5}}, {4}},
                      mtest::dummy({}, 100)},
                     0.05, availability);
}

struct ParsedInstance {
  int n = 0;
  double rate = 0;
  int resources = 0;
  std::vector<std::vector<std::vector<double>>> modes;  // [activity][mode][field]
  std::vector<std::vector<int>> successors;
};

ParsedInstance parseInstance(const std::string& text) {
  std::istringstream in(text);
  ParsedInstance p;
  in >> p.n >> p.rate >> p.resources;
  for (int r = 0; r < p.resources; ++r) {
    double ignored = 0;
    in >> ignored;
  }
  p.modes.resize(p.n);
  p.successors.resize(p.n);
  for (int a = 0; a < p.n; ++a) {
    int modeCount = 0;
    in >> modeCount;
    p.modes[a].resize(modeCount);
    for (auto& fields : p.modes[a]) {
      fields.resize(6 + p.resources);
      for (double& v : fields) in >> v;
    }
    int count = 0;
    in >> count;
    p.successors[a].resize(count);
    for (int& s : p.successors[a]) in >> s;
    int module = 0;
    in >> module;
  }
  return p;
}

std::string instanceText() {
  std::ostringstream out;
  writeInstance(out);
  return out.str();
}

TEST(MetricsTestInput, ReadsNineteenValues) {
  e2e::ScratchDirectory dir;
  dir.write("TEST3.DAT", "3\n1 0.01 0.02\n1 2 8\n1 0.2 3\n1 -5 -1\n0 0.5 1\n1 1.5 2.5\n");
  readMetricsTestInput();
  const MetricsTestInput& t = metricsTestInput;
  EXPECT_EQ(t.instancesPerProject, 3);
  EXPECT_EQ(t.rateHigh, 0.02);
  EXPECT_EQ(t.durationHigh, 8);
  EXPECT_EQ(t.scvLow, 0.2);
  EXPECT_EQ(t.costLow, -5);
  EXPECT_EQ(t.ptsOn, 0);
  EXPECT_EQ(t.payoffHigh, 2.5);

  dir.write("TEST3.DAT", "3\n1 0.01 0.02\n1 2 8\n");
  e2e::ConsoleCapture console("0\n");
  EXPECT_THROW(readMetricsTestInput(), FatalStop);
  EXPECT_NE(console.text().find("TEST3.DAT ends early or holds a value that cannot be read"), std::string::npos);
}

TEST(MetricsInstance, SwitchesOffRepeatTheBaseProject) {
  installProject();
  metricsTestInput = MetricsTestInput{};
  metricsTestInput.instancesPerProject = 2;
  const std::string first = instanceText();
  EXPECT_EQ(first, instanceText());
  const std::string data =
      "5\n0.05\n2\n4 6 \n"
      "1\n0 1 0 0 1 0 1 1\n2 1 2 0\n"
      "1\n2 0.5 0 -10 0.9 0 1 1\n1 3 1\n"
      "2\n4 2 0 -20 0.8 0 1 1\n3 1 0 -30 0.7 0 1 1\n1 3 2\n"
      "1\n1 1 0 5 0.5 0 1 1\n1 4 3\n"
      "1\n0 1 0 100 1 0 1 1\n0 4\n";
  ASSERT_EQ(first.substr(0, data.size()), data);
  const std::string trailer = first.substr(data.size());
  EXPECT_EQ(trailer.rfind(std::string(43, '|') + "\n|||FILE STRUCTURE (BASE MODULAR NETWORK)|||\n" +
                              std::string(43, '|') + "\n\n[NUMBER OF ACTIVITIES (INCLUDING DUMMY-ACTIVITIES)]\n",
                          0),
            0u);
  EXPECT_NE(trailer.find("\n[ACT 2 MODE m: DURATION] [ACT 2 MODE m: DURATION SCV] "), std::string::npos);
  EXPECT_NE(trailer.find("\n...\n\n[ACT n MODE 1: DURATION]"), std::string::npos);
  const std::string last =
      "[NUMBER OF SUCCESSORS FOR ACTIVITY n] [ACT n: SUCCESSOR 1] [ACT n: SUCCESSOR 2] ... "
      "[ACT n: SUCCESSOR s] [ACTIVITY n PARENT MODULE]";
  EXPECT_EQ(trailer.substr(trailer.size() - last.size()), last);
}

TEST(MetricsInstance, NoResourcesNoAvailabilityLine) {
  installProject({});
  metricsTestInput = MetricsTestInput{};
  EXPECT_EQ(instanceText().rfind("5\n0.05\n0\n1\n0 1 0 0 1 0\n", 0), 0u);
}

TEST(MetricsInstance, DrawsStayWithinBoundsAndSpareTheDummies) {
  installProject();
  metricsTestInput = MetricsTestInput{3, 1, 0.1, 0.2, 1, 5, 6, 1, 0.25, 3, 1, -9, -8, 1, 0.6, 0.7, 1, 2, 3};
  projectSrand(11);
  for (int repeat = 0; repeat < 20; ++repeat) {
    const ParsedInstance p = parseInstance(instanceText());
    ASSERT_EQ(p.n, 5);
    EXPECT_GE(p.rate, 0.1);
    EXPECT_LE(p.rate, 0.2);
    double costSum = 0, ptsProduct = 1;
    for (int a = 1; a <= 3; ++a)
      for (const auto& f : p.modes[a]) {
        EXPECT_GE(f[0], 5);
        EXPECT_LE(f[0], 6);
        EXPECT_GE(f[1], 0.25);
        EXPECT_LE(f[1], 3);
        EXPECT_GE(f[3], -9);
        EXPECT_LE(f[3], -8);
        EXPECT_GE(f[4], 0.6);
        EXPECT_LE(f[4], 0.7);
        costSum += f[3];
        ptsProduct *= f[4];
      }
    EXPECT_EQ(p.modes[0][0], (std::vector<double>{0, 1, 0, 0, 1, 0, 1, 1}));
    // The pay-off is factor * (-S) / P over every drawn mode; values are written to six digits.
    const double payoff = p.modes[4][0][3];
    EXPECT_GE(payoff, 2 * -costSum / ptsProduct * (1 - 1e-4));
    EXPECT_LE(payoff, 3 * -costSum / ptsProduct * (1 + 1e-4));
    EXPECT_EQ(p.modes[4][0][0], 0);
    EXPECT_EQ(p.modes[4][0][4], 1);
    EXPECT_EQ(p.successors[2], (std::vector<int>{3}));
  }
}

TEST(MetricsInstance, ConsumesFiveDrawsPerInnerModeAndOnePerLastMode) {
  installProject();
  metricsTestInput = MetricsTestInput{1, 0, 0, 0, 1, 5, 6, 1, 0.25, 3, 1, -9, -8, 1, 0.6, 0.7, 1, 2, 3};
  projectSrand(21);
  instanceText();
  const int next = projectRand();
  projectSrand(21);
  for (int i = 0; i < 4 * 5 + 1; ++i) projectRand();
  EXPECT_EQ(projectRand(), next);
}

TEST(MetricsInstance, PayoffOfFixedInnerCosts) {
  // Four inner single-mode activities of fixed cost -10 and probability 1: pay-off = factor * 40.
  mtest::installBase({mtest::dummy({1, 2, 3, 4}),
                      {{ModeSpec{1, 1, 0, 1}}, {5}},
                      {{ModeSpec{1, 1, 0, 1}}, {5}},
                      {{ModeSpec{1, 1, 0, 1}}, {5}},
                      {{ModeSpec{1, 1, 0, 1}}, {5}},
                      mtest::dummy({})},
                     0.05);
  metricsTestInput = MetricsTestInput{};
  metricsTestInput.costOn = 1;
  metricsTestInput.costLow = -10;
  metricsTestInput.costHigh = -10;
  metricsTestInput.payoffOn = 1;
  metricsTestInput.payoffLow = 2.5;
  metricsTestInput.payoffHigh = 2.5;
  EXPECT_EQ(parseInstance(instanceText()).modes[5][0][3], 100);
}

TEST(MetricsInstance, ZeroSuccessProbabilityGivesZeroPayoff) {
  installProject();
  metricsTestInput = MetricsTestInput{};
  metricsTestInput.ptsOn = 1;
  metricsTestInput.payoffOn = 1;
  metricsTestInput.payoffLow = 1;
  metricsTestInput.payoffHigh = 2;
  const std::string text = instanceText();
  EXPECT_EQ(parseInstance(text).modes[4][0][3], 0);
  EXPECT_EQ(text.find("inf"), std::string::npos);
  EXPECT_EQ(text.find("nan"), std::string::npos);
}

TEST(MetricsInstance, ForcedFlagsKeepTheOverrides) {
  runConfig = RunConfig{};
  runConfig.gv_CFG_SCV_data = 0;
  runConfig.gv_CFG_skew_data = 1;
  runConfig.gv_CFG_rate_data = 0;
  forceInstanceDataFlags(runConfig);
  EXPECT_TRUE(runConfig.gv_CFG_cost_data && runConfig.gv_CFG_mod_data && runConfig.gv_CFG_mode_data &&
              runConfig.gv_CFG_pts_data && runConfig.gv_CFG_pms_data && runConfig.gv_CFG_rx_data);
  EXPECT_EQ(runConfig.gv_CFG_SCV_data, -1);
  EXPECT_EQ(runConfig.gv_CFG_skew_data, 1);
  EXPECT_EQ(runConfig.gv_CFG_rate_data, 1);
  runConfig.gv_CFG_rate_data = -1;
  runConfig.gv_CFG_SCV_data = 1;
  forceInstanceDataFlags(runConfig);
  EXPECT_EQ(runConfig.gv_CFG_rate_data, -1);
  EXPECT_EQ(runConfig.gv_CFG_SCV_data, 1);
}

TEST(MetricsInstance, ReaderTakesTheInstanceBackUnchanged) {
  e2e::ScratchDirectory dir;
  installProject();
  metricsTestInput = MetricsTestInput{};
  const BaseNetwork original = baseNetwork;
  dir.write("I1.T3B", instanceText());
  runConfig = RunConfig{};
  runConfig.PJFileName = "I";
  runConfig.PJFileExt = ".T3B";
  forceInstanceDataFlags(runConfig);
  projectNumber = 1;
  baseNetwork = BaseNetwork{};
  readProjectFile();
  ASSERT_EQ(baseNetwork.activityCount, original.activityCount);
  EXPECT_EQ(baseNetwork.discountRate, original.discountRate);
  EXPECT_EQ(baseNetwork.resourceAvailability, original.resourceAvailability);
  for (int a = 0; a < original.activityCount; ++a) {
    const Activity& got = baseNetwork.activities[a];
    const Activity& want = original.activities[a];
    EXPECT_EQ(got.successors, want.successors);
    EXPECT_EQ(got.predecessors, want.predecessors);
    EXPECT_EQ(got.parentModule, want.parentModule);
    ASSERT_EQ(got.modes.size(), want.modes.size());
    for (size_t m = 0; m < want.modes.size(); ++m) {
      EXPECT_EQ(got.modes[m].duration, want.modes[m].duration);
      EXPECT_EQ(got.modes[m].scv, want.modes[m].scv);
      EXPECT_EQ(got.modes[m].cost, want.modes[m].cost);
      EXPECT_EQ(got.modes[m].pts, want.modes[m].pts);
      EXPECT_EQ(got.modes[m].resourceUse, want.modes[m].resourceUse);
    }
  }
}

}  // namespace

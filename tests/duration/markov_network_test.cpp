// The Markovian network: the configuration's duration overrides, one model per mode, the
// fatal stop that names a mode, and the .MPN file.
#include <cmath>

#include "duration_test_support.h"
#include "base/random15.h"

namespace {

using durtest::ActivitySpec;
using durtest::DurationTest;
using durtest::kOwnModule;
using durtest::makeMode;

class MarkovNetworkTest : public DurationTest {
 protected:
  // Start, two inner activities (the second with two modes), end.
  void installSmallProject() {
    durtest::installMixedProject();
    baseNetwork.activities[2].modes[1].skewness = 0.7;
  }
  std::vector<double> scvs() const {
    std::vector<double> values;
    for (const Activity& activity : baseNetwork.activities)
      for (const ExecutionMode& mode : activity.modes) values.push_back(mode.scv);
    return values;
  }
};

TEST_F(MarkovNetworkTest, OneModelPerActivityAndMode) {
  installSmallProject();
  buildMarkovNetwork();
  ASSERT_EQ(markovNetwork.models.size(), 4u);
  EXPECT_EQ(markovNetwork.models[2].size(), 2u);
  EXPECT_EQ(markovNetwork.models[0][0].phaseCount, 1);
  EXPECT_EQ(markovNetwork.models[1][0].phaseCount, 2);
  EXPECT_EQ(markovNetwork.models[2][0].phaseCount, 2);
  EXPECT_EQ(markovNetwork.models[2][1].generator[0][0], -0.25);
  releaseMarkovNetwork();
  EXPECT_TRUE(markovNetwork.models.empty());
}

TEST_F(MarkovNetworkTest, ScvOverrides) {
  installSmallProject();
  runConfig.gv_CFG_SCV_data = 1;
  runConfig.gv_CFG_SCV = 0.25;
  buildMarkovNetwork();
  EXPECT_EQ(scvs(), (std::vector<double>{1.0, 0.5, 2.0, 1.0, 1.0}));

  for (int scvData : {0, -1}) {
    installSmallProject();
    runConfig.gv_CFG_SCV_data = scvData;
    runConfig.gv_CFG_SCV = 0.25;
    buildMarkovNetwork();
    EXPECT_EQ(scvs(), (std::vector<double>(5, 0.25)));
    EXPECT_EQ(markovNetwork.models[2][1].phaseCount, 4);
  }

  installSmallProject();
  runConfig.gv_CFG_SCV_data = 0;
  runConfig.gv_CFG_SCV = 0;
  buildMarkovNetwork();
  EXPECT_EQ(scvs(), (std::vector<double>{1.0, 0.5, 2.0, 1.0, 1.0}));
}

// Two draws per mode, U before V, also for zero durations.
TEST_F(MarkovNetworkTest, RandomizedScvDrawsTwicePerModeInOrder) {
  installSmallProject();
  runConfig.gv_CFG_SCV_data = 0;
  runConfig.gv_CFG_SCV = -1.0;
  projectSrand(11);
  std::vector<double> expected;
  for (int mode = 0; mode < 5; ++mode) {
    const int first = projectRand();
    const int second = projectRand();
    const double u = first / 32767.0;
    const double v = second / 32767.0;
    expected.push_back(u > 0.5 ? v + 0.34 : 1.0 / (v + 0.2));
  }
  const int following = projectRand();

  projectSrand(11);
  buildMarkovNetwork();
  EXPECT_EQ(scvs(), expected);
  EXPECT_EQ(projectRand(), following);
  bool sawLow = false, sawHigh = false;
  for (double scv : expected) (scv < 1 ? sawLow : sawHigh) = true;
  EXPECT_TRUE(sawLow && sawHigh) << "pick a seed that exercises both branches";
}

TEST_F(MarkovNetworkTest, SkewnessOverride) {
  installSmallProject();
  runConfig.gv_CFG_skew_data = 1;
  runConfig.gv_CFG_skew = 0;
  buildMarkovNetwork();
  EXPECT_EQ(baseNetwork.activities[2].modes[1].skewness, 0.7);

  runConfig.gv_CFG_skew_data = -1;
  runConfig.gv_CFG_skew = 0.5;
  buildMarkovNetwork();
  EXPECT_EQ(baseNetwork.activities[2].modes[1].skewness, 0.7);

  runConfig.gv_CFG_skew_data = -1;
  runConfig.gv_CFG_skew = 0;
  buildMarkovNetwork();
  EXPECT_EQ(baseNetwork.activities[2].modes[1].skewness, 0.0);
}

TEST_F(MarkovNetworkTest, BadModeStopsTheRunBeforeAnyFile) {
  installSmallProject();
  baseNetwork.activities[2].modes[1].scv = -1;
  runConfig.gv_CFG_write = 4;
  const std::string printed = durtest::fatalOutputOf([] { buildMarkovNetwork(); });
  EXPECT_EQ(printed, durtest::fatalText("The duration SCV of activity 2 (execution mode 1) is -1. A non-zero "
                                        "duration needs a finite SCV above 0."));
  EXPECT_FALSE(std::filesystem::exists(outputPath(".MPN")));
}

TEST_F(MarkovNetworkTest, FileOnlyFromWriteLevelTwo) {
  installSmallProject();
  runConfig.gv_CFG_write = 1;
  buildMarkovNetwork();
  EXPECT_FALSE(std::filesystem::exists(outputPath(".MPN")));
  runConfig.gv_CFG_write = 2;
  buildMarkovNetwork();
  EXPECT_TRUE(std::filesystem::exists(outputPath(".MPN")));
}

std::string replaceAll(std::string text, const std::string& token, const std::string& value) {
  for (size_t at = text.find(token); at != std::string::npos; at = text.find(token, at + value.size()))
    text.replace(at, token.size(), value);
  return text;
}

const char* const kModeGroupLegend =
    "[ACT A MODE M: DURATION] [ACT A MODE M: DURATION SCV] [ACT A MODE M: DURATION SKEWNESS] [ACT A MODE M: COST] "
    "[ACT A MODE M: PROBABILITY OF TECHNICAL SUCCESS] [ACT A MODE M: PROBABILITY OF MODULE SUCCESS] [ACT A MODE M: "
    "USE OF RESOURCE 1] [ACT A MODE M: USE OF RESOURCE 2] ... [ACT A MODE M: USE OF RESOURCE r]\n"
    "[ACT A MODE M: NUMBER OF PHASES] [PHASE 1 INITIAL PROBABILITY] [PHASE 2 INITIAL PROBABILITY] ... [PHASE z "
    "INITIAL PROBABILITY]\n"
    "[ACT A MODE M: INFINITESIMAL GENERATOR RATE: PHASE 1 -> PHASE 1] [ACT A MODE M: INFINITESIMAL GENERATOR RATE: "
    "PHASE 1 -> PHASE 2] ... [ACT A MODE M: INFINITESIMAL GENERATOR RATE: PHASE 1 -> PHASE z] [ACT A MODE M: "
    "INFINITESIMAL GENERATOR RATE: PHASE 1 -> ABSORBING STATE]\n"
    "[ACT A MODE M: INFINITESIMAL GENERATOR RATE: PHASE 2 -> PHASE 1] [ACT A MODE M: INFINITESIMAL GENERATOR RATE: "
    "PHASE 2 -> PHASE 2] ... [ACT A MODE M: INFINITESIMAL GENERATOR RATE: PHASE 2 -> PHASE z] [ACT A MODE M: "
    "INFINITESIMAL GENERATOR RATE: PHASE 2 -> ABSORBING STATE]\n"
    "...\n"
    "[ACT A MODE M: INFINITESIMAL GENERATOR RATE: PHASE z -> PHASE 1] [ACT A MODE M: INFINITESIMAL GENERATOR RATE: "
    "PHASE z -> PHASE 2] ... [ACT A MODE M: INFINITESIMAL GENERATOR RATE: PHASE z -> PHASE z] [ACT A MODE M: "
    "INFINITESIMAL GENERATOR RATE: PHASE z -> ABSORBING STATE]\n";

const char* const kSuccessorLegend =
    "[NUMBER OF SUCCESSORS FOR ACTIVITY A] [ACT A: SUCCESSOR 1] [ACT A: SUCCESSOR 2] ... [ACT A: SUCCESSOR s] "
    "[ACTIVITY A PARENT MODULE]";

std::string activityLegend(const std::string& a) {
  std::string text;
  for (const char* m : {"1", "2", "m"}) {
    text += replaceAll(kModeGroupLegend, "ACT A MODE M", "ACT " + a + " MODE " + m);
    if (std::string(m) == "2") text += "...\n";
  }
  return text + replaceAll(replaceAll(kSuccessorLegend, "ACT A:", "ACT " + a + ":"), "ACTIVITY A", "ACTIVITY " + a);
}

TEST_F(MarkovNetworkTest, FileTextByteForByte) {
  installSmallProject();
  runConfig.gv_CFG_write = 2;
  buildMarkovNetwork();
  const std::string data =
      "4\n0.01\n1\n5 \n"
      "1\n0 1 0 0 1 0 0\n1 1\n-1 1\n2 1 2 0\n"
      "1\n2 0.5 0 -3 0.9 0.1 2\n2 1 0\n-1 1 0\n0 -1 1\n1 3 1\n"
      "2\n1 2 0 0 1 0 1\n2 0.333333 0.666667\n-0.5 0 0.5\n0 -2 2\n"
      "4 1 0.7 -1 0.8 0.2 3\n1 1\n-0.25 0.25\n1 3 1\n"
      "1\n0 1 0 0 1 0 0\n1 1\n-1 1\n0 3\n";
  const std::string bars(48, '|');
  const std::string legend =
      "\n" + bars + "\n|||FILE STRUCTURE (MARKOVIAN PROJECT NETWORK)|||\n" + bars + "\n\n" +
      "[NUMBER OF ACTIVITIES (INCLUDING DUMMY-ACTIVITIES)]\n[DISCOUNT RATE (CONTINUOUS-TIME DISCOUNTING)]\n"
      "[NUMBER OF RENEWABLE RESOURCES]\n"
      "[AVAILABILITY RESOURCE 1] [AVAILABILITY RESOURCE 2] ... [AVAILABILITY RESOURCE r]\n"
      "[NUMBER OF EXECUTION MODES FOR ACTIVITY 1]\n" +
      activityLegend("1") + "\n" + activityLegend("2") + "\n...\n\n" + activityLegend("n");
  EXPECT_EQ(durtest::readFile(outputPath(".MPN")), data + legend);
}

TEST_F(MarkovNetworkTest, FileWithoutResourcesHasNoAvailabilityLine) {
  durtest::installBaseNetwork({{{makeMode(0)}, {1}, kOwnModule}, {{makeMode(0)}, {}, kOwnModule}}, {}, 0.5);
  runConfig.gv_CFG_write = 3;
  buildMarkovNetwork();
  const std::string text = durtest::readFile(outputPath(".MPN"));
  EXPECT_EQ(text.substr(0, text.find("\n\n|") + 1),
            "2\n0.5\n0\n1\n0 1 0 0 1 0\n1 1\n-1 1\n1 1 0\n1\n0 1 0 0 1 0\n1 1\n-1 1\n0 1\n");
}

}  // namespace

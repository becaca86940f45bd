// The elementary network of the 120-activity benchmark projects with SCV 0.25: its size and
// structure (bench/elementary_network_build.sh times its build). Skipped when the benchmark
// data are not on this machine.
#include <filesystem>

#include "duration_test_support.h"

namespace {

// The benchmark data sit beside the checkout, as on every machine of the project.
const char* const kJ120Directory = TERVANO_SOURCE_DIR "/../shared/data/j120-rcp";

class ElementaryNetworkJ120 : public durtest::DurationTest {};

TEST_F(ElementaryNetworkJ120, SizeAndStructure) {
  if (!std::filesystem::exists(std::string(kJ120Directory) + "/J120_1.RCP"))
    GTEST_SKIP() << "no benchmark data in " << kJ120Directory;
  runConfig.gv_CFG_SCV_data = 0;
  runConfig.gv_CFG_SCV = 0.25;
  int builds = 0;
  for (int k = 1; k <= 10; ++k) {
    const std::string path = std::string(kJ120Directory) + "/J120_" + std::to_string(k) + ".RCP";
    if (!std::filesystem::exists(path)) continue;
    ASSERT_TRUE(durtest::installPattersonNetwork(path)) << path;
    buildMarkovNetwork();
    // Zero durations keep one phase; every other activity is an Erlang-4 chain with its exit.
    int expected = 0;
    for (const Activity& activity : baseNetwork.activities) expected += activity.modes[0].duration == 0 ? 1 : 5;
    buildElementaryNetwork();
    ++builds;
    ASSERT_EQ(elementaryNetwork.nElementary, expected) << path;
    EXPECT_EQ(elementaryNetwork.nModules, baseNetwork.activityCount);
    // Only the dummy end has no successor, and it descends from everything.
    const int last = elementaryNetwork.nElementary - 1;
    EXPECT_EQ(ancestorCountOf(last), last);
    for (int e = 0; e < last; ++e) EXPECT_FALSE(elementaryNetwork.elemSuccessors[e].empty());
    EXPECT_GT(elementaryNetwork.makespanUpperBound, 0.0f);
  }
  ASSERT_GT(builds, 0);
}

}  // namespace

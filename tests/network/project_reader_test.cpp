// The project file reader: the optional fields by configuration, the normalisation of the
// network and every message that stops the run.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"
#include "network/base_network.h"
#include "base/config.h"
#include "base/fatal.h"
#include "base/run_state.h"

namespace {

// Plain layout: activity count, resources, availabilities, then per activity duration,
// uses, successor count and 1-based successors.
const char* const kPattersonProject =
    "6 1\n"
    "4\n"
    "0 0 3 2 3 4\n"
    "3 2 1 5\n"
    "2 4 1 6\n"
    "4 1 0\n"
    "1 3 1 6\n"
    "0 0 0\n";

void configureResourceDataOnly() {
  RunConfig config;
  config.PJFileName = "P";
  config.PJFileExt = ".RCP";
  config.gv_CFG_rx_data = true;
  config.gv_rate = 0.03;
  runConfig = config;
}

void readProject(const e2e::ScratchDirectory& dir, const std::string& text, int32_t number = 1) {
  projectNumber = number;
  std::string name = runConfig.PJFileName;
  name += std::to_string(number);
  name += runConfig.PJFileExt;
  dir.write(name, text);
  releaseBaseNetwork();
  readProjectFile();
}

// The console text of a run that must stop by the fatal-error convention.
std::string fatalText(const e2e::ScratchDirectory& dir, const std::string& text) {
  e2e::ConsoleCapture console("0\n");
  try {
    readProject(dir, text);
  } catch (const FatalStop&) {
    return console.text();
  }
  ADD_FAILURE() << "the reader accepted the project";
  return console.text();
}

std::string fatal(const std::string& message) { return "\n" + message + "\nPress any key to quit..."; }

const std::string kDummyEndMessage =
    "Error in project file P1.RCP (project 1). Project has multiple activities that have no successors. The "
    "project should have a single dummy-end activity. ";
const std::string kDummyEndRule =
    " a dummy end, which has one mode of duration 0 with probability of technical success 1: ";
const std::string kDummyStartMessage =
    "Error in project file P1.RCP (project 1). Project has multiple activities that have no predecessors. The "
    "project should have a single dummy-start activity. ";

}  // namespace

TEST(ProjectReader, PattersonLayoutIsShiftedLinkedAndDefaulted) {
  e2e::ScratchDirectory dir;
  configureResourceDataOnly();
  readProject(dir, kPattersonProject);
  const BaseNetwork& n = baseNetwork;
  ASSERT_EQ(n.activityCount, 6);
  EXPECT_EQ(n.discountRate, 0.03);
  ASSERT_EQ(n.resourceCount, 1);
  EXPECT_EQ(n.resourceAvailability, std::vector<double>{4});
  ASSERT_EQ(n.activities.size(), 6u);
  const std::vector<std::vector<int32_t>> successors = {{1, 2, 3}, {4}, {5}, {5}, {5}, {}};
  const std::vector<std::vector<int32_t>> predecessors = {{}, {0}, {0}, {0}, {1}, {2, 3, 4}};
  for (int a = 0; a < 6; ++a) {
    const Activity& activity = n.activities[a];
    EXPECT_EQ(activity.successors, successors[a]) << "activity " << a;
    EXPECT_EQ(activity.predecessors, predecessors[a]) << "activity " << a;
    EXPECT_EQ(activity.parentModule, a);
    ASSERT_EQ(activity.modes.size(), 1u);
    const ExecutionMode& mode = activity.modes[0];
    EXPECT_EQ(mode.scv, 1.0);
    EXPECT_EQ(mode.skewness, 0.0);
    EXPECT_EQ(mode.cost, 0.0);
    EXPECT_EQ(mode.pts, 1.0);
    EXPECT_EQ(mode.pms, 0.0);
    ASSERT_EQ(mode.resourceUse.size(), 1u);
  }
  EXPECT_EQ(n.activities[1].modes[0].duration, 3);
  EXPECT_EQ(n.activities[1].modes[0].resourceUse[0], 2);
  EXPECT_EQ(n.activities[4].modes[0].duration, 1);
  EXPECT_EQ(n.activities[4].modes[0].resourceUse[0], 3);
}

TEST(ProjectReader, EveryOptionalFieldInFileOrder) {
  e2e::ScratchDirectory dir;
  configureResourceDataOnly();
  runConfig.gv_CFG_rate_data = 1;
  runConfig.gv_CFG_rx_data = true;
  runConfig.gv_CFG_mode_data = true;
  runConfig.gv_CFG_SCV_data = 1;
  runConfig.gv_CFG_skew_data = -1;
  runConfig.gv_CFG_cost_data = true;
  runConfig.gv_CFG_pts_data = true;
  runConfig.gv_CFG_pms_data = true;
  runConfig.gv_CFG_mod_data = true;
  // 0-based numbering: activity 1 is a successor.
  readProject(dir,
              "3 0.07 2 5 6\n"
              "1  0 0 0 0 1 0  0 0  1 1  0\n"
              "2  4 0.5 1.5 -10 0.9 0.8  2 3  7 0.25 0 -20 0.7 0.6  1 1  1 2  7\n"
              "1  0 1 0 100 1 0  0 0  0  9\n");
  const BaseNetwork& n = baseNetwork;
  EXPECT_EQ(n.discountRate, 0.07);
  EXPECT_EQ(n.resourceAvailability, (std::vector<double>{5, 6}));
  const Activity& middle = n.activities[1];
  ASSERT_EQ(middle.modes.size(), 2u);
  const ExecutionMode& second = middle.modes[1];
  EXPECT_EQ(second.duration, 7);
  EXPECT_EQ(second.scv, 0.25);
  EXPECT_EQ(second.skewness, 0);
  EXPECT_EQ(second.cost, -20);
  EXPECT_EQ(second.pts, 0.7);
  EXPECT_EQ(second.pms, 0.6);
  EXPECT_EQ(second.resourceUse, (std::vector<double>{1, 1}));
  EXPECT_EQ(middle.modes[0].skewness, 1.5);
  EXPECT_EQ(middle.successors, std::vector<int32_t>{2});
  EXPECT_EQ(middle.parentModule, 7);
  EXPECT_EQ(n.activities[0].successors, std::vector<int32_t>{1});
  EXPECT_EQ(n.activities[2].modes[0].cost, 100);
  EXPECT_EQ(n.activities[2].parentModule, 9);
}

TEST(ProjectReader, DiscountRateRules) {
  e2e::ScratchDirectory dir;
  configureResourceDataOnly();
  runConfig.gv_CFG_rx_data = false;
  runConfig.gv_CFG_rate_data = -1;
  readProject(dir, "2 0.5  0 1 2  0 0");
  EXPECT_EQ(baseNetwork.discountRate, 0.03);
  EXPECT_EQ(baseNetwork.activities[0].modes[0].duration, 0);
  EXPECT_EQ(baseNetwork.activities[0].successors, std::vector<int32_t>{1});

  // Any other setting reads nothing and keeps the rate held, across a release.
  baseNetwork.discountRate = 0.125;
  runConfig.gv_CFG_rate_data = 2;
  readProject(dir, "2  0 1 2  0 0");
  EXPECT_EQ(baseNetwork.discountRate, 0.125);
  releaseBaseNetwork();
  EXPECT_EQ(baseNetwork.discountRate, 0.125);
}

TEST(ProjectReader, LooseEndsGoToTheHighestQualifyingDummyEnd) {
  e2e::ScratchDirectory dir;
  configureResourceDataOnly();
  runConfig.gv_CFG_rx_data = false;
  // 1-based; activities 2, 3 and 4 have no successors; 3 and 4 look like dummy ends.
  readProject(dir, "4  0 2 2 3  5 0  0 0  0 0");
  const BaseNetwork& n = baseNetwork;
  EXPECT_EQ(n.activities[0].successors, (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(n.activities[1].successors, std::vector<int32_t>{3});
  EXPECT_EQ(n.activities[2].successors, std::vector<int32_t>{3});
  EXPECT_TRUE(n.activities[3].successors.empty());
  EXPECT_EQ(n.activities[3].predecessors, (std::vector<int32_t>{1, 2}));
}

TEST(ProjectReader, SuccessorNumberingEdges) {
  e2e::ScratchDirectory dir;
  configureResourceDataOnly();
  runConfig.gv_CFG_rx_data = false;
  // 1-based file naming the last activity by activityCount.
  readProject(dir, "3  0 1 2  1 1 3  0 0");
  EXPECT_EQ(baseNetwork.activities[1].successors, std::vector<int32_t>{2});
  // Duplicated successor: merged, so the predecessor is listed once.
  readProject(dir, "3  0 2 1 1  1 1 2  0 0");
  EXPECT_EQ(baseNetwork.activities[1].predecessors, (std::vector<int32_t>{0}));

  // Each message names the activity (0-based) and the number as read.
  const std::string lead = "Error in project file P1.RCP (project 1). Activity 1 names successor ";
  EXPECT_EQ(fatalText(dir, "3  0 1 2  1 1 4  0 0"), fatal(lead + "4; it is larger than the number of activities (3)."));
  EXPECT_EQ(fatalText(dir, "3  0 1 2  1 1 -1  0 0"), fatal(lead + "-1; a successor number cannot be negative."));
  // 0 in a 1-based file and activityCount in a 0-based file name no activity.
  EXPECT_EQ(fatalText(dir, "3  0 1 2  1 1 0  0 0"),
            fatal(lead + "0; the file numbers its activities from 1 (no activity names activity 1 as a successor), "
                         "so 0 names no activity."));
  EXPECT_EQ(fatalText(dir, "3  0 1 1  1 1 3  0 0"),
            fatal(lead + "3; the file numbers its activities from 0 (activity 1 is named as a successor), so the "
                         "last activity is 2."));
}

TEST(ProjectReader, DummyEndAndDummyStartChecks) {
  e2e::ScratchDirectory dir;
  configureResourceDataOnly();
  runConfig.gv_CFG_rx_data = false;
  // Each message names the file and why the only sink is no dummy end.
  const std::string onlySink = "Activity 3 (counted from 1), the only activity without successors, is" + kDummyEndRule;
  EXPECT_EQ(fatalText(dir, "3  0 1 2  1 1 3  0.5 0"), fatal(kDummyEndMessage + onlySink + "it has a duration (0.5)."));
  runConfig.gv_CFG_pts_data = true;
  EXPECT_EQ(fatalText(dir, "3  0 1 1 2  1 1 1 3  0 0.9 0"),
            fatal(kDummyEndMessage + onlySink + "it has a probability of technical success of 0.9."));
  runConfig.gv_CFG_pts_data = false;
  runConfig.gv_CFG_mode_data = true;
  EXPECT_EQ(fatalText(dir, "3  1 0 1 2  1 1 1 3  2 0 0 0"), fatal(kDummyEndMessage + onlySink + "it has 2 modes."));
  runConfig.gv_CFG_mode_data = false;
  // Two sinks (a loose end is linked to a dummy end only when there is one), both with durations.
  EXPECT_EQ(fatalText(dir, "4  0 2 2 3  2 0  1 0  3 0"),
            fatal(kDummyEndMessage + "Activities 2, 3 and 4 (counted from 1) have no successors, and none is" +
                  kDummyEndRule + "the last of them has a duration (3)."));
  // Activities 1 and 2 both lack predecessors.
  EXPECT_EQ(fatalText(dir, "4  0 1 3  0 1 3  1 1 4  0 0"),
            fatal(kDummyStartMessage + "Activities 1 and 2 (counted from 1) have no predecessors: only the dummy "
                                       "start, the first activity of the file, may have none."));
}

// A successor named twice is one precedence: merged where the reader finds it, first order kept.
TEST(ProjectReader, DuplicateSuccessorsAreMerged) {
  e2e::ScratchDirectory dir;
  configureResourceDataOnly();
  runConfig.gv_CFG_rx_data = false;
  // 1-based: the start names 2, 3, 2, 3, 2; activity 2 names 4 twice.
  readProject(dir, "4  0 5 2 3 2 3 2  1 2 4 4  1 1 4  0 0");
  const std::vector<std::vector<int32_t>> successors = {{1, 2}, {3}, {3}, {}};
  const std::vector<std::vector<int32_t>> predecessors = {{}, {0}, {0}, {1, 2}};
  for (int a = 0; a < 4; ++a) {
    EXPECT_EQ(baseNetwork.activities[a].successors, successors[a]) << a;
    EXPECT_EQ(baseNetwork.activities[a].predecessors, predecessors[a]) << a;
  }
}

TEST(ProjectReader, SuccessorNotAfterItsActivityStops) {
  e2e::ScratchDirectory dir;
  configureResourceDataOnly();
  runConfig.gv_CFG_rx_data = false;
  const std::string order =
      " whose index is not greater than its own. Activities must be numbered so that every successor comes after "
      "its predecessors, without cycles.";
  // 1-based: activity 3 (index 2) precedes activity 2 (index 1).
  EXPECT_EQ(fatalText(dir, "4  0 1 3  1 1 4  1 1 2  0 0"),
            fatal("Error in project file P1.RCP (project 1). Activity 2 has successor 1," + order));
  // A cycle between indices 1 and 2.
  EXPECT_EQ(fatalText(dir, "4  0 1 1  1 1 2  1 2 1 3  0 0"),
            fatal("Error in project file P1.RCP (project 1). Activity 2 has successor 1," + order));
  // A loose end numbered after the dummy end.
  EXPECT_EQ(fatalText(dir, "4  0 1 2  1 1 3  0 0  1 0"),
            fatal("Error in project file P1.RCP (project 1). Activity 3 has successor 2," + order));
}

TEST(ProjectReader, UnreadableFilesStopWithTheProjectNumber) {
  e2e::ScratchDirectory dir;
  configureResourceDataOnly();
  projectNumber = 42;
  {
    e2e::ConsoleCapture console("0\n");
    EXPECT_THROW(readProjectFile(), FatalStop);
    EXPECT_EQ(console.text(), fatal("Unable to open project file number:42 (P42.RCP)."));
  }
  const std::string lead = "Error in project file P1.RCP (project 1). ";
  EXPECT_EQ(fatalText(dir, ""),
            fatal(lead + "The file ends early or holds something other than a number where the number of "
                         "activities belongs."));
  EXPECT_EQ(fatalText(dir, "3 1 4  0 0 1 2  1 1"),
            fatal(lead + "The file ends early or holds something other than a number where the number of "
                         "successors of activity 1 belongs."));
  EXPECT_EQ(fatalText(dir, "3 1 4  0 0 1 2  1 x"),
            fatal(lead + "The file ends early or holds something other than a number where the resource use of "
                         "activity 1, mode 0 belongs."));
  EXPECT_EQ(fatalText(dir, "3 1 4  0 0 1 2  1 1 1 x"),
            fatal(lead + "The file ends early or holds something other than a number where the successor number "
                         "of activity 1 belongs."));
  EXPECT_EQ(fatalText(dir, "3 1 4  0 0 1 2  1 1 1 99999999999"),
            fatal(lead + "The file ends early or holds something other than a number where the successor number "
                         "of activity 1 belongs."));
}

TEST(ProjectReader, AbsurdCountsStop) {
  e2e::ScratchDirectory dir;
  configureResourceDataOnly();
  const std::string lead = "Error in project file P1.RCP (project 1). The ";
  EXPECT_EQ(fatalText(dir, "0 1 4"), fatal(lead + "number of activities is 0; it must be at least 1."));
  EXPECT_EQ(fatalText(dir, "3 -2 4"), fatal(lead + "number of renewable resources is -2; it must be at least 0."));
  EXPECT_EQ(fatalText(dir, "3 1 4  0 0 -1"),
            fatal(lead + "number of successors of activity 0 is -1; it must be at least 0."));
  runConfig.gv_CFG_mode_data = true;
  EXPECT_EQ(fatalText(dir, "3 1 4  1 0 0 1 2  0"),
            fatal(lead + "number of modes of activity 1 is 0; it must be at least 1."));
  // A huge count is not trusted for one allocation: the file simply ends early.
  runConfig.gv_CFG_mode_data = false;
  EXPECT_EQ(fatalText(dir, "2000000000 1 4  0 0 1 2"),
            fatal("Error in project file P1.RCP (project 1). The file ends early or holds something other than a "
                  "number where the duration of activity 1, mode 0 belongs."));
}

TEST(ProjectReader, ReleaseKeepsRateAndResources) {
  e2e::ScratchDirectory dir;
  configureResourceDataOnly();
  readProject(dir, kPattersonProject);
  releaseBaseNetwork();
  EXPECT_EQ(baseNetwork.activityCount, 0);
  EXPECT_TRUE(baseNetwork.activities.empty());
  EXPECT_EQ(baseNetwork.discountRate, 0.03);
  EXPECT_EQ(baseNetwork.resourceCount, 1);
  EXPECT_EQ(baseNetwork.resourceAvailability, std::vector<double>{4});
  // Without resource data the next project has none.
  runConfig.gv_CFG_rx_data = false;
  readProject(dir, "2  0 1 2  0 0");
  EXPECT_EQ(baseNetwork.resourceCount, 0);
  EXPECT_TRUE(baseNetwork.resourceAvailability.empty());
  EXPECT_TRUE(baseNetwork.activities[0].modes[0].resourceUse.empty());
}

// Values the solver cannot represent stop the reader, naming the file, the activity, the
// mode and the field; the bounds themselves are accepted.
TEST(ProjectReader, ValuesOutsideTheAcceptedRangesStop) {
  e2e::ScratchDirectory dir;
  configureResourceDataOnly();
  runConfig.gv_CFG_cost_data = true;
  runConfig.gv_CFG_pts_data = true;
  runConfig.gv_CFG_pms_data = true;
  runConfig.gv_CFG_rate_data = 1;
  // Count, rate, resources, availability; per activity duration, cost, PTS, PMS, use, successors.
  auto project = [](const std::string& rate, const std::string& middleMode) {
    return "3 " + rate + " 1 4  0 0 1 0 0 1 2  " + middleMode + " 1 3  0 100 1 0 0 0";
  };
  const std::string lead = "Error in project file P1.RCP (project 1). The ";
  const std::string amounts = "; costs and pay-offs must lie within -1e+12 and 1e+12.";
  const std::string durations = "; a duration must be 0 or lie within 1e-06 and 1e+12.";
  const std::string probabilities = "; a probability must lie within 0 and 1.";
  struct Case {
    std::string rate;
    std::string middleMode;  // duration cost pts pms use
    std::string message;     // empty: accepted
  };
  const Case cases[] = {
      {"0.01", "1e16 -5 1 0 1", "duration of activity 1, mode 0 is 1e+16" + durations},
      {"0.01", "1e-320 -5 1 0 1", "duration of activity 1, mode 0 is 9.99989e-321" + durations},
      {"0.01", "1e-7 -5 1 0 1", "duration of activity 1, mode 0 is 1e-07" + durations},
      {"0.01", "1e12 -5 1 0 1", ""},
      {"0.01", "1e-6 -5 1 0 1", ""},
      {"0.01", "2 1e39 1 0 1", "cost of activity 1, mode 0 is 1e+39" + amounts},
      {"0.01", "2 -1e308 1 0 1", "cost of activity 1, mode 0 is -1e+308" + amounts},
      {"0.01", "2 -1e12 1 0 1", ""},
      {"0.01", "2 -5 2 0 1", "probability of technical success of activity 1, mode 0 is 2" + probabilities},
      {"0.01", "2 -5 -1 0 1", "probability of technical success of activity 1, mode 0 is -1" + probabilities},
      {"0.01", "2 -5 0 1 1", ""},
      {"0.01", "2 -5 1 1e308 1", "probability of module success of activity 1, mode 0 is 1e+308" + probabilities},
      {"0.01", "2 -5 1 0 -1",
       "resource use of activity 1, mode 0 is -1; a resource use must be finite and not negative."},
      {"-0.25", "2 -5 1 0 1",
       "discount rate (read from the file) is -0.25; a discount rate must be finite and not "
       "negative."},
      {"0", "2 -5 1 0 1", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.middleMode);
    if (c.message.empty()) {
      readProject(dir, project(c.rate, c.middleMode));
      EXPECT_EQ(baseNetwork.activityCount, 3);
    } else {
      EXPECT_EQ(fatalText(dir, project(c.rate, c.middleMode)), fatal(lead + c.message));
    }
  }
  // The pay-off is the last activity's cost; a negative gv_rate is refused where it is used.
  EXPECT_EQ(fatalText(dir, "3 0.01 1 4  0 0 1 0 0 1 2  2 -5 1 0 1 1 3  0 1e13 1 0 0 0"),
            fatal(lead + "cost of activity 2, mode 0 is 1e+13" + amounts));
  runConfig.gv_CFG_rate_data = 0;
  runConfig.gv_rate = -0.5;
  EXPECT_EQ(fatalText(dir, "3 1 4  0 0 1 0 0 1 2  2 -5 1 0 1 1 3  0 100 1 0 0 0"),
            fatal(lead + "discount rate (gv_rate of CONFIG.DAT) is -0.5; a discount rate must be finite and not "
                         "negative."));
}

// Random networks whose successor lists repeat names at random places read as the same
// network as their lists without the repeats: successors in the order of their first names,
// each predecessor once.
TEST(ProjectReader, RandomDuplicateSuccessorsReadAsTheMergedNetwork) {
  e2e::ScratchDirectory dir;
  configureResourceDataOnly();
  runConfig.gv_CFG_rx_data = false;
  std::mt19937 random(20261209);
  auto below = [&](uint32_t n) { return static_cast<int>(random() % n); };
  for (int round = 0; round < 60; ++round) {
    SCOPED_TRACE(round);
    const int n = 3 + below(12);
    // 1-based successors with higher numbers; the last activity is the dummy end.
    std::vector<std::vector<int>> plain(static_cast<size_t>(n));
    for (int a = 1; a < n - 1; ++a) {
      for (int b = a + 1; b < n; ++b)
        if (below(3) == 0) plain[static_cast<size_t>(a) - 1].push_back(b + 1);
    }
    for (int a = 2; a < n; ++a) plain[0].push_back(a);  // the start precedes every inner activity
    std::vector<std::vector<int>> repeated = plain;
    for (std::vector<int>& list : repeated) {
      if (list.empty()) continue;
      for (int k = below(4); k > 0; --k) {
        const int name = list[static_cast<size_t>(below(static_cast<uint32_t>(list.size())))];
        list.insert(list.begin() + below(static_cast<uint32_t>(list.size()) + 1), name);
      }
    }
    auto fileOf = [&](const std::vector<std::vector<int>>& lists) {
      std::ostringstream text;
      text << n;
      for (int a = 0; a < n; ++a) {
        text << "  " << (a == 0 || a == n - 1 ? 0 : 1 + a % 3) << ' ' << lists[static_cast<size_t>(a)].size();
        for (int s : lists[static_cast<size_t>(a)]) text << ' ' << s;
      }
      return text.str() + "\n";
    };
    readProject(dir, fileOf(plain));
    const std::vector<Activity> expected = baseNetwork.activities;
    readProject(dir, fileOf(repeated));
    ASSERT_EQ(baseNetwork.activities.size(), expected.size());
    for (size_t a = 0; a < expected.size(); ++a) {
      // The first names keep their order: the repeats only ever come after a first name.
      std::vector<int32_t> firstNames;
      for (int s : repeated[a])
        if (std::find(firstNames.begin(), firstNames.end(), s - 1) == firstNames.end()) firstNames.push_back(s - 1);
      if (!repeated[a].empty()) {
        EXPECT_EQ(baseNetwork.activities[a].successors, firstNames) << a;
      }
      EXPECT_EQ(
          std::set<int32_t>(baseNetwork.activities[a].successors.begin(), baseNetwork.activities[a].successors.end()),
          std::set<int32_t>(expected[a].successors.begin(), expected[a].successors.end()))
          << a;
      EXPECT_EQ(baseNetwork.activities[a].predecessors.size(), expected[a].predecessors.size()) << a;
    }
  }
}

// The two Patterson-layout files that once ended in internal errors: a duplicate successor,
// and a dummy end in the module of an activity with module success (module and PMS data on).
// Both solve, to the makespan of their one activity of mean 3.
TEST(ProjectReaderE2e, DuplicateSuccessorAndDummyEndInAModuleSolve) {
  const std::string example =
      e2e::readWholeFile(e2e::fs::path(TERVANO_SOURCE_DIR) / "examples" / "patterson" / "CONFIG.DAT");
  auto turnOn = [](std::string config, const std::string& key) {
    const size_t label = config.find("[" + key + "].\n");
    const size_t value = config.find('\n', label) + 1;
    return config.substr(0, value) + "1" + config.substr(config.find('\n', value));
  };
  struct Case {
    std::string config;
    std::string project;
  };
  const Case cases[] = {
      {example, "3 1\n2\n0 0 2 2 2\n3 1 1 3\n0 0 0\n"},
      {turnOn(turnOn(example, "gv_CFG_pms_data"), "gv_CFG_mod_data"), "3 0\n0 0 1 2 0\n3 1 1 3 1\n0 0 0 1\n"},
  };
  for (const Case& c : cases) {
    e2e::WorkDirectory dir;
    dir.write("CONFIG.DAT", c.config);
    dir.write("PATTERSON_1.RCP", c.project);
    const e2e::RunOutput out = dir.run("0\n0\n");
    EXPECT_EQ(out.exitCode, 0) << out.console;
    EXPECT_NE(e2e::maskCpuTimes(out.console).find("PROJECT [1][R][M][E] NR_UDC: 3 CPU[*] OPT MAKESPAN: 3 CPU[*]"),
              std::string::npos)
        << out.console;
  }
}

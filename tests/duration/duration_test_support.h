// Shared set-up for the duration tests: small base networks filled by hand, a clean run
// configuration, console capture with an answer ready for the fatal prompt, and a
// Patterson-layout reader for the benchmark instances.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "duration/elementary_network.h"
#include "duration/markov_network.h"
#include "network/base_network.h"
#include "base/config.h"
#include "base/fatal.h"
#include "base/run_state.h"
#include "network/test_project.h"

namespace durtest {

inline ExecutionMode makeMode(double duration, double scv = 1.0, double cost = 0, double pts = 1.0, double pms = 0,
                              std::vector<double> use = {}) {
  return test_project::mode(duration, scv, cost, pts, pms, std::move(use));
}

struct ActivitySpec {
  std::vector<ExecutionMode> modes;
  std::vector<int32_t> successors;
  std::optional<int32_t> parentModule;  // none: the activity's own index
};

inline constexpr std::nullopt_t kOwnModule = std::nullopt;

// Fills baseNetwork as the reader would leave it: predecessors derived in index order.
inline void installBaseNetwork(const std::vector<ActivitySpec>& plans, std::vector<double> availability = {},
                               double discountRate = 0.01) {
  test_project::Project project;
  project.availability = std::move(availability);
  project.discountRate = discountRate;
  for (const ActivitySpec& plan : plans) project.activities.push_back({plan.modes, plan.successors, plan.parentModule});
  test_project::installBaseNetwork(project);
}

// Captures std::cout and offers one answer on std::cin for the fatal prompt.
class ConsoleCapture {
 public:
  ConsoleCapture() : input_("0\n") {
    oldOut_ = std::cout.rdbuf(output_.rdbuf());
    oldIn_ = std::cin.rdbuf(input_.rdbuf());
  }
  ~ConsoleCapture() {
    std::cout.rdbuf(oldOut_);
    std::cin.rdbuf(oldIn_);
    std::cin.clear();
  }
  std::string text() const { return output_.str(); }

 private:
  std::ostringstream output_;
  std::istringstream input_;
  std::streambuf* oldOut_;
  std::streambuf* oldIn_;
};

// Runs a step that must stop the run; returns what it printed.
inline std::string fatalOutputOf(const std::function<void()>& step) {
  ConsoleCapture console;
  bool stopped = false;
  try {
    step();
  } catch (const FatalStop&) {
    stopped = true;
  }
  EXPECT_TRUE(stopped) << "the step did not stop the run";
  return console.text();
}

inline std::string fatalText(const std::string& message) { return "\n" + message + "\nPress any key to quit..."; }

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Every test starts from empty stage records and a configuration that writes nothing;
// output files go to a directory of the test's own.
class DurationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    runConfig = RunConfig{};
    runConfig.gv_CFG_SCV_data = 1;
    runConfig.gv_CFG_skew_data = 1;
    baseNetwork = BaseNetwork{};
    markovNetwork = MarkovNetwork{};
    elementaryNetwork = ElementaryNetwork{};
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    directory_ = std::filesystem::temp_directory_path() /
                 ("tervano_dur_" + std::string(info->test_suite_name()) + "_" + info->name());
    std::filesystem::remove_all(directory_);
    std::filesystem::create_directories(directory_);
    runConfig.PJFileName = (directory_ / "NET_").string();
    projectNumber = 7;
  }
  void TearDown() override {
    releaseElementaryNetwork();
    releaseMarkovNetwork();
    baseNetwork = BaseNetwork{};
    std::filesystem::remove_all(directory_);
  }
  std::string outputPath(const std::string& extension) const {
    return runConfig.PJFileName + std::to_string(projectNumber) + extension;
  }
  void buildBoth() {
    buildMarkovNetwork();
    buildElementaryNetwork();
  }

 private:
  std::filesystem::path directory_;
};

// Patterson layout: activity count and resource count, availabilities, then per activity
// its duration, resource uses, successor count and 1-based successors.
inline bool installPattersonNetwork(const std::string& path) {
  std::ifstream in(path);
  int count = 0;
  int resources = 0;
  if (!(in >> count >> resources) || count <= 0 || resources < 0) return false;
  std::vector<double> availability(resources);
  for (double& value : availability) in >> value;
  std::vector<ActivitySpec> plans(count);
  for (ActivitySpec& plan : plans) {
    double duration = 0;
    in >> duration;
    std::vector<double> use(resources);
    for (double& value : use) in >> value;
    plan.modes.push_back(makeMode(duration, 1.0, 0, 1.0, 0, use));
    int successors = 0;
    in >> successors;
    for (int i = 0; i < successors; ++i) {
      int successor = 0;
      in >> successor;
      plan.successors.push_back(successor - 1);
    }
  }
  if (!in) return false;
  installBaseNetwork(plans, availability);
  return true;
}

// Start; an activity of mean 2 and SCV 0.5 (module 1); a two-mode activity (SCV 2 and 1,
// module 1); end. One resource of 5.
inline void installMixedProject() {
  std::vector<ActivitySpec> plans(4);
  plans[0] = {{makeMode(0, 1.0, 0, 1.0, 0, {0})}, {1, 2}, kOwnModule};
  plans[1] = {{makeMode(2, 0.5, -3, 0.9, 0.1, {2})}, {3}, 1};
  plans[2] = {{makeMode(1, 2.0, 0, 1.0, 0, {1}), makeMode(4, 1.0, -1, 0.8, 0.2, {3})}, {3}, 1};
  plans[3] = {{makeMode(0, 1.0, 0, 1.0, 0, {0})}, {}, kOwnModule};
  installBaseNetwork(plans, {5});
}

}  // namespace durtest

// Module success with the other members of the module still running or idle: they are
// cancelled and the followers enter. The two projects below stopped the solvers once with a
// missing state; without resources and costs, starting everything at once is optimal, so
// their minimal expected makespans have closed forms. Then random modular, multi-mode
// projects with risks of failure: every transition the solvers follow must land on a state
// that identification created, in memory and on disk alike.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "e2e/e2e_support.h"
#include "base/fatal.h"
#include "sdp/solver_fixture.h"
#include "sdp/solvers.h"

using namespace solver_test;

namespace {

// Every data flag on: rate, resources, modes, SCV, skewness, cost, PTS, PMS, modules.
std::string allFlagsConfig() {
  return e2e::configText({{"PJFileName", "M"},
                          {"gv_CFG_OBJ", "1"},
                          {"gv_CFG_cost_data", "1"},
                          {"gv_CFG_mod_data", "1"},
                          {"gv_CFG_mode_data", "1"},
                          {"gv_CFG_pts_data", "1"},
                          {"gv_CFG_pms_data", "1"},
                          {"gv_CFG_SCV_data", "1"},
                          {"gv_CFG_skew_data", "1"},
                          {"gv_CFG_rate_data", "1"},
                          {"gv_CFG_lnr", "2"}});
}

}  // namespace

TEST(ModuleSuccess, CancelledAlternativesAndModeChoiceSolveToTheirClosedForms) {
  e2e::WorkDirectory dir;
  dir.write("CONFIG.DAT", allFlagsConfig());
  // start -> A, B (one module; A exponential of mean 1 with module success 0.5, B Erlang-2 of
  // mean 2); A -> C (exponential, mean 1) -> end; B -> end. With S = A + C and B independent
  // Erlang-2 of rate 1, the makespan is S, or max(S, B) after a plain completion of A:
  // E = 2 + 0.5 E[(B - S)+] = 2 + 0.5 * 0.75.
  dir.write("M1.RCP",
            "5\n0.01\n0\n"
            "1\n0 1 0 0 1 0\n2 2 3\n1\n"
            "1\n1 1 0 0 1 0.5\n1 4\n9\n"
            "1\n2 0.5 0 0 1 0\n1 5\n9\n"
            "1\n1 1 0 0 1 0\n1 5\n4\n"
            "1\n0 1 0 0 1 0\n0\n5\n");
  // A module chain M1 -> M2 whose first member always ends with module success, beside X
  // with two modes, the first (mean 2) with module success 0.5, the second of mean 3: X's
  // first mode is chosen, E = E[max(Exp(1), Exp(1/2))] = 1 + 2 - 2/3.
  dir.write("M2.RCP",
            "5\n0.01\n0\n"
            "1\n0 1 0 0 1 0\n2 2 4\n1\n"
            "1\n1 1 0 -5 1 1\n1 3\n9\n"
            "1\n1 1 0 -5 1 0\n1 5\n9\n"
            "2\n2 1 0 -1 1 0.5\n3 1 0 -1 1 0\n1 5\n4\n"
            "1\n0 1 0 100 1 0\n0\n5\n");
  const e2e::RunOutput out = dir.run("0\n0\n");
  ASSERT_EQ(out.exitCode, 0) << out.console;
  const std::string console = e2e::maskCpuTimes(out.console);
  EXPECT_NE(console.find("PROJECT [1][R][M][E] NR_UDC: 8 CPU[*] OPT MAKESPAN: 2.375 CPU[*]"), std::string::npos)
      << console;
  EXPECT_NE(console.find("PROJECT [2][R][M][E] NR_UDC: 10 CPU[*] OPT MAKESPAN: 2.33333 CPU[*]"), std::string::npos)
      << console;
}

namespace {

// A random modular multi-mode project: start, n tasks with random precedences, end.
ProjectSpec randomModularProject(std::mt19937& random) {
  auto below = [&](uint32_t n) { return static_cast<int>(random() % n); };
  const int tasks = 4 + below(4);
  const int end = tasks + 1;
  ProjectSpec p;
  const int resources = below(3);
  for (int r = 0; r < resources; ++r) p.availability.push_back(3 + below(3));
  p.activities.push_back(dummy({}));
  std::vector<bool> hasPredecessor(static_cast<size_t>(end + 1), false);
  for (int a = 1; a <= tasks; ++a) {
    ActivitySpec activity;
    const int modes = 1 + below(2);
    for (int m = 0; m < modes; ++m) {
      ModeSpec mode;
      mode.duration = 1 + below(8);
      mode.scv = std::vector<double>{0.3, 0.5, 1.0, 1.0, 2.0}[static_cast<size_t>(below(5))];
      mode.cost = -1.0 - below(20);
      mode.pts = std::vector<double>{1.0, 1.0, 0.9, 0.7}[static_cast<size_t>(below(4))];
      mode.pms = std::vector<double>{0.0, 0.0, 0.3, 0.6, 1.0}[static_cast<size_t>(below(5))];
      for (int r = 0; r < resources; ++r) mode.use.push_back(below(static_cast<uint32_t>(p.availability[r]) + 1));
      activity.modes.push_back(mode);
    }
    for (int b = a + 1; b <= tasks; ++b)
      if (below(10) < 3) {
        activity.successors.push_back(b);
        hasPredecessor[static_cast<size_t>(b)] = true;
      }
    if (activity.successors.empty()) activity.successors.push_back(end);
    p.activities.push_back(activity);
  }
  for (int a = 1; a <= tasks; ++a)
    if (!hasPredecessor[static_cast<size_t>(a)]) p.activities[0].successors.push_back(a);
  p.activities.push_back(dummy({}, 100.0 + below(300)));
  // A few tasks join the module of another.
  for (int k = below(3); k > 0; --k) p.activities[static_cast<size_t>(1 + below(tasks))].module = 1 + below(tasks);
  p.discountRate = 0.01;
  return p;
}

}  // namespace

namespace {

// All four solvers on p give finite values, the primary of a two-objective run is the
// one-objective optimum, and (when asked) disk storage gives the values of memory.
void expectSolvedAlike(const ProjectSpec& p, bool onDiskToo) {
  const std::vector<Solver> solvers = {solveNpv, solveMakespan, solveNpvWithMakespan, solveMakespanWithNpv};
  std::vector<SolveResult> memory;
  EXPECT_NO_THROW(memory = solveWith(p, solvers));
  ASSERT_EQ(memory.size(), solvers.size());
  for (const SolveResult& result : memory) {
    EXPECT_TRUE(std::isfinite(result.optimum));
    EXPECT_TRUE(std::isfinite(result.secondary));
  }
  EXPECT_EQ(memory[2].optimum, memory[0].optimum);
  EXPECT_EQ(memory[3].optimum, memory[1].optimum);
  if (!onDiskToo) return;
  e2e::ScratchDirectory dir;  // state files go to a scratch directory
  std::vector<SolveResult> disk;
  EXPECT_NO_THROW(disk = solveWith(p, solvers, true));
  ASSERT_EQ(disk.size(), solvers.size());
  for (size_t i = 0; i < solvers.size(); ++i) EXPECT_EQ(disk[i].optimum, memory[i].optimum);
}

}  // namespace

TEST(ModuleSuccess, RandomModularProjectsLandOnIdentifiedStatesOnly) {
  std::mt19937 random(20261208);
  for (int project = 0; project < 40; ++project) {
    ProjectSpec p = randomModularProject(random);
    p.irq = project % 2 == 1;
    p.abandon = project % 4 >= 2;
    SCOPED_TRACE("project " + std::to_string(project));
    expectSolvedAlike(p, project % 8 == 0);
  }
}

// The dummy end in the module of a task with module success: the success completes the
// project (the end's ancestors count as done, the end itself is never cancelled). A (mean 1,
// module success pms) beside B (mean 2): the makespan is E[A] when pms is 1 and
// E[max(A, B)] = 1 + 2 - 2/3 when pms is 0, and in between their mixture on A's completion:
// pms E[A] + (1 - pms) E[max(A, B)].
TEST(ModuleSuccess, TheDummyEndInAModuleIsNeverCancelled) {
  for (double pms : {0.0, 0.5, 1.0}) {
    ProjectSpec p;
    p.activities = {dummy({1, 2}), task(1, {3}), task(2, {3}), dummy({})};
    p.activities[1].modes[0].pms = pms;
    p.activities[1].module = 1;
    p.activities[3].module = 1;
    const float makespan = solveOne(p, solveMakespan);
    EXPECT_NEAR(makespan, pms * 1.0 + (1 - pms) * (3.0 - 2.0 / 3.0), 1e-5) << pms;
  }
}

// Random projects whose dummy end shares the module of a task, with module successes.
TEST(ModuleSuccess, RandomProjectsWithTheEndInAModuleLandOnIdentifiedStatesOnly) {
  std::mt19937 random(20261209);
  for (int project = 0; project < 24; ++project) {
    ProjectSpec p = randomModularProject(random);
    const int end = static_cast<int>(p.activities.size()) - 1;
    const int holder = 1 + static_cast<int>(random() % static_cast<uint32_t>(end - 1));
    const int module = p.activities[static_cast<size_t>(holder)].module;
    p.activities[static_cast<size_t>(end)].module = module < 0 ? holder : module;
    p.activities[static_cast<size_t>(holder)].modes[0].pms = project % 3 == 0 ? 1.0 : 0.5;
    p.irq = project % 2 == 1;
    p.abandon = project % 4 >= 2;
    SCOPED_TRACE("project " + std::to_string(project));
    expectSolvedAlike(p, project % 6 == 0);
  }
}

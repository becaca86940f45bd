// The simulation of a kept policy against the solver: under its own phase-type model the
// simulated means of both objectives must agree with the exact values within their
// intervals, on networks with closed forms and on random small networks with every kind of
// duration, modes, modules, risks, resources, abandonment and decisions at phase changes;
// sampled durations must be spread over the phase chain so that they add up. On the same
// networks the readable policy, followed forwards with the probabilities it lists, must come
// to the exact values too.
#include <gtest/gtest.h>

#include <random>

#include <iostream>
#include <sstream>

#include "e2e/e2e_support.h"
#include "experiments/policy_simulation.h"
#include "base/random15.h"
#include "sdp/policy.h"
#include "sdp/policy_table.h"
#include "sdp/solver_fixture.h"

using namespace solver_test;

namespace {

struct Exact {
  double npv;
  double makespan;
};

// The policy of one of the two solves, simulated under the phase-type model, beside the
// exact values of that solve.
struct SimulatedSolve {
  Exact exact;
  PolicySimulation simulated;
};

SimulatedSolve simulateSolve(bool npvFirst, int32_t runs) {
  KeptPolicy policy;
  SolveResult result;
  if (npvFirst)
    solveNpvWithMakespanKeepingPolicy(result, policy);
  else
    solveMakespanWithNpvKeepingPolicy(result, policy);
  const Exact exact = npvFirst ? Exact{result.optimum, result.secondary} : Exact{result.secondary, result.optimum};
  projectSrand(2024);
  return {exact, simulatePolicy(policy, runs, nullptr, 64)};
}

void expectWithin(const PolicySimulation& simulated, Exact expected, double widths, const std::string& name) {
  const double slack = 1e-5 * std::max(1.0, std::fabs(expected.npv));
  EXPECT_NEAR(simulated.npv.mean, expected.npv, widths * halfWidth95(simulated.npv) + slack) << name;
  EXPECT_NEAR(simulated.makespan.mean, expected.makespan, widths * halfWidth95(simulated.makespan) + 1e-6) << name;
}

// The readable policy of one solve of the project built: written whole, a probability in
// ]0, 1] on every row, and followed forwards it comes to the solve's values (the other
// objective only where nothing is abandoned: the solver counts the makespan of going on).
void expectPolicyTableAgrees(bool npvFirst, bool mayAbandon, const std::string& name) {
  e2e::ScratchDirectory dir;
  KeptPolicy policy;
  SolveResult solved;
  if (npvFirst)
    solveNpvWithMakespanKeepingPolicy(solved, policy);
  else
    solveMakespanWithNpvKeepingPolicy(solved, policy);
  const PolicyTableResult table = writePolicyTable(policy, !npvFirst);
  ASSERT_GE(table.rows, 1) << name;
  const double npv = npvFirst ? solved.optimum : solved.secondary;
  const double makespan = npvFirst ? solved.secondary : solved.optimum;
  if (npvFirst || !mayAbandon) {
    EXPECT_NEAR(table.npv, npv, 1e-5 * std::max(1.0, std::fabs(npv))) << name;
  }
  if (!npvFirst || !table.abandoned) {
    EXPECT_NEAR(table.makespan, makespan, 1e-5 * std::max(1.0, makespan)) << name;
  }
  std::istringstream rows(dir.read("tst0.policy.csv"));
  std::string row;
  ASSERT_TRUE(std::getline(rows, row));
  EXPECT_EQ(row, kPolicyTableHeader);
  int64_t count = 0;
  for (; std::getline(rows, row); ++count) {
    std::vector<std::string> fields;
    std::istringstream cells(row);
    for (std::string cell; std::getline(cells, cell, ',');) fields.push_back(cell);
    ASSERT_EQ(fields.size(), 10u) << row;
    const double probability = std::stod(fields[5]);
    EXPECT_TRUE(probability > 0 && probability <= 1 + 1e-12) << name << ": " << row;
  }
  EXPECT_EQ(count, table.rows) << name;
  // One row more than the limit: no file, and standard error says why.
  std::ostringstream told;
  std::streambuf* const previous = std::cerr.rdbuf(told.rdbuf());
  const PolicyTableResult cut = writePolicyTable(policy, !npvFirst, table.rows - 1);
  std::cerr.rdbuf(previous);
  EXPECT_EQ(cut.rows, -1) << name;
  EXPECT_FALSE(dir.exists("tst0.policy.csv")) << name;
  EXPECT_NE(told.str().find("tst0.policy.csv is not written: the optimal policy of project 0 decides in more than " +
                            std::to_string(table.rows - 1) + " reachable states"),
            std::string::npos)
      << told.str();
}

// Both solves of the project, each with its policy simulated; every simulated mean must lie
// within `widths` half-widths of the solver's exact value. The readable policy of each agrees.
void expectSimulationAgrees(const ProjectSpec& plan, int32_t runs, double widths, const std::string& name) {
  ASSERT_TRUE(buildProject(plan)) << name;
  for (bool npvFirst : {true, false}) {
    const SimulatedSolve solve = simulateSolve(npvFirst, runs);
    expectWithin(solve.simulated, solve.exact, widths, name + (npvFirst ? " NPV first" : " makespan first"));
    EXPECT_EQ(solve.simulated.npv.count, runs);
    expectPolicyTableAgrees(npvFirst, plan.abandon, name + (npvFirst ? " table, NPV first" : " table, makespan first"));
  }
  releaseProject();
}

ProjectSpec oneTask(double duration, double scv, double payoff, double rate) {
  ProjectSpec p;
  p.activities = {dummy({1}), task(duration, {2}, -5.0, scv), dummy({}, payoff)};
  p.discountRate = rate;
  return p;
}

// A random project of two to four inner activities: random precedences, durations of every
// model, one or two modes, technical risks, a module of alternatives, one resource.
ProjectSpec randomProject(std::mt19937& random) {
  auto pick = [&](std::initializer_list<double> values) {
    return *(values.begin() + std::uniform_int_distribution<size_t>(0, values.size() - 1)(random));
  };
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const int inner = std::uniform_int_distribution<int>(2, 4)(random);
  const int end = inner + 1;
  ProjectSpec p;
  p.activities.resize(static_cast<size_t>(inner + 2));
  p.availability = {pick({2.0, 3.0})};
  for (int a = 1; a <= inner; ++a) {
    ActivitySpec& activity = p.activities[static_cast<size_t>(a)];
    const int modes = unit(random) < 0.25 ? 2 : 1;
    for (int m = 0; m < modes; ++m) {
      ModeSpec mode;
      mode.duration = pick({1.0, 2.0, 3.5, 5.0});
      mode.scv = pick({0.25, 0.4, 1.0, 2.0});
      mode.cost = -pick({1.0, 4.0, 10.0});
      mode.pts = pick({1.0, 1.0, 0.9, 0.7});
      mode.use = {pick({1.0, 1.0, 2.0})};
      activity.modes.push_back(mode);
    }
    for (int b = a + 1; b <= inner; ++b)
      if (unit(random) < 0.35) activity.successors.push_back(b);
    if (activity.successors.empty()) activity.successors.push_back(end);
  }
  p.activities[0] = dummy({});
  for (int a = 1; a <= inner; ++a) {
    bool hasPredecessor = false;
    for (int b = 1; b < a; ++b)
      for (int s : p.activities[static_cast<size_t>(b)].successors) hasPredecessor = hasPredecessor || s == a;
    if (!hasPredecessor) p.activities[0].successors.push_back(a);
  }
  p.activities[static_cast<size_t>(end)] = dummy({}, pick({60.0, 120.0}));
  // Two activities with the same predecessors and successors may form a module of
  // alternatives, each ending it on its technical success.
  if (inner >= 2 && p.activities[1].successors == p.activities[2].successors && unit(random) < 0.6 &&
      p.activities[1].modes.size() == 1 && p.activities[2].modes.size() == 1) {
    bool samePredecessors = true;
    for (const ActivitySpec& other : p.activities) {
      const bool to1 = std::count(other.successors.begin(), other.successors.end(), 1) > 0;
      const bool to2 = std::count(other.successors.begin(), other.successors.end(), 2) > 0;
      samePredecessors = samePredecessors && to1 == to2;
    }
    if (samePredecessors)
      for (int a : {1, 2}) {
        p.activities[static_cast<size_t>(a)].module = 1;
        p.activities[static_cast<size_t>(a)].modes[0].pms = 1.0;
      }
  }
  p.discountRate = pick({0.0, 0.02, 0.08});
  p.abandon = unit(random) < 0.5;
  p.irq = unit(random) < 0.5;
  return p;
}

}  // namespace

TEST(PolicySimulation, AgreesWithClosedForms) {
  struct Case {
    ProjectSpec plan;
    Exact expected;
  };
  ProjectSpec parallel;
  parallel.activities = {dummy({1, 2}), task(1.0, {3}), task(4.0, {3}), dummy({}, 40.0)};
  parallel.discountRate = 0.05;
  const double l1 = 1.0, l2 = 0.25, r = 0.05;
  const Case cases[] = {
      {oneTask(2.0, 1.0, 100.0, 0.1), {-5.0 + 100.0 * 0.5 / 0.6, 2.0}},
      // Four phases of rate 2.
      {oneTask(2.0, 0.25, 100.0, 0.1), {-5.0 + 100.0 * std::pow(2.0 / 2.1, 4), 2.0}},
      {parallel,
       {40.0 * (l1 / (r + l1) + l2 / (r + l2) - (l1 + l2) / (r + l1 + l2)),
        1.0 / (l1 + l2) + l1 / (l1 + l2) / l2 + l2 / (l1 + l2) / l1}},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(buildProject(c.plan));
    for (bool npvFirst : {true, false}) expectWithin(simulateSolve(npvFirst, 20000).simulated, c.expected, 1.0, "");
    releaseProject();
  }
  // Chains with a phase of their own and hyper-exponential mixtures, against the solver.
  for (double scv : {0.3, 3.0}) expectSimulationAgrees(oneTask(2.0, scv, 100.0, 0.1), 20000, 1.0, "one");
}

TEST(PolicySimulation, AgreesWithTheSolverOnRandomSmallNetworks) {
  // Two alternatives one after the other, then an expensive last activity: after the first
  // alternative fails, the dear second one is not worth it and the project is abandoned
  // (its cash flows stop, its makespan goes on as the solver counts it).
  ProjectSpec abandoned;
  abandoned.activities = {dummy({1, 2}), task(1.0, {3}, -1.0), task(1.0, {3}, -10.0), task(2.0, {4}, -60.0),
                          dummy({}, 100.0)};
  for (int a : {1, 2}) {
    abandoned.activities[static_cast<size_t>(a)].module = 1;
    abandoned.activities[static_cast<size_t>(a)].modes[0].pms = 1.0;
    abandoned.activities[static_cast<size_t>(a)].modes[0].use = {1.0};
  }
  abandoned.activities[1].modes[0].pts = 0.5;
  abandoned.activities[2].modes[0].pts = 0.2;
  abandoned.availability = {1.0};
  abandoned.discountRate = 0.05;
  abandoned.abandon = true;
  expectSimulationAgrees(abandoned, 20000, 2.0, "abandoned");
  std::mt19937 random(17);
  for (int i = 0; i < 24; ++i) {
    const ProjectSpec plan = randomProject(random);
    expectSimulationAgrees(plan, 20000, 2.0, "random " + std::to_string(i));
  }
}

// Samples replace the durations: an Erlang chain's scaled sojourns add up to the sample,
// so a single activity ends exactly at its sample and is discounted from there.
TEST(PolicySimulation, SampledDurationsAddUpOverThePhaseChain) {
  for (double scv : {1.0, 0.25, 0.3, 3.0}) {
    ASSERT_TRUE(buildProject(oneTask(2.0, scv, 100.0, 0.1)));
    KeptPolicy policy;
    SolveResult result;
    solveNpvWithMakespanKeepingPolicy(result, policy);
    const std::vector<double> samples = {1.5, 4.0, 0.25};
    DurationSamples durations;
    durations.byActivity = {nullptr, &samples, nullptr};
    projectSrand(5);
    const PolicySimulation simulated = simulatePolicy(policy, 3, &durations, 8);
    EXPECT_NEAR(simulated.makespan.mean, (1.5 + 4.0 + 0.25) / 3, 1e-12) << scv;
    const double npv = (std::exp(-0.15) + std::exp(-0.4) + std::exp(-0.025)) * 100.0 / 3 - 5.0;
    EXPECT_NEAR(simulated.npv.mean, npv, 1e-9) << scv;
    releaseProject();
  }
}

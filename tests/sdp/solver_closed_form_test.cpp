// Solver results against closed forms: single activities, parallel and serial pairs,
// Erlang phases, modes, technical success, abandonment and decisions at phase changes.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "sdp/solvers.h"
#include "sdp/solver_fixture.h"

using namespace solver_test;

namespace {

void expectClose(double actual, double expected) {
  EXPECT_NEAR(actual, expected, 2e-6 * std::max(1.0, std::fabs(expected)));
}

// start -> one task -> end, the end paying payoff.
ProjectSpec oneTask(double duration, double payoff, double rate, double taskCost = 0.0) {
  ProjectSpec p;
  p.activities = {dummy({1}), task(duration, {2}, taskCost), dummy({}, payoff)};
  p.discountRate = rate;
  return p;
}

// start -> two tasks -> end, each task using one unit of a resource of the given size.
ProjectSpec twoTasks(double d1, double d2, double capacity, double payoff, double rate) {
  ProjectSpec p;
  p.activities = {dummy({1, 2}), task(d1, {3}), task(d2, {3}), dummy({}, payoff)};
  p.activities[1].modes[0].use = {1.0};
  p.activities[2].modes[0].use = {1.0};
  p.availability = {capacity};
  p.discountRate = rate;
  return p;
}

}  // namespace

TEST(SolverClosedForm, OneExponentialActivity) {
  const double lambda = 0.5, r = 0.1, payoff = 100.0;
  expectClose(solveOne(oneTask(2.0, payoff, r), solveNpv), lambda / (r + lambda) * payoff);
  expectClose(solveOne(oneTask(2.0, payoff, r), solveMakespan), 1.0 / lambda);
  // The cost of a task is paid when it starts, undiscounted at time 0.
  expectClose(solveOne(oneTask(2.0, payoff, r, -7.0), solveNpv), -7.0 + lambda / (r + lambda) * payoff);
  // A single UDC-chain without discounting keeps the whole payoff.
  expectClose(solveOne(oneTask(2.0, payoff, 0.0), solveNpv), payoff);
}

TEST(SolverClosedForm, TwoParallelExponentials) {
  const double l1 = 1.0, l2 = 0.25, r = 0.05, payoff = 40.0;
  const double makespan = 1.0 / (l1 + l2) + l1 / (l1 + l2) / l2 + l2 / (l1 + l2) / l1;
  expectClose(solveOne(twoTasks(1.0, 4.0, 2.0, payoff, r), solveMakespan), makespan);
  const double npv = payoff * (l1 / (r + l1) + l2 / (r + l2) - (l1 + l2) / (r + l1 + l2));
  expectClose(solveOne(twoTasks(1.0, 4.0, 2.0, payoff, r), solveNpv), npv);
}

TEST(SolverClosedForm, ResourceConflictSerialises) {
  const double l1 = 1.0, l2 = 0.25, r = 0.05, payoff = 40.0;
  expectClose(solveOne(twoTasks(1.0, 4.0, 1.0, payoff, r), solveMakespan), (1.0 / l1 + 1.0 / l2));
  expectClose(solveOne(twoTasks(1.0, 4.0, 1.0, payoff, r), solveNpv), payoff * l1 / (r + l1) * l2 / (r + l2));
}

TEST(SolverClosedForm, ErlangChain) {
  // SCV 0.5 is fitted by two phases of rate 2/d each.
  const double d = 3.0, r = 0.2, payoff = 10.0, mu = 2.0 / d;
  ProjectSpec p = oneTask(d, payoff, r);
  p.activities[1].modes[0].scv = 0.5;
  expectClose(solveOne(p, solveMakespan), d);
  expectClose(solveOne(p, solveNpv), payoff * (mu / (r + mu)) * (mu / (r + mu)));
}

TEST(SolverClosedForm, ModeChoiceTakesTheBetterMode) {
  ProjectSpec p = oneTask(1.0, 100.0, 0.1);
  ModeSpec fast, slow;
  fast.duration = 1.0;
  fast.cost = -30.0;
  slow.duration = 4.0;
  slow.cost = -2.0;
  p.activities[1].modes = {fast, slow};
  expectClose(solveOne(p, solveMakespan), 1.0);
  const double viaFast = -30.0 + 1.0 / 1.1 * 100.0;
  const double viaSlow = -2.0 + 0.25 / 0.35 * 100.0;
  expectClose(solveOne(p, solveNpv), std::max(viaFast, viaSlow));
  p.activities[1].modes[1].cost = -40.0;
  expectClose(solveOne(p, solveNpv), viaFast);
}

TEST(SolverClosedForm, TechnicalFailureOfTheLastModuleMemberEndsTheProject) {
  const double lambda = 0.5, r = 0.1, payoff = 100.0;
  ProjectSpec p = oneTask(2.0, payoff, r);
  p.activities[1].modes[0].pts = 0.8;
  expectClose(solveOne(p, solveNpv), 0.8 * lambda / (r + lambda) * payoff);
  expectClose(solveOne(p, solveMakespan), 1.0 / lambda);
}

TEST(SolverClosedForm, AbandonmentFloorsLosingProjectsAtZero) {
  ProjectSpec p = oneTask(2.0, 50.0, 0.1, -100.0);
  expectClose(solveOne(p, solveNpv), -100.0 + 0.5 / 0.6 * 50.0);
  p.abandon = true;
  EXPECT_EQ(solveOne(p, solveNpv), 0.0f);
  // A loss that only shows after the first task: abandoning then keeps the first payoff.
  ProjectSpec q;
  q.activities = {dummy({1}), task(1.0, {2}, 0.0), task(1.0, {3}, -100.0), dummy({}, 20.0)};
  q.discountRate = 0.1;
  EXPECT_LT(solveOne(q, solveNpv), 0.0f);
  q.abandon = true;
  EXPECT_EQ(solveOne(q, solveNpv), 0.0f);
  // A winning project is untouched by the floor.
  ProjectSpec w = oneTask(2.0, 50.0, 0.1, -10.0);
  const float without = solveOne(w, solveNpv);
  w.abandon = true;
  EXPECT_EQ(solveOne(w, solveNpv), without);
}

TEST(SolverClosedForm, DecisionsAtPhaseChangesOnlyWithIrq) {
  // B's outlay is best paid late: with irq it starts when A (four phases) is in its last
  // phases; without, only at time 0 or when A ends.
  ProjectSpec p;
  p.activities = {dummy({1, 2}), task(8.0, {3}, 0.0, 0.25), task(1.0, {3}, -10.0), dummy({}, 100.0)};
  p.discountRate = 0.1;
  const float off = solveOne(p, solveNpv);
  p.irq = true;
  const float on = solveOne(p, solveNpv);
  EXPECT_NEAR(off, 39.0187f, 1e-3f);
  EXPECT_NEAR(on, 40.7942f, 1e-3f);
  // Without a decision to take at the phase change, irq changes nothing.
  ProjectSpec chain = oneTask(3.0, 10.0, 0.2);
  chain.activities[1].modes[0].scv = 0.5;
  const float chainOff = solveOne(chain, solveNpv);
  chain.irq = true;
  EXPECT_EQ(solveOne(chain, solveNpv), chainOff);
}

TEST(SolverClosedForm, ParallelExponentialsOnOneResource) {
  // n exponential tasks of mean 1 on a resource of capacity c, one unit each: keeping c busy
  // is optimal, so the makespan is (n - c) / c until c remain, then the expected maximum of
  // c of them, H(c). One cutset holds all n tasks: the walk, the finger search and the
  // finished members across a wide UDC.
  for (auto [n, c] : {std::pair{10, 2}, std::pair{10, 3}, std::pair{12, 1}}) {
    ProjectSpec p;
    p.activities.push_back(dummy({}));
    for (int a = 1; a <= n; ++a) {
      p.activities[0].successors.push_back(a);
      ActivitySpec t = task(1.0, {n + 1});
      t.modes[0].use = {1.0};
      p.activities.push_back(t);
    }
    p.activities.push_back(dummy({}, 0.0));
    p.availability = {static_cast<double>(c)};
    double harmonic = 0;
    for (int k = 1; k <= c; ++k) harmonic += 1.0 / k;
    SCOPED_TRACE(std::to_string(n) + " on " + std::to_string(c));
    expectClose(solveOne(p, solveMakespan), (static_cast<double>(n - c) / c + harmonic));
  }
}

// The variances that ride along with the optimised objective, against closed forms: one
// exponential, Erlang and hyperexponential durations, a chain, two parallel activities, the
// discounted square of a pay-off, a risk of technical failure and abandonment worked by
// hand; and every allowed choice of measures against the single-measure solves, in memory
// and on disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "e2e/e2e_support.h"
#include "sdp/solver_fixture.h"
#include "sdp/solvers.h"

using namespace solver_test;

namespace {

constexpr Measure kNpv = Measure::kNpv;
constexpr Measure kMakespan = Measure::kMakespan;
constexpr Measure kNpvVariance = Measure::kNpvVariance;
constexpr Measure kMakespanVariance = Measure::kMakespanVariance;

struct Asked {
  Measure objective;
  std::vector<Measure> measures;
};

// Builds the project once and solves it for each choice, in memory or on disk.
std::vector<SolveResult> solveAsked(const ProjectSpec& plan, const std::vector<Asked>& asked, bool onDisk = false) {
  std::vector<SolveResult> results;
  if (!buildProject(plan)) {
    ADD_FAILURE() << "identification failed";
    return results;
  }
  for (const Asked& a : asked) {
    useDiskStorage = onDisk;
    SolveResult result;
    solveWithMeasures(a.objective, a.measures, result);
    results.push_back(result);
  }
  releaseProject();
  useDiskStorage = false;
  return results;
}

// Mean and variance of the optimal makespan, and the makespan variance of the NPV-optimal
// policy, which is the same policy when a discounted pay-off at the end is all there is:
// every activity starts as soon as it can.
struct MakespanMoments {
  double mean = NAN;
  double variance = NAN;
  double varianceUnderNpv = NAN;
};

MakespanMoments makespanMoments(ProjectSpec plan) {
  plan.activities.back().modes[0].cost = 100.0;
  plan.discountRate = 0.05;
  const std::vector<SolveResult> r =
      solveAsked(plan, {{kMakespan, {kMakespanVariance}}, {kNpv, {kMakespan, kMakespanVariance}}});
  if (r.size() != 2) return {};
  return {r[0].optimum, r[0].secondary, r[1].third};
}

ProjectSpec single(double mean, double scv) {
  ProjectSpec p;
  p.activities = {dummy({1}), task(mean, {2}, 0.0, scv), dummy({})};
  return p;
}

double relative(double expected) { return 2e-6 * std::max(1.0, std::fabs(expected)); }

}  // namespace

TEST(SolverVariance, OneActivityOfEveryDurationKind) {
  // Exponential: m^2; Erlang-k (SCV 1/k): m^2 / k; other SCVs: SCV m^2, the fit keeps the
  // first two moments.
  for (double scv : {1.0, 0.5, 0.25, 1.0 / 3.0, 0.7, 2.0, 4.0}) {
    const double m = 3.0;
    const MakespanMoments moments = makespanMoments(single(m, scv));
    EXPECT_NEAR(moments.mean, m, relative(m)) << scv;
    EXPECT_NEAR(moments.variance, scv * m * m, relative(m * m)) << scv;
    EXPECT_NEAR(moments.varianceUnderNpv, scv * m * m, relative(m * m)) << scv;
  }
}

TEST(SolverVariance, ChainAddsItsVariances) {
  ProjectSpec p;
  p.activities = {dummy({1}), task(2.0, {2}, 0.0, 1.0), task(5.0, {3}, 0.0, 0.5), task(1.5, {4}, 0.0, 2.0), dummy({})};
  const MakespanMoments moments = makespanMoments(p);
  const double variance = 2.0 * 2.0 + 0.5 * 25.0 + 2.0 * 2.25;
  EXPECT_NEAR(moments.mean, 8.5, relative(8.5));
  EXPECT_NEAR(moments.variance, variance, relative(variance));
  EXPECT_NEAR(moments.varianceUnderNpv, variance, relative(variance));
}

TEST(SolverVariance, TwoParallelExponentialsTakeTheMaximum) {
  const double a = 1.0 / 2.0, b = 1.0 / 3.0;
  ProjectSpec p;
  p.activities = {dummy({1, 2}), task(1.0 / a, {3}), task(1.0 / b, {3}), dummy({})};
  const double mean = 1.0 / a + 1.0 / b - 1.0 / (a + b);
  const double square = 2.0 / (a * a) + 2.0 / (b * b) - 2.0 / ((a + b) * (a + b));
  const MakespanMoments moments = makespanMoments(p);
  EXPECT_NEAR(moments.mean, mean, relative(mean));
  EXPECT_NEAR(moments.variance, square - mean * mean, relative(square));
  EXPECT_NEAR(moments.varianceUnderNpv, square - mean * mean, relative(square));
}

TEST(SolverVariance, DiscountedPayoffOfOneActivity) {
  // Cost c at the start, pay-off P at the end: NPV = c + e^(-rS) P, whose variance is
  // P^2 (l / (l + 2r) - (l / (l + r))^2), whichever objective is optimised.
  const double lambda = 0.25, rate = 0.05, cost = -7.0, payoff = 80.0;
  ProjectSpec p;
  p.activities = {dummy({1}), task(1.0 / lambda, {2}, cost), dummy({}, payoff)};
  p.discountRate = rate;
  const double once = lambda / (lambda + rate);
  const double twice = lambda / (lambda + 2.0 * rate);
  const double variance = payoff * payoff * (twice - once * once);
  const std::vector<SolveResult> r =
      solveAsked(p, {{kNpv, {kNpvVariance}}, {kMakespan, {kNpv, kNpvVariance}}, {kMakespan, {kNpvVariance}}});
  ASSERT_EQ(r.size(), 3u);
  EXPECT_NEAR(r[0].optimum, cost + once * payoff, relative(payoff));
  EXPECT_NEAR(r[0].secondary, variance, relative(payoff * payoff));
  EXPECT_NEAR(r[1].secondary, cost + once * payoff, relative(payoff));
  EXPECT_NEAR(r[1].third, variance, relative(payoff * payoff));
  EXPECT_EQ(r[2].secondary, r[1].third);
}

namespace {

// A then B, A at risk of technical failure (probability of success pts), which ends the
// project at A's end; costs at the starts and a pay-off at the end.
struct RiskyChain {
  double a = 0.5, b = 0.2, pts = 0.7, rate = 0.04;
  double costA = -3.0, costB = -10.0, payoff = 60.0;

  ProjectSpec project(bool abandon) const {
    ProjectSpec p;
    ActivitySpec first = task(1.0 / a, {2}, costA);
    first.modes[0].pts = pts;
    p.activities = {dummy({1}), first, task(1.0 / b, {3}, costB), dummy({}, payoff)};
    p.discountRate = rate;
    p.abandon = abandon;
    return p;
  }
  // T = S_A + X S_B with X ~ Bernoulli(pts): the policy goes on to B whenever A succeeds.
  double makespanMean() const { return 1.0 / a + pts / b; }
  double makespanVariance() const {
    const double square = 2.0 / (a * a) + 2.0 * pts / (a * b) + 2.0 * pts / (b * b);
    return square - makespanMean() * makespanMean();
  }
  // N = cA + X e^(-r S_A) K, K = cB + e^(-r S_B) P.
  double npvMean() const { return costA + pts * a / (a + rate) * (costB + b / (b + rate) * payoff); }
  double npvVariance() const {
    const double k = costB + b / (b + rate) * payoff;
    const double kSquare =
        costB * costB + 2.0 * costB * b / (b + rate) * payoff + b / (b + 2.0 * rate) * payoff * payoff;
    const double square = costA * costA + 2.0 * costA * pts * a / (a + rate) * k + pts * a / (a + 2.0 * rate) * kSquare;
    return square - npvMean() * npvMean();
  }
};

}  // namespace

TEST(SolverVariance, FailureEndsTheProject) {
  const RiskyChain chain;
  for (bool abandon : {false, true}) {  // nothing is worth abandoning here
    const std::vector<SolveResult> r = solveAsked(
        chain.project(abandon),
        {{kNpv, {kMakespan, kNpvVariance, kMakespanVariance}}, {kMakespan, {kMakespanVariance, kNpvVariance, kNpv}}});
    ASSERT_EQ(r.size(), 2u);
    EXPECT_NEAR(r[0].optimum, chain.npvMean(), relative(chain.payoff));
    EXPECT_NEAR(r[0].secondary, chain.makespanMean(), relative(10.0));
    EXPECT_NEAR(r[0].third, chain.npvVariance(), relative(chain.payoff * chain.payoff));
    EXPECT_NEAR(r[0].fourth, chain.makespanVariance(), relative(100.0));
    EXPECT_NEAR(r[1].optimum, chain.makespanMean(), relative(10.0));
    EXPECT_NEAR(r[1].secondary, chain.makespanVariance(), relative(100.0));
    EXPECT_NEAR(r[1].third, chain.npvVariance(), relative(chain.payoff * chain.payoff));
    EXPECT_NEAR(r[1].fourth, chain.npvMean(), relative(chain.payoff));
  }
}

TEST(SolverVariance, AbandonmentEndsTheCashFlowsButNotTheMakespan) {
  // A pays 5 at its start; B costs more than the discounted pay-off brings, so once A is
  // done the project is abandoned: the NPV is 5 for sure. The makespan of the policy counts
  // going on, as the expected makespan always has.
  RiskyChain chain;
  chain.costA = 5.0;
  chain.costB = -40.0;
  chain.payoff = 30.0;
  const std::vector<SolveResult> kept = solveAsked(chain.project(false), {{kNpv, {kNpvVariance}}});
  const std::vector<SolveResult> r = solveAsked(
      chain.project(true), {{kNpv, {kNpvVariance, kMakespan, kMakespanVariance}}, {kMakespan, {kNpv, kNpvVariance}}});
  ASSERT_EQ(kept.size(), 1u);
  ASSERT_EQ(r.size(), 2u);
  EXPECT_NEAR(kept[0].secondary, chain.npvVariance(), relative(1600.0));
  EXPECT_GT(kept[0].secondary, 1.0f);
  EXPECT_NEAR(r[0].optimum, 5.0, 1e-5);
  EXPECT_EQ(r[0].secondary, 0.0f);
  EXPECT_NEAR(r[0].third, chain.makespanMean(), relative(10.0));
  EXPECT_NEAR(r[0].fourth, chain.makespanVariance(), relative(100.0));
  // Under the makespan policy the NPV riding along is floored by its own values as well.
  EXPECT_NEAR(r[1].secondary, 5.0, 1e-5);
  EXPECT_EQ(r[1].third, 0.0f);
}

namespace {

// Every ordered list of distinct measures other than the objective, of length 0 to 3.
std::vector<std::vector<Measure>> measureLists(Measure objective) {
  std::vector<Measure> others;
  for (Measure m : {kNpv, kMakespan, kNpvVariance, kMakespanVariance})
    if (m != objective) others.push_back(m);
  std::vector<std::vector<Measure>> lists = {{}};
  for (size_t length = 1; length <= others.size(); ++length) {
    std::vector<Measure> list;
    std::vector<bool> used(others.size(), false);
    auto extend = [&](auto&& self) -> void {
      if (list.size() == length) {
        lists.push_back(list);
        return;
      }
      for (size_t i = 0; i < others.size(); ++i) {
        if (used[i]) continue;
        used[i] = true;
        list.push_back(others[i]);
        self(self);
        list.pop_back();
        used[i] = false;
      }
    };
    extend(extend);
  }
  return lists;
}

}  // namespace

TEST(SolverVariance, EveryChoiceOfMeasuresAgreesWithTheSingleMeasures) {
  // A measure never decides: the objective is that of the solve without measures, and each
  // measure the value of the solve that asks for it alone, in whatever company and order.
  for (bool abandon : {false, true})
    for (bool irq : {false, true}) {
      const ProjectSpec p = richProject(abandon, irq);
      for (Measure objective : {kNpv, kMakespan}) {
        const std::vector<std::vector<Measure>> lists = measureLists(objective);
        ASSERT_EQ(lists.size(), 16u);
        std::vector<Asked> asked;
        for (const std::vector<Measure>& list : lists) asked.push_back({objective, list});
        const std::vector<SolveResult> r = solveAsked(p, asked);
        ASSERT_EQ(r.size(), lists.size());
        auto alone = [&](Measure m) {
          for (size_t i = 0; i < lists.size(); ++i)
            if (lists[i].size() == 1 && lists[i][0] == m) return r[i].secondary;
          return NAN;
        };
        for (size_t i = 0; i < lists.size(); ++i) {
          EXPECT_EQ(r[i].optimum, r[0].optimum) << i;
          for (size_t k = 0; k < lists[i].size(); ++k) {
            EXPECT_EQ(measureValue(r[i], static_cast<int>(k)), alone(lists[i][k])) << i << " " << k;
            if (lists[i][k] == kNpvVariance || lists[i][k] == kMakespanVariance) {
              EXPECT_GT(measureValue(r[i], static_cast<int>(k)), 0.0f) << i << " " << k;
            }
          }
        }
      }
    }
}

TEST(SolverVariance, DiskGivesTheValuesOfMemory) {
  e2e::ScratchDirectory dir;
  const ProjectSpec p = richProject(true, true);
  const std::vector<Asked> asked = {{kNpv, {kMakespanVariance, kMakespan, kNpvVariance}},
                                    {kMakespan, {kNpvVariance, kMakespanVariance}}};
  const std::vector<SolveResult> memory = solveAsked(p, asked, false);
  const std::vector<SolveResult> disk = solveAsked(p, asked, true);
  ASSERT_EQ(memory.size(), disk.size());
  for (size_t i = 0; i < memory.size(); ++i) {
    EXPECT_EQ(memory[i].optimum, disk[i].optimum);
    EXPECT_EQ(memory[i].secondary, disk[i].secondary);
    EXPECT_EQ(memory[i].third, disk[i].third);
    EXPECT_EQ(memory[i].fourth, disk[i].fourth);
  }
}

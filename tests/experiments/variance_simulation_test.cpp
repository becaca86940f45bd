// The exact variances against runs of the optimal policy on a resource-constrained project
// at SCV 0.5, 1 and 2, with and without decisions during execution: the runs are taken in
// batches, and the mean of the batches' sample variances must agree with the solver's
// variance within its interval, for the NPV and the makespan and for either objective
// optimised.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "base/random15.h"
#include "experiments/policy_simulation.h"
#include "sdp/policy.h"
#include "sdp/solver_fixture.h"

using namespace solver_test;

namespace {

// Five tasks on one resource of 2 units, each taking 1: at most two run at once, so the
// policy chooses which to start; costs at the starts and a pay-off at the end.
ProjectSpec constrainedProject(double scv, bool irq) {
  ProjectSpec p;
  auto job = [&](double duration, std::vector<int> successors, double cost) {
    ActivitySpec a = task(duration, std::move(successors), cost, scv);
    a.modes[0].use = {1.0};
    return a;
  };
  p.activities = {dummy({1, 2, 3}),    job(3.0, {4}, -4.0), job(5.0, {4}, -6.0), job(2.0, {5}, -2.0),
                  job(4.0, {5}, -5.0), job(1.0, {6}, -1.0), dummy({}, 80.0)};
  p.availability = {2.0};
  p.discountRate = 0.03;
  p.irq = irq;
  return p;
}

// Sample variances of `batches` independent batches of runs: their mean and the half-width
// of its 95 % interval.
struct BatchVariance {
  RunningMean npv;
  RunningMean makespan;
};

BatchVariance simulateBatches(const KeptPolicy& policy, int batches, int32_t runs) {
  BatchVariance result;
  for (int b = 0; b < batches; ++b) {
    const PolicySimulation simulated = simulatePolicy(policy, runs, nullptr, 64);
    addToMean(result.npv, simulated.npv.squares / static_cast<double>(simulated.npv.count - 1));
    addToMean(result.makespan, simulated.makespan.squares / static_cast<double>(simulated.makespan.count - 1));
  }
  return result;
}

}  // namespace

TEST(VarianceSimulation, RunsOfThePolicyAgreeWithTheExactVariances) {
  projectSrand(4711);
  for (double scv : {0.5, 1.0, 2.0}) {
    for (bool irq : {false, true}) {
      ASSERT_TRUE(buildProject(constrainedProject(scv, irq)));
      for (Measure objective : {Measure::kNpv, Measure::kMakespan}) {
        const std::string name =
            "SCV " + std::to_string(scv) + (irq ? " irq" : "") + (objective == Measure::kNpv ? " NPV" : " makespan");
        const Measure other = objective == Measure::kNpv ? Measure::kMakespan : Measure::kNpv;
        KeptPolicy policy;
        SolveResult exact;
        solveWithMeasuresKeepingPolicy(objective, {other, Measure::kNpvVariance, Measure::kMakespanVariance}, exact,
                                       policy);
        // Kept or not, the solve gives the same values.
        SolveResult plain;
        solveWithMeasures(objective, {Measure::kMakespanVariance, Measure::kNpvVariance}, plain);
        EXPECT_EQ(plain.secondary, exact.fourth) << name;
        EXPECT_EQ(plain.third, exact.third) << name;

        const BatchVariance simulated = simulateBatches(policy, 24, 1500);
        const double npvVariance = exact.third;
        const double makespanVariance = exact.fourth;
        EXPECT_GT(npvVariance, 0.0) << name;
        EXPECT_GT(makespanVariance, 0.0) << name;
        // 1.5 interval widths: 24 checks at 95 % each would fail too often at one width.
        EXPECT_NEAR(simulated.npv.mean, npvVariance, 1.5 * halfWidth95(simulated.npv)) << name;
        EXPECT_NEAR(simulated.makespan.mean, makespanVariance, 1.5 * halfWidth95(simulated.makespan)) << name;
        releaseKeptPolicy(policy);
      }
      releaseProject();
    }
  }
}

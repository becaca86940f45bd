// Phase-type fitting: the chain chosen for each SCV, its rates, moments recomputed from
// the chain itself, and the inputs and checks that stop the run.
#include <cmath>
#include <limits>
#include <random>
#include <sstream>

#include "duration/phase_type.h"
#include "duration_test_support.h"

namespace {

using durtest::fatalOutputOf;
using durtest::fatalText;

// Mean and SCV of the time to absorption, from the chain (phases only move forward):
// first and second moments of the time to absorption from each phase, last phase first.
void chainMoments(const PhaseTypeModel& model, double& mean, double& scv) {
  const int z = model.phaseCount;
  std::vector<double> first(z, 0.0), second(z, 0.0);
  for (int p = z - 1; p >= 0; --p) {
    const double out = -model.generator[p][p];
    double m1 = 1.0 / out;
    double m2 = 2.0 / (out * out);
    for (int q = p + 1; q < z; ++q) {
      const double move = model.generator[p][q] / out;
      m1 += move * first[q];
      m2 += move * (second[q] + 2.0 * first[q] / out);
    }
    first[p] = m1;
    second[p] = m2;
  }
  double m1 = 0, m2 = 0;
  for (int p = 0; p < z; ++p) {
    m1 += model.initialProbability[p] * first[p];
    m2 += model.initialProbability[p] * second[p];
  }
  mean = m1;
  scv = (m2 - m1 * m1) / (m1 * m1);
}

// Rows of a generator sum to zero with the absorption rate.
void expectConsistentGenerator(const PhaseTypeModel& model) {
  ASSERT_EQ(model.phaseCount, static_cast<int>(model.generator.size()));
  double initial = 0;
  for (int p = 0; p < model.phaseCount; ++p) {
    initial += model.initialProbability[p];
    double row = model.absorptionRate[p];
    for (int q = 0; q < model.phaseCount; ++q) {
      row += model.generator[p][q];
      if (q < p) {
        EXPECT_EQ(model.generator[p][q], 0.0);
      }
    }
    EXPECT_NEAR(row, 0.0, 1e-12 * std::fabs(model.generator[p][p]));
  }
  EXPECT_NEAR(initial, 1.0, 1e-15);
}

TEST(PhaseTypeFit, ErlangForQuarterScv) {
  const PhaseTypeModel model = fitPhaseType(10, 0.25, 0, 0, 0);
  ASSERT_EQ(model.phaseCount, 4);
  EXPECT_EQ(model.initialProbability, (std::vector<double>{1, 0, 0, 0}));
  for (int p = 0; p < 4; ++p) {
    EXPECT_DOUBLE_EQ(model.generator[p][p], -0.4);
    if (p < 3) {
      EXPECT_DOUBLE_EQ(model.generator[p][p + 1], 0.4);
    }
    EXPECT_EQ(model.absorptionRate[p], p == 3 ? -model.generator[3][3] : 0.0);
  }
  expectConsistentGenerator(model);
}

TEST(PhaseTypeFit, HypoExponentialWithUnequalLastRate) {
  const PhaseTypeModel model = fitPhaseType(10, 0.4, 0, 0, 0);
  ASSERT_EQ(model.phaseCount, 3);
  const double mu = -model.generator[0][0];
  const double lambda = -model.generator[2][2];
  EXPECT_EQ(model.generator[1][1], -mu);
  EXPECT_EQ(model.generator[0][1], mu);
  EXPECT_EQ(model.generator[1][2], mu);
  EXPECT_GT(std::fabs(mu - lambda), 0.1);
  // S = sqrt(40): mu = 6 / (20 + S), lambda = 3 / (10 - S).
  EXPECT_NEAR(mu, 6.0 / (20.0 + std::sqrt(40.0)), 1e-15);
  EXPECT_NEAR(lambda, 3.0 / (10.0 - std::sqrt(40.0)), 1e-15);
  double mean = 0, scv = 0;
  chainMoments(model, mean, scv);
  EXPECT_NEAR(mean, 10.0, 1e-12);
  EXPECT_NEAR(scv, 0.4, 1e-12);
  expectConsistentGenerator(model);
}

// Rounding makes the radicand of S slightly negative for these; clamped, they are Erlang.
TEST(PhaseTypeFit, ClampedRadicandGivesErlangChains) {
  for (int k : {3, 6, 7, 12}) {
    for (double d : {1.0, 3.5, 10.0}) {
      SCOPED_TRACE(testing::Message() << "1/c = " << k << ", d = " << d);
      const double c = 1.0 / k;
      const PhaseTypeModel model = fitPhaseType(d, c, 0, 0, 0);
      ASSERT_EQ(model.phaseCount, k);
      for (int p = 0; p < k; ++p) {
        ASSERT_TRUE(std::isfinite(model.generator[p][p]));
        EXPECT_NEAR(model.generator[p][p], -k / d, 1e-12 * k / d);
      }
      double mean = 0, scv = 0;
      chainMoments(model, mean, scv);
      EXPECT_NEAR(mean, d, 1e-12 * d);
      EXPECT_NEAR(scv, c, 1e-12);
    }
  }
}

TEST(PhaseTypeFit, EverySubExponentialScvFitsWithinTolerance) {
  std::mt19937 random(12345);
  std::uniform_real_distribution<double> scvDraw(0.02, 0.999);
  std::uniform_real_distribution<double> durationDraw(0.01, 1000.0);
  for (int i = 0; i < 300; ++i) {
    const double c = i < 50 ? 1.0 / (i + 2) : scvDraw(random);
    const double d = durationDraw(random);
    SCOPED_TRACE(testing::Message() << "d = " << d << ", c = " << c);
    const PhaseTypeModel model = fitPhaseType(d, c, 0, 0, 0);
    // The ceiling of 1/c, give or take the rounding of 1/c itself.
    EXPECT_GE(model.phaseCount, 1.0 / c - 1e-9);
    EXPECT_LT(model.phaseCount - 1, 1.0 / c + 1e-9);
    double mean = 0, scv = 0;
    chainMoments(model, mean, scv);
    EXPECT_NEAR(mean / d, 1.0, 1e-9);
    EXPECT_NEAR(scv, c, 1e-9);
  }
}

TEST(PhaseTypeFit, HyperExponentialForScvTwo) {
  const PhaseTypeModel model = fitPhaseType(1, 2, 0, 0, 0);
  ASSERT_EQ(model.phaseCount, 2);
  EXPECT_DOUBLE_EQ(model.initialProbability[0], 1.0 / 3.0);
  EXPECT_DOUBLE_EQ(model.initialProbability[1], 2.0 / 3.0);
  EXPECT_EQ(model.generator[0][0], -0.5);
  EXPECT_EQ(model.generator[1][1], -2.0);
  EXPECT_EQ(model.generator[0][1], 0.0);
  EXPECT_EQ(model.absorptionRate, (std::vector<double>{0.5, 2.0}));
  double mean = 0, scv = 0;
  chainMoments(model, mean, scv);
  EXPECT_NEAR(mean, 1.0, 1e-14);
  EXPECT_NEAR(scv, 2.0, 1e-14);
}

TEST(PhaseTypeFit, SerialExponentialForScvTwo) {
  const PhaseTypeModel model = fitPhaseType(1, 2, 0.5, 0, 0);
  ASSERT_EQ(model.phaseCount, 2);
  EXPECT_EQ(model.initialProbability, (std::vector<double>{1.0, 0.0}));
  EXPECT_EQ(model.generator[0][0], -2.0);
  EXPECT_EQ(model.generator[0][1], 0.25 * 2.0);
  EXPECT_EQ(model.absorptionRate[0], 0.75 * 2.0);
  EXPECT_EQ(model.generator[1][1], -0.5);
  EXPECT_EQ(model.absorptionRate[1], 0.5);
  double mean = 0, scv = 0;
  chainMoments(model, mean, scv);
  EXPECT_NEAR(mean, 1.0, 1e-14);
  EXPECT_NEAR(scv, 2.0, 1e-14);
}

TEST(PhaseTypeFit, HighVariabilityModelsMatchTheirMoments) {
  for (double h : {0.0, -1.0, 0.1, 0.5, 0.9}) {
    for (double c : {1.0001, 1.5, 3.0, 10.0, 100.0}) {
      SCOPED_TRACE(testing::Message() << "h = " << h << ", c = " << c);
      const PhaseTypeModel model = fitPhaseType(7.5, c, h, 0, 0);
      ASSERT_EQ(model.phaseCount, 2);
      EXPECT_EQ(model.initialProbability[0] == 1.0, h > 0);
      double mean = 0, scv = 0;
      chainMoments(model, mean, scv);
      EXPECT_NEAR(mean, 7.5, 1e-9);
      EXPECT_NEAR(scv, c, 1e-9 * c);
      expectConsistentGenerator(model);
    }
  }
}

TEST(PhaseTypeFit, ExponentialAndZeroDuration) {
  const PhaseTypeModel exponential = fitPhaseType(4, 1.0, 0, 0, 0);
  ASSERT_EQ(exponential.phaseCount, 1);
  EXPECT_EQ(exponential.initialProbability[0], 1.0);
  EXPECT_EQ(exponential.generator[0][0], -0.25);
  EXPECT_EQ(exponential.absorptionRate[0], 0.25);

  // A zero duration is one phase of rate 1, whatever its SCV says (even an unusable one).
  for (double c : {1.0, 0.25, 5.0, 0.0, -2.0, std::numeric_limits<double>::quiet_NaN()}) {
    const PhaseTypeModel zero = fitPhaseType(0.0, c, 2.0, 0, 0);
    ASSERT_EQ(zero.phaseCount, 1);
    EXPECT_EQ(zero.generator[0][0], -1.0);
    EXPECT_EQ(zero.absorptionRate[0], 1.0);
  }
}

TEST(PhaseTypeRejects, DurationsThatAreNegativeOrNotFinite) {
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(fatalOutputOf([] { fitPhaseType(-1.5, 1.0, 0, 3, 1); }),
            fatalText("The duration of activity 3 (execution mode 1) is -1.5. A duration must be finite and not "
                      "negative."));
  EXPECT_EQ(fatalOutputOf([&] { fitPhaseType(inf, 1.0, 0, 0, 2); }),
            fatalText("The duration of activity 0 (execution mode 2) is inf. A duration must be finite and not "
                      "negative."));
  EXPECT_NE(fatalOutputOf([] {
              fitPhaseType(std::numeric_limits<double>::quiet_NaN(), 1.0, 0, 4, 0);
            }).find("The duration of activity 4 (execution mode 0) is "),
            std::string::npos);
}

TEST(PhaseTypeRejects, ScvsThatAreNotPositiveOrNotFinite) {
  EXPECT_EQ(fatalOutputOf([] { fitPhaseType(2, 0.0, 0, 5, 0); }),
            fatalText("The duration SCV of activity 5 (execution mode 0) is 0. A non-zero duration needs a finite "
                      "SCV above 0."));
  EXPECT_EQ(fatalOutputOf([] { fitPhaseType(2, -0.5, 0, 5, 1); }),
            fatalText("The duration SCV of activity 5 (execution mode 1) is -0.5. A non-zero duration needs a "
                      "finite SCV above 0."));
  fatalOutputOf([] { fitPhaseType(2, std::numeric_limits<double>::quiet_NaN(), 0, 5, 1); });
  fatalOutputOf([] { fitPhaseType(2, std::numeric_limits<double>::infinity(), 0, 5, 1); });
  // More than 1000 phases: refused before the generator would take the memory.
  for (double c : {1e-300, 0.00099}) {
    std::ostringstream scv;
    scv << c;
    EXPECT_EQ(fatalOutputOf([c] { fitPhaseType(2, c, 0, 1, 0); }),
              fatalText("The duration SCV of activity 1 (execution mode 0) is " + scv.str() +
                        ". An SCV below 0.001 needs more than 1000 phases, whose generator takes more than 8 MB per "
                        "mode."));
  }
  EXPECT_EQ(fitPhaseType(2, 0.001, 0, 1, 0).phaseCount, 1000);
}

TEST(PhaseTypeRejects, HyperOfOneOrMoreOnlyForHighScv) {
  EXPECT_EQ(fatalOutputOf([] { fitPhaseType(2, 3.0, 1.0, 2, 1); }),
            fatalText("The duration of activity 2 (execution mode 1) has SCV 3, but gv_CFG_hyper is 1. Use 0 for "
                      "the hyper-exponential model or a number in ]0,1[ for the serial exponential model."));
  fatalOutputOf([] { fitPhaseType(2, 3.0, 1.5, 2, 1); });
  // The model for SCVs above 1 is not used below 1, so h does not matter there.
  EXPECT_EQ(fitPhaseType(2, 0.5, 1.5, 2, 1).phaseCount, 2);
  EXPECT_EQ(fitPhaseType(2, 1.0, 1.5, 2, 1).phaseCount, 1);
}

TEST(PhaseTypeRejects, MomentCheckMissPrintsItsLabelAndDifference) {
  // At d = 1e13 the hypo-exponential mean misses by more than the absolute tolerance.
  EXPECT_EQ(fatalOutputOf([] { fitPhaseType(1e13, 0.4, 0, 6, 2); }),
            fatalText("Hypo-exponential mean FAIL (-0.00195312) = larger than allowed precision (1e-06) for "
                      "activity 6 and execution mode 2."));
}

// c^3 overflows: the differences are NaN and must fail instead of passing silently.
TEST(PhaseTypeRejects, NotANumberDifferencesFail) {
  const std::string varianceMiss = fatalOutputOf([] { fitPhaseType(1, 1e103, 0, 1, 0); });
  EXPECT_EQ(varianceMiss.rfind("\nHyperexponential variance FAIL (", 0), 0u) << varianceMiss;
  EXPECT_NE(varianceMiss.find("nan) = larger than allowed precision (1e-06) for activity 1 and execution mode 0."),
            std::string::npos);
  const std::string meanMiss = fatalOutputOf([] { fitPhaseType(1, 1e200, 0, 1, 0); });
  EXPECT_EQ(meanMiss.rfind("\nHyperexponential mean FAIL (", 0), 0u) << meanMiss;
}

TEST(PhaseTypeRejects, RatesThatOverflow) {
  EXPECT_EQ(fatalOutputOf([] { fitPhaseType(1e-320, 1.0, 0, 8, 0); }),
            fatalText("The phase-type model of the duration of activity 8 (execution mode 0) (duration 9.99989e-321, "
                      "SCV 1) has rates that are not finite."));
}

}  // namespace

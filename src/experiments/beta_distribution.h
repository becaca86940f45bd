// Beta variates (Cheng's algorithms BB and BC), the scaled-beta fit to a mean and an SCV,
// and the accuracy test that mode 1 runs.
#pragma once
#include <cstdint>
#include <vector>

double betaVariate(double a, double b);

struct ScaledBeta {
  double alpha = 0;
  double beta = 0;
  double scale = 0;
};
// SCV levels the fit and Cheng's generators handle: the search for the scale takes about
// 9 (1 + c) steps, and the shape alpha is about 0.9 / c; outside these bounds the steps run
// into the billions (or never end once L + 1 == L), or the shapes over- or underflow the
// generators' arithmetic on 15-bit uniforms.
constexpr double kMinBetaScv = 1e-3;
constexpr double kMaxBetaScv = 1e3;

// Stops the run for an SCV outside kMinBetaScv .. kMaxBetaScv.
ScaledBeta fitScaledBeta(double mean, double scv);

// What the accuracy test needs from TEST_TOP.DAT.
struct BetaTestInput {
  std::vector<double> meanDurations;  // d[0 .. A-1]
  int32_t sampleCount = 0;            // N
  std::vector<double> scvLevels;      // c[0 .. K-1]
};

// The samples of the accuracy test, kept for the topology test: byLevel[s][i] holds the N
// samples of inner position i at SCV level s, in the order drawn; empty when N < 1.
struct BetaSamples {
  std::vector<std::vector<std::vector<double>>> byLevel;
};

extern BetaSamples betaSamples;

// Fits, checks and samples every duration at every SCV level, reports the sample mean and
// SCV and keeps the samples in betaSamples; nothing when sampleCount < 1.
void runBetaAccuracyTest(const BetaTestInput& input);
void releaseBetaSamples();

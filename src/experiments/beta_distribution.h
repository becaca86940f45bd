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
// Stops the run for an SCV that is not above 0: the search for the scale would never end.
ScaledBeta fitScaledBeta(double mean, double scv);

// What the accuracy test needs from TEST_TOP.DAT.
struct BetaTestInput {
  std::vector<double> meanDurations;  // d[0 .. A-1]
  int32_t sampleCount = 0;            // N
  std::vector<double> scvLevels;      // c[0 .. K-1]
};

// Fits, checks and samples every duration at every SCV level and reports the sample mean
// and SCV; nothing when sampleCount < 1. Only the sums are kept, not the samples.
void runBetaAccuracyTest(const BetaTestInput& input);

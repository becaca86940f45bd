// Beta variates (Cheng's algorithms BB and BC), the scaled-beta fit to a mean and an SCV,
// and the accuracy test that mode 1 runs.
#pragma once

double betaVariate(double a, double b);

struct ScaledBeta {
  double alpha = 0;
  double beta = 0;
  double scale = 0;
};
ScaledBeta fitScaledBeta(double mean, double scv);

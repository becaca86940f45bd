// Phase-type fitting: a small continuous-time Markov chain whose time to absorption has a
// given mean and SCV.
#pragma once
#include <cstdint>
#include <vector>

constexpr double precisionTolerance = 1e-6;

// An SCV c below 1 takes about 1/c phases, whose generator matrix holds (1/c)^2 doubles:
// SCV 0.001 is 1000 phases and 8 MB per mode; below it a few modes would exhaust the memory.
constexpr double kMinScv = 1e-3;

struct PhaseTypeModel {
  int32_t phaseCount = 0;
  std::vector<double> initialProbability;      // phaseCount
  std::vector<std::vector<double>> generator;  // phaseCount rows of phaseCount
  std::vector<double> absorptionRate;          // phaseCount
};

// Fits duration d with SCV c (hyper = gv_CFG_hyper). A duration that is negative or not
// finite, an SCV below kMinScv, an unusable SCV or hyper, or a failed moment check stops
// the run, naming activity and mode.
PhaseTypeModel fitPhaseType(double d, double c, double hyper, int activity, int mode);

// The bytes the model of duration d with SCV c takes (its generator is a dense square of its
// phases: 8 MB at SCV 0.001), known before it is fitted.
double phaseTypeModelBytes(double d, double c);

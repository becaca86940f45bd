// Phase-type fitting: a small continuous-time Markov chain whose time to absorption has a
// given mean and SCV.
#pragma once
#include <cstdint>
#include <vector>

constexpr double precisionTolerance = 1e-6;

struct PhaseTypeModel {
  int32_t phaseCount = 0;
  std::vector<double> initialProbability;       // phaseCount
  std::vector<std::vector<double>> generator;   // phaseCount rows of phaseCount
  std::vector<double> absorptionRate;           // phaseCount
};

// Fits duration d with SCV c (hyper = gv_CFG_hyper). A duration that is negative or not
// finite, an unusable SCV or hyper, or a failed moment check stops the run, naming
// activity and mode.
PhaseTypeModel fitPhaseType(double d, double c, double hyper, int activity, int mode);

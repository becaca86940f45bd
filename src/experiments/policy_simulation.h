// Simulation of a kept optimal policy: runs of the project in hand that take the decisions
// the solver chose, with durations drawn from the phase-type model itself or given by
// samples, reporting the NPV and the makespan of each run.
#pragma once
#include <cstdint>
#include <vector>

#include "sdp/policy.h"

// Sampled durations by base activity: byActivity[a] holds one duration per run, or is null
// for an activity that keeps the phase-type model (the dummies).
struct DurationSamples {
  std::vector<const std::vector<double>*> byActivity;
};

// Mean and spread of the values of the runs (Welford's updates).
struct RunningMean {
  int64_t count = 0;
  double mean = 0;
  double squares = 0;  // sum of squared deviations from the mean
};

void addToMean(RunningMean& mean, double value);
// Half-width of the 95 % interval of the mean (1.96 standard errors); 0 below two values.
double halfWidth95(const RunningMean& mean);

struct PolicySimulation {
  RunningMean npv;
  RunningMean makespan;
};

// `runs` runs of the policy kept for the networks in hand (the elementary and the UDC
// network, the discount rate of the base network). Without samples every duration follows
// its phase-type model; with them, run n maps sample n of each activity onto the activity's
// phase chain. The draws come from the program's generator, in the order the README gives.
// More than queueCapacity completions pending at once stops the run with a message.
PolicySimulation simulatePolicy(const KeptPolicy& policy, int32_t runs, const DurationSamples* samples,
                                int32_t queueCapacity);

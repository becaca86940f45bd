// The backward stochastic dynamic program over the UDC states: optimal expected NPV or
// minimal expected makespan, alone or with the other objective under that policy.
#pragma once

// What a solve reports, as a user reads it: the recursions keep a makespan negated so that
// every one of them maximises, and the sweep turns it back where it ends.
struct SolveResult {
  float optimum = 0.0f;    // of the objective optimised
  float secondary = 0.0f;  // the other objective under the same policy, in a two-objective solve
};

// The value of a stored state as reported: a makespan turned positive, and never -0, which
// the default formatting would print as "-0".
inline float reportedValue(float stored, bool isMakespan) {
  const float value = isMakespan ? -stored : stored;
  return value == 0.0f ? 0.0f : value;
}

bool solveNpv(SolveResult& result);
bool solveMakespan(SolveResult& result);
bool solveNpvWithMakespan(SolveResult& result);
bool solveMakespanWithNpv(SolveResult& result);

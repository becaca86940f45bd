// The backward stochastic dynamic program over the UDC states: optimal expected NPV or
// minimal expected makespan, alone or with the other objective under that policy.
#pragma once

#include "run/run_state.h"

bool solveNpv(SolveResult& result);
bool solveMakespan(SolveResult& result);
bool solveNpvWithMakespan(SolveResult& result);
bool solveMakespanWithNpv(SolveResult& result);

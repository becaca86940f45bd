// The run driver: the mode prompt, the normal run and the per-project pipeline that the
// experiment modes share.
#pragma once
#include <ostream>

#include "run/run_state.h"

extern SolveResult solveResult;

// The whole program: mode prompt, the chosen mode, the end prompt. Returns 0.
int runProgram();

// Mode 0.
void runNormal();

// True when the configured objective pair is one that solveProject solves.
bool configuredPairIsSolved();

// The last guard before a solved value (a makespan already positive) is shown or written:
// one that is not finite, or outside what the project in hand can produce (an NPV between
// its bound, or 0 when it may be abandoned, and the sum of its positive costs; a makespan
// between 0 and the sum of its phase means), stops the run.
void checkSolvedValue(float value, bool isMakespan);

// The memory estimate and the objective dispatch for the project in hand.
void solveProject(std::ostream& results);

// The per-project steps of the normal run for projectNumber, with the row to RESULTS.CSV.
void runProject();

// The solve of the project in hand: the memory estimate, the choice of memory or disk, the
// solver of the objectives, the last guard on its values, and its part of the console line
// and of the results row.
#pragma once
#include <ostream>

#include "project/objectives.h"
#include "sdp/solvers.h"

// The buffer every solve of the run reports into.
extern SolveResult solveResult;

// The last guard before a solved value (a makespan already positive) is shown or written:
// one that is not finite, or outside what the project in hand can produce (an NPV between
// its bound, or 0 when it may be abandoned, and the sum of its positive costs; a makespan
// between 0 and the sum of its phase means), stops the run.
void checkSolvedValue(float value, bool isMakespan);
// The same guard for a variance: finite and not below 0.
void checkSolvedVariance(float value, bool isMakespan);

// The memory estimate and the solve of choice for the project in hand; writes the solve's
// part of the console line and of the row (nothing for a choice no solver serves).
void solveProject(std::ostream& results, const ObjectiveChoice& choice);

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

// After readProjectFile: "[R]", Markovian network "[M]", elementary network "[E]", then the
// Markovian and base networks are released.
void buildProjectNetworks();

// identifyUdcs between two processor-clock readings; on failure the state totals are zeroed.
bool identifyProjectUdcs(double& udcSeconds);

// The memory estimate and the objective dispatch for the project in hand.
void solveProject(std::ostream& results);

// The per-project steps of the normal run for projectNumber, with the row to RESULTS.CSV.
void runProject();

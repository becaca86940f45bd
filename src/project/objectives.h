// The objectives and measures of a solve, in one table: the number CONFIG.DAT gives each, the
// words of the console line, the columns of the results files, the bytes a state takes, and
// the solver that serves a choice of them.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "base/config.h"
#include "sdp/policy.h"
#include "sdp/solvers.h"

struct MeasureRow {
  int32_t number;            // in CONFIG.DAT's objective slots
  const char* column;        // its column of the results files
  const char* cpuColumn;     // the solve's time when it is the objective optimised
  const char* optimumWords;  // the console before its value when optimised
  const char* measureWords;  // the console before its value as a measure of the policy
  bool isMakespan;
};

constexpr int32_t kObjectiveNpv = 0;
constexpr int32_t kObjectiveMakespan = 1;

extern const MeasureRow kMeasures[2];

// What a solve computes: the objective it optimises and the measures of that policy, in
// slot order.
struct ObjectiveChoice {
  int32_t objective = -1;  // kObjectiveNpv or kObjectiveMakespan; -1 none
  std::vector<int32_t> measures;
  bool served = false;  // a solver computes the choice
};

// The choice of gv_CFG_OBJ and gv_CFG_OBJ2: NPV or makespan, alone or with the other one.
ObjectiveChoice chooseObjectives(const RunConfig& config);

const MeasureRow& measureRow(int32_t number);

// ";NPV;CPU NPV (SEC)" and the like: the objective's two columns, then one per measure. A
// choice no solver serves still heads the objective's columns.
std::string objectiveHeaderColumns(const ObjectiveChoice& choice);

// What the state values of a solve take per state held, for the memory estimate.
int bytesPerState(const ObjectiveChoice& choice);

using Solver = bool (*)(SolveResult&);
using PolicyKeepingSolver = bool (*)(SolveResult&, KeptPolicy&);

// The solver of a served choice; the one keeping the policy always carries the other
// objective along, which the .POL file shows.
Solver solverFor(const ObjectiveChoice& choice);
PolicyKeepingSolver policyKeepingSolverFor(const ObjectiveChoice& choice);

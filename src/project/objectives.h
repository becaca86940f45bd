// The objectives and measures of a solve, in one table: the number CONFIG.DAT gives each, the
// words of the console line, the columns of the results files, the bytes a state takes, and
// the solve that serves a choice of them.
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
  const char* cpuColumn;     // the solve's time when it is the objective optimised; null if it cannot be
  const char* optimumWords;  // the console before its value when optimised; null if it cannot be
  const char* measureWords;  // the console before its value as a measure of the policy
  bool isMakespan;           // a time (its mean or its variance), not an amount
  bool isVariance;
};

constexpr int32_t kObjectiveNpv = 0;
constexpr int32_t kObjectiveMakespan = 1;

extern const MeasureRow kMeasures[kMeasureCount];

// What a solve computes: the objective it optimises and the measures of that policy, in
// slot order.
struct ObjectiveChoice {
  int32_t objective = -1;  // kObjectiveNpv or kObjectiveMakespan; -1 none
  std::vector<int32_t> measures;
  bool served = false;  // a solve computes the choice
};

// The choice of gv_CFG_OBJ and the measures of gv_CFG_OBJ2 to gv_CFG_OBJ4 up to the first -1.
// A choice the slot rules refuse (checkSettings tells why) is not served.
ObjectiveChoice chooseObjectives(const RunConfig& config);

const MeasureRow& measureRow(int32_t number);

// ";NPV;CPU NPV (SEC)" and the like: the objective's two columns, then one per measure. A
// choice no solve serves still heads the objective's columns.
std::string objectiveHeaderColumns(const ObjectiveChoice& choice);

// What the state values of a solve take per state held, for the memory estimate: 8 bytes for
// the objective, 4 for each lane of values riding along (a measure's mean, a variance).
int bytesPerState(const ObjectiveChoice& choice);

// The measures of a served choice as the solvers name them.
std::vector<Measure> solverMeasures(const ObjectiveChoice& choice);

// The solve of a served choice, with or without keeping the policy; false, and nothing
// solved, for a choice that is not served.
bool solveChoice(const ObjectiveChoice& choice, SolveResult& result);
bool solveChoiceKeepingPolicy(const ObjectiveChoice& choice, SolveResult& result, KeptPolicy& policy);

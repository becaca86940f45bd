// The objective table and the choice CONFIG.DAT makes from it.
#include "project/objectives.h"

const MeasureRow kMeasures[2] = {
    {kObjectiveNpv, "NPV", "CPU NPV (SEC)", " OPT NPV: ", " NPV: ", false},
    {kObjectiveMakespan, "MAKESPAN", "CPU MAKESPAN (SEC)", " OPT MAKESPAN: ", " MAKESPAN: ", true},
};

const MeasureRow& measureRow(int32_t number) { return kMeasures[number]; }

ObjectiveChoice chooseObjectives(const RunConfig& config) {
  ObjectiveChoice choice;
  if (config.gv_CFG_OBJ != kObjectiveNpv && config.gv_CFG_OBJ != kObjectiveMakespan) return choice;
  choice.objective = config.gv_CFG_OBJ;
  const int32_t other = choice.objective == kObjectiveNpv ? kObjectiveMakespan : kObjectiveNpv;
  if (config.gv_CFG_OBJ2 == other) choice.measures.push_back(other);
  choice.served = config.gv_CFG_OBJ2 == -1 || config.gv_CFG_OBJ2 == other;
  return choice;
}

std::string objectiveHeaderColumns(const ObjectiveChoice& choice) {
  if (choice.objective < 0) return "";
  const MeasureRow& optimised = measureRow(choice.objective);
  std::string columns = std::string(";") + optimised.column + ";" + optimised.cpuColumn;
  for (int32_t measure : choice.measures) columns += std::string(";") + measureRow(measure).column;
  return columns;
}

int bytesPerState(const ObjectiveChoice& choice) { return 8 + 4 * static_cast<int>(choice.measures.size()); }

Solver solverFor(const ObjectiveChoice& choice) {
  if (!choice.served) return nullptr;
  const bool withOther = !choice.measures.empty();
  if (choice.objective == kObjectiveNpv) return withOther ? solveNpvWithMakespan : solveNpv;
  return withOther ? solveMakespanWithNpv : solveMakespan;
}

PolicyKeepingSolver policyKeepingSolverFor(const ObjectiveChoice& choice) {
  if (!choice.served) return nullptr;
  return choice.objective == kObjectiveNpv ? solveNpvWithMakespanKeepingPolicy : solveMakespanWithNpvKeepingPolicy;
}

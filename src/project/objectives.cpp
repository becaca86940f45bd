// The objective table and the choice CONFIG.DAT makes from it.
#include "project/objectives.h"

#include <algorithm>

const MeasureRow kMeasures[kMeasureCount] = {
    {kObjectiveNpv, "NPV", "CPU NPV (SEC)", " OPT NPV: ", " NPV: ", false, false},
    {kObjectiveMakespan, "MAKESPAN", "CPU MAKESPAN (SEC)", " OPT MAKESPAN: ", " MAKESPAN: ", true, false},
    {2, "NPV VARIANCE", nullptr, nullptr, " NPV VARIANCE: ", false, true},
    {3, "MAKESPAN VARIANCE", nullptr, nullptr, " MAKESPAN VARIANCE: ", true, true},
};

const MeasureRow& measureRow(int32_t number) { return kMeasures[number]; }

ObjectiveChoice chooseObjectives(const RunConfig& config) {
  ObjectiveChoice choice;
  if (config.gv_CFG_OBJ != kObjectiveNpv && config.gv_CFG_OBJ != kObjectiveMakespan) return choice;
  choice.objective = config.gv_CFG_OBJ;
  choice.served = true;
  for (int32_t measure : configuredMeasures(config)) {
    const bool known = measure >= 0 && measure < kMeasureCount;
    const bool repeated = std::find(choice.measures.begin(), choice.measures.end(), measure) != choice.measures.end();
    if (!known || measure == choice.objective || repeated) {
      // Refused by the slot rules; a choice made here without them computes nothing.
      choice.measures.clear();
      choice.served = false;
      return choice;
    }
    choice.measures.push_back(measure);
  }
  return choice;
}

std::string objectiveHeaderColumns(const ObjectiveChoice& choice) {
  if (choice.objective < 0) return "";
  const MeasureRow& optimised = measureRow(choice.objective);
  std::string columns = std::string(";") + optimised.column + ";" + optimised.cpuColumn;
  for (int32_t measure : choice.measures) columns += std::string(";") + measureRow(measure).column;
  return columns;
}

std::vector<Measure> solverMeasures(const ObjectiveChoice& choice) {
  std::vector<Measure> measures;
  for (int32_t measure : choice.measures) measures.push_back(static_cast<Measure>(measure));
  return measures;
}

int bytesPerState(const ObjectiveChoice& choice) {
  if (choice.objective < 0) return 8;
  return 8 + 4 * rideLaneCount(static_cast<Measure>(choice.objective), solverMeasures(choice));
}

bool solveChoice(const ObjectiveChoice& choice, SolveResult& result) {
  if (!choice.served) return false;
  return solveWithMeasures(static_cast<Measure>(choice.objective), solverMeasures(choice), result);
}

bool solveChoiceKeepingPolicy(const ObjectiveChoice& choice, SolveResult& result, KeptPolicy& policy) {
  if (!choice.served) return false;
  return solveWithMeasuresKeepingPolicy(static_cast<Measure>(choice.objective), solverMeasures(choice), result, policy);
}

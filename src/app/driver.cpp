// The run driver: the mode prompt and the normal run over the configured project series.
#include "app/driver.h"

#include <cstdint>
#include <iostream>

#include "base/config.h"
#include "base/fatal.h"
#include "base/interrupt.h"
#include "base/output_files.h"
#include "base/run_state.h"
#include "experiments/experiments.h"
#include "project/output_names.h"
#include "project/project_run.h"
#include "project/results_file.h"
#include "project/solve.h"

namespace {

const char* const kResultsFileName = "RESULTS.CSV";

// Project files that the run's outputs would replace stop it before it writes anything.
void checkNormalRunOutputNames() {
  checkOutputNames({{runConfig.gv_CFG_fnr, runConfig.gv_CFG_lnr, writtenOutputExtensions()}}, {kResultsFileName});
}

}  // namespace

int runProgram() {
  const char* const choices =
      "0 = NO TEST CONFIG ONLY | 1 = TOPOLOGIES TEST | 2 = PROJECT VARIANCE TEST | 3 = METRICS TEST";
  std::cout << "Choose test [" << choices << "]" << '\n';
  long long mode = -1;
  const bool answered = readPromptNumber(mode);
  std::cout << "\n\n";
  // An answer the prompt does not offer (a word, no answer at all) runs nothing and says so,
  // rather than ending as a run that succeeded.
  if (!answered || mode < 0 || mode > 3) {
    std::cout << "No such test: answer one of [" << choices << "]. Nothing was run." << '\n';
    return kRefusedModeStatus;
  }
  if (mode == 0) runNormal();
  if (mode == 1) runTopologyTest();
  if (mode == 2) runVarianceTest();
  if (mode == 3) runMetricsTest();
  std::cout << "\n\n"
            << "Test complete. Press any key to exit application..." << '\n';
  waitForAnyKey();
  return 0;
}

void runNormal() {
  solveResult = SolveResult{};
  std::cout << "BOOT" << '\n';
  readConfiguration();
  checkNormalRunOutputNames();
  ProjectRun run;
  run.steps.showMarkers = true;
  run.objectives = chooseObjectives(runConfig);
  run.resultsFile = kResultsFileName;
  createResultsFile(kResultsFileName, kResultsHeaderLead, run.objectives);
  std::cout << "INITIALIZED" << '\n';
  // 64 bits: a last number of 2147483647 must end the loop, not wrap around.
  for (int64_t number = runConfig.gv_CFG_fnr; number <= runConfig.gv_CFG_lnr; ++number) {
    checkInterrupt();
    projectNumber = static_cast<int32_t>(number);
    runProject(run);
  }
  solveResult = SolveResult{};
}

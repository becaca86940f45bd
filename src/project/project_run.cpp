// One project from its file to its row, written once.
#include "project/project_run.h"

#include <iostream>
#include <sstream>

#include "base/run_state.h"
#include "project/pipeline.h"
#include "project/results_file.h"
#include "project/solve.h"
#include "udc/udc_network.h"

void runProject(const ProjectRun& run) {
  std::cout << "PROJECT [" << projectNumber << "]";
  ProjectPipeline steps = run.steps;
  steps.solveFollows = run.objectives.served;
  double udcSeconds = 0;
  const bool identified = buildProjectNetworks(steps, udcSeconds);
  std::ostringstream row;
  std::cout << run.consoleBeforeUdcs << " NR_UDC: " << udcNetwork.udcCount << " CPU[" << udcSeconds << "]";
  if (run.rowLead.empty())
    row << projectNumber;
  else
    row << run.rowLead;
  writeUdcFields(row, udcSeconds);
  if (identified)
    solveProject(row, run.objectives);
  else if (refusedMegabytes > 0)
    std::cout << "INSUFFICIENT MEMORY: " << refusedMegabytes << " MB REQUIRED...";
  else
    std::cout << " UDC IDENTIFICATION FAIL";
  std::cout << '\n';
  std::cout.flush();
  appendResultsRow(run.resultsFile, row.str());
  releaseProjectNetworks();
}

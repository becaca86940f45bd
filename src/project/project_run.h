// One project of a run from its file to its row: the pipeline, the console line, the solve of
// the objectives chosen, the row of the results file, the release. The normal run, the
// project variance test and the metrics test's instances all go through it.
#pragma once
#include <string>

#include "project/objectives.h"
#include "project/pipeline.h"

struct ProjectRun {
  ProjectPipeline steps;
  ObjectiveChoice objectives;
  const char* resultsFile = "RESULTS.CSV";
  // The row's fields before #ACT; the project number when empty.
  std::string rowLead;
  // Shown after the stages' markers and before " NR_UDC: ".
  std::string consoleBeforeUdcs;
};

// Runs projectNumber as told: prints "PROJECT [n]", the markers and the rest of its line,
// appends its row, releases its networks.
void runProject(const ProjectRun& run);

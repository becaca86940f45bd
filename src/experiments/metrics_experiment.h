// Mode 3, the metrics test: TEST3.DAT, the random .T3B instances of every base project,
// their metrics and their solves.
#pragma once
#include <cstdint>
#include <ostream>

struct MetricsTestInput {
  int32_t instancesPerProject = 0;  // R; a negative count makes no instance
  double rateOn = 0, rateLow = 0, rateHigh = 0;
  double durationOn = 0, durationLow = 0, durationHigh = 0;
  double scvOn = 0, scvLow = 0, scvHigh = 0;
  double costOn = 0, costLow = 0, costHigh = 0;
  double ptsOn = 0, ptsLow = 0, ptsHigh = 0;
  double payoffOn = 0, payoffLow = 0, payoffHigh = 0;
};

extern MetricsTestInput metricsTestInput;

// Reads TEST3.DAT; a missing file or a missing value stops the run.
void readMetricsTestInput();
void releaseMetricsTestInput();

// One random instance of the project held in baseNetwork, in the project file layout with
// every field of every mode, then the trailer. Draws in the order the values are written.
void writeInstance(std::ostream& out);

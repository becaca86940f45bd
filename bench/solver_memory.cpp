// The solver's own memory: takes project gv_CFG_fnr of CONFIG.DAT in the working
// directory through the pipeline up to UDC identification, resets the process's peak
// resident size, runs the configured solver and reports how far the peak rose above the
// resident size before the solve, next to the program's estimate (peak states x bytes per
// state / 2^20), with the states evaluated per CPU-second.
//
// Build: g++ -std=c++20 -O2 -I src bench/solver_memory.cpp <build>/libtervano_core.a
#include <malloc.h>

#include <ctime>
#include <fstream>
#include <iostream>
#include <string>

#include "base/config.h"
#include "project/pipeline.h"
#include "base/run_state.h"
#include "sdp/solvers.h"
#include "udc/udc_network.h"

namespace {

double statusKiB(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field + ":", 0) == 0) return std::stod(line.substr(field.size() + 1));
  return -1;
}

}  // namespace

int main() {
  readConfiguration();
  projectNumber = runConfig.gv_CFG_fnr;
  double udcSeconds = 0;
  if (!buildProjectNetworks(ProjectPipeline{}, udcSeconds)) return 1;

  bool (*solver)(SolveResult&) = solveMakespan;
  int bytes = 8;
  if (runConfig.gv_CFG_OBJ == 0) solver = runConfig.gv_CFG_OBJ2 == 1 ? solveNpvWithMakespan : solveNpv;
  if (runConfig.gv_CFG_OBJ == 1 && runConfig.gv_CFG_OBJ2 == 0) solver = solveMakespanWithNpv;
  if (runConfig.gv_CFG_OBJ2 != -1) bytes = 12;
  useDiskStorage = runConfig.gv_CFG_IO == 1;

  malloc_trim(0);  // identification's freed work data would otherwise be reused unseen
  const double before = statusKiB("VmRSS");
  std::ofstream("/proc/self/clear_refs") << "5";  // peak := current
  const double resetPeak = statusKiB("VmHWM");
  SolveResult result;
  const std::clock_t start = std::clock();
  solver(result);
  const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
  const double peak = statusKiB("VmHWM");
  const double estimate = static_cast<double>(udcNetwork.udcPeakStates) * bytes / 1048576.0;
  std::cout << "udcs " << udcNetwork.udcCount << " states " << udcNetwork.udcTotalStates << " peakStates "
            << udcNetwork.udcPeakStates << " solveSeconds " << seconds << " MstatesPerSecond "
            << static_cast<double>(udcNetwork.udcTotalStates) / seconds / 1e6 << " rssBeforeMiB " << before / 1024
            << " peakAfterResetMiB " << resetPeak / 1024 << " solverPeakMiB " << (peak - before) / 1024
            << " estimateMiB " << estimate << " value " << result.optimum << '\n';
  releaseProjectNetworks();
  return 0;
}

// The per-project pipeline up to the UDCs, written once for every caller.
#include "project/pipeline.h"

#include <ctime>
#include <iostream>

#include "duration/elementary_network.h"
#include "duration/markov_network.h"
#include "network/base_network.h"
#include "udc/udc_network.h"

double refusedMegabytes = 0;

bool buildProjectNetworks(const ProjectPipeline& steps, double& udcSeconds) {
  refusedMegabytes = 0;
  if (steps.readFile) readProjectFile();
  if (steps.adjustBaseNetwork) steps.adjustBaseNetwork();
  if (steps.showMarkers) std::cout << "[R]";
  buildMarkovNetwork();
  if (steps.showMarkers) std::cout << "[M]";
  const bool modelled = markovNetwork.insufficientMemoryMegabytes == 0;
  if (modelled) buildElementaryNetwork();
  if (steps.showMarkers) std::cout << "[E]";
  if (!modelled || elementaryNetwork.insufficientMemoryMegabytes > 0) {
    refusedMegabytes =
        modelled ? elementaryNetwork.insufficientMemoryMegabytes : markovNetwork.insufficientMemoryMegabytes;
    releaseMarkovNetwork();
    if (!steps.keepBaseNetwork) releaseBaseNetwork();
    udcSeconds = 0;
    udcNetwork.udcTotalStates = 0;
    udcNetwork.udcPeakStates = 0;
    return false;
  }
  if (steps.solveFollows) checkRateSpread();
  releaseMarkovNetwork();
  if (!steps.keepBaseNetwork) releaseBaseNetwork();
  const std::clock_t start = std::clock();
  const bool identified = identifyUdcs();
  const std::clock_t end = std::clock();
  udcSeconds = static_cast<double>(end - start) / static_cast<double>(CLOCKS_PER_SEC);
  if (!identified) {
    udcNetwork.udcTotalStates = 0;
    udcNetwork.udcPeakStates = 0;
    udcNetwork.udcPeakStatesThreaded = 0;
  }
  return identified;
}

void releaseProjectNetworks() {
  releaseUdcNetwork();
  releaseBaseNetwork();
  releaseElementaryNetwork();
}

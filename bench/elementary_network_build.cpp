// Times buildElementaryNetwork on the ten 120-activity benchmark projects with SCV 0.25
// (Erlang-4 chains): the Markovian network is built once per project, the elementary network
// 20 times, each build timed on the wall clock.
//
// Build: g++ -std=c++20 -O2 -I src bench/elementary_network_build.cpp <build>/libtervano_core.a
// Run:   a.out [directory of J120_1.RCP ... J120_10.RCP]
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <string>

#include "base/config.h"
#include "base/run_state.h"
#include "duration/elementary_network.h"
#include "duration/markov_network.h"
#include "network/base_network.h"

int main(int argc, char** argv) {
  const std::string directory = argc > 1 ? argv[1] : "../shared/data/j120-rcp";
  runConfig = RunConfig{};
  runConfig.PJFileName = directory + "/J120_";
  runConfig.PJFileExt = ".RCP";
  runConfig.gv_CFG_rx_data = true;
  runConfig.gv_CFG_SCV_data = 0;
  runConfig.gv_CFG_SCV = 0.25;
  const int repeats = 20;
  double bestSeconds = 1e9;
  double totalSeconds = 0;
  int builds = 0;
  for (int k = 1; k <= 10; ++k) {
    if (!std::filesystem::exists(runConfig.PJFileName + std::to_string(k) + ".RCP")) continue;
    projectNumber = k;
    readProjectFile();
    buildMarkovNetwork();
    for (int r = 0; r < repeats; ++r) {
      releaseElementaryNetwork();
      const auto start = std::chrono::steady_clock::now();
      buildElementaryNetwork();
      const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      bestSeconds = std::min(bestSeconds, seconds);
      totalSeconds += seconds;
      ++builds;
    }
    std::cout << "J120_" << k << ": " << elementaryNetwork.nElementary << " elementary activities\n";
    releaseElementaryNetwork();
    releaseMarkovNetwork();
    releaseBaseNetwork();
  }
  if (builds == 0) {
    std::cerr << "no J120_<k>.RCP in " << directory << '\n';
    return 1;
  }
  std::cout << "buildElementaryNetwork: " << builds << " builds, best " << bestSeconds * 1e3 << " ms, mean "
            << totalSeconds / builds * 1e3 << " ms\n";
  return 0;
}

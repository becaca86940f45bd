// Small projects for the solver tests, taken through the real pipeline from the base
// network to the UDC network, so that the solvers see the records they see in a run.
#pragma once
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "duration/elementary_network.h"
#include "network/base_network.h"
#include "network/test_project.h"
#include "base/config.h"
#include "project/pipeline.h"
#include "base/run_state.h"
#include "sdp/solvers.h"
#include "udc/udc_network.h"

namespace solver_test {

struct ModeSpec {
  double duration = 1.0;
  double scv = 1.0;
  double cost = 0.0;
  double pts = 1.0;
  double pms = 0.0;
  std::vector<double> use;
};

struct ActivitySpec {
  std::vector<ModeSpec> modes;
  std::vector<int> successors;
  int module = -1;  // -1: a module of its own
};

struct ProjectSpec {
  std::vector<ActivitySpec> activities;
  std::vector<double> availability;
  double discountRate = 0.0;
  bool abandon = false;
  bool irq = false;
};

inline ActivitySpec dummy(std::vector<int> successors, double cost = 0.0) {
  ActivitySpec a;
  ModeSpec m;
  m.duration = 0.0;
  m.cost = cost;
  a.modes = {m};
  a.successors = std::move(successors);
  return a;
}

inline ActivitySpec task(double duration, std::vector<int> successors, double cost = 0.0, double scv = 1.0) {
  ActivitySpec a;
  ModeSpec m;
  m.duration = duration;
  m.cost = cost;
  m.scv = scv;
  a.modes = {m};
  a.successors = std::move(successors);
  return a;
}

// Modes, phase-type durations of every kind, a shared resource, a module with technical
// and module success, and cash flows of both signs.
inline ProjectSpec richProject(bool abandon, bool irq) {
  ProjectSpec p;
  ActivitySpec twoModes;
  ModeSpec fast, slow;
  fast.duration = 2.0;
  fast.cost = -5.0;
  fast.use = {1.0};
  slow.duration = 4.0;
  slow.scv = 0.5;
  slow.cost = -2.0;
  slow.use = {1.0};
  twoModes.modes = {fast, slow};
  twoModes.successors = {4};
  ActivitySpec risky = task(3.0, {3}, -4.0, 2.0);
  risky.modes[0].pts = 0.9;
  risky.modes[0].use = {1.0};
  risky.module = 7;
  ActivitySpec closing = task(1.0, {4}, -1.0);
  closing.modes[0].pts = 0.95;
  closing.modes[0].pms = 0.6;
  closing.modes[0].use = {1.0};
  closing.module = 7;
  ActivitySpec last = task(2.0, {5}, -3.0, 0.5);
  last.modes[0].use = {2.0};
  p.activities = {dummy({1, 2}), twoModes, risky, closing, last, dummy({}, 60.0)};
  p.availability = {2.0};
  p.discountRate = 0.05;
  p.abandon = abandon;
  p.irq = irq;
  return p;
}

// Fills the configuration and the base network, then builds the Markovian and the
// elementary network and identifies the UDCs. False when identification fails.
inline bool buildProject(const ProjectSpec& plan) {
  runConfig = RunConfig{};
  runConfig.gv_bits = 16;
  runConfig.gv_CFG_mxn_UDC = 200000;
  runConfig.gv_CFG_mxn_UDC_links = 8;
  runConfig.gv_CFG_mxn_UDC_prr = -1;
  runConfig.gv_CFG_mxn_ranks = 1;
  runConfig.gv_CFG_SCV_data = 1;
  runConfig.gv_CFG_skew_data = 1;
  runConfig.gv_CFG_write = 0;
  runConfig.gv_CFG_abandon = plan.abandon;
  runConfig.gv_CFG_irq = plan.irq;
  runConfig.PJFileName = "tst";
  runConfig.PJFileExt = ".dat";
  projectNumber = 0;  // output files are named tst0.*, whatever a test before set

  test_project::Project project;
  project.availability = plan.availability;
  project.discountRate = plan.discountRate;
  for (const ActivitySpec& given : plan.activities) {
    test_project::Activity activity;
    for (const ModeSpec& m : given.modes)
      activity.modes.push_back(test_project::mode(m.duration, m.scv, m.cost, m.pts, m.pms, m.use));
    activity.successors.assign(given.successors.begin(), given.successors.end());
    if (given.module >= 0) activity.module = given.module;
    project.activities.push_back(std::move(activity));
  }
  test_project::installBaseNetwork(project);

  ProjectPipeline steps;
  steps.readFile = false;
  double udcSeconds = 0;
  return buildProjectNetworks(steps, udcSeconds);
}

inline void releaseProject() { releaseProjectNetworks(); }

using Solver = bool (*)(SolveResult&);

// Builds, solves with each given solver in memory mode, and releases.
inline std::vector<SolveResult> solveWith(const ProjectSpec& plan, const std::vector<Solver>& solvers,
                                          bool onDisk = false) {
  std::vector<SolveResult> results;
  if (!buildProject(plan)) {
    ADD_FAILURE() << "identification failed";
    return results;
  }
  for (Solver solver : solvers) {
    useDiskStorage = onDisk;
    SolveResult result;
    solver(result);
    results.push_back(result);
  }
  releaseProject();
  useDiskStorage = false;
  return results;
}

inline float solveOne(const ProjectSpec& plan, Solver solver) {
  std::vector<SolveResult> r = solveWith(plan, {solver});
  return r.empty() ? NAN : r[0].optimum;
}

}  // namespace solver_test

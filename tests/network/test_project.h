// The one way the tests build a project by hand: activities in index order with their
// modes, successors and module, filled into the base network as the project reader leaves
// it (predecessors ascending, each activity a module of its own unless told otherwise).
// The stage tests keep their own short spellings of a plan and hand it over here.
#pragma once
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "network/base_network.h"

namespace test_project {

struct Activity {
  std::vector<ExecutionMode> modes;
  std::vector<int32_t> successors;
  std::optional<int32_t> module;  // none: a module of its own (any id is a module id)
};

struct Project {
  std::vector<Activity> activities;
  std::vector<double> availability;
  double discountRate = 0;
};

inline ExecutionMode mode(double duration, double scv = 1.0, double cost = 0, double pts = 1.0, double pms = 0,
                          std::vector<double> use = {}) {
  ExecutionMode m;
  m.duration = duration;
  m.scv = scv;
  m.cost = cost;
  m.pts = pts;
  m.pms = pms;
  m.resourceUse = std::move(use);
  return m;
}

// Resource use shorter than the availability list is padded with zeros.
inline void installBaseNetwork(const Project& project) {
  const size_t n = project.activities.size();
  baseNetwork = BaseNetwork{};
  baseNetwork.activityCount = static_cast<int32_t>(n);
  baseNetwork.discountRate = project.discountRate;
  baseNetwork.resourceCount = static_cast<int32_t>(project.availability.size());
  baseNetwork.resourceAvailability = project.availability;
  baseNetwork.activities.resize(n);
  for (size_t a = 0; a < n; ++a) {
    Activity plan = project.activities[a];
    ::Activity& activity = baseNetwork.activities[a];
    for (ExecutionMode& m : plan.modes) m.resourceUse.resize(project.availability.size(), 0.0);
    activity.modes = std::move(plan.modes);
    activity.successors = std::move(plan.successors);
    activity.parentModule = plan.module.value_or(static_cast<int32_t>(a));
  }
  for (size_t a = 0; a < n; ++a)
    for (int32_t s : baseNetwork.activities[a].successors)
      baseNetwork.activities[static_cast<size_t>(s)].predecessors.push_back(static_cast<int32_t>(a));
}

}  // namespace test_project

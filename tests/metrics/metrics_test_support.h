// Test support for the metrics and experiment tests: base networks filled by hand, an
// elementary network that mirrors one (one exponential elementary activity per base
// activity) and UDC networks given by their member lists.
#pragma once
#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "duration/elementary_network.h"
#include "network/base_network.h"
#include "network/test_project.h"
#include "udc/udc_network.h"

namespace mtest {

struct ModeSpec {
  double duration = 1;
  double scv = 1;
  double cost = 0;
  double pts = 1;
};

struct ActivitySpec {
  std::vector<ModeSpec> modes;
  std::vector<int32_t> successors;
};

// Every mode takes one unit of every resource.
inline void installBase(const std::vector<ActivitySpec>& plans, double rate = 0.0,
                        std::vector<double> availability = {}) {
  test_project::Project project;
  project.discountRate = rate;
  for (const ActivitySpec& plan : plans) {
    test_project::Activity activity;
    for (const ModeSpec& m : plan.modes)
      activity.modes.push_back(
          test_project::mode(m.duration, m.scv, m.cost, m.pts, 0, std::vector<double>(availability.size(), 1.0)));
    activity.successors = plan.successors;
    project.activities.push_back(std::move(activity));
  }
  project.availability = std::move(availability);
  test_project::installBaseNetwork(project);
}

// Dummy start, the given real activities with one mode each, dummy end with the pay-off.
inline ActivitySpec dummy(std::vector<int32_t> successors, double cost = 0) {
  return ActivitySpec{{ModeSpec{0, 1, cost, 1}}, std::move(successors)};
}

// Elementary activity e stands for base activity e; ancestors are the transitive predecessors.
inline void installMirrorElementary() {
  const int n = baseNetwork.activityCount;
  elementaryNetwork = ElementaryNetwork{};
  elementaryNetwork.nElementary = n;
  elementaryNetwork.nBitWords = (n + kBitWordBits - 1) / kBitWordBits;
  elementaryNetwork.elemAncestorBits.assign(static_cast<size_t>(n) * elementaryNetwork.nBitWords, 0);
  for (int e = 0; e < n; ++e) {
    std::vector<int32_t> stack(baseNetwork.activities[e].predecessors);
    std::vector<uint8_t> seen(n, 0);
    while (!stack.empty()) {
      const int32_t p = stack.back();
      stack.pop_back();
      if (seen[p]) continue;
      seen[p] = 1;
      for (int32_t q : baseNetwork.activities[p].predecessors) stack.push_back(q);
    }
    for (int a = 0; a < n; ++a)
      if (seen[a])
        setBit(elementaryNetwork.elemAncestorBits.data() + static_cast<size_t>(e) * elementaryNetwork.nBitWords, a);
  }
}

inline void installUdcs(const std::vector<std::vector<int>>& members) {
  std::vector<std::vector<int32_t>> lists(members.begin(), members.end());
  storeUdcNetwork(lists, std::vector<uint32_t>(members.size(), 1), {});
}

inline std::vector<std::string> splitFields(const std::string& line, char separator = ';') {
  std::vector<std::string> fields;
  std::string field;
  std::istringstream in(line);
  while (std::getline(in, field, separator)) fields.push_back(field);
  if (!line.empty() && line.back() == separator) fields.push_back("");
  return fields;
}

inline std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

}  // namespace mtest

// The project file reader: fills baseNetwork from one project file, then normalises the
// successor numbering, links loose ends to the dummy end, derives the predecessor lists
// and checks the start and end activities.
#include "network/base_network.h"

#include <algorithm>
#include <fstream>
#include <string>

#include "network/base_network_file.h"
#include "run/config.h"
#include "run/fatal.h"
#include "run/run_state.h"

BaseNetwork baseNetwork;

namespace {

// Counts in the file are not trusted for allocation: storage grows as values arrive, so a
// corrupt count ends in the "ends early" stop instead of a huge allocation.
constexpr size_t kReserveLimit = 1024;

std::string projectLabel() { return "Error in project file number " + std::to_string(projectNumber) + "."; }

// Where in the file a value belongs, told only when it cannot be read.
struct ValuePlace {
  const char* field;
  int32_t activity = -1;
  int32_t mode = -1;
};

std::string describe(const ValuePlace& place) {
  std::string text = place.field;
  if (place.activity >= 0) text += " of activity " + std::to_string(place.activity);
  if (place.mode >= 0) text += ", mode " + std::to_string(place.mode);
  return text;
}

[[noreturn]] void stopUnreadable(const ValuePlace& place) {
  stopFatal(projectLabel() + " The file ends early or holds something other than a number where the " +
            describe(place) + " belongs.");
}

template <typename T>
T readValue(std::istream& in, const ValuePlace& place) {
  T value{};
  if (!(in >> value)) stopUnreadable(place);
  return value;
}

int32_t readCount(std::istream& in, const ValuePlace& place, int32_t minimum) {
  const int32_t count = readValue<int32_t>(in, place);
  if (count < minimum) {
    stopFatal(projectLabel() + " The " + describe(place) + " is " + std::to_string(count) +
              "; it must be at least " + std::to_string(minimum) + ".");
  }
  return count;
}

[[noreturn]] void stopSuccessorOutOfRange() {
  stopFatal("Error in project file data. Successor activity index is larger than the number of activities.");
}

void readDiscountRate(std::istream& in) {
  const RunConfig& config = runConfig;
  if (config.gv_CFG_rate_data == 0) {
    baseNetwork.discountRate = config.gv_rate;
  } else if (config.gv_CFG_rate_data == 1) {
    baseNetwork.discountRate = readValue<double>(in, {"discount rate"});
  } else if (config.gv_CFG_rate_data == -1) {
    readValue<double>(in, {"discount rate"});
    baseNetwork.discountRate = config.gv_rate;
  }
  // Any other setting keeps the rate already held (an experiment may have set it).
}

void readResources(std::istream& in) {
  BaseNetwork& network = baseNetwork;
  network.resourceCount = 0;
  network.resourceAvailability.clear();
  if (!runConfig.gv_CFG_rx_data) return;
  const int32_t resourceCount = readCount(in, {"number of renewable resources"}, 0);
  network.resourceAvailability.reserve(std::min<size_t>(resourceCount, kReserveLimit));
  for (int32_t r = 0; r < resourceCount; ++r) {
    network.resourceAvailability.push_back(readValue<double>(in, {"resource availability"}));
  }
  network.resourceCount = resourceCount;
}

ExecutionMode readMode(std::istream& in, int32_t activity, int32_t mode) {
  const RunConfig& config = runConfig;
  ExecutionMode read;
  read.duration = readValue<double>(in, {"duration", activity, mode});
  if (config.gv_CFG_SCV_data != 0) read.scv = readValue<double>(in, {"duration SCV", activity, mode});
  if (config.gv_CFG_skew_data != 0) read.skewness = readValue<double>(in, {"duration skewness", activity, mode});
  if (config.gv_CFG_cost_data) read.cost = readValue<double>(in, {"cost", activity, mode});
  if (config.gv_CFG_pts_data) read.pts = readValue<double>(in, {"probability of technical success", activity, mode});
  if (config.gv_CFG_pms_data) read.pms = readValue<double>(in, {"probability of module success", activity, mode});
  const int32_t resourceCount = baseNetwork.resourceCount;
  read.resourceUse.reserve(resourceCount);
  for (int32_t r = 0; r < resourceCount; ++r) {
    read.resourceUse.push_back(readValue<double>(in, {"resource use", activity, mode}));
  }
  return read;
}

Activity readActivity(std::istream& in, int32_t index) {
  const RunConfig& config = runConfig;
  Activity read;
  const int32_t modeCount = config.gv_CFG_mode_data ? readCount(in, {"number of modes", index}, 1) : 1;
  read.modes.reserve(std::min<size_t>(modeCount, kReserveLimit));
  for (int32_t m = 0; m < modeCount; ++m) read.modes.push_back(readMode(in, index, m));
  const int32_t successorCount = readCount(in, {"number of successors", index}, 0);
  read.successors.reserve(std::min<size_t>(successorCount, kReserveLimit));
  for (int32_t s = 0; s < successorCount; ++s) {
    read.successors.push_back(readValue<int32_t>(in, {"successor number", index}));
  }
  read.parentModule = config.gv_CFG_mod_data ? readValue<int32_t>(in, {"parent module", index}) : index;
  return read;
}

// A file that never names activity 1 as a successor numbers its activities from 1.
void renumberSuccessors() {
  BaseNetwork& network = baseNetwork;
  bool numberedFromZero = false;
  for (const Activity& activity : network.activities) {
    for (int32_t successor : activity.successors) {
      if (successor > network.activityCount || successor < 0) stopSuccessorOutOfRange();
      if (successor == 1) numberedFromZero = true;
    }
  }
  for (Activity& activity : network.activities) {
    for (int32_t& successor : activity.successors) {
      if (!numberedFromZero) --successor;
      if (successor < 0 || successor >= network.activityCount) stopSuccessorOutOfRange();
    }
  }
}

void linkLooseEnds() {
  BaseNetwork& network = baseNetwork;
  int32_t dummyEnd = -1;
  for (int32_t a = network.activityCount - 1; a >= 0 && dummyEnd < 0; --a) {
    const Activity& activity = network.activities[a];
    if (activity.successors.empty() && activity.modes.size() == 1 && activity.modes[0].duration == 0.0 &&
        activity.modes[0].pts == 1.0) {
      dummyEnd = a;
    }
  }
  if (dummyEnd < 0) {
    stopFatal(
        "Project has multiple activities that have no successors. The project should have a single dummy-end "
        "activity.");
  }
  for (int32_t a = 0; a < network.activityCount; ++a) {
    if (a != dummyEnd && network.activities[a].successors.empty()) network.activities[a].successors.push_back(dummyEnd);
  }
}

// Later stages take activity 0 as the dummy start and activity n - 1 as the dummy end, which
// holds once every successor has a higher index. Reordering would change every index in
// every output, so a file that is not numbered that way is refused.
void checkTopologicalNumbering() {
  const BaseNetwork& network = baseNetwork;
  for (int32_t a = 0; a < network.activityCount; ++a) {
    for (int32_t successor : network.activities[a].successors) {
      if (successor <= a) {
        stopFatal(projectLabel() + " Activity " + std::to_string(a) + " has successor " + std::to_string(successor) +
                  ", whose index is not greater than its own. Activities must be numbered so that every "
                  "successor comes after its predecessors, without cycles.");
      }
    }
  }
}

void derivePredecessors() {
  BaseNetwork& network = baseNetwork;
  std::vector<int32_t> predecessorCount(network.activityCount, 0);
  for (const Activity& activity : network.activities) {
    for (int32_t successor : activity.successors) ++predecessorCount[successor];
  }
  for (int32_t a = 0; a < network.activityCount; ++a) network.activities[a].predecessors.reserve(predecessorCount[a]);
  for (int32_t a = 0; a < network.activityCount; ++a) {
    for (int32_t successor : network.activities[a].successors) network.activities[successor].predecessors.push_back(a);
  }
}

void checkDummyStart() {
  int32_t startCount = 0;
  for (const Activity& activity : baseNetwork.activities) {
    if (activity.predecessors.empty()) ++startCount;
  }
  if (startCount != 1) {
    stopFatal(
        "Project has multiple activities that have no predecessors. The project should have a single "
        "dummy-start activity.");
  }
}

}  // namespace

void readProjectFile() {
  const RunConfig& config = runConfig;
  BaseNetwork& network = baseNetwork;
  const std::string fileName = config.PJFileName + std::to_string(projectNumber) + config.PJFileExt;
  std::ifstream in(fileName);
  if (!in) stopFatal("Unable to open project file number:" + std::to_string(projectNumber) + ".");

  network.activities.clear();
  network.activityCount = 0;
  const int32_t activityCount = readCount(in, {"number of activities"}, 1);
  readDiscountRate(in);
  readResources(in);
  network.activities.reserve(std::min<size_t>(activityCount, kReserveLimit));
  for (int32_t a = 0; a < activityCount; ++a) network.activities.push_back(readActivity(in, a));
  network.activityCount = activityCount;
  in.close();

  renumberSuccessors();
  linkLooseEnds();
  checkTopologicalNumbering();
  derivePredecessors();
  checkDummyStart();
  if (config.gv_CFG_write > 2) writeBaseNetworkFile();
}

void releaseBaseNetwork() {
  baseNetwork.activities = std::vector<Activity>{};
  baseNetwork.activityCount = 0;
}

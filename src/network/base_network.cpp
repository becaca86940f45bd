// The project file reader: fills baseNetwork from one project file, then normalises the
// successor numbering, merges successors named twice, links loose ends to the dummy end,
// derives the predecessor lists and checks the start and end activities.
#include "network/base_network.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>

#include "base/config.h"
#include "base/fatal.h"
#include "base/output_files.h"
#include "base/run_state.h"
#include "network/base_network_file.h"

BaseNetwork baseNetwork;

namespace {

// Counts in the file are not trusted for allocation: storage grows as values arrive, so a
// corrupt count ends in the "ends early" stop instead of a huge allocation.
constexpr size_t kReserveLimit = 1024;

std::string projectLabel() {
  return "Error in project file " + projectFileName() + " (project " + std::to_string(projectNumber) + ").";
}

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
    stopFatal(projectLabel() + " The " + describe(place) + " is " + std::to_string(count) + "; it must be at least " +
              std::to_string(minimum) + ".");
  }
  return count;
}

[[noreturn]] void stopSuccessor(int32_t activity, int32_t successor, const std::string& why) {
  stopFatal(projectLabel() + " Activity " + std::to_string(activity) + " names successor " + std::to_string(successor) +
            "; " + why);
}

// A negative rate makes the discounted sums diverge (the NPV recursion divides by the rate
// plus the total rate of the running phases).
void checkDiscountRate(double rate, const char* source) {
  if (std::isfinite(rate) && rate >= 0.0) return;
  std::ostringstream text;
  text << projectLabel() << " The discount rate (" << source << ") is " << rate
       << "; a discount rate must be finite and not negative.";
  stopFatal(text.str());
}

void readDiscountRate(std::istream& in) {
  const RunConfig& config = settingsInForce();
  if (config.gv_CFG_rate_data == 0) {
    baseNetwork.discountRate = config.gv_rate;
    checkDiscountRate(baseNetwork.discountRate, "gv_rate of CONFIG.DAT");
  } else if (config.gv_CFG_rate_data == 1) {
    baseNetwork.discountRate = readValue<double>(in, {"discount rate"});
    checkDiscountRate(baseNetwork.discountRate, "read from the file");
  } else if (config.gv_CFG_rate_data == -1) {
    readValue<double>(in, {"discount rate"});
    baseNetwork.discountRate = config.gv_rate;
    checkDiscountRate(baseNetwork.discountRate, "gv_rate of CONFIG.DAT");
  }
  // Any other setting keeps the rate already held (an experiment may have set it).
}

void readResources(std::istream& in) {
  BaseNetwork& network = baseNetwork;
  network.resourceCount = 0;
  network.resourceAvailability.clear();
  if (!settingsInForce().gv_CFG_rx_data) return;
  const int32_t resourceCount = readCount(in, {"number of renewable resources"}, 0);
  network.resourceAvailability.reserve(std::min<size_t>(resourceCount, kReserveLimit));
  for (int32_t r = 0; r < resourceCount; ++r) {
    network.resourceAvailability.push_back(readValue<double>(in, {"resource availability"}));
  }
  network.resourceCount = resourceCount;
}

ExecutionMode readMode(std::istream& in, int32_t activity, int32_t mode) {
  const RunConfig& config = settingsInForce();
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
  const RunConfig& config = settingsInForce();
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
  const int32_t n = network.activityCount;
  bool numberedFromZero = false;
  for (int32_t a = 0; a < n; ++a) {
    for (int32_t successor : network.activities[a].successors) {
      if (successor < 0) stopSuccessor(a, successor, "a successor number cannot be negative.");
      if (successor > n)
        stopSuccessor(a, successor, "it is larger than the number of activities (" + std::to_string(n) + ").");
      if (successor == 1) numberedFromZero = true;
    }
  }
  network.firstActivityNumber = numberedFromZero ? 0 : 1;
  for (int32_t a = 0; a < n; ++a) {
    for (int32_t& successor : network.activities[a].successors) {
      if (numberedFromZero && successor == n)
        stopSuccessor(a, successor,
                      "the file numbers its activities from 0 (activity 1 is named as a successor), so the last "
                      "activity is " +
                          std::to_string(n - 1) + ".");
      if (!numberedFromZero && successor == 0)
        stopSuccessor(a, successor,
                      "the file numbers its activities from 1 (no activity names activity 1 as a successor), so "
                      "0 names no activity.");
      if (!numberedFromZero) --successor;
    }
  }
}

std::string modePlace(int32_t activity, int32_t mode) {
  return "activity " + std::to_string(activity) + ", mode " + std::to_string(mode);
}

// A successor named twice is one precedence: the later names are dropped, the order of the
// first ones kept (later stages take every successor as a distinct arc).
void mergeDuplicateSuccessors() {
  BaseNetwork& network = baseNetwork;
  std::vector<int32_t> seenBy(static_cast<size_t>(network.activityCount), -1);
  for (int32_t a = 0; a < network.activityCount; ++a) {
    std::vector<int32_t>& successors = network.activities[a].successors;
    size_t kept = 0;
    for (int32_t successor : successors) {
      if (seenBy[static_cast<size_t>(successor)] == a) continue;
      seenBy[static_cast<size_t>(successor)] = a;
      successors[kept++] = successor;
    }
    successors.resize(kept);
  }
}

[[noreturn]] void stopValue(const std::string& origin, const char* field, int32_t activity, int32_t mode, double value,
                            const std::string& range) {
  std::ostringstream text;
  text << projectLabel() << (origin.empty() ? std::string(" The ") : origin + " the ") << field << " of "
       << modePlace(activity, mode) << " is " << value << "; " << range;
  stopFatal(text.str());
}

// "Activities 2, 5 and 7" (the first few of a long list, then how many more), counted from 1
// in the file's order whichever numbering its successors use.
std::string activityList(const std::vector<int32_t>& activities) {
  constexpr size_t kShown = 6;
  std::ostringstream text;
  text << (activities.size() == 1 ? "Activity " : "Activities ");
  const size_t shown = std::min(activities.size(), kShown);
  for (size_t i = 0; i < shown; ++i) {
    if (i > 0) text << (i + 1 == shown && activities.size() <= kShown ? " and " : ", ");
    text << activities[i] + 1;
  }
  if (activities.size() > kShown) text << " and " << activities.size() - kShown << " more";
  return text.str();
}

// Why an activity without successors cannot be the dummy end.
std::string notADummyEnd(const Activity& activity) {
  std::ostringstream why;
  if (activity.modes.size() != 1)
    why << "has " << activity.modes.size() << " modes";
  else if (activity.modes[0].duration != 0.0)
    why << "has a duration (" << activity.modes[0].duration << ")";
  else
    why << "has a probability of technical success of " << activity.modes[0].pts;
  return why.str();
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
    std::vector<int32_t> sinks;
    for (int32_t a = 0; a < network.activityCount; ++a)
      if (network.activities[a].successors.empty()) sinks.push_back(a);
    std::ostringstream message;
    message << projectLabel()
            << " Project has multiple activities that have no successors. The project should have a single "
               "dummy-end activity.";
    if (sinks.empty())
      message << " Every activity has successors.";
    else
      message << ' ' << activityList(sinks)
              << (sinks.size() == 1 ? " (counted from 1), the only activity without successors, is"
                                    : " (counted from 1) have no successors, and none is")
              << " a dummy end, which has one mode of duration 0 with probability of technical success 1: "
              << (sinks.size() == 1 ? "it" : "the last of them") << ' '
              << notADummyEnd(network.activities[sinks.back()]) << '.';
    stopFatal(message.str());
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
  std::vector<int32_t> sources;
  for (int32_t a = 0; a < baseNetwork.activityCount; ++a)
    if (baseNetwork.activities[a].predecessors.empty()) sources.push_back(a);
  if (sources.size() != 1) {
    std::ostringstream message;
    message << projectLabel()
            << " Project has multiple activities that have no predecessors. The project should have a single "
               "dummy-start activity. "
            << activityList(sources)
            << " (counted from 1) have no predecessors: only the dummy start, the first activity of the file, may "
               "have none.";
    stopFatal(message.str());
  }
}

}  // namespace

std::string projectFileName() {
  return settingsInForce().PJFileName + std::to_string(projectNumber) + settingsInForce().PJFileExt;
}

void checkProjectValues(const std::string& origin) {
  const BaseNetwork& network = baseNetwork;
  std::ostringstream amount;
  amount << "costs and pay-offs must lie within -" << kMaxAmount << " and " << kMaxAmount << ".";
  std::ostringstream duration;
  duration << "a duration must be 0 or lie within " << kMinPositiveDuration << " and " << kMaxDuration << ".";
  const std::string probability = "a probability must lie within 0 and 1.";
  for (int32_t a = 0; a < static_cast<int32_t>(network.activities.size()); ++a) {
    const std::vector<ExecutionMode>& modes = network.activities[a].modes;
    for (int32_t m = 0; m < static_cast<int32_t>(modes.size()); ++m) {
      const ExecutionMode& mode = modes[m];
      const double d = mode.duration;
      if (!(d == 0.0 || (d >= kMinPositiveDuration && d <= kMaxDuration)))
        stopValue(origin, "duration", a, m, d, duration.str());
      if (!(std::fabs(mode.cost) <= kMaxAmount)) stopValue(origin, "cost", a, m, mode.cost, amount.str());
      if (!(mode.pts >= 0.0 && mode.pts <= 1.0))
        stopValue(origin, "probability of technical success", a, m, mode.pts, probability);
      if (!(mode.pms >= 0.0 && mode.pms <= 1.0))
        stopValue(origin, "probability of module success", a, m, mode.pms, probability);
      if (!std::isfinite(mode.skewness))
        stopValue(origin, "duration skewness", a, m, mode.skewness, "a skewness must be finite.");
      for (double use : mode.resourceUse)
        if (!(use >= 0.0 && std::isfinite(use)))
          stopValue(origin, "resource use", a, m, use, "a resource use must be finite and not negative.");
    }
  }
}

void readProjectFile() {
  BaseNetwork& network = baseNetwork;
  const std::string fileName = projectFileName();
  std::ifstream in(fileName);
  if (!in) stopFatal("Unable to open project file number:" + std::to_string(projectNumber) + " (" + fileName + ").");

  network.activities.clear();
  network.activityCount = 0;
  const int32_t activityCount = readCount(in, {"number of activities"}, 1);
  readDiscountRate(in);
  readResources(in);
  network.activities.reserve(std::min<size_t>(activityCount, kReserveLimit));
  for (int32_t a = 0; a < activityCount; ++a) network.activities.push_back(readActivity(in, a));
  network.activityCount = activityCount;
  in.close();

  checkProjectValues("");
  renumberSuccessors();
  mergeDuplicateSuccessors();
  linkLooseEnds();
  checkTopologicalNumbering();
  derivePredecessors();
  checkDummyStart();
  if (outputFileIsWritten(OutputFile::kBaseNetwork)) writeBaseNetworkFile();
}

void releaseBaseNetwork() {
  baseNetwork.activities = std::vector<Activity>{};
  baseNetwork.activityCount = 0;
}

// The project as read from one project file: activities with their execution modes,
// renewable resources, precedence relations and modules.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct ExecutionMode {
  double duration = 0;
  double scv = 1.0;
  double skewness = 0;
  double cost = 0;
  double pts = 1.0;
  double pms = 0;
  std::vector<double> resourceUse;  // resourceCount entries
};

struct Activity {
  std::vector<ExecutionMode> modes;   // modeCount = modes.size(), at least 1
  std::vector<int32_t> successors;    // 0-based, dummy end appended to loose ends
  std::vector<int32_t> predecessors;  // ascending
  int32_t parentModule = 0;
};

struct BaseNetwork {
  int32_t activityCount = 0;
  // Survives releaseBaseNetwork: the "unchanged" rate rule reads the previous value.
  double discountRate = 0;
  // The number the project file gives its first activity, 1 or 0 (a file that names activity 1
  // as a successor numbers from 0): the readable policy names activities as the file does.
  // Survives releaseBaseNetwork, like the rate.
  int32_t firstActivityNumber = 1;
  // resourceCount and resourceAvailability stay valid until releaseElementaryNetwork.
  int32_t resourceCount = 0;
  std::vector<double> resourceAvailability;
  std::vector<Activity> activities;
};

extern BaseNetwork baseNetwork;

// The values the solver can represent. State values are single-precision floats: an NPV
// lies between the sum of the negative costs and the sum of the positive ones, a makespan
// below the sum of the phase means; amounts and durations of at most 1e12 keep those sums
// far inside float range (3.4e38) for any project that fits in memory. A positive
// duration of at least 1e-6 keeps every rate finite and comparable with the others.
constexpr double kMaxAmount = 1e12;  // |cost| and |pay-off|
constexpr double kMaxDuration = 1e12;
constexpr double kMinPositiveDuration = 1e-6;

// PJFileName + projectNumber + PJFileExt.
std::string projectFileName();

// Reads PJFileName + projectNumber + PJFileExt, normalises and checks it, and writes the
// .BPN file at write level 3 or more. Bad input stops the run.
void readProjectFile();

// Frees the per-activity data; discountRate and the resources stay.
void releaseBaseNetwork();

// Stops the run when a duration, cost, probability or resource use of the project held is
// outside what the solver can represent; origin tells where the values came from when
// something other than the file changed them (empty for the file itself).
void checkProjectValues(const std::string& origin);

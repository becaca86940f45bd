// The project as read from one project file: activities with their execution modes,
// renewable resources, precedence relations and modules.
#pragma once
#include <cstdint>
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
  std::vector<ExecutionMode> modes;      // modeCount = modes.size(), at least 1
  std::vector<int32_t> successors;       // 0-based, dummy end appended to loose ends
  std::vector<int32_t> predecessors;     // ascending
  int32_t parentModule = 0;
};

struct BaseNetwork {
  int32_t activityCount = 0;
  // Survives releaseBaseNetwork: the "unchanged" rate rule reads the previous value.
  double discountRate = 0;
  // resourceCount and resourceAvailability stay valid until releaseElementaryNetwork.
  int32_t resourceCount = 0;
  std::vector<double> resourceAvailability;
  std::vector<Activity> activities;
};

extern BaseNetwork baseNetwork;

// Reads PJFileName + projectNumber + PJFileExt, normalises and checks it, and writes the
// .BPN file at write level 3 or more. Bad input stops the run.
void readProjectFile();

// Frees the per-activity data; discountRate and the resources stay.
void releaseBaseNetwork();

// Work data of the backward sweep shared by the four solvers: the state walk, scratch bit
// sets and, per UDC, the member lists of its successor UDCs with their positions in it.
#pragma once
#include <cstdint>
#include <vector>

#include "duration/bit_set.h"
#include "udc/state_walk.h"

struct SweepWork {
  UdcStateWalk walk;
  int32_t udc = -1;  // the UDC being evaluated
  double discountRate = 0;
  double npvBound = 0;       // npvLowerBound widened
  double makespanBound = 0;  // -makespanUpperBound widened
  bool abandon = false;
  bool irq = false;

  // Scratch bit sets of nBitWords words.
  std::vector<BitWord> finishedWithCompleted;  // F'
  std::vector<BitWord> moduleDoneTest;         // F' with a successor and its ancestors
  std::vector<BitWord> moduleSuccessSet;       // D
  std::vector<BitWord> addSet;
  std::vector<BitWord> removeSet;
  std::vector<BitWord> targetMembers;          // N

  // Successor UDCs of the UDC being evaluated, in list order; member k of successor j is
  // successorMemberActivity[successorMemberStart[j] + k], at position k there.
  std::vector<int32_t> successorUdc;
  std::vector<int32_t> successorMemberStart;
  std::vector<int32_t> successorMemberActivity;
  std::vector<int32_t> successorMemberPositionHere;  // position in the UDC being evaluated, -1 when new

  // When successor s alone enters (and its ancestors leave), the target UDC does not
  // depend on the state: its index in the successor list, -1 until first met in this UDC.
  std::vector<int32_t> successorIndexOfEntering;  // nElementary entries
  std::vector<int32_t> enteringMet;               // entries to reset for the next UDC
};

extern SweepWork sweepWork;

// Sizes the work data for the current networks; released by releaseSweepWork.
void buildSweepWork();
void releaseSweepWork();

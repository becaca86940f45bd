// The walk over the states of one UDC, in strictly descending state key. One routine for
// identification and for every solver, so both see the same states, in the same order,
// with the same floating-point operations on the total rate and the remaining resources.
#pragma once
#include <cstdint>
#include <vector>

#include "duration/bit_set.h"

enum MemberStatus : uint8_t { kIdle = 0, kActive = 1, kFinished = 2 };

// Scratch sized once per project (prepareStateWalk) and reused for every UDC.
struct UdcStateWalk {
  int32_t memberCount = 0;
  std::vector<int32_t> memberByPosition;    // ascending elementary activity index
  std::vector<int32_t> positionByActivity;  // nElementary entries, -1 for non-members
  std::vector<uint8_t> status;              // MemberStatus by position
  std::vector<BitWord> memberSet;           // M
  std::vector<BitWord> ancestorUnion;       // union of the members' ancestors
  std::vector<BitWord> finishedSet;         // F: ancestorUnion plus finished members
  std::vector<BitWord> activeSet;           // O
  std::vector<double> remainingResources;   // availability minus active members' use
  double totalRate = 0;                     // sum of the active members' rates
  uint32_t key = 0;                         // sum of status(p) * 3^p
  // Built before every visit, both in descending activity index.
  std::vector<int32_t> idleList;
  std::vector<int32_t> activeList;
  int32_t idleCount = 0;
  int32_t activeCount = 0;
  int32_t instantaneousMember = -1;  // highest active member with elemDuration <= 0

  // Fixed for the UDC taken up.
  std::vector<uint8_t> mayIdle;      // by position: elemAllowedToIdle
  std::vector<uint8_t> mayFinish;    // by position: 0 when no state of this UDC can hold it finished
  std::vector<int32_t> memberWords;  // words of M that hold members, descending
  int32_t wordCount = 0;
  int32_t resourceCount = 0;
};

// Sizes the scratch for the current elementary network.
void prepareStateWalk(UdcStateWalk& walk);

// Takes up the UDC with the given member set: member positions and ancestor union.
void beginUdc(UdcStateWalk& walk, const BitWord* members);

// Visits every state of the UDC taken up, in descending key; visit(const UdcStateWalk&)
// sees the lists, sets, key, rate and resources of the state. With checkResources, a
// remaining amount below 0 ends the walk at the moment identification checks it and the
// result is false. Defined in state_walk_impl.h.
template <class Visit>
bool walkUdcStates(UdcStateWalk& walk, bool checkResources, Visit&& visit);

#include "udc/state_walk_impl.h"

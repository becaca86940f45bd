// Body of the state walk. Kept in a header so that each caller's visit is inlined.
//
// The walk is a mixed-radix count-down over the member statuses: every position runs
// through its feasible values finished, active, idle; position 0 changes fastest; after a
// position is lowered, the positions below it are refilled with their largest feasible
// values, each decided against the final statuses above it and the minima below it.
#pragma once

#include "duration/elementary_network.h"
#include "network/base_network.h"
#include "run/subset_tables.h"

namespace state_walk_detail {

inline bool memberFits(const UdcStateWalk& walk, int e) {
  const double* use = resourceUseOf(e);
  for (int r = 0; r < walk.resourceCount; ++r)
    if (use[r] > walk.remainingResources[static_cast<size_t>(r)]) return false;
  return true;
}

inline void activateMember(UdcStateWalk& walk, int p, int e) {
  walk.status[static_cast<size_t>(p)] = kActive;
  setBit(walk.activeSet.data(), e);
  walk.totalRate += elementaryNetwork.elemRate[static_cast<size_t>(e)];
  const double* use = resourceUseOf(e);
  for (int r = 0; r < walk.resourceCount; ++r) walk.remainingResources[static_cast<size_t>(r)] -= use[r];
}

// Takes an active member out of the active set; the caller sets its new status.
inline void releaseMember(UdcStateWalk& walk, int e) {
  resetBit(walk.activeSet.data(), e);
  walk.totalRate -= elementaryNetwork.elemRate[static_cast<size_t>(e)];
  const double* use = resourceUseOf(e);
  for (int r = 0; r < walk.resourceCount; ++r) walk.remainingResources[static_cast<size_t>(r)] += use[r];
}

// With e already added to the finished set: no successor of e becomes eligible.
inline bool staysFinished(const UdcStateWalk& walk, int e) {
  for (int s : elementaryNetwork.elemSuccessors[static_cast<size_t>(e)])
    if (isSubsetOf(ancestorBitsOf(s), walk.finishedSet.data(), walk.wordCount)) return false;
  return true;
}

// Positions top .. 0 hold their minima (idle, or active for members that may not idle);
// each is raised to its largest feasible status.
inline void assignMaximal(UdcStateWalk& walk, int top) {
  const uint32_t* three = subsetTables.powersOfThree;
  for (int p = top; p >= 0; --p) {
    const int e = walk.memberByPosition[static_cast<size_t>(p)];
    if (walk.mayFinish[static_cast<size_t>(p)]) {
      setBit(walk.finishedSet.data(), e);
      if (staysFinished(walk, e)) {
        if (walk.mayIdle[static_cast<size_t>(p)]) {
          walk.key += subsetTables.twicePowersOfThree[p];
        } else {
          walk.key += three[p];
          releaseMember(walk, e);
        }
        walk.status[static_cast<size_t>(p)] = kFinished;
        continue;
      }
      resetBit(walk.finishedSet.data(), e);
    }
    if (walk.mayIdle[static_cast<size_t>(p)] && memberFits(walk, e)) {
      walk.key += three[p];
      activateMember(walk, p, e);
    }
  }
}

// A finished member goes back to active when it must run or fits, else to idle.
inline void lowerFinished(UdcStateWalk& walk, int p) {
  const int e = walk.memberByPosition[static_cast<size_t>(p)];
  if (!walk.mayIdle[static_cast<size_t>(p)] || memberFits(walk, e)) {
    walk.key -= subsetTables.powersOfThree[p];
    activateMember(walk, p, e);
  } else {
    walk.key -= subsetTables.twicePowersOfThree[p];
    walk.status[static_cast<size_t>(p)] = kIdle;
  }
  resetBit(walk.finishedSet.data(), e);
}

inline void buildStateLists(UdcStateWalk& walk) {
  const std::vector<double>& duration = elementaryNetwork.elemDuration;
  int idle = 0;
  int active = 0;
  int instantaneous = -1;
  for (int w : walk.memberWords) {
    const uint32_t activeWord = walk.activeSet[static_cast<size_t>(w)];
    const uint32_t idleWord = walk.memberSet[static_cast<size_t>(w)] &
                              ~(walk.finishedSet[static_cast<size_t>(w)] | activeWord) & 0xFFFFu;
    const int base = w * kStateWordBits;
    if (activeWord != 0) {
      const uint8_t* bits = membersOfMask(activeWord);
      for (int k = subsetTables.maskMemberCount[activeWord] - 1; k >= 0; --k) {
        const int e = base + bits[k];
        walk.activeList[static_cast<size_t>(active++)] = e;
        if (instantaneous < 0 && duration[static_cast<size_t>(e)] <= 0) instantaneous = e;
      }
    }
    if (idleWord != 0) {
      const uint8_t* bits = membersOfMask(idleWord);
      for (int k = subsetTables.maskMemberCount[idleWord] - 1; k >= 0; --k)
        walk.idleList[static_cast<size_t>(idle++)] = base + bits[k];
    }
  }
  walk.idleCount = idle;
  walk.activeCount = active;
  walk.instantaneousMember = instantaneous;
}

inline bool resourcesOverdrawn(const UdcStateWalk& walk) {
  for (int r = 0; r < walk.resourceCount; ++r)
    if (walk.remainingResources[static_cast<size_t>(r)] < 0) return true;
  return false;
}

}  // namespace state_walk_detail

template <class Visit>
bool walkUdcStates(UdcStateWalk& walk, bool checkResources, Visit&& visit) {
  using namespace state_walk_detail;
  const int count = walk.memberCount;
  const int words = walk.wordCount;
  if (count == 0) return true;  // only a hand-built, inconsistent network has an empty cutset

  for (int p = 0; p < count; ++p) walk.status[static_cast<size_t>(p)] = kIdle;
  copyBits(walk.finishedSet.data(), walk.ancestorUnion.data(), words);
  clearBits(walk.activeSet.data(), words);
  walk.totalRate = 0;
  for (int r = 0; r < walk.resourceCount; ++r)
    walk.remainingResources[static_cast<size_t>(r)] = baseNetwork.resourceAvailability[static_cast<size_t>(r)];
  walk.key = 0;

  // Members that may not idle run from the moment they are enabled, fitting or not.
  for (int p = 0; p < count; ++p)
    if (!walk.mayIdle[static_cast<size_t>(p)]) {
      walk.key += subsetTables.powersOfThree[p];
      activateMember(walk, p, walk.memberByPosition[static_cast<size_t>(p)]);
    }
  assignMaximal(walk, count - 1);

  const int first = walk.memberByPosition[0];
  for (;;) {
    if (walk.status[0] == kFinished) {
      buildStateLists(walk);
      visit(static_cast<const UdcStateWalk&>(walk));
      lowerFinished(walk, 0);
    }
    if (checkResources && resourcesOverdrawn(walk)) return false;
    bool advance = false;
    if (walk.status[0] == kActive) {
      buildStateLists(walk);
      visit(static_cast<const UdcStateWalk&>(walk));
      if (walk.mayIdle[0]) {
        releaseMember(walk, first);
        walk.status[0] = kIdle;
        walk.key -= 1;
      } else {
        advance = true;
      }
    }
    if (!advance && walk.status[0] == kIdle) {
      buildStateLists(walk);
      visit(static_cast<const UdcStateWalk&>(walk));
    }

    int p = 1;
    for (;; ++p) {
      if (p >= count) return true;
      const uint8_t status = walk.status[static_cast<size_t>(p)];
      if (status == kIdle || (status == kActive && !walk.mayIdle[static_cast<size_t>(p)])) continue;
      if (status == kActive) {
        releaseMember(walk, walk.memberByPosition[static_cast<size_t>(p)]);
        walk.status[static_cast<size_t>(p)] = kIdle;
        walk.key -= subsetTables.powersOfThree[p];
      } else {
        lowerFinished(walk, p);
      }
      break;
    }
    assignMaximal(walk, p - 1);
  }
}

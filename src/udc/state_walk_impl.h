// Body of the state walk. Kept in a header so that each caller's visit is inlined.
//
// The walk is a mixed-radix count-down over the member statuses: every position runs
// through its feasible values finished, active, idle; position 0 changes fastest; after a
// position is lowered, the positions below it are refilled with their largest feasible
// values, each decided against the final statuses above it and the minima below it.
#pragma once

namespace state_walk_detail {

inline bool memberFits(const UdcStateWalk& walk, int p) {
  return useFits(walk.resourceUse[static_cast<size_t>(p)], walk.remainingResources.data(), walk.resourceSlots);
}

inline void activateMember(UdcStateWalk& walk, int p) {
  walk.status[static_cast<size_t>(p)] = kActive;
  walk.activeMask |= positionBit(p);
  walk.totalRate += walk.rate[static_cast<size_t>(p)];
  subtractUse(walk.remainingResources.data(), walk.resourceUse[static_cast<size_t>(p)], walk.resourceSlots);
}

// Takes an active member out of the active set; the caller sets its new status.
inline void releaseMember(UdcStateWalk& walk, int p) {
  walk.activeMask &= ~positionBit(p);
  walk.totalRate -= walk.rate[static_cast<size_t>(p)];
  addUse(walk.remainingResources.data(), walk.resourceUse[static_cast<size_t>(p)], walk.resourceSlots);
}

// With p already counted as finished: no successor of p becomes eligible.
inline bool staysFinished(const UdcStateWalk& walk, int p) {
  const SuccessorNeed* need = walk.needs.data() + walk.needStart[static_cast<size_t>(p)];
  const SuccessorNeed* end = walk.needs.data() + walk.needStart[static_cast<size_t>(p) + 1];
  for (; need != end; ++need)
    if (isEligible(*need, walk.finishedMask)) return false;
  return true;
}

// Positions top .. 0 hold their minima (idle, or active for members that may not idle);
// each is raised to its largest feasible status.
inline void assignMaximal(UdcStateWalk& walk, int top) {
  for (int p = top; p >= 0; --p) {
    const uint64_t bit = positionBit(p);
    if (walk.mayFinishMask & bit) {
      walk.finishedMask |= bit;
      if (staysFinished(walk, p)) {
        if (walk.mayIdleMask & bit) {
          walk.key += 2 * kPowersOfThree[static_cast<size_t>(p)];
        } else {
          walk.key += kPowersOfThree[static_cast<size_t>(p)];
          releaseMember(walk, p);
        }
        walk.status[static_cast<size_t>(p)] = kFinished;
        continue;
      }
      walk.finishedMask &= ~bit;
    }
    if ((walk.mayIdleMask & bit) && memberFits(walk, p)) {
      walk.key += kPowersOfThree[static_cast<size_t>(p)];
      activateMember(walk, p);
    }
  }
}

// A finished member goes back to active when it must run or fits, else to idle.
inline void lowerFinished(UdcStateWalk& walk, int p) {
  if (!(walk.mayIdleMask & positionBit(p)) || memberFits(walk, p)) {
    walk.key -= kPowersOfThree[static_cast<size_t>(p)];
    activateMember(walk, p);
  } else {
    walk.key -= 2 * kPowersOfThree[static_cast<size_t>(p)];
    walk.status[static_cast<size_t>(p)] = kIdle;
  }
  walk.finishedMask &= ~positionBit(p);
}

inline bool resourcesOverdrawn(const UdcStateWalk& walk) {
  for (int r = 0; r < walk.resourceSlots; ++r)
    if (walk.remainingResources[static_cast<size_t>(r)] < 0) return true;
  return false;
}

}  // namespace state_walk_detail

template <class Visit>
bool walkUdcStates(UdcStateWalk& walk, bool checkResources, Visit&& visit) {
  using namespace state_walk_detail;
  const int count = walk.memberCount;
  if (count == 0) return true;  // only a hand-built, inconsistent network has an empty cutset

  for (int p = 0; p < count; ++p) walk.status[static_cast<size_t>(p)] = kIdle;
  walk.finishedMask = 0;
  walk.activeMask = 0;
  walk.totalRate = 0;
  for (int r = 0; r < walk.resourceSlots; ++r)
    walk.remainingResources[static_cast<size_t>(r)] = walk.availability[static_cast<size_t>(r)];
  walk.key = 0;

  // Members that may not idle run from the moment they are enabled, fitting or not.
  for (int p = 0; p < count; ++p)
    if (!(walk.mayIdleMask & positionBit(p))) {
      walk.key += kPowersOfThree[static_cast<size_t>(p)];
      activateMember(walk, p);
    }
  assignMaximal(walk, count - 1);

  const bool firstMayIdle = (walk.mayIdleMask & 1u) != 0;
  for (;;) {
    if (walk.status[0] == kFinished) {
      visit(static_cast<const UdcStateWalk&>(walk));
      lowerFinished(walk, 0);
    }
    if (checkResources && resourcesOverdrawn(walk)) return false;
    bool advance = false;
    if (walk.status[0] == kActive) {
      visit(static_cast<const UdcStateWalk&>(walk));
      if (firstMayIdle) {
        releaseMember(walk, 0);
        walk.status[0] = kIdle;
        walk.key -= 1;
      } else {
        advance = true;
      }
    }
    if (!advance && walk.status[0] == kIdle) {
      visit(static_cast<const UdcStateWalk&>(walk));
    }

    int p = 1;
    for (;; ++p) {
      if (p >= count) return true;
      const uint8_t status = walk.status[static_cast<size_t>(p)];
      const bool mayIdle = (walk.mayIdleMask & positionBit(p)) != 0;
      if (status == kIdle || (status == kActive && !mayIdle)) continue;
      if (status == kActive) {
        releaseMember(walk, p);
        walk.status[static_cast<size_t>(p)] = kIdle;
        walk.key -= kPowersOfThree[static_cast<size_t>(p)];
      } else {
        lowerFinished(walk, p);
      }
      break;
    }
    assignMaximal(walk, p - 1);
  }
}

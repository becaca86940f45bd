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
  // Members that may neither finish here nor idle keep their minimum: only the others are
  // visited.
  uint64_t open = (walk.mayFinishMask | walk.mayIdleMask) & (positionBit(top) | (positionBit(top) - 1));
  while (open != 0) {
    const int p = highestBit(open);
    const uint64_t bit = positionBit(p);
    open ^= bit;
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

// A finished member goes back to active when it must run or fits, else to idle. True when
// it runs without having been checked to fit.
inline bool lowerFinished(UdcStateWalk& walk, int p) {
  const bool mustRun = !(walk.mayIdleMask & positionBit(p));
  if (mustRun || memberFits(walk, p)) {
    walk.key -= kPowersOfThree[static_cast<size_t>(p)];
    activateMember(walk, p);
  } else {
    walk.key -= 2 * kPowersOfThree[static_cast<size_t>(p)];
    walk.status[static_cast<size_t>(p)] = kIdle;
  }
  walk.finishedMask &= ~positionBit(p);
  return mustRun;
}

inline bool resourcesOverdrawn(const UdcStateWalk& walk) {
  for (int r = 0; r < walk.resourceSlots; ++r)
    if (walk.remainingResources[static_cast<size_t>(r)] < 0) return true;
  return false;
}

}  // namespace state_walk_detail

// Puts the walk on the first state of the UDC taken up (with members, else false).
inline bool startUdcWalk(UdcStateWalk& walk) {
  using namespace state_walk_detail;
  const int count = walk.memberCount;
  if (count == 0) return false;  // only a hand-built, inconsistent network has an empty cutset

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
  return true;
}

// Lowers position p (one that walkUdcStatesOn returned) and refills the positions below it:
// the walk stands on the first state of the next block. True when a member now runs without
// having been checked to fit.
inline bool lowerWalkPosition(UdcStateWalk& walk, int p) {
  using namespace state_walk_detail;
  bool mustRun = false;
  if (walk.status[static_cast<size_t>(p)] == kActive) {
    releaseMember(walk, p);
    walk.status[static_cast<size_t>(p)] = kIdle;
    walk.key -= kPowersOfThree[static_cast<size_t>(p)];
  } else {
    mustRun = lowerFinished(walk, p);
  }
  assignMaximal(walk, p - 1);
  return mustRun;
}

template <class Visit>
int walkUdcStatesOn(UdcStateWalk& walk, bool checkResources, bool& overdrawPossible, int stopAt, Visit&& visit) {
  using namespace state_walk_detail;
  // A remaining amount can turn negative only when a member that must run starts without
  // being checked to fit (uses are never negative, and one that fits leaves every amount at
  // least 0): the amounts are checked after each such start, and at first.
  const bool firstMayIdle = (walk.mayIdleMask & 1u) != 0;
  for (;;) {
    if (walk.status[0] == kFinished) {
      visit(static_cast<const UdcStateWalk&>(walk));
      overdrawPossible = lowerFinished(walk, 0) || overdrawPossible;
    }
    if (checkResources && overdrawPossible) {
      if (resourcesOverdrawn(walk)) return kWalkOverdrawn;
      overdrawPossible = false;
    }
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

    // The lowest position above 0 not at its minimum (idle, or active for a member that may
    // not idle) is lowered; none left ends the walk.
    const uint64_t lowerable = (walk.finishedMask | (walk.activeMask & walk.mayIdleMask)) & ~uint64_t{1};
    if (lowerable == 0) return kWalkEnded;
    const int p = lowestBit(lowerable);
    if (p >= stopAt) return p;
    overdrawPossible = lowerWalkPosition(walk, p) || overdrawPossible;
  }
}

template <class Visit>
bool walkUdcStates(UdcStateWalk& walk, bool checkResources, Visit&& visit) {
  if (!startUdcWalk(walk)) return true;
  bool overdrawPossible = true;
  return walkUdcStatesOn(walk, checkResources, overdrawPossible, kMaxUdcMembers, visit) != kWalkOverdrawn;
}

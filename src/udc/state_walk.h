// The walk over the states of one UDC, in strictly descending state key. One routine for
// identification and for every solver, so both see the same states, in the same order,
// with the same floating-point operations on the total rate and the remaining resources.
//
// A state is one status per member position; the walk keeps the finished and the active
// members as bit masks over positions, so that the tests of the status rules are a few
// mask operations instead of set operations over every elementary activity.
#pragma once
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/bit_set.h"

enum MemberStatus : uint8_t { kIdle = 0, kActive = 1, kFinished = 2 };

// The number of a state within its UDC: the sum over positions p of status(p) x 3^p.
using StateKey = uint64_t;

constexpr std::array<StateKey, kMaxUdcMembers + 1> kPowersOfThree = [] {
  std::array<StateKey, kMaxUdcMembers + 1> powers{};
  powers[0] = 1;
  for (int p = 1; p <= kMaxUdcMembers; ++p) powers[static_cast<size_t>(p)] = 3 * powers[static_cast<size_t>(p) - 1];
  return powers;
}();

// The position p whose digit weight 3^p is weight, or -1: each bit length holds one power of
// three at most, so a table by bit length names the only candidate.
inline int positionOfWeight(StateKey weight) {
  static constexpr std::array<int8_t, 64> kCandidate = [] {
    std::array<int8_t, 64> candidate{};
    candidate.fill(-1);
    for (int p = 0; p <= kMaxUdcMembers; ++p) {
      int bits = 0;
      for (StateKey w = kPowersOfThree[static_cast<size_t>(p)]; w > 1; w >>= 1) ++bits;
      candidate[static_cast<size_t>(bits)] = static_cast<int8_t>(p);
    }
    return candidate;
  }();
  if (weight == 0) return -1;
  const int p = kCandidate[static_cast<size_t>(highestBit(weight))];
  return p >= 0 && kPowersOfThree[static_cast<size_t>(p)] == weight ? p : -1;
}

inline uint64_t positionBit(int p) { return uint64_t{1} << p; }

// One successor of a member whose completion lets all its successors follow (type 0): the
// members of the UDC among its ancestors, and whether its remaining ancestors are all
// ancestors of members. It is eligible once those members are finished.
struct SuccessorNeed {
  uint64_t members = 0;
  bool reachable = false;
};

// What the walk needs of one elementary activity, gathered once per project so that taking
// up a UDC reads one record per member.
struct ElementWalkInfo {
  double rate = 0;
  const double* use = nullptr;  // resourceSlots amounts
  bool mayIdle = false;
  bool instantaneous = false;  // duration 0 or a dummy: completes at once
  bool followAll = false;      // type 0 with successors: may stay finished in a cutset
};

struct UdcStateWalk {
  // Sized once per project (prepareStateWalk). Resource amounts are kept in groups of four
  // (the unused ones 0), so that the loops over them have a fixed shape.
  int32_t wordCount = 0;
  int32_t resourceCount = 0;
  int32_t resourceSlots = 0;                // resourceCount rounded up to a multiple of four
  std::vector<int32_t> positionByActivity;  // nElementary entries, -1 for non-members
  std::vector<double> availability;         // resourceSlots entries
  std::vector<double> paddedUse;            // resourceSlots entries per elementary activity
  std::vector<ElementWalkInfo> elements;    // by elementary activity

  // Fixed for the UDC taken up (beginUdc).
  int32_t memberCount = 0;
  std::array<int32_t, kMaxUdcMembers> memberByPosition{};  // ascending elementary activity index
  std::vector<BitWord> memberSet;                          // M
  std::vector<BitWord> ancestorUnion;                      // union of the members' ancestors
  uint64_t allMask = 0;
  uint64_t mayIdleMask = 0;        // elemAllowedToIdle
  uint64_t mayFinishMask = 0;      // members that some state of this UDC can hold finished
  uint64_t instantaneousMask = 0;  // members of zero or negative duration
  // Per-position data are arrays of the record itself: a store of a status then cannot be
  // taken to change them, or the pointers to the rest, which the walk's loops keep at hand.
  std::array<double, kMaxUdcMembers> rate{};                // by position
  std::array<const double*, kMaxUdcMembers> resourceUse{};  // by position, resourceSlots entries each
  // Needs of the successors of type 0 members, in successor-list order: those of the member
  // at position p are needs[needStart[p] .. needStart[p + 1]) (sized once for any UDC).
  std::array<uint32_t, kMaxUdcMembers + 1> needStart{};
  std::vector<SuccessorNeed> needs;

  // The state the walk stands on.
  std::array<uint8_t, kMaxUdcMembers> status{};  // MemberStatus by position
  uint64_t finishedMask = 0;
  uint64_t activeMask = 0;
  std::vector<double> remainingResources;  // availability minus the active members' use
  double totalRate = 0;                    // sum of the active members' rates
  StateKey key = 0;

  int32_t activityAt(int32_t p) const { return memberByPosition[static_cast<size_t>(p)]; }
  uint64_t idleMask() const { return allMask & ~(finishedMask | activeMask); }
  // The highest active member of zero duration, which completes at once, or -1.
  int32_t instantaneousPosition() const {
    const uint64_t instantaneous = activeMask & instantaneousMask;
    return instantaneous != 0 ? highestBit(instantaneous) : -1;
  }
};

// Visits the positions of a mask from the lowest to the highest, for visits whose order does
// not matter (a few instructions fewer a position).
template <class Visit>
inline void forEachPositionUp(uint64_t mask, Visit&& visit) {
  for (; mask != 0; mask &= mask - 1) visit(lowestBit(mask));
}

// Visits the positions of a mask from the highest to the lowest (descending activity index).
template <class Visit>
inline void forEachPositionDown(uint64_t mask, Visit&& visit) {
  while (mask != 0) {
    const int p = highestBit(mask);
    visit(p);
    mask ^= positionBit(p);
  }
}

// Two resource amounts handled as one value: the same IEEE operation on each, in one
// instruction of the baseline instruction set.
using AmountPair = double __attribute__((vector_size(16)));
inline AmountPair loadAmounts(const double* at) {
  AmountPair pair;
  std::memcpy(&pair, at, sizeof pair);
  return pair;
}
inline void storeAmounts(double* at, AmountPair pair) { std::memcpy(at, &pair, sizeof pair); }

// remaining -= use and remaining += use, four amounts at a time (the loads come first, so
// the operations need no check of overlap).
inline void subtractUse(double* remaining, const double* use, int slots) {
  for (int r = 0; r < slots; r += 4) {
    const AmountPair u0 = loadAmounts(use + r), u1 = loadAmounts(use + r + 2);
    const AmountPair m0 = loadAmounts(remaining + r), m1 = loadAmounts(remaining + r + 2);
    storeAmounts(remaining + r, m0 - u0);
    storeAmounts(remaining + r + 2, m1 - u1);
  }
}
inline void addUse(double* remaining, const double* use, int slots) {
  for (int r = 0; r < slots; r += 4) {
    const AmountPair u0 = loadAmounts(use + r), u1 = loadAmounts(use + r + 2);
    const AmountPair m0 = loadAmounts(remaining + r), m1 = loadAmounts(remaining + r + 2);
    storeAmounts(remaining + r, m0 + u0);
    storeAmounts(remaining + r + 2, m1 + u1);
  }
}

// True when every use fits the remaining amounts (equality fits); both hold resourceSlots
// entries.
__attribute__((always_inline)) inline bool useFits(const double* use, const double* remaining, int slots) {
  for (int r = 0; r < slots; r += 4) {
    const auto over = (loadAmounts(use + r) > loadAmounts(remaining + r)) |
                      (loadAmounts(use + r + 2) > loadAmounts(remaining + r + 2));
    if ((over[0] | over[1]) != 0) return false;
  }
  return true;
}

// Sizes the scratch for the current elementary network.
void prepareStateWalk(UdcStateWalk& walk);

// Takes up the UDC with the given member set (at most kMaxUdcMembers members).
void beginUdc(UdcStateWalk& walk, const BitWord* members);

// True when the successor with this need is eligible once the members in finished are done.
inline bool isEligible(const SuccessorNeed& need, uint64_t finished) {
  return need.reachable && (need.members & ~finished) == 0;
}

// Visits every state of the UDC taken up, in descending key; visit(const UdcStateWalk&)
// sees the statuses, masks, key, rate and resources of the state. With checkResources, a
// remaining amount below 0 ends the walk at the moment identification checks it and the
// result is false. Defined in state_walk_impl.h.
template <class Visit>
bool walkUdcStates(UdcStateWalk& walk, bool checkResources, Visit&& visit);

// The walk in pieces, for walking the blocks of a UDC apart. A block is a run of consecutive
// states that share the statuses of every position from some stopAt up. startUdcWalk puts
// the walk on the first state (false for a UDC without members); walkUdcStatesOn visits the
// states from where the walk stands up to the end of the block and returns the position it
// would lower next (at least stopAt; lowerWalkPosition takes the walk there, to the next
// block's first state), kWalkEnded after the last state, or kWalkOverdrawn when the
// resource check ends it. overdrawPossible carries the check from block to block (true at
// first). Walked block by block, the walk makes the same floating-point operations in the
// same order as walkUdcStates.
constexpr int kWalkEnded = -1;
constexpr int kWalkOverdrawn = -2;
inline bool startUdcWalk(UdcStateWalk& walk);
template <class Visit>
int walkUdcStatesOn(UdcStateWalk& walk, bool checkResources, bool& overdrawPossible, int stopAt, Visit&& visit);
inline bool lowerWalkPosition(UdcStateWalk& walk, int p);

// Where the walk stands, kept so that another copy of the walk goes on from there: its
// statuses, masks, key and total rate bit for bit (the remaining amounts kept beside it), so
// that the rates and amounts it carries along are the same doubles as in one walk.
struct WalkPosition {
  std::array<uint8_t, kMaxUdcMembers> status{};
  uint64_t finishedMask = 0;
  uint64_t activeMask = 0;
  double totalRate = 0;
  StateKey key = 0;
};

inline void saveWalkPosition(const UdcStateWalk& walk, WalkPosition& at, double* amounts) {
  at.status = walk.status;
  at.finishedMask = walk.finishedMask;
  at.activeMask = walk.activeMask;
  at.totalRate = walk.totalRate;
  at.key = walk.key;
  // A project without resources has no amounts (and no storage for them).
  if (walk.resourceSlots > 0)
    std::memcpy(amounts, walk.remainingResources.data(), sizeof(double) * static_cast<size_t>(walk.resourceSlots));
}

// The walk must have taken up the same UDC.
inline void restoreWalkPosition(UdcStateWalk& walk, const WalkPosition& at, const double* amounts) {
  walk.status = at.status;
  walk.finishedMask = at.finishedMask;
  walk.activeMask = at.activeMask;
  walk.totalRate = at.totalRate;
  walk.key = at.key;
  if (walk.resourceSlots > 0)
    std::memcpy(walk.remainingResources.data(), amounts, sizeof(double) * static_cast<size_t>(walk.resourceSlots));
}

#include "udc/state_walk_impl.h"

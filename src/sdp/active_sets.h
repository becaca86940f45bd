// What the evaluation of a state derives from its active members alone, kept for the sets of
// active members met again within a UDC.
//
// A UDC has far fewer sets of active members than states: its states differ mostly in which
// members are idle and which finished, beside the same ones running. Which idle members fit
// beside an active set, each active member's completion weight and the mean sojourn are
// therefore computed once per set and then looked up, instead of a resource check per idle
// member and a division or two per active one in every state.
//
// An entry counts only where the walk's remaining amounts and total rate are, to the bit,
// those it was computed from: the walk derives them by adding and taking away, so a set met
// again may carry other roundings, and then it is computed anew. A hit thus gives exactly
// what the computation would give, and the values of a solve do not depend on the entries.
// Where every amount is a whole number (most projects) no rounding occurs and the amounts
// are not compared.
#pragma once
#include <array>
#include <bit>
#include <cstdint>
#include <vector>

#include "udc/state_walk.h"

// Resource amounts an entry keeps; a project with more runs its checks without the entries.
constexpr int kActiveSetSlots = 8;
// 1024 entries: with 256, J60_161 made 26 M entries, 23 M of them in the place of another set
// of the same UDC; with 1024, 12 M.
constexpr int kActiveSetEntryBits = 10;
constexpr uint32_t kActiveSetMinStates = 128;

struct alignas(64) ActiveSetFacts {
  uint64_t activeMask = 0;
  uint64_t fitting = 0;  // positions checked whose use fits the remaining amounts
  uint64_t checked = 0;
  uint64_t totalRateBits = 0;
  double sojourn = 0;  // 1 / total rate, where a member is active
  uint32_t stamp = 0;  // of the UDC it was computed in; 0 never holds a set
  int32_t activeCount = 0;
  std::array<uint64_t, kActiveSetSlots> remainingBits{};
  // The active positions from the highest down, the order in which their completions are
  // added, and each one's completion weight: read in a row, without a walk over the mask.
  std::array<int8_t, kMaxUdcMembers> positionDown{};
  std::array<double, kMaxUdcMembers> weightDown{};
};

struct ActiveSetCache {
  std::vector<ActiveSetFacts> entries;  // none where the project has too many resources
  uint32_t stamp = 0;
  bool usable = false;  // in the UDC at hand
  // Every availability and use a whole number the walk adds and takes away exactly: an
  // active set then leaves the same remaining amounts in whatever order it was reached.
  bool wholeAmounts = false;
};

// Whole numbers below this size stay exact through the sums of up to 64 members of a UDC.
constexpr double kExactAmountBound = 0x1p40;

inline bool wholeAmount(double amount) {
  return amount >= -kExactAmountBound && amount <= kExactAmountBound &&
         amount == static_cast<double>(static_cast<int64_t>(amount));
}

// Sizes the entries for the project the walk was prepared for.
inline void prepareActiveSets(ActiveSetCache& cache, const UdcStateWalk& walk) {
  cache = ActiveSetCache{};
  if (walk.resourceSlots <= kActiveSetSlots) cache.entries.assign(size_t{1} << kActiveSetEntryBits, ActiveSetFacts{});
  cache.wholeAmounts = true;
  for (double amount : walk.availability) cache.wholeAmounts = cache.wholeAmounts && wholeAmount(amount);
  for (double amount : walk.paddedUse) cache.wholeAmounts = cache.wholeAmounts && wholeAmount(amount);
}

// A new UDC of the given number of states: what the entries hold is of the one before. In a
// UDC of few states an active set is met a few times at most, too few to repay its entry
// (on J30 at SCV 0.5, some 26 states a UDC, the entries took 4 % more time): there each
// state is computed alone.
inline void beginActiveSets(ActiveSetCache& cache, uint32_t states) {
  cache.usable = !cache.entries.empty() && states >= kActiveSetMinStates;
  if (!cache.usable || ++cache.stamp != 0) return;
  for (ActiveSetFacts& entry : cache.entries) entry.stamp = 0;
  cache.stamp = 1;
}

// Marks in fitting the members of open whose use fits the remaining amounts.
inline void checkFits(ActiveSetFacts& entry, const UdcStateWalk& walk, uint64_t open) {
  entry.checked |= open;
  for (; open != 0; open &= open - 1) {
    const int p = std::countr_zero(open);
    if (useFits(walk.resourceUse[static_cast<size_t>(p)], walk.remainingResources.data(), walk.resourceSlots))
      entry.fitting |= positionBit(p);
  }
}

// Brings an entry to the state the walk stands on: its idle members checked, and, where
// known is false, what it held of another set or other amounts forgotten first.
template <class WeightOf>
__attribute__((noinline)) void refreshActiveSet(ActiveSetFacts& entry, const ActiveSetCache& cache,
                                                const UdcStateWalk& walk, bool known, WeightOf& weightOf) {
  const uint64_t active = walk.activeMask;
  const uint64_t idle = walk.idleMask();
  if (known) {
    if ((idle & ~entry.checked) != 0) checkFits(entry, walk, idle & ~entry.checked);
  } else {
    entry.stamp = cache.stamp;
    entry.activeMask = active;
    for (int r = 0; r < walk.resourceSlots; ++r)
      entry.remainingBits[static_cast<size_t>(r)] =
          std::bit_cast<uint64_t>(walk.remainingResources[static_cast<size_t>(r)]);
    entry.fitting = 0;
    entry.checked = 0;
    // Every member that may idle beside the set, not only those idle now: the states that
    // meet the set again hold other members idle, and each would bring the entry up again
    // (on J60_161 a state in seven did) to check one or two.
    checkFits(entry, walk, walk.mayIdleMask & ~active);
    int32_t k = 0;
    forEachPositionDown(active, [&](int p) { entry.positionDown[static_cast<size_t>(k++)] = static_cast<int8_t>(p); });
    entry.activeCount = k;
  }
  const double totalRate = walk.totalRate;
  if (entry.totalRateBits == std::bit_cast<uint64_t>(totalRate) && known) return;
  entry.totalRateBits = std::bit_cast<uint64_t>(totalRate);
  if (active == 0) return;
  entry.sojourn = 1.0 / totalRate;
  for (int32_t k = 0; k < entry.activeCount; ++k) {
    const size_t p = static_cast<size_t>(entry.positionDown[static_cast<size_t>(k)]);
    entry.weightDown[static_cast<size_t>(k)] = weightOf(walk.rate[p], totalRate);
  }
}

// The facts of the state the walk stands on, in a UDC that uses the entries;
// weightOf(rate, totalRate) gives a completion's weight, as the objective reckons it. Whole
// amounts are not compared (see wholeAmounts); the total rate is not whole, and the walk meets
// a set with many roundings of it (on J60 one state in five brings a new one; keeping eight of
// them per set took that to one in nine, and more time), so only the latest is kept. The
// members that may idle are checked when the entry is made, whether idle then or not.
template <class WeightOf>
__attribute__((always_inline)) inline const ActiveSetFacts& activeSetFactsOf(ActiveSetCache& cache,
                                                                             const UdcStateWalk& walk,
                                                                             WeightOf&& weightOf) {
  const uint64_t active = walk.activeMask;
  ActiveSetFacts& entry = cache.entries[(active * 0x9E3779B97F4A7C15ull) >> (64 - kActiveSetEntryBits)];
  bool known = false;
  if (entry.stamp == cache.stamp && entry.activeMask == active) {
    known = true;
    if (!cache.wholeAmounts)
      for (int r = 0; r < walk.resourceSlots; ++r)
        known &= entry.remainingBits[static_cast<size_t>(r)] ==
                 std::bit_cast<uint64_t>(walk.remainingResources[static_cast<size_t>(r)]);
    if (known && entry.totalRateBits == std::bit_cast<uint64_t>(walk.totalRate) &&
        (walk.idleMask() & ~entry.checked) == 0)
      return entry;
  }
  refreshActiveSet(entry, cache, walk, known, weightOf);
  return entry;
}

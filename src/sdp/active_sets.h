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
#pragma once
#include <array>
#include <bit>
#include <cstdint>
#include <vector>

#include "udc/state_walk.h"

// Resource amounts an entry keeps; a project with more runs its checks without the entries.
constexpr int kActiveSetSlots = 8;
constexpr int kActiveSetEntryBits = 8;

struct alignas(64) ActiveSetFacts {
  uint64_t activeMask = 0;
  uint64_t fitting = 0;  // positions whose use fits the remaining amounts
  uint64_t totalRateBits = 0;
  double sojourn = 0;  // 1 / total rate, where a member is active
  uint32_t stamp = 0;  // of the UDC it was computed in; 0 never holds a set
  std::array<uint64_t, kActiveSetSlots> remainingBits{};
  std::array<double, kMaxUdcMembers> weight{};  // by active position: its completion's weight
};

struct ActiveSetCache {
  std::vector<ActiveSetFacts> entries;
  ActiveSetFacts scratch;  // where the entries are not used
  uint32_t stamp = 0;
  bool usable = false;
};

// Sizes the entries for the project the walk was prepared for.
inline void prepareActiveSets(ActiveSetCache& cache, const UdcStateWalk& walk) {
  cache = ActiveSetCache{};
  cache.usable = walk.resourceSlots <= kActiveSetSlots;
  if (cache.usable) cache.entries.assign(size_t{1} << kActiveSetEntryBits, ActiveSetFacts{});
}

// A new UDC: what the entries hold is of the one before.
inline void beginActiveSets(ActiveSetCache& cache) {
  if (++cache.stamp != 0) return;
  for (ActiveSetFacts& entry : cache.entries) entry.stamp = 0;
  cache.stamp = 1;
}

// The facts of the state the walk stands on; weightOf(rate, totalRate) gives a completion's
// weight, as the objective reckons it. The amounts are integers in most projects, and then
// the same active set always leaves the same amounts; the total rate is not, and the walk
// meets a set with many roundings of it (on J60 one state in five brings a new one; keeping
// eight of them per set takes that only to one in seven), so only the latest is kept.
template <class WeightOf>
inline const ActiveSetFacts& activeSetFactsOf(ActiveSetCache& cache, const UdcStateWalk& walk, WeightOf&& weightOf) {
  const uint64_t active = walk.activeMask;
  const uint64_t rateBits = std::bit_cast<uint64_t>(walk.totalRate);
  const int slots = walk.resourceSlots;
  const double* remaining = walk.remainingResources.data();
  ActiveSetFacts* entry = &cache.scratch;
  bool fitsKnown = false;
  if (cache.usable) {
    entry = &cache.entries[(active * 0x9E3779B97F4A7C15ull) >> (64 - kActiveSetEntryBits)];
    if (entry->stamp == cache.stamp && entry->activeMask == active) {
      bool same = true;
      for (int r = 0; r < slots; ++r)
        same &= entry->remainingBits[static_cast<size_t>(r)] == std::bit_cast<uint64_t>(remaining[r]);
      fitsKnown = same;
      if (same && entry->totalRateBits == rateBits) return *entry;
    }
    entry->stamp = cache.stamp;
    entry->activeMask = active;
    if (!fitsKnown)
      for (int r = 0; r < slots; ++r)
        entry->remainingBits[static_cast<size_t>(r)] = std::bit_cast<uint64_t>(remaining[r]);
  }
  if (!fitsKnown) {
    uint64_t fitting = 0;
    for (uint64_t open = walk.allMask & ~active; open != 0; open &= open - 1) {
      const int p = std::countr_zero(open);
      if (useFits(walk.resourceUse[static_cast<size_t>(p)], remaining, slots)) fitting |= positionBit(p);
    }
    entry->fitting = fitting;
  }
  entry->totalRateBits = rateBits;
  if (active != 0) {
    const double totalRate = walk.totalRate;
    entry->sojourn = 1.0 / totalRate;
    for (uint64_t open = active; open != 0; open &= open - 1) {
      const int p = std::countr_zero(open);
      entry->weight[static_cast<size_t>(p)] = weightOf(walk.rate[static_cast<size_t>(p)], totalRate);
    }
  }
  return *entry;
}

// Set-up of the state walk: scratch per project, member positions and masks per UDC.
#include "udc/state_walk.h"

#include "duration/elementary_network.h"
#include "network/base_network.h"

void prepareStateWalk(UdcStateWalk& walk) {
  const ElementaryNetwork& net = elementaryNetwork;
  const size_t words = static_cast<size_t>(net.nBitWords);
  walk = UdcStateWalk{};
  walk.wordCount = net.nBitWords;
  walk.resourceCount = net.resourceCount;
  walk.resourceSlots = (net.resourceCount + 3) / 4 * 4;
  const size_t slots = static_cast<size_t>(walk.resourceSlots);
  walk.availability.assign(slots, 0.0);
  for (size_t r = 0; r < static_cast<size_t>(net.resourceCount) && r < baseNetwork.resourceAvailability.size(); ++r)
    walk.availability[r] = baseNetwork.resourceAvailability[r];
  walk.paddedUse.assign(static_cast<size_t>(net.nElementary) * slots, 0.0);
  for (int e = 0; e < net.nElementary; ++e)
    for (int r = 0; r < net.resourceCount; ++r)
      walk.paddedUse[static_cast<size_t>(e) * slots + static_cast<size_t>(r)] = resourceUseOf(e)[r];
  walk.positionByActivity.assign(static_cast<size_t>(net.nElementary), -1);
  walk.elements.assign(static_cast<size_t>(net.nElementary), ElementWalkInfo{});
  for (size_t e = 0; e < walk.elements.size(); ++e) {
    ElementWalkInfo& info = walk.elements[e];
    info.rate = net.elemRate[e];
    info.use = walk.paddedUse.data() + e * slots;
    info.mayIdle = net.elemAllowedToIdle[e] != 0;
    info.instantaneous = net.elemDuration[e] <= 0;
    info.followAll = net.elemSuccTransitionType[e] == kFollowAll && !net.elemSuccessors[e].empty();
  }
  // A UDC's members are distinct activities: the successors of all of them fit.
  size_t successorEntries = 0;
  for (int e = 0; e < net.nElementary; ++e) successorEntries += net.elemSuccessors[static_cast<size_t>(e)].size();
  walk.needs.assign(successorEntries, SuccessorNeed{});
  walk.memberSet.assign(words, 0);
  walk.ancestorUnion.assign(words, 0);
  walk.remainingResources.assign(slots, 0.0);
}

void beginUdc(UdcStateWalk& walk, const BitWord* members) {
  const ElementaryNetwork& net = elementaryNetwork;
  const int words = walk.wordCount;
  int32_t* const positionOf = walk.positionByActivity.data();
  for (int p = 0; p < walk.memberCount; ++p) positionOf[walk.memberByPosition[static_cast<size_t>(p)]] = -1;
  copyBits(walk.memberSet.data(), members, words);
  clearBits(walk.ancestorUnion.data(), words);
  int count = 0;
  forEachMember(members, words, [&](int e) {
    positionOf[e] = count;
    walk.memberByPosition[static_cast<size_t>(count++)] = e;
    unionInto(walk.ancestorUnion.data(), ancestorBitsOf(e), words);
  });
  walk.memberCount = count;
  walk.allMask = count == 64 ? ~uint64_t{0} : positionBit(count) - 1;
  uint64_t mayIdle = 0;
  uint64_t mayFinish = 0;
  uint64_t instantaneous = 0;
  SuccessorNeed* const needs = walk.needs.data();
  uint32_t needCount = 0;

  // What the successors of a member that lets them all follow need. The members among a
  // successor's ancestors are among its predecessors (the members are an antichain), and
  // its ancestors all lie behind the cutset when each predecessor is a member or an
  // ancestor of one.
  for (int p = 0; p < count; ++p) {
    const size_t e = static_cast<size_t>(walk.memberByPosition[static_cast<size_t>(p)]);
    const ElementWalkInfo& info = walk.elements[e];
    walk.needStart[static_cast<size_t>(p)] = needCount;
    walk.rate[static_cast<size_t>(p)] = info.rate;
    walk.resourceUse[static_cast<size_t>(p)] = info.use;
    if (info.mayIdle) mayIdle |= positionBit(p);
    if (info.instantaneous) instantaneous |= positionBit(p);
    if (!info.followAll) continue;
    // A member can be finished in some state of this UDC only when none of its successors
    // becomes eligible through it alone; a larger finished set only makes more successors
    // eligible, so the test with no other member finished decides it once for the UDC.
    bool finishable = true;
    for (int32_t s : net.elemSuccessors[e]) {
      SuccessorNeed need;
      need.reachable = true;
      for (int32_t x : net.elemPredecessors[static_cast<size_t>(s)]) {
        const int32_t q = positionOf[x];
        if (q >= 0)
          need.members |= positionBit(q);
        else if (!hasBit(walk.ancestorUnion.data(), x))
          need.reachable = false;
      }
      if (isEligible(need, positionBit(p))) finishable = false;
      needs[needCount++] = need;
    }
    if (finishable) mayFinish |= positionBit(p);
  }
  walk.needStart[static_cast<size_t>(count)] = needCount;
  walk.mayIdleMask = mayIdle;
  walk.mayFinishMask = mayFinish;
  walk.instantaneousMask = instantaneous;
}

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
  walk.memberByPosition.reserve(kMaxUdcMembers);
  walk.memberSet.assign(words, 0);
  walk.ancestorUnion.assign(words, 0);
  walk.remainingResources.assign(slots, 0.0);
}

void beginUdc(UdcStateWalk& walk, const BitWord* members) {
  const ElementaryNetwork& net = elementaryNetwork;
  const int words = walk.wordCount;

  for (int32_t e : walk.memberByPosition) walk.positionByActivity[static_cast<size_t>(e)] = -1;
  walk.memberByPosition.clear();
  copyBits(walk.memberSet.data(), members, words);
  clearBits(walk.ancestorUnion.data(), words);
  forEachMember(members, words, [&](int e) {
    walk.positionByActivity[static_cast<size_t>(e)] = static_cast<int32_t>(walk.memberByPosition.size());
    walk.memberByPosition.push_back(e);
    unionInto(walk.ancestorUnion.data(), ancestorBitsOf(e), words);
  });
  const int count = static_cast<int>(walk.memberByPosition.size());
  walk.memberCount = count;
  walk.allMask = count == 64 ? ~uint64_t{0} : positionBit(count) - 1;
  walk.mayIdleMask = 0;
  walk.mayFinishMask = 0;
  walk.instantaneousMask = 0;
  walk.needs.clear();

  // What the successors of a member that lets them all follow need. The members among a
  // successor's ancestors are among its predecessors (the members are an antichain), and
  // its ancestors all lie behind the cutset when each predecessor is a member or an
  // ancestor of one.
  for (int p = 0; p < count; ++p) {
    const size_t e = static_cast<size_t>(walk.memberByPosition[static_cast<size_t>(p)]);
    const ElementWalkInfo& info = walk.elements[e];
    walk.needStart[static_cast<size_t>(p)] = static_cast<uint32_t>(walk.needs.size());
    walk.rate[static_cast<size_t>(p)] = info.rate;
    walk.resourceUse[static_cast<size_t>(p)] = info.use;
    if (info.mayIdle) walk.mayIdleMask |= positionBit(p);
    if (info.instantaneous) walk.instantaneousMask |= positionBit(p);
    if (!info.followAll) continue;
    // A member can be finished in some state of this UDC only when none of its successors
    // becomes eligible through it alone; a larger finished set only makes more successors
    // eligible, so the test with no other member finished decides it once for the UDC.
    bool finishable = true;
    for (int32_t s : net.elemSuccessors[e]) {
      SuccessorNeed need;
      need.reachable = true;
      for (int32_t x : net.elemPredecessors[static_cast<size_t>(s)]) {
        const int32_t q = walk.positionByActivity[static_cast<size_t>(x)];
        if (q >= 0)
          need.members |= positionBit(q);
        else if (!hasBit(walk.ancestorUnion.data(), x))
          need.reachable = false;
      }
      if (isEligible(need, positionBit(p))) finishable = false;
      walk.needs.push_back(need);
    }
    if (finishable) walk.mayFinishMask |= positionBit(p);
  }
  walk.needStart[static_cast<size_t>(count)] = static_cast<uint32_t>(walk.needs.size());
}

// Set-up of the state walk: scratch per project, member positions per UDC.
#include "udc/state_walk.h"

#include "duration/elementary_network.h"
#include "network/base_network.h"
#include "run/subset_tables.h"

void prepareStateWalk(UdcStateWalk& walk) {
  const ElementaryNetwork& net = elementaryNetwork;
  const size_t n = static_cast<size_t>(net.nElementary);
  const size_t words = static_cast<size_t>(net.nBitWords);
  walk = UdcStateWalk{};
  walk.wordCount = net.nBitWords;
  walk.resourceCount = net.resourceCount;
  walk.positionByActivity.assign(n, -1);
  walk.memberSet.assign(words, 0);
  walk.ancestorUnion.assign(words, 0);
  walk.finishedSet.assign(words, 0);
  walk.activeSet.assign(words, 0);
  walk.remainingResources.assign(static_cast<size_t>(net.resourceCount), 0.0);
  walk.idleList.assign(n, -1);
  walk.activeList.assign(n, -1);
}

void beginUdc(UdcStateWalk& walk, const BitWord* members) {
  const ElementaryNetwork& net = elementaryNetwork;
  const int words = walk.wordCount;

  for (int e : walk.memberByPosition) walk.positionByActivity[static_cast<size_t>(e)] = -1;
  walk.memberByPosition.clear();
  walk.memberWords.clear();
  for (int w = 0; w < words; ++w) {
    walk.memberSet[static_cast<size_t>(w)] = members[w];
    const uint32_t mask = members[w];
    const uint8_t* bits = membersOfMask(mask);
    for (uint32_t k = 0; k < subsetTables.maskMemberCount[mask]; ++k) {
      const int e = w * kStateWordBits + bits[k];
      walk.positionByActivity[static_cast<size_t>(e)] = static_cast<int32_t>(walk.memberByPosition.size());
      walk.memberByPosition.push_back(e);
    }
  }
  for (int w = words - 1; w >= 0; --w)
    if (members[w] != 0) walk.memberWords.push_back(w);
  walk.memberCount = static_cast<int32_t>(walk.memberByPosition.size());

  clearBits(walk.ancestorUnion.data(), words);
  for (int e : walk.memberByPosition) unionInto(walk.ancestorUnion.data(), ancestorBitsOf(e), words);

  // A member can be finished in some state of this UDC only when it has successors, all of
  // which follow it (type 0), and none of them becomes eligible through it alone; a larger
  // finished set only makes more successors eligible, so the test with the ancestors alone
  // decides it once for the whole UDC.
  const size_t count = walk.memberByPosition.size();
  walk.status.assign(count, kIdle);
  walk.mayIdle.assign(count, 0);
  walk.mayFinish.assign(count, 0);
  copyBits(walk.finishedSet.data(), walk.ancestorUnion.data(), words);
  for (size_t p = 0; p < count; ++p) {
    const int e = walk.memberByPosition[p];
    walk.mayIdle[p] = net.elemAllowedToIdle[static_cast<size_t>(e)] ? 1 : 0;
    const std::vector<int32_t>& successors = net.elemSuccessors[static_cast<size_t>(e)];
    if (net.elemSuccTransitionType[static_cast<size_t>(e)] != 0 || successors.empty()) continue;
    setBit(walk.finishedSet.data(), e);
    bool finishable = true;
    for (int s : successors)
      if (isSubsetOf(ancestorBitsOf(s), walk.finishedSet.data(), words)) {
        finishable = false;
        break;
      }
    resetBit(walk.finishedSet.data(), e);
    walk.mayFinish[p] = finishable ? 1 : 0;
  }
}

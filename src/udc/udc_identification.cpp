// UDC identification: starting from the cutset of the start activity, walk the states of
// each UDC, follow every completion to the cutset it leads to, then number the UDCs so
// that every link goes forward and store members, links, state counts and the peak.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <numeric>
#include <span>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "duration/elementary_network.h"
#include "network/base_network.h"
#include "run/config.h"
#include "run/fatal.h"
#include "run/subset_tables.h"
#include "udc/state_walk.h"
#include "udc/udc_network.h"
#include "udc/udc_network_file.h"

namespace {

constexpr uint32_t kNoUdc = UINT32_MAX;
// The powers-of-three tables cover member positions 0 .. stateWordBits only.
constexpr int kEncodableMembers = kStateWordBits + 1;

// Everything identification needs while it runs; local to one call, so nothing of it
// outlives the call on success or failure.
struct IdentificationWork {
  int words = 0;
  int ranks = 0;
  int32_t udcLimit = 0;
  uint32_t udcCount = 0;
  // Per UDC, in creation order.
  std::vector<BitWord> memberBits;
  std::vector<uint64_t> rankKey;
  // Successor lists in one block: a UDC's list is filled only while it is processed, in
  // creation order, so the lists follow one another.
  std::vector<uint64_t> successorStart{0};
  std::vector<uint32_t> successorList;
  std::vector<uint32_t> stateCount;
  std::vector<uint32_t> listedBy;  // u + 1 once the UDC is in u's successor list
  // Open addressing over (rank key, member set). It answers exactly what the rank
  // buckets with their search trees answer: a set is found only in the bucket of its key.
  std::vector<uint32_t> slots;
  // The UDC being processed and scratch sets of `words` words.
  uint32_t current = 0;
  std::vector<BitWord> currentMembers;
  std::vector<BitWord> finishedWith;
  std::vector<BitWord> moduleReach;
  std::vector<BitWord> add;
  std::vector<BitWord> remove;
  std::vector<BitWord> moduleAdd;
  std::vector<BitWord> moduleRemove;
  std::vector<BitWord> target;
  std::vector<BitWord> counted;
  bool udcLimitReached = false;
  // The completing activity whose module success would lead back into the UDC at hand, or -1.
  int selfLinkActivity = -1;
  int completing = -1;
  // Set with either failure: the walk of the UDC goes no further.
  bool halted = false;
};

const BitWord* memberBitsOf(const IdentificationWork& work, uint32_t u) {
  return work.memberBits.data() + static_cast<size_t>(u) * static_cast<size_t>(work.words);
}

uint64_t hashTarget(uint64_t key, const BitWord* set, int words) {
  uint64_t h = key * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull;
  for (int w = 0; w < words; ++w) {
    h = (h ^ set[w]) * 0xFF51AFD7ED558CCDull;
    h ^= h >> 32;
  }
  h *= 0xC4CEB9FE1A85EC53ull;
  return h ^ (h >> 29);
}

bool sameSet(const BitWord* a, const BitWord* b, int words) {
  for (int w = 0; w < words; ++w)
    if (a[w] != b[w]) return false;
  return true;
}

// The slot holding the UDC with this key and member set, or the empty slot where it goes.
size_t findSlot(const IdentificationWork& work, uint64_t key, const BitWord* set) {
  const size_t mask = work.slots.size() - 1;
  size_t i = static_cast<size_t>(hashTarget(key, set, work.words)) & mask;
  for (;;) {
    const uint32_t id = work.slots[i];
    if (id == kNoUdc) return i;
    if (work.rankKey[id] == key && sameSet(memberBitsOf(work, id), set, work.words)) return i;
    i = (i + 1) & mask;
  }
}

void growSlots(IdentificationWork& work) {
  std::vector<uint32_t> old;
  old.swap(work.slots);
  work.slots.assign(old.empty() ? 64 : old.size() * 2, kNoUdc);
  for (uint32_t id : old)
    if (id != kNoUdc) work.slots[findSlot(work, work.rankKey[id], memberBitsOf(work, id))] = id;
}

void appendSuccessor(IdentificationWork& work, uint32_t v) {
  work.successorList.push_back(v);
  work.listedBy[v] = work.current + 1;
}

std::span<const uint32_t> successorsOf(const IdentificationWork& work, uint32_t u) {
  const uint64_t first = work.successorStart[u];
  return {work.successorList.data() + first, static_cast<size_t>(work.successorStart[u + 1] - first)};
}

// Creates the UDC in the empty slot found for it; true while the UDC limit is not reached.
bool createUdc(IdentificationWork& work, size_t slot, uint64_t key, const BitWord* set) {
  const uint32_t id = work.udcCount;
  work.memberBits.insert(work.memberBits.end(), set, set + work.words);
  work.rankKey.push_back(key);
  work.stateCount.push_back(0);
  work.listedBy.push_back(0);
  work.slots[slot] = id;
  ++work.udcCount;
  if (static_cast<size_t>(work.udcCount) * 2 > work.slots.size()) growSlots(work);
  return static_cast<int64_t>(work.udcCount) < work.udcLimit;
}

// Index of the lowest member of a set, 0 for an empty set.
uint64_t lowestMember(const BitWord* set, int words) {
  for (int w = 0; w < words; ++w)
    if (set[w] != 0) return static_cast<uint64_t>(w) * kStateWordBits + static_cast<uint64_t>(__builtin_ctz(set[w]));
  return 0;
}

// Links the UDC at hand to the target (M with add added, remove taken away), creating it
// when it is new.
void resolveTransition(IdentificationWork& work, const UdcStateWalk& walk, const BitWord* add,
                       const BitWord* remove, bool moduleSuccess = false) {
  const int words = work.words;
  BitWord* target = work.target.data();
  BitWord* counted = work.counted.data();
  for (int w = 0; w < words; ++w) {
    target[w] = static_cast<BitWord>((work.currentMembers[static_cast<size_t>(w)] | add[w]) & ~remove[w]);
    counted[w] = static_cast<BitWord>(walk.ancestorUnion[static_cast<size_t>(w)] | remove[w]);
  }
  // A module success whose followers are already in the cutset leads back to the same member
  // set: such a project has no forward-going UDC network.
  if (moduleSuccess && sameSet(target, work.currentMembers.data(), words)) {
    work.selfLinkActivity = work.completing;
    work.halted = true;
    return;
  }
  const uint64_t key = udcRankKey(work.ranks, static_cast<uint64_t>(countBits(counted, words)), target, words);
  const size_t slot = findSlot(work, key, target);
  const uint32_t found = work.slots[slot];
  if (found != kNoUdc) {
    if (work.listedBy[found] != work.current + 1) appendSuccessor(work, found);
    return;
  }
  const uint32_t id = work.udcCount;
  const bool withinLimit = createUdc(work, slot, key, target);
  appendSuccessor(work, id);
  if (!withinLimit) {
    work.udcLimitReached = true;
    work.halted = true;
  }
}

// The jump that module success or failure causes; false when there is none.
bool findModuleTransition(IdentificationWork& work, int module) {
  const ElementaryNetwork& net = elementaryNetwork;
  const int words = work.words;
  BitWord* reach = work.moduleReach.data();
  BitWord* add = work.moduleAdd.data();
  BitWord* remove = work.moduleRemove.data();
  const BitWord* memberBits = moduleMemberBitsOf(module);
  for (int w = 0; w < words; ++w)
    reach[w] = static_cast<BitWord>(memberBits[w] | work.finishedWith[static_cast<size_t>(w)]);
  clearBits(add, words);
  clearBits(remove, words);
  bool anyFollower = false;
  for (int f : net.moduleFollowers[static_cast<size_t>(module)]) {
    if (hasBit(reach, f) || !isSubsetOf(ancestorBitsOf(f), reach, words)) continue;
    setBit(add, f);
    unionInto(remove, ancestorBitsOf(f), words);
    anyFollower = true;
  }
  if (anyFollower) return true;
  if (isSubsetOf(moduleLastBitsOf(module), work.currentMembers.data(), words)) return false;
  copyBits(add, moduleLastBitsOf(module), words);
  copyBits(remove, moduleLastAncestorBitsOf(module), words);
  return true;
}

void resolveSingleSuccessor(IdentificationWork& work, const UdcStateWalk& walk, int s) {
  clearBits(work.add.data(), work.words);
  setBit(work.add.data(), s);
  resolveTransition(work, walk, work.add.data(), ancestorBitsOf(s));
}

// Every transition that the completion of the active member a leads to.
void followCompletion(IdentificationWork& work, const UdcStateWalk& walk, int a) {
  const ElementaryNetwork& net = elementaryNetwork;
  work.completing = a;
  const size_t ai = static_cast<size_t>(a);
  const int words = work.words;
  const std::vector<int32_t>& successors = net.elemSuccessors[ai];
  const int type = net.elemSuccTransitionType[ai];
  if (type != 0 && type != -2) {
    for (int s : successors) {
      resolveSingleSuccessor(work, walk, s);
      if (work.halted) return;
    }
    return;
  }
  copyBits(work.finishedWith.data(), walk.finishedSet.data(), words);
  setBit(work.finishedWith.data(), a);
  const int module = net.elemModule[ai];
  const double pts = net.elemPts[ai];
  const double pms = net.elemPms[ai];
  const bool moduleDone = pts < 1.0 && isSubsetOf(moduleMemberBitsOf(module), work.finishedWith.data(), words);
  const bool plainAllowed = pms < 1.0 || (pts < 1.0 && !moduleDone);
  const bool moduleJump = pms > 0.0 && findModuleTransition(work, module);
  if (type == 0) {
    if (plainAllowed) {
      BitWord* add = work.add.data();
      BitWord* remove = work.remove.data();
      clearBits(add, words);
      clearBits(remove, words);
      bool anyEligible = false;
      for (int s : successors) {
        if (!isSubsetOf(ancestorBitsOf(s), work.finishedWith.data(), words)) continue;
        setBit(add, s);
        unionInto(remove, ancestorBitsOf(s), words);
        anyEligible = true;
      }
      if (anyEligible) resolveTransition(work, walk, add, remove);
      if (work.halted) return;
    }
    if (moduleJump) resolveTransition(work, walk, work.moduleAdd.data(), work.moduleRemove.data(), true);
    return;
  }
  // Type -2: the module jump follows each successor, as the solvers meet it per successor.
  for (int s : successors) {
    if (plainAllowed) resolveSingleSuccessor(work, walk, s);
    if (work.halted) return;
    if (moduleJump) resolveTransition(work, walk, work.moduleAdd.data(), work.moduleRemove.data(), true);
    if (work.halted) return;
  }
}

bool failIdentification(const std::string& message, uint32_t udcCount, int32_t maxMembers) {
  std::cout << '\n' << message << '\n';
  udcNetwork = UdcNetwork{};
  udcNetwork.udcCount = static_cast<int32_t>(udcCount);
  udcNetwork.udcMaxMembers = maxMembers;
  return false;
}

// An activity that needs more of a resource than there is can never start; a state
// waiting for it would look to the solvers like the end of the project.
bool findOversizedUse(std::string& message) {
  const ElementaryNetwork& net = elementaryNetwork;
  const std::vector<double>& available = baseNetwork.resourceAvailability;
  const int resources = std::min<int>(net.resourceCount, static_cast<int>(available.size()));
  for (int e = 0; e < net.nElementary; ++e) {
    const double* use = resourceUseOf(e);
    for (int r = 0; r < resources; ++r) {
      if (use[r] <= available[static_cast<size_t>(r)]) continue;
      std::ostringstream text;
      text << "UDC identification has failed. Activity " << net.elemBaseActivity[static_cast<size_t>(e)]
           << " (execution mode " << net.elemBaseMode[static_cast<size_t>(e)] << ") needs " << use[r]
           << " units of resource " << r << ", but only " << available[static_cast<size_t>(r)]
           << " are available: it can never start.";
      message = text.str();
      return true;
    }
  }
  return false;
}

// Renumbers by sort key (stable), checks that every link goes forward and fills udcNetwork.
void storeUdcNetwork(IdentificationWork& work, int32_t maxMembers) {
  const uint32_t count = work.udcCount;
  const int words = work.words;
  std::vector<uint64_t> sortKey(count);
  std::vector<BitWord> ancestors(static_cast<size_t>(words));
  for (uint32_t u = 0; u < count; ++u) {
    if (work.ranks == 1) {
      sortKey[u] = work.rankKey[u];
      continue;
    }
    clearBits(ancestors.data(), words);
    const BitWord* members = memberBitsOf(work, u);
    for (int w = 0; w < words; ++w) {
      const uint8_t* bits = membersOfMask(members[w]);
      const int n = subsetTables.maskMemberCount[members[w]];
      for (int k = 0; k < n; ++k) unionInto(ancestors.data(), ancestorBitsOf(w * kStateWordBits + bits[k]), words);
    }
    sortKey[u] = static_cast<uint64_t>(countBits(ancestors.data(), words));
  }
  std::vector<uint32_t> order(count);
  std::iota(order.begin(), order.end(), 0u);
  std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return sortKey[a] < sortKey[b]; });
  std::vector<uint32_t> finalNumber(count);
  for (uint32_t i = 0; i < count; ++i) finalNumber[order[i]] = i;

  // The solvers sweep from the last UDC down and need every successor already done.
  for (uint32_t u = 0; u < count; ++u) {
    for (uint32_t s : successorsOf(work, u)) {
      if (finalNumber[s] > finalNumber[u]) continue;
      std::ostringstream text;
      text << "Internal error in UDC identification: UDC " << finalNumber[u] << " links to UDC "
           << finalNumber[s] << ", which does not come after it.";
      stopFatal(text.str());
    }
  }

  UdcNetwork& out = udcNetwork;
  out = UdcNetwork{};
  out.udcCount = static_cast<int32_t>(count);
  out.udcMaxMembers = maxMembers;
  out.udcMembers.resize(static_cast<size_t>(count) * static_cast<size_t>(words));
  out.udcStateCount.resize(count);
  std::vector<uint64_t> successorStart;
  std::vector<uint32_t> successorList;
  successorStart.reserve(static_cast<size_t>(count) + 1);
  successorList.reserve(work.successorList.size());
  successorStart.push_back(0);
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t u = order[i];
    copyBits(out.udcMembers.data() + static_cast<size_t>(i) * static_cast<size_t>(words), memberBitsOf(work, u),
             words);
    out.udcStateCount[i] = work.stateCount[u];
    for (uint32_t s : successorsOf(work, u)) successorList.push_back(finalNumber[s]);
    successorStart.push_back(successorList.size());
  }
  // The work records go before the predecessor lists are derived: on large projects the
  // links take most of the memory.
  work = IdentificationWork{};
  storeUdcLinks(std::move(successorStart), std::move(successorList));
  for (uint32_t i = 0; i < count; ++i) {
    out.udcMaxStates = std::max(out.udcMaxStates, out.udcStateCount[i]);
    out.udcTotalStates += out.udcStateCount[i];
  }
  out.udcPeakStates = sweepPeakStates();
}

}  // namespace

uint64_t udcRankKey(int ranks, uint64_t ancestorCount, const BitWord* members, int words) {
  if (ranks == 1) return ancestorCount;
  const uint64_t key = ancestorCount * lowestMember(members, words);
  if (ranks == 2) return key;
  // Only the words above word 0 are searched for the highest member.
  for (int w = words - 1; w >= 1; --w) {
    if (members[w] != 0) {
      const int bit = 31 - __builtin_clz(members[w]);
      return key * (static_cast<uint64_t>(w) * kStateWordBits + static_cast<uint64_t>(bit));
    }
  }
  return key;
}

bool identifyUdcs() {
  udcNetwork = UdcNetwork{};
  const ElementaryNetwork& net = elementaryNetwork;
  {
    std::string message;
    if (findOversizedUse(message)) return failIdentification(message, 0, 0);
  }

  IdentificationWork work;
  const int words = net.nBitWords;
  const size_t wordCount = static_cast<size_t>(words);
  work.words = words;
  work.ranks = runConfig.gv_CFG_mxn_ranks;
  work.udcLimit = runConfig.gv_CFG_mxn_UDC;
  for (auto* set : {&work.currentMembers, &work.finishedWith, &work.moduleReach, &work.add, &work.remove,
                    &work.moduleAdd, &work.moduleRemove, &work.target, &work.counted})
    set->assign(wordCount, 0);
  const int memberLimit = std::min(runConfig.gv_bits, kEncodableMembers);
  int32_t maxMembers = 0;

  growSlots(work);
  {
    std::vector<BitWord> start(wordCount, 0);
    if (net.nElementary > 0) setBit(start.data(), 0);
    const bool withinLimit = createUdc(work, findSlot(work, 0, start.data()), 0, start.data());
    if (!withinLimit) {
      std::ostringstream text;
      text << "Number of UDCs (" << work.udcCount << ") exceeds maximum number of UDCs ("
           << runConfig.gv_CFG_mxn_UDC << "). Please increase gv_CFG_mxn_UDC parameter.";
      return failIdentification(text.str(), work.udcCount, maxMembers);
    }
  }

  UdcStateWalk walk;
  prepareStateWalk(walk);
  uint32_t statesOfUdc = 0;
  auto visit = [&](const UdcStateWalk& state) {
    if (work.halted) return;
    ++statesOfUdc;
    if (state.instantaneousMember >= 0) {
      followCompletion(work, state, state.instantaneousMember);
      return;
    }
    for (int i = 0; i < state.activeCount && !work.halted; ++i)
      followCompletion(work, state, state.activeList[static_cast<size_t>(i)]);
  };

  for (uint32_t u = 0; u < work.udcCount; ++u) {
    copyBits(work.currentMembers.data(), memberBitsOf(work, u), words);
    const int members = countBits(work.currentMembers.data(), words);
    maxMembers = std::max(maxMembers, members);
    if (members > memberLimit) {
      std::ostringstream text;
      text << "Number of UDC members (" << members << ") exceeds maximum number of UDC members("
           << runConfig.stateWordBits << "). Please increase gv_bits parameter.";
      return failIdentification(text.str(), work.udcCount, maxMembers);
    }
    work.current = u;
    statesOfUdc = 0;
    beginUdc(walk, work.currentMembers.data());
    const bool resourcesSuffice = walkUdcStates(walk, true, visit);
    if (work.udcLimitReached) {
      std::ostringstream text;
      text << "Number of UDCs (" << work.udcCount << ") exceeds maximum number of UDCs ("
           << runConfig.gv_CFG_mxn_UDC << "). Please increase gv_CFG_mxn_UDC parameter.";
      return failIdentification(text.str(), work.udcCount, maxMembers);
    }
    if (work.selfLinkActivity >= 0) {
      const size_t a = static_cast<size_t>(work.selfLinkActivity);
      std::ostringstream text;
      text << "UDC identification has failed. The module success of activity " << net.elemBaseActivity[a]
           << " (execution mode " << net.elemBaseMode[a] << ", module " << net.elemModule[a]
           << ") leads back to the same UDC: a follower of the module is already under way.";
      return failIdentification(text.str(), work.udcCount, maxMembers);
    }
    if (!resourcesSuffice)
      return failIdentification(
          "UDC-identifiaction phase has failed. Insufficient resources to start all member activities of the "
          "current UDC.",
          work.udcCount, maxMembers);
    work.successorStart.push_back(work.successorList.size());
    work.stateCount[u] = statesOfUdc;
    if (runConfig.gv_CFG_write < 0) std::cout << '-' << work.udcCount;
  }

  work.slots = {};  // the lookup is done; its memory goes before the network is stored
  storeUdcNetwork(work, maxMembers);
  if (runConfig.gv_CFG_write > 3) writeUdcNetworkFile();
  return true;
}

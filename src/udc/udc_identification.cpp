// UDC identification: starting from the cutset of the start activity, walk the states of
// each UDC, follow every completion outcome to the cutset it leads to (the transition rule
// says which), then number the UDCs so that every link goes forward and store members,
// links, state counts and the peak.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "base/config.h"
#include "base/fatal.h"
#include "base/interrupt.h"
#include "base/large_pages.h"
#include "base/output_files.h"
#include "base/progress.h"
#include "duration/elementary_network.h"
#include "network/base_network.h"
#include "udc/state_walk.h"
#include "udc/transition_rule.h"
#include "udc/udc_network.h"
#include "udc/udc_network_file.h"

namespace {

// What identification needs besides the network it builds; local to one call, so nothing
// of it outlives the call on success or failure.
struct IdentificationWork {
  int words = 0;
  int64_t udcLimit = 0;
  // Open addressing over member sets: a slot holds the upper half of the set's hash and the
  // id, so that a probe reads one word and a member record only for a set that matches
  // (most other sets differ in the bits above those of the slot's index). The index comes
  // from the slot's own bits, so the table grows without reading a record.
  LargeVector<uint64_t> slots;
  // The UDCs found or created last, by a few bits of their hash: most targets were met a
  // short while ago, and this small table stays in the cache where the big one does not.
  std::vector<uint64_t> recent;
  std::vector<BitWord> recentSets;  // their member sets, `words` words each: no record is read
  std::vector<uint32_t> sortKey;     // by id: the number of ancestors of the members
  std::vector<uint32_t> successors;  // of the UDC being walked, ids in the order first met
  std::vector<BitWord> members;      // scratch
  std::vector<BitWord> ancestors;    // scratch
  bool udcLimitReached = false;
};

uint64_t hashMembers(const BitWord* set, int words) {
  uint64_t h = 0x632BE59BD9B4E019ull;
  for (int w = 0; w < words; ++w) {
    h = (h ^ set[w]) * 0xFF51AFD7ED558CCDull;
    h ^= h >> 32;
  }
  h *= 0xC4CEB9FE1A85EC53ull;
  return h ^ (h >> 29);
}

constexpr uint64_t kEmptySlot = UINT64_MAX;
constexpr uint64_t kHashHalf = 0xFFFFFFFF00000000ull;

// The table of targets met last grows with the network up to this size (a small project
// would spend more on clearing a big one than on its whole identification).
constexpr size_t kMostRecentSlots = size_t{1} << 14;

uint64_t slotOf(uint64_t hash, uint32_t id) { return (hash & kHashHalf) | id; }
uint32_t idInSlot(uint64_t slot) { return static_cast<uint32_t>(slot); }
size_t indexOf(uint64_t hashOrSlot, size_t mask) { return static_cast<size_t>(hashOrSlot >> 32) & mask; }

// The slot holding the UDC with this member set, or the empty slot where it goes.
size_t findSlot(const IdentificationWork& work, const BitWord* set, uint64_t hash) {
  const size_t mask = work.slots.size() - 1;
  const uint64_t half = hash & kHashHalf;
  for (size_t i = indexOf(hash, mask);; i = (i + 1) & mask) {
    const uint64_t slot = work.slots[i];
    if (slot == kEmptySlot) return i;
    if ((slot & kHashHalf) == half && udcHasMembers(static_cast<int32_t>(idInSlot(slot)), set, work.words)) return i;
  }
}

// The table is kept at most three quarters full; the old slots are taken in order, which
// fills the new table nearly in order too. Probes land anywhere in it: large pages.
void growSlots(IdentificationWork& work) {
  LargeVector<uint64_t> old;
  old.swap(work.slots);
  work.slots.assign(old.empty() ? 64 : old.size() * 2, kEmptySlot);
  const size_t mask = work.slots.size() - 1;
  for (uint64_t slot : old) {
    if (slot == kEmptySlot) continue;
    size_t i = indexOf(slot, mask);
    while (work.slots[i] != kEmptySlot) i = (i + 1) & mask;
    work.slots[i] = slot;
  }
}

// The table of targets met last, emptied and of the given size (a power of two).
void growRecent(IdentificationWork& work, size_t size) {
  work.recent.assign(size, kEmptySlot);
  work.recentSets.assign(size * static_cast<size_t>(work.words), 0);
}

// Creates the UDC in the empty slot found for it; false once the UDC limit is reached.
bool createUdc(IdentificationWork& work, size_t slot, uint64_t hash, const BitWord* set, uint32_t ancestorCount) {
  const uint32_t id = static_cast<uint32_t>(udcNetwork.udcCount);
  appendUdcMembers(udcNetwork, set, work.words);
  work.sortKey.push_back(ancestorCount);
  work.slots[slot] = slotOf(hash, id);
  if (static_cast<size_t>(udcNetwork.udcCount) * 4 > work.slots.size() * 3) growSlots(work);
  if (work.recent.size() < kMostRecentSlots && static_cast<size_t>(udcNetwork.udcCount) > work.recent.size())
    growRecent(work, work.recent.size() * 4);
  return static_cast<int64_t>(udcNetwork.udcCount) < work.udcLimit;
}

// Links the UDC at hand to the targets of its classes, creating those that are new. The
// targets are gathered while the UDC's states are walked and looked up after the walk, in
// the order met: their slots, fetched into the cache meanwhile, are then at hand.
struct LinkTargets {
  struct Pending {
    int32_t classId;
    uint64_t hash;
  };
  IdentificationWork& work;
  TransitionPlan& plan;
  std::vector<Pending> pending{};
  bool halted = false;

  void newClass(int32_t id) {
    const TargetClass& target = plan.classes[static_cast<size_t>(id)];
    if (target.inPlace) return;
    const uint64_t hash = hashMembers(targetMembersOf(plan, target), work.words);
    __builtin_prefetch(&work.slots[indexOf(hash, work.slots.size() - 1)]);
    pending.push_back({id, hash});
  }

  // After the walk of the UDC.
  void linkPending() {
    for (const Pending& next : pending) {
      if (halted) break;
      link(targetMembersOf(plan, plan.classes[static_cast<size_t>(next.classId)]), next.hash);
    }
    pending.clear();
  }

  void link(const BitWord* members, uint64_t hash) {
    {
      const size_t place = static_cast<size_t>(hash) & (work.recent.size() - 1);
      const uint64_t recent = work.recent[place];
      const BitWord* recentSet = work.recentSets.data() + place * static_cast<size_t>(work.words);
      if (recent != kEmptySlot && (recent & kHashHalf) == (hash & kHashHalf) && sameBits(recentSet, members, work.words)) {
        listSuccessor(idInSlot(recent));
        return;
      }
    }
    const size_t slot = findSlot(work, members, hash);
    uint32_t found = idInSlot(work.slots[slot]);
    if (work.slots[slot] == kEmptySlot) {
      found = static_cast<uint32_t>(udcNetwork.udcCount);
      // The sort key of the final numbering: the ancestors of the members together.
      clearBits(work.ancestors.data(), work.words);
      forEachMember(members, work.words, [&](int e) { unionInto(work.ancestors.data(), ancestorBitsOf(e), work.words); });
      if (!createUdc(work, slot, hash, members, static_cast<uint32_t>(countBits(work.ancestors.data(), work.words)))) {
        work.udcLimitReached = true;
        halted = true;
      }
    }
    // Placed after the creation, which may have grown the table.
    const size_t place = static_cast<size_t>(hash) & (work.recent.size() - 1);
    work.recent[place] = slotOf(hash, found);
    copyBits(work.recentSets.data() + place * static_cast<size_t>(work.words), members, work.words);
    listSuccessor(found);
  }
  void listSuccessor(uint32_t found) {
    for (uint32_t listed : work.successors)
      if (listed == found) return;
    work.successors.push_back(found);
  }
  void weighted(OutcomeKind, double, int32_t) {}
  void beginDraw() {}
  void drawn(double, int32_t) {}
  void endDraw() {}
  void beginChoice() {}
  void chosen(int32_t) {}
  void endChoice() {}
};

bool failIdentification(const std::string& message, int32_t udcCount, int32_t maxMembers) {
  std::cout << '\n' << message << '\n';
  udcNetwork = UdcNetwork{};
  udcNetwork.udcCount = udcCount;
  udcNetwork.udcMaxMembers = maxMembers;
  return false;
}

std::string udcLimitMessage(int32_t count) {
  std::ostringstream text;
  text << "Number of UDCs (" << count << ") exceeds maximum number of UDCs (" << settingsInForce().gv_CFG_mxn_UDC
       << "). Please increase gv_CFG_mxn_UDC parameter.";
  return text.str();
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

// Numbers the UDCs by ascending ancestor count, equal counts in creation order (a counting
// sort), checks that every link goes forward, lays the records out in that order and adds
// the summary counts.
void numberUdcs(std::vector<uint32_t>& sortKey, int32_t maxMembers) {
  UdcNetwork& net = udcNetwork;
  const size_t count = static_cast<size_t>(net.udcCount);
  uint32_t largestKey = 0;
  for (uint32_t key : sortKey) largestKey = std::max(largestKey, key);
  std::vector<uint32_t> firstOfKey(static_cast<size_t>(largestKey) + 2, 0);
  for (uint32_t key : sortKey) ++firstOfKey[static_cast<size_t>(key) + 1];
  for (size_t k = 1; k < firstOfKey.size(); ++k) firstOfKey[k] += firstOfKey[k - 1];
  // The numbers first, kept in sortKey's place while the links are checked.
  for (size_t u = 0; u < count; ++u) sortKey[u] = firstOfKey[sortKey[u]]++;
  std::vector<uint32_t>& number = sortKey;
  forEachUdcLinks([&](int32_t u, uint32_t states, const UdcSuccessors& successors) {
    net.udcMaxStates = std::max(net.udcMaxStates, states);
    net.udcTotalStates += states;
    for (uint32_t s : successors) {
      if (number[s] > number[static_cast<size_t>(u)]) continue;
      std::ostringstream text;
      text << "Internal error in UDC identification: UDC " << number[static_cast<size_t>(u)] << " links to UDC "
           << number[s] << ", which does not come after it.";
      udcNetwork = UdcNetwork{};
      stopFatal(text.str());
    }
  });
  renumberUdcRecords(net, number);
  std::vector<uint32_t>().swap(sortKey);
  net.udcMaxMembers = maxMembers;
  measureSweepPeaks();
}

}  // namespace

int32_t udcMemberLimit() { return std::min(settingsInForce().gv_bits, kMaxUdcMembers); }

bool identifyUdcs() {
  udcNetwork = UdcNetwork{};
  const ElementaryNetwork& net = elementaryNetwork;
  {
    std::string message;
    if (findOversizedUse(message)) return failIdentification(message, 0, 0);
  }

  IdentificationWork work;
  const int words = net.nBitWords;
  work.words = words;
  work.udcLimit = settingsInForce().gv_CFG_mxn_UDC;
  growRecent(work, 64);
  work.members.assign(static_cast<size_t>(words), 0);
  work.ancestors.assign(static_cast<size_t>(words), 0);
  const int memberLimit = udcMemberLimit();
  int32_t maxMembers = 0;

  growSlots(work);
  {
    std::vector<BitWord> start(static_cast<size_t>(words), 0);
    if (net.nElementary > 0) setBit(start.data(), 0);
    const uint64_t hash = hashMembers(start.data(), words);
    if (!createUdc(work, findSlot(work, start.data(), hash), hash, start.data(), 0))
      return failIdentification(udcLimitMessage(udcNetwork.udcCount), udcNetwork.udcCount, maxMembers);
  }

  UdcStateWalk walk;
  prepareStateWalk(walk);
  TransitionPlan plan;
  prepareTransitionPlan(plan, false);
  LinkTargets link{work, plan};
  uint64_t statesOfUdc = 0;
  // Members whose outcomes do not depend on the state need to be followed once per UDC.
  uint64_t followed = 0;
  auto follow = [&](const UdcStateWalk& state, int32_t p) {
    forEachOutcome(plan, state, p, link);
    followed |= positionBit(p) & plan.stateFreeMask;
  };
  auto visit = [&](const UdcStateWalk& state) {
    ++statesOfUdc;
    const int32_t instantaneous = state.instantaneousPosition();
    if (instantaneous >= 0) {
      if (!(followed & positionBit(instantaneous))) follow(state, instantaneous);
      return;
    }
    forEachPositionDown(state.activeMask & ~followed, [&](int p) { follow(state, p); });
  };

  ProgressPhaseScope progress(ProgressPhase::kIdentify, 0, 0);
  for (int32_t u = 0; u < udcNetwork.udcCount; ++u) {
    checkInterrupt();
    udcMembersInto(u, work.members.data(), words);
    const int count = countBits(work.members.data(), words);
    maxMembers = std::max(maxMembers, count);
    if (count > memberLimit) {
      std::ostringstream text;
      text << "Number of UDC members (" << count << ") exceeds maximum number of UDC members(" << memberLimit << ").";
      if (memberLimit < kMaxUdcMembers)
        text << " Please increase gv_bits parameter.";
      else
        text << " A state key holds at most " << kMaxUdcMembers << " members.";
      return failIdentification(text.str(), udcNetwork.udcCount, maxMembers);
    }
    statesOfUdc = 0;
    followed = 0;
    work.successors.clear();
    beginUdc(walk, work.members.data());
    beginUdcTransitions(plan, walk);
    const bool resourcesSuffice = walkUdcStates(walk, true, visit);
    link.linkPending();
    if (work.udcLimitReached)
      return failIdentification(udcLimitMessage(udcNetwork.udcCount), udcNetwork.udcCount, maxMembers);
    if (!resourcesSuffice)
      return failIdentification(
          "UDC-identifiaction phase has failed. Insufficient resources to start all member activities of the "
          "current UDC.",
          udcNetwork.udcCount, maxMembers);
    if (statesOfUdc > UINT32_MAX) {
      std::ostringstream text;
      text << "UDC identification has failed. UDC " << u << " has " << statesOfUdc
           << " states, more than a state table can number (" << UINT32_MAX << ").";
      return failIdentification(text.str(), udcNetwork.udcCount, maxMembers);
    }
    appendUdcLinks(udcNetwork, static_cast<uint32_t>(statesOfUdc), work.successors);
    noteUdcProgress(statesOfUdc, udcNetwork.udcCount);
    if (settingsInForce().gv_CFG_write < 0) std::cout << '-' << udcNetwork.udcCount;
  }

  std::vector<uint32_t> sortKey = std::move(work.sortKey);
  work = IdentificationWork{};  // the lookup's memory goes before the network is numbered
  numberUdcs(sortKey, maxMembers);
  if (outputFileIsWritten(OutputFile::kUdcNetwork)) writeUdcNetworkFile();
  return true;
}

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

#include "duration/elementary_network.h"
#include "network/base_network.h"
#include "run/config.h"
#include "run/fatal.h"
#include "run/interrupt.h"
#include "udc/state_walk.h"
#include "udc/transition_rule.h"
#include "udc/udc_network.h"
#include "udc/udc_network_file.h"

namespace {

constexpr uint32_t kNoUdc = UINT32_MAX;

// Everything identification needs while it runs; local to one call, so nothing of it
// outlives the call on success or failure.
struct IdentificationWork {
  int words = 0;
  int64_t udcLimit = 0;
  uint32_t udcCount = 0;
  // Per UDC, in creation order.
  std::vector<BitWord> memberBits;
  std::vector<uint32_t> sortKey;  // number of ancestors of the members
  // Successor lists in one block: a UDC's list is filled only while it is processed, in
  // creation order, so the lists follow one another.
  std::vector<uint64_t> successorStart{0};
  std::vector<uint32_t> successorList;
  std::vector<uint32_t> stateCount;
  // Open addressing over member sets.
  std::vector<uint32_t> slots;
  std::vector<BitWord> ancestors;  // scratch
  bool udcLimitReached = false;
};

const BitWord* memberBitsOf(const IdentificationWork& work, uint32_t u) {
  return work.memberBits.data() + static_cast<size_t>(u) * static_cast<size_t>(work.words);
}

uint64_t hashMembers(const BitWord* set, int words) {
  uint64_t h = 0x632BE59BD9B4E019ull;
  for (int w = 0; w < words; ++w) {
    h = (h ^ set[w]) * 0xFF51AFD7ED558CCDull;
    h ^= h >> 32;
  }
  h *= 0xC4CEB9FE1A85EC53ull;
  return h ^ (h >> 29);
}

// The slot holding the UDC with this member set, or the empty slot where it goes.
size_t findSlot(const IdentificationWork& work, const BitWord* set) {
  const size_t mask = work.slots.size() - 1;
  size_t i = static_cast<size_t>(hashMembers(set, work.words)) & mask;
  for (;;) {
    const uint32_t id = work.slots[i];
    if (id == kNoUdc || sameBits(memberBitsOf(work, id), set, work.words)) return i;
    i = (i + 1) & mask;
  }
}

void growSlots(IdentificationWork& work) {
  std::vector<uint32_t> old;
  old.swap(work.slots);
  work.slots.assign(old.empty() ? 64 : old.size() * 2, kNoUdc);
  for (uint32_t id : old)
    if (id != kNoUdc) work.slots[findSlot(work, memberBitsOf(work, id))] = id;
}

// Creates the UDC in the empty slot found for it; false once the UDC limit is reached.
bool createUdc(IdentificationWork& work, size_t slot, const BitWord* set) {
  const uint32_t id = work.udcCount;
  work.memberBits.insert(work.memberBits.end(), set, set + work.words);
  clearBits(work.ancestors.data(), work.words);
  forEachMember(set, work.words, [&](int e) { unionInto(work.ancestors.data(), ancestorBitsOf(e), work.words); });
  work.sortKey.push_back(static_cast<uint32_t>(countBits(work.ancestors.data(), work.words)));
  work.stateCount.push_back(0);
  work.slots[slot] = id;
  ++work.udcCount;
  if (static_cast<size_t>(work.udcCount) * 2 > work.slots.size()) growSlots(work);
  return static_cast<int64_t>(work.udcCount) < work.udcLimit;
}

// Links the UDC at hand to the target of a new class, creating the target when it is new.
struct LinkTargets {
  IdentificationWork& work;
  TransitionPlan& plan;
  bool halted = false;

  void newClass(int32_t id) {
    const TargetClass& target = plan.classes[static_cast<size_t>(id)];
    if (target.inPlace || halted) return;
    const BitWord* members = targetMembersOf(plan, target);
    const size_t slot = findSlot(work, members);
    uint32_t found = work.slots[slot];
    if (found == kNoUdc) {
      found = work.udcCount;
      if (!createUdc(work, slot, members)) {
        work.udcLimitReached = true;
        halted = true;
      }
    } else {
      const uint64_t first = work.successorStart.back();
      for (uint64_t i = first; i < work.successorList.size(); ++i)
        if (work.successorList[i] == found) return;
    }
    work.successorList.push_back(found);
  }
  void weighted(OutcomeKind, double, int32_t) {}
  void beginDraw() {}
  void drawn(double, int32_t) {}
  void endDraw() {}
  void beginChoice() {}
  void chosen(int32_t) {}
  void endChoice() {}
};

bool failIdentification(const std::string& message, uint32_t udcCount, int32_t maxMembers) {
  std::cout << '\n' << message << '\n';
  udcNetwork = UdcNetwork{};
  udcNetwork.udcCount = static_cast<int32_t>(udcCount);
  udcNetwork.udcMaxMembers = maxMembers;
  return false;
}

std::string udcLimitMessage(uint32_t count) {
  std::ostringstream text;
  text << "Number of UDCs (" << count << ") exceeds maximum number of UDCs (" << runConfig.gv_CFG_mxn_UDC
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

// Renumbers by sort key (stable), checks that every link goes forward and fills udcNetwork.
void storeUdcNetwork(IdentificationWork& work, int32_t maxMembers) {
  const uint32_t count = work.udcCount;
  const int words = work.words;
  // A counting sort: the keys are ancestor counts, and equal keys keep creation order.
  uint32_t largestKey = 0;
  for (uint32_t key : work.sortKey) largestKey = std::max(largestKey, key);
  std::vector<uint32_t> firstOfKey(static_cast<size_t>(largestKey) + 2, 0);
  for (uint32_t key : work.sortKey) ++firstOfKey[static_cast<size_t>(key) + 1];
  for (size_t k = 1; k < firstOfKey.size(); ++k) firstOfKey[k] += firstOfKey[k - 1];
  std::vector<uint32_t> finalNumber(count);
  for (uint32_t u = 0; u < count; ++u) finalNumber[u] = firstOfKey[work.sortKey[u]]++;
  std::vector<uint32_t> order(count);
  for (uint32_t u = 0; u < count; ++u) order[finalNumber[u]] = u;

  // The solvers sweep from the last UDC down and need every successor already done.
  for (uint32_t u = 0; u < count; ++u) {
    for (uint64_t i = work.successorStart[u]; i < work.successorStart[u + 1]; ++i) {
      const uint32_t s = work.successorList[i];
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
    for (uint64_t k = work.successorStart[u]; k < work.successorStart[u + 1]; ++k)
      successorList.push_back(finalNumber[work.successorList[k]]);
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

int32_t udcMemberLimit() { return std::min(runConfig.gv_bits, kMaxUdcMembers); }

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
  work.udcLimit = runConfig.gv_CFG_mxn_UDC;
  work.ancestors.assign(static_cast<size_t>(words), 0);
  const int memberLimit = udcMemberLimit();
  int32_t maxMembers = 0;

  growSlots(work);
  {
    std::vector<BitWord> start(static_cast<size_t>(words), 0);
    if (net.nElementary > 0) setBit(start.data(), 0);
    if (!createUdc(work, findSlot(work, start.data()), start.data()))
      return failIdentification(udcLimitMessage(work.udcCount), work.udcCount, maxMembers);
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
    const uint64_t bit = positionBit(p);
    if (followed & bit) return;
    forEachOutcome(plan, state, p, link);
    followed |= bit & plan.stateFreeMask;
  };
  auto visit = [&](const UdcStateWalk& state) {
    if (link.halted) return;
    ++statesOfUdc;
    const int32_t instantaneous = state.instantaneousPosition();
    if (instantaneous >= 0) {
      follow(state, instantaneous);
      return;
    }
    forEachPositionDown(state.activeMask, [&](int p) { follow(state, p); });
  };

  for (uint32_t u = 0; u < work.udcCount; ++u) {
    checkInterrupt();
    const BitWord* members = memberBitsOf(work, u);
    const int count = countBits(members, words);
    maxMembers = std::max(maxMembers, count);
    if (count > memberLimit) {
      std::ostringstream text;
      text << "Number of UDC members (" << count << ") exceeds maximum number of UDC members(" << memberLimit << ").";
      if (memberLimit < kMaxUdcMembers)
        text << " Please increase gv_bits parameter.";
      else
        text << " A state key holds at most " << kMaxUdcMembers << " members.";
      return failIdentification(text.str(), work.udcCount, maxMembers);
    }
    statesOfUdc = 0;
    followed = 0;
    beginUdc(walk, members);
    beginUdcTransitions(plan, walk);
    const bool resourcesSuffice = walkUdcStates(walk, true, visit);
    if (work.udcLimitReached) return failIdentification(udcLimitMessage(work.udcCount), work.udcCount, maxMembers);
    if (!resourcesSuffice)
      return failIdentification(
          "UDC-identifiaction phase has failed. Insufficient resources to start all member activities of the "
          "current UDC.",
          work.udcCount, maxMembers);
    if (statesOfUdc > UINT32_MAX) {
      std::ostringstream text;
      text << "UDC identification has failed. UDC " << u << " has " << statesOfUdc
           << " states, more than a state table can number (" << UINT32_MAX << ").";
      return failIdentification(text.str(), work.udcCount, maxMembers);
    }
    work.successorStart.push_back(work.successorList.size());
    work.stateCount[u] = static_cast<uint32_t>(statesOfUdc);
    if (runConfig.gv_CFG_write < 0) std::cout << '-' << work.udcCount;
  }

  work.slots = {};  // the lookup is done; its memory goes before the network is stored
  storeUdcNetwork(work, maxMembers);
  if (runConfig.gv_CFG_write > 3) writeUdcNetworkFile();
  return true;
}

// UDC identification: starting from the cutset of the start activity, walk the states of
// each UDC, follow every completion outcome to the cutset it leads to (the transition rule
// says which), then number the UDCs so that every link goes forward and store members,
// links, state counts and the peak.
#include <algorithm>
#include <cstddef>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <iostream>
#include <mutex>
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
#include "base/threads.h"
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
  std::vector<BitWord> recentSets;   // their member sets, `words` words each: no record is read
  std::vector<uint32_t> sortKey;     // by id: the number of ancestors of the members
  std::vector<uint32_t> successors;  // of the UDC being walked, ids in the order first met
  std::vector<BitWord> ancestors;    // scratch
  bool udcLimitReached = false;
  // UDCs are numbered as they are created; their member records join the network in runs
  // (under the lock the walkers read the network under), those created since wait here.
  int32_t created = 0;
  std::vector<BitWord> unstoredSets;  // `words` words each, from id udcNetwork.udcCount on
};

// The member sets created since the last run was stored go into the network's records.
void storeCreatedUdcs(IdentificationWork& work) {
  const size_t words = static_cast<size_t>(work.words);
  for (size_t at = 0; at < work.unstoredSets.size(); at += words)
    appendUdcMembers(udcNetwork, work.unstoredSets.data() + at, work.words);
  work.unstoredSets.clear();
}

// True when the members of UDC id are exactly the set, whether its record is stored yet or not.
bool hasMembers(const IdentificationWork& work, uint32_t id, const BitWord* set) {
  const uint32_t stored = static_cast<uint32_t>(udcNetwork.udcCount);
  if (id < stored) return udcHasMembers(static_cast<int32_t>(id), set, work.words);
  return sameBits(work.unstoredSets.data() + static_cast<size_t>(id - stored) * static_cast<size_t>(work.words), set,
                  work.words);
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
    if ((slot & kHashHalf) == half && hasMembers(work, idInSlot(slot), set)) return i;
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
  const uint32_t id = static_cast<uint32_t>(work.created++);
  work.unstoredSets.insert(work.unstoredSets.end(), set, set + work.words);
  work.sortKey.push_back(ancestorCount);
  work.slots[slot] = slotOf(hash, id);
  if (static_cast<size_t>(work.created) * 4 > work.slots.size() * 3) growSlots(work);
  if (work.recent.size() < kMostRecentSlots && static_cast<size_t>(work.created) > work.recent.size())
    growRecent(work, work.recent.size() * 4);
  return static_cast<int64_t>(work.created) < work.udcLimit;
}

// What the walk of one UDC found, kept until its turn to be linked comes: the UDCs are linked
// (and the new ones created) in the order of their ids whichever thread walked them, so that
// every id and every list of successors is that of a walk on one thread.
struct WalkedUdc {
  bool walked = false;
  int32_t memberCount = 0;
  bool resourcesSuffice = true;
  uint64_t states = 0;
  // The targets of its classes in the order met, with the hash of each member set.
  std::vector<uint64_t> hashes;
  std::vector<BitWord> targets;  // `words` words each

  void clear() {
    walked = false;
    resourcesSuffice = true;
    states = 0;
    hashes.clear();
    targets.clear();
  }
};

// The states walked between two looks at the signal flag: a UDC of millions of states takes
// seconds.
constexpr uint32_t kStatesBetweenInterruptChecks = 1u << 16;

// The walk of UDCs on one thread, with a state walk and transition classes of its own; the
// sink of the transition rule, which gathers the targets of the classes as they arise.
struct UdcWalker {
  UdcStateWalk walk;
  TransitionPlan plan;
  std::vector<BitWord> members;
  int words = 0;

  explicit UdcWalker(int wordCount) : words(wordCount) {
    prepareStateWalk(walk);
    prepareTransitionPlan(plan, false);
    members.assign(static_cast<size_t>(wordCount), 0);
  }

  // The targets met are gathered here and handed over at the end of the walk in one copy: on
  // several threads the record's buffers come back from the linker, whose core read them last,
  // and stores spread over the walk would each wait for that core to give up its copy.
  std::vector<uint64_t> hashes;
  std::vector<BitWord> targets;

  void newClass(int32_t id) {
    const TargetClass& target = plan.classes[static_cast<size_t>(id)];
    if (target.inPlace) return;
    const BitWord* set = targetMembersOf(plan, target);
    hashes.push_back(hashMembers(set, words));
    targets.insert(targets.end(), set, set + words);
  }
  void weighted(OutcomeKind, double, int32_t) {}
  void beginDraw() {}
  void drawn(double, int32_t) {}
  void endDraw() {}
  void beginChoice() {}
  void chosen(int32_t) {}
  void endChoice() {}

  // Walks the UDC whose members are in `members` into out (a UDC of more members than the
  // limit is not walked: its turn stops identification). Compiled on its own: inlined into the
  // loop of the threads, its state loop came out a few instructions a state longer.
  __attribute__((noinline)) void walkUdc(WalkedUdc& out, int memberLimit) {
    out.clear();
    out.walked = true;
    out.memberCount = countBits(members.data(), words);
    if (out.memberCount > memberLimit) return;
    // Members whose outcomes do not depend on the state need to be followed once per UDC.
    uint64_t followed = 0;
    uint32_t untilCheck = kStatesBetweenInterruptChecks;
    auto follow = [&](const UdcStateWalk& state, int32_t p) {
      forEachOutcome(plan, state, p, *this);
      followed |= positionBit(p) & plan.stateFreeMask;
    };
    uint64_t states = 0;  // counted here, where it stays in a register
    auto visit = [&](const UdcStateWalk& state) {
      ++states;
      if (--untilCheck == 0) {
        untilCheck = kStatesBetweenInterruptChecks;
        checkInterrupt();
      }
      const int32_t instantaneous = state.instantaneousPosition();
      if (instantaneous >= 0) {
        if (!(followed & positionBit(instantaneous))) follow(state, instantaneous);
        return;
      }
      forEachPositionDown(state.activeMask & ~followed, [&](int p) { follow(state, p); });
    };
    beginUdc(walk, members.data());
    beginUdcTransitions(plan, walk);
    hashes.clear();
    targets.clear();
    out.resourcesSuffice = walkUdcStates(walk, true, visit);
    out.states = states;
    out.hashes.assign(hashes.begin(), hashes.end());
    out.targets.assign(targets.begin(), targets.end());
  }
};

void listSuccessor(IdentificationWork& work, uint32_t found) {
  for (uint32_t listed : work.successors)
    if (listed == found) return;
  work.successors.push_back(found);
}

// Links the UDC in hand to a target, creating it when it is new; false once the UDC limit
// is reached.
bool linkTarget(IdentificationWork& work, const BitWord* members, uint64_t hash) {
  {
    const size_t place = static_cast<size_t>(hash) & (work.recent.size() - 1);
    const uint64_t recent = work.recent[place];
    const BitWord* recentSet = work.recentSets.data() + place * static_cast<size_t>(work.words);
    if (recent != kEmptySlot && (recent & kHashHalf) == (hash & kHashHalf) &&
        sameBits(recentSet, members, work.words)) {
      listSuccessor(work, idInSlot(recent));
      return true;
    }
  }
  const size_t slot = findSlot(work, members, hash);
  uint32_t found = idInSlot(work.slots[slot]);
  bool going = true;
  if (work.slots[slot] == kEmptySlot) {
    found = static_cast<uint32_t>(work.created);
    // The sort key of the final numbering: the ancestors of the members together.
    clearBits(work.ancestors.data(), work.words);
    forEachMember(members, work.words, [&](int e) { unionInto(work.ancestors.data(), ancestorBitsOf(e), work.words); });
    if (!createUdc(work, slot, hash, members, static_cast<uint32_t>(countBits(work.ancestors.data(), work.words)))) {
      work.udcLimitReached = true;
      going = false;
    }
  }
  // Placed after the creation, which may have grown the table.
  const size_t place = static_cast<size_t>(hash) & (work.recent.size() - 1);
  work.recent[place] = slotOf(hash, found);
  copyBits(work.recentSets.data() + place * static_cast<size_t>(work.words), members, work.words);
  listSuccessor(work, found);
  return going;
}

// Asks for the slots of a walked UDC's targets ahead of its links, so that they are at hand
// when its lookups come: the linker asks for the next UDC's while it links one.
void prefetchTargetSlots(const IdentificationWork& work, const WalkedUdc& walked) {
  const size_t mask = work.slots.size() - 1;
  for (uint64_t hash : walked.hashes) __builtin_prefetch(&work.slots[indexOf(hash, mask)]);
}

// The two reads a lookup waits for after its slot, asked for ahead of it: the index entry of a
// target's member record, then the record, for targets whose slot (the first one probed) holds
// a UDC of the same hash half, nearly always the target itself. Hints only: a slot may change
// before the lookup comes. The prefetch of the record past the end of the records is harmless.
template <bool kRecords>
void prefetchTargetMembers(const IdentificationWork& work, const WalkedUdc& walked) {
  const size_t mask = work.slots.size() - 1;
  const uint32_t stored = static_cast<uint32_t>(udcNetwork.udcCount);
  for (uint64_t hash : walked.hashes) {
    const uint64_t slot = work.slots[indexOf(hash, mask)];
    if (slot == kEmptySlot || (slot & kHashHalf) != (hash & kHashHalf) || idInSlot(slot) >= stored) continue;
    const size_t block = static_cast<size_t>(idInSlot(slot)) >> 3;
    if (kRecords) {
      // The block of eight records it is read from takes a line or two.
      const uint8_t* records = udcNetwork.memberRecords.data() + udcNetwork.memberIndex[block];
      __builtin_prefetch(records);
      __builtin_prefetch(records + 64);
    } else
      __builtin_prefetch(&udcNetwork.memberIndex[block]);
  }
}

// The walk's findings themselves, written by another thread's core: asked for before the
// slots of their targets, which need the hashes.
void prefetchWalked(const WalkedUdc& walked) {
  const uint8_t* hashes = reinterpret_cast<const uint8_t*>(walked.hashes.data());
  for (size_t at = 0; at < walked.hashes.size() * sizeof(uint64_t); at += 64) __builtin_prefetch(hashes + at);
  const uint8_t* targets = reinterpret_cast<const uint8_t*>(walked.targets.data());
  for (size_t at = 0; at < walked.targets.size() * sizeof(BitWord); at += 64) __builtin_prefetch(targets + at);
}

// Links the targets of a walked UDC in the order met.
void linkTargets(IdentificationWork& work, const WalkedUdc& walked) {
  for (size_t k = 0; k < walked.hashes.size(); ++k)
    if (!linkTarget(work, walked.targets.data() + k * static_cast<size_t>(work.words), walked.hashes[k])) return;
}

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
// sort), lays the records out in that order, checks that every link goes forward and adds the
// summary counts. The renaming of the links reads each once and sees on its way what the
// checks and the sweep's peaks need; the member records are laid out beside it on a thread of
// their own.
void numberUdcs(std::vector<uint32_t>& sortKey, int32_t maxMembers) {
  UdcNetwork& net = udcNetwork;
  uint32_t largestKey = 0;
  for (uint32_t key : sortKey) largestKey = std::max(largestKey, key);
  std::vector<uint32_t> firstOfKey(static_cast<size_t>(largestKey) + 2, 0);
  for (uint32_t key : sortKey) ++firstOfKey[static_cast<size_t>(key) + 1];
  for (size_t k = 1; k < firstOfKey.size(); ++k) firstOfKey[k] += firstOfKey[k - 1];
  // The numbers in sortKey's place.
  for (uint32_t& key : sortKey) key = firstOfKey[key]++;
  const std::vector<uint32_t>& number = sortKey;
  PendingPredecessors pending;
  RenumberedLinks seen;
  seen.pending = &pending;
  renumberUdcRecords(net, number, &seen, std::max(threadSettings.count, 1));
  if (seen.backward) {
    std::ostringstream text;
    text << "Internal error in UDC identification: UDC " << seen.from << " links to UDC " << seen.to
         << ", which does not come after it.";
    udcNetwork = UdcNetwork{};
    stopFatal(text.str());
  }
  net.udcMaxStates = seen.maxStates;
  net.udcTotalStates = seen.totalStates;
  std::vector<uint32_t>().swap(sortKey);
  net.udcMaxMembers = maxMembers;
  measureSweepPeaks(&pending);
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
  work.ancestors.assign(static_cast<size_t>(words), 0);
  const int memberLimit = udcMemberLimit();
  int32_t maxMembers = 0;

  growSlots(work);
  {
    std::vector<BitWord> start(static_cast<size_t>(words), 0);
    if (net.nElementary > 0) setBit(start.data(), 0);
    const uint64_t hash = hashMembers(start.data(), words);
    const bool going = createUdc(work, findSlot(work, start.data(), hash), hash, start.data(), 0);
    storeCreatedUdcs(work);
    if (!going) return failIdentification(udcLimitMessage(udcNetwork.udcCount), udcNetwork.udcCount, maxMembers);
  }

  // The UDCs are walked on the threads in the order of their ids, in runs of consecutive ones,
  // at most a window ahead of the one to be linked next, and linked in that order by one
  // thread at a time: the one that finds the next ones walked takes them all and links them
  // while the others walk on. The first thread links whenever there is something to link,
  // another only where it has nothing left to walk: the lookup and the links stay in one
  // core's cache, where a linker that changed with every run would fetch them from the other
  // core's (on UDCs of a few dozen states that doubled identification's processor time in
  // some runs). The lock guards the shared record below and the member records
  // of the network (the walks read them, the linker stores its new UDCs there by runs); the
  // lookup, the links, the sort keys and the progress record are the linker's alone.
  const int32_t threads = std::max(threadSettings.count, 1);
  const int32_t window = 64 * threads;
  // A walk of a few dozen states is cheaper than a turn of the lock that two threads want.
  constexpr int32_t runLength = 16;
  std::mutex lock;
  std::condition_variable changed;
  int32_t nextToWalk = 0;
  int32_t nextToLink = 0;         // the next one no linker has taken
  std::deque<WalkedUdc> waiting;  // from nextToLink on, by id
  std::vector<WalkedUdc> spare;   // emptied records, whose buffers the next walks take over
  bool linking = false;           // a thread links: none other may
  int32_t sleeping = 0;           // threads waiting for a change
  bool stopped = false;           // a failure or a stop: no thread takes another UDC
  std::string failure;

  // The checks and the links of the UDC whose turn it is; false (with failure set) when
  // identification cannot go on.
  auto linkUdc = [&](int32_t u, const WalkedUdc& walked) {
    maxMembers = std::max(maxMembers, walked.memberCount);
    if (walked.memberCount > memberLimit) {
      std::ostringstream text;
      text << "Number of UDC members (" << walked.memberCount << ") exceeds maximum number of UDC members("
           << memberLimit << ").";
      if (memberLimit < kMaxUdcMembers)
        text << " Please increase gv_bits parameter.";
      else
        text << " A state key holds at most " << kMaxUdcMembers << " members.";
      failure = text.str();
      return false;
    }
    work.successors.clear();
    linkTargets(work, walked);
    if (work.udcLimitReached) {
      failure = udcLimitMessage(work.created);
      return false;
    }
    if (!walked.resourcesSuffice) {
      failure =
          "UDC-identifiaction phase has failed. Insufficient resources to start all member activities of the "
          "current UDC.";
      return false;
    }
    if (walked.states > UINT32_MAX) {
      std::ostringstream text;
      text << "UDC identification has failed. UDC " << u << " has " << walked.states
           << " states, more than a state table can number (" << UINT32_MAX << ").";
      failure = text.str();
      return false;
    }
    appendUdcLinks(udcNetwork, static_cast<uint32_t>(walked.states), work.successors);
    noteUdcProgress(walked.states, work.created);
    if (settingsInForce().gv_CFG_write < 0) std::cout << '-' << work.created;
    return true;
  };

  ProgressPhaseScope progress(ProgressPhase::kIdentify, 0, 0);
  if (threads == 1) {
    // One thread, with nothing to share, walks the next UDC before it links one where the next
    // exists already (most do): the slots of the lookups asked for after a walk arrive during
    // the next walk, and the index entries of their member records are asked for after it. The
    // links are made in the same order, so the ids and the lists are the same.
    UdcWalker walker(words);
    WalkedUdc walked[2];  // u's in walked[u & 1]
    auto walk = [&](int32_t u) {
      checkInterrupt();
      udcMembersInto(u, walker.members.data(), words);
      walker.walkUdc(walked[u & 1], memberLimit);
      prefetchTargetSlots(work, walked[u & 1]);
    };
    if (udcNetwork.udcCount > 0) walk(0);
    for (int32_t u = 0; u < udcNetwork.udcCount; ++u) {
      const bool ahead = u + 1 < udcNetwork.udcCount;
      if (ahead) walk(u + 1);
      prefetchTargetMembers<false>(work, walked[u & 1]);
      const bool going = linkUdc(u, walked[u & 1]);
      storeCreatedUdcs(work);
      if (!going) break;
      if (!ahead && u + 1 < udcNetwork.udcCount) walk(u + 1);
    }
  } else {
    runOnThreads(threads, [&](int32_t thread) {
      UdcWalker walker(words);
      std::vector<BitWord> runMembers;  // the members of the run in hand, `words` words each
      std::vector<WalkedUdc> run;       // its walks; then the walked UDCs this thread links
      int32_t first = 0;                // the id of the first of them
      bool linked = false;
      try {
        for (;;) {
          int32_t count = 0;
          {
            lockBriefly(lock);
            std::unique_lock<std::mutex> hold(lock, std::adopt_lock);
            if (linked) {
              // The new UDCs join the network; the records linked are emptied for later walks.
              storeCreatedUdcs(work);
              for (WalkedUdc& done : run) {
                done.clear();
                spare.emplace_back(std::move(done));
              }
              run.clear();
              linking = false;
              linked = false;
              if (!failure.empty()) stopped = true;
              if (sleeping > 0) changed.notify_all();
            }
            for (;;) {
              if (stopped || (!linking && nextToLink == udcNetwork.udcCount)) return;
              const int32_t walkable = std::min(udcNetwork.udcCount, nextToLink + window) - nextToWalk;
              if (!linking && !waiting.empty() && waiting.front().walked && (thread == 0 || walkable <= 0)) {
                // The walked ones whose turn has come: this thread links them, outside the lock.
                linking = linked = true;
                first = nextToLink;
                while (!waiting.empty() && waiting.front().walked) {
                  run.emplace_back(std::move(waiting.front()));
                  waiting.pop_front();
                  ++nextToLink;
                }
                break;
              }
              if (walkable > 0) {
                checkInterrupt();
                count = std::min(walkable, runLength);
                first = nextToWalk;
                nextToWalk += count;
                runMembers.resize(static_cast<size_t>(count) * static_cast<size_t>(words));
                run.resize(static_cast<size_t>(count));
                for (int32_t k = 0; k < count; ++k) {
                  udcMembersInto(first + k, runMembers.data() + static_cast<size_t>(k) * static_cast<size_t>(words),
                                 words);
                  if (!spare.empty()) {
                    std::swap(run[static_cast<size_t>(k)], spare.back());
                    spare.pop_back();
                  }
                  waiting.emplace_back();
                }
                break;
              }
              ++sleeping;
              changed.wait(hold);
              --sleeping;
            }
          }
          if (linked) {
            // A lookup waits for its slot, the index entry of the member record the slot names
            // and the record, one after the other; asked for three, two and one UDCs ahead, they
            // arrive while the links before them are made.
            const size_t n = run.size();
            for (size_t k = 0; k < std::min<size_t>(n, 6); ++k) prefetchWalked(run[k]);
            for (size_t k = 0; k < std::min<size_t>(n, 3); ++k) prefetchTargetSlots(work, run[k]);
            for (size_t k = 0; k < std::min<size_t>(n, 2); ++k) prefetchTargetMembers<false>(work, run[k]);
            prefetchTargetMembers<true>(work, run[0]);
            for (size_t k = 0; k < n; ++k) {
              if (k + 6 < n) prefetchWalked(run[k + 6]);
              if (k + 3 < n) prefetchTargetSlots(work, run[k + 3]);
              if (k + 2 < n) prefetchTargetMembers<false>(work, run[k + 2]);
              if (k + 1 < n) prefetchTargetMembers<true>(work, run[k + 1]);
              if (!linkUdc(first + static_cast<int32_t>(k), run[k])) break;
            }
            continue;
          }
          for (int32_t k = 0; k < count; ++k) {
            std::copy_n(runMembers.data() + static_cast<size_t>(k) * static_cast<size_t>(words), words,
                        walker.members.data());
            walker.walkUdc(run[static_cast<size_t>(k)], memberLimit);
          }
          {
            lockBriefly(lock);
            const std::lock_guard<std::mutex> hold(lock, std::adopt_lock);
            if (stopped) return;
            for (int32_t k = 0; k < count; ++k)
              std::swap(waiting[static_cast<size_t>(first + k - nextToLink)], run[static_cast<size_t>(k)]);
            // The placeholders taken back hold no buffers worth keeping.
            run.clear();
            if (sleeping > 0) changed.notify_all();
          }
        }
      } catch (...) {
        {
          const std::lock_guard<std::mutex> hold(lock);
          if (linked) storeCreatedUdcs(work);
          stopped = true;
        }
        changed.notify_all();
        throw;
      }
    });
  }
  if (!failure.empty()) return failIdentification(failure, udcNetwork.udcCount, maxMembers);

  std::vector<uint32_t> sortKey = std::move(work.sortKey);
  work = IdentificationWork{};  // the lookup's memory goes before the network is numbered
  numberUdcs(sortKey, maxMembers);
  if (outputFileIsWritten(OutputFile::kUdcNetwork)) writeUdcNetworkFile();
  return true;
}

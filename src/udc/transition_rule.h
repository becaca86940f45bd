// What each outcome of a member's completion leads to. Written once: identification uses it
// to create and find the target UDCs, every solver to find the target state, the policy
// simulation to move from state to state, so they cannot disagree about which states exist.
//
// The outcomes of the completion of member a (position p) in the state at hand, by a's
// transition type, in the order in which the solvers add them up:
// - follow all (0): technical failure (1 - pts, while a's module is not done), plain
//   completion ((1 - pms) pts) and module success (pms pts); failure and plain lead to
//   the same state;
// - join modes (-2): the same three for each successor (the mode-join dummy), which enters
//   active; "module done" then counts the successor and its ancestors as done;
// - draw one (-3): one outcome per successor with its probability; it enters active;
// - choose one (-1): one outcome per successor, which enters idle; the decision maker picks.
//
// Every outcome makes a set Done of elementary activities done: the finished set F of the
// state and a; for a single entering successor also its ancestors (the branches not taken
// count as done); for a module success the whole module with its ancestors (the other
// members, running or idle, are cancelled: their elementary activities count as finished,
// cost nothing more and free their resources; the dummy end, in a module or not, is never
// cancelled). Entering are the successors named above or,
// after a plain completion or a module success, every activity outside Done whose ancestors
// are now all done. The target cutset is then the members of the UDC not in Done, the
// entering activities, and the latest done activities that are not ancestors of those
// (they stay as finished members: some successor of theirs still waits). A target whose
// member set is that of the UDC at hand is a state of the same UDC with a larger key.
//
// States of one UDC whose outcome leads to the same cutset in the same way form a class:
// its target, and how the target's key follows from the state's statuses, are worked out
// once per UDC. What a class depends on is the member, the outcome and the finished members
// that matter to it (the successors that become eligible, or all finished members for a
// module success).
#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "base/bit_set.h"
#include "duration/elementary_network.h"
#include "udc/state_walk.h"

enum class OutcomeKind : uint8_t { kFailure, kPlain, kModuleSuccess, kDrawn, kChosen };

// An activity of a target cutset that is not a member of the UDC at hand, with its digit in
// the target key (0 idle, 1 active, 2 finished).
struct NewMember {
  int32_t activity;
  uint8_t digit;
};

// A member of the UDC at hand whose status carries over into the target key with a weight.
struct CarriedDigit {
  int32_t position;
  StateKey weight;
};

// Carried digits of consecutive positions that keep their order in the target: their part
// of the target key is a slice of the state's key, scaled, found with two multiplications
// by reciprocals instead of a digit at a time. Exact for keys below 2^32 (states of at most
// kRunKeyMembers members): a multiplier of ceil(2^64 / d) divides every 32-bit number by d.
struct CarriedRun {
  uint64_t below = 0;   // ceil(2^64 / 3^first position); 0 for the lowest position
  uint64_t within = 0;  // ceil(2^64 / 3^length)
  uint64_t span = 0;    // 3^length
  StateKey scale = 0;   // the weight of the first digit in the target
};

constexpr int kRunKeyMembers = 20;  // 3^20 < 2^32

// Appends to runs the runs of count digits (ascending positions); returns how many.
uint32_t appendCarriedRuns(const CarriedDigit* digits, uint32_t count, std::vector<CarriedRun>& runs);

// The part of the target key that the runs carry from key (below 2^32).
inline StateKey keyOfCarriedRuns(StateKey key, const CarriedRun* run, uint32_t count) {
  __extension__ using Wide = unsigned __int128;
  StateKey sum = 0;
  for (const CarriedRun* end = run + count; run != end; ++run) {
    const uint64_t above = run->below != 0 ? static_cast<uint64_t>((Wide{run->below} * key) >> 64) : key;
    const uint64_t slice = static_cast<uint64_t>((Wide{run->within * above} * run->span) >> 64);
    sum += slice * run->scale;
  }
  return sum;
}

struct TargetClass {
  bool inPlace = false;        // a state of the UDC at hand
  bool fromOwnKey = false;     // the target key is the state's key plus keyConstant
  uint32_t membersOffset = 0;  // the target member set in targetWords
  int32_t memberCount = 0;
  StateKey keyConstant = 0;   // entering and newly finished members
  uint32_t carriedBegin = 0;  // carried digits in TransitionPlan::carried
  uint32_t carriedCount = 0;
  uint32_t runBegin = 0;  // the same digits as runs in TransitionPlan::carriedRuns
  uint32_t runCount = 0;
};

// Module-done test of one completion: the members that must be finished, and whether the
// rest of the module is done already.
struct ModuleNeed {
  uint64_t members = 0;
  bool reachable = false;
};

// What the outcomes of one elementary activity's completion depend on, gathered once per
// project; what depends on the UDC (its slots, the members it needs) the plan keeps by position.
struct MemberOutcomes {
  int32_t type = 0;  // elemSuccTransitionType
  int32_t successorCount = 0;
  bool plainOnly = false;  // type 0 without risks: only the plain completion, of weight 1
  bool stateFree = false;  // its classes do not depend on the state (types -3, -1, -2 without pms)
  bool risky = false;      // a risk of technical failure: the module-done test is read
  double pts = 1.0;
  double pms = 0.0;
  const double* probability = nullptr;  // elemSuccessorProb
};

// The plain classes of a position remembered with the finished members they were found for.
// Where the one last met does not fit, one met before it mostly does: a walk moving a needed
// member's status back and forth below the completing one alternates between classes (on
// J60_401 the one before the last answers four misses in five).
constexpr size_t kPlainMemo = 4;
static_assert(kPlainMemo == 4, "PlainMemo's classes start as none: one -1 per entry");
struct PlainMemo {
  std::array<uint64_t, kPlainMemo> finished{};
  std::array<int32_t, kPlainMemo> classId{-1, -1, -1, -1};
};

struct TransitionPlan {
  int32_t words = 0;
  bool withKeys = true;  // identification needs the target cutsets only
  // Scratch sets of `words` words, and new members of a target.
  std::vector<BitWord> finished, done, entering, keep, keepAncestors, latest, target;
  std::vector<NewMember> newMembers;

  // Per UDC (beginUdcTransitions).
  std::vector<TargetClass> classes;
  std::vector<BitWord> targetWords;
  std::vector<CarriedDigit> carried;
  std::vector<CarriedRun> carriedRuns;
  // One slot per successor of each member (at least one per member): the member at
  // position p has slots slotStart[p] .. slotStart[p + 1].
  std::array<uint32_t, kMaxUdcMembers + 1> slotStart{};
  std::vector<int32_t> classOfSlot;  // classes that do not depend on the state
  std::vector<ModuleNeed> moduleNeedOfSlot;
  // Classes that depend on finished members: open addressing on (position, kind, pattern).
  struct PatternEntry {
    uint64_t pattern = 0;
    uint32_t generation = 0;  // the entry is empty unless it is the plan's generation
    int32_t tag = -1;         // position * 4 + pattern kind
    int32_t classId = -1;
  };
  std::vector<PatternEntry> patternTable;
  uint32_t patternCount = 0;
  uint32_t generation = 0;  // one per UDC taken up
  // Members whose outcomes do not depend on the state (types -3 and -1, -2 without module
  // success, and a plain completion that needs no other member finished): their classes are
  // known once they have completed in one state.
  uint64_t stateFreeMask = 0;
  std::array<const MemberOutcomes*, kMaxUdcMembers> members{};  // by position, into prototypes
  std::array<uint64_t, kMaxUdcMembers> needed{};  // by position: the other members some successor needs finished
  std::vector<MemberOutcomes> prototypes;         // by elementary activity
  // By position, the last plain classes met, the latest first: the needed finished members
  // they were found for, and the classes (-1 none). Held in the plan itself, so that the
  // check of the latest reads no pointer first.
  std::array<PlainMemo, kMaxUdcMembers> lastPlain{};
};

// Sizes the scratch for the current elementary network; without keys, classes name their
// target cutset only.
void prepareTransitionPlan(TransitionPlan& plan, bool withKeys);

// Forgets the classes of the previous UDC and prepares the slots of the UDC the walk has
// taken up.
void beginUdcTransitions(TransitionPlan& plan, const UdcStateWalk& walk);

namespace transition_rule_detail {
enum PatternKind : int32_t { kPlainByEligible = 0, kPlainByFinished = 1, kModuleByFinished = 2 };
int32_t findPatternClass(TransitionPlan& plan, const UdcStateWalk& walk, int32_t p, PatternKind kind, uint64_t pattern,
                         bool& created);
int32_t makeSlotClass(TransitionPlan& plan, const UdcStateWalk& walk, int32_t p, int32_t k, bool& created);
}  // namespace transition_rule_detail

// The target key of class classId for the state the walk stands on, by its key rule as rule
// holds it (fromOwnKey, keyConstant, runBegin, runCount: the class itself or a copy kept
// beside its table). kRunsSuffice: the caller knows the UDC is narrow enough for runs.
template <bool kRunsSuffice = false, class Rule>
inline StateKey targetKeyFrom(const TransitionPlan& plan, const Rule& rule, int32_t classId, const UdcStateWalk& walk) {
  if (rule.fromOwnKey) return walk.key + rule.keyConstant;
  if (kRunsSuffice || walk.memberCount <= kRunKeyMembers)
    return rule.keyConstant + keyOfCarriedRuns(walk.key, plan.carriedRuns.data() + rule.runBegin, rule.runCount);
  if constexpr (!kRunsSuffice) {
    const TargetClass& target = plan.classes[static_cast<size_t>(classId)];
    StateKey key = target.keyConstant;
    const CarriedDigit* digit = plan.carried.data() + target.carriedBegin;
    const CarriedDigit* end = digit + target.carriedCount;
    for (; digit != end; ++digit) key += walk.status[static_cast<size_t>(digit->position)] * digit->weight;
    return key;
  }
  return 0;
}

inline StateKey targetKeyOf(const TransitionPlan& plan, int32_t classId, const UdcStateWalk& walk) {
  return targetKeyFrom(plan, plan.classes[static_cast<size_t>(classId)], classId, walk);
}

inline const BitWord* targetMembersOf(const TransitionPlan& plan, const TargetClass& target) {
  return plan.targetWords.data() + target.membersOffset;
}

// The outcomes of the completion of the member at position p (active, or the instantaneous
// member) in the state the walk stands on, in the order in which they are added up. The
// sink receives:
// - newClass(classId) the first time a class is met in this UDC, before it is used;
// - weighted(kind, factor, classId) for the outcomes of types 0 and -2 (factor: 1 - pts,
//   (1 - pms) pts or pms pts);
// - beginDraw(), drawn(probability, classId) per successor, endDraw() for type -3;
// - beginChoice(), chosen(classId) per successor, endChoice() for type -1.
namespace transition_rule_detail {

// The plain completion of a type 0 member: the finished members that some successor needs
// decide its class, so the same ones give the same class without working it out again.
template <class Sink>
__attribute__((noinline)) int32_t plainClassOfNew(TransitionPlan& plan, const UdcStateWalk& walk, int32_t p,
                                                  Sink& sink, uint64_t relevant) {
  const MemberOutcomes& member = *plan.members[static_cast<size_t>(p)];
  int32_t* last = plan.lastPlain[static_cast<size_t>(p)].classId.data();
  uint64_t* lastRelevant = plan.lastPlain[static_cast<size_t>(p)].finished.data();
  for (size_t k = 1; k < kPlainMemo; ++k) {
    if (last[k] < 0 || lastRelevant[k] != relevant) continue;
    const int32_t id = last[k];
    for (; k > 0; --k) {
      last[k] = last[k - 1];
      lastRelevant[k] = lastRelevant[k - 1];
    }
    last[0] = id;
    lastRelevant[0] = relevant;
    return id;
  }
  uint64_t pattern = 0;
  PatternKind kind = kPlainByEligible;
  if (member.successorCount <= 64) {
    const uint64_t finishedWith = walk.finishedMask | positionBit(p);
    const SuccessorNeed* need = walk.needs.data() + walk.needStart[static_cast<size_t>(p)];
    for (int32_t k = 0; k < member.successorCount; ++k)
      if (isEligible(need[k], finishedWith)) pattern |= positionBit(k);
  } else {
    kind = kPlainByFinished;
    pattern = relevant;
  }
  bool created = false;
  const int32_t id = findPatternClass(plan, walk, p, kind, pattern, created);
  if (created) sink.newClass(id);
  for (size_t k = kPlainMemo - 1; k > 0; --k) {
    last[k] = last[k - 1];
    lastRelevant[k] = lastRelevant[k - 1];
  }
  last[0] = id;
  lastRelevant[0] = relevant;
  return id;
}

// Most completions meet the same relevant members as the member's last one: that check is
// inlined where the outcomes are added, the rest stays out of line.
template <class Sink>
__attribute__((always_inline)) inline int32_t plainClassOf(TransitionPlan& plan, const UdcStateWalk& walk, int32_t p,
                                                           Sink& sink) {
  const uint64_t relevant = walk.finishedMask & plan.needed[static_cast<size_t>(p)];
  const PlainMemo& memo = plan.lastPlain[static_cast<size_t>(p)];
  if (memo.classId[0] >= 0 && memo.finished[0] == relevant) return memo.classId[0];
  return plainClassOfNew(plan, walk, p, sink, relevant);
}

template <class Sink>
void forEachOtherOutcome(TransitionPlan& plan, const UdcStateWalk& walk, int32_t p, Sink& sink) {
  const MemberOutcomes& member = *plan.members[static_cast<size_t>(p)];
  const uint32_t firstSlot = plan.slotStart[static_cast<size_t>(p)];
  const uint64_t finishedWith = walk.finishedMask | positionBit(p);
  bool created = false;
  auto slotClass = [&](int32_t k) {
    int32_t& id = plan.classOfSlot[firstSlot + static_cast<uint32_t>(k)];
    if (id < 0) {
      id = makeSlotClass(plan, walk, p, k, created);
      sink.newClass(id);
    }
    return id;
  };
  auto moduleSuccessClass = [&]() {
    const int32_t id = findPatternClass(plan, walk, p, kModuleByFinished, walk.finishedMask, created);
    if (created) sink.newClass(id);
    return id;
  };
  auto moduleDone = [&](uint32_t slot) {
    const ModuleNeed& need = plan.moduleNeedOfSlot[slot];
    return need.reachable && (need.members & ~finishedWith) == 0;
  };

  switch (member.type) {
    case kFollowAll: {
      const double pts = member.pts;
      const double pms = member.pms;
      const bool failure = pts < 1.0 && !moduleDone(firstSlot);
      int32_t plain = -1;
      if (failure || pms < 1.0) plain = plainClassOf(plan, walk, p, sink);
      if (failure) sink.weighted(OutcomeKind::kFailure, 1.0 - pts, plain);
      if (pms < 1.0) sink.weighted(OutcomeKind::kPlain, (1.0 - pms) * pts, plain);
      if (pms > 0.0) sink.weighted(OutcomeKind::kModuleSuccess, pms * pts, moduleSuccessClass());
      break;
    }
    case kJoinModes: {
      const double pts = member.pts;
      const double pms = member.pms;
      for (int32_t k = 0; k < member.successorCount; ++k) {
        const bool failure = pts < 1.0 && !moduleDone(firstSlot + static_cast<uint32_t>(k));
        int32_t plain = -1;
        if (failure || pms < 1.0) plain = slotClass(k);
        if (failure) sink.weighted(OutcomeKind::kFailure, 1.0 - pts, plain);
        if (pms < 1.0) sink.weighted(OutcomeKind::kPlain, (1.0 - pms) * pts, plain);
        if (pms > 0.0) sink.weighted(OutcomeKind::kModuleSuccess, pms * pts, moduleSuccessClass());
      }
      break;
    }
    case kDrawOne: {
      if (member.successorCount == 0) break;
      sink.beginDraw();
      for (int32_t k = 0; k < member.successorCount; ++k) sink.drawn(member.probability[k], slotClass(k));
      sink.endDraw();
      break;
    }
    case kChooseOne: {
      sink.beginChoice();
      for (int32_t k = 0; k < member.successorCount; ++k) sink.chosen(slotClass(k));
      sink.endChoice();
      break;
    }
    default: break;
  }
}

}  // namespace transition_rule_detail

// The outcomes of the completion of the member at position p (active, or the instantaneous
// member) in the state the walk stands on, in the order in which they are added up. The
// sink receives:
// - newClass(classId) the first time a class is met in this UDC, before it is used;
// - weighted(kind, factor, classId) for the outcomes of types 0 and -2 (factor: 1 - pts,
//   (1 - pms) pts or pms pts);
// - beginDraw(), drawn(probability, classId) per successor, endDraw() for type -3;
// - beginChoice(), chosen(classId) per successor, endChoice() for type -1.
// A type 0 member without risks has the plain completion alone, of weight 1.
template <class Sink>
inline void forEachOutcome(TransitionPlan& plan, const UdcStateWalk& walk, int32_t p, Sink& sink) {
  if (plan.members[static_cast<size_t>(p)]->plainOnly)
    sink.weighted(OutcomeKind::kPlain, 1.0, transition_rule_detail::plainClassOf(plan, walk, p, sink));
  else
    transition_rule_detail::forEachOtherOutcome(plan, walk, p, sink);
}

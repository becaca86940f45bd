// The targets of the completion outcomes: the per-UDC slots and class tables, and the one
// construction of a target cutset from the set of done activities and the entering ones.
#include "udc/transition_rule.h"

#include <cstddef>

uint32_t appendCarriedRuns(const CarriedDigit* digits, uint32_t count, std::vector<CarriedRun>& runs) {
  const auto reciprocal = [](StateKey d) { return ~uint64_t{0} / d + 1; };
  uint32_t added = 0;
  for (uint32_t i = 0; i < count;) {
    uint32_t length = 1;
    while (i + length < count && digits[i + length].position == digits[i].position + static_cast<int32_t>(length) &&
           digits[i + length].weight == 3 * digits[i + length - 1].weight)
      ++length;
    CarriedRun run;
    const int32_t first = digits[i].position;
    run.below = first == 0 ? 0 : reciprocal(kPowersOfThree[static_cast<size_t>(first)]);
    run.span = kPowersOfThree[length];
    run.within = reciprocal(run.span);
    run.scale = digits[i].weight;
    runs.push_back(run);
    ++added;
    i += length;
  }
  return added;
}

namespace {

using transition_rule_detail::PatternKind;

// Positions of the members of the UDC that are ancestors of e.
uint64_t memberAncestorsOf(const UdcStateWalk& walk, int e) {
  const BitWord* ancestors = ancestorBitsOf(e);
  uint64_t mask = 0;
  for (int w = 0; w < walk.wordCount; ++w)
    for (BitWord bits = walk.memberSet[static_cast<size_t>(w)] & ancestors[w]; bits != 0; bits &= bits - 1)
      mask |= positionBit(walk.positionByActivity[static_cast<size_t>(w * kBitWordBits + __builtin_ctzll(bits))]);
  return mask;
}

// Stores a class whose target cutset is in plan.target: the members of the UDC in carried
// keep their status, those in forced count as finished, the others leave, and the new
// activities (ascending) enter with their digits. The target's positions follow ascending
// activity index. With constantLeavers, the statuses of the members that leave or are
// forced are the same in every state of the class; when moreover no carried member changes
// its position, the target key is the state's key plus a constant.
int32_t storeClass(TransitionPlan& plan, const UdcStateWalk& walk, uint64_t carried, uint64_t forced,
                   const NewMember* extras, int extraCount, bool constantLeavers) {
  const int words = plan.words;
  TargetClass added;
  added.inPlace = extraCount == 0 && (carried | forced) == walk.allMask;
  added.membersOffset = static_cast<uint32_t>(plan.targetWords.size());
  for (int w = 0; w < words; ++w) plan.targetWords.push_back(plan.target[static_cast<size_t>(w)]);
  added.memberCount = popCount64(carried | forced) + extraCount;
  added.carriedBegin = static_cast<uint32_t>(plan.carried.size());
  // A target too wide to be encoded fails identification when it is taken up; no key of it
  // is ever needed.
  if (plan.withKeys && added.memberCount <= kMaxUdcMembers) {
    uint64_t stay = carried | forced;
    int extra = 0;
    bool positionsKept = true;
    for (int t = 0; stay != 0 || extra < extraCount; ++t) {
      const StateKey weight = kPowersOfThree[static_cast<size_t>(t)];
      const int q = stay != 0 ? lowestBit(stay) : -1;
      if (q >= 0 && (extra == extraCount || walk.activityAt(q) < extras[extra].activity)) {
        if (forced & positionBit(q)) {
          added.keyConstant += 2 * weight;
        } else {
          plan.carried.push_back({q, weight});
          positionsKept = positionsKept && q == t;
        }
        stay &= stay - 1;
      } else {
        added.keyConstant += extras[extra++].digit * weight;
      }
    }
    if (constantLeavers && positionsKept) {
      for (uint64_t bits = walk.allMask & ~carried; bits != 0; bits &= bits - 1) {
        const int q = lowestBit(bits);
        added.keyConstant -= walk.status[static_cast<size_t>(q)] * kPowersOfThree[static_cast<size_t>(q)];
      }
      added.fromOwnKey = true;
      plan.carried.resize(added.carriedBegin);
    }
  }
  added.carriedCount = static_cast<uint32_t>(plan.carried.size()) - added.carriedBegin;
  added.runBegin = static_cast<uint32_t>(plan.carriedRuns.size());
  if (walk.memberCount <= kRunKeyMembers)
    added.runCount = appendCarriedRuns(plan.carried.data() + added.carriedBegin, added.carriedCount, plan.carriedRuns);
  plan.classes.push_back(added);
  return static_cast<int32_t>(plan.classes.size()) - 1;
}

// Stores a class whose target, in plan.target, has the members of the UDC at hand in their
// positions except that the completing member's digit changes by the same amount in every
// state: the target key is the state's key plus keyConstant.
__attribute__((always_inline)) inline int32_t storeShiftedClass(TransitionPlan& plan, const UdcStateWalk& walk,
                                                                bool inPlace, StateKey keyConstant) {
  TargetClass added;
  added.inPlace = inPlace;
  added.fromOwnKey = true;
  added.membersOffset = static_cast<uint32_t>(plan.targetWords.size());
  for (int w = 0; w < plan.words; ++w) plan.targetWords.push_back(plan.target[static_cast<size_t>(w)]);
  added.memberCount = walk.memberCount;
  added.keyConstant = keyConstant;
  added.carriedBegin = static_cast<uint32_t>(plan.carried.size());
  added.runBegin = static_cast<uint32_t>(plan.carriedRuns.size());
  plan.classes.push_back(added);
  return static_cast<int32_t>(plan.classes.size()) - 1;
}

// The successor at index k of the member at position p enters; its ancestors, the branches
// not taken among them, count as done.
int32_t buildSingleSuccessorClass(TransitionPlan& plan, const UdcStateWalk& walk, int32_t p, int32_t k) {
  const ElementaryNetwork& net = elementaryNetwork;
  const size_t a = static_cast<size_t>(walk.activityAt(p));
  const int32_t s = net.elemSuccessors[a][static_cast<size_t>(k)];
  const BitWord* ancestors = ancestorBitsOf(s);
  for (int w = 0; w < plan.words; ++w)
    plan.target[static_cast<size_t>(w)] = walk.memberSet[static_cast<size_t>(w)] & ~ancestors[w];
  setBit(plan.target.data(), s);
  // A successor with the completing member as its only predecessor has no other member
  // among its ancestors (the members are an antichain).
  const uint64_t removed =
      (net.elemPredecessors[static_cast<size_t>(s)].size() == 1 ? 0 : memberAncestorsOf(walk, s)) | positionBit(p);
  const NewMember entering{s, static_cast<uint8_t>(net.elemSuccTransitionType[a] != kChooseOne ? 1 : 0)};
  // The common case: only the completing member leaves, and no member lies between it and
  // its successor, which thus takes its position: the key changes in that digit alone.
  if (removed == positionBit(p) && (p + 1 == walk.memberCount || walk.activityAt(p + 1) > s))
    // The completing member is active in every state: its digit 1 becomes the successor's.
    return storeShiftedClass(plan, walk, false,
                             (StateKey{entering.digit} - 1) * kPowersOfThree[static_cast<size_t>(p)]);
  // Only the completing member leaves: its status is active in every state.
  return storeClass(plan, walk, walk.allMask & ~removed, 0, &entering, 1, removed == positionBit(p));
}

// Plain completion of the member at position p: the successors eligible now (pattern bit k
// for successor k) enter idle and their ancestors leave; with none, p finishes in place.
int32_t buildPlainClass(TransitionPlan& plan, const UdcStateWalk& walk, int32_t p, uint64_t finishedWith) {
  const ElementaryNetwork& net = elementaryNetwork;
  const std::vector<int32_t>& successors = net.elemSuccessors[static_cast<size_t>(walk.activityAt(p))];
  const SuccessorNeed* need = walk.needs.data() + walk.needStart[static_cast<size_t>(p)];
  std::vector<NewMember>& entering = plan.newMembers;
  entering.clear();
  uint64_t removed = positionBit(p);
  copyBits(plan.target.data(), walk.memberSet.data(), plan.words);
  for (size_t k = 0; k < successors.size(); ++k) {
    if (!isEligible(need[k], finishedWith)) continue;
    removed |= need[k].members;
    entering.push_back({successors[k], 0});
    setBit(plan.target.data(), successors[k]);
  }
  // The common cases, worked out directly: p finishes in place (its digit 1 becomes 2), or one
  // successor that needs no other member enters idle in p's position (p's digit 1 becomes 0).
  // storeClass gives the same class.
  const bool finishesInPlace = entering.empty();
  if (finishesInPlace || (entering.size() == 1 && removed == positionBit(p) &&
                          (p + 1 == walk.memberCount || walk.activityAt(p + 1) > entering[0].activity))) {
    if (!finishesInPlace) resetBit(plan.target.data(), walk.activityAt(p));
    return storeShiftedClass(plan, walk, finishesInPlace,
                             finishesInPlace ? kPowersOfThree[static_cast<size_t>(p)]
                                             : StateKey{0} - kPowersOfThree[static_cast<size_t>(p)]);
  }
  // The members that leave besides p are finished in every state of the class: the
  // successors that enter need them finished.
  for (uint64_t bits = removed; bits != 0; bits &= bits - 1)
    resetBit(plan.target.data(), walk.activityAt(lowestBit(bits)));
  return storeClass(plan, walk, walk.allMask & ~removed, 0, entering.data(), static_cast<int>(entering.size()), true);
}

// Module success of the member at position p: the module with its ancestors counts as done
// (the other members are cancelled), every activity whose ancestors are now all done enters
// idle, and the latest done activities that nothing kept descends from stay as finished.
int32_t buildModuleSuccessClass(TransitionPlan& plan, const UdcStateWalk& walk, int32_t p) {
  const ElementaryNetwork& net = elementaryNetwork;
  const int words = plan.words;
  const int32_t a = walk.activityAt(p);
  BitWord* finished = plan.finished.data();
  BitWord* done = plan.done.data();
  BitWord* entering = plan.entering.data();
  BitWord* keep = plan.keep.data();
  BitWord* keepAncestors = plan.keepAncestors.data();
  BitWord* latest = plan.latest.data();
  BitWord* target = plan.target.data();
  const BitWord* members = walk.memberSet.data();

  copyBits(finished, walk.ancestorUnion.data(), words);
  for (uint64_t bits = walk.finishedMask; bits != 0; bits &= bits - 1)
    setBit(finished, walk.activityAt(lowestBit(bits)));
  copyBits(done, finished, words);
  setBit(done, a);
  unionInto(done, moduleMemberBitsOf(net.elemModule[static_cast<size_t>(a)]), words);
  // The dummy end (the last elementary activity, the only one without successors) may share a
  // module with others, but it is the project's end, never an alternative: a module success
  // does not cancel it, it enters like any other activity whose ancestors are all done.
  const int32_t end = net.nElementary - 1;
  if (!hasBit(finished, end)) resetBit(done, end);
  // Only the successors of newly done activities can become eligible.
  clearBits(entering, words);
  for (int w = 0; w < words; ++w) {
    for (BitWord bits = done[w] & ~finished[w]; bits != 0; bits &= bits - 1) {
      const int x = w * kBitWordBits + __builtin_ctzll(bits);
      for (int32_t y : net.elemSuccessors[static_cast<size_t>(x)])
        if (!hasBit(done, y) && !hasBit(members, y) && isSubsetOf(ancestorBitsOf(y), done, words)) setBit(entering, y);
    }
  }
  for (int w = 0; w < words; ++w) keep[w] = (members[w] & ~done[w]) | entering[w];
  clearBits(keepAncestors, words);
  forEachMember(keep, words, [&](int e) { unionInto(keepAncestors, ancestorBitsOf(e), words); });
  for (int w = 0; w < words; ++w) latest[w] = done[w] & ~keepAncestors[w];
  copyBits(target, keep, words);
  forEachMember(latest, words, [&](int x) {
    for (int32_t y : net.elemSuccessors[static_cast<size_t>(x)])
      if (hasBit(latest, y)) return;
    setBit(target, x);
  });

  uint64_t carried = 0;
  uint64_t forced = 0;
  std::vector<NewMember>& extras = plan.newMembers;
  extras.clear();
  forEachMember(target, words, [&](int x) {
    const int32_t q = walk.positionByActivity[static_cast<size_t>(x)];
    if (q < 0)
      extras.push_back({x, static_cast<uint8_t>(hasBit(entering, x) ? 0 : 2)});
    else if (hasBit(done, x) && !hasBit(finished, x))
      forced |= positionBit(q);  // completed or cancelled by this outcome
    else
      carried |= positionBit(q);
  });
  return storeClass(plan, walk, carried, forced, extras.data(), static_cast<int>(extras.size()), false);
}

uint64_t hashPattern(int32_t tag, uint64_t pattern) {
  uint64_t h = (pattern ^ (static_cast<uint64_t>(tag) << 40)) * 0x9E3779B97F4A7C15ull;
  return h ^ (h >> 29);
}

void growPatternTable(TransitionPlan& plan) {
  std::vector<TransitionPlan::PatternEntry> old;
  old.swap(plan.patternTable);
  plan.patternTable.assign(old.size() * 2, {});
  const size_t mask = plan.patternTable.size() - 1;
  for (const TransitionPlan::PatternEntry& entry : old) {
    if (entry.generation != plan.generation) continue;
    size_t i = static_cast<size_t>(hashPattern(entry.tag, entry.pattern)) & mask;
    while (plan.patternTable[i].generation == plan.generation) i = (i + 1) & mask;
    plan.patternTable[i] = entry;
  }
}

}  // namespace

void prepareTransitionPlan(TransitionPlan& plan, bool withKeys) {
  plan = TransitionPlan{};
  plan.withKeys = withKeys;
  plan.words = elementaryNetwork.nBitWords;
  const size_t words = static_cast<size_t>(plan.words);
  for (auto* set :
       {&plan.finished, &plan.done, &plan.entering, &plan.keep, &plan.keepAncestors, &plan.latest, &plan.target})
    set->assign(words, 0);
  const ElementaryNetwork& net = elementaryNetwork;
  plan.prototypes.assign(static_cast<size_t>(net.nElementary), MemberOutcomes{});
  for (size_t a = 0; a < plan.prototypes.size(); ++a) {
    MemberOutcomes& member = plan.prototypes[a];
    member.type = net.elemSuccTransitionType[a];
    member.successorCount = static_cast<int32_t>(net.elemSuccessors[a].size());
    member.pts = net.elemPts[a];
    member.pms = net.elemPms[a];
    member.plainOnly = member.type == kFollowAll && member.pts == 1.0 && member.pms == 0.0;
    member.stateFree =
        member.type == kDrawOne || member.type == kChooseOne || (member.type == kJoinModes && member.pms <= 0.0);
    member.risky = member.pts < 1.0 && (member.type == kFollowAll || member.type == kJoinModes);
    member.probability = net.elemSuccessorProb[a].data();
  }
  plan.classes.reserve(256);
  plan.carried.reserve(1024);
  plan.carriedRuns.reserve(256);
  plan.targetWords.reserve(256 * static_cast<size_t>(plan.words));
  for (PlainMemo& memo : plan.lastPlain) memo = PlainMemo{};
}

void beginUdcTransitions(TransitionPlan& plan, const UdcStateWalk& walk) {
  const ElementaryNetwork& net = elementaryNetwork;
  const int words = plan.words;
  plan.classes.clear();
  plan.targetWords.clear();
  plan.carried.clear();
  plan.carriedRuns.clear();
  if (plan.patternTable.empty()) plan.patternTable.assign(16, {});
  ++plan.generation;  // forgets every entry of the previous UDC
  plan.patternCount = 0;
  const int count = walk.memberCount;
  uint32_t slots = 0;
  plan.stateFreeMask = 0;
  bool anyRisk = false;
  for (int p = 0; p < count; ++p) {
    const MemberOutcomes& member = plan.prototypes[static_cast<size_t>(walk.activityAt(p))];
    plan.members[static_cast<size_t>(p)] = &member;
    plan.slotStart[static_cast<size_t>(p)] = slots;
    slots += static_cast<uint32_t>(member.successorCount > 0 ? member.successorCount : 1);
    uint64_t needed = 0;
    if (member.type == kFollowAll) {
      const SuccessorNeed* need = walk.needs.data() + walk.needStart[static_cast<size_t>(p)];
      const SuccessorNeed* end = walk.needs.data() + walk.needStart[static_cast<size_t>(p) + 1];
      for (; need != end; ++need) needed |= need->members;
      needed &= ~positionBit(p);
    }
    plan.needed[static_cast<size_t>(p)] = needed;
    plan.lastPlain[static_cast<size_t>(p)].classId.fill(-1);
    // A plain completion whose successors need no other member finished has one class in
    // every state.
    if (member.stateFree || (member.plainOnly && needed == 0)) plan.stateFreeMask |= positionBit(p);
    anyRisk = anyRisk || member.risky;
  }
  plan.slotStart[static_cast<size_t>(count)] = slots;
  plan.classOfSlot.assign(slots, -1);
  // Only members with a risk of technical failure read their module-done test.
  if (plan.moduleNeedOfSlot.size() < slots) plan.moduleNeedOfSlot.resize(slots);

  // The module-done test of members with a risk of technical failure: the module's members
  // and their ancestors must be done (for a mode exit, with the mode-join dummy and its
  // ancestors counted as done).
  if (!anyRisk) return;
  BitWord* reach = plan.done.data();
  for (int p = 0; p < count; ++p) {
    if (!plan.members[static_cast<size_t>(p)]->risky) continue;
    const size_t a = static_cast<size_t>(walk.activityAt(p));
    const int32_t type = net.elemSuccTransitionType[a];
    const BitWord* module = moduleMemberBitsOf(net.elemModule[a]);
    const std::vector<int32_t>& successors = net.elemSuccessors[a];
    const size_t tests = type == kFollowAll ? 1 : successors.size();
    for (size_t k = 0; k < tests; ++k) {
      copyBits(reach, walk.ancestorUnion.data(), words);
      unionInto(reach, walk.memberSet.data(), words);
      if (type == kJoinModes) {
        unionInto(reach, ancestorBitsOf(successors[k]), words);
        setBit(reach, successors[k]);
      }
      ModuleNeed need;
      need.reachable = isSubsetOf(module, reach, words);
      for (int q = 0; q < count; ++q) {
        const int32_t e = walk.activityAt(q);
        const bool countedDone = type == kJoinModes && (hasBit(ancestorBitsOf(successors[k]), e) || e == successors[k]);
        if (hasBit(module, e) && !countedDone) need.members |= positionBit(q);
      }
      plan.moduleNeedOfSlot[plan.slotStart[static_cast<size_t>(p)] + k] = need;
    }
  }
}

int32_t transition_rule_detail::findPatternClass(TransitionPlan& plan, const UdcStateWalk& walk, int32_t p,
                                                 PatternKind kind, uint64_t pattern, bool& created) {
  const int32_t tag = p * 4 + static_cast<int32_t>(kind);
  const size_t mask = plan.patternTable.size() - 1;
  size_t i = static_cast<size_t>(hashPattern(tag, pattern)) & mask;
  for (;; i = (i + 1) & mask) {
    const TransitionPlan::PatternEntry& entry = plan.patternTable[i];
    if (entry.generation != plan.generation) break;
    if (entry.tag == tag && entry.pattern == pattern) {
      created = false;
      return entry.classId;
    }
  }
  const int32_t id = kind == transition_rule_detail::kModuleByFinished
                         ? buildModuleSuccessClass(plan, walk, p)
                         : buildPlainClass(plan, walk, p, walk.finishedMask | positionBit(p));
  plan.patternTable[i] = {pattern, plan.generation, tag, id};
  if (++plan.patternCount * 2 > plan.patternTable.size()) growPatternTable(plan);
  created = true;
  return id;
}

int32_t transition_rule_detail::makeSlotClass(TransitionPlan& plan, const UdcStateWalk& walk, int32_t p, int32_t k,
                                              bool& created) {
  created = true;
  return buildSingleSuccessorClass(plan, walk, p, k);
}

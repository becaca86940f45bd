// The backward stochastic dynamic program. The evaluation of a state is written once and
// parameterised by a primary objective and an optional secondary one that rides along:
// the secondary never decides anything, it takes its value wherever the primary picks.
#include <algorithm>
#include <string>
#include <type_traits>

#include "duration/elementary_network.h"
#include "network/base_network.h"
#include "run/config.h"
#include "run/fatal.h"
#include "run/subset_tables.h"
#include "sdp/recursion.h"
#include "sdp/solvers.h"
#include "sdp/state_table.h"
#include "udc/udc_network.h"

SweepWork sweepWork;

void buildSweepWork() {
  const ElementaryNetwork& net = elementaryNetwork;
  sweepWork = SweepWork{};
  prepareStateWalk(sweepWork.walk);
  const size_t words = static_cast<size_t>(net.nBitWords);
  sweepWork.finishedWithCompleted.assign(words, 0);
  sweepWork.moduleDoneTest.assign(words, 0);
  sweepWork.moduleSuccessSet.assign(words, 0);
  sweepWork.addSet.assign(words, 0);
  sweepWork.removeSet.assign(words, 0);
  sweepWork.targetMembers.assign(words, 0);
  sweepWork.successorIndexOfEntering.assign(static_cast<size_t>(net.nElementary), -1);
  sweepWork.enteringMet.reserve(static_cast<size_t>(net.nElementary));
  sweepWork.discountRate = baseNetwork.discountRate;
  sweepWork.npvBound = static_cast<double>(net.npvLowerBound);
  sweepWork.makespanBound = -static_cast<double>(net.makespanUpperBound);
  sweepWork.abandon = runConfig.gv_CFG_abandon;
  sweepWork.irq = runConfig.gv_CFG_irq;
}

void releaseSweepWork() { sweepWork = SweepWork{}; }

namespace {

// Objective policies: the weight of a completion, the bound that starts a decision value,
// the cost of a start, the time term and the abandonment floor.
struct NpvObjective {
  static constexpr bool kCountsCost = true;
  static constexpr bool kCountsTime = false;
  static double bound(const SweepWork& work) { return work.npvBound; }
  static double weight(double rate, double totalRate, double discountRate) {
    return (totalRate / (discountRate + totalRate)) * (rate / totalRate);
  }
  static bool floored(const SweepWork& work) { return work.abandon; }
  static float terminalValue() { return static_cast<float>(elementaryNetwork.elemCost.back()); }
};

struct MakespanObjective {
  static constexpr bool kCountsCost = false;
  static constexpr bool kCountsTime = true;
  static double bound(const SweepWork& work) { return work.makespanBound; }
  static double weight(double rate, double totalRate, double) { return rate / totalRate; }
  static bool floored(const SweepWork&) { return false; }
  static float terminalValue() { return 0.0f; }
};

// Stands in for the secondary objective of a one-objective solve; nothing of it is computed.
struct NoObjective {
  static constexpr bool kCountsCost = false;
  static constexpr bool kCountsTime = false;
  static double bound(const SweepWork&) { return 0.0; }
  static double weight(double, double, double) { return 0.0; }
  static bool floored(const SweepWork&) { return false; }
  static float terminalValue() { return 0.0f; }
};

// A value of both objectives taken from the same place.
struct ValuePair {
  double primary;
  double secondary;
};

[[noreturn]] void stopMissingTarget(int32_t udc) {
  stopFatal("Internal error: a transition out of UDC " + std::to_string(udc) +
            " leads to no successor UDC; identification and the solver disagree on the network.");
}

bool fitsRemaining(int32_t e, const UdcStateWalk& state, int32_t resourceCount) {
  const double* use = resourceUseOf(e);
  for (int32_t r = 0; r < resourceCount; ++r)
    if (use[r] > state.remainingResources[static_cast<size_t>(r)]) return false;
  return true;
}

template <class Primary, class Secondary>
struct StateEvaluator {
  static constexpr bool kTwo = !std::is_same_v<Secondary, NoObjective>;

  SweepWork& work;
  const ElementaryNetwork& net;
  const UdcStateWalk* state = nullptr;
  const UdcStateTable* own = nullptr;
  int32_t words = 0;
  double continuation = 0;
  double secondaryContinuation = 0;

  // best(c', v'): the continuation side only when strictly greater; the secondary follows.
  ValuePair best(const UdcStateTable& table, uint32_t i) const {
    const double c = table.continuationValue()[i];
    const double v = table.decisionValue()[i];
    if (c > v) return {c, kTwo ? static_cast<double>(table.secondaryContinuationValue()[i]) : 0.0};
    return {v, kTwo ? static_cast<double>(table.secondaryDecisionValue()[i]) : 0.0};
  }

  void add(double primaryWeight, double secondaryWeight, ValuePair value) {
    continuation += primaryWeight * value.primary;
    if constexpr (kTwo) secondaryContinuation += secondaryWeight * value.secondary;
  }

  uint32_t ownIndex(uint32_t key) const {
    return findStateIndex(own->key.data(), own->storedCount, key, work.udc);
  }

  // Index in the successor list of the first successor UDC whose members include N,
  // which is in work.targetMembers.
  int32_t successorHolding() const {
    const BitWord* n = work.targetMembers.data();
    const int32_t successorCount = static_cast<int32_t>(work.successorUdc.size());
    for (int32_t j = 0; j < successorCount; ++j)
      if (isSubsetOf(n, udcMembersOf(work.successorUdc[static_cast<size_t>(j)]), words)) return j;
    stopMissingTarget(work.udc);
  }

  // The state of successor j reached from the present state. Members in finishedThere
  // count as finished; members new to the cutset enter active or idle.
  const UdcStateTable& stateIn(int32_t j, bool entersActive, const BitWord* finishedThere, uint32_t& index) const {
    const uint32_t* three = subsetTables.powersOfThree;
    const int32_t t = work.successorUdc[static_cast<size_t>(j)];
    uint32_t key = 0;
    const int32_t first = work.successorMemberStart[static_cast<size_t>(j)];
    const int32_t count = work.successorMemberStart[static_cast<size_t>(j) + 1] - first;
    const int32_t* activity = work.successorMemberActivity.data() + first;
    const int32_t* here = work.successorMemberPositionHere.data() + first;
    const uint8_t* status = state->status.data();
    for (int32_t q = 0; q < count; ++q) {
      if (finishedThere != nullptr && hasBit(finishedThere, activity[q]))
        key += 2 * three[q];
      else if (here[q] >= 0)
        key += status[here[q]] * three[q];
      else if (entersActive)
        key += three[q];
    }
    const UdcStateTable& table = stateTableOf(t);
    index = findStateIndex(table.key.data(), table.storedCount, key, t);
    return table;
  }

  // Target in which successor s enters the cutset and its ancestors leave it.
  const UdcStateTable& successorState(int32_t s, bool entersActive, uint32_t& index) const {
    int32_t& j = work.successorIndexOfEntering[static_cast<size_t>(s)];
    if (j < 0) {
      const BitWord* m = state->memberSet.data();
      const BitWord* ancestors = ancestorBitsOf(s);
      BitWord* n = work.targetMembers.data();
      for (int32_t w = 0; w < words; ++w) n[w] = static_cast<BitWord>(m[w] & ~ancestors[w]);
      setBit(n, s);
      j = successorHolding();
      work.enteringMet.push_back(s);
    }
    return stateIn(j, entersActive, nullptr, index);
  }

  // N from the scratch Add and Remove sets.
  const UdcStateTable& addRemoveState(bool entersActive, const BitWord* finishedThere, uint32_t& index) const {
    const BitWord* m = state->memberSet.data();
    const BitWord* add = work.addSet.data();
    const BitWord* remove = work.removeSet.data();
    BitWord* n = work.targetMembers.data();
    for (int32_t w = 0; w < words; ++w) n[w] = static_cast<BitWord>((m[w] | add[w]) & ~remove[w]);
    return stateIn(successorHolding(), entersActive, finishedThere, index);
  }

  // Plain completion of a type 0 member with F' in work.finishedWithCompleted: the
  // successors that become eligible enter idle; with none, a finishes inside this UDC.
  ValuePair plainCompletion(int32_t a) {
    const BitWord* finished = work.finishedWithCompleted.data();
    BitWord* add = work.addSet.data();
    BitWord* remove = work.removeSet.data();
    clearBits(add, words);
    clearBits(remove, words);
    bool anyEligible = false;
    for (int32_t s : net.elemSuccessors[static_cast<size_t>(a)]) {
      const BitWord* ancestors = ancestorBitsOf(s);
      if (!isSubsetOf(ancestors, finished, words)) continue;
      anyEligible = true;
      setBit(add, s);
      unionInto(remove, ancestors, words);
    }
    uint32_t index = 0;
    if (anyEligible) {
      const UdcStateTable& table = addRemoveState(false, nullptr, index);
      return best(table, index);
    }
    const int32_t p = state->positionByActivity[static_cast<size_t>(a)];
    index = ownIndex(state->key + subsetTables.powersOfThree[p]);
    return best(*own, index);
  }

  // Success of a's module: its followers that become eligible enter; with none, the
  // module's last members leave, or finish here when they are all members of this UDC.
  ValuePair moduleSuccess(int32_t a) {
    const int32_t module = net.elemModule[static_cast<size_t>(a)];
    BitWord* d = work.moduleSuccessSet.data();
    copyBits(d, moduleMemberBitsOf(module), words);
    unionInto(d, work.finishedWithCompleted.data(), words);
    BitWord* add = work.addSet.data();
    BitWord* remove = work.removeSet.data();
    clearBits(add, words);
    clearBits(remove, words);
    bool anyFollower = false;
    for (int32_t x : net.moduleFollowers[static_cast<size_t>(module)]) {
      if (hasBit(d, x)) continue;
      const BitWord* ancestors = ancestorBitsOf(x);
      if (!isSubsetOf(ancestors, d, words)) continue;
      anyFollower = true;
      setBit(add, x);
      unionInto(remove, ancestors, words);
    }
    uint32_t index = 0;
    if (!anyFollower) {
      const BitWord* last = moduleLastBitsOf(module);
      if (isSubsetOf(last, state->memberSet.data(), words)) {
        const BitWord* moduleMembers = moduleMemberBitsOf(module);
        uint32_t key = 0;
        for (int32_t p = 0; p < state->memberCount; ++p) {
          const int32_t e = state->memberByPosition[static_cast<size_t>(p)];
          key += hasBit(moduleMembers, e) ? subsetTables.twicePowersOfThree[p]
                                          : state->status[static_cast<size_t>(p)] * subsetTables.powersOfThree[p];
        }
        index = ownIndex(key);
        return best(*own, index);
      }
      copyBits(add, last, words);
      copyBits(remove, moduleLastAncestorBitsOf(module), words);
    }
    const UdcStateTable& table = addRemoveState(false, d, index);
    return best(table, index);
  }

  // Failure, partial and success outcomes of one completion; moduleDoneSet is the set
  // against which "module done" is tested, plain the value of the plain completion.
  template <class Plain>
  void addOutcomes(int32_t a, double w1, double w2, const BitWord* moduleDoneSet, Plain&& plain) {
    const double pts = net.elemPts[static_cast<size_t>(a)];
    const double pms = net.elemPms[static_cast<size_t>(a)];
    const int32_t module = net.elemModule[static_cast<size_t>(a)];
    const bool moduleDone = pts < 1.0 && isSubsetOf(moduleMemberBitsOf(module), moduleDoneSet, words);
    bool havePlain = false;
    ValuePair plainValue{0.0, 0.0};
    auto plainOnce = [&]() {
      if (!havePlain) {
        plainValue = plain();
        havePlain = true;
      }
      return plainValue;
    };
    if (pts < 1.0 && !moduleDone) add((1.0 - pts) * w1, (1.0 - pts) * w2, plainOnce());
    if (pms < 1.0) add((1.0 - pms) * pts * w1, (1.0 - pms) * pts * w2, plainOnce());
    if (pms > 0.0) add(pms * pts * w1, pms * pts * w2, moduleSuccess(a));
  }

  // Adds the contribution of a's completion; F' is in work.finishedWithCompleted.
  void addCompletion(int32_t a, double w1, double w2, bool takeBetterPhaseSide) {
    const std::vector<int32_t>& successors = net.elemSuccessors[static_cast<size_t>(a)];
    switch (net.elemSuccTransitionType[static_cast<size_t>(a)]) {
      case 0:
        addOutcomes(a, w1, w2, work.finishedWithCompleted.data(), [&]() { return plainCompletion(a); });
        break;
      case -2:
        for (int32_t s : successors) {
          BitWord* test = work.moduleDoneTest.data();
          copyBits(test, work.finishedWithCompleted.data(), words);
          unionInto(test, ancestorBitsOf(s), words);
          setBit(test, s);
          addOutcomes(a, w1, w2, test, [&]() {
            uint32_t index = 0;
            const UdcStateTable& table = successorState(s, true, index);
            return best(table, index);
          });
        }
        break;
      case -3: {
        if (successors.empty()) break;
        const std::vector<double>& probability = net.elemSuccessorProb[static_cast<size_t>(a)];
        double sumC = 0, sumV = 0, sumC2 = 0, sumV2 = 0;
        for (size_t k = 0; k < successors.size(); ++k) {
          uint32_t index = 0;
          const UdcStateTable& table = successorState(successors[k], true, index);
          const double q = probability[k];
          sumC += q * w1 * static_cast<double>(table.continuationValue()[index]);
          sumV += q * w1 * static_cast<double>(table.decisionValue()[index]);
          if constexpr (kTwo) {
            sumC2 += q * w2 * static_cast<double>(table.secondaryContinuationValue()[index]);
            sumV2 += q * w2 * static_cast<double>(table.secondaryDecisionValue()[index]);
          }
        }
        if (!takeBetterPhaseSide || sumC > sumV) {
          continuation += sumC;
          secondaryContinuation += sumC2;
        } else {
          continuation += sumV;
          secondaryContinuation += sumV2;
        }
        break;
      }
      case -1: {
        // The first successor always sets both maxima, so the secondary is never left
        // at its bound when the primary's values equal the primary's bound.
        double maxC = Primary::bound(work), maxV = maxC;
        double maxC2 = Secondary::bound(work), maxV2 = maxC2;
        bool first = true;
        for (int32_t s : successors) {
          uint32_t index = 0;
          const UdcStateTable& table = successorState(s, false, index);
          const double c = table.continuationValue()[index];
          const double v = table.decisionValue()[index];
          // The primary maxima only ever rise.
          if (first || c > maxC) {
            maxC = std::max(maxC, c);
            if constexpr (kTwo) maxC2 = table.secondaryContinuationValue()[index];
          }
          if (first || v > maxV) {
            maxV = std::max(maxV, v);
            if constexpr (kTwo) maxV2 = table.secondaryDecisionValue()[index];
          }
          first = false;
        }
        if (maxC > maxV)
          add(w1, w2, {maxC, maxC2});
        else
          add(w1, w2, {maxV, maxV2});
        break;
      }
      default:
        break;
    }
  }

  // Evaluates the state the walk stands on and appends it to the table of the UDC.
  void evaluate(const UdcStateWalk& walk, UdcStateTable& table) {
    state = &walk;
    continuation = 0.0;
    secondaryContinuation = 0.0;
    double decision = Primary::bound(work);
    double secondaryDecision = Secondary::bound(work);
    bool startPossible = false;
    BitWord* finished = work.finishedWithCompleted.data();
    copyBits(finished, walk.finishedSet.data(), words);
    const int32_t instantaneous = walk.instantaneousMember;

    if (instantaneous < 0) {
      for (int32_t i = 0; i < walk.idleCount; ++i) {
        const int32_t a = walk.idleList[static_cast<size_t>(i)];
        if (!fitsRemaining(a, walk, net.resourceCount)) continue;
        const int32_t p = walk.positionByActivity[static_cast<size_t>(a)];
        const uint32_t index = ownIndex(walk.key + subsetTables.powersOfThree[p]);
        const double cost = net.elemCost[static_cast<size_t>(a)];
        double c = table.continuationValue()[index];
        double v = table.decisionValue()[index];
        if constexpr (Primary::kCountsCost) {
          c += cost;
          v += cost;
        }
        double c2 = 0, v2 = 0;
        if constexpr (kTwo) {
          c2 = table.secondaryContinuationValue()[index];
          v2 = table.secondaryDecisionValue()[index];
          if constexpr (Secondary::kCountsCost) {
            c2 += cost;
            v2 += cost;
          }
        }
        // The first feasible option always sets both values, for the reason given at -1.
        if (!startPossible || c > decision) {
          decision = std::max(decision, c);
          secondaryDecision = c2;
        }
        if (v > decision) {
          decision = v;
          secondaryDecision = v2;
        }
        startPossible = true;
      }
      if (walk.activeCount > 0) {
        const double totalRate = walk.totalRate;
        for (int32_t i = 0; i < walk.activeCount; ++i) {
          const int32_t a = walk.activeList[static_cast<size_t>(i)];
          const double rate = net.elemRate[static_cast<size_t>(a)];
          const double w1 = Primary::weight(rate, totalRate, work.discountRate);
          const double w2 = Secondary::weight(rate, totalRate, work.discountRate);
          setBit(finished, a);
          addCompletion(a, w1, w2, work.irq);
          resetBit(finished, a);
        }
        if constexpr (Primary::kCountsTime) continuation -= 1.0 / totalRate;
        if constexpr (Secondary::kCountsTime) secondaryContinuation -= 1.0 / totalRate;
      }
    } else {
      setBit(finished, instantaneous);
      addCompletion(instantaneous, 1.0, 1.0, true);
    }

    if (instantaneous < 0 && startPossible) {
      if (walk.activeCount == 0) {
        continuation = decision;
        secondaryContinuation = secondaryDecision;
      }
    } else {
      decision = continuation;
      secondaryDecision = secondaryContinuation;
    }
    if (Primary::floored(work)) {
      decision = std::max(decision, 0.0);
      continuation = std::max(continuation, 0.0);
    }
    if (Secondary::floored(work)) {
      secondaryDecision = std::max(secondaryDecision, 0.0);
      secondaryContinuation = std::max(secondaryContinuation, 0.0);
    }
    appendState(table, work.udc, walk.key, decision, continuation, secondaryDecision, secondaryContinuation);
  }
};

// Member lists of u's successor UDCs, with each member's position in u.
void takeUpSuccessors(int32_t u) {
  SweepWork& work = sweepWork;
  for (int32_t s : work.enteringMet) work.successorIndexOfEntering[static_cast<size_t>(s)] = -1;
  work.enteringMet.clear();
  work.successorUdc.clear();
  work.successorMemberStart.clear();
  work.successorMemberActivity.clear();
  work.successorMemberPositionHere.clear();
  const int32_t words = elementaryNetwork.nBitWords;
  for (uint32_t t : udcSuccessorsOf(u)) {
    work.successorUdc.push_back(static_cast<int32_t>(t));
    work.successorMemberStart.push_back(static_cast<int32_t>(work.successorMemberActivity.size()));
    const BitWord* members = udcMembersOf(static_cast<int32_t>(t));
    for (int32_t w = 0; w < words; ++w) {
      const BitWord mask = members[w];
      const uint8_t* bits = membersOfMask(mask);
      for (int k = 0; k < subsetTables.maskMemberCount[mask]; ++k) {
        const int32_t e = w * kStateWordBits + bits[k];
        work.successorMemberActivity.push_back(e);
        work.successorMemberPositionHere.push_back(work.walk.positionByActivity[static_cast<size_t>(e)]);
      }
    }
  }
  work.successorMemberStart.push_back(static_cast<int32_t>(work.successorMemberActivity.size()));
}

void fillTerminalTable(int32_t last, float primaryValue, float secondaryValue) {
  allocateStateTable(last);
  UdcStateTable& table = stateTableOf(last);
  const uint32_t count = udcNetwork.udcStateCount[static_cast<size_t>(last)];
  for (uint32_t i = 0; i < count; ++i)
    appendState(table, last, count - 1 - i, primaryValue, primaryValue, secondaryValue, secondaryValue);
}

template <class Primary, class Secondary>
void sweepUdcs(SolveResult& result) {
  constexpr bool kTwo = StateEvaluator<Primary, Secondary>::kTwo;
  if (udcNetwork.udcCount <= 0) return;
  buildStateStorage(kTwo ? 2 : 1);
  buildSweepWork();
  const int32_t udcCount = udcNetwork.udcCount;
  const int32_t last = udcCount - 1;
  fillTerminalTable(last, Primary::terminalValue(), Secondary::terminalValue());

  StateEvaluator<Primary, Secondary> evaluator{sweepWork, elementaryNetwork};
  evaluator.words = elementaryNetwork.nBitWords;
  for (int32_t u = udcCount - 2; u >= 0; --u) {
    shelveFinishedTable(u + 1);
    openUdcStep(u);
    sweepWork.udc = u;
    beginUdc(sweepWork.walk, udcMembersOf(u));
    takeUpSuccessors(u);
    UdcStateTable& table = stateTableOf(u);
    evaluator.own = &table;
    walkUdcStates(sweepWork.walk, false, [&](const UdcStateWalk& walk) { evaluator.evaluate(walk, table); });
    closeUdcStep(u);
  }

  const UdcStateTable& first = stateTableOf(0);
  if (first.decisionValue()[0] > first.continuationValue()[0]) {
    result.slot[0] = first.decisionValue()[0];
    if constexpr (kTwo) result.slot[1] = first.secondaryDecisionValue()[0];
  } else {
    result.slot[0] = first.continuationValue()[0];
    if constexpr (kTwo) result.slot[1] = first.secondaryContinuationValue()[0];
  }
}

// Frees the tables and removes leftover state files also when a fatal stop unwinds.
struct SolveScope {
  ~SolveScope() {
    releaseSweepWork();
    releaseStateStorage();
  }
};

}  // namespace

bool solveNpv(SolveResult& result) {
  SolveScope scope;
  sweepUdcs<NpvObjective, NoObjective>(result);
  return true;
}

bool solveMakespan(SolveResult& result) {
  SolveScope scope;
  sweepUdcs<MakespanObjective, NoObjective>(result);
  return true;
}

bool solveNpvWithMakespan(SolveResult& result) {
  SolveScope scope;
  sweepUdcs<NpvObjective, MakespanObjective>(result);
  return true;
}

bool solveMakespanWithNpv(SolveResult& result) {
  SolveScope scope;
  sweepUdcs<MakespanObjective, NpvObjective>(result);
  return true;
}

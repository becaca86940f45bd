// The backward stochastic dynamic program. The evaluation of a state is written once and
// parameterised by a primary objective and an optional secondary one that rides along:
// the secondary never decides anything, it takes its value wherever the primary picks.
// Which outcomes a completion has and where they lead is the transition rule's; here they
// are weighted and combined.
#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

#include "duration/elementary_network.h"
#include "network/base_network.h"
#include "base/config.h"
#include "base/fatal.h"
#include "base/interrupt.h"
#include "base/progress.h"
#include "base/run_state.h"
#include "base/threads.h"
#include "sdp/policy.h"
#include "sdp/recursion.h"
#include "sdp/solvers.h"
#include "sdp/state_storage.h"
#include "udc/udc_network.h"

SweepWork sweepWork;

void prepareSweepWork(SweepWork& work) {
  const ElementaryNetwork& net = elementaryNetwork;
  work = SweepWork{};
  prepareStateWalk(work.walk);
  prepareTransitionPlan(work.plan, true);
  work.startFinger.assign(kMaxUdcMembers, 0);
  work.members.assign(static_cast<size_t>(net.nBitWords), 0);
  work.discountRate = baseNetwork.discountRate;
  work.npvBound = static_cast<double>(net.npvLowerBound);
  work.makespanBound = -static_cast<double>(net.makespanUpperBound);
  work.abandon = settingsInForce().gv_CFG_abandon;
  work.irq = settingsInForce().gv_CFG_irq;
}

void buildSweepWork() { prepareSweepWork(sweepWork); }

void releaseSweepWork() { sweepWork = SweepWork{}; }

namespace {

// Objective policies: the weight of a completion, the bound that starts a decision value,
// the cost of a start, the time term and the abandonment floor.
struct NpvObjective {
  static constexpr bool kNegated = false;
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
  static constexpr bool kNegated = true;  // a makespan is kept as a negated time
  static constexpr bool kCountsCost = false;
  static constexpr bool kCountsTime = true;
  static double bound(const SweepWork& work) { return work.makespanBound; }
  static double weight(double rate, double totalRate, double) { return rate / totalRate; }
  static bool floored(const SweepWork&) { return false; }
  static float terminalValue() { return 0.0f; }
};

// Stands in for the secondary objective of a one-objective solve; nothing of it is computed.
struct NoObjective {
  static constexpr bool kNegated = false;
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

std::vector<uint32_t>& successorsOfSwept(SweepWork& work, int32_t u) {
  return work.successorsAhead[static_cast<size_t>(u) & 3];
}

// Decodes the successors of u, a UDC three steps ahead of the sweep.
void readSuccessorsAhead(SweepWork& work, int32_t u) {
  std::vector<uint32_t>& list = successorsOfSwept(work, u);
  if (u < 0)
    list.clear();
  else
    udcSuccessorsInto(u, list);
}

// Keeps no decision; a solve that keeps the policy records them in a StateDecision.
struct NoDecision {};

template <class Primary, class Secondary, class Decision = NoDecision>
struct StateEvaluator {
  static constexpr bool kTwo = !std::is_same_v<Secondary, NoObjective>;
  static constexpr bool kKeeps = std::is_same_v<Decision, StateDecision>;

  SweepWork& work;
  const ElementaryNetwork& net;
  const UdcStateWalk* state = nullptr;
  const UdcStateTable* own = nullptr;
  double continuation = 0;
  double secondaryContinuation = 0;
  // The completion whose outcomes are being added.
  double w1 = 0;
  double w2 = 0;
  bool takeBetterPhaseSide = false;
  // Sums of a drawn successor and maxima of a chosen one.
  double sumC = 0, sumV = 0, sumC2 = 0, sumV2 = 0;
  double maxC = 0, maxV = 0, maxC2 = 0, maxV2 = 0;
  bool firstChoice = true;
  // The decision being recorded, the member completing and the successors of a choice met.
  Decision decisionMade{};
  int32_t completing = -1;
  int32_t choiceIndex = 0, choiceOfC = -1, choiceOfV = -1;

  // best(c', v'): the continuation side only when strictly greater; the secondary follows.
  static ValuePair best(const UdcStateTable& table, uint32_t i) {
    const double c = table.continuationAt(i);
    const double v = table.decisionAt(i);
    if (c > v) return {c, kTwo ? static_cast<double>(table.secondaryContinuationAt(i)) : 0.0};
    return {v, kTwo ? static_cast<double>(table.secondaryDecisionAt(i)) : 0.0};
  }

  void add(double primaryWeight, double secondaryWeight, ValuePair value) {
    continuation += primaryWeight * value.primary;
    if constexpr (kTwo) secondaryContinuation += secondaryWeight * value.secondary;
  }

  // The target state of a class for the state at hand.
  uint32_t lookUp(int32_t classId, const UdcStateTable*& table) {
    ResolvedClass& where = work.resolved[static_cast<size_t>(classId)];
    const TargetClass& target = work.plan.classes[static_cast<size_t>(classId)];
    const StateKey key = targetKeyOf(work.plan, target, *state);
    table = where.table;
    const uint32_t count = where.own ? own->storedCount : table->count;
    return findState(*table, count, key, where.finger, where.udc);
  }

  // The sink of the transition rule.
  void newClass(int32_t id) {
    // Kept from UDC to UDC: an entry is set here before it is read.
    if (work.resolved.size() <= static_cast<size_t>(id)) work.resolved.resize(2 * static_cast<size_t>(id) + 16);
    ResolvedClass& where = work.resolved[static_cast<size_t>(id)];
    const TargetClass& target = work.plan.classes[static_cast<size_t>(id)];
    where = ResolvedClass{};
    if (target.inPlace) {
      where.table = own;
      where.udc = work.udc;
      where.own = true;
      return;
    }
    // Identification lists a UDC's successors in the order in which the classes of the UDC
    // first lead to them, and the classes arise here in the same order: a target met before
    // is the same successor, a new one the next in the list.
    const BitWord* members = targetMembersOf(work.plan, target);
    const int words = net.nBitWords;
    size_t j = 0;
    for (; j < work.successorClasses.size(); ++j) {
      const TargetClass& seen = work.plan.classes[static_cast<size_t>(work.successorClasses[j])];
      if (sameBits(targetMembersOf(work.plan, seen), members, words)) break;
    }
    const std::vector<uint32_t>& successors = successorsOfSwept(work, work.udc);
    if (j == work.successorClasses.size()) {
      // A guard against a fault of the program: the successor must be a cutset of that size.
      if (j >= successors.size()) stopMissingTarget(work.udc);
      work.successorClasses.push_back(id);
    }
    const int32_t t = static_cast<int32_t>(successors[j]);
    where.table = work.successorTables[j];
    where.udc = t;
    if (where.table->memberCount != target.memberCount) stopMissingTarget(work.udc);
  }

  void weighted(OutcomeKind, double factor, int32_t classId) {
    const UdcStateTable* table = nullptr;
    const uint32_t index = lookUp(classId, table);
    add(factor * w1, factor * w2, best(*table, index));
  }

  void beginDraw() { sumC = sumV = sumC2 = sumV2 = 0; }
  void drawn(double q, int32_t classId) {
    const UdcStateTable* table = nullptr;
    const uint32_t index = lookUp(classId, table);
    sumC += q * w1 * static_cast<double>(table->continuationAt(index));
    sumV += q * w1 * static_cast<double>(table->decisionAt(index));
    if constexpr (kTwo) {
      sumC2 += q * w2 * static_cast<double>(table->secondaryContinuationAt(index));
      sumV2 += q * w2 * static_cast<double>(table->secondaryDecisionAt(index));
    }
  }
  // With decisions at phase changes (irq) the better side of the next phase may be taken.
  void endDraw() {
    if (!takeBetterPhaseSide || sumC > sumV) {
      continuation += sumC;
      secondaryContinuation += sumC2;
    } else {
      continuation += sumV;
      secondaryContinuation += sumV2;
      if constexpr (kKeeps) decisionMade.decideAfterPhase |= positionBit(completing);
    }
  }

  // The first successor always sets both maxima, so the secondary is never left at its
  // bound when the primary's values equal the primary's bound.
  void beginChoice() {
    maxC = maxV = Primary::bound(work);
    maxC2 = maxV2 = Secondary::bound(work);
    firstChoice = true;
    choiceIndex = 0;
  }
  void chosen(int32_t classId) {
    const UdcStateTable* table = nullptr;
    const uint32_t index = lookUp(classId, table);
    const double c = table->continuationAt(index);
    const double v = table->decisionAt(index);
    // The primary maxima only ever rise.
    if (firstChoice || c > maxC) {
      maxC = std::max(maxC, c);
      if constexpr (kTwo) maxC2 = table->secondaryContinuationAt(index);
      choiceOfC = choiceIndex;
    }
    if (firstChoice || v > maxV) {
      maxV = std::max(maxV, v);
      if constexpr (kTwo) maxV2 = table->secondaryDecisionAt(index);
      choiceOfV = choiceIndex;
    }
    firstChoice = false;
    ++choiceIndex;
  }
  void endChoice() {
    const bool continuationSide = maxC > maxV;
    if (continuationSide)
      add(w1, w2, {maxC, maxC2});
    else
      add(w1, w2, {maxV, maxV2});
    if constexpr (kKeeps) {
      decisionMade.chosen = static_cast<int8_t>(continuationSide ? choiceOfC : choiceOfV);
      decisionMade.chosenThenDecide = !continuationSide;
    }
  }

  // Evaluates the state the walk stands on and appends it to the table of the UDC.
  void evaluate(const UdcStateWalk& walk, UdcStateTable& table) {
    state = &walk;
    continuation = 0.0;
    secondaryContinuation = 0.0;
    if constexpr (kKeeps) decisionMade = Decision{};
    double decision = Primary::bound(work);
    double secondaryDecision = Secondary::bound(work);
    bool startPossible = false;
    const int32_t instantaneous = walk.instantaneousPosition();

    if (instantaneous < 0) {
      forEachPositionDown(walk.idleMask(), [&](int32_t p) {
        if (!useFits(walk.resourceUse[static_cast<size_t>(p)], walk.remainingResources.data(), walk.resourceSlots))
          return;
        const uint32_t index = findState(table, table.storedCount, walk.key + kPowersOfThree[static_cast<size_t>(p)],
                                         work.startFinger[static_cast<size_t>(p)], work.udc);
        const double cost = net.elemCost[static_cast<size_t>(walk.activityAt(p))];
        double c = table.continuationAt(index);
        double v = table.decisionAt(index);
        if constexpr (Primary::kCountsCost) {
          c += cost;
          v += cost;
        }
        double c2 = 0, v2 = 0;
        if constexpr (kTwo) {
          c2 = table.secondaryContinuationAt(index);
          v2 = table.secondaryDecisionAt(index);
          if constexpr (Secondary::kCountsCost) {
            c2 += cost;
            v2 += cost;
          }
        }
        // The first feasible option always sets both values, for the reason given at a choice.
        if (!startPossible || c > decision) {
          decision = std::max(decision, c);
          secondaryDecision = c2;
          if constexpr (kKeeps) {
            decisionMade.start = static_cast<int8_t>(p);
            decisionMade.startThenDecide = false;
          }
        }
        if (v > decision) {
          decision = v;
          secondaryDecision = v2;
          if constexpr (kKeeps) {
            decisionMade.start = static_cast<int8_t>(p);
            decisionMade.startThenDecide = true;
          }
        }
        startPossible = true;
      });
      if (walk.activeMask != 0) {
        const double totalRate = walk.totalRate;
        takeBetterPhaseSide = work.irq;
        forEachPositionDown(walk.activeMask, [&](int32_t p) {
          const double rate = walk.rate[static_cast<size_t>(p)];
          w1 = Primary::weight(rate, totalRate, work.discountRate);
          w2 = Secondary::weight(rate, totalRate, work.discountRate);
          completing = p;
          forEachOutcome(work.plan, walk, p, *this);
        });
        if constexpr (Primary::kCountsTime) continuation -= 1.0 / totalRate;
        if constexpr (Secondary::kCountsTime) secondaryContinuation -= 1.0 / totalRate;
      }
    } else {
      w1 = 1.0;
      w2 = 1.0;
      takeBetterPhaseSide = true;
      completing = instantaneous;
      forEachOutcome(work.plan, walk, instantaneous, *this);
    }

    if (instantaneous < 0 && startPossible) {
      if (walk.activeMask == 0) {
        continuation = decision;
        secondaryContinuation = secondaryDecision;
      }
    } else {
      decision = continuation;
      secondaryDecision = secondaryContinuation;
    }
    if (Primary::floored(work)) {
      if constexpr (kKeeps) {
        decisionMade.abandonAtDecision = decision < 0.0;
        decisionMade.abandonAtContinuation = continuation < 0.0;
      }
      decision = std::max(decision, 0.0);
      continuation = std::max(continuation, 0.0);
    }
    if (Secondary::floored(work)) {
      if constexpr (kKeeps) {
        decisionMade.abandonAtDecision = secondaryDecision < 0.0;
        decisionMade.abandonAtContinuation = secondaryContinuation < 0.0;
      }
      secondaryDecision = std::max(secondaryDecision, 0.0);
      secondaryContinuation = std::max(secondaryContinuation, 0.0);
    }
    appendState(table, work.udc, walk.key, decision, continuation, secondaryDecision, secondaryContinuation);
  }
};

void fillTerminalTable(int32_t last, float primaryValue, float secondaryValue) {
  UdcStateTable& table = beginUdcTable(last);
  const uint32_t count = udcStateCount(last);
  for (uint32_t i = 0; i < count; ++i)
    appendState(table, last, count - 1 - i, primaryValue, primaryValue, secondaryValue, secondaryValue);
}

// The states walked between two looks at the signal flag inside one UDC: a UDC of millions
// of states takes seconds.
constexpr uint32_t kStatesBetweenInterruptChecks = 1u << 16;

// Evaluates every state of UDC u into its table (the work's successor lists and tables are
// set), recording the decisions when a policy is kept.
template <class Evaluator>
void evaluateUdc(Evaluator& evaluator, SweepWork& work, int32_t u, UdcStateTable& table,
                 std::vector<StateDecision>* decisions) {
  work.udc = u;
  udcMembersInto(u, work.members.data(), elementaryNetwork.nBitWords);
  beginUdc(work.walk, work.members.data());
  beginUdcTransitions(work.plan, work.walk);
  work.successorClasses.clear();
  std::fill(work.startFinger.begin(), work.startFinger.end(), 0u);
  evaluator.own = &table;
  uint32_t untilCheck = kStatesBetweenInterruptChecks;
  auto check = [&untilCheck]() {
    if (--untilCheck == 0) {
      untilCheck = kStatesBetweenInterruptChecks;
      checkInterrupt();
    }
  };
  if constexpr (Evaluator::kKeeps) {
    decisions->reserve(table.count);
    walkUdcStates(work.walk, false, [&](const UdcStateWalk& walk) {
      check();
      evaluator.evaluate(walk, table);
      decisions->push_back(evaluator.decisionMade);
    });
  } else {
    walkUdcStates(work.walk, false, [&](const UdcStateWalk& walk) {
      check();
      evaluator.evaluate(walk, table);
    });
  }
}

void resolveSuccessorTables(SweepWork& work, const std::vector<uint32_t>& successors) {
  work.successorTables.clear();
  for (uint32_t s : successors) work.successorTables.push_back(&udcTable(static_cast<int32_t>(s)));
}

// The one-thread sweep: last UDC to first, the successors of the next three decoded and their
// tables fetched ahead.
template <class Evaluator>
void sweepInOrder(KeptPolicy* policy) {
  const int32_t udcCount = udcNetwork.udcCount;
  buildSweepWork();
  Evaluator evaluator{sweepWork, elementaryNetwork};
  for (int32_t v = udcCount - 2; v >= udcCount - 4; --v) readSuccessorsAhead(sweepWork, v);
  for (int32_t u = udcCount - 2; u >= 0; --u) {
    checkInterrupt();
    readSuccessorsAhead(sweepWork, u - 3);
    UdcStateTable& table = beginUdcTable(u);
    prefetchSuccessorTables(successorsOfSwept(sweepWork, u - 1), successorsOfSwept(sweepWork, u - 2),
                            successorsOfSwept(sweepWork, u - 3));
    resolveSuccessorTables(sweepWork, successorsOfSwept(sweepWork, u));
    evaluateUdc(evaluator, sweepWork, u, table,
                Evaluator::kKeeps ? &policy->decisions[static_cast<size_t>(u)] : nullptr);
    const uint32_t states = table.count;
    endUdcTable(successorsOfSwept(sweepWork, u));
    noteUdcProgress(states);
  }
}

// The sweep on several threads. A UDC may be evaluated once every successor is done; each
// thread takes the highest such UDC among those not yet taken, looking at most lookahead - 1
// below the highest UDC not yet done (which bounds the tables held beyond a one-thread sweep,
// see sweepPeakStatesWithin). A state's value comes from the same values in the same order
// whichever thread evaluates its UDC and whenever. The storage is not shared safely between
// threads: its calls, the progress record and this schedule are taken under one lock; the
// evaluation itself reads only the tables looked up before it.
struct SweepSchedule {
  struct Candidate {
    int32_t udc;
    std::vector<uint32_t> successors;
  };
  std::mutex lock;
  std::condition_variable changed;
  std::vector<uint8_t> done;         // by UDC
  int32_t highestNotDone = -1;
  int32_t nextToLook = -1;           // the highest UDC not yet looked at
  std::vector<Candidate> waiting;    // looked at, not yet ready, highest first
  int32_t lookahead = 1;
  bool stopped = false;              // a thread failed: the others end after their UDC

  bool ready(const std::vector<uint32_t>& successors) const {
    for (uint32_t s : successors)
      if (!done[s]) return false;
    return true;
  }
  // The next UDC to evaluate and its successors, or false when none is ready now.
  bool take(int32_t& u, std::vector<uint32_t>& successors) {
    for (auto it = waiting.begin(); it != waiting.end(); ++it) {
      if (!ready(it->successors)) continue;
      u = it->udc;
      successors.swap(it->successors);
      waiting.erase(it);
      return true;
    }
    while (nextToLook >= 0 && nextToLook > highestNotDone - lookahead) {
      const int32_t v = nextToLook--;
      udcSuccessorsInto(v, successors);
      if (ready(successors)) {
        u = v;
        return true;
      }
      waiting.push_back({v, successors});
    }
    return false;
  }
  bool finished() const { return nextToLook < 0 && waiting.empty(); }
  void markDone(int32_t u) {
    done[static_cast<size_t>(u)] = 1;
    while (highestNotDone >= 0 && done[static_cast<size_t>(highestNotDone)]) --highestNotDone;
  }
};

template <class Evaluator>
void sweepOnThreads(KeptPolicy* policy, int32_t threads) {
  const int32_t udcCount = udcNetwork.udcCount;
  SweepSchedule schedule;
  schedule.done.assign(static_cast<size_t>(udcCount), 0);
  schedule.done[static_cast<size_t>(udcCount - 1)] = 1;
  schedule.highestNotDone = udcCount - 2;
  schedule.nextToLook = udcCount - 2;
  schedule.lookahead = sweepLookahead(threads);
  buildSweepWork();
  runOnThreads(threads, [&](int32_t k) {
    SweepWork own;
    SweepWork& work = k == 0 ? sweepWork : own;
    if (k != 0) prepareSweepWork(work);
    Evaluator evaluator{work, elementaryNetwork};
    std::vector<uint32_t> successors;
    try {
      for (;;) {
        int32_t u = -1;
        UdcStateTable* table = nullptr;
        {
          std::unique_lock<std::mutex> hold(schedule.lock);
          for (;;) {
            if (schedule.stopped || schedule.finished()) return;
            if (schedule.take(u, successors)) break;
            schedule.changed.wait(hold);
          }
          checkInterrupt();
          // Where the evaluation reads the successors of the UDC in hand.
          successorsOfSwept(work, u).swap(successors);
          table = &beginUdcTable(u);
          resolveSuccessorTables(work, successorsOfSwept(work, u));
        }
        evaluateUdc(evaluator, work, u, *table,
                    Evaluator::kKeeps ? &policy->decisions[static_cast<size_t>(u)] : nullptr);
        {
          const std::lock_guard<std::mutex> hold(schedule.lock);
          const uint32_t states = table->count;
          endUdcTable(successorsOfSwept(work, u));
          noteUdcProgress(states);
          schedule.markDone(u);
        }
        schedule.changed.notify_all();
      }
    } catch (...) {
      {
        const std::lock_guard<std::mutex> hold(schedule.lock);
        schedule.stopped = true;
      }
      schedule.changed.notify_all();
      throw;
    }
  });
}

template <class Primary, class Secondary, class Decision = NoDecision>
void sweepUdcs(SolveResult& result, KeptPolicy* policy = nullptr) {
  using Evaluator = StateEvaluator<Primary, Secondary, Decision>;
  constexpr bool kTwo = Evaluator::kTwo;
  if (udcNetwork.udcCount <= 0) return;
  openStateStorage(kTwo ? 2 : 1, useDiskStorage, Evaluator::kKeeps);
  const int32_t udcCount = udcNetwork.udcCount;
  // The last UDC in the final numbering holds the project's end alone.
  const int32_t last = udcCount - 1;
  ProgressPhaseScope progress(ProgressPhase::kSolve, udcCount, udcNetwork.udcTotalStates);
  fillTerminalTable(last, Primary::terminalValue(), Secondary::terminalValue());
  noteUdcProgress(udcStateCount(last));

  if constexpr (Evaluator::kKeeps) {
    policy->decisions.assign(static_cast<size_t>(udcCount), {});
    policy->decisions[static_cast<size_t>(last)].assign(udcStateCount(last), StateDecision{});
  }
  // Disk storage parks the table filled last when the next begins and reads the successors'
  // back: a sequence by its nature, so it runs on one thread; so does a sweep whose bound of
  // states held on several threads exceeds the memory limit.
  const int32_t threads =
      useDiskStorage || sweepOnOneThread ? 1 : std::min(threadSettings.count, udcCount - 1);
  if (threads <= 1)
    sweepInOrder<Evaluator>(policy);
  else
    sweepOnThreads<Evaluator>(policy, threads);

  const UdcStateTable& first = udcTable(0);
  const bool atDecision = first.decisionAt(0) > first.continuationAt(0);
  result.optimum = reportedValue(atDecision ? first.decisionAt(0) : first.continuationAt(0), Primary::kNegated);
  if constexpr (kTwo)
    result.secondary = reportedValue(atDecision ? first.secondaryDecisionAt(0) : first.secondaryContinuationAt(0),
                                     Secondary::kNegated);
  if constexpr (Evaluator::kKeeps) {
    policy->objectiveCount = kTwo ? 2 : 1;
    policy->tables.resize(static_cast<size_t>(udcCount));
    for (int32_t u = 0; u < udcCount; ++u) policy->tables[static_cast<size_t>(u)] = takeUdcTable(u);
  }
}

// Frees the tables and removes leftover state files also when a stop unwinds.
struct SolveScope {
  ~SolveScope() {
    releaseSweepWork();
    closeStateStorage();
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

bool solveNpvWithMakespanKeepingPolicy(SolveResult& result, KeptPolicy& policy) {
  SolveScope scope;
  releaseKeptPolicy(policy);
  sweepUdcs<NpvObjective, MakespanObjective, StateDecision>(result, &policy);
  return true;
}

bool solveMakespanWithNpvKeepingPolicy(SolveResult& result, KeptPolicy& policy) {
  SolveScope scope;
  releaseKeptPolicy(policy);
  sweepUdcs<MakespanObjective, NpvObjective, StateDecision>(result, &policy);
  return true;
}

void releaseKeptPolicy(KeptPolicy& policy) { policy = KeptPolicy{}; }

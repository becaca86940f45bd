// The backward stochastic dynamic program. The evaluation of a state is written once and
// parameterised by a primary objective and the lanes that ride along with it (the other
// objective's mean, the variances): a lane never decides anything, it takes its value
// wherever the primary picks. Which outcomes a completion has and where they lead is the
// transition rule's; here they are weighted and combined.
#include <algorithm>
#include <array>
#include <bit>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <string>
#include <type_traits>
#include <utility>
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
  prepareActiveSets(work.activeSets, work.walk);
  prepareTransitionPlan(work.plan, true);
  work.fingers.assign(kMaxUdcMembers, 0);
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

// The lanes of values a solve carries beside the optimised objective's: the other
// objective's mean, and the variance of what remains of the NPV or the makespan from a
// state. A variance lane is stored as that central moment, not as a raw second moment: the
// rounding of a mean to single precision then shifts the distribution it describes, which
// leaves its variance alone, where a stored E[X^2] would lose the variance to the mean's
// square. Each variance lane reads the mean lane of its objective at the same place.
enum class LaneKind : uint8_t { kNpvMean, kMakespanMean, kNpvSpread, kMakespanSpread };

constexpr bool isSpread(LaneKind kind) { return kind == LaneKind::kNpvSpread || kind == LaneKind::kMakespanSpread; }
constexpr bool isNpvLane(LaneKind kind) { return kind == LaneKind::kNpvMean || kind == LaneKind::kNpvSpread; }

template <LaneKind Kind>
using MeanPolicy = std::conditional_t<isNpvLane(Kind), NpvObjective, MakespanObjective>;

template <LaneKind... Kinds>
struct RideAlong {
  static constexpr int kCount = sizeof...(Kinds);
  static constexpr std::array<LaneKind, sizeof...(Kinds)> kKinds{Kinds...};
};

// Calls f(std::integral_constant<size_t, j>) for j = 0 .. K - 1, each a constant.
template <class F, size_t... J>
__attribute__((always_inline)) inline void eachLaneOf(F&& f, std::index_sequence<J...>) {
  (f(std::integral_constant<size_t, J>{}), ...);
}
template <size_t K, class F>
__attribute__((always_inline)) inline void eachLane(F&& f) {
  eachLaneOf(f, std::make_index_sequence<K>{});
}

[[noreturn]] void stopWrongRowShape() {
  stopFatal("Internal error: a state table has rows of another width than the solver reads.");
}

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

// Column sides of a lane: its decision value, then its continuation value.
constexpr int kDecisionSide = 0;
constexpr int kContinuationSide = 1;

// Merged: the tables hold one value a state (see UdcStateTable), so both sides of a state
// read the same place, which the evaluation then reads once.
// Narrow: besides, every table of the sweep has narrow keys (no UDC of the network has more
// members than they hold), so every row is 8 bytes and is read without its table's shape.
template <class Primary, class Ride, class Decision = NoDecision, bool Merged = false, bool Narrow = false>
struct StateEvaluator {
  static constexpr size_t K = Ride::kCount;
  static constexpr bool kKeeps = std::is_same_v<Decision, StateDecision>;
  static_assert(!Merged || (K == 0 && !kKeeps), "merged rows hold the optimised objective alone");
  static_assert(!Narrow || Merged, "narrow rows are merged rows");
  // A narrow sweep's target keys are all found from carried runs.
  static_assert(kNarrowKeyMembers <= kRunKeyMembers);

  __attribute__((always_inline)) static uint32_t find(const UdcStateTable& table, uint32_t count, StateKey key,
                                                      uint32_t& finger, int32_t udc) {
    if constexpr (Narrow) return findNarrowMergedState(table, count, key, finger, udc);
    return findState(table, count, key, finger, udc);
  }
  static double continuationOf(const UdcStateTable& table, uint32_t i) {
    if constexpr (Narrow) return narrowMergedValueAt(table, i);
    if constexpr (Merged) return table.mergedValueAt(i);
    return table.continuationAt(i);
  }
  static double decisionOf(const UdcStateTable& table, uint32_t i) {
    if constexpr (Narrow) return narrowMergedValueAt(table, i);
    if constexpr (Merged) return table.mergedValueAt(i);
    return table.decisionAt(i);
  }
  static constexpr bool kPrimaryNpv = !Primary::kNegated;
  using Lanes = std::array<double, K>;

  // The lane pair (0 the optimised objective, j + 1 ride lane j) holding the mean of the
  // objective of ride lane j.
  static constexpr size_t meanPairOf(size_t j) {
    const bool npv = isNpvLane(Ride::kKinds[j]);
    if (npv == kPrimaryNpv) return 0;
    for (size_t m = 0; m < K; ++m)
      if (Ride::kKinds[m] == (npv ? LaneKind::kNpvMean : LaneKind::kMakespanMean)) return m + 1;
    return 0;
  }

  // A value lane of ride lane j read at a target state for adding up over outcomes: a mean
  // as stored, a variance raised to the second moment about the state it belongs to.
  template <size_t j>
  static double outcomeValue(const UdcStateTable& table, uint32_t i, int side) {
    const double value = table.valueAt(i, static_cast<int>(2 + 2 * j) + side);
    if constexpr (isSpread(Ride::kKinds[j])) {
      const double mean = table.valueAt(i, static_cast<int>(2 * meanPairOf(j)) + side);
      return value + mean * mean;
    }
    return value;
  }

  SweepWork& work;
  const ElementaryNetwork& net;
  const UdcStateWalk* state = nullptr;
  const UdcStateTable* own = nullptr;
  StateKey stateHigh = 0;  // the state's key above its kMemoLowDigits lowest digits
  double continuation = 0;
  Lanes rideContinuation{};
  // The completion whose outcomes are being added: the primary weight and each lane's.
  double w1 = 0;
  Lanes rideWeight{};
  bool takeBetterPhaseSide = false;
  // Sums of a drawn successor and maxima of a chosen one.
  double sumC = 0, sumV = 0;
  double maxC = 0, maxV = 0;
  Lanes rideSumC{}, rideSumV{}, rideMaxC{}, rideMaxV{};
  bool firstChoice = true;
  // Where the values of the state go: appended to the table, or, where the table's keys are
  // written first and its states evaluated in blocks, into row nextRow.
  bool intoRows = false;
  uint32_t nextRow = 0;
  // The decision being recorded, the member completing and the successors of a choice met.
  Decision decisionMade{};
  int32_t completing = -1;
  int32_t choiceIndex = 0, choiceOfC = -1, choiceOfV = -1;

  // A value of every lane taken from the same place.
  struct LaneValues {
    double primary;
    Lanes ride;
  };

  // best(c', v'): the continuation side only when strictly greater; the lanes follow.
  static LaneValues best(const UdcStateTable& table, uint32_t i) {
    const double c = continuationOf(table, i);
    const double v = decisionOf(table, i);
    LaneValues out{c, {}};
    if (c > v) {
      eachLane<K>([&](auto j) { out.ride[j] = outcomeValue<j>(table, i, kContinuationSide); });
      return out;
    }
    out.primary = v;
    eachLane<K>([&](auto j) { out.ride[j] = outcomeValue<j>(table, i, kDecisionSide); });
    return out;
  }

  void add(double factor, const LaneValues& value) {
    continuation += factor * w1 * value.primary;
    eachLane<K>([&](auto j) { rideContinuation[j] += factor * rideWeight[j] * value.ride[j]; });
  }

  // The target state of a class for the state at hand.
  __attribute__((always_inline)) uint32_t lookUp(int32_t classId, const UdcStateTable*& table) {
    ResolvedClass& where = work.resolved[static_cast<size_t>(classId)];
    StateKey key = state->key + where.keyConstant;
    if (!where.fromOwnKey) {
      TargetKeyMemo& memo = work.keyMemos[static_cast<size_t>(classId)];
      StateKey low = 0;
      for (size_t q = 0; q < static_cast<size_t>(kMemoLowDigits); ++q) low += state->status[q] * memo.lowWeight[q];
      if (memo.high != stateHigh) {
        memo.rest = targetKeyFrom<Narrow>(work.plan, where, classId, *state) - low;
        memo.high = stateHigh;
      }
      key = memo.rest + low;
    }
    table = where.table;
    return find(*table, *where.count, key, work.fingers[where.fingerSlot], where.udc);
  }

  // The sink of the transition rule.
  void newClass(int32_t id) {
    // Kept from UDC to UDC: an entry is set here before it is read.
    if (work.resolved.size() <= static_cast<size_t>(id)) {
      work.resolved.resize(2 * static_cast<size_t>(id) + 16);
      work.keyMemos.resize(work.resolved.size());
      work.fingers.resize(kMaxUdcMembers + work.resolved.size());
    }
    ResolvedClass& where = work.resolved[static_cast<size_t>(id)];
    const TargetClass& target = work.plan.classes[static_cast<size_t>(id)];
    where = ResolvedClass{};
    where.fingerSlot = kMaxUdcMembers + static_cast<uint32_t>(id);
    work.fingers[where.fingerSlot] = 0;
    if (!target.fromOwnKey) {
      TargetKeyMemo& memo = work.keyMemos[static_cast<size_t>(id)];
      memo = TargetKeyMemo{};
      // The carried digits ascend by position.
      const CarriedDigit* digit = work.plan.carried.data() + target.carriedBegin;
      for (const CarriedDigit* end = digit + target.carriedCount; digit != end && digit->position < kMemoLowDigits;
           ++digit)
        memo.lowWeight[static_cast<size_t>(digit->position)] = digit->weight;
    }
    // The key rule beside the table, so that a lookup reads one record of the class.
    where.fromOwnKey = target.fromOwnKey;
    where.keyConstant = target.keyConstant;
    where.runBegin = target.runBegin;
    where.runCount = static_cast<uint16_t>(target.runCount);
    if (target.inPlace) {
      const int q = target.fromOwnKey ? positionOfWeight(target.keyConstant) : -1;
      if (q >= 0 && q < work.walk.memberCount) where.fingerSlot = static_cast<uint32_t>(q);
      where.table = own;
      where.count = &own->storedCount;
      where.udc = work.udc;
      return;
    }
    // Identification lists a UDC's successors in the order in which the classes of the UDC
    // first lead to them, and the classes arise here in the same order: a target met before
    // is the same successor, a new one the next in the list.
    const BitWord* members = targetMembersOf(work.plan, target);
    const int words = net.nBitWords;
    const std::vector<uint32_t>& successors = successorsOfSwept(work, work.udc);
    if (work.successorsByMembers) {
      size_t j = 0;
      while (j < successors.size() &&
             !sameBits(work.successorMembers.data() + j * static_cast<size_t>(words), members, words))
        ++j;
      if (j == successors.size()) stopMissingTarget(work.udc);
      where.table = work.successorTables[j];
      where.count = &where.table->count;
      where.udc = static_cast<int32_t>(successors[j]);
      if (where.table->memberCount != target.memberCount) stopMissingTarget(work.udc);
      checkRowShape(*where.table);
      return;
    }
    size_t j = 0;
    for (; j < work.successorClasses.size(); ++j) {
      const TargetClass& seen = work.plan.classes[static_cast<size_t>(work.successorClasses[j])];
      if (sameBits(targetMembersOf(work.plan, seen), members, words)) break;
    }
    if (j == work.successorClasses.size()) {
      // A guard against a fault of the program: the successor must be a cutset of that size.
      if (j >= successors.size()) stopMissingTarget(work.udc);
      work.successorClasses.push_back(id);
    }
    const int32_t t = static_cast<int32_t>(successors[j]);
    where.table = work.successorTables[j];
    where.count = &where.table->count;
    where.udc = t;
    if (where.table->memberCount != target.memberCount) stopMissingTarget(work.udc);
    checkRowShape(*where.table);
  }

  // A guard against a fault of the program: a narrow sweep reads only rows of that width.
  static void checkRowShape(const UdcStateTable& table) {
    if constexpr (Narrow)
      if (table.rowBytes != kNarrowMergedRowBytes || table.wideKeys) stopWrongRowShape();
  }

  __attribute__((always_inline)) void weighted(OutcomeKind, double factor, int32_t classId) {
    const UdcStateTable* table = nullptr;
    const uint32_t index = lookUp(classId, table);
    add(factor, best(*table, index));
  }

  void beginDraw() {
    sumC = sumV = 0;
    rideSumC.fill(0.0);
    rideSumV.fill(0.0);
  }
  void drawn(double q, int32_t classId) {
    const UdcStateTable* table = nullptr;
    const uint32_t index = lookUp(classId, table);
    sumC += q * w1 * continuationOf(*table, index);
    sumV += q * w1 * decisionOf(*table, index);
    eachLane<K>([&](auto j) {
      rideSumC[j] += q * rideWeight[j] * outcomeValue<j>(*table, index, kContinuationSide);
      rideSumV[j] += q * rideWeight[j] * outcomeValue<j>(*table, index, kDecisionSide);
    });
  }
  // With decisions at phase changes (irq) the better side of the next phase may be taken.
  void endDraw() {
    const bool continuationSide = !takeBetterPhaseSide || sumC > sumV;
    continuation += continuationSide ? sumC : sumV;
    eachLane<K>([&](auto j) { rideContinuation[j] += continuationSide ? rideSumC[j] : rideSumV[j]; });
    if constexpr (kKeeps)
      if (!continuationSide) decisionMade.decideAfterPhase |= positionBit(completing);
  }

  // The first successor always sets both maxima, so a lane is never left at its start value
  // when the primary's values equal the primary's bound.
  void beginChoice() {
    maxC = maxV = Primary::bound(work);
    eachLane<K>([&](auto j) {
      if constexpr (isSpread(Ride::kKinds[j]))
        rideMaxC[j] = rideMaxV[j] = 0.0;
      else
        rideMaxC[j] = rideMaxV[j] = MeanPolicy<Ride::kKinds[j]>::bound(work);
    });
    firstChoice = true;
    choiceIndex = 0;
  }
  void chosen(int32_t classId) {
    const UdcStateTable* table = nullptr;
    const uint32_t index = lookUp(classId, table);
    const double c = continuationOf(*table, index);
    const double v = decisionOf(*table, index);
    // The primary maxima only ever rise.
    if (firstChoice || c > maxC) {
      maxC = std::max(maxC, c);
      eachLane<K>([&](auto j) { rideMaxC[j] = outcomeValue<j>(*table, index, kContinuationSide); });
      choiceOfC = choiceIndex;
    }
    if (firstChoice || v > maxV) {
      maxV = std::max(maxV, v);
      eachLane<K>([&](auto j) { rideMaxV[j] = outcomeValue<j>(*table, index, kDecisionSide); });
      choiceOfV = choiceIndex;
    }
    firstChoice = false;
    ++choiceIndex;
  }
  void endChoice() {
    const bool continuationSide = maxC > maxV;
    if (continuationSide)
      add(1.0, {maxC, rideMaxC});
    else
      add(1.0, {maxV, rideMaxV});
    if constexpr (kKeeps) {
      decisionMade.chosen = static_cast<int8_t>(continuationSide ? choiceOfC : choiceOfV);
      decisionMade.chosenThenDecide = !continuationSide;
    }
  }

  // The mean lane of an objective in the state at hand: the primary or a ride lane.
  template <size_t j>
  double meanOf(const Lanes& lanes, double primary) const {
    constexpr size_t pair = meanPairOf(j);
    if constexpr (pair == 0)
      return primary;
    else
      return lanes[pair - 1];
  }

  // The variance lanes of the continuation hold second moments of the outcomes (weighted by
  // the square's discount for the NPV) until the completions are all added; here they become
  // the variances of what remains from the state. With a sojourn of rate totalRate (0 for an
  // instantaneous member) before the outcome, a remaining makespan T = S + T' has
  // E[T^2] = E[T'^2] + 2 E[T] / totalRate, S and T' being independent.
  void finishSpreads(double totalRate) {
    eachLane<K>([&](auto j) {
      constexpr LaneKind kind = Ride::kKinds[j];
      if constexpr (isSpread(kind)) {
        const double signedMean = meanOf<j>(rideContinuation, continuation);
        double secondMoment = rideContinuation[j];
        if constexpr (kind == LaneKind::kMakespanSpread)
          if (totalRate > 0.0) secondMoment += 2.0 * -signedMean / totalRate;
        // Rounding can take a variance that is 0 a hair below it.
        rideContinuation[j] = std::max(secondMoment - signedMean * signedMean, 0.0);
      }
    });
  }

  // Abandonment ends every cash flow: the NPV spread of a floored side goes with its mean.
  void zeroNpvSpreads(Lanes& lanes) {
    eachLane<K>([&](auto j) {
      if constexpr (Ride::kKinds[j] == LaneKind::kNpvSpread) lanes[j] = 0.0;
    });
  }

  // Evaluates the state the walk stands on and appends it to the table of the UDC.
  void evaluate(const UdcStateWalk& walk, UdcStateTable& table) {
    state = &walk;
    stateHigh = walk.key / kMemoLowSpan;
    continuation = 0.0;
    rideContinuation.fill(0.0);
    if constexpr (kKeeps) decisionMade = Decision{};
    double decision = Primary::bound(work);
    Lanes rideDecision{};
    eachLane<K>([&](auto j) {
      if constexpr (!isSpread(Ride::kKinds[j])) rideDecision[j] = MeanPolicy<Ride::kKinds[j]>::bound(work);
    });
    bool startPossible = false;
    const int32_t instantaneous = walk.instantaneousPosition();

    if (instantaneous < 0) {
      // Where the UDC keeps the facts of its active sets, they give the idle members that fit
      // and the completions' weights; elsewhere each is computed here.
      const ActiveSetFacts* facts = nullptr;
      uint64_t startable = walk.idleMask();
      if (work.activeSets.usable) {
        facts = &activeSetFactsOf(work.activeSets, walk, [&](double rate, double totalRate) {
          return Primary::weight(rate, totalRate, work.discountRate);
        });
        startable &= facts->fitting;
      }
      auto start = [&](int32_t p) {
        if (!facts &&
            !useFits(walk.resourceUse[static_cast<size_t>(p)], walk.remainingResources.data(), walk.resourceSlots))
          return;
        const uint32_t index = find(table, table.storedCount, walk.key + kPowersOfThree[static_cast<size_t>(p)],
                                    work.fingers[static_cast<size_t>(p)], work.udc);
        const double cost = net.elemCost[static_cast<size_t>(walk.activityAt(p))];
        double c = continuationOf(table, index);
        double v = decisionOf(table, index);
        if constexpr (Primary::kCountsCost) {
          c += cost;
          v += cost;
        }
        // A start takes no time: a variance is that of the state it leads to.
        Lanes c2{}, v2{};
        eachLane<K>([&](auto j) {
          c2[j] = table.valueAt(index, static_cast<int>(2 + 2 * j) + kContinuationSide);
          v2[j] = table.valueAt(index, static_cast<int>(2 + 2 * j) + kDecisionSide);
          if constexpr (Ride::kKinds[j] == LaneKind::kNpvMean) {
            c2[j] += cost;
            v2[j] += cost;
          }
        });
        // The first feasible option always sets both values, for the reason given at a choice.
        if (!startPossible || c > decision) {
          decision = std::max(decision, c);
          rideDecision = c2;
          if constexpr (kKeeps) {
            decisionMade.start = static_cast<int8_t>(p);
            decisionMade.startThenDecide = false;
          }
        }
        // In merged rows v is c, which the test above has taken where it is greater.
        if (!Merged && v > decision) {
          decision = v;
          rideDecision = v2;
          if constexpr (kKeeps) {
            decisionMade.start = static_cast<int8_t>(p);
            decisionMade.startThenDecide = true;
          }
        }
        startPossible = true;
      };
      // The best of the starts does not depend on the order they are met in, so merged rows
      // take them lowest first, which costs fewer instructions a position. A kept policy names
      // the first of equal starts, and two-sided rows weigh each start's second side against
      // the best before it: there the order stays.
      if constexpr (Merged && !kKeeps)
        forEachPositionUp(startable, start);
      else
        forEachPositionDown(startable, start);
      if (walk.activeMask != 0) {
        const double totalRate = walk.totalRate;
        // Merged rows exist only where no phase is drawn: nothing reads it there.
        if constexpr (!Merged) takeBetterPhaseSide = work.irq;
        auto complete = [&](int32_t p, double weight) {
          const double rate = walk.rate[static_cast<size_t>(p)];
          w1 = weight;
          eachLane<K>([&](auto j) {
            constexpr LaneKind kind = Ride::kKinds[j];
            if constexpr (kind == LaneKind::kNpvSpread)
              // The square of a discount over a sojourn of rate totalRate: E[e^(-2rS)].
              rideWeight[j] = (totalRate / (2.0 * work.discountRate + totalRate)) * (rate / totalRate);
            else
              rideWeight[j] = MeanPolicy<kind>::weight(rate, totalRate, work.discountRate);
          });
          if constexpr (kKeeps) completing = p;
          forEachOutcome(work.plan, walk, p, *this);
        };
        // One loop over the list, so that the completions are compiled once: a UDC without
        // the entries lists its active positions here and works out each weight.
        const int8_t* positions = nullptr;
        int32_t activeCount = 0;
        std::array<int8_t, kMaxUdcMembers> ownPositions;
        if (facts) {
          positions = facts->positionDown.data();
          activeCount = facts->activeCount;
        } else {
          forEachPositionDown(walk.activeMask, [&](int32_t p) {
            ownPositions[static_cast<size_t>(activeCount++)] = static_cast<int8_t>(p);
          });
          positions = ownPositions.data();
        }
        for (int32_t k = 0; k < activeCount; ++k) {
          const int32_t p = positions[k];
          complete(p, facts ? facts->weightDown[static_cast<size_t>(k)]
                            : Primary::weight(walk.rate[static_cast<size_t>(p)], totalRate, work.discountRate));
        }
        const double sojourn = facts ? facts->sojourn : 1.0 / totalRate;
        if constexpr (Primary::kCountsTime) continuation -= sojourn;
        eachLane<K>([&](auto j) {
          if constexpr (Ride::kKinds[j] == LaneKind::kMakespanMean) rideContinuation[j] -= sojourn;
        });
        finishSpreads(totalRate);
      }
    } else {
      w1 = 1.0;
      rideWeight.fill(1.0);
      takeBetterPhaseSide = true;
      completing = instantaneous;
      forEachOutcome(work.plan, walk, instantaneous, *this);
      finishSpreads(0.0);
    }

    if (instantaneous < 0 && startPossible) {
      if (walk.activeMask == 0) {
        continuation = decision;
        rideContinuation = rideDecision;
      }
    } else {
      decision = continuation;
      rideDecision = rideContinuation;
    }
    if (Primary::floored(work)) {
      const bool abandonAtDecision = decision < 0.0;
      const bool abandonAtContinuation = continuation < 0.0;
      if constexpr (kKeeps) {
        decisionMade.abandonAtDecision = abandonAtDecision;
        decisionMade.abandonAtContinuation = abandonAtContinuation;
      }
      decision = std::max(decision, 0.0);
      continuation = std::max(continuation, 0.0);
      if (abandonAtDecision) zeroNpvSpreads(rideDecision);
      if (abandonAtContinuation) zeroNpvSpreads(rideContinuation);
    }
    // An NPV riding along under a makespan policy is floored by its own values, as a
    // two-objective solve always did.
    eachLane<K>([&](auto j) {
      if constexpr (Ride::kKinds[j] == LaneKind::kNpvMean) {
        if (NpvObjective::floored(work)) {
          const bool abandonAtDecision = rideDecision[j] < 0.0;
          const bool abandonAtContinuation = rideContinuation[j] < 0.0;
          if constexpr (kKeeps) {
            decisionMade.abandonAtDecision = abandonAtDecision;
            decisionMade.abandonAtContinuation = abandonAtContinuation;
          }
          rideDecision[j] = std::max(rideDecision[j], 0.0);
          rideContinuation[j] = std::max(rideContinuation[j], 0.0);
          if (abandonAtDecision) zeroNpvSpreads(rideDecision);
          if (abandonAtContinuation) zeroNpvSpreads(rideContinuation);
        }
      }
    });
    double values[2 + 2 * K];
    values[0] = decision;
    values[1] = continuation;
    eachLane<K>([&](auto j) {
      values[2 + 2 * j] = rideDecision[j];
      values[3 + 2 * j] = rideContinuation[j];
    });
    if (intoRows)
      storeStateValuesAt(table, nextRow++, values);
    else if constexpr (Narrow)
      appendNarrowMergedState(table, work.udc, walk.key, values[0], values[1]);
    else
      appendStateValues(table, work.udc, walk.key, values);
  }
};

// Every state of the last UDC: the project's end, where the objectives take their terminal
// values and nothing remains to vary.
template <class Primary, class Ride>
void fillTerminalTable(int32_t last) {
  constexpr size_t K = Ride::kCount;
  double values[2 + 2 * K];
  values[0] = values[1] = Primary::terminalValue();
  eachLane<K>([&](auto j) {
    constexpr LaneKind kind = Ride::kKinds[j];
    double value = 0.0;
    if constexpr (!isSpread(kind)) value = MeanPolicy<kind>::terminalValue();
    values[2 + 2 * j] = values[3 + 2 * j] = value;
  });
  UdcStateTable& table = beginUdcTable(last);
  const uint32_t count = udcStateCount(last);
  for (uint32_t i = 0; i < count; ++i) appendStateValues(table, last, count - 1 - i, values);
  // Finished here, on the thread that filled it: on several threads the next table may be
  // begun by another, and a table begun is finished only by the thread that began it.
  endUdcTable({});
}

// The lane pair of a table holding a measure: 0 the optimised objective, j + 1 ride lane j.
template <class Primary, class Ride>
int lanePairOfMeasure(Measure measure) {
  LaneKind kind = LaneKind::kNpvMean;
  switch (measure) {
    case Measure::kNpv: kind = LaneKind::kNpvMean; break;
    case Measure::kMakespan: kind = LaneKind::kMakespanMean; break;
    case Measure::kNpvVariance: kind = LaneKind::kNpvSpread; break;
    case Measure::kMakespanVariance: kind = LaneKind::kMakespanSpread; break;
  }
  if (kind == (Primary::kNegated ? LaneKind::kMakespanMean : LaneKind::kNpvMean)) return 0;
  for (int j = 0; j < Ride::kCount; ++j)
    if (Ride::kKinds[static_cast<size_t>(j)] == kind) return j + 1;
  stopFatal("Internal error: a measure was asked of a solve that does not carry it.");
}

// The states walked between two looks at the signal flag inside one UDC: a UDC of millions
// of states takes seconds.
constexpr uint32_t kStatesBetweenInterruptChecks = 1u << 16;

// Takes up UDC u for evaluation into table: its members, the walk and the transition
// classes, the fingers.
template <class Evaluator>
void takeUpUdc(Evaluator& evaluator, SweepWork& work, int32_t u, UdcStateTable& table) {
  work.udc = u;
  udcMembersInto(u, work.members.data(), elementaryNetwork.nBitWords);
  beginUdc(work.walk, work.members.data());
  beginUdcTransitions(work.plan, work.walk);
  beginActiveSets(work.activeSets, table.count);
  work.successorClasses.clear();
  work.successorsByMembers = false;
  std::fill(work.fingers.begin(), work.fingers.begin() + kMaxUdcMembers, 0u);
  evaluator.own = &table;
  evaluator.checkRowShape(table);
  evaluator.intoRows = false;
}

// Counts the states walked and looks at the signal flag every kStatesBetweenInterruptChecks.
struct InterruptCheck {
  uint32_t untilCheck = kStatesBetweenInterruptChecks;
  void operator()() {
    if (--untilCheck == 0) {
      untilCheck = kStatesBetweenInterruptChecks;
      checkInterrupt();
    }
  }
};

// Evaluates every state of UDC u into its table (the work's successor lists and tables are
// set), recording the decisions when a policy is kept.
template <class Evaluator>
void evaluateUdc(Evaluator& evaluator, SweepWork& work, int32_t u, UdcStateTable& table,
                 std::vector<StateDecision>* decisions) {
  takeUpUdc(evaluator, work, u, table);
  InterruptCheck check;
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

// A UDC of many states on several threads. Its states fall into blocks: runs of consecutive
// states in the walk that share the statuses of the top positions (stopAt and up). A state
// leads within its UDC only to states whose every status is at least its own (a start, a
// completion in place), so such a target lies before it in its own block or in a block whose
// top statuses add up to more. The blocks of one sum are evaluated side by side, the sums
// from the highest down. A pass of the walk first writes every key into the table and marks
// where each block begins, the walk's state there bit for bit, so that a thread walks a block
// from its mark with the floating-point operations of the one walk, and each state's value
// comes from the same values in the same order as on one thread.
uint32_t splitUdcStates = 1u << 22;
uint32_t splitBlockStates = 1u << 12;

struct UdcSplit {
  int32_t udc = -1;
  UdcStateTable* table = nullptr;
  std::vector<StateDecision>* decisions = nullptr;  // of a kept policy, sized to the states
  int stopAt = 0;
  int32_t slots = 0;                 // remaining amounts kept per mark
  std::vector<WalkPosition> marks;   // where each block begins, in walk order
  std::vector<double> markAmounts;   // slots per mark
  std::vector<uint32_t> firstRow;    // of each block, then the state count
  std::vector<uint32_t> order;       // the blocks by their sum, highest first, in walk order within
  std::vector<size_t> levelEnd;      // where each sum's blocks end in order
  std::mutex lock;
  std::condition_variable changed;
  size_t level = 0;      // the sum being evaluated, an index of levelEnd
  size_t nextBlock = 0;  // the next block of order to take
  size_t running = 0;    // blocks taken and not yet done
  int32_t helpers = 0;   // threads other than the owner working on it
  bool failed = false;
  std::exception_ptr failure;

  bool open() const { return !failed && nextBlock < order.size(); }
};

// Writes every key of the UDC taken up into its table and marks its blocks; false where it
// has too few positions for blocks of the size asked for (it is then evaluated whole).
bool markUdcBlocks(UdcSplit& split, SweepWork& work) {
  UdcStateWalk& walk = work.walk;
  UdcStateTable& table = *split.table;
  const int count = walk.memberCount;
  const uint64_t wanted = std::max<uint64_t>(1, table.count / std::max<uint32_t>(splitBlockStates, 1));
  int top = 0;
  for (uint64_t blocks = 3; top < count - 1 && blocks <= wanted; blocks *= 3) ++top;
  if (top == 0 || !startUdcWalk(walk)) return false;
  split.stopAt = count - top;
  split.slots = walk.resourceSlots;
  InterruptCheck check;
  bool overdrawPossible = true;
  uint32_t row = 0;
  for (;;) {
    split.marks.emplace_back();
    split.markAmounts.resize(split.markAmounts.size() + static_cast<size_t>(split.slots));
    saveWalkPosition(walk, split.marks.back(), split.markAmounts.data() + split.markAmounts.size() - split.slots);
    split.firstRow.push_back(row);
    const int p = walkUdcStatesOn(walk, false, overdrawPossible, split.stopAt, [&](const UdcStateWalk& at) {
      check();
      if (row >= table.count) stopTableOverflow(split.udc);
      table.setKey(row++, at.key);
    });
    if (p == kWalkEnded) break;
    overdrawPossible = lowerWalkPosition(walk, p) || overdrawPossible;
  }
  if (row != table.count) stopTableOverflow(split.udc);
  split.firstRow.push_back(row);
  table.storedCount = table.count;

  const size_t blocks = split.marks.size();
  std::vector<int> sums(blocks, 0);
  int highest = 0;
  for (size_t b = 0; b < blocks; ++b) {
    for (int p = split.stopAt; p < count; ++p) sums[b] += split.marks[b].status[static_cast<size_t>(p)];
    highest = std::max(highest, sums[b]);
  }
  for (int sum = highest; sum >= 0; --sum) {
    for (size_t b = 0; b < blocks; ++b)
      if (sums[b] == sum) split.order.push_back(static_cast<uint32_t>(b));
    if (split.levelEnd.empty() || split.levelEnd.back() != split.order.size()) split.levelEnd.push_back(split.order.size());
  }
  return true;
}

// Sets a thread's work to evaluate states of the split UDC out of the walk's order.
template <class Evaluator>
void takeUpSplitUdc(Evaluator& evaluator, SweepWork& work, const UdcSplit& split) {
  std::vector<uint32_t>& successors = successorsOfSwept(work, split.udc);
  udcSuccessorsInto(split.udc, successors);
  resolveSuccessorTables(work, successors);
  takeUpUdc(evaluator, work, split.udc, *split.table);
  const int words = elementaryNetwork.nBitWords;
  work.successorMembers.assign(successors.size() * static_cast<size_t>(words), 0);
  for (size_t j = 0; j < successors.size(); ++j)
    udcMembersInto(static_cast<int32_t>(successors[j]), work.successorMembers.data() + j * static_cast<size_t>(words),
                   words);
  work.successorsByMembers = true;
  evaluator.intoRows = true;
}

template <class Evaluator>
void evaluateBlock(Evaluator& evaluator, SweepWork& work, UdcSplit& split, uint32_t b, InterruptCheck& check) {
  restoreWalkPosition(work.walk, split.marks[b], split.markAmounts.data() + static_cast<size_t>(b) * split.slots);
  evaluator.nextRow = split.firstRow[b];
  bool overdrawPossible = false;
  walkUdcStatesOn(work.walk, false, overdrawPossible, split.stopAt, [&](const UdcStateWalk& walk) {
    check();
    const uint32_t row = evaluator.nextRow;
    evaluator.evaluate(walk, *split.table);
    if constexpr (Evaluator::kKeeps) (*split.decisions)[row] = evaluator.decisionMade;
  });
  if (evaluator.nextRow != split.firstRow[b + 1]) stopTableOverflow(split.udc);
}

// Takes blocks of the split until none is left; the work is taken up for it.
template <class Evaluator>
void workOnSplit(Evaluator& evaluator, SweepWork& work, UdcSplit& split) {
  InterruptCheck check;
  for (;;) {
    uint32_t b = 0;
    {
      std::unique_lock<std::mutex> hold(split.lock);
      for (;;) {
        if (split.failed || split.level == split.levelEnd.size()) return;
        if (split.nextBlock < split.levelEnd[split.level]) {
          b = split.order[split.nextBlock++];
          ++split.running;
          break;
        }
        split.changed.wait(hold);
      }
    }
    try {
      evaluateBlock(evaluator, work, split, b, check);
    } catch (...) {
      const std::lock_guard<std::mutex> hold(split.lock);
      split.failed = true;
      if (!split.failure) split.failure = std::current_exception();
      split.changed.notify_all();
      return;
    }
    const std::lock_guard<std::mutex> hold(split.lock);
    --split.running;
    if (split.running == 0 && split.nextBlock == split.levelEnd[split.level]) {
      ++split.level;
      split.changed.notify_all();
    }
  }
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
// thread takes the highest such UDCs, looking no further down than the window of UDCs below the
// highest UDC not yet done (which bounds the tables held beyond a one-thread sweep, see
// sweepPeakStatesWithin). A state's value comes from the same values in the same order
// whichever thread evaluates its UDC and whenever. A thread takes a run of ready UDCs at a
// time and hands them back done together: a UDC of a few dozen states takes about as long as
// a turn of a lock that another thread wants, so one turn per UDC would leave the threads
// waiting on each other; for the same reason the storage begins the tables of a run in one
// call and ends them in another. The schedule and the progress record are kept under the
// lock; the storage's calls take a turn of their own; the evaluation itself reads only the
// tables looked up before it.
struct SweepSchedule {
  // The states a thread takes at most in one run, unless its first UDC alone has more.
  static constexpr uint64_t kRunStates = 2048;

  std::mutex lock;
  std::condition_variable changed;
  // The storage's calls are taken one thread at a time here, where a thread that finds them
  // taken tries again for a while before it sleeps (the storage's own lock would put it to
  // sleep at once, for longer than the call takes).
  std::mutex storageTurn;
  int32_t left = 0;  // UDCs not yet done
  int32_t highestNotDone = -1;
  int32_t nextToLook = -1;          // the highest UDC not yet looked at
  uint64_t statesBelowHighest = 0;  // of the UDCs looked at below highestNotDone
  SweepWindow window;
  int32_t threads = 1;
  // Every UDC above highestNotDone is done, and every UDC looked at and not done lies in the
  // window below it, so the rest of the schedule is kept by a ring of the window's size, cheap
  // to reach under the lock: a byte array by UDC for the network's millions would miss the
  // cache on most successors, and a heap of the UDCs ready took its log of the window's size
  // in branches that do not predict for every UDC taken.
  std::vector<uint8_t> doneIn;    // looked at and done, by ring slot
  std::vector<uint64_t> readyIn;  // looked at, every successor done, not taken: a bit a slot
  int32_t readyCount = 0;
  uint64_t readyStates = 0;  // of the UDCs ready
  // Looked at, not ready: each waits on one of its successors not done, in a list per
  // successor.
  std::vector<int32_t> firstWaiting, nextWaiting;
  // The state counts of the UDCs looked at and not done: decoded once from the network's
  // records, where they are read each time under the lock.
  std::vector<uint32_t> statesOf;
  int32_t ringMask = 0;
  bool stopped = false;  // a thread failed: the others end after their run
  UdcSplit* split = nullptr;  // a UDC being evaluated in blocks, which the others join
  int32_t sleeping = 0;  // threads waiting for a change

  void open(int32_t udcCount, int32_t threadCount) {
    threads = threadCount;
    window = sweepWindow(threadCount);
    // The last UDC, the project's end, is done from the start.
    left = udcCount - 1;
    highestNotDone = nextToLook = udcCount - 2;
    size_t ring = 64;
    while (ring < static_cast<size_t>(std::max(window.most, window.udcs)) + 1) ring *= 2;
    doneIn.assign(ring, 0);
    readyIn.assign(ring / 64, 0);
    firstWaiting.assign(ring, -1);
    nextWaiting.assign(ring, -1);
    statesOf.assign(ring, 0);
    ringMask = static_cast<int32_t>(ring - 1);
  }
  size_t slotOf(int32_t u) const { return static_cast<size_t>(u & ringMask); }
  int32_t& waitingOn(int32_t s) { return firstWaiting[slotOf(s)]; }
  uint32_t& statesIn(int32_t u) { return statesOf[slotOf(u)]; }
  // s is a successor of a UDC looked at, so s is either above highestNotDone or looked at.
  bool isDone(uint32_t s) const {
    return static_cast<int64_t>(s) > highestNotDone || doneIn[slotOf(static_cast<int32_t>(s))] != 0;
  }
  // u is ready, or waits on a successor not done.
  void place(int32_t u) {
    for (uint32_t s : udcSuccessorsOf(u)) {
      if (isDone(s)) continue;
      nextWaiting[slotOf(u)] = waitingOn(static_cast<int32_t>(s));
      waitingOn(static_cast<int32_t>(s)) = u;
      return;
    }
    readyIn[slotOf(u) >> 6] |= uint64_t{1} << (slotOf(u) & 63);
    ++readyCount;
    readyStates += statesIn(u);
  }
  void look() {
    while (nextToLook >= 0) {
      const int32_t v = nextToLook;
      const uint32_t count = udcStateCount(v);
      const uint64_t states = v < highestNotDone ? count : 0;
      if (!inSweepWindow(window, highestNotDone - v, statesBelowHighest + states)) return;
      statesBelowHighest += states;
      --nextToLook;
      statesIn(v) = count;
      doneIn[slotOf(v)] = 0;
      place(v);
    }
  }
  // The next run into `run`, highest first, or false when none is ready now: the threads
  // share what is ready, and a run holds up to kRunStates states.
  bool take(std::vector<int32_t>& run) {
    look();
    if (readyCount == 0) return false;
    const size_t most =
        (static_cast<size_t>(readyCount) + static_cast<size_t>(threads) - 1) / static_cast<size_t>(threads);
    uint64_t states = 0;
    // Down the ring from highestNotDone, a word of slots at a time.
    for (int32_t p = highestNotDone; p > nextToLook && run.size() < most && states < kRunStates;) {
      const size_t slot = slotOf(p);
      const uint64_t bits = readyIn[slot >> 6] & (~uint64_t{0} >> (63 - (slot & 63)));
      if (bits == 0) {
        p -= static_cast<int32_t>(slot & 63) + 1;
        continue;
      }
      const int32_t top = 63 - std::countl_zero(bits);
      const int32_t u = p - (static_cast<int32_t>(slot & 63) - top);
      readyIn[slot >> 6] &= ~(uint64_t{1} << top);
      --readyCount;
      run.push_back(u);
      states += statesIn(u);
      readyStates -= statesIn(u);
      p = u - 1;
    }
    return true;
  }
  void markDone(int32_t u) {
    doneIn[slotOf(u)] = 1;
    --left;
    for (int32_t w = waitingOn(u); w >= 0;) {
      const int32_t next = nextWaiting[slotOf(w)];
      place(w);
      w = next;
    }
    waitingOn(u) = -1;
    while (highestNotDone > nextToLook && doneIn[slotOf(highestNotDone)] != 0) {
      --highestNotDone;
      if (highestNotDone > nextToLook) statesBelowHighest -= statesIn(highestNotDone);
    }
  }
};

// Evaluates UDC u in blocks with the threads that join it, unless another UDC is being split,
// the UDCs ready hold as many states, or it has too few positions for blocks (false: it is
// then evaluated whole). Returns once
// every block is done and every thread that joined has left.
template <class Evaluator>
bool evaluateSplit(Evaluator& evaluator, SweepWork& work, SweepSchedule& schedule, int32_t u, UdcStateTable& table,
                   std::vector<StateDecision>* decisions) {
  {
    // Where the other threads have as many states ready as this UDC holds, they are kept
    // busy without it: the blocks' first pass and the waits between their sums would cost
    // more than they save.
    const std::lock_guard<std::mutex> hold(schedule.lock);
    if (schedule.split != nullptr || schedule.readyStates >= table.count) return false;
  }
  UdcSplit split;
  split.udc = u;
  split.table = &table;
  takeUpUdc(evaluator, work, u, table);
  if (!markUdcBlocks(split, work)) return false;
  if constexpr (Evaluator::kKeeps) {
    split.decisions = decisions;
    decisions->assign(table.count, StateDecision{});
  }
  takeUpSplitUdc(evaluator, work, split);
  {
    const std::lock_guard<std::mutex> hold(schedule.lock);
    schedule.split = &split;
    if (schedule.sleeping > 0) schedule.changed.notify_all();
  }
  try {
    workOnSplit(evaluator, work, split);
  } catch (...) {
    const std::lock_guard<std::mutex> inside(split.lock);
    split.failed = true;
    if (!split.failure) split.failure = std::current_exception();
  }
  {
    const std::lock_guard<std::mutex> hold(schedule.lock);
    schedule.split = nullptr;
  }
  {
    std::unique_lock<std::mutex> inside(split.lock);
    split.changed.wait(inside, [&] { return split.helpers == 0; });
  }
  if (split.failure) std::rethrow_exception(split.failure);
  return true;
}

template <class Evaluator>
void sweepOnThreads(KeptPolicy* policy, int32_t threads) {
  SweepSchedule schedule;
  schedule.open(udcNetwork.udcCount, threads);
  buildSweepWork();
  runOnThreads(threads, [&](int32_t k) {
    SweepWork own;
    SweepWork& work = k == 0 ? sweepWork : own;
    if (k != 0) prepareSweepWork(work);
    Evaluator evaluator{work, elementaryNetwork};
    std::vector<int32_t> run;
    std::vector<uint32_t> runStates;
    std::vector<UdcStateTable*> runTables;
    std::array<std::vector<uint32_t>, 4> ahead;  // the successors of run[i] in ahead[i % 4]
    try {
      for (;;) {
        run.clear();
        UdcSplit* joined = nullptr;
        {
          lockBriefly(schedule.lock);
          std::unique_lock<std::mutex> hold(schedule.lock, std::adopt_lock);
          for (;;) {
            if (schedule.stopped || schedule.left == 0) return;
            if (schedule.split != nullptr) {
              const std::lock_guard<std::mutex> inside(schedule.split->lock);
              if (schedule.split->open()) {
                joined = schedule.split;
                ++joined->helpers;
                break;
              }
            }
            if (schedule.take(run)) break;
            ++schedule.sleeping;
            schedule.changed.wait(hold);
            --schedule.sleeping;
          }
        }
        if (joined != nullptr) {
          // A failure here is the split's: its owner raises it.
          try {
            takeUpSplitUdc(evaluator, work, *joined);
            workOnSplit(evaluator, work, *joined);
          } catch (...) {
            const std::lock_guard<std::mutex> inside(joined->lock);
            joined->failed = true;
            if (!joined->failure) joined->failure = std::current_exception();
          }
          const std::lock_guard<std::mutex> inside(joined->lock);
          --joined->helpers;
          joined->changed.notify_all();
          continue;
        }
        runStates.clear();
        {
          lockBriefly(schedule.storageTurn);
          const std::lock_guard<std::mutex> turn(schedule.storageTurn, std::adopt_lock);
          beginUdcRun(run, runTables);
        }
        // As in the one-thread sweep, the successors of the next three UDCs of the run are
        // decoded ahead and their tables fetched: most of them were written by another thread,
        // and a read from another core's cache waits longer than one from memory.
        for (size_t k = 0; k < 3; ++k) {
          std::vector<uint32_t>& list = ahead[k];
          list.clear();
          if (k < run.size()) udcSuccessorsInto(run[k], list);
        }
        for (size_t i = 0; i < run.size(); ++i) {
          const int32_t u = run[i];
          checkInterrupt();
          std::vector<uint32_t>& further = ahead[(i + 3) & 3];
          further.clear();
          if (i + 3 < run.size()) udcSuccessorsInto(run[i + 3], further);
          prefetchSuccessorTables(ahead[(i + 1) & 3], ahead[(i + 2) & 3], further);
          // Where the evaluation reads the successors of the UDC in hand.
          std::vector<uint32_t>& successors = successorsOfSwept(work, u);
          successors.swap(ahead[i & 3]);
          UdcStateTable* table = runTables[i];
          resolveSuccessorTables(work, successors);
          std::vector<StateDecision>* decisions =
              Evaluator::kKeeps ? &policy->decisions[static_cast<size_t>(u)] : nullptr;
          if (table->count < splitUdcStates || !evaluateSplit(evaluator, work, schedule, u, *table, decisions))
            evaluateUdc(evaluator, work, u, *table, decisions);
          runStates.push_back(table->count);
        }
        {
          lockBriefly(schedule.storageTurn);
          const std::lock_guard<std::mutex> turn(schedule.storageTurn, std::adopt_lock);
          endUdcRun(run);
        }
        {
          lockBriefly(schedule.lock);
          const std::lock_guard<std::mutex> hold(schedule.lock, std::adopt_lock);
          for (size_t i = 0; i < run.size(); ++i) {
            noteUdcProgress(runStates[i]);
            schedule.markDone(run[i]);
          }
          if (schedule.sleeping > 0) schedule.changed.notify_all();
        }
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

bool mergedRowsAllowed = true;
bool narrowRowSweepAllowed = true;

// A phase drawn by its probability after a timed completion adds up the continuation values
// of the phases it may enter (no decision between phases), and with decisions between phases
// it compares two sums: either needs both values of a state.
bool drawsPhases() {
  for (int32_t type : elementaryNetwork.elemSuccTransitionType)
    if (type == kDrawOne) return true;
  return false;
}

// Everywhere else a state is read as the better of its two values (best, a start, a
// choice among successors); a lane riding along would need to know which side that was,
// and a kept policy both values.
bool valueRowsMerged(int32_t lanes, bool keeps) { return mergedRowsAllowed && lanes == 1 && !keeps && !drawsPhases(); }

template <class Primary, class Ride, class Decision = NoDecision>
void sweepUdcs(SolveResult& result, const std::vector<Measure>& measures, KeptPolicy* policy = nullptr) {
  using Evaluator = StateEvaluator<Primary, Ride, Decision>;
  constexpr int32_t kLanes = 1 + Ride::kCount;
  if (udcNetwork.udcCount <= 0) return;
  const bool merged = valueRowsMerged(kLanes, Evaluator::kKeeps);
  openStateStorage(kLanes, useDiskStorage, Evaluator::kKeeps, merged);
  const int32_t udcCount = udcNetwork.udcCount;
  // The last UDC in the final numbering holds the project's end alone.
  const int32_t last = udcCount - 1;
  ProgressPhaseScope progress(ProgressPhase::kSolve, udcCount, udcNetwork.udcTotalStates);
  fillTerminalTable<Primary, Ride>(last);
  noteUdcProgress(udcStateCount(last));

  if constexpr (Evaluator::kKeeps) {
    policy->decisions.assign(static_cast<size_t>(udcCount), {});
    policy->decisions[static_cast<size_t>(last)].assign(udcStateCount(last), StateDecision{});
  }
  // Disk storage parks the table filled last when the next begins and reads the successors'
  // back: a sequence by its nature, so it runs on one thread; so does a sweep whose bound of
  // states held on several threads exceeds the memory limit.
  const int32_t threads = useDiskStorage || sweepOnOneThread ? 1 : std::min(threadSettings.count, udcCount - 1);
  auto sweepWith = [&](auto kind) {
    using Chosen = typename decltype(kind)::type;
    if (threads <= 1)
      sweepInOrder<Chosen>(policy);
    else
      sweepOnThreads<Chosen>(policy, threads);
  };
  bool swept = false;
  if constexpr (Ride::kCount == 0 && !Evaluator::kKeeps) {
    if (merged && narrowRowSweepAllowed && udcNetwork.udcMaxMembers <= kNarrowKeyMembers)
      sweepWith(std::type_identity<StateEvaluator<Primary, Ride, Decision, true, true>>{});
    else if (merged)
      sweepWith(std::type_identity<StateEvaluator<Primary, Ride, Decision, true>>{});
    swept = merged;
  }
  if (!swept) sweepWith(std::type_identity<Evaluator>{});

  const UdcStateTable& first = udcTable(0);
  const bool atDecision = first.decisionAt(0) > first.continuationAt(0);
  const int side = atDecision ? kDecisionSide : kContinuationSide;
  result.optimum = reportedValue(first.valueAt(0, side), Primary::kNegated);
  for (size_t k = 0; k < measures.size() && k < static_cast<size_t>(kMaxRideMeasures); ++k) {
    const int pair = lanePairOfMeasure<Primary, Ride>(measures[k]);
    measureValue(result, static_cast<int>(k)) =
        reportedValue(first.valueAt(0, 2 * pair + side), measures[k] == Measure::kMakespan);
  }
  if constexpr (Evaluator::kKeeps) {
    policy->objectiveCount = kLanes;
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

// The lanes a choice of measures needs, one bit per LaneKind; the optimised objective's mean
// is the primary, not a lane riding along.
unsigned rideLaneMask(Measure objective, const std::vector<Measure>& measures) {
  auto bit = [](LaneKind kind) { return 1u << static_cast<unsigned>(kind); };
  unsigned mask = 0;
  for (Measure measure : measures) {
    switch (measure) {
      case Measure::kNpv: mask |= bit(LaneKind::kNpvMean); break;
      case Measure::kMakespan: mask |= bit(LaneKind::kMakespanMean); break;
      case Measure::kNpvVariance: mask |= bit(LaneKind::kNpvMean) | bit(LaneKind::kNpvSpread); break;
      case Measure::kMakespanVariance: mask |= bit(LaneKind::kMakespanMean) | bit(LaneKind::kMakespanSpread); break;
    }
  }
  mask &= ~bit(objective == Measure::kNpv ? LaneKind::kNpvMean : LaneKind::kMakespanMean);
  return mask;
}

template <class Primary, class Ride, class Decision = NoDecision>
bool solveRiding(SolveResult& result, const std::vector<Measure>& measures, KeptPolicy* policy = nullptr) {
  SolveScope scope;
  if (policy != nullptr) releaseKeptPolicy(*policy);
  sweepUdcs<Primary, Ride, Decision>(result, measures, policy);
  return true;
}

constexpr unsigned kNpvMeanBit = 1u, kMakespanMeanBit = 2u, kNpvSpreadBit = 4u, kMakespanSpreadBit = 8u;
using LK = LaneKind;

// One instantiation per set of lanes that a choice of measures can need: the other mean
// comes first, so the two-objective tables keep their layout.
bool solveNpvRiding(unsigned mask, SolveResult& result, const std::vector<Measure>& measures) {
  switch (mask) {
    case 0: return solveRiding<NpvObjective, RideAlong<>>(result, measures);
    case kMakespanMeanBit: return solveRiding<NpvObjective, RideAlong<LK::kMakespanMean>>(result, measures);
    case kNpvSpreadBit: return solveRiding<NpvObjective, RideAlong<LK::kNpvSpread>>(result, measures);
    case kMakespanMeanBit | kNpvSpreadBit:
      return solveRiding<NpvObjective, RideAlong<LK::kMakespanMean, LK::kNpvSpread>>(result, measures);
    case kMakespanMeanBit | kMakespanSpreadBit:
      return solveRiding<NpvObjective, RideAlong<LK::kMakespanMean, LK::kMakespanSpread>>(result, measures);
    case kMakespanMeanBit | kNpvSpreadBit | kMakespanSpreadBit:
      return solveRiding<NpvObjective, RideAlong<LK::kMakespanMean, LK::kNpvSpread, LK::kMakespanSpread>>(result,
                                                                                                          measures);
    default: break;
  }
  stopFatal("Internal error: no solve carries this set of measures.");
}

bool solveMakespanRiding(unsigned mask, SolveResult& result, const std::vector<Measure>& measures) {
  switch (mask) {
    case 0: return solveRiding<MakespanObjective, RideAlong<>>(result, measures);
    case kNpvMeanBit: return solveRiding<MakespanObjective, RideAlong<LK::kNpvMean>>(result, measures);
    case kMakespanSpreadBit: return solveRiding<MakespanObjective, RideAlong<LK::kMakespanSpread>>(result, measures);
    case kNpvMeanBit | kNpvSpreadBit:
      return solveRiding<MakespanObjective, RideAlong<LK::kNpvMean, LK::kNpvSpread>>(result, measures);
    case kNpvMeanBit | kMakespanSpreadBit:
      return solveRiding<MakespanObjective, RideAlong<LK::kNpvMean, LK::kMakespanSpread>>(result, measures);
    case kNpvMeanBit | kNpvSpreadBit | kMakespanSpreadBit:
      return solveRiding<MakespanObjective, RideAlong<LK::kNpvMean, LK::kNpvSpread, LK::kMakespanSpread>>(result,
                                                                                                          measures);
    default: break;
  }
  stopFatal("Internal error: no solve carries this set of measures.");
}

}  // namespace

bool solveWithMeasures(Measure objective, const std::vector<Measure>& measures, SolveResult& result) {
  const unsigned mask = rideLaneMask(objective, measures);
  return objective == Measure::kNpv ? solveNpvRiding(mask, result, measures)
                                    : solveMakespanRiding(mask, result, measures);
}

int rideLaneCount(Measure objective, const std::vector<Measure>& measures) {
  return __builtin_popcount(rideLaneMask(objective, measures));
}

UdcInHand largestUdcInHandOnDisk(Measure objective, const std::vector<Measure>& measures) {
  const int32_t lanes = 1 + rideLaneCount(objective, measures);
  return largestUdcInHand(lanes, valueRowsMerged(lanes, false));
}

uint64_t stateTableBytesAtLeast(Measure objective, const std::vector<Measure>& measures, uint64_t states) {
  const int32_t lanes = 1 + rideLaneCount(objective, measures);
  return states * stateRowBytes(false, lanes, valueRowsMerged(lanes, false));
}

bool solveNpv(SolveResult& result) { return solveWithMeasures(Measure::kNpv, {}, result); }
bool solveMakespan(SolveResult& result) { return solveWithMeasures(Measure::kMakespan, {}, result); }
bool solveNpvWithMakespan(SolveResult& result) {
  return solveWithMeasures(Measure::kNpv, {Measure::kMakespan}, result);
}
bool solveMakespanWithNpv(SolveResult& result) {
  return solveWithMeasures(Measure::kMakespan, {Measure::kNpv}, result);
}

// A kept policy always carries the other objective first, which the .POL file and the
// readable policy show; any variance asked for brings both variance lanes along.
bool solveWithMeasuresKeepingPolicy(Measure objective, const std::vector<Measure>& measures, SolveResult& result,
                                    KeptPolicy& policy) {
  const bool variances = std::any_of(measures.begin(), measures.end(), [](Measure m) {
    return m == Measure::kNpvVariance || m == Measure::kMakespanVariance;
  });
  if (objective == Measure::kNpv) {
    if (variances)
      return solveRiding<NpvObjective, RideAlong<LK::kMakespanMean, LK::kNpvSpread, LK::kMakespanSpread>,
                         StateDecision>(result, measures, &policy);
    return solveRiding<NpvObjective, RideAlong<LK::kMakespanMean>, StateDecision>(result, measures, &policy);
  }
  if (variances)
    return solveRiding<MakespanObjective, RideAlong<LK::kNpvMean, LK::kNpvSpread, LK::kMakespanSpread>, StateDecision>(
        result, measures, &policy);
  return solveRiding<MakespanObjective, RideAlong<LK::kNpvMean>, StateDecision>(result, measures, &policy);
}

bool solveNpvWithMakespanKeepingPolicy(SolveResult& result, KeptPolicy& policy) {
  return solveWithMeasuresKeepingPolicy(Measure::kNpv, {Measure::kMakespan}, result, policy);
}

bool solveMakespanWithNpvKeepingPolicy(SolveResult& result, KeptPolicy& policy) {
  return solveWithMeasuresKeepingPolicy(Measure::kMakespan, {Measure::kNpv}, result, policy);
}

void releaseKeptPolicy(KeptPolicy& policy) { policy = KeptPolicy{}; }

void allowMergedValueRows(bool allowed) { mergedRowsAllowed = allowed; }

void allowNarrowRowSweep(bool allowed) { narrowRowSweepAllowed = allowed; }

void setUdcSplitSizes(uint32_t splitStates, uint32_t blockStates) {
  splitUdcStates = splitStates != 0 ? splitStates : 1u << 22;
  splitBlockStates = blockStates != 0 ? blockStates : 1u << 12;
}

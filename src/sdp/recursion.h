// Work data of the backward sweep shared by every solve: the state walk, the
// transition classes of the UDC being evaluated and where their targets are found.
#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "sdp/active_sets.h"
#include "udc/state_walk.h"
#include "udc/transition_rule.h"

struct UdcStateTable;

// Where the states of a transition class are found: a successor's table or the UDC's own,
// with the finger of the last state found there, and the class's key rule as its
// TargetClass gives it (the carried digits of wide UDCs stay there): a lookup reads this
// record alone.
struct ResolvedClass {
  const UdcStateTable* table = nullptr;
  // The states searched: the table's count, or in the UDC's own table those stored so far.
  const uint32_t* count = nullptr;
  StateKey keyConstant = 0;
  uint32_t fingerSlot = 0;  // in SweepWork::fingers
  int32_t udc = -1;
  uint32_t runBegin = 0;
  uint16_t runCount = 0;
  bool fromOwnKey = false;
};
static_assert(sizeof(ResolvedClass) <= 40, "a class's lookup reads one record");
static_assert(kMaxUdcMembers <= 0xffff, "a class's runs, one at most per member, fit 16 bits");

// The target key of a class whose key rule carries digits, kept with the state's digits
// above the third it was worked out for. Such a key is a constant plus each carried digit
// times its weight in the target, so the lowest three digits enter it through their weights
// alone; the walk changes them most often, and where the digits above are as before, only
// that part is new (on J60_161 four lookups in five).
constexpr int kMemoLowDigits = 3;
constexpr StateKey kMemoLowSpan = kPowersOfThree[kMemoLowDigits];
struct TargetKeyMemo {
  StateKey high = ~StateKey{0};                      // the state's key / kMemoLowSpan; none at first
  StateKey rest = 0;                                 // the target key less the low digits' part
  std::array<StateKey, kMemoLowDigits> lowWeight{};  // in the target key, 0 for a digit not carried
};

struct SweepWork {
  UdcStateWalk walk;
  TransitionPlan plan;
  int32_t udc = -1;  // the UDC being evaluated
  double discountRate = 0;
  double npvBound = 0;       // npvLowerBound widened
  double makespanBound = 0;  // -makespanUpperBound widened
  bool abandon = false;
  bool irq = false;
  std::vector<ResolvedClass> resolved;  // by class of the UDC being evaluated
  std::vector<TargetKeyMemo> keyMemos;  // by class, as resolved
  // Where the last state of each search was found. The first kMaxUdcMembers slots are the
  // positions': a start of the member at position p and a completion that finishes a member
  // in place, with no other change, both look for the state's key plus 3^p in the UDC's own
  // table, so they share that finger; the classes' own follow, slot kMaxUdcMembers + id.
  // The two kinds together move the finger in smaller steps than either alone (on J60_161
  // a fifth fewer searches go past the next row).
  std::vector<uint32_t> fingers;
  std::vector<BitWord> members;         // of the UDC being evaluated
  // The successors of the UDC being evaluated and of the three after it in the sweep, each
  // decoded once (UDC u's in entry u % 4).
  std::array<std::vector<uint32_t>, 4> successorsAhead;
  std::vector<int32_t> successorClasses;  // the class that first led to each successor
  // A UDC whose states are evaluated out of the walk's order (in blocks, by several threads)
  // meets its classes in another order: there a target is found among the successors by
  // its members, nBitWords words per successor in the order of the successor list.
  bool successorsByMembers = false;
  std::vector<BitWord> successorMembers;
  // The tables of the successors of the UDC being evaluated, in the order of its successor
  // list: looked up in the storage before the evaluation, which does not call the storage.
  std::vector<const UdcStateTable*> successorTables;
  ActiveSetCache activeSets;
};

// The work data of the sweep's first thread; each other thread of a sweep has its own.
extern SweepWork sweepWork;

// Sizes the work data for the current networks; released by releaseSweepWork.
void prepareSweepWork(SweepWork& work);
void buildSweepWork();
void releaseSweepWork();

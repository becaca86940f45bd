// The backward stochastic dynamic program over the UDC states: optimal expected NPV or
// minimal expected makespan, alone or with measures of that policy riding along (the other
// objective, the variance of either).
#pragma once
#include <cstdint>
#include <vector>

#include "sdp/state_storage.h"

// The measures a solve can report, numbered as CONFIG.DAT's objective slots number them.
// The first two can also be optimised.
enum class Measure : int32_t { kNpv = 0, kMakespan = 1, kNpvVariance = 2, kMakespanVariance = 3 };

// Measures that ride along with the optimised objective, at most one per later slot.
constexpr int kMaxRideMeasures = 3;

// What a solve reports, as a user reads it: the recursions keep a makespan negated so that
// every one of them maximises, and the sweep turns it back where it ends. The measures
// fill secondary, third and fourth in the order they were asked for.
struct SolveResult {
  float optimum = 0.0f;    // of the objective optimised
  float secondary = 0.0f;  // the first measure under the same policy
  float third = 0.0f;
  float fourth = 0.0f;
};

inline float& measureValue(SolveResult& result, int k) {
  return k == 0 ? result.secondary : k == 1 ? result.third : result.fourth;
}
inline float measureValue(const SolveResult& result, int k) {
  return k == 0 ? result.secondary : k == 1 ? result.third : result.fourth;
}

// The value of a stored state as reported: a makespan turned positive, and never -0, which
// the default formatting would print as "-0".
inline float reportedValue(float stored, bool isMakespan) {
  const float value = isMakespan ? -stored : stored;
  return value == 0.0f ? 0.0f : value;
}

bool solveNpv(SolveResult& result);
bool solveMakespan(SolveResult& result);
bool solveNpvWithMakespan(SolveResult& result);
bool solveMakespanWithNpv(SolveResult& result);

// Optimises objective (kNpv or kMakespan) and reports the measures of its optimal policy in
// the order given (distinct, none the objective itself, at most kMaxRideMeasures). The four
// solvers above are this with no measure or the other objective alone.
bool solveWithMeasures(Measure objective, const std::vector<Measure>& measures, SolveResult& result);

// What the values of a solve with these measures take per state beyond the objective's
// own: the number of value lanes (decision and continuation value each) riding along.
int rideLaneCount(Measure objective, const std::vector<Measure>& measures);

// The UDC that needs the most table bytes at once when the solve of these measures runs on
// disk: its own table and its successors', which are all in memory while it is evaluated.
UdcInHand largestUdcInHandOnDisk(Measure objective, const std::vector<Measure>& measures);

// The fewest bytes the state tables of this many states take in memory in a solve of these
// measures: their rows as the sweep lays them out, each with the narrower of the two keys.
uint64_t stateTableBytesAtLeast(Measure objective, const std::vector<Measure>& measures, uint64_t states);

// Whether a solve of one objective alone, with no phase drawn by its probability, keeps one
// value per state (the better of its decision and continuation values) instead of both: on
// unless turned off; every reported value is the same either way, which tests check.
void allowMergedValueRows(bool allowed);

// Whether a solve with merged rows whose UDCs all have narrow keys reads every row with the
// one width all its rows then have; off, it reads each table's shape as wider rows need.
// Every value is the same either way, which tests check.
void allowNarrowRowSweep(bool allowed);

// On several threads a UDC of at least splitStates states is evaluated by the threads
// together, in blocks of about blockStates states (0 keeps the program's own: 4 194 304 and
// 4 096); every value is the same either way, which tests check with small sizes.
void setUdcSplitSizes(uint32_t splitStates, uint32_t blockStates);

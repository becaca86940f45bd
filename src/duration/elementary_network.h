// The elementary network: one exponential elementary activity per phase plus dummies for
// mode choice, phase entry, chain exit and mode join, with transition types, ancestors,
// bit sets, modules and the two bounds. Per-activity fields are parallel arrays.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/bit_set.h"

constexpr double kModeChoiceCode = -1;
constexpr double kModeJoinCode = -2;
constexpr double kPhaseEntryCode = -3;
constexpr double kChainExitCode = -4;

// How the successors of an elementary activity follow its completion.
enum TransitionType : int32_t {
  kFollowAll = 0,   // exit of a base activity: every successor whose ancestors are done enters
  kChooseOne = -1,  // mode choice: the decision maker picks the successor, which enters idle
  kJoinModes = -2,  // exit of one mode of a multi-mode activity: the mode-join dummy enters
  kDrawOne = -3,    // phase entry or phase: one successor, drawn by its probability, enters
};

struct ElementaryNetwork {
  int32_t nElementary = 0;
  int32_t nBitWords = 0;
  float npvLowerBound = 0;
  float makespanUpperBound = 0;
  int32_t nModules = 0;
  int32_t resourceCount = 0;  // copy of the base network's R, for the stages after it
  // Set when the ancestor data would take more than gv_CFG_max_mem: the megabytes they would
  // take. The network is then not built beyond its activities and must not be identified.
  double insufficientMemoryMegabytes = 0;

  std::vector<double> elemDuration;
  std::vector<double> elemRate;
  std::vector<double> elemCost;
  std::vector<double> elemPts;
  std::vector<double> elemPms;
  std::vector<int32_t> elemBaseActivity;
  std::vector<int32_t> elemBaseMode;    // -1 for mode-choice and mode-join dummies
  std::vector<double> elemResourceUse;  // nElementary * resourceCount, row per activity
  std::vector<std::vector<int32_t>> elemSuccessors;
  std::vector<std::vector<double>> elemSuccessorProb;
  std::vector<int32_t> elemSuccTransitionType;
  std::vector<std::vector<int32_t>> elemPredecessors;
  std::vector<int32_t> elemModule;
  std::vector<uint8_t> elemAllowedToIdle;
  std::vector<int32_t> elemWordIndex;
  std::vector<BitWord> elemBitMask;
  // The ancestors of each activity as one bit row (nElementary * nBitWords): an eighth of a
  // byte per pair of activities, where lists would take four bytes per ancestor.
  std::vector<BitWord> elemAncestorBits;

  std::vector<std::vector<int32_t>> moduleFollowers;
  std::vector<BitWord> moduleMemberBits;  // nModules * nBitWords
};

extern ElementaryNetwork elementaryNetwork;

inline const BitWord* ancestorBitsOf(int e) {
  return elementaryNetwork.elemAncestorBits.data() + static_cast<size_t>(e) * elementaryNetwork.nBitWords;
}
// The number of ancestors of e.
inline int32_t ancestorCountOf(int e) {
  const BitWord* row = ancestorBitsOf(e);
  int32_t count = 0;
  for (int w = 0; w < elementaryNetwork.nBitWords; ++w) count += __builtin_popcountll(row[w]);
  return count;
}
inline const double* resourceUseOf(int e) {
  return elementaryNetwork.elemResourceUse.data() + static_cast<size_t>(e) * elementaryNetwork.resourceCount;
}
inline const BitWord* moduleMemberBitsOf(int m) {
  return elementaryNetwork.moduleMemberBits.data() + static_cast<size_t>(m) * elementaryNetwork.nBitWords;
}

// Builds from baseNetwork and markovNetwork; .EPN at write level >= 1. Stops the run on a
// transition to an earlier phase or a predecessor that does not have a lower index. Stops
// short, with insufficientMemoryMegabytes set, when the ancestor data would not fit.
void buildElementaryNetwork();
// The solver keeps the total rate of the running phases as a double sum, adding a rate when
// a phase starts and subtracting it when it ends; a slow phase beside fast ones keeps only
// about 16 - log10(fast / slow) significant digits of its rate. Rates spread wider than
// this would cost the stored single-precision values their last digits.
constexpr double kMaxRateSpread = 1e8;

// Stops the run when the rates of the elementary activities that can run together (every
// timed phase, and the unit rate of the instantaneous steps between the dummy start and
// the dummy end) span more than kMaxRateSpread. Called before a solve.
void checkRateSpread();

// Frees everything, and the base network's resource availabilities; the base network's
// resourceCount goes to 0 with them.
void releaseElementaryNetwork();

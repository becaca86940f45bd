// The optimal policy of a solve, kept when asked for: the state tables of every UDC and,
// per state, what its evaluation chose. A simulation that follows these decisions follows
// the solver's own policy, ties included.
#pragma once
#include <cstdint>
#include <vector>

#include "sdp/solvers.h"
#include "sdp/state_table.h"

// What the evaluation of one state chose. Sides: after an outcome, the state reached is
// valued by its decision value (a start decision is taken there at once) or by its
// continuation value (nothing is started until the next completion).
struct StateDecision {
  int8_t start = -1;                   // position of the member a decision starts; -1: no start fits
  bool startThenDecide = false;        // the state after that start is taken at its decision side
  int8_t chosen = -1;                  // instantaneous mode choice: index of the successor chosen
  bool chosenThenDecide = false;       // ... and the side taken in the state it leads to
  bool abandonAtDecision = false;      // the decision value was floored at 0: abandon
  bool abandonAtContinuation = false;  // the continuation value was floored at 0: abandon
  // Phase changes (type -3 completions) after which the next state is taken at its decision
  // side: with decisions during execution, or for an instantaneous phase-entry dummy.
  uint64_t decideAfterPhase = 0;
};

// Kept by solveKeepingPolicy; every table in memory, indexed like udcNetwork's UDCs.
struct KeptPolicy {
  int32_t objectiveCount = 0;  // value lanes of its tables
  std::vector<UdcStateTable> tables;
  std::vector<std::vector<StateDecision>> decisions;  // by UDC, in table order
};

// One of the two-objective solves (NPV with makespan, or makespan with NPV), in memory,
// keeping every table and decision. Same values as the solve without the policy.
bool solveNpvWithMakespanKeepingPolicy(SolveResult& result, KeptPolicy& policy);
bool solveMakespanWithNpvKeepingPolicy(SolveResult& result, KeptPolicy& policy);
// The same for any choice of measures (solveWithMeasures): the tables carry the other
// objective first and, when a variance is asked for, both variances after it.
bool solveWithMeasuresKeepingPolicy(Measure objective, const std::vector<Measure>& measures, SolveResult& result,
                                    KeptPolicy& policy);

void releaseKeptPolicy(KeptPolicy& policy);

// The readable policy, PJFileName + n + ".policy.csv": one row per decision that the optimal
// policy takes in a state it reaches from the start, with the probability of reaching that
// state, the activities finished, running and idle there (numbered as the project file numbers
// them), the decision and the expected values from there on. The states are found by
// following the kept policy forwards from the start, so a state that the policy never reaches
// is never listed.
#pragma once
#include <cstdint>
#include <string>

#include "sdp/policy.h"

// The most rows the file may have: a policy that decides in more reachable states is not
// written (a message on standard error says so; the .POL file still holds every state).
constexpr int64_t kPolicyTableRowLimit = 1000000;

// The header row of the file.
extern const char* const kPolicyTableHeader;

// What writing the file found: the rows written (-1 when the file was not written), and the
// policy's expected NPV and makespan as following it forwards from the start gives them (no
// cash flow and no time after an abandonment).
struct PolicyTableResult {
  int64_t rows = -1;
  double npv = 0;
  double makespan = 0;
  bool abandoned = false;  // some run of the policy abandons the project
};

// Writes the file for the policy kept for the networks in hand; makespanFirst when the
// makespan was minimised (the NPV then rides along). The policy followed forwards must come
// to the value of the solve, or the file is not written (an internal error). rowLimit is
// kPolicyTableRowLimit but for the tests.
PolicyTableResult writePolicyTable(const KeptPolicy& policy, bool makespanFirst,
                                   int64_t rowLimit = kPolicyTableRowLimit);

// The precedence structures of the topology test: every partial order on k inner activities
// up to isomorphism, in a fixed order, with its covering relation as the network's arcs.
//
// A structure is numbered by a linear extension (every activity after those it follows);
// its code lists, for the pairs (1,2), (1,3), (2,3), (1,4), (2,4), (3,4), ... (column by
// column), a 1 when the first activity precedes the second. Of all its numberings the
// structure keeps the one with the largest code (the first pair the most significant bit),
// and the structures of one size are listed by ascending code: all activities in parallel
// first, one chain last.
#pragma once
#include <cstdint>
#include <vector>

// Inner activities a structure may have: 9 give 183 231 structures in under a second; 10
// would give 2 567 284.
constexpr int kMaxStructureActivities = 9;

struct PrecedenceStructure {
  int32_t activityCount = 0;
  uint64_t code = 0;
  // Activities 0 .. activityCount - 1 in the canonical numbering; below[j]: the activities
  // that j follows (bit i), directly or not.
  std::vector<uint32_t> below;
};

// The structures on 1 .. maxActivities inner activities (at most kMaxStructureActivities):
// element k - 1 holds those on k activities, in the documented order.
std::vector<std::vector<PrecedenceStructure>> enumeratePrecedenceStructures(int maxActivities);

// The covering relation: for each activity, the activities that follow it directly.
std::vector<std::vector<int32_t>> coveringSuccessors(const PrecedenceStructure& structure);

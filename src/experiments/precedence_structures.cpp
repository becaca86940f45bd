// Partial orders up to isomorphism. Every structure on k activities arises from one on k - 1
// by adding an activity that follows exactly a downward closed set of them (remove any last
// activity to see it), so the structures of each size grow from those of the size before,
// and the canonical code of each candidate removes the duplicates.
#include "experiments/precedence_structures.h"

#include <algorithm>
#include <unordered_set>

namespace {

// The numbering with the largest code, found position by position: the code is built column
// by column, so a numbering of the first m positions fixes its first bits, and only the
// activities giving the largest next column can lead to the largest code. Activities that
// follow and precede exactly the same others are interchangeable; one of them is tried.
struct Canonizer {
  int count = 0;
  const uint32_t* below = nullptr;
  uint32_t above[kMaxStructureActivities] = {};
  int order[kMaxStructureActivities] = {};
  uint64_t prefix[kMaxStructureActivities + 1] = {};
  bool found = false;
  int bestOrder[kMaxStructureActivities] = {};
  uint64_t bestPrefix[kMaxStructureActivities + 1] = {};

  // Prefix codes of one length compare like the numberings they start, so a partial
  // numbering whose prefix falls below the best one's is given up.
  void search(int m, uint32_t placed) {
    if (m >= count || m >= kMaxStructureActivities) {
      if (!found || prefix[m] > bestPrefix[m]) {
        found = true;
        std::copy(order, order + count, bestOrder);
        std::copy(prefix, prefix + count + 1, bestPrefix);
      }
      return;
    }
    uint64_t columns[kMaxStructureActivities] = {};
    uint64_t largest = 0;
    for (int x = 0; x < count; ++x) {
      if (((placed >> x) & 1u) || (below[x] & ~placed) != 0) continue;
      uint64_t column = 0;
      for (int i = 0; i < m; ++i) column = (column << 1) | ((below[x] >> order[i]) & 1u);
      columns[x] = column;
      largest = std::max(largest, column);
    }
    const uint64_t code = (prefix[m] << m) | largest;
    uint32_t tried = 0;
    for (int x = 0; x < count; ++x) {
      if (((placed >> x) & 1u) || (below[x] & ~placed) != 0 || columns[x] != largest) continue;
      if (found && code < bestPrefix[m + 1]) return;
      bool twin = false;
      for (int y = 0; y < x && !twin; ++y) twin = ((tried >> y) & 1u) && below[y] == below[x] && above[y] == above[x];
      if (twin) continue;
      tried |= 1u << x;
      order[m] = x;
      prefix[m + 1] = code;
      search(m + 1, placed | (1u << x));
    }
  }
};

PrecedenceStructure canonicalStructure(const std::vector<uint32_t>& below) {
  Canonizer canonizer;
  canonizer.count = static_cast<int>(below.size());
  canonizer.below = below.data();
  for (int x = 0; x < canonizer.count; ++x)
    for (int y = 0; y < canonizer.count; ++y)
      if ((below[y] >> x) & 1u) canonizer.above[x] |= 1u << y;
  canonizer.search(0, 0);
  PrecedenceStructure structure;
  structure.activityCount = canonizer.count;
  structure.code = canonizer.bestPrefix[canonizer.count];
  int positionOf[kMaxStructureActivities] = {};
  for (int p = 0; p < canonizer.count; ++p) positionOf[canonizer.bestOrder[p]] = p;
  structure.below.assign(below.size(), 0);
  for (int p = 0; p < canonizer.count; ++p) {
    const uint32_t old = below[static_cast<size_t>(canonizer.bestOrder[p])];
    for (int x = 0; x < canonizer.count; ++x)
      if ((old >> x) & 1u) structure.below[static_cast<size_t>(p)] |= 1u << positionOf[x];
  }
  return structure;
}

bool isDownwardClosed(const std::vector<uint32_t>& below, uint32_t set) {
  for (size_t j = 0; j < below.size(); ++j)
    if (((set >> j) & 1u) && (below[j] & ~set) != 0) return false;
  return true;
}

}  // namespace

std::vector<std::vector<PrecedenceStructure>> enumeratePrecedenceStructures(int maxActivities) {
  std::vector<std::vector<PrecedenceStructure>> bySize;
  const int largest = std::min(maxActivities, kMaxStructureActivities);
  if (largest < 1) return bySize;
  PrecedenceStructure single;
  single.activityCount = 1;
  single.below = {0};
  bySize.push_back({single});
  for (int k = 2; k <= largest; ++k) {
    std::vector<PrecedenceStructure> next;
    std::unordered_set<uint64_t> seen;
    for (const PrecedenceStructure& smaller : bySize.back()) {
      for (uint32_t set = 0; set < (1u << (k - 1)); ++set) {
        if (!isDownwardClosed(smaller.below, set)) continue;
        std::vector<uint32_t> below = smaller.below;
        below.push_back(set);
        PrecedenceStructure candidate = canonicalStructure(below);
        if (seen.insert(candidate.code).second) next.push_back(std::move(candidate));
      }
    }
    std::sort(next.begin(), next.end(),
              [](const PrecedenceStructure& a, const PrecedenceStructure& b) { return a.code < b.code; });
    bySize.push_back(std::move(next));
  }
  return bySize;
}

std::vector<std::vector<int32_t>> coveringSuccessors(const PrecedenceStructure& structure) {
  const int n = structure.activityCount;
  std::vector<std::vector<int32_t>> successors(static_cast<size_t>(n));
  for (int j = 0; j < n; ++j) {
    const uint32_t before = structure.below[static_cast<size_t>(j)];
    for (int i = 0; i < n; ++i) {
      if (!((before >> i) & 1u)) continue;
      // i -> j is a cover unless some activity lies between them.
      bool between = false;
      for (int z = 0; z < n && !between; ++z)
        between = ((before >> z) & 1u) && ((structure.below[static_cast<size_t>(z)] >> i) & 1u);
      if (!between) successors[static_cast<size_t>(i)].push_back(j);
    }
  }
  return successors;
}

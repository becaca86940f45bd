// The precedence structures of the topology test: how many there are of each size, the
// documented order, and that each is numbered as a network can be (every activity after
// those it follows) with its covering relation as arcs.
#include <gtest/gtest.h>

#include "experiments/precedence_structures.h"

TEST(PrecedenceStructures, CountsAndOrderOfEverySize) {
  const std::vector<std::vector<PrecedenceStructure>> all = enumeratePrecedenceStructures(8);
  const size_t counts[] = {1, 2, 5, 16, 63, 318, 2045, 16999};
  ASSERT_EQ(all.size(), 8u);
  for (size_t k = 0; k < all.size(); ++k) {
    ASSERT_EQ(all[k].size(), counts[k]) << k + 1 << " activities";
    // All in parallel first, one chain last, codes strictly ascending (no structure twice).
    EXPECT_EQ(all[k].front().code, 0u);
    EXPECT_EQ(all[k].back().code, (uint64_t{1} << (k * (k + 1) / 2)) - 1);
    for (size_t t = 1; t < all[k].size(); ++t) EXPECT_LT(all[k][t - 1].code, all[k][t].code);
    for (const PrecedenceStructure& s : all[k])
      for (int32_t j = 0; j < s.activityCount; ++j) {
        const uint32_t before = s.below[static_cast<size_t>(j)];
        // A linear extension: only lower numbers precede j, and what precedes them precedes j.
        EXPECT_EQ(before >> j, 0u);
        for (int32_t i = 0; i < j; ++i) {
          if ((before >> i) & 1u) {
            EXPECT_EQ(s.below[static_cast<size_t>(i)] & ~before, 0u);
          }
        }
      }
  }
  // The five structures of three activities in their order, by their arcs.
  const std::vector<std::vector<std::vector<int32_t>>> three = {
      {{}, {}, {}}, {{2}, {2}, {}}, {{1}, {}, {}}, {{1, 2}, {}, {}}, {{1}, {2}, {}}};
  for (size_t t = 0; t < three.size(); ++t) EXPECT_EQ(coveringSuccessors(all[2][t]), three[t]) << t;
}

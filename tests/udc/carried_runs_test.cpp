// The target key's carried part found from runs of the state's key against the digits one by
// one, on random layouts of carried, forced and entering members and on the largest keys.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "udc/transition_rule.h"

namespace {

struct Layout {
  std::vector<CarriedDigit> digits;
};

// Carried positions of a UDC of n members, in ascending order, with target positions that
// leave gaps where forced or entering members come in between.
Layout randomLayout(std::mt19937& random, int n) {
  Layout layout;
  int t = 0;
  for (int q = 0; q < n; ++q) {
    while (random() % 4 == 0 && t < kMaxUdcMembers - 1) ++t;  // a forced or entering member
    if (random() % 5 == 0) continue;                          // a member that leaves
    if (t >= kMaxUdcMembers) break;
    layout.digits.push_back({q, kPowersOfThree[static_cast<size_t>(t)]});
    ++t;
  }
  return layout;
}

StateKey keyOfDigits(const Layout& layout, const std::vector<int>& status) {
  StateKey key = 0;
  for (const CarriedDigit& d : layout.digits)
    key += static_cast<StateKey>(status[static_cast<size_t>(d.position)]) * d.weight;
  return key;
}

StateKey keyOfStatus(const std::vector<int>& status) {
  StateKey key = 0;
  for (size_t p = 0; p < status.size(); ++p) key += static_cast<StateKey>(status[p]) * kPowersOfThree[p];
  return key;
}

TEST(CarriedRuns, RunsOfTheKeyGiveTheDigitsSumOnRandomLayoutsAndTheLargestKeys) {
  std::mt19937 random(31);
  for (int trial = 0; trial < 4000; ++trial) {
    const int n = 1 + static_cast<int>(random() % kRunKeyMembers);
    const Layout layout = randomLayout(random, n);
    std::vector<CarriedRun> runs{CarriedRun{}};  // runs are appended behind what is there
    const uint32_t count = appendCarriedRuns(layout.digits.data(), static_cast<uint32_t>(layout.digits.size()), runs);
    ASSERT_EQ(runs.size(), count + 1u);
    ASSERT_LE(count, layout.digits.size());
    for (int s = 0; s < 20; ++s) {
      std::vector<int> status(static_cast<size_t>(n));
      const int kind = s % 4;  // random, all finished (the largest key), all idle, alternating
      for (int p = 0; p < n; ++p)
        status[static_cast<size_t>(p)] = kind == 0   ? static_cast<int>(random() % 3)
                                         : kind == 1 ? 2
                                         : kind == 2 ? 0
                                                     : 2 * (p % 2);
      ASSERT_EQ(keyOfCarriedRuns(keyOfStatus(status), runs.data() + 1, count), keyOfDigits(layout, status))
          << "trial " << trial << " members " << n;
    }
  }
}

TEST(CarriedRuns, DigitsInStepMakeOneRunAndAGapStartsAnother) {
  std::vector<CarriedDigit> digits = {{0, 1}, {1, 3}, {2, 9}, {4, 27}, {5, 243}};
  std::vector<CarriedRun> runs;
  // Positions 0-2 in step; position 4 after a member that leaves; 5 after one that enters.
  ASSERT_EQ(appendCarriedRuns(digits.data(), static_cast<uint32_t>(digits.size()), runs), 3u);
  EXPECT_EQ(runs[0].below, 0u);
  EXPECT_EQ(runs[0].span, 27u);
  EXPECT_EQ(runs[1].span, 3u);
  EXPECT_EQ(runs[1].scale, 27u);
  EXPECT_EQ(runs[2].scale, 243u);
  // Statuses 2, 1, 0, 2, 1, 2 by position.
  const StateKey key = 2 + 1 * 3 + 0 * 9 + 2 * 27 + 1 * 81 + 2 * 243;
  EXPECT_EQ(keyOfCarriedRuns(key, runs.data(), 3), 2u + 3u + 0u + 1u * 27u + 2u * 243u);
}

}  // namespace

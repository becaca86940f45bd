// Tables over 16-bit masks: powers of two and three, and the ascending list of set bits
// of every mask. Built once per run; identification and the solvers read members of a
// bit-set word from here instead of testing bits one by one.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

constexpr int kStateWordBits = 16;
constexpr int kMaskCount = 1 << kStateWordBits;

struct SubsetTables {
  int32_t powersOfTwo[kStateWordBits + 1] = {};
  uint32_t powersOfThree[kStateWordBits + 1] = {};
  uint32_t twicePowersOfThree[kStateWordBits + 1] = {};
  // Flat: the members of mask m are maskMembers[m * 16 .. m * 16 + maskMemberCount[m]).
  std::vector<uint8_t> maskMembers;
  std::vector<uint8_t> maskMemberCount;
};

extern SubsetTables subsetTables;

void buildSubsetTables();

inline const uint8_t* membersOfMask(uint32_t mask) {
  return subsetTables.maskMembers.data() + (static_cast<size_t>(mask) << 4);
}

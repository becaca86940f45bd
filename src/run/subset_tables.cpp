// The subset tables over 16-bit masks, built once when the configuration has been read.
#include "run/subset_tables.h"

SubsetTables subsetTables;

void buildSubsetTables() {
  SubsetTables& tables = subsetTables;
  tables.powersOfTwo[0] = 1;
  tables.powersOfThree[0] = 1;
  tables.twicePowersOfThree[0] = 2;
  for (int i = 1; i <= kStateWordBits; ++i) {
    tables.powersOfTwo[i] = 2 * tables.powersOfTwo[i - 1];
    tables.powersOfThree[i] = 3 * tables.powersOfThree[i - 1];
    tables.twicePowersOfThree[i] = 6 * tables.powersOfThree[i - 1];
  }
  tables.maskMembers.assign(static_cast<size_t>(kMaskCount) * kStateWordBits, 0);
  tables.maskMemberCount.assign(kMaskCount, 0);
  for (int mask = 0; mask < kMaskCount; ++mask) {
    uint8_t* members = tables.maskMembers.data() + static_cast<size_t>(mask) * kStateWordBits;
    uint8_t count = 0;
    for (int i = 0; i < kStateWordBits; ++i) {
      if ((tables.powersOfTwo[i] & mask) == tables.powersOfTwo[i]) members[count++] = static_cast<uint8_t>(i);
    }
    tables.maskMemberCount[mask] = count;
  }
}

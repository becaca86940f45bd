// Subset tables, the random source, the prompts and the fatal stop.
#include <gtest/gtest.h>

#include "e2e/e2e_support.h"
#include "run/fatal.h"
#include "run/random15.h"
#include "run/subset_tables.h"

TEST(SubsetTables, PowersAndMaskMembers) {
  buildSubsetTables();
  const SubsetTables& t = subsetTables;
  EXPECT_EQ(t.powersOfTwo[0], 1);
  EXPECT_EQ(t.powersOfTwo[16], 65536);
  EXPECT_EQ(t.powersOfThree[0], 1u);
  EXPECT_EQ(t.powersOfThree[5], 243u);
  EXPECT_EQ(t.powersOfThree[16], 43046721u);
  EXPECT_EQ(t.twicePowersOfThree[0], 2u);
  EXPECT_EQ(t.twicePowersOfThree[16], 86093442u);
  EXPECT_EQ(t.maskMemberCount[0], 0);
  EXPECT_EQ(t.maskMemberCount[65535], 16);
  ASSERT_EQ(t.maskMemberCount[10], 2);
  EXPECT_EQ(membersOfMask(10)[0], 1);
  EXPECT_EQ(membersOfMask(10)[1], 3);
  ASSERT_EQ(t.maskMemberCount[0x8001], 2);
  EXPECT_EQ(membersOfMask(0x8001)[0], 0);
  EXPECT_EQ(membersOfMask(0x8001)[1], 15);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(membersOfMask(65535)[i], i);
}

TEST(SubsetTables, EveryMaskListsItsBitsAscending) {
  buildSubsetTables();
  for (uint32_t mask = 0; mask < 65536; ++mask) {
    const uint8_t* members = membersOfMask(mask);
    const int count = subsetTables.maskMemberCount[mask];
    uint32_t rebuilt = 0;
    for (int k = 0; k < count; ++k) {
      if (k > 0) {
        ASSERT_LT(members[k - 1], members[k]);
      }
      rebuilt |= 1u << members[k];
    }
    ASSERT_EQ(rebuilt, mask);
  }
}

TEST(RandomSource, ClassicPortableSequence) {
  projectSrand(1);
  const int expected[] = {16838, 5758, 10113, 17515, 31051, 5627, 23010, 7419, 16212, 4086};
  for (int value : expected) EXPECT_EQ(projectRand(), value);
  projectSrand(1);
  EXPECT_EQ(projectRand(), 16838);
  projectSrand(12345);
  for (int i = 0; i < 1000; ++i) {
    const int value = projectRand();
    ASSERT_GE(value, 0);
    ASSERT_LE(value, kRandomMax);
  }
}

TEST(Prompts, NumbersNonNumbersAndEndOfInput) {
  e2e::ConsoleCapture console("  42\nabc 9\n7\n");
  long long value = 0;
  EXPECT_TRUE(readPromptNumber(value));
  EXPECT_EQ(value, 42);
  // The unreadable line is dropped so the next prompt waits for a fresh answer.
  EXPECT_FALSE(readPromptNumber(value));
  EXPECT_TRUE(readPromptNumber(value));
  EXPECT_EQ(value, 7);
  EXPECT_FALSE(readPromptNumber(value));
  EXPECT_FALSE(readPromptNumber(value));
}

TEST(FatalStop, PrintsTheMessageWaitsForOneNumberAndThrows) {
  {
    e2e::ConsoleCapture console("5\n6\n");
    EXPECT_THROW(stopFatal("Something went wrong."), FatalStop);
    EXPECT_EQ(console.text(), "\nSomething went wrong.\nPress any key to quit...");
    long long next = 0;
    EXPECT_TRUE(readPromptNumber(next));
    EXPECT_EQ(next, 6);
  }
  {
    e2e::ConsoleCapture console("");
    EXPECT_THROW(stopFatalWithoutPrompt("File cannot be deleted..."), FatalStop);
    EXPECT_EQ(console.text(), "\nFile cannot be deleted...");
  }
}

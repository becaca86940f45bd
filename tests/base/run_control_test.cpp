// Subset tables, the random source, the prompts and the fatal stop.
#include <gtest/gtest.h>

#include "e2e/e2e_support.h"
#include "base/config.h"
#include "base/fatal.h"
#include "project/output_names.h"
#include "base/random15.h"

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
  e2e::ConsoleCapture console("  42 and more\nabc 9\n7\n\nx\n");
  long long value = 0;
  EXPECT_TRUE(readPromptNumber(value));
  EXPECT_EQ(value, 42);
  // The unreadable line is dropped so the next prompt waits for a fresh answer.
  EXPECT_FALSE(readPromptNumber(value));
  EXPECT_TRUE(readPromptNumber(value));
  EXPECT_EQ(value, 7);
  // "Press any key": the empty line (Enter) ends the wait, and only that line is taken.
  waitForAnyKey();
  EXPECT_FALSE(readPromptNumber(value));
  EXPECT_FALSE(readPromptNumber(value));
  waitForAnyKey();
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

// Output files against the project files of the series, compared as names: an extension
// equal to PJFileExt, digits that shift a number into the extension, and results files that
// a project name spells out.
TEST(OutputNames, ClashesStopNamingBothFiles) {
  e2e::ScratchDirectory dir;
  struct Case {
    const char* name;
    const char* ext;
    int32_t first;
    int32_t last;
    std::vector<NumberedOutputs> numbered;
    std::vector<std::string> fixed;
    std::string output;  // empty: no clash
    std::string project;
  };
  const Case cases[] = {
      {"P", ".UDC", 1, 3, {{1, 3, {".EPN", ".MPN", ".BPN", ".UDC"}}}, {}, "P1.UDC", "P1.UDC"},
      {"P", ".UDC", 1, 3, {{1, 3, {".EPN", ".MPN", ".BPN"}}}, {}, "", ""},
      {"P", ".T3B", 5, 9, {{1, 6, {".T3B"}}}, {}, "P5.T3B", "P5.T3B"},
      {"P", ".T3B", 7, 9, {{1, 6, {".T3B"}}}, {}, "", ""},
      {"P", "0.EPN", 1, 10, {{1, 10, {".EPN"}}}, {}, "P10.EPN", "P10.EPN"},
      {"P", "0.EPN", 2, 10, {{1, 10, {".EPN"}}}, {}, "", ""},
      {"P", ".RCP", -12, -10, {{-12, -10, {"5.RCP"}}}, {}, "", ""},
      {"P", "5.RCP", -3, -1, {{-20, -10, {".RCP"}}}, {}, "P-15.RCP", "P-15.RCP"},
      {"P", ".EPN", 11, 11, {{1, 2, {"1.EPN"}}}, {}, "P11.EPN", "P11.EPN"},
      {"RES_T", ".CSV", 1, 3, {}, {"RESULTS.CSV", "RES_T2.CSV"}, "RES_T2.CSV", "RES_T2.CSV"},
      {"./RES_T", ".CSV", 2, 2, {}, {"RES_T2.CSV"}, "RES_T2.CSV", "./RES_T2.CSV"},
      {"RES_T", ".CSV", 3, 9, {}, {"RES_T2.CSV"}, "", ""},
      {"elsewhere/RES_T", ".CSV", 2, 2, {}, {"RES_T2.CSV"}, "", ""},
      {"RESULTS", ".CSV", 1, 3, {}, {"RESULTS.CSV"}, "", ""},
  };
  for (const Case& c : cases) {
    runConfig = RunConfig{};
    runConfig.PJFileName = c.name;
    runConfig.PJFileExt = c.ext;
    runConfig.gv_CFG_fnr = c.first;
    runConfig.gv_CFG_lnr = c.last;
    e2e::ConsoleCapture console("\n");
    SCOPED_TRACE(std::string(c.name) + c.ext);
    if (c.output.empty()) {
      EXPECT_NO_THROW(checkOutputNames(c.numbered, c.fixed));
    } else {
      EXPECT_THROW(checkOutputNames(c.numbered, c.fixed), FatalStop);
      EXPECT_EQ(console.text(), "\nThe output file " + c.output + " of this run would replace the project file " +
                                    c.project +
                                    " that it reads. Change PJFileName or PJFileExt in CONFIG.DAT (or the write "
                                    "level); nothing has been written.\nPress any key to quit...");
    }
  }
  runConfig = RunConfig{};
}

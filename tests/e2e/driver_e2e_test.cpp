// The built program end to end: the mode prompt, the normal run's console and RESULTS.CSV,
// the fatal stops and the exit status.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "e2e/e2e_support.h"
#include "run/config.h"

namespace {

const std::string kModePrompt =
    "Choose test [0 = NO TEST CONFIG ONLY | 1 = TOPOLOGIES TEST | 2 = PROJECT VARIANCE TEST | 3 = METRICS TEST]\n\n\n";
const std::string kEndPrompt = "\n\nTest complete. Press any key to exit application...\n";
const std::string kHeaderLead =
    "PROJECT;#ACT;#UDC;#STATES;#ENTRY STATES;MAX #STATES IN MEMORY;MAX UDC SIZE;CPU UDC (SEC)";

// start -> A (mean 2, exponential, cost -10) -> end (pay-off 100), discount rate 0.01:
// NPV = 100 * 0.5 / 0.51 - 10, makespan 2.
const char* const kOneActivityProject = "3 0\n0 0 1 2\n2 -10 1 3\n0 100 0\n";
// Only the dummies: nothing takes time.
const char* const kEmptyProject = "2 0\n0 0 1 2\n0 0 0\n";

std::map<std::string, std::string> costConfig(std::map<std::string, std::string> overrides) {
  overrides.emplace("gv_CFG_cost_data", "1");
  return overrides;
}

// The head that the program must write for this CONFIG.DAT, built by the library itself.
std::string expectedHead(const std::string& configText, const std::string& objectiveColumns) {
  e2e::ScratchDirectory scratch;
  scratch.write("CONFIG.DAT", configText);
  runConfig = RunConfig{};
  readConfiguration();
  std::ostringstream block;
  writeConfigurationBlock(block);
  return block.str() + "\n\n\n" + kHeaderLead + objectiveColumns + "\n";
}

// Rows with their CPU columns masked: columns 8 and 10 hold processor seconds.
std::string maskedRows(const std::string& results) {
  const size_t header = results.find(kHeaderLead);
  std::istringstream in(results.substr(results.find('\n', header) + 1));
  std::string line, masked;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string field;
    for (int column = 1; std::getline(fields, field, ';'); ++column) {
      if (column > 1) masked += ';';
      masked += (column == 8 || column == 10) ? std::string("*") : field;
    }
    masked += "\n";
  }
  return masked;
}

}  // namespace

TEST(ModePromptE2e, AnyOtherAnswerGoesStraightToTheEndPrompt) {
  for (const std::string input : {"7\n0\n", "-1\n", "x\n", "", "99999999999999999999\n"}) {
    e2e::WorkDirectory dir;
    const e2e::RunOutput output = dir.run(input);
    EXPECT_EQ(output.console, kModePrompt + kEndPrompt) << "answer " << input;
    EXPECT_EQ(output.exitCode, 0);
    EXPECT_TRUE(dir.fileNames().empty());
  }
}

TEST(NormalRunE2e, NoProjectWhenTheFirstNumberExceedsTheLast) {
  e2e::WorkDirectory dir;
  const std::string config = e2e::configText({{"gv_CFG_fnr", "5"}, {"gv_CFG_lnr", "4"}, {"gv_CFG_OBJ", "1"},
                                              {"gv_CFG_OBJ2", "0"}, {"gv_bits", "12"}});
  dir.write("CONFIG.DAT", config);
  const e2e::RunOutput output = dir.run("0\n0\n");
  EXPECT_EQ(output.console, kModePrompt + "BOOT\nINITIALIZED\n" + kEndPrompt);
  EXPECT_EQ(output.exitCode, 0);
  EXPECT_EQ(dir.read("RESULTS.CSV"), expectedHead(config, ";MAKESPAN;CPU MAKESPAN (SEC);NPV"));
  EXPECT_EQ(output.errors, "");
}

TEST(NormalRunE2e, EveryObjectivePairOnClosedFormProjects) {
  struct Case {
    const char* obj;
    const char* obj2;
    const char* line1;
    const char* line2;
    const char* row1;
    const char* row2;
  };
  const Case cases[] = {
      {"0", "-1", " OPT NPV: 88.0392 CPU[*]", " OPT NPV: 0 CPU[*]", "88.0392;*", "0;*"},
      {"0", "1", " OPT NPV: 88.0392 CPU[*] MAKESPAN: 2", " OPT NPV: 0 CPU[*] MAKESPAN: 0", "88.0392;*;2", "0;*;0"},
      {"1", "-1", " OPT MAKESPAN: 2 CPU[*]", " OPT MAKESPAN: 0 CPU[*]", "2;*", "0;*"},
      {"1", "0", " OPT MAKESPAN: 2 CPU[*] NPV: 88.0392", " OPT MAKESPAN: 0 CPU[*] NPV: 0", "2;*;88.0392", "0;*;0"},
  };
  for (const Case& c : cases) {
    e2e::WorkDirectory dir;
    dir.write("CONFIG.DAT", e2e::configText(costConfig({{"gv_CFG_lnr", "2"}, {"gv_CFG_OBJ", c.obj},
                                                         {"gv_CFG_OBJ2", c.obj2}})));
    dir.write("P1.RCP", kOneActivityProject);
    dir.write("P2.RCP", kEmptyProject);
    const e2e::RunOutput output = dir.run("0\n0\n");
    EXPECT_EQ(e2e::maskCpuTimes(output.console),
              kModePrompt + "BOOT\nINITIALIZED\nPROJECT [1][R][M][E] NR_UDC: 3 CPU[*]" + c.line1 +
                  "\nPROJECT [2][R][M][E] NR_UDC: 2 CPU[*]" + c.line2 + "\n" + kEndPrompt)
        << c.obj << " " << c.obj2;
    EXPECT_EQ(maskedRows(dir.read("RESULTS.CSV")),
              std::string("1;3;3;6;6;4;1;*;") + c.row1 + "\n2;2;2;4;4;4;1;*;" + c.row2 + "\n");
    EXPECT_EQ(output.exitCode, 0);
  }
}

TEST(NormalRunE2e, UnservedPairAndMemoryGuard) {
  {
    e2e::WorkDirectory dir;
    dir.write("CONFIG.DAT", e2e::configText(costConfig({{"gv_CFG_OBJ", "0"}, {"gv_CFG_OBJ2", "0"}})));
    dir.write("P1.RCP", kOneActivityProject);
    const e2e::RunOutput output = dir.run("0\n0\n");
    EXPECT_EQ(e2e::maskCpuTimes(output.console),
              kModePrompt + "BOOT\nINITIALIZED\nPROJECT [1][R][M][E] NR_UDC: 3 CPU[*]\n" + kEndPrompt);
    EXPECT_EQ(maskedRows(dir.read("RESULTS.CSV")), "1;3;3;6;6;4;1;*\n");
  }
  {
    // 4 states at 8 bytes exceed a limit of 0.00001 MB.
    e2e::WorkDirectory dir;
    dir.write("CONFIG.DAT", e2e::configText(costConfig({{"gv_CFG_max_mem", "0.00001"}, {"gv_CFG_IO", "1"}})));
    dir.write("P1.RCP", kOneActivityProject);
    const e2e::RunOutput output = dir.run("0\n0\n");
    EXPECT_EQ(e2e::maskCpuTimes(output.console),
              kModePrompt + "BOOT\nINITIALIZED\nPROJECT [1][R][M][E] NR_UDC: 3 CPU[*]INSUFFICIENT MEMORY: 3.05176e-05 MB "
                            "REQUIRED...\n" +
                  kEndPrompt);
    EXPECT_EQ(maskedRows(dir.read("RESULTS.CSV")), "1;3;3;6;6;4;1;*\n");
  }
  // Automatic storage goes to disk instead; as the label says, a limit of 0 is no limit and
  // -1 is disk storage whatever gv_CFG_IO says. Each solves, with no file left.
  for (const auto& [maxMem, io] : {std::pair{"0.00001", "-1"}, std::pair{"0", "0"}, std::pair{"0", "-1"},
                                   std::pair{"-1", "0"}, std::pair{"-1", "-1"}}) {
    e2e::WorkDirectory dir;
    dir.write("CONFIG.DAT", e2e::configText(costConfig({{"gv_CFG_max_mem", maxMem}, {"gv_CFG_IO", io}})));
    dir.write("P1.RCP", kOneActivityProject);
    const e2e::RunOutput output = dir.run("0\n0\n");
    EXPECT_EQ(e2e::maskCpuTimes(output.console),
              kModePrompt + "BOOT\nINITIALIZED\nPROJECT [1][R][M][E] NR_UDC: 3 CPU[*] OPT NPV: 88.0392 CPU[*]\n" +
                  kEndPrompt)
        << maxMem << " " << io;
    EXPECT_EQ(dir.fileNames(), (std::vector<std::string>{"CONFIG.DAT", "P1.RCP", "RESULTS.CSV"}));
  }
}

TEST(NormalRunE2e, LastProjectNumberAtTheInt32LimitEndsTheLoop) {
  e2e::WorkDirectory dir;
  dir.write("CONFIG.DAT",
            e2e::configText(costConfig({{"gv_CFG_fnr", "2147483647"}, {"gv_CFG_lnr", "2147483647"}})));
  dir.write("P2147483647.RCP", kEmptyProject);
  const e2e::RunOutput output = dir.run("0\n0\n");
  EXPECT_EQ(e2e::maskCpuTimes(output.console),
            kModePrompt + "BOOT\nINITIALIZED\nPROJECT [2147483647][R][M][E] NR_UDC: 2 CPU[*] OPT NPV: 0 CPU[*]\n" +
                kEndPrompt);
  EXPECT_EQ(output.exitCode, 0);
}

TEST(FatalStopE2e, MissingConfigurationFile) {
  e2e::WorkDirectory dir;
  const e2e::RunOutput output = dir.run("0\n");
  EXPECT_EQ(output.console,
            kModePrompt + "BOOT\n\nUnable to open CONFIG.DAT (the configuration file).\nPress any key to quit...");
  EXPECT_EQ(output.exitCode, 1);
  EXPECT_TRUE(dir.fileNames().empty());
}

TEST(FatalStopE2e, BadProjectKeepsTheRowsAlreadyClosed) {
  e2e::WorkDirectory dir;
  dir.write("CONFIG.DAT", e2e::configText(costConfig({{"gv_CFG_lnr", "3"}})));
  dir.write("P1.RCP", kOneActivityProject);
  dir.write("P2.RCP", "3 0\n0 0 1 2\n2 -10 1 3\n");
  dir.write("P3.RCP", kOneActivityProject);
  const e2e::RunOutput output = dir.run("0\n5\n");
  EXPECT_EQ(e2e::maskCpuTimes(output.console),
            kModePrompt +
                "BOOT\nINITIALIZED\nPROJECT [1][R][M][E] NR_UDC: 3 CPU[*] OPT NPV: 88.0392 CPU[*]\nPROJECT [2]\n"
                "Error in project file P2.RCP (project 2). The file ends early or holds something other than a "
                "number where the duration of activity 2, mode 0 belongs.\nPress any key to quit...");
  EXPECT_EQ(output.exitCode, 1);
  EXPECT_EQ(maskedRows(dir.read("RESULTS.CSV")), "1;3;3;6;6;4;1;*;88.0392;*\n");
}

TEST(FatalStopE2e, MissingProjectFileAtEndOfInput) {
  e2e::WorkDirectory dir;
  dir.write("CONFIG.DAT", e2e::configText());
  const e2e::RunOutput output = dir.run("0");
  EXPECT_EQ(output.console,
            kModePrompt + "BOOT\nINITIALIZED\nPROJECT [1]\nUnable to open project file number:1 (P1.RCP).\nPress any key to quit...");
  EXPECT_EQ(output.exitCode, 1);
}

TEST(ResultsFileE2e, UnwritableResultsFileIsToldOnStderrOnly) {
  e2e::WorkDirectory dir;
  dir.write("CONFIG.DAT", e2e::configText(costConfig({})));
  dir.write("P1.RCP", kOneActivityProject);
  e2e::fs::create_directory(dir.work / "RESULTS.CSV");
  const e2e::RunOutput output = dir.run("0\n0\n");
  EXPECT_EQ(e2e::maskCpuTimes(output.console),
            kModePrompt + "BOOT\nINITIALIZED\nPROJECT [1][R][M][E] NR_UDC: 3 CPU[*] OPT NPV: 88.0392 CPU[*]\n" +
                kEndPrompt);
  EXPECT_EQ(std::count(output.errors.begin(), output.errors.end(), '\n'), 1) << output.errors;
  EXPECT_EQ(output.exitCode, 0);
}

namespace {

e2e::RunOutput runExample(const e2e::WorkDirectory& dir, const std::string& example) {
  for (const auto& entry : e2e::fs::directory_iterator(e2e::fs::path(TERVANO_SOURCE_DIR) / "examples" / example)) {
    dir.write(entry.path().filename().string(), e2e::readWholeFile(entry.path()));
  }
  return dir.run("0\n0\n");
}

}  // namespace

TEST(ExamplesE2e, BasicNpvRunRegression) {
  e2e::WorkDirectory dir;
  const e2e::RunOutput output = runExample(dir, "basic");
  EXPECT_EQ(e2e::maskCpuTimes(output.console),
            kModePrompt +
                "BOOT\nINITIALIZED\n"
                "PROJECT [1][R][M][E] NR_UDC: 4 CPU[*] OPT NPV: 136.953 CPU[*]\n"
                "PROJECT [2][R][M][E] NR_UDC: 8 CPU[*] OPT NPV: 141.786 CPU[*]\n"
                "PROJECT [3][R][M][E] NR_UDC: 12 CPU[*] OPT NPV: 234.615 CPU[*]\n" +
                kEndPrompt);
  EXPECT_EQ(output.exitCode, 0);
  EXPECT_EQ(dir.read("RESULTS.CSV").substr(0, dir.read("CONFIG.DAT").size()), dir.read("CONFIG.DAT"));
}

TEST(ExamplesE2e, PattersonMakespanRunRegression) {
  e2e::WorkDirectory dir;
  const e2e::RunOutput output = runExample(dir, "patterson");
  EXPECT_EQ(e2e::maskCpuTimes(output.console),
            kModePrompt + "BOOT\nINITIALIZED\nPROJECT [1][R][M][E] NR_UDC: 18 CPU[*] OPT MAKESPAN: 17.1212 CPU[*]\n" +
                kEndPrompt);
  EXPECT_EQ(output.exitCode, 0);
}

TEST(FatalStopE2e, StopDuringTheSolveLeavesNoPartialRow) {
  // A project file named "1" could be overwritten by a state file: the disk-mode solve stops
  // before it writes any, and the row of the project, begun before the solve, is not written.
  e2e::WorkDirectory dir;
  const std::string config =
      e2e::configText(costConfig({{"PJFileName", ""}, {"PJFileExt", ""}, {"gv_CFG_IO", "1"}}));
  dir.write("CONFIG.DAT", config);
  dir.write("1", kOneActivityProject);
  const e2e::RunOutput output = dir.run("0\n0\n");
  EXPECT_EQ(output.exitCode, 1);
  EXPECT_EQ(dir.read("RESULTS.CSV"), expectedHead(config, ";NPV;CPU NPV (SEC)"));
  EXPECT_EQ(dir.read("1"), kOneActivityProject);
}

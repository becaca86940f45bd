// The results file head, its rows' UDC fields, and the objective dispatch's printing and
// memory guard.
#include <gtest/gtest.h>

#include <fstream>
#include <limits>
#include <sstream>

#include "duration/elementary_network.h"
#include "e2e/e2e_support.h"
#include "base/config.h"
#include "base/fatal.h"
#include "project/results_file.h"
#include "project/solve.h"
#include "base/run_state.h"
#include "udc/udc_network.h"

namespace {

struct StderrCapture {
  std::ostringstream captured;
  std::streambuf* previous = std::cerr.rdbuf(captured.rdbuf());
  ~StderrCapture() { std::cerr.rdbuf(previous); }
};

}  // namespace

TEST(ResultsFile, ObjectiveColumnsByPair) {
  struct Case {
    int obj, obj2;
    const char* columns;
  };
  const Case cases[] = {{0, -1, ";NPV;CPU NPV (SEC)"},
                        {0, 1, ";NPV;CPU NPV (SEC);MAKESPAN"},
                        {0, 0, ";NPV;CPU NPV (SEC)"},
                        {1, -1, ";MAKESPAN;CPU MAKESPAN (SEC)"},
                        {1, 0, ";MAKESPAN;CPU MAKESPAN (SEC);NPV"},
                        {1, 3, ";MAKESPAN;CPU MAKESPAN (SEC);MAKESPAN VARIANCE"},
                        {0, 2, ";NPV;CPU NPV (SEC);NPV VARIANCE"},
                        {2, 0, ""},
                        {-1, 1, ""}};
  for (const Case& c : cases) {
    runConfig = RunConfig{};
    runConfig.gv_CFG_OBJ = c.obj;
    runConfig.gv_CFG_OBJ2 = c.obj2;
    EXPECT_EQ(objectiveHeaderColumns(chooseObjectives(runConfig)), c.columns) << c.obj << " " << c.obj2;
  }
  // All four slots, in slot order; the bytes per state count each lane of values: the
  // makespan variance needs the makespan's mean beside it.
  runConfig = RunConfig{};
  runConfig.gv_CFG_OBJ = 0;
  runConfig.gv_CFG_OBJ2 = 3;
  runConfig.gv_CFG_OBJ3 = 1;
  runConfig.gv_CFG_OBJ4 = 2;
  EXPECT_EQ(objectiveHeaderColumns(chooseObjectives(runConfig)),
            ";NPV;CPU NPV (SEC);MAKESPAN VARIANCE;MAKESPAN;NPV VARIANCE");
  EXPECT_EQ(bytesPerState(chooseObjectives(runConfig)), 20);
  runConfig.gv_CFG_OBJ3 = -1;
  runConfig.gv_CFG_OBJ4 = -1;
  EXPECT_EQ(bytesPerState(chooseObjectives(runConfig)), 16);
  runConfig.gv_CFG_OBJ2 = 2;
  EXPECT_EQ(bytesPerState(chooseObjectives(runConfig)), 12);
  runConfig.gv_CFG_OBJ2 = 1;
  EXPECT_EQ(bytesPerState(chooseObjectives(runConfig)), 12);
  runConfig.gv_CFG_OBJ2 = -1;
  EXPECT_EQ(bytesPerState(chooseObjectives(runConfig)), 8);
}

TEST(ResultsFile, HeadIsBlockThreeEmptyLinesAndHeader) {
  e2e::ScratchDirectory dir;
  runConfig = RunConfig{};
  runConfig.gv_CFG_OBJ = 1;
  runConfig.gv_CFG_OBJ2 = 0;
  dir.write("RESULTS.CSV", "old contents\n");
  createResultsFile("RESULTS.CSV", kResultsHeaderLead, chooseObjectives(runConfig));
  std::ostringstream block;
  writeConfigurationBlock(block);
  EXPECT_EQ(dir.read("RESULTS.CSV"),
            block.str() +
                "\n\n\nPROJECT;#ACT;#UDC;#STATES;#ENTRY STATES;MAX #STATES IN MEMORY;MAX UDC SIZE;CPU UDC (SEC);"
                "MAKESPAN;CPU MAKESPAN (SEC);NPV\n");
}

// A results file that cannot be written stops the run: its rows would be lost.
TEST(ResultsFile, UnopenableFileStopsNamingFileAndReason) {
  e2e::ScratchDirectory dir;
  e2e::ConsoleCapture console("\n\n");
  StderrCapture errors;
  EXPECT_THROW(createResultsFile("missing-dir/RESULTS.CSV", kResultsHeaderLead, chooseObjectives(runConfig)),
               FatalStop);
  EXPECT_THROW(appendResultsRow("missing-dir/RESULTS.CSV", "lost"), FatalStop);
  const std::string told = errors.captured.str();
  EXPECT_EQ(std::count(told.begin(), told.end(), '\n'), 2);
  EXPECT_NE(told.find("missing-dir/RESULTS.CSV for writing: No such file or directory."), std::string::npos);
}

TEST(ResultsFile, UdcFieldsCarry64BitStateCounts) {
  elementaryNetwork = ElementaryNetwork{};
  elementaryNetwork.nElementary = 12;
  udcNetwork = UdcNetwork{};
  udcNetwork.udcCount = 3;
  udcNetwork.udcTotalStates = 5000000000ull;
  udcNetwork.udcPeakStates = 4294967296ull;
  udcNetwork.udcMaxMembers = 2;
  std::ostringstream row;
  writeUdcFields(row, 0.25);
  EXPECT_EQ(row.str(), ";12;3;5000000000;5000000000;4294967296;2;0.25");
  elementaryNetwork = ElementaryNetwork{};
  udcNetwork = UdcNetwork{};
}

TEST(SolveDispatch, MemoryGuardWithoutAutomaticStorage) {
  udcNetwork = UdcNetwork{};
  udcNetwork.udcPeakStates = 131072;  // exactly 1 MB at 8 bytes per state
  runConfig = RunConfig{};
  runConfig.gv_CFG_OBJ = 0;
  runConfig.gv_CFG_OBJ2 = -1;
  runConfig.gv_CFG_max_mem = 0.99;
  for (int io : {0, 1}) {
    runConfig.gv_CFG_IO = io;
    e2e::ConsoleCapture console;
    std::ostringstream row;
    solveProject(row, chooseObjectives(runConfig));
    EXPECT_EQ(console.text(), "INSUFFICIENT MEMORY: 1 MB REQUIRED...");
    EXPECT_EQ(row.str(), "");
    EXPECT_EQ(useDiskStorage, io == 1);
  }
  runConfig.gv_CFG_OBJ = 1;
  runConfig.gv_CFG_OBJ2 = 0;  // two objectives: 12 bytes per state
  runConfig.gv_CFG_max_mem = 1.25;
  runConfig.gv_CFG_IO = 0;
  e2e::ConsoleCapture console;
  std::ostringstream row;
  solveProject(row, chooseObjectives(runConfig));
  EXPECT_EQ(console.text(), "INSUFFICIENT MEMORY: 1.5 MB REQUIRED...");
  udcNetwork = UdcNetwork{};
}

TEST(SolveDispatch, UnservedObjectivePairsAddNothing) {
  udcNetwork = UdcNetwork{};
  udcNetwork.udcPeakStates = 1u << 30;
  runConfig = RunConfig{};
  const int pairs[][2] = {{0, 0}, {1, 1}, {2, -1}, {3, 0}};
  for (const auto& pair : pairs) {
    runConfig.gv_CFG_OBJ = pair[0];
    runConfig.gv_CFG_OBJ2 = pair[1];
    e2e::ConsoleCapture console;
    std::ostringstream row;
    solveProject(row, chooseObjectives(runConfig));
    EXPECT_EQ(console.text(), "");
    EXPECT_EQ(row.str(), "");
  }
  udcNetwork = UdcNetwork{};
}

// Values the project cannot produce are lost precision and never reach the console or a file.
TEST(SolveDispatch, ValuesOutsideWhatTheProjectCanProduceStop) {
  elementaryNetwork = ElementaryNetwork{};
  elementaryNetwork.elemCost = {0, -10, 100};
  elementaryNetwork.npvLowerBound = -11;
  elementaryNetwork.makespanUpperBound = 5;
  runConfig = RunConfig{};
  runConfig.PJFileName = "P";
  runConfig.PJFileExt = ".RCP";
  projectNumber = 1;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const struct {
    float value;
    bool isMakespan;
    bool abandon;
    bool accepted;
  } cases[] = {
      {100, false, false, true},   {-11, false, false, true},     {0, true, false, true},
      {5, true, false, true},      {100.5f, false, false, false}, {-12, false, false, false},
      {nan, false, false, false},  {inf, false, false, false},    {-1, false, true, false},
      {-0.5f, true, false, false}, {6, true, false, false},       {nan, true, false, false},
  };
  for (const auto& c : cases) {
    runConfig.gv_CFG_abandon = c.abandon;
    e2e::ConsoleCapture console("\n");
    if (c.accepted) {
      EXPECT_NO_THROW(checkSolvedValue(c.value, c.isMakespan)) << c.value;
    } else {
      EXPECT_THROW(checkSolvedValue(c.value, c.isMakespan), FatalStop) << c.value;
      EXPECT_NE(console.text().find(std::string("as the ") + (c.isMakespan ? "makespan" : "NPV") +
                                    " of project file P1.RCP (project 1), outside the "),
                std::string::npos)
          << console.text();
    }
  }
  elementaryNetwork = ElementaryNetwork{};
  runConfig = RunConfig{};
}

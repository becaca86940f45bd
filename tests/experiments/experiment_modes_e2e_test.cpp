// The three experiment modes end to end with the built program, starting from the example
// working directories: console, RES_T2.CSV, .T3B instances, METRICS.CSV and RESULTS.CSV.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"
#include "metrics/metrics_test_support.h"

namespace {

using mtest::splitFields;
using mtest::splitLines;

const std::string kModePrompt =
    "Choose test [0 = NO TEST CONFIG ONLY | 1 = TOPOLOGIES TEST | 2 = PROJECT VARIANCE TEST | 3 = METRICS TEST]\n\n\n";
const std::string kEndPrompt = "\n\nTest complete. Press any key to exit application...\n";
const std::string kVarianceHeader =
    "PROJECT;TEST2;SCV;RATE;#ACT;#UDC;#STATES;#ENTRY STATES;MAX #STATES IN MEMORY;MAX UDC SIZE;CPU UDC (SEC)";

void copyExample(const e2e::WorkDirectory& dir, const std::string& example) {
  const e2e::fs::path source = e2e::fs::path(TERVANO_SOURCE_DIR) / "examples" / example;
  for (const auto& entry : e2e::fs::directory_iterator(source))
    dir.write(entry.path().filename().string(), e2e::readWholeFile(entry.path()));
}

// Lines after the configuration block and its three empty lines: header, then rows.
std::vector<std::string> tableLines(const std::string& text) {
  std::vector<std::string> lines = splitLines(text);
  EXPECT_GE(lines.size(), 75u);
  for (int i = 71; i < 74 && i < static_cast<int>(lines.size()); ++i) EXPECT_EQ(lines[i], "");
  return std::vector<std::string>(lines.begin() + std::min<size_t>(74, lines.size()), lines.end());
}

// Rows with the given columns (1-based) replaced by "*".
std::string masked(const std::vector<std::string>& rows, std::vector<int> columns) {
  std::string text;
  for (const std::string& row : rows) {
    const std::vector<std::string> fields = splitFields(row);
    for (size_t i = 0; i < fields.size(); ++i) {
      const bool hide = std::find(columns.begin(), columns.end(), static_cast<int>(i) + 1) != columns.end();
      text += (i ? ";" : "") + (hide ? std::string("*") : fields[i]);
    }
    text += "\n";
  }
  return text;
}

std::string configLine(const std::string& text, int lineNumber) { return splitLines(text)[lineNumber - 1]; }

const std::string kBetaTestOfTheExample =
    "BETA DISTRIBUTION ACCURACY TEST\n"
    "ACT: 1 DUR: 10 BETA: 9.92335 SCV: 0.25 BETA: 0.251561 ITERATIONS: 1000\n"
    "ACT: 2 DUR: 4 BETA: 4.00781 SCV: 0.25 BETA: 0.254863 ITERATIONS: 1000\n"
    "ACT: 3 DUR: 7 BETA: 7.06966 SCV: 0.25 BETA: 0.243123 ITERATIONS: 1000\n"
    "ACT: 1 DUR: 10 BETA: 9.53865 SCV: 1 BETA: 0.973005 ITERATIONS: 1000\n"
    "ACT: 2 DUR: 4 BETA: 3.94875 SCV: 1 BETA: 1.04502 ITERATIONS: 1000\n"
    "ACT: 3 DUR: 7 BETA: 6.73328 SCV: 1 BETA: 0.966965 ITERATIONS: 1000\n"
    "ACT: 1 DUR: 10 BETA: 10.1974 SCV: 2 BETA: 2.0322 ITERATIONS: 1000\n"
    "ACT: 2 DUR: 4 BETA: 4.09965 SCV: 2 BETA: 2.1576 ITERATIONS: 1000\n"
    "ACT: 3 DUR: 7 BETA: 7.09484 SCV: 2 BETA: 2.25726 ITERATIONS: 1000\n";

const std::string kTopologyColumns = "SIZE;TOPOLOGY;IRQ;MODULES;ABANDON;PAYOFF FACTOR;RATE;PTS;SCV;OPT;";

// The rows of a topology results file by their nine leading fields.
std::map<std::string, std::vector<std::string>> topologyRows(const std::string& text) {
  std::map<std::string, std::vector<std::string>> rows;
  const std::vector<std::string> lines = tableLines(text);
  for (size_t i = 1; i < lines.size(); ++i) {
    const std::vector<std::string> fields = splitFields(lines[i]);
    std::string lead;
    for (size_t f = 0; f < 9 && f < fields.size(); ++f) lead += fields[f] + ";";
    rows[lead] = fields;
  }
  return rows;
}

// The example: the beta test as before, then seven networks under 48 combinations each.
// Both files hold a row per network and combination; SIM PH meets OPT within its interval
// in about 95 % of the rows; a second run reads the network files back and repeats every
// row; a network the user put in place is read and never replaced.
TEST(TopologyModeE2e, ExampleRunsTheBetaTestThenTheTopologyTest) {
  e2e::WorkDirectory dir;
  copyExample(dir, "mode1");
  const e2e::RunOutput out = dir.run("1\n0\n0\n");
  EXPECT_EQ(out.exitCode, 0);
  const std::string console = e2e::maskCpuTimes(out.console);
  EXPECT_EQ(console.rfind(kModePrompt + kBetaTestOfTheExample + "TOPOLOGY TEST\n", 0), 0u) << console;
  const char* const networks[] = {"[1] SIZE: 1 TOPOLOGY: 1", "[2] SIZE: 2 TOPOLOGY: 1", "[3] SIZE: 2 TOPOLOGY: 2",
                                  "[4] SIZE: 3 TOPOLOGY: 1", "[5] SIZE: 3 TOPOLOGY: 2", "[6] SIZE: 3 TOPOLOGY: 3",
                                  "[7] SIZE: 3 TOPOLOGY: 4"};
  for (const char* network : networks)
    EXPECT_NE(console.find(std::string("NETWORK ") + network + "[W] COMBINATIONS: 48 SIM PH IN INTERVAL: "),
              std::string::npos)
        << network;
  EXPECT_NE(console.find("TOPOLOGY TEST DONE: 7 NETWORKS, 336 ROWS IN EACH FILE\nSIM PH WITHIN ITS 95% INTERVAL OF "
                         "OPT: "),
            std::string::npos);
  EXPECT_NE(console.find("SCV       NPV ROWS   NPV GAP       NPV GAP %   MKSPN ROWS  MKSPN GAP     MKSPN GAP %\n0.25 "),
            std::string::npos);
  EXPECT_TRUE(console.size() > kEndPrompt.size() &&
              console.compare(console.size() - kEndPrompt.size(), kEndPrompt.size(), kEndPrompt) == 0);

  const std::string npvText = dir.read("TOPTEST_NPV.CSV");
  const std::string makespanText = dir.read("TOPTEST_MKSPN.CSV");
  EXPECT_EQ(configLine(npvText, 11), "NETWORKS/NET");
  EXPECT_EQ(tableLines(npvText)[0],
            kTopologyColumns + "MAKESPAN;SIM PH;HW PH;SIM BETA;HW BETA;SIM PH MAKESPAN;SIM BETA MAKESPAN");
  EXPECT_EQ(tableLines(makespanText)[0],
            kTopologyColumns + "NPV;SIM PH;HW PH;SIM BETA;HW BETA;SIM PH NPV;SIM BETA NPV");
  const auto npvRows = topologyRows(npvText);
  const auto makespanRows = topologyRows(makespanText);
  ASSERT_EQ(npvRows.size(), 336u);
  ASSERT_EQ(makespanRows.size(), 336u);
  int within = 0;
  for (const auto* rows : {&npvRows, &makespanRows})
    for (const auto& [lead, fields] : *rows) {
      ASSERT_EQ(fields.size(), 17u) << lead;
      within += std::fabs(std::stod(fields[11]) - std::stod(fields[9])) <= std::stod(fields[12]) ? 1 : 0;
    }
  EXPECT_GE(within, 620);
  // One activity of mean 10, exponential: -5 + 0.9 x pay-off x 0.1 / (0.01 + 0.1), the pay-off
  // being 1.5 x 5 / 0.9; it always ends after its duration, 10 on average.
  EXPECT_EQ(npvRows.at("1;1;0;0;0;1.5;0.01;0.9;1;")[9], "1.81818");
  EXPECT_EQ(npvRows.at("1;1;0;0;0;1.5;0.01;0.9;1;")[10], "10");
  EXPECT_EQ(makespanRows.at("1;1;0;0;0;1.5;0.01;0.9;1;")[9], "10");
  // Two activities in parallel form a module of alternatives; two in series do not.
  EXPECT_NE(npvRows.at("2;1;0;0;0;1.5;0.01;0.9;1;")[9], npvRows.at("2;1;0;1;0;1.5;0.01;0.9;1;")[9]);
  EXPECT_EQ(npvRows.at("2;2;0;0;0;1.5;0.01;0.9;1;")[9], npvRows.at("2;2;0;1;0;1.5;0.01;0.9;1;")[9]);
  const std::string chainOfTwo =
      "4\n0\n0\n1\n0 1 0 0 1 0\n1 1 0\n1\n10 1 0 -5 1 0\n1 2 1\n1\n4 1 0 -10 1 0\n1 3 2\n1\n0 1 0 0 1 0\n0 3\n";
  EXPECT_EQ(dir.read("NETWORKS/NET3.dat").substr(0, chainOfTwo.size()), chainOfTwo);

  // Again with fewer combinations: the network files are read back and give the same exact
  // values (the simulated ones follow another stream of draws).
  dir.write("TEST_TOP.DAT",
            "3\n1 1\n10\n4711\n2 3 4\n10 4 7\n-5 -10 -3\n100\n0 1 0\n1 1.5\n1 0.02\n1 0.9\n3 0.25 1 2\n");
  const e2e::RunOutput again = dir.run("1\n0\n0\n");
  EXPECT_NE(again.console.find("NETWORK [7] SIZE: 3 TOPOLOGY: 4[R]"), std::string::npos);
  for (const auto& [file, first] :
       {std::pair{"TOPTEST_NPV.CSV", &npvRows}, std::pair{"TOPTEST_MKSPN.CSV", &makespanRows}}) {
    const auto rows = topologyRows(dir.read(file));
    EXPECT_EQ(rows.size(), 21u);
    for (const auto& [lead, fields] : rows) {
      ASSERT_EQ(first->count(lead), 1u) << lead;
      EXPECT_EQ(fields[9], first->at(lead)[9]) << lead;
      EXPECT_EQ(fields[10], first->at(lead)[10]) << lead;
    }
  }

  // A network of the user's own in place of NET2: its two activities share one resource.
  const std::string own =
      "4\n0\n1\n1\n1\n0 1 0 0 1 0 0\n2 1 2 0\n1\n1 1 0 0 1 0 1\n1 3 1\n1\n1 1 0 0 1 0 1\n1 3 2\n"
      "1\n0 1 0 0 1 0 0\n0 3\n";
  dir.write("NETWORKS/NET2.dat", own);
  dir.write("TEST_TOP.DAT", "3\n2 1\n1000\n4711\n2 1 0\n10 4 7\n-5 -10 -3\n100\n0 0 0\n1 1.5\n1 0.01\n1 1\n1 1\n");
  const e2e::RunOutput user = dir.run("1\n0\n0\n");
  EXPECT_NE(user.console.find("NETWORK [2] SIZE: 2 TOPOLOGY: 1[R]"), std::string::npos);
  EXPECT_EQ(dir.read("NETWORKS/NET2.dat"), own);
  // One after the other: the makespan is the sum of the means.
  EXPECT_EQ(topologyRows(dir.read("TOPTEST_MKSPN.CSV")).at("2;1;0;0;0;1.5;0.01;1;1;")[9], "14");
}

// From the second topology of size 2 on, without samples: no simulation, empty columns.
TEST(TopologyModeE2e, FirstSizeAndTopologyWithoutSamples) {
  e2e::WorkDirectory dir;
  copyExample(dir, "mode1");
  dir.write("TEST_TOP.DAT", "3\n2 2\n0\n4711\n2 3 4\n10 4 7\n-5 -10 -3\n0\n0 0 1\n1 1.5\n1 0.01\n1 0.9\n1 1\n");
  const e2e::RunOutput out = dir.run("1\n0\n0\n");
  EXPECT_EQ(out.exitCode, 0);
  const std::string console = e2e::maskCpuTimes(out.console);
  EXPECT_EQ(console, kModePrompt +
                         "TOPOLOGY TEST\n"
                         "NETWORK [3] SIZE: 2 TOPOLOGY: 2[W] COMBINATIONS: 1 CPU[*]\n"
                         "NETWORK [4] SIZE: 3 TOPOLOGY: 1[W] COMBINATIONS: 1 CPU[*]\n"
                         "NETWORK [5] SIZE: 3 TOPOLOGY: 2[W] COMBINATIONS: 1 CPU[*]\n"
                         "NETWORK [6] SIZE: 3 TOPOLOGY: 3[W] COMBINATIONS: 1 CPU[*]\n"
                         "NETWORK [7] SIZE: 3 TOPOLOGY: 4[W] COMBINATIONS: 1 CPU[*]\n"
                         "TOPOLOGY TEST DONE: 5 NETWORKS, 5 ROWS IN EACH FILE\n"
                         "NO SIMULATION (N < 1 OR NO ROW)\n" +
                         kEndPrompt);
  const auto rows = topologyRows(dir.read("TOPTEST_NPV.CSV"));
  ASSERT_EQ(rows.size(), 5u);
  for (const auto& [lead, fields] : rows) {
    EXPECT_EQ(fields.size(), 17u);
    for (size_t f = 11; f < fields.size(); ++f) EXPECT_EQ(fields[f], "") << lead;
  }
  EXPECT_FALSE(dir.exists("NETWORKS/NET1.dat"));
  EXPECT_TRUE(dir.exists("NETWORKS/NET7.dat"));
}

TEST(TopologyModeE2e, NoSamplesNoTestButTheConfigurationIsStillRead) {
  e2e::WorkDirectory dir;
  dir.write("TEST_TOP.DAT", "1 1 1 0 5 1 10 -5 10 0 0 0 0 0 0 1 1");
  e2e::RunOutput out = dir.run("1\n0\n");
  // Without CONFIG.DAT the configuration reader stops after the (empty) beta test.
  EXPECT_EQ(out.exitCode, 1);
  EXPECT_EQ(out.console.find("BETA DISTRIBUTION"), std::string::npos);
  EXPECT_NE(out.console.find("Unable to open CONFIG.DAT (the configuration file)."), std::string::npos);
}

TEST(TopologyModeE2e, ShortOrMissingInputStops) {
  e2e::WorkDirectory dir;
  copyExample(dir, "mode1");
  // Durations and SCV levels that the fit and Cheng's generators cannot handle stop at once
  // (the scale search alone would take billions of steps at SCV 1e9 and never end at 1e20).
  const std::pair<std::string, std::string> cases[] = {
      {"3\n1 1\n1000\n4711\n2 3 4\n10 4 7\n-5 -10\n",
       "TEST_TOP.DAT ends early or holds a value that cannot be read (costs)."},
      {"3\n1 1\n1000\n4711\n2 3 4\n10 1e-320 7\n-5 -10 -3\n100\n0 1 2\n1 1.5\n2 0.01 0.02\n1 0.9\n1 1\n",
       "TEST_TOP.DAT: the duration of inner position 2 is 9.99989e-321; a duration must be 0 or lie within 1e-06 and "
       "1e+12."},
      {"3\n1 1\n1000\n4711\n2 3 4\n10 4 -7\n-5 -10 -3\n100\n0 1 2\n1 1.5\n2 0.01 0.02\n1 0.9\n1 1\n",
       "TEST_TOP.DAT: the duration of inner position 3 is -7; a duration must be 0 or lie within 1e-06 and 1e+12."},
      {"3\n1 1\n1000\n4711\n2 3 4\n10 4 7\n-5 -10 -3\n100\n0 1 2\n1 1.5\n2 0.01 0.02\n1 0.9\n2 1 1e9\n",
       "TEST_TOP.DAT: SCV level 2 is 1e+09; the beta test takes SCV levels within 0.001 and 1000."},
      {"3\n1 1\n1000\n4711\n2 3 4\n10 4 7\n-5 -10 -3\n100\n0 1 2\n1 1.5\n2 0.01 0.02\n1 0.9\n1 1e20\n",
       "TEST_TOP.DAT: SCV level 1 is 1e+20; the beta test takes SCV levels within 0.001 and 1000."},
      {"3\n1 1\n1000\n4711\n2 3 4\n10 4 7\n-5 -10 -3\n100\n0 1 2\n1 1.5\n2 0.01 0.02\n1 0.9\n1 1e-300\n",
       "TEST_TOP.DAT: SCV level 1 is 1e-300; the beta test takes SCV levels within 0.001 and 1000."},
      // The topology test's values, and the samples it would keep.
      {"3\n1 1\n1000\n4711\n2 3 4\n10 4 7\n-5 -10 -3\n100\n0 1 2\n1 1.5\n2 0.01 0.02\n1 1.5\n1 1\n",
       "TEST_TOP.DAT: the PTS value is 1.5; it must lie within 0 and 1."},
      {"3\n1 1\n1000\n4711\n2 3 4\n10 4 7\n-5 -10 -3\n100\n0 1 2\n1 1.5\n2 0.01 -0.02\n1 0.9\n1 1\n",
       "TEST_TOP.DAT: the discount rate is -0.02; it must be finite and at least 0."},
      {"3\n1 1\n1000\n4711\n2 3 4\n10 4 7\n-5 -10 -3\n0\n0 1 2\n1 1.5\n2 0.01 0.02\n1 0.9\n1 1\n",
       "TEST_TOP.DAT: the queue capacity is 0; it must be finite and at least 1."},
      {"3\n1 1\n1000\n4711\n2 3 -4\n10 4 7\n-5 -10 -3\n100\n0 1 2\n1 1.5\n2 0.01 0.02\n1 0.9\n1 1\n",
       "TEST_TOP.DAT: the number of topologies of a size is -4; it must be finite and at least 0."},
      {"10\n1 1\n10\n4711\n0 0 0 0 0 0 0 0 0 1\n1 1 1 1 1 1 1 1 1 1\n0 0 0 0 0 0 0 0 0 0\n100\n0 0 0\n1 1\n1 0\n1 1\n"
       "1 1\n",
       "TEST_TOP.DAT: size 10 asks for networks of 10 inner activities; the topology test enumerates them up to 9 (set "
       "its number of topologies to 0)."},
      {"3\n1 1\n20000000\n4711\n2 3 4\n10 4 7\n-5 -10 -3\n100\n0 1 2\n1 1.5\n2 0.01 0.02\n1 0.9\n2 1 2\n",
       "TEST_TOP.DAT: 20000000 samples of 3 durations at 2 SCV levels are 1.2e+08 samples; the topology test keeps "
       "them "
       "all and takes at most 1e+08."},
  };
  e2e::RunOutput out;
  for (const auto& [input, message] : cases) {
    dir.write("TEST_TOP.DAT", input);
    out = dir.run("1\n0\n", 10);
    EXPECT_FALSE(out.timedOut);
    EXPECT_EQ(out.exitCode, 1);
    EXPECT_EQ(out.console, kModePrompt + "\n" + message + "\nPress any key to quit...");
  }
  // A network file that is not of its size, and a queue too short for two activities at once.
  const std::pair<std::string, std::string> midRun[] = {
      {"3\n2 1\n0\n4711\n2 3 4\n10 4 7\n-5 -10 -3\n100\n0 0 0\n1 1.5\n1 0.01\n1 0.9\n1 1\n",
       "\nThe network file NETWORKS/NET2.dat holds 3 activities; a network of size 2 has 4: the dummy start first, "
       "its 2 inner activities, the dummy end last.\nPress any key to quit..."},
      {"3\n2 1\n10\n4711\n1 1 0\n10 4 7\n-5 -10 -3\n1\n0 0 0\n1 1.5\n1 0.01\n1 0.9\n1 1\n",
       "\nThe simulation of the policy needs more than 1 completions pending at once, the queue capacity of "
       "TEST_TOP.DAT; raise it there.\nPress any key to quit..."},
  };
  e2e::fs::create_directory(dir.work / "NETWORKS");
  dir.write("NETWORKS/NET2.dat", "3\n0\n0\n1\n0 1 0 0 1 0\n1 1 0\n1\n1 1 0 0 1 0\n1 2 1\n1\n0 1 0 0 1 0\n0 2\n");
  for (const auto& [input, message] : midRun) {
    dir.write("TEST_TOP.DAT", input);
    out = dir.run("1\n0\n", 20);
    EXPECT_EQ(out.exitCode, 1);
    EXPECT_NE(out.console.find(message), std::string::npos) << out.console;
    e2e::fs::remove(dir.work / "NETWORKS/NET2.dat");
  }
  e2e::fs::remove(dir.work / "TEST_TOP.DAT");
  out = dir.run("1\n0\n");
  EXPECT_EQ(out.exitCode, 1);
  EXPECT_EQ(out.console, kModePrompt + "\nUnable to open file.\nPress any key to quit...");
}

TEST(VarianceModeE2e, ExampleRowsAndTheirLayout) {
  e2e::WorkDirectory dir;
  copyExample(dir, "mode2");
  const e2e::RunOutput out = dir.run("2\n0\n");
  ASSERT_EQ(out.exitCode, 0) << out.console;
  EXPECT_EQ(out.console.rfind(kModePrompt + "BOOT\nINITIALIZED\n[1][2]METRICS OBTAINED\n"
                                            "PROJECT [1][R][M][E] SCV: 1 RATE: 0.02 NR_UDC: 19 CPU[",
                              0),
            0u);
  const std::vector<std::string> lines = tableLines(dir.read("RES_T2.CSV"));
  ASSERT_EQ(lines.size(), 1u + 2 * 6 * 2);
  EXPECT_EQ(lines[0], kVarianceHeader + ";NPV;CPU NPV (SEC)");
  const std::vector<std::string> rows(lines.begin() + 1, lines.end());
  for (const std::string& row : rows) {
    const std::vector<std::string> fields = splitFields(row);
    const bool twoObjectives = fields[1] == "2" || fields[1] == "5";
    EXPECT_EQ(fields.size(), twoObjectives ? 14u : 13u) << row;
  }
  // Pinned results: the variants change exactly what they should (CPU columns masked).
  EXPECT_EQ(masked(rows, {11, 13}),
            "1;0;1;0.02;15;19;105;105;44;3;*;14.3107;*\n"
            "1;0;0.5;0.02;20;44;150;150;25;3;*;14.2771;*\n"
            "1;1;1;0.02;15;17;74;74;28;3;*;14.3107;*\n"
            "1;1;0.5;0.02;20;34;100;100;20;3;*;14.1145;*\n"
            "1;2;1;0.02;15;19;105;105;44;3;*;7.42586;*;11.4443\n"
            "1;2;0.5;0.02;20;44;150;150;25;3;*;7.0375;*;12.0653\n"
            "1;3;1;0.02;15;19;105;105;44;3;*;67.303;*\n"
            "1;3;0.5;0.02;20;44;150;150;25;3;*;68.0062;*\n"
            "1;4;1;0.02;15;19;105;105;44;3;*;1.04847e+06;*\n"
            "1;4;0.5;0.02;20;44;150;150;25;3;*;1.05942e+06;*\n"
            "1;5;1;0.02;15;44;411;411;104;4;*;7.13507;*;10.7991\n"
            "1;5;0.5;0.02;20;116;726;726;92;4;*;6.84864;*;11.2454\n"
            "2;0;1;0.02;6;6;10;10;4;1;*;16.5264;*\n"
            "2;0;0.5;0.02;10;10;14;14;4;1;*;16.5017;*\n"
            "2;1;1;0.02;6;6;10;10;4;1;*;16.5264;*\n"
            "2;1;0.5;0.02;10;10;14;14;4;1;*;16.5017;*\n"
            "2;2;1;0.02;6;6;10;10;4;1;*;4.74722;*;16.5264\n"
            "2;2;0.5;0.02;10;10;14;14;4;1;*;4.74722;*;16.5017\n"
            "2;3;1;0.02;6;6;10;10;4;1;*;33.8229;*\n"
            "2;3;0.5;0.02;10;10;14;14;4;1;*;33.7951;*\n"
            "2;4;1;0.02;6;6;10;10;4;1;*;62110.9;*\n"
            "2;4;0.5;0.02;10;10;14;14;4;1;*;62059.9;*\n"
            "2;5;1;0.02;6;5;18;18;9;2;*;3.56505;*;15.927\n"
            "2;5;0.5;0.02;10;17;38;38;9;2;*;3.34135;*;16.0872\n");
  // The metrics of the unchanged projects come first.
  EXPECT_EQ(splitLines(dir.read("METRICS.CSV")).size(), 3u);
}

// A variance in the slots: every row carries it after the values it carries without one, the
// makespan-then-NPV variants 2 and 5 too.
TEST(VarianceModeE2e, VariancesFollowInEveryVariant) {
  e2e::WorkDirectory dir;
  copyExample(dir, "mode2");
  std::vector<std::string> config = splitLines(dir.read("CONFIG.DAT"));
  ASSERT_GT(config.size(), 33u);
  config[32] = "2";  // gv_CFG_OBJ2: the NPV variance
  std::string text;
  for (const std::string& line : config) text += line + "\n";
  dir.write("CONFIG.DAT", text);
  const e2e::RunOutput out = dir.run("2\n0\n");
  ASSERT_EQ(out.exitCode, 0) << out.console;
  const std::vector<std::string> lines = tableLines(dir.read("RES_T2.CSV"));
  ASSERT_EQ(lines.size(), 1u + 2 * 6 * 2);
  EXPECT_EQ(lines[0], kVarianceHeader + ";NPV;CPU NPV (SEC);NPV VARIANCE");
  for (size_t i = 1; i < lines.size(); ++i) {
    const std::vector<std::string> fields = splitFields(lines[i]);
    const bool makespanFirst = fields[1] == "2" || fields[1] == "5";
    ASSERT_EQ(fields.size(), makespanFirst ? 15u : 14u) << lines[i];
    EXPECT_GT(std::stod(fields.back()), 0.0) << lines[i];
  }
  // The values of the run without the variance stay (variant 0 and 2 of project 1, SCV 1).
  EXPECT_EQ(splitFields(lines[1])[11], "14.3107");
  EXPECT_EQ(splitFields(lines[5])[11], "7.42586");
  EXPECT_EQ(splitFields(lines[5])[13], "11.4443");
}

TEST(VarianceModeE2e, ZeroPassesRunNothing) {
  e2e::WorkDirectory dir;
  copyExample(dir, "mode2");
  dir.write("TEST2.DAT", "1 0.02\n1\n1 1\n0\n1 -20 -5\n1 0 1.5 2.5\n5\n");
  const e2e::RunOutput out = dir.run("2\n0\n");
  EXPECT_EQ(out.exitCode, 0);
  EXPECT_EQ(out.console, kModePrompt + "BOOT\nINITIALIZED\n[1][2]METRICS OBTAINED\n" + kEndPrompt);
  const std::vector<std::string> lines = tableLines(dir.read("RES_T2.CSV"));
  EXPECT_EQ(lines, std::vector<std::string>{kVarianceHeader + ";NPV;CPU NPV (SEC)"});
}

TEST(VarianceModeE2e, NegativeCountsRunOncePerProjectLikeTheNormalRun) {
  e2e::WorkDirectory dir;
  copyExample(dir, "mode2");
  // Rate 0.01 as gv_rate, SCV factor 1, nothing replaced: the normal run's values.
  dir.write("TEST2.DAT", "1 0.01\n1\n1 1\n-1\n-1\n-1\n-2\n");
  const e2e::RunOutput out = dir.run("2\n0\n");
  ASSERT_EQ(out.exitCode, 0) << out.console;
  const std::vector<std::string> rows = tableLines(dir.read("RES_T2.CSV"));
  ASSERT_EQ(rows.size(), 1u + 2 * 3);
  ASSERT_EQ(dir.run("0\n0\n").exitCode, 0);
  const std::vector<std::string> normal = splitLines(dir.read("RESULTS.CSV"));
  const std::vector<std::string> normalRow1 = splitFields(normal[75]);
  const std::vector<std::string> normalRow2 = splitFields(normal[76]);
  EXPECT_EQ(splitFields(rows[1])[11], normalRow1[8]);
  EXPECT_EQ(splitFields(rows[4])[11], normalRow2[8]);
  EXPECT_EQ(splitFields(rows[1])[4], normalRow1[1]);
}

TEST(VarianceModeE2e, EveryPassReusesTheSameDraws) {
  e2e::WorkDirectory dir;
  copyExample(dir, "mode2");
  // Two PTS pairs: two passes over the tables drawn with the second pair.
  dir.write("TEST2.DAT", "1 0.02\n1\n1 1\n2 0.1 0.2 0.8 0.9\n1 -20 -5\n1 1 0 0\n0\n");
  ASSERT_EQ(dir.run("2\n0\n").exitCode, 0);
  const std::vector<std::string> rows = tableLines(dir.read("RES_T2.CSV"));
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(masked({rows[1]}, {11, 13}), masked({rows[2]}, {11, 13}));
  EXPECT_EQ(masked({rows[3]}, {11, 13}), masked({rows[4]}, {11, 13}));
}

TEST(VarianceModeE2e, ValuesOutsideTheRangesStop) {
  const std::pair<std::string, std::string> cases[] = {
      {"1 -0.5\n1\n1 1\n1 0.8 1.0\n1 -20 -5\n1 0 1.5 2.5\n0\n",
       "\nTEST2.DAT: the discount rate is -0.5; it must be finite and at least 0.\n"},
      {"1 0.02\n1\n1 1\n1 0.8 1e308\n1 -20 -5\n1 0 1.5 2.5\n0\n",
       "\nTEST2.DAT: the PTS bound is 1e+308; it must lie within 0 and 1.\n"},
      {"1 0.02\n1\n1 1\n1 0.8 1.0\n1 -20 -1e13\n1 0 1.5 2.5\n0\n",
       "\nTEST2.DAT: the cost bound is -1e+13; it must lie within -1e+12 and 1e+12.\n"},
      // A pay-off of 20000 is fine; variant 4 cubes it beyond the range.
      {"1 0.02\n1\n1 1\n1 0.8 1.0\n1 -20 -5\n1 1 20000 20000\n4\n",
       "\nError in project file P1.RCP (project 1). After the changes of TEST2.DAT (variant 4), the cost of activity "
       "5, mode 0 is 8e+12; costs and pay-offs must lie within -1e+12 and 1e+12.\n"},
  };
  for (const auto& [input, message] : cases) {
    e2e::WorkDirectory dir;
    copyExample(dir, "mode2");
    dir.write("TEST2.DAT", input);
    const e2e::RunOutput out = dir.run("2\n0\n");
    EXPECT_EQ(out.exitCode, 1);
    EXPECT_NE(out.console.find(message), std::string::npos) << out.console;
    EXPECT_EQ(out.console.find("inf"), std::string::npos);
  }
}

TEST(VarianceModeE2e, MissingInputStops) {
  e2e::WorkDirectory dir;
  copyExample(dir, "mode2");
  e2e::fs::remove(dir.work / "TEST2.DAT");
  const e2e::RunOutput out = dir.run("2\n0\n");
  EXPECT_EQ(out.exitCode, 1);
  EXPECT_EQ(out.console, kModePrompt + "BOOT\n\nUnable to open file.\nPress any key to quit...");
}

TEST(MetricsModeE2e, ExampleInstancesMetricsAndResults) {
  e2e::WorkDirectory dir;
  copyExample(dir, "mode3");
  const e2e::RunOutput out = dir.run("3\n0\n");
  ASSERT_EQ(out.exitCode, 0) << out.console;
  EXPECT_EQ(out.console.rfind(kModePrompt + "BOOT\nPROJECT [1]PROJECT [2]INITIALIZED\n[1][2][3][4][5][6]METRICS "
                                            "OBTAINED\nPROJECT [1][R][M][E] NR_UDC: ",
                              0),
            0u);
  // Two base projects, three instances each, the first three from the first project.
  for (int k = 1; k <= 6; ++k) {
    const std::string text = dir.read("P" + std::to_string(k) + ".T3B");
    EXPECT_EQ(text.substr(0, 2), k <= 3 ? "6\n" : "4\n");
    EXPECT_NE(text.find("|||FILE STRUCTURE (BASE MODULAR NETWORK)|||"), std::string::npos);
  }
  EXPECT_FALSE(dir.exists("P7.T3B"));

  const std::string results = dir.read("RESULTS.CSV");
  EXPECT_EQ(configLine(results, 13), ".T3B");
  EXPECT_EQ(configLine(results, 15), "1");
  EXPECT_EQ(configLine(results, 17), "6");
  // The forced data flags are shown: cost, module, mode, pts, pms and resource data.
  for (int line : {47, 49, 51, 53, 55, 57}) EXPECT_EQ(configLine(results, line), "1") << line;
  const std::vector<std::string> rows = tableLines(results);
  ASSERT_EQ(rows.size(), 7u);
  EXPECT_EQ(masked({rows.begin() + 1, rows.end()}, {8, 10}),
            "1;16;52;171;171;40;3;*;14.3401;*\n"
            "2;17;62;195;195;65;3;*;12.8959;*\n"
            "3;17;58;190;190;48;3;*;28.1843;*\n"
            "4;11;11;15;15;4;1;*;23.0259;*\n"
            "5;9;9;13;13;4;1;*;29.3939;*\n"
            "6;9;9;13;13;4;1;*;3.90892;*\n");

  const std::vector<std::string> metrics = splitLines(dir.read("METRICS.CSV"));
  ASSERT_EQ(metrics.size(), 7u);
  for (const std::string& line : metrics) EXPECT_EQ(splitFields(line).size(), 35u);
  EXPECT_EQ(metrics[4],
            "4;4;0.5;0.5;0.5;0.5;11;5;10;5.61733e-17;11;5;10;5.61733e-17;11;5;10;5.61733e-17;0.1875;0.1875;0.320469;"
            "0.429531;0.635374;0.628219;-24.496;0.709426;7.56975;0.759386;0;0.759386;1;1;75.8465;29.065;0.0298346");
}

// Bounds beyond the ranges, instances named like the base projects, and an instance file
// that cannot be written all stop the run, the base projects untouched.
TEST(MetricsModeE2e, BadBoundsAndUnwritableInstancesStop) {
  const std::string goodInput = "3\n1 0.01 0.05\n1 2 8\n1 0.2 3\n1 -20 -5\n1 0.7 1\n1 1.5 2.5\n";
  const struct {
    std::string input;
    std::string extension;
    bool blockFirstInstance;
    std::string message;
  } cases[] = {
      {"3\n1 0.01 0.05\n1 2 8\n1 0.2 3\n1 -20 -5\n1 1e308 1e308\n1 1.5 2.5\n", ".RCP", false,
       "\nTEST3.DAT: the low PTS is 1e+308; it must lie within 0 and 1.\n"},
      {"3\n1 -1 0.05\n1 2 8\n1 0.2 3\n1 -20 -5\n1 0.7 1\n1 1.5 2.5\n", ".RCP", false,
       "\nTEST3.DAT: the low discount rate is -1; it must be finite and at least 0.\n"},
      {"3\n1 0.01 0.05\n1 2 1e16\n1 0.2 3\n1 -20 -5\n1 0.7 1\n1 1.5 2.5\n", ".RCP", false,
       "\nTEST3.DAT: the high duration is 1e+16; it must lie within 1e-06 and 1e+12.\n"},
      {goodInput, ".T3B", false,
       "\nThe output file P1.T3B of this run would replace the project file P1.T3B that it reads."},
      {goodInput, ".RCP", true,
       "\nThe output file P1.T3B is a directory; the run writes its outputs only as regular files and never "
       "through a link. Remove or rename it; nothing has been written to it.\n"},
  };
  for (const auto& c : cases) {
    e2e::WorkDirectory dir;
    copyExample(dir, "mode3");
    dir.write("TEST3.DAT", c.input);
    const std::string base = dir.read("P1.RCP");
    if (c.extension != ".RCP") {
      std::string config = dir.read("CONFIG.DAT");
      config.replace(config.find("\n.RCP\n"), 6, "\n" + c.extension + "\n");
      dir.write("CONFIG.DAT", config);
      dir.write("P1" + c.extension, base);
      dir.write("P2" + c.extension, dir.read("P2.RCP"));
    }
    if (c.blockFirstInstance) e2e::fs::create_directory(dir.work / "P1.T3B");
    const e2e::RunOutput out = dir.run("3\n0\n");
    EXPECT_EQ(out.exitCode, 1);
    EXPECT_NE(out.console.find(c.message), std::string::npos) << out.console;
    EXPECT_EQ(dir.read("P1" + c.extension), base);
    EXPECT_FALSE(dir.exists("METRICS.CSV"));
  }
}

TEST(MetricsModeE2e, NoInstancesLeaveHeadsOnly) {
  for (const char* count : {"0", "-2"}) {
    e2e::WorkDirectory dir;
    copyExample(dir, "mode3");
    dir.write("TEST3.DAT", std::string(count) + "\n1 0.01 0.05\n1 2 8\n1 0.2 3\n1 -20 -5\n1 0.7 1\n1 1.5 2.5\n");
    const e2e::RunOutput out = dir.run("3\n0\n");
    ASSERT_EQ(out.exitCode, 0) << out.console;
    EXPECT_EQ(out.console, kModePrompt + "BOOT\nPROJECT [1]PROJECT [2]INITIALIZED\nMETRICS OBTAINED\n" + kEndPrompt);
    EXPECT_FALSE(dir.exists("P1.T3B"));
    EXPECT_EQ(tableLines(dir.read("RESULTS.CSV")).size(), 1u);
    EXPECT_EQ(configLine(dir.read("RESULTS.CSV"), 17), "0");
    EXPECT_EQ(splitLines(dir.read("METRICS.CSV")).size(), 1u);
  }
}

TEST(MetricsModeE2e, SwitchesOffRepeatTheBaseProject) {
  e2e::WorkDirectory dir;
  copyExample(dir, "mode3");
  dir.write("TEST3.DAT", "2\n0 0.01 0.05\n0 2 8\n-1 0.2 3\n0 -20 -5\n0 0.7 1\n0 1.5 2.5\n");
  ASSERT_EQ(dir.run("3\n0\n").exitCode, 0);
  EXPECT_EQ(dir.read("P1.T3B"), dir.read("P2.T3B"));
  EXPECT_EQ(dir.read("P3.T3B"), dir.read("P4.T3B"));
  const std::vector<std::string> rows = tableLines(dir.read("RESULTS.CSV"));
  ASSERT_EQ(rows.size(), 5u);
  // Solving the copies gives the base projects' own results.
  ASSERT_EQ(dir.run("0\n0\n").exitCode, 0);
  const std::vector<std::string> normal = tableLines(dir.read("RESULTS.CSV"));
  ASSERT_EQ(normal.size(), 3u);
  EXPECT_EQ(splitFields(rows[1])[8], splitFields(normal[1])[8]);
  EXPECT_EQ(splitFields(rows[2])[8], splitFields(normal[1])[8]);
  EXPECT_EQ(splitFields(rows[3])[8], splitFields(normal[2])[8]);
  EXPECT_EQ(splitFields(rows[4])[8], splitFields(normal[2])[8]);
}

TEST(MetricsModeE2e, FailedIdentificationShortensTheMetricsRow) {
  e2e::WorkDirectory dir;
  copyExample(dir, "mode3");
  // A member limit of 1 fails every project with activities in parallel (the first one).
  std::string config = dir.read("CONFIG.DAT");
  std::vector<std::string> lines = splitLines(config);
  lines[18] = "1";
  config.clear();
  for (const std::string& line : lines) config += line + "\n";
  dir.write("CONFIG.DAT", config);
  dir.write("TEST3.DAT", "1\n0 0.01 0.05\n0 2 8\n0 0.2 3\n0 -20 -5\n0 0.7 1\n0 1.5 2.5\n");
  const e2e::RunOutput out = dir.run("3\n0\n");
  ASSERT_EQ(out.exitCode, 0) << out.console;
  const std::vector<std::string> metrics = splitLines(dir.read("METRICS.CSV"));
  ASSERT_EQ(metrics.size(), 3u);
  EXPECT_EQ(splitFields(metrics[1]).size(), 27u);
  EXPECT_EQ(splitFields(metrics[2]).size(), 35u);
}

}  // namespace

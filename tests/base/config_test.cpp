// CONFIG.DAT reading rules, the configuration block and its read-back.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"
#include "base/config.h"
#include "base/fatal.h"
#include "base/version.h"

namespace {

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

std::string firstLines(const std::string& text, int count) {
  std::string kept;
  std::istringstream in(text);
  std::string line;
  for (int i = 0; i < count && std::getline(in, line); ++i) kept += line + "\n";
  return kept;
}

void readConfigText(const e2e::ScratchDirectory& dir, const std::string& text) {
  dir.write("CONFIG.DAT", text);
  runConfig = RunConfig{};
  readConfiguration();
}

std::string blockText() {
  std::ostringstream out;
  writeConfigurationBlock(out);
  return out.str();
}

}  // namespace

TEST(ConfigurationReader, ReadsEveryKeyInFileOrder) {
  e2e::ScratchDirectory dir;
  readConfigText(dir, e2e::configText({{"PJFileName", "dir/PRJ_"},
                                       {"PJFileExt", ".SM"},
                                       {"gv_CFG_fnr", "3"},
                                       {"gv_CFG_lnr", "9"},
                                       {"gv_bits", "12"},
                                       {"gv_CFG_mxn_UDC", "5000"},
                                       {"gv_CFG_mxn_UDC_links", "7"},
                                       {"gv_CFG_mxn_UDC_prr", "-1"},
                                       {"gv_CFG_mxn_ranks", "2"},
                                       {"gv_CFG_max_mem", "512.5"},
                                       {"gv_CFG_OBJ", "1"},
                                       {"gv_CFG_OBJ2", "0"},
                                       {"gv_CFG_OBJ3", "-1"},
                                       {"gv_CFG_OBJ4", "-1"},
                                       {"gv_CFG_write", "4"},
                                       {"gv_CFG_IO", "-1"},
                                       {"gv_CFG_abandon", "1"},
                                       {"gv_CFG_irq", "1"},
                                       {"gv_CFG_cost_data", "1"},
                                       {"gv_CFG_mod_data", "1"},
                                       {"gv_CFG_mode_data", "1"},
                                       {"gv_CFG_pts_data", "1"},
                                       {"gv_CFG_pms_data", "1"},
                                       {"gv_CFG_rx_data", "0"},
                                       {"gv_CFG_SCV_data", "-1"},
                                       {"gv_CFG_SCV", "0.25"},
                                       {"gv_CFG_hyper", "0.3"},
                                       {"gv_CFG_skew_data", "1"},
                                       {"gv_CFG_skew", "1.5"},
                                       {"gv_CFG_rate_data", "-1"},
                                       {"gv_rate", "0.05"}}));
  const RunConfig& c = runConfig;
  EXPECT_EQ(c.PJFileName, "dir/PRJ_");
  EXPECT_EQ(c.PJFileExt, ".SM");
  EXPECT_EQ(c.gv_CFG_fnr, 3);
  EXPECT_EQ(c.gv_CFG_lnr, 9);
  EXPECT_EQ(c.gv_bits, 12);
  EXPECT_EQ(c.gv_CFG_mxn_UDC, 5000);
  EXPECT_EQ(c.gv_CFG_mxn_UDC_links, 7);
  EXPECT_EQ(c.gv_CFG_mxn_UDC_prr, -1);
  EXPECT_EQ(c.gv_CFG_mxn_ranks, 2);
  EXPECT_EQ(c.gv_CFG_max_mem, 512.5);
  EXPECT_EQ(c.gv_CFG_OBJ, 1);
  EXPECT_EQ(c.gv_CFG_OBJ2, 0);
  EXPECT_EQ(c.gv_CFG_OBJ3, -1);
  EXPECT_EQ(c.gv_CFG_OBJ4, -1);
  EXPECT_EQ(c.gv_CFG_write, 4);
  EXPECT_EQ(c.gv_CFG_IO, -1);
  EXPECT_TRUE(c.gv_CFG_abandon);
  EXPECT_TRUE(c.gv_CFG_irq);
  EXPECT_TRUE(c.gv_CFG_cost_data);
  EXPECT_TRUE(c.gv_CFG_mod_data);
  EXPECT_TRUE(c.gv_CFG_mode_data);
  EXPECT_TRUE(c.gv_CFG_pts_data);
  EXPECT_TRUE(c.gv_CFG_pms_data);
  EXPECT_FALSE(c.gv_CFG_rx_data);
  EXPECT_EQ(c.gv_CFG_SCV_data, -1);
  EXPECT_EQ(c.gv_CFG_SCV, 0.25);
  EXPECT_EQ(c.gv_CFG_hyper, 0.3);
  EXPECT_EQ(c.gv_CFG_skew_data, 1);
  EXPECT_EQ(c.gv_CFG_skew, 1.5);
  EXPECT_EQ(c.gv_CFG_rate_data, -1);
  EXPECT_EQ(c.gv_rate, 0.05);
}

TEST(ConfigurationReader, GvBitsIsTheLimitInForceAndTheBlockShowsIt) {
  e2e::ScratchDirectory dir;
  readConfigText(dir, e2e::configText({{"gv_bits", "25"}}));
  EXPECT_EQ(runConfig.gv_bits, 25);
  EXPECT_EQ(splitLines(blockText())[18], "25");
}

// Every setting means what its label says, or the run stops before anything is written,
// naming the line, the value and what to use instead.
TEST(ConfigurationReader, ValuesTheLabelsDoNotAllowStop) {
  e2e::ScratchDirectory dir;
  const std::pair<std::map<std::string, std::string>, std::string> cases[] = {
      {{{"gv_CFG_irq", "2"}}, "line 45: the value of gv_CFG_irq is 2; it is 0 (no) or 1 (yes)."},
      {{{"gv_CFG_rx_data", "-1"}}, "line 57: the value of gv_CFG_rx_data is -1; it is 0 (no) or 1 (yes)."},
      {{{"gv_CFG_SCV", "0"}}, "line 61: gv_CFG_SCV 0 (deterministic durations) cannot be solved"},
      {{{"gv_CFG_SCV", "-0.5"}}, "line 61: gv_CFG_SCV -0.5 is not one of the choices of its label"},
      {{{"gv_CFG_SCV", "-2"}}, "line 61: gv_CFG_SCV -2 is not one of the choices"},
      {{{"gv_CFG_SCV", "0.0005"}},
       "line 61: gv_CFG_SCV 0.0005 is not one of the choices of its label (-1 = RANDOMIZED | >0 = PHASE-TYPE); an SCV "
       "is at least 0.001."},
      {{{"gv_CFG_hyper", "1"}}, "line 63: gv_CFG_hyper 1 is not one of the choices of its label"},
      {{{"gv_CFG_rate_data", "2"}}, "line 69: gv_CFG_rate_data 2 is not one of the choices of its label"},
      {{{"gv_CFG_IO", "2"}}, "line 41: gv_CFG_IO 2 is not one of the choices"},
      {{{"gv_CFG_write", "6"}}, "line 39: gv_CFG_write 6 is above 5"},
      {{{"gv_CFG_max_mem", "-2"}}, "line 29: gv_CFG_max_mem -2 is not one of the choices"},
      {{{"gv_rate", "-0.01"}}, "line 71: gv_rate -0.01 is negative"},
      {{{"gv_CFG_OBJ", "2"}}, "line 31: gv_CFG_OBJ 2 (NPV VARIANCE) is a measure of a policy, not an objective"},
      {{{"gv_CFG_OBJ", "-1"}}, "line 31: gv_CFG_OBJ -1 is not one of the choices of its label: 0 = NPV | 1"},
      {{{"gv_CFG_OBJ2", "0"}}, "line 33: gv_CFG_OBJ2 0 (NPV) names again the objective"},
      {{{"gv_CFG_OBJ2", "4"}}, "line 33: gv_CFG_OBJ2 4 is not one of the choices"},
      {{{"gv_CFG_OBJ3", "1"}}, "line 35: gv_CFG_OBJ3 1 follows a -1 in gv_CFG_OBJ2, which ends the list"},
      {{{"gv_CFG_OBJ2", "1"}, {"gv_CFG_OBJ3", "1"}}, "line 35: gv_CFG_OBJ3 1 (MAKESPAN) is named twice"},
  };
  for (const auto& [values, message] : cases) {
    dir.write("CONFIG.DAT", e2e::configText(values));
    e2e::ConsoleCapture console("\n");
    EXPECT_THROW(readConfiguration(), FatalStop) << message;
    EXPECT_NE(console.text().find("\nCONFIG.DAT " + message), std::string::npos) << console.text();
  }
  // Values that only count where the files carry none are not looked at otherwise.
  readConfigText(dir, e2e::configText({{"gv_CFG_SCV_data", "1"},
                                       {"gv_CFG_SCV", "0"},
                                       {"gv_CFG_rate_data", "1"},
                                       {"gv_rate", "-1"},
                                       {"gv_CFG_write", "-1"},
                                       {"gv_CFG_OBJ2", "1"}}));
  EXPECT_EQ(runConfig.gv_CFG_SCV, 0.0);
  EXPECT_EQ(runConfig.gv_CFG_OBJ2, 1);
  // Every measure in every later slot, in any order, is computed.
  readConfigText(
      dir, e2e::configText({{"gv_CFG_OBJ", "1"}, {"gv_CFG_OBJ2", "3"}, {"gv_CFG_OBJ3", "2"}, {"gv_CFG_OBJ4", "0"}}));
  EXPECT_EQ(configuredMeasures(runConfig), (std::vector<int32_t>{3, 2, 0}));
  readConfigText(dir, e2e::configText({{"gv_CFG_OBJ", "0"}, {"gv_CFG_OBJ2", "2"}}));
  EXPECT_EQ(configuredMeasures(runConfig), (std::vector<int32_t>{2}));
}

TEST(ConfigurationReader, TextAfterANumberIsSkippedAndTextLinesKeepBlanks) {
  e2e::ScratchDirectory dir;
  readConfigText(
      dir, e2e::configText(
               {{"PJFileName", "PROJ_  "}, {"gv_CFG_lnr", "5    the last project"}, {"gv_CFG_max_mem", "  64.5MB"}}));
  EXPECT_EQ(runConfig.PJFileName, "PROJ_  ");
  EXPECT_EQ(runConfig.gv_CFG_lnr, 5);
  EXPECT_EQ(runConfig.gv_CFG_max_mem, 64.5);
  EXPECT_EQ(runConfig.gv_bits, 16);
}

TEST(ConfigurationReader, CarriageReturnLineEndsAreTolerated) {
  e2e::ScratchDirectory dir;
  std::string text;
  for (const std::string& line : splitLines(e2e::configText({{"PJFileName", "J30_"}, {"gv_rate", "0.02"}}))) {
    text += line + "\r\n";
  }
  readConfigText(dir, text);
  EXPECT_EQ(runConfig.PJFileName, "J30_");
  EXPECT_EQ(runConfig.PJFileExt, ".RCP");
  EXPECT_EQ(runConfig.gv_CFG_mxn_UDC, 100000);
  EXPECT_TRUE(runConfig.gv_CFG_rx_data);
  EXPECT_EQ(runConfig.gv_rate, 0.02);
}

// A file that ends early, a value that is not a number and an overlong line stop the run
// naming the line, instead of leaving the keys after it at 0.
TEST(ConfigurationReader, BadLinesStopNamingTheLine) {
  e2e::ScratchDirectory dir;
  const std::string good = e2e::configText({{"gv_CFG_OBJ", "1"}});
  std::vector<std::string> lines = splitLines(good);
  auto joined = [](const std::vector<std::string>& kept) {
    std::string text;
    for (const std::string& line : kept) text += line + "\n";
    return text;
  };
  std::vector<std::string> withoutLabel = lines;
  withoutLabel.erase(withoutLabel.begin() + 29);  // the label of gv_CFG_OBJ
  std::vector<std::string> longLabel = lines;
  longLabel[29] = std::string(256, 'L');
  std::vector<std::string> longValue = lines;
  longValue[30] = "1" + std::string(255, ' ');
  std::vector<std::string> nanRate = lines;
  nanRate[70] = "nan";
  std::vector<std::string> hugeLast = lines;
  hugeLast[16] = "99999999999";
  std::vector<std::string> emptyValue = lines;
  emptyValue[18] = "";
  const std::pair<std::string, std::string> cases[] = {
      {firstLines(good, 12), "CONFIG.DAT ends before line 13 (PJFileExt); it must have 71 lines."},
      {firstLines(good, 30), "CONFIG.DAT ends before line 31 (gv_CFG_OBJ); it must have 71 lines."},
      {firstLines(good, 70), "CONFIG.DAT ends before line 71 (gv_rate); it must have 71 lines."},
      // The value takes the label's place and the next label the value's.
      {joined(withoutLabel),
       "CONFIG.DAT line 31: the value of gv_CFG_OBJ \"[gv_CFG_OBJ2]\" cannot be read as a number."},
      {e2e::configText({{"gv_CFG_lnr", "seven"}}),
       "CONFIG.DAT line 17: the value of gv_CFG_lnr \"seven\" cannot be read as a number."},
      {joined(nanRate), "CONFIG.DAT line 71: the value of gv_rate \"nan\" cannot be read as a number."},
      {joined(hugeLast), "CONFIG.DAT line 17: the value of gv_CFG_lnr \"99999999999\" is out of range."},
      {joined(emptyValue), "CONFIG.DAT line 19: the value of gv_bits \"\" cannot be read as a number."},
      {joined(longLabel), "CONFIG.DAT line 30: the line is longer than 255 characters."},
      {joined(longValue), "CONFIG.DAT line 31: the line is longer than 255 characters."},
  };
  for (const auto& [text, message] : cases) {
    dir.write("CONFIG.DAT", text);
    e2e::ConsoleCapture console("\n");
    EXPECT_THROW(readConfiguration(), FatalStop) << message;
    EXPECT_EQ(console.text(), "\n" + message + "\nPress any key to quit...");
  }
  // 255 characters are still a line; the number that starts it is taken.
  longLabel[29] = std::string(255, 'L');
  longValue[30] = "1" + std::string(254, ' ');
  readConfigText(dir, joined(longLabel));
  EXPECT_EQ(runConfig.gv_CFG_OBJ, 1);
  readConfigText(dir, joined(longValue));
  EXPECT_EQ(runConfig.gv_CFG_OBJ, 1);
  EXPECT_EQ(runConfig.gv_rate, 0.01);
}

TEST(ConfigurationReader, MissingFileIsFatal) {
  e2e::ScratchDirectory dir;
  e2e::ConsoleCapture console("1\n");
  EXPECT_THROW(readConfiguration(), FatalStop);
  EXPECT_EQ(console.text(), "\nUnable to open CONFIG.DAT (the configuration file).\nPress any key to quit...");
}

TEST(ConfigurationReader, DirectoryNamedConfigIsFatalToo) {
  e2e::ScratchDirectory dir;
  e2e::fs::create_directory("CONFIG.DAT");
  e2e::ConsoleCapture console("1\n");
  EXPECT_THROW(readConfiguration(), FatalStop);
  EXPECT_EQ(console.text(), "\nUnable to open CONFIG.DAT (the configuration file).\nPress any key to quit...");
}

TEST(ConfigurationBlock, BannerAndLabelsByteForByte) {
  runConfig = RunConfig{};
  const std::vector<std::string> lines = splitLines(blockText());
  ASSERT_EQ(lines.size(), 71u);
  EXPECT_EQ(lines[0], "||||                 TERVANO: CONFIGURATION FILE||||");
  // The version that wrote the block stands under the title; the template keeps the example's line.
  EXPECT_EQ(lines[1], "||||                 VERSION " + std::string(kProgramVersion) +
                          std::string(19 - std::string(kProgramVersion).size(), ' ') + "||||");
  EXPECT_EQ(splitLines(configurationText({}))[1], "||||                                            ||||");
  EXPECT_EQ(lines[3], "||||\\EXAMPLE_DIRECTORY\\EXAMPLEPROJECT_1.RCP     ||||");
  EXPECT_EQ(lines[5], "||||...                                         ||||");
  EXPECT_EQ(lines[8], std::string(52, '|'));
  for (int i = 0; i < 9; ++i) EXPECT_EQ(lines[i].size(), 52u) << "banner line " << i + 1;
  EXPECT_EQ(lines[9], "PROJECT FILE NAME (E.G. 'EXAMPLE_DIRECTORY\\EXAMPLEPROJECT_') [PJFileName].");
  EXPECT_EQ(lines[25],
            "MAXIMUM NUMBER OF RANKS (1 = NUMBER OF ACTIVITIES | 2 = (NUMBER OF ACTIVITIES)\xB2 | 3 = (NUMBER OF "
            "ACTIVITIES)\xB3) [gv_CFG_mxn_ranks].");
  EXPECT_EQ(lines[69],
            "WHAT DISCOUNT RATE SHOULD BE USED IF THE PROJECT FILES DO NOT CONTAIN A DISCOUNT RATE (ANY REAL NUMBER) "
            "[gv_rate].");
  for (size_t k = 0; k < kConfigKeyCount; ++k) {
    const std::string& label = lines[9 + 2 * k];
    const std::string tail = std::string("[") + kConfigKeys[k].name + "].";
    ASSERT_GE(label.size(), tail.size());
    EXPECT_EQ(label.substr(label.size() - tail.size()), tail) << "label of key " << k + 1;
  }
}

TEST(ConfigurationBlock, ValueLinesAndTheFourReplacements) {
  runConfig = RunConfig{};
  RunConfig& c = runConfig;
  c.PJFileName = "X_ ";
  c.PJFileExt = ".RCP";
  c.gv_CFG_fnr = -2;
  c.gv_bits = 10;
  c.gv_CFG_max_mem = 1000;
  c.gv_CFG_OBJ2 = -1;
  c.gv_CFG_irq = true;
  c.gv_CFG_SCV = 0.5;
  c.gv_CFG_hyper = 1234567;
  c.gv_CFG_skew = 2;
  c.gv_rate = 0.05;
  std::vector<std::string> lines = splitLines(blockText());
  EXPECT_EQ(lines[10], "X_ ");
  EXPECT_EQ(lines[12], ".RCP");
  EXPECT_EQ(lines[14], "-2");
  EXPECT_EQ(lines[18], "10");
  EXPECT_EQ(lines[28], "1000");
  EXPECT_EQ(lines[32], "-1");
  EXPECT_EQ(lines[42], "0");
  EXPECT_EQ(lines[44], "1");
  EXPECT_EQ(lines[60], "0.5");
  EXPECT_EQ(lines[62], "1.23457e+06");
  EXPECT_EQ(lines[66], "2");
  EXPECT_EQ(lines[70], "0.05");

  c.gv_CFG_SCV_data = 1;
  c.gv_CFG_skew_data = 1;
  c.gv_CFG_rate_data = 1;
  lines = splitLines(blockText());
  EXPECT_EQ(lines[58], "1");
  EXPECT_EQ(lines[60], "1.00");
  EXPECT_EQ(lines[66], "0.00");
  EXPECT_EQ(lines[70], "0.00");

  c.gv_CFG_SCV_data = -1;
  c.gv_CFG_skew_data = -1;
  c.gv_CFG_rate_data = -1;
  lines = splitLines(blockText());
  EXPECT_EQ(lines[60], "0.5");
  EXPECT_EQ(lines[66], "2");
  EXPECT_EQ(lines[70], "0.05");
}

TEST(ConfigurationBlock, ReadsBackAsTheSameConfiguration) {
  e2e::ScratchDirectory dir;
  readConfigText(dir, e2e::configText({{"PJFileName", "sub/J30_"},
                                       {"gv_bits", "12"},
                                       {"gv_CFG_OBJ2", "1"},
                                       {"gv_CFG_irq", "1"},
                                       {"gv_CFG_max_mem", "0.125"},
                                       {"gv_CFG_SCV_data", "1"},
                                       {"gv_CFG_SCV", "0.4"},
                                       {"gv_CFG_hyper", "0.1234567"}}));
  const RunConfig original = runConfig;
  dir.write("CONFIG.DAT", blockText());
  runConfig = RunConfig{};
  readConfiguration();
  const RunConfig& back = runConfig;
  EXPECT_EQ(back.PJFileName, original.PJFileName);
  EXPECT_EQ(back.PJFileExt, original.PJFileExt);
  EXPECT_EQ(back.gv_CFG_fnr, original.gv_CFG_fnr);
  EXPECT_EQ(back.gv_CFG_lnr, original.gv_CFG_lnr);
  EXPECT_EQ(back.gv_bits, original.gv_bits);
  EXPECT_EQ(back.gv_CFG_mxn_UDC, original.gv_CFG_mxn_UDC);
  EXPECT_EQ(back.gv_CFG_mxn_UDC_links, original.gv_CFG_mxn_UDC_links);
  EXPECT_EQ(back.gv_CFG_mxn_UDC_prr, original.gv_CFG_mxn_UDC_prr);
  EXPECT_EQ(back.gv_CFG_mxn_ranks, original.gv_CFG_mxn_ranks);
  EXPECT_EQ(back.gv_CFG_max_mem, original.gv_CFG_max_mem);
  EXPECT_EQ(back.gv_CFG_OBJ, original.gv_CFG_OBJ);
  EXPECT_EQ(back.gv_CFG_OBJ2, original.gv_CFG_OBJ2);
  EXPECT_EQ(back.gv_CFG_OBJ3, original.gv_CFG_OBJ3);
  EXPECT_EQ(back.gv_CFG_OBJ4, original.gv_CFG_OBJ4);
  EXPECT_EQ(back.gv_CFG_write, original.gv_CFG_write);
  EXPECT_EQ(back.gv_CFG_IO, original.gv_CFG_IO);
  EXPECT_EQ(back.gv_CFG_abandon, original.gv_CFG_abandon);
  EXPECT_EQ(back.gv_CFG_irq, original.gv_CFG_irq);
  EXPECT_EQ(back.gv_CFG_cost_data, original.gv_CFG_cost_data);
  EXPECT_EQ(back.gv_CFG_mod_data, original.gv_CFG_mod_data);
  EXPECT_EQ(back.gv_CFG_mode_data, original.gv_CFG_mode_data);
  EXPECT_EQ(back.gv_CFG_pts_data, original.gv_CFG_pts_data);
  EXPECT_EQ(back.gv_CFG_pms_data, original.gv_CFG_pms_data);
  EXPECT_EQ(back.gv_CFG_rx_data, original.gv_CFG_rx_data);
  EXPECT_EQ(back.gv_CFG_SCV_data, original.gv_CFG_SCV_data);
  EXPECT_EQ(back.gv_CFG_SCV, 1.0);         // replaced by "1.00" because the files carry SCVs
  EXPECT_EQ(back.gv_CFG_hyper, 0.123457);  // six significant digits
  EXPECT_EQ(back.gv_CFG_skew_data, original.gv_CFG_skew_data);
  EXPECT_EQ(back.gv_CFG_skew, original.gv_CFG_skew);
  EXPECT_EQ(back.gv_CFG_rate_data, original.gv_CFG_rate_data);
  EXPECT_EQ(back.gv_rate, original.gv_rate);
}

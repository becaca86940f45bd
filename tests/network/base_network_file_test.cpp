// The .BPN dump: data block and legend byte for byte, and the write levels that ask for it.
#include <gtest/gtest.h>

#include <string>

#include "e2e/e2e_support.h"
#include "network/base_network.h"
#include "base/config.h"
#include "base/run_state.h"

namespace {

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

const std::string kModeLegend11 =
    "[ACT 1 MODE 1: DURATION] [ACT 1 MODE 1: DURATION SCV] [ACT 1 MODE 1: DURATION SKEWNESS] [ACT 1 MODE 1: COST] "
    "[ACT 1 MODE 1: PROBABILITY OF TECHNICAL SUCCESS] [ACT 1 MODE 1: PROBABILITY OF MODULE SUCCESS] [ACT 1 MODE 1: "
    "USE OF RESOURCE 1] [ACT 1 MODE 1: USE OF RESOURCE 2] ... [ACT 1 MODE 1: USE OF RESOURCE r]";
const std::string kSuccessorLegend1 =
    "[NUMBER OF SUCCESSORS FOR ACTIVITY 1] [ACT 1: SUCCESSOR 1] [ACT 1: SUCCESSOR 2] ... [ACT 1: SUCCESSOR s] "
    "[ACTIVITY 1 PARENT MODULE]";

std::string activityLegend(const std::string& act) {
  std::string text;
  for (const char* mode : {"1", "2", "...", "m"}) {
    if (std::string(mode) == "...") {
      text += "...\n";
      continue;
    }
    text += replaceAll(kModeLegend11, "ACT 1 MODE 1", "ACT " + act + " MODE " + mode) + "\n";
  }
  return text +
         replaceAll(replaceAll(kSuccessorLegend1, "ACTIVITY 1", "ACTIVITY " + act), "ACT 1:", "ACT " + act + ":");
}

const std::string kLegend =
    "\n|||||||||||||||||||||||||||||||||||\n|||FILE STRUCTURE (BASE NETWORK)|||\n"
    "|||||||||||||||||||||||||||||||||||\n\n"
    "[NUMBER OF ACTIVITIES (INCLUDING DUMMY-ACTIVITIES)]\n"
    "[DISCOUNT RATE (CONTINUOUS-TIME DISCOUNTING)]\n"
    "[NUMBER OF RENEWABLE RESOURCES]\n"
    "[AVAILABILITY RESOURCE 1] [AVAILABILITY RESOURCE 2] ... [AVAILABILITY RESOURCE r]\n"
    "[NUMBER OF EXECUTION MODES FOR ACTIVITY 1]\n" +
    activityLegend("1") + "\n" + activityLegend("2") + "\n...\n\n" + activityLegend("n");

void configure(int writeLevel) {
  RunConfig config;
  config.PJFileName = "P";
  config.PJFileExt = ".RCP";
  config.gv_CFG_rx_data = true;
  config.gv_CFG_write = writeLevel;
  config.gv_rate = 0.03;
  runConfig = config;
}

std::string projectFileName(int32_t number, const char* extension) {
  std::string name = runConfig.PJFileName;
  name += std::to_string(number);
  name += extension;
  return name;
}

void readProject(const e2e::ScratchDirectory& dir, int32_t number, const std::string& text) {
  projectNumber = number;
  dir.write(projectFileName(number, ".RCP"), text);
  releaseBaseNetwork();
  readProjectFile();
}

}  // namespace

TEST(BaseNetworkFile, NormalisedNetworkAndLegendByteForByte) {
  e2e::ScratchDirectory dir;
  configure(3);
  readProject(dir, 7, "6 1\n4\n0 0 3 2 3 4\n3 2 1 5\n2 4 1 6\n4.5 1 0\n1 3 1 6\n0 0 0\n");
  EXPECT_EQ(dir.read("P7.BPN"),
            "6\n0.03\n1\n4 \n"
            "1\n0 1 0 0 1 0 0\n3 1 2 3 0\n"
            "1\n3 1 0 0 1 0 2\n1 4 1\n"
            "1\n2 1 0 0 1 0 4\n1 5 2\n"
            "1\n4.5 1 0 0 1 0 1\n1 5 3\n"
            "1\n1 1 0 0 1 0 3\n1 5 4\n"
            "1\n0 1 0 0 1 0 0\n0 5\n" +
                kLegend);
}

TEST(BaseNetworkFile, NoResourcesSeveralModesAndModules) {
  e2e::ScratchDirectory dir;
  configure(4);
  runConfig.gv_CFG_rx_data = false;
  runConfig.gv_CFG_mode_data = true;
  runConfig.gv_CFG_cost_data = true;
  runConfig.gv_CFG_mod_data = true;
  runConfig.gv_CFG_rate_data = 1;
  readProject(dir, 2, "3 0.000123456789\n1 0 0 1 2 0\n2 1.5 -3 2.25 1234567 1 3 5\n1 0 0 0 0\n");
  EXPECT_EQ(dir.read("P2.BPN"),
            "3\n0.000123457\n0\n"
            "1\n0 1 0 0 1 0\n1 1 0\n"
            "2\n1.5 1 0 -3 1 0\n2.25 1 0 1.23457e+06 1 0\n1 2 5\n"
            "1\n0 1 0 0 1 0\n0 0\n" +
                kLegend);
}

TEST(BaseNetworkFile, WrittenOnlyFromWriteLevelThree) {
  e2e::ScratchDirectory dir;
  for (int level : {0, 1, 2, 3, 4}) {
    configure(level);
    runConfig.gv_CFG_rx_data = false;
    readProject(dir, 10 + level, "2  0 1 2  0 0");
    EXPECT_EQ(dir.exists(projectFileName(10 + level, ".BPN")), level >= 3) << "write level " << level;
  }
}

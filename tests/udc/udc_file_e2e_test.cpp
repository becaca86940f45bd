// The built program on a small project at write level 4: the .UDC file it leaves, the
// console line of a project whose activity can never get its resources, and the counts of
// a PSPLIB J30 project that must never drift.
#include <gtest/gtest.h>

#include <string>

#include "e2e/e2e_support.h"
#include "e2e/j30_first.h"

namespace {

// start -> A, B -> end, one resource of 2: A uses 1, B the given amount, so A and B never
// run together when B needs all of it.
std::string forkProject(int useOfB) {
  return "4 1\n2\n0 0 2 2 3\n3 1 1 4\n2 " + std::to_string(useOfB) + " 1 4\n0 0 0\n";
}

e2e::RunOutput runForkProject(const e2e::WorkDirectory& dir, int useOfB) {
  dir.write(
      "CONFIG.DAT",
      e2e::configText({{"PJFileName", "P"}, {"PJFileExt", ".RCP"}, {"gv_CFG_OBJ2", "-1"}, {"gv_CFG_write", "4"}}));
  dir.write("P1.RCP", forkProject(useOfB));
  return dir.run("0\n0\n");
}

TEST(UdcFileEndToEnd, ForkProjectAtWriteLevelFour) {
  e2e::WorkDirectory dir;
  const e2e::RunOutput out = runForkProject(dir, 2);
  EXPECT_NE(e2e::maskCpuTimes(out.console).find("PROJECT [1][R][M][E] NR_UDC: 3 CPU[*]"), std::string::npos);
  // Every activity may be held back; {A,B} has seven states because A and B exclude each
  // other, and the start's completion is its only transition.
  const std::string udc = dir.read("P1.UDC");
  EXPECT_EQ(udc.substr(0, udc.find("||||")),
            "3\n"
            "2 0 1 0 1 1\n"
            "7 1 2 1 2 1 2\n"
            "2 1 1 3 0\n"
            "\n");
  EXPECT_TRUE(udc.ends_with("SUCCESSOR 2] ... [UDC u: SUCCESSOR s]")) << udc;
}

TEST(UdcFileEndToEnd, ActivityThatNeverFitsFailsTheProjectOnly) {
  e2e::WorkDirectory dir;
  const e2e::RunOutput out = runForkProject(dir, 3);
  EXPECT_NE(e2e::maskCpuTimes(out.console)
                .find("PROJECT [1][R][M][E]\n"
                      "UDC identification has failed. Activity 2 (execution mode 0) needs 3 units of resource 0, "
                      "but only 2 are available: it can never start.\n"
                      " NR_UDC: 0 CPU[*] UDC IDENTIFICATION FAIL\n"),
            std::string::npos);
  EXPECT_FALSE(dir.exists("P1.UDC"));
  EXPECT_EQ(out.exitCode, 0);
}

TEST(UdcFileEndToEnd, J30ProjectCountsStayFixed) {
  e2e::WorkDirectory dir;
  dir.write("CONFIG.DAT", e2e::configText({{"PJFileName", "J30_"}, {"PJFileExt", ".RCP"}, {"gv_CFG_OBJ2", "-1"}}));
  dir.write("J30_1.RCP", e2e::kJ30First);
  const e2e::RunOutput out = dir.run("0\n0\n");
  EXPECT_NE(e2e::maskCpuTimes(out.console).find("PROJECT [1][R][M][E] NR_UDC: 435 CPU[*]"), std::string::npos);
  // UDCs, states, entry states, peak states and the largest UDC.
  EXPECT_NE(dir.read("RESULTS.CSV").find("\n1;32;435;1282293;1282293;382176;10;"), std::string::npos);
}

// The optimal values of a real project, pinned: they must never drift.
TEST(UdcFileEndToEnd, J30ProjectOptimaStayFixed) {
  e2e::WorkDirectory dir;
  dir.write(
      "CONFIG.DAT",
      e2e::configText({{"PJFileName", "J30_"}, {"PJFileExt", ".RCP"}, {"gv_CFG_OBJ", "1"}, {"gv_CFG_OBJ2", "-1"}}));
  dir.write("J30_1.RCP", e2e::kJ30First);
  const e2e::RunOutput out = dir.run("0\n0\n");
  EXPECT_NE(e2e::maskCpuTimes(out.console).find("NR_UDC: 435 CPU[*] OPT MAKESPAN: 59.5949 CPU[*]\n"), std::string::npos)
      << out.console;
}

}  // namespace

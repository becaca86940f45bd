// The program on 1, 2 and 4 threads: every file it writes and its console are the same byte
// for byte but for the processor times; --threads takes a count and nothing else; a signal
// stops an identification on several threads.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"
#include "e2e/j30_first.h"
#include "e2e/patterson_100.h"

namespace {

const std::string kHeaderLead = "PROJECT;#ACT;#UDC;";

// RESULTS.CSV with the processor seconds of every row masked (columns 8 and 10 and, in a
// two-objective row, the same columns: the CPU columns are the ones whose header says CPU).
std::string maskCpuColumns(const std::string& results) {
  const size_t header = results.find(kHeaderLead);
  if (header == std::string::npos) return results;
  const size_t headerEnd = results.find('\n', header);
  std::vector<bool> cpu;
  {
    std::istringstream names(results.substr(header, headerEnd - header));
    for (std::string name; std::getline(names, name, ';');) cpu.push_back(name.rfind("CPU", 0) == 0);
  }
  std::string masked = results.substr(0, headerEnd + 1);
  std::istringstream in(results.substr(headerEnd + 1));
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    size_t column = 0;
    for (std::string field; std::getline(fields, field, ';'); ++column) {
      if (column > 0) masked += ';';
      if (column < cpu.size() && cpu[column])
        masked += '*';
      else
        masked += field;
    }
    masked += '\n';
  }
  return masked;
}

struct Outcome {
  std::string console;
  int exitCode = -1;
  std::map<std::string, std::string> files;  // every file left in the working directory
};

Outcome runOn(int threads, const std::map<std::string, std::string>& inputs) {
  e2e::WorkDirectory dir;
  for (const auto& [name, text] : inputs) dir.write(name, text);
  const e2e::RunOutput output = dir.run("0\n0\n", 600, {"--threads", std::to_string(threads)});
  Outcome outcome{e2e::maskCpuTimes(output.console), output.exitCode, {}};
  for (const std::string& name : dir.fileNames())
    outcome.files[name] = name == "RESULTS.CSV" ? maskCpuColumns(dir.read(name)) : dir.read(name);
  return outcome;
}

// Runs the inputs on 1, 2 and 4 threads and compares everything but the times with the run on
// one thread; returns that run.
Outcome expectSameOnEveryThreadCount(const std::string& what, const std::map<std::string, std::string>& inputs) {
  const Outcome one = runOn(1, inputs);
  EXPECT_EQ(one.exitCode, 0) << what << one.console;
  for (int threads : {2, 4}) {
    const Outcome other = runOn(threads, inputs);
    EXPECT_EQ(other.exitCode, one.exitCode) << what << ", " << threads << " threads";
    EXPECT_EQ(other.console, one.console) << what << ", " << threads << " threads";
    std::vector<std::string> names, otherNames;
    for (const auto& entry : one.files) names.push_back(entry.first);
    for (const auto& entry : other.files) otherNames.push_back(entry.first);
    EXPECT_EQ(otherNames, names) << what << ", " << threads << " threads";
    for (const auto& [name, text] : one.files) {
      const auto found = other.files.find(name);
      if (found == other.files.end()) continue;
      EXPECT_TRUE(found->second == text) << what << ", " << threads << " threads: " << name << " differs";
    }
  }
  return one;
}

std::string example(const std::string& path) { return e2e::readWholeFile(e2e::fs::path(TERVANO_SOURCE_DIR) / path); }

}  // namespace

// J30_1 exponential: 435 UDCs, 1.28 M states, so that the UDCs spread over the threads.
// Makespan alone (tables released as the sweep goes, every network file), and makespan with
// the NPV under its policy keeping the policy (.POL and the policy table).
TEST(ThreadsE2e, J30FirstIsTheSameOnEveryThreadCount) {
  for (const char* objectives : {"-1", "0"}) {
    const std::string config = e2e::configText({{"PJFileName", "J30_"},
                                                {"gv_CFG_mxn_UDC", "1000000"},
                                                {"gv_CFG_OBJ", "1"},
                                                {"gv_CFG_SCV_data", "0"},
                                                {"gv_CFG_SCV", "1"},
                                                {"gv_CFG_OBJ2", objectives},
                                                {"gv_CFG_write", std::string(objectives) == "0" ? "5" : "4"}});
    const Outcome one = expectSameOnEveryThreadCount(std::string("J30_1, OBJ2 ") + objectives,
                                                     {{"CONFIG.DAT", config}, {"J30_1.RCP", e2e::kJ30First}});
    EXPECT_NE(one.console.find("NR_UDC: 435 "), std::string::npos) << one.console;
    EXPECT_NE(one.files.count("J30_1.UDC"), 0u);
    if (std::string(objectives) == "0") {
      EXPECT_NE(one.files.count("J30_1.POL"), 0u);
    }
  }
}

// The shipped NPV example (three projects, every output) and the multi-mode project with
// modules and probabilities of success, both objectives, in memory and in state files (which
// the sweep takes on one thread).
TEST(ThreadsE2e, ExamplesAndMultiModeAreTheSameOnEveryThreadCount) {
  // The example's configuration at write level 5: the line after the key's label.
  std::string basic;
  {
    std::istringstream lines(example("examples/basic/CONFIG.DAT"));
    bool levelNext = false;
    for (std::string line; std::getline(lines, line);) {
      basic += levelNext ? std::string("5") : line;
      basic += '\n';
      levelNext = line.find("[gv_CFG_write]") != std::string::npos;
    }
  }
  ASSERT_NE(basic.find("[gv_CFG_write].\n5\n"), std::string::npos) << basic;
  expectSameOnEveryThreadCount("basic", {{"CONFIG.DAT", basic},
                                         {"PROJECT_1.RCP", example("examples/basic/PROJECT_1.RCP")},
                                         {"PROJECT_2.RCP", example("examples/basic/PROJECT_2.RCP")},
                                         {"PROJECT_3.RCP", example("examples/basic/PROJECT_3.RCP")}});
  for (const char* storage : {"0", "1"}) {
    const std::string config = e2e::configText({{"PJFileName", "MM_"},
                                                {"PJFileExt", ".DAT"},
                                                {"gv_CFG_OBJ", "0"},
                                                {"gv_CFG_OBJ2", "1"},
                                                {"gv_CFG_SCV_data", "1"},
                                                {"gv_CFG_cost_data", "1"},
                                                {"gv_CFG_mod_data", "1"},
                                                {"gv_CFG_mode_data", "1"},
                                                {"gv_CFG_pts_data", "1"},
                                                {"gv_CFG_pms_data", "1"},
                                                {"gv_CFG_rate_data", "1"},
                                                {"gv_CFG_IO", storage},
                                                {"gv_CFG_write", "4"}});
    expectSameOnEveryThreadCount(std::string("MM_1, IO ") + storage,
                                 {{"CONFIG.DAT", config}, {"MM_1.DAT", example("bench/MM_1.DAT")}});
  }
}

// Patterson project 100 at SCV 2: 54 606 UDCs of four states on average, so that the threads
// take runs of many UDCs at once in both stages and a UDC of a run often waits on one taken
// just before it by another thread. NPV with the makespan riding along, makespan alone with the
// .UDC file, and both objectives keeping the policy.
TEST(ThreadsE2e, ManySmallUdcsAreTheSameOnEveryThreadCount) {
  const std::vector<std::vector<std::pair<std::string, std::string>>> settings = {
      {{"gv_CFG_OBJ", "0"}, {"gv_CFG_OBJ2", "1"}, {"gv_CFG_cost_data", "0"}},
      {{"gv_CFG_OBJ", "1"}, {"gv_CFG_OBJ2", "-1"}, {"gv_CFG_write", "4"}},
      {{"gv_CFG_OBJ", "1"}, {"gv_CFG_OBJ2", "0"}, {"gv_CFG_write", "5"}}};
  for (const auto& own : settings) {
    std::map<std::string, std::string> keys = {{"PJFileName", "PAT_"},   {"gv_CFG_fnr", "100"},
                                               {"gv_CFG_lnr", "100"},    {"gv_CFG_mxn_UDC", "1000000"},
                                               {"gv_CFG_SCV_data", "0"}, {"gv_CFG_SCV", "2"}};
    std::string what = "PAT_100 SCV 2";
    for (const auto& key : own) {
      keys[key.first] = key.second;
      what += ", " + key.first + " " + key.second;
    }
    const Outcome one =
        expectSameOnEveryThreadCount(what, {{"CONFIG.DAT", e2e::configText(keys)}, {"PAT_100.RCP", kPatterson100}});
    EXPECT_NE(one.console.find("NR_UDC: 54606 "), std::string::npos) << what << one.console;
  }
}

TEST(ThreadsE2e, ThreadCountIsAWholeNumberFromOne) {
  for (const std::vector<std::string>& arguments : {std::vector<std::string>{"--threads"},
                                                    {"--threads", "0"},
                                                    {"--threads", "-2"},
                                                    {"--threads", "2x"},
                                                    {"--threads", ""},
                                                    {"--threads", "4097"},
                                                    {"--progress", "--threads", "1.5"}}) {
    e2e::WorkDirectory dir;
    const e2e::RunOutput output = dir.run("0\n0\n", 60, arguments);
    EXPECT_EQ(output.exitCode, 2) << arguments.back();
    EXPECT_EQ(output.errors,
              "tervano: --threads takes the number of threads, a whole number from 1 to 4096: --threads N.\n")
        << arguments.back();
    EXPECT_TRUE(dir.fileNames().empty());
  }
}

// A project of unrelated tasks between its dummies: one UDC of about 3^tasks states (4.8 M of
// 14 tasks), which the threads evaluate together, in blocks.
std::string wideProject(int tasks) {
  std::ostringstream text;
  text << tasks + 2 << " 1\n" << tasks << "\n0 0 " << tasks;
  for (int t = 0; t < tasks; ++t) text << ' ' << t + 2;
  text << '\n';
  for (int t = 0; t < tasks; ++t) text << 1 + t % 5 << " 1 1 " << tasks + 2 << '\n';
  text << "0 0 0\n";
  return text.str();
}

std::string wideConfig(const char* writeLevel) {
  return e2e::configText({{"PJFileName", "WIDE_"},
                          {"gv_CFG_mxn_UDC", "100000000"},
                          {"gv_CFG_OBJ", "1"},
                          {"gv_CFG_SCV_data", "0"},
                          {"gv_CFG_SCV", "1"},
                          {"gv_CFG_write", writeLevel}});
}

// The resident memory of a process in MiB, or -1 once it is gone.
long residentMiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6)) / 1024;
  return -1;
}

TEST(ThreadsE2e, AUdcSplitAcrossThreadsIsTheSameOnEveryThreadCount) {
  const Outcome one = expectSameOnEveryThreadCount("14 tasks side by side",
                                                   {{"CONFIG.DAT", wideConfig("4")}, {"WIDE_1.RCP", wideProject(14)}});
  EXPECT_NE(one.console.find("NR_UDC: 3 "), std::string::npos) << one.console;
}

// A signal in the solve of such a UDC on two threads ends the run like any other: 128 + the
// signal, no row, no file of the run's own. 15 tasks: 14.3 M states, whose keys alone fill
// 100 MiB of their table before the threads evaluate its blocks (identification holds a few).
TEST(ThreadsE2e, SignalStopsTheSolveOfASplitUdc) {
  for (int signal : {SIGINT, SIGTERM}) {
    e2e::WorkDirectory dir;
    dir.write("CONFIG.DAT", wideConfig("0"));
    dir.write("WIDE_1.RCP", wideProject(15));
    e2e::RunningProgram program = dir.start("0\n0\n", {"--threads", "2"});
    long resident = 0;
    for (int i = 0; i < 60000 && resident >= 0 && resident < 100; ++i) {
      resident = residentMiB(program.pid);
      if (resident < 100) usleep(1000);
    }
    ASSERT_GE(resident, 100);
    program.sendSignal(signal);
    const e2e::RunOutput output = program.finish(120);
    EXPECT_FALSE(output.timedOut);
    EXPECT_EQ(output.exitCode, 128 + signal) << output.console << output.errors;
    EXPECT_EQ(output.console.find("OPT MAKESPAN"), std::string::npos) << output.console;
    EXPECT_EQ(dir.fileNames(), (std::vector<std::string>{"CONFIG.DAT", "RESULTS.CSV", "WIDE_1.RCP"}));
  }
}

// J30_1 with Erlang phases of SCV 0.1 has an identification of minutes: a signal in it ends
// the run with 128 + the signal, its threads stopped, no row and no file of the run's own left.
TEST(ThreadsE2e, SignalStopsAnIdentificationOnSeveralThreads) {
  for (int signal : {SIGINT, SIGTERM}) {
    e2e::WorkDirectory dir;
    dir.write("CONFIG.DAT", e2e::configText({{"PJFileName", "J30_"},
                                             {"gv_CFG_mxn_UDC", "100000000"},
                                             {"gv_CFG_OBJ", "1"},
                                             {"gv_CFG_SCV_data", "0"},
                                             {"gv_CFG_SCV", "0.1"}}));
    dir.write("J30_1.RCP", e2e::kJ30First);
    e2e::RunningProgram program = dir.start("0\n0\n", {"--threads", "2", "--progress-file", "progress"});
    bool identifying = false;
    for (int i = 0; i < 6000 && !identifying; ++i) {
      identifying = dir.read("progress").find("phase=identify") != std::string::npos;
      if (!identifying) usleep(5000);
    }
    ASSERT_TRUE(identifying);
    usleep(200000);
    program.sendSignal(signal);
    const e2e::RunOutput output = program.finish(120);
    EXPECT_FALSE(output.timedOut);
    EXPECT_EQ(output.exitCode, 128 + signal) << output.console << output.errors;
    EXPECT_EQ(output.console.find("NR_UDC"), std::string::npos) << output.console;
    EXPECT_EQ(dir.fileNames(), (std::vector<std::string>{"CONFIG.DAT", "J30_1.RCP", "RESULTS.CSV"}));
  }
}

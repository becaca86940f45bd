// The four solvers against each other: a two-objective solver's primary equals the
// one-objective solver, its secondary follows the primary's policy, and disk mode gives
// the memory mode's values and leaves no state file behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "base/fatal.h"
#include "base/run_state.h"
#include "sdp/solver_fixture.h"
#include "sdp/state_storage.h"
#include "sdp/solvers.h"

using namespace solver_test;

namespace {

ProjectSpec parallelPair(double payoff) {
  ProjectSpec p;
  p.activities = {dummy({1, 2}), task(1.0, {3}, -1.0), task(4.0, {3}, -2.0, 0.5), dummy({}, payoff)};
  p.discountRate = 0.1;
  return p;
}

std::vector<ProjectSpec> sampleProjects() {
  return {parallelPair(30.0), richProject(false, false), richProject(true, false), richProject(false, true),
          richProject(true, true)};
}

// A scratch working directory for the state files, removed afterwards.
struct ScratchDirectory {
  std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::path path;
  explicit ScratchDirectory(const std::string& name) {
    path = std::filesystem::temp_directory_path() / ("tervano_sdp_" + name + "_" + std::to_string(::getpid()));
    std::filesystem::create_directories(path);
    std::filesystem::current_path(path);
  }
  ~ScratchDirectory() {
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(path);
  }
  // Every entry, directories included.
  size_t fileCount() const {
    size_t n = 0;
    for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator(path)) ++n;
    return n;
  }
};

}  // namespace

TEST(SolverAgreement, TwoObjectivePrimaryEqualsOneObjective) {
  for (const ProjectSpec& p : sampleProjects()) {
    std::vector<SolveResult> r = solveWith(p, {solveNpv, solveMakespan, solveNpvWithMakespan, solveMakespanWithNpv});
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[2].optimum, r[0].optimum);
    EXPECT_EQ(r[3].optimum, r[1].optimum);
    // The makespan of the NPV-optimal policy is no shorter than the shortest one, and the
    // NPV of the fastest policy no higher than the best one.
    EXPECT_GE(r[2].secondary, r[1].optimum - 1e-5f);
    EXPECT_LE(r[3].secondary, r[0].optimum + 1e-5f);
    EXPECT_GT(r[2].secondary, 0.0f);
  }
}

TEST(SolverAgreement, SecondaryOfOneActivity) {
  ProjectSpec p;
  p.activities = {dummy({1}), task(4.0, {2}), dummy({}, 50.0)};
  p.discountRate = 0.25;
  std::vector<SolveResult> r = solveWith(p, {solveNpvWithMakespan, solveMakespanWithNpv});
  ASSERT_EQ(r.size(), 2u);
  EXPECT_NEAR(r[0].optimum, 0.25 / 0.5 * 50.0, 1e-5);
  EXPECT_NEAR(r[0].secondary, 4.0, 1e-5);
  EXPECT_NEAR(r[1].optimum, 4.0, 1e-5);
  EXPECT_NEAR(r[1].secondary, 0.25 / 0.5 * 50.0, 1e-5);
}

TEST(SolverAgreement, SecondaryIsSetWhenNpvValuesEqualTheirBound) {
  // Without cash flows every NPV value is 0, the NPV bound: the first start option and
  // the first mode must still carry the makespan of what they lead to.
  ProjectSpec p;
  p.activities = {dummy({1}), task(4.0, {2}), dummy({})};
  std::vector<SolveResult> r = solveWith(p, {solveNpvWithMakespan});
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].optimum, 0.0f);
  EXPECT_NEAR(r[0].secondary, 4.0, 1e-5);

  ModeSpec first, second;
  first.duration = 1.0;
  second.duration = 3.0;
  p.activities[1].modes = {first, second};
  r = solveWith(p, {solveNpvWithMakespan});
  ASSERT_EQ(r.size(), 1u);
  EXPECT_NEAR(r[0].secondary, 1.0, 1e-5);
}

TEST(SolverAgreement, AbandonmentFloorsOnlyTheNpv) {
  ProjectSpec p;
  p.activities = {dummy({1}), task(2.0, {2}, -100.0), dummy({}, 10.0)};
  p.discountRate = 0.1;
  p.abandon = true;
  std::vector<SolveResult> r = solveWith(p, {solveNpvWithMakespan, solveMakespanWithNpv});
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].optimum, 0.0f);
  EXPECT_NEAR(r[0].secondary, 2.0, 1e-5);  // the makespan computed for going on
  EXPECT_NEAR(r[1].optimum, 2.0, 1e-5);
  EXPECT_EQ(r[1].secondary, 0.0f);
}

TEST(SolverAgreement, DiskModeEqualsMemoryModeAndLeavesNoFile) {
  ScratchDirectory directory("disk");
  const std::vector<Solver> solvers{solveNpv, solveMakespan, solveNpvWithMakespan, solveMakespanWithNpv};
  for (const ProjectSpec& p : sampleProjects()) {
    std::vector<SolveResult> memory = solveWith(p, solvers, false);
    EXPECT_EQ(directory.fileCount(), 0u);
    std::vector<SolveResult> disk = solveWith(p, solvers, true);
    ASSERT_EQ(memory.size(), disk.size());
    for (size_t i = 0; i < memory.size(); ++i) {
      EXPECT_EQ(memory[i].optimum, disk[i].optimum) << "solver " << i;
      EXPECT_EQ(memory[i].secondary, disk[i].secondary) << "solver " << i;
    }
    EXPECT_EQ(directory.fileCount(), 0u);
  }
}

// Every table as it is finished, by its bits: the FNV-1a hash of UDC numbers and table bytes.
uint64_t finishedTablesHash = 0;
uint64_t finishedTables = 0;
uint64_t mostInHand = 0;
void hashFinishedTable(int32_t udc, const UdcStateTable& table) {
  ++finishedTables;
  auto mix = [](uint8_t byte) {
    finishedTablesHash ^= byte;
    finishedTablesHash *= 1099511628211ull;
  };
  for (int shift = 0; shift < 32; shift += 8) mix(static_cast<uint8_t>(static_cast<uint32_t>(udc) >> shift));
  for (size_t i = 0; i < static_cast<size_t>(table.count) * table.rowBytes; ++i) mix(table.block[i]);
  // What this UDC needed in memory at once: its own table and its successors', reckoned
  // from the network, not from the storage's count.
  uint64_t inHand = static_cast<uint64_t>(table.count) * table.rowBytes;
  for (uint32_t s : udcSuccessorsOf(udc)) {
    const int32_t successor = static_cast<int32_t>(s);
    inHand += stateTableBytes(udcStateCount(successor), udcMemberCount(successor) > kNarrowKeyMembers,
                              table.objectiveCount);
  }
  mostInHand = std::max(mostInHand, inHand);
}

// Disk storage, with every table on disk and with a budget that spills some, in small files
// and blocks so that tables straddle files: every table of every solve equals memory's.
TEST(SolverAgreement, DiskTablesEqualMemoryTablesToTheBit) {
  ScratchDirectory directory("bits");
  observeFinishedTables(hashFinishedTable);
  setStateFileSizes(4096, 700);
  const std::vector<Solver> solvers{solveNpv, solveMakespan, solveNpvWithMakespan, solveMakespanWithNpv};
  uint64_t spilled = 0;
  for (const ProjectSpec& p : sampleProjects())
    for (Solver solver : solvers) {
      stateMemoryBudgetBytes = 0;
      finishedTablesHash = 14695981039346656037ull;
      const std::vector<SolveResult> memory = solveWith(p, {solver}, false);
      const uint64_t memoryHash = finishedTablesHash;
      for (uint64_t budget : {uint64_t{0}, uint64_t{3000}, uint64_t{300}}) {
        stateMemoryBudgetBytes = budget;
        finishedTablesHash = 14695981039346656037ull;
        finishedTables = 0;
        mostInHand = 0;
        const std::vector<SolveResult> disk = solveWith(p, {solver}, true);
        EXPECT_EQ(finishedTablesHash, memoryHash) << budget;
        ASSERT_EQ(disk.size(), 1u);
        EXPECT_EQ(disk[0].optimum, memory[0].optimum);
        EXPECT_EQ(disk[0].secondary, memory[0].secondary);
        EXPECT_LE(stateStorageCounts().bytesWritten, stateStorageCounts().tableBytes);
        if (budget == 0) {
          EXPECT_EQ(stateStorageCounts().tablesWritten, finishedTables);  // every one
        } else {
          // The tables in use count against the budget; only a UDC that alone needs more
          // passes it, and then by its own tables.
          EXPECT_EQ(stateStorageCounts().peakInHandBytes, mostInHand);
          EXPECT_LE(stateStorageCounts().peakMemoryBytes, std::max(budget, mostInHand));
          spilled += stateStorageCounts().tablesWritten;
        }
        EXPECT_EQ(directory.fileCount(), 0u);
      }
    }
  EXPECT_GT(spilled, 0u);  // the budget was small enough to matter
  observeFinishedTables(nullptr);
  setStateFileSizes(0, 0);
  stateMemoryBudgetBytes = 0;
}

// What a solve on disk needs at once, reckoned from the network before it starts (a project
// over what the process may take is refused on it), is what the sweep then holds for its
// largest UDC: one objective in rows of one or two values, lanes riding along, variances.
TEST(SolverAgreement, TablesInHandReckonedBeforeTheSolveAreThoseItHolds) {
  ScratchDirectory directory("inhand");
  const std::vector<std::pair<Measure, std::vector<Measure>>> choices{
      {Measure::kNpv, {}},
      {Measure::kMakespan, {}},
      {Measure::kNpv, {Measure::kMakespan}},
      {Measure::kMakespan, {Measure::kNpv, Measure::kMakespanVariance}},
      {Measure::kNpv, {Measure::kMakespan, Measure::kNpvVariance, Measure::kMakespanVariance}}};
  std::vector<uint64_t> needs;
  for (bool mergedAllowed : {true, false}) {
    allowMergedValueRows(mergedAllowed);
    for (const ProjectSpec& p : sampleProjects()) {
      ASSERT_TRUE(buildProject(p));
      for (const auto& [objective, measures] : choices) {
        const UdcInHand reckoned = largestUdcInHandOnDisk(objective, measures);
        useDiskStorage = true;
        stateMemoryBudgetBytes = 500;
        SolveResult result;
        ASSERT_TRUE(solveWithMeasures(objective, measures, result));
        EXPECT_EQ(reckoned.bytes, stateStorageCounts().peakInHandBytes);
        EXPECT_GE(reckoned.udc, 0);
        needs.push_back(reckoned.bytes);
      }
      releaseProject();
    }
  }
  allowMergedValueRows(true);
  useDiskStorage = false;
  stateMemoryBudgetBytes = 0;
  // The rows differ in width from choice to choice, so the needs do too.
  std::sort(needs.begin(), needs.end());
  EXPECT_GT(std::unique(needs.begin(), needs.end()) - needs.begin(), 5);
}

TEST(SolverAgreement, DiskModeLeavesFilesNamedLikeStateFilesAlone) {
  // State files live in a directory of the solve's own: files and a link named like UDC
  // numbers in the working directory are neither written nor removed.
  ScratchDirectory directory("alone");
  for (const char* name : {"1", "2", "5"}) std::ofstream(name) << "keep " << name << '\n';
  std::ofstream("project.txt") << "project\n";
  std::filesystem::create_symlink("project.txt", "3");
  const std::vector<SolveResult> disk = solveWith(richProject(false, false), {solveNpvWithMakespan}, true);
  ASSERT_EQ(disk.size(), 1u);
  for (const char* name : {"1", "2", "5"}) {
    std::ifstream in(name);
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, std::string("keep ") + name);
  }
  std::ifstream in("project.txt");
  std::string text;
  std::getline(in, text);
  EXPECT_EQ(text, "project");
  EXPECT_TRUE(std::filesystem::is_symlink("3"));
  EXPECT_EQ(directory.fileCount(), 5u);
}

namespace {

// The tables of one solve as the rows a predecessor reads: key and the better value.
struct SeenRow {
  uint64_t key;
  float better;
  bool operator==(const SeenRow&) const = default;
};
struct SeenTable {
  int32_t udc;
  bool merged;
  std::vector<SeenRow> rows;
};
std::vector<SeenTable> seenTables;
uint64_t waitingIsBetter = 0;  // rows of both values whose continuation value is the greater
void recordFinishedTable(int32_t udc, const UdcStateTable& table) {
  SeenTable seen{udc, table.mergedValues(), {}};
  for (uint32_t i = 0; i < table.count; ++i) {
    const float c = table.continuationAt(i);
    const float v = table.decisionAt(i);
    if (!table.mergedValues() && c > v) ++waitingIsBetter;
    seen.rows.push_back({table.keyAt(i), c > v ? c : v});
  }
  seenTables.push_back(std::move(seen));
}

// The rich project with every duration exponential: modes, a module with both successes,
// a shared resource, cash flows of both signs, and no phase drawn by its probability.
ProjectSpec exponentialRichProject(bool abandon, bool irq) {
  ProjectSpec p = richProject(abandon, irq);
  for (ActivitySpec& activity : p.activities)
    for (ModeSpec& mode : activity.modes) mode.scv = 1.0;
  return p;
}

std::vector<SeenTable> solveSeeing(const ProjectSpec& p, Solver solver, bool mergedAllowed, bool onDisk,
                                   SolveResult& result, bool narrowAllowed = true) {
  allowMergedValueRows(mergedAllowed);
  allowNarrowRowSweep(narrowAllowed);
  seenTables.clear();
  observeFinishedTables(recordFinishedTable);
  const std::vector<SolveResult> results = solveWith(p, {solver}, onDisk);
  observeFinishedTables(nullptr);
  allowMergedValueRows(true);
  allowNarrowRowSweep(true);
  result = results.empty() ? SolveResult{} : results[0];
  return std::move(seenTables);
}

}  // namespace

// A solve of one objective over exponential durations keeps one value per state; every
// state's value is the better of the two the rows of both values hold, in memory and on
// disk, and the optimum is the same to the bit, whether the sweep reads the rows by their one
// width or by each table's shape. Phases, lanes riding along and kept policies keep both
// values.
TEST(SolverAgreement, MergedRowsHoldTheBetterValueOfEveryState) {
  ScratchDirectory directory("merged");
  ProjectSpec pair = parallelPair(30.0);
  pair.activities[2].modes[0].scv = 1.0;
  // A costly short task beside a long one: waiting with it until the long one is done is
  // worth more than starting it, so the continuation side is the better one in some states.
  ProjectSpec costly = pair;
  costly.activities[1].modes[0].cost = -25.0;
  std::vector<ProjectSpec> projects{pair, costly};
  waitingIsBetter = 0;
  for (bool abandon : {false, true})
    for (bool irq : {false, true}) projects.push_back(exponentialRichProject(abandon, irq));
  for (size_t k = 0; k < projects.size(); ++k)
    for (Solver solver : {solveNpv, solveMakespan}) {
      SolveResult full, merged;
      const std::vector<SeenTable> fullTables = solveSeeing(projects[k], solver, false, false, full);
      const std::vector<SeenTable> mergedTables = solveSeeing(projects[k], solver, true, false, merged);
      EXPECT_EQ(merged.optimum, full.optimum) << "project " << k;
      SolveResult shaped;
      const std::vector<SeenTable> shapedTables = solveSeeing(projects[k], solver, true, false, shaped, false);
      EXPECT_EQ(shaped.optimum, full.optimum) << "project " << k;
      ASSERT_EQ(shapedTables.size(), mergedTables.size());
      for (size_t t = 0; t < shapedTables.size(); ++t)
        EXPECT_TRUE(shapedTables[t].rows == mergedTables[t].rows) << "project " << k << " UDC " << shapedTables[t].udc;
      ASSERT_EQ(mergedTables.size(), fullTables.size());
      ASSERT_FALSE(mergedTables.empty());
      for (size_t t = 0; t < fullTables.size(); ++t) {
        EXPECT_FALSE(fullTables[t].merged);
        EXPECT_TRUE(mergedTables[t].merged) << "project " << k;
        EXPECT_EQ(mergedTables[t].udc, fullTables[t].udc);
        EXPECT_TRUE(mergedTables[t].rows == fullTables[t].rows) << "project " << k << " UDC " << fullTables[t].udc;
      }
      for (uint64_t budget : {uint64_t{0}, uint64_t{200}}) {
        stateMemoryBudgetBytes = budget;
        SolveResult disk;
        const std::vector<SeenTable> diskTables = solveSeeing(projects[k], solver, true, true, disk);
        stateMemoryBudgetBytes = 0;
        EXPECT_EQ(disk.optimum, full.optimum) << "project " << k << " budget " << budget;
        ASSERT_EQ(diskTables.size(), mergedTables.size());
        for (size_t t = 0; t < diskTables.size(); ++t) EXPECT_TRUE(diskTables[t].rows == mergedTables[t].rows);
        EXPECT_EQ(directory.fileCount(), 0u);
      }
    }

  EXPECT_GT(waitingIsBetter, 0u);

  SolveResult result;
  for (const std::vector<SeenTable>& tables :
       {solveSeeing(richProject(false, false), solveMakespan, true, false, result),
        solveSeeing(parallelPair(30.0), solveNpv, true, false, result),
        solveSeeing(exponentialRichProject(false, false), solveNpvWithMakespan, true, false, result)}) {
    ASSERT_FALSE(tables.empty());
    for (const SeenTable& table : tables) EXPECT_FALSE(table.merged) << table.udc;
  }
}

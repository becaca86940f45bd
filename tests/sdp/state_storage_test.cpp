// State tables and their storage: the search from a finger, appends, the life cycle of the
// state files over chains of UDCs in a directory of the solve's own, the exact round trip of
// floats, and the stops on broken or vanished files.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "base/config.h"
#include "base/fatal.h"
#include "base/run_state.h"
#include "sdp/state_storage.h"
#include "udc/udc_network.h"
#include "udc/udc_test_network.h"

namespace {

namespace fs = std::filesystem;

// Answers the stop's prompt and keeps its text.
struct CapturedStop {
  std::istringstream answer{"0\n"};
  std::ostringstream console;
  std::streambuf* in = std::cin.rdbuf(answer.rdbuf());
  std::streambuf* out = std::cout.rdbuf(console.rdbuf());
  ~CapturedStop() {
    std::cin.rdbuf(in);
    std::cout.rdbuf(out);
  }
};

struct ScratchDirectory {
  fs::path previous = fs::current_path();
  fs::path path;
  ScratchDirectory() {
    path = fs::temp_directory_path() / ("tervano_storage_" + std::to_string(::getpid()));
    fs::create_directories(path);
    fs::current_path(path);
  }
  ~ScratchDirectory() {
    fs::current_path(previous);
    fs::remove_all(path);
  }
  // The state directory the storage made, or empty.
  static fs::path stateDirectory() {
    for (const auto& entry : fs::directory_iterator("."))
      if (entry.path().filename().string().rfind("tervano-states-", 0) == 0) return entry.path().filename();
    return {};
  }
  static bool hasStateFile(int u) {
    const fs::path directory = stateDirectory();
    return !directory.empty() && fs::exists(directory / std::to_string(u));
  }
  static size_t entries() { return static_cast<size_t>(std::distance(fs::directory_iterator("."), {})); }
};

// UDCs of one member each with the given state counts, 0 -> 1 -> ... -> last, and more links.
void installChain(std::vector<uint32_t> counts, std::vector<std::pair<uint32_t, uint32_t>> extra = {}) {
  std::vector<HandActivity> acts(counts.size());
  installHandNetwork(acts);
  std::vector<std::vector<int32_t>> members(counts.size());
  std::vector<std::vector<uint32_t>> successors(counts.size());
  for (size_t u = 0; u < counts.size(); ++u) {
    members[u] = {static_cast<int32_t>(u)};
    if (u + 1 < counts.size()) successors[u].push_back(static_cast<uint32_t>(u + 1));
  }
  for (auto [from, to] : extra) successors[from].push_back(to);
  storeUdcNetwork(members, counts, successors);
}

void fillTable(UdcStateTable& table, int32_t u, float base) {
  const uint32_t count = table.count;
  for (uint32_t i = 0; i < count; ++i)
    appendState(table, u, 3 * (count - i), base + static_cast<float>(i), base - static_cast<float>(i), base * 2, -base);
}

}  // namespace

TEST(StateStorage, SearchFromAnyFingerFindsEveryKeyAndStopsOnAMissingOne) {
  // Narrow and wide keys; every finger, including one past the prefix searched.
  const std::vector<uint64_t> keys{80, 53, 26, 25, 9, 4, 0};
  for (bool wide : {false, true}) {
    UdcStateTable table;
    allocateTable(table, static_cast<uint32_t>(keys.size()), wide, 1);
    const uint64_t offset = wide ? (uint64_t{1} << 40) : 0;
    for (uint32_t i = 0; i < keys.size(); ++i) table.setKey(i, keys[i] + offset);
    for (uint32_t count = 1; count <= keys.size(); ++count)
      for (uint32_t start = 0; start <= count; ++start)
        for (uint32_t i = 0; i < count; ++i) {
          uint32_t finger = start;
          EXPECT_EQ(findState(table, count, keys[i] + offset, finger, 0), i) << count << ' ' << start;
          EXPECT_EQ(findState(table, count, keys[i] + offset, finger, 0), i);
        }
    for (uint64_t missing : {81u, 54u, 10u, 1u, 7u})
      for (uint32_t start : {0u, 3u, 6u}) {
        CapturedStop stop;
        uint32_t finger = start;
        EXPECT_THROW(findState(table, static_cast<uint32_t>(keys.size()), missing + offset, finger, 5), FatalStop);
        EXPECT_NE(stop.console.str().find("UDC 5"), std::string::npos);
      }
    CapturedStop stop;  // an evaluated prefix does not hold the later keys
    uint32_t finger = 0;
    EXPECT_THROW(findState(table, 3, 25 + offset, finger, 0), FatalStop);
    for (uint32_t start : {0u, 1u, 6u}) {  // nor does an empty one, wherever the finger stands
      finger = start;
      EXPECT_THROW(findState(table, 0, keys[0] + offset, finger, 0), FatalStop);
    }
  }
}

TEST(StateStorage, SearchInALongTableFindsKeysNearAndFarFromTheFingerAndStopsOnGaps) {
  // Keys 3 apart, so that every key - 1 is missing: lookups within the rows stepped through
  // after the finger, at their edge, just past them and far beyond, in both directions.
  const uint32_t count = 300;
  for (bool wide : {false, true}) {
    UdcStateTable table;
    allocateTable(table, count, wide, 1);
    const uint64_t offset = wide ? (uint64_t{1} << 40) : 0;
    for (uint32_t i = 0; i < count; ++i) table.setKey(i, 3 * uint64_t{count - i} + offset);
    const uint32_t scan = state_table_detail::kForwardScanRows;
    for (uint32_t start : {0u, 1u, scan - 1, scan, scan + 1, 150u, count - scan - 1, count - scan, 298u, 299u, 300u})
      for (uint32_t i = 0; i < count; ++i) {
        uint32_t finger = start;
        ASSERT_EQ(findState(table, count, 3 * uint64_t{count - i} + offset, finger, 0), i) << start;
        EXPECT_EQ(std::min(finger, count - 1), i);  // a finger past the end stays there on a hit at the end
      }
    for (uint32_t start : {0u, 10u, count - scan - 2, 299u})
      for (uint32_t gapAfter :
           {start + 1, start + 2, start + scan - 1, start + scan, start + scan + 1, start + 40, 0u, 299u}) {
        if (gapAfter >= count) continue;
        CapturedStop stop;
        uint32_t finger = start;
        EXPECT_THROW(findState(table, count, 3 * uint64_t{count - gapAfter} - 1 + offset, finger, 7), FatalStop)
            << start << ' ' << gapAfter;
        EXPECT_NE(stop.console.str().find("UDC 7"), std::string::npos);
      }
    CapturedStop stop;  // below the last key
    uint32_t finger = count - 20;
    EXPECT_THROW(findState(table, count, 1 + offset, finger, 0), FatalStop);
  }
}

TEST(StateStorage, AppendBeyondTheStateCountOrReadingAMissingTableStops) {
  installChain({2, 1});
  openStateStorage(1, false, false);
  UdcStateTable& table = beginUdcTable(1);
  appendState(table, 1, 1, 1.0, 1.0, 0.0, 0.0);
  {
    CapturedStop stop;
    EXPECT_THROW(appendState(table, 1, 0, 1.0, 1.0, 0.0, 0.0), FatalStop);
  }
  EXPECT_EQ(table.storedCount, 1u);
  {
    CapturedStop stop;  // UDC 0 has no table
    EXPECT_THROW(udcTable(0), FatalStop);
  }
  closeStateStorage();
}

namespace {
std::vector<int32_t> finishedUdcs;
void noteFinished(int32_t udc, const UdcStateTable&) { finishedUdcs.push_back(udc); }
}  // namespace

// In memory the UDCs of a run (none leading to another) are begun and ended together: each
// gets its own table, a successor goes when the last UDC leading to it has ended, in the run
// or alone, and every table is finished once. On disk a run is refused: there the tables in
// hand, counted against the budget, are those of one UDC.
TEST(StateStorage, RunsOfUdcsInMemoryBeginAndEndTogether) {
  // 0 -> 1, 0 -> 2, 1 -> 3, 2 -> 3: 1 and 2 are ready together once 3 is done.
  std::vector<HandActivity> acts(4);
  installHandNetwork(acts);
  storeUdcNetwork({{0}, {1}, {2}, {3}}, {2, 3, 5, 1}, {{1, 2}, {3}, {3}, {}});
  openStateStorage(1, false, false);
  observeFinishedTables(noteFinished);
  finishedUdcs.clear();
  fillTable(beginUdcTable(3), 3, 3.0f);
  endUdcTable(successorNumbersOf(3));
  std::vector<UdcStateTable*> tables;
  beginUdcRun({2, 1}, tables);
  ASSERT_EQ(tables.size(), 2u);
  EXPECT_EQ(tables[0]->count, 5u);
  EXPECT_EQ(tables[1]->count, 3u);
  EXPECT_NE(tables[0], tables[1]);
  fillTable(*tables[0], 2, 2.0f);
  fillTable(*tables[1], 1, 1.0f);
  EXPECT_EQ(udcTable(3).decisionAt(0), 3.0f);  // still there while the run is in hand
  endUdcRun({2, 1});
  {
    CapturedStop stop;  // both UDCs that led to it have ended
    EXPECT_THROW(udcTable(3), FatalStop);
  }
  UdcStateTable& first = beginUdcTable(0);
  EXPECT_EQ(udcTable(1).decisionAt(2), 3.0f);
  EXPECT_EQ(udcTable(2).decisionAt(4), 6.0f);
  fillTable(first, 0, 0.0f);
  endUdcTable(successorNumbersOf(0));
  {
    CapturedStop stop;
    EXPECT_THROW(udcTable(2), FatalStop);
  }
  EXPECT_EQ(finishedUdcs, (std::vector<int32_t>{3, 2, 1, 0}));
  EXPECT_EQ(stateStorageCounts().tableBytes, 12u * (2 + 3 + 5 + 1));
  observeFinishedTables(nullptr);
  closeStateStorage();

  ScratchDirectory directory;
  openStateStorage(1, true, false);
  {
    CapturedStop stop;
    EXPECT_THROW(beginUdcRun({2, 1}, tables), FatalStop);
  }
  closeStateStorage();
  EXPECT_EQ(ScratchDirectory::entries(), 0u);
}

// A chain of tables with every table on disk, in files of 64 bytes and blocks of 32: values
// come back to the bit, each image is written once, and files go as their tables die.
TEST(StateStorage, DiskImagesComeBackToTheBitAndTheirFilesGoWhenNotNeeded) {
  ScratchDirectory directory;
  setStateFileSizes(64, 32);
  stateMemoryBudgetBytes = 0;
  installChain({3, 2, 40, 2, 7, 1}, {{0, 4}});  // 4 waits for 0: its image keeps a file alive
  openStateStorage(2, true, false);
  ASSERT_FALSE(ScratchDirectory::stateDirectory().empty());
  fillTable(beginUdcTable(5), 5, 1234567.0f);
  endUdcTable(successorNumbersOf(5));
  const float odd[4] = {0.1f, 1.0f / 3.0f, -2.5e-7f, 3.4e38f};
  for (int32_t u = 4; u >= 0; --u) {
    UdcStateTable& table = beginUdcTable(u);
    const UdcStateTable& successor = udcTable(u + 1);
    EXPECT_EQ(successor.storedCount, udcStateCount(u + 1));
    EXPECT_EQ(successor.decisionAt(0), u == 4 ? 1234567.0f : odd[0]);
    EXPECT_EQ(successor.secondaryContinuationAt(successor.count - 1), u == 4 ? -1234567.0f : odd[3]);
    EXPECT_EQ(successor.keyAt(0), u == 4 ? 3u : successor.count - 1);
    const uint32_t count = table.count;
    for (uint32_t i = 0; i < count; ++i) appendState(table, u, count - 1 - i, odd[0], odd[1], odd[2], odd[3]);
    endUdcTable(successorNumbersOf(u));
  }
  EXPECT_EQ(udcTable(0).continuationAt(0), odd[1]);
  const StateStorageCounts counts = stateStorageCounts();
  // Each finished table written once, in one stream: 20 bytes a state.
  EXPECT_EQ(counts.tableBytes, 20u * (3 + 2 + 40 + 2 + 7 + 1));
  EXPECT_EQ(counts.bytesWritten, counts.tableBytes);
  EXPECT_EQ(counts.tablesWritten, 6u);
  EXPECT_GE(counts.filesCreated, counts.tableBytes / 64);
  EXPECT_GT(counts.filesRemoved, 0u);
  EXPECT_LT(counts.peakDiskBytes, counts.tableBytes);
  closeStateStorage();
  EXPECT_EQ(ScratchDirectory::entries(), 0u);
  EXPECT_EQ(stateStorageCounts().filesRemoved, stateStorageCounts().filesCreated);
  setStateFileSizes(0, 0);
}

// Automatic storage: under a budget that holds every table nothing is written; under a small
// one only the least recently needed go, each once, and still come back whole.
TEST(StateStorage, AutomaticStorageSpillsOnlyWhatDoesNotFit) {
  ScratchDirectory directory;
  std::vector<uint32_t> counts(30, 50);
  std::vector<std::pair<uint32_t, uint32_t>> extra;
  for (uint32_t u = 0; u + 10 < 30; ++u) extra.emplace_back(u, u + 10);  // tables needed 10 UDCs later
  for (uint64_t budget : {uint64_t{1} << 30, uint64_t{2000}}) {
    installChain(counts, extra);
    stateMemoryBudgetBytes = budget;
    openStateStorage(1, true, false);
    fillTable(beginUdcTable(29), 29, 29.0f);
    endUdcTable(successorNumbersOf(29));
    for (int32_t u = 28; u >= 0; --u) {
      UdcStateTable& table = beginUdcTable(u);
      for (uint32_t s : successorNumbersOf(u)) {
        const UdcStateTable& successor = udcTable(static_cast<int32_t>(s));
        ASSERT_EQ(successor.storedCount, 50u);
        EXPECT_EQ(successor.decisionAt(7), static_cast<float>(s) + 7.0f) << u << ' ' << s;
      }
      fillTable(table, u, static_cast<float>(u));
      endUdcTable(successorNumbersOf(u));
    }
    const StateStorageCounts& done = stateStorageCounts();
    EXPECT_EQ(done.tableBytes, 30u * 50 * 12);
    if (budget > done.tableBytes) {
      EXPECT_EQ(done.bytesWritten, 0u);
      EXPECT_EQ(done.filesCreated, 0u);
    } else {
      EXPECT_GT(done.tablesWritten, 0u);
      EXPECT_LE(done.bytesWritten, done.tableBytes);
      EXPECT_GT(done.tablesRead, 0u);
      // The table in hand and its two successors' (600 bytes each) count against the budget.
      EXPECT_LE(done.peakMemoryBytes, budget);
    }
    closeStateStorage();
    EXPECT_EQ(ScratchDirectory::entries(), 0u);
  }
  stateMemoryBudgetBytes = 0;
}

// Automatic storage counts the tables in use against the budget: the successors read back
// and the table being filled come in only after room is made, so with a budget that holds
// every UDC's own table and its successors' the table bytes in memory never pass it. A UDC
// whose own table alone is over the budget is still evaluated, holding no more than what
// it needs at once, and its values come back whole.
TEST(StateStorage, AutomaticStorageKeepsTablesInUseWithinTheBudget) {
  ScratchDirectory directory;
  constexpr uint64_t kBudget = 2000;  // bytes; a table of 50 states takes 600
  for (uint32_t wide : {50u, 400u}) {
    std::vector<uint32_t> counts(24, 50);
    counts[12] = wide;  // 4800 bytes when wide
    std::vector<std::pair<uint32_t, uint32_t>> extra;
    for (uint32_t u = 0; u + 5 < 24; u += 2) extra.emplace_back(u, u + 5);
    installChain(counts, extra);
    uint64_t mostInHand = 0;
    for (int32_t u = 0; u < 24; ++u) {
      uint64_t bytes = 12u * udcStateCount(u);
      for (uint32_t s : successorNumbersOf(u)) bytes += 12u * udcStateCount(static_cast<int32_t>(s));
      mostInHand = std::max(mostInHand, bytes);
    }
    stateMemoryBudgetBytes = kBudget;
    openStateStorage(1, true, false);
    fillTable(beginUdcTable(23), 23, 23.0f);
    endUdcTable(successorNumbersOf(23));
    for (int32_t u = 22; u >= 0; --u) {
      UdcStateTable& table = beginUdcTable(u);
      for (uint32_t s : successorNumbersOf(u)) {
        const UdcStateTable& successor = udcTable(static_cast<int32_t>(s));
        ASSERT_EQ(successor.storedCount, udcStateCount(static_cast<int32_t>(s)));
        EXPECT_EQ(successor.decisionAt(successor.count - 1), static_cast<float>(s + successor.count - 1));
      }
      fillTable(table, u, static_cast<float>(u));
      endUdcTable(successorNumbersOf(u));
    }
    EXPECT_EQ(udcTable(0).continuationAt(49), -49.0f);
    const StateStorageCounts done = stateStorageCounts();
    EXPECT_EQ(done.peakInHandBytes, mostInHand);
    EXPECT_GT(done.tablesWritten, 0u);
    EXPECT_GT(done.tablesRead, 0u);
    if (mostInHand <= kBudget) {
      EXPECT_LE(done.peakMemoryBytes, kBudget);
    } else {
      // Over the budget by the UDC in hand alone: nothing else stays beside its tables.
      EXPECT_EQ(done.peakMemoryBytes, mostInHand);
    }
    closeStateStorage();
    EXPECT_EQ(ScratchDirectory::entries(), 0u);
  }
  stateMemoryBudgetBytes = 0;
}

TEST(StateStorage, ShortenedOrVanishedStateFileStopsTheRun) {
  for (bool vanish : {false, true}) {
    ScratchDirectory directory;
    stateMemoryBudgetBytes = 1;  // nothing stays in memory beyond the tables in use
    setStateFileSizes(0, 16);    // and every image goes out at once
    installChain({1, 1, 30}, {{0, 2}});
    openStateStorage(1, true, false);
    fillTable(beginUdcTable(2), 2, 1.0f);
    appendState(beginUdcTable(1), 1, 0, 1.0, 1.0, 0.0, 0.0);
    endUdcTable(successorNumbersOf(1));
    const fs::path file = ScratchDirectory::stateDirectory() / "states-0";
    ASSERT_TRUE(fs::exists(file));
    if (vanish) {
      // The storage holds the file open: emptying it is the nearest to a vanished one.
      fs::resize_file(file, 0);
    } else {
      fs::resize_file(file, 100);
    }
    {
      CapturedStop stop;
      EXPECT_THROW(beginUdcTable(0), FatalStop);
      const std::string text = stop.console.str();
      EXPECT_NE(text.find("State file " + file.string() + " cannot be read back completely"), std::string::npos)
          << text;
      EXPECT_TRUE(text.ends_with("...\n")) << text;
      EXPECT_EQ(text.find("Press any key"), std::string::npos);
    }
    closeStateStorage();
    EXPECT_EQ(ScratchDirectory::entries(), 0u);
  }
  stateMemoryBudgetBytes = 0;
  setStateFileSizes(0, 0);
}

// A full disk, made by a file size limit with its signal ignored (writes then fail with
// EFBIG): the solve stops with the file's name and the reason, and its files go.
TEST(StateStorage, WriteThatFailsStopsWithTheFileAndItsReason) {
  ScratchDirectory directory;
  setStateFileSizes(uint64_t{1} << 20, 256);
  stateMemoryBudgetBytes = 0;
  installChain({200, 200, 200, 200});
  rlimit previous{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
  void (*handler)(int) = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = previous;
  small.rlim_cur = 1000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  openStateStorage(1, true, false);
  std::string text;
  {
    CapturedStop stop;
    EXPECT_THROW(
        {
          for (int32_t u = 3; u >= 0; --u) {
            fillTable(beginUdcTable(u), u, 1.0f);
            endUdcTable(successorNumbersOf(u));
          }
        },
        FatalStop);
    text = stop.console.str();
  }
  setrlimit(RLIMIT_FSIZE, &previous);
  std::signal(SIGXFSZ, handler);
  EXPECT_NE(text.find("State file " + (ScratchDirectory::stateDirectory() / "states-0").string() +
                      " cannot be written (File too large)..."),
            std::string::npos)
      << text;
  closeStateStorage();
  EXPECT_EQ(ScratchDirectory::entries(), 0u);
  setStateFileSizes(0, 0);
}

// State tables and their storage: the search from a finger, appends, the life cycle of the
// state files over chains of UDCs in a directory of the solve's own, the exact round trip of
// floats, and the stops on broken or vanished files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "base/config.h"
#include "base/fatal.h"
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
    appendState(table, u, 3 * (count - i), base + static_cast<float>(i), base - static_cast<float>(i), base * 2,
                -base);
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

TEST(StateStorage, DiskChainWritesReadsAndDeletesInOrderInItsOwnDirectory) {
  ScratchDirectory directory;
  installChain({3, 2, 4, 2});
  openStateStorage(2, true, false);
  ASSERT_FALSE(ScratchDirectory::stateDirectory().empty());
  fillTable(beginUdcTable(3), 3, 1234567.0f);
  endUdcTable(successorNumbersOf(3));
  for (int32_t u = 2; u >= 0; --u) {
    UdcStateTable& table = beginUdcTable(u);
    EXPECT_TRUE(ScratchDirectory::hasStateFile(u + 1));
    const UdcStateTable& successor = udcTable(u + 1);
    EXPECT_EQ(successor.storedCount, udcStateCount(u + 1));
    // Nine digits bring every float back exactly.
    EXPECT_EQ(successor.decisionAt(0), u == 2 ? 1234567.0f : 0.1f + 0.0f);
    EXPECT_EQ(successor.keyAt(0), u == 2 ? 6u : successor.count - 1);
    const uint32_t count = table.count;
    for (uint32_t i = 0; i < count; ++i) appendState(table, u, count - 1 - i, 0.1f, 1.0f / 3.0f, -2.5e-7f, 3.4e38f);
    endUdcTable(successorNumbersOf(u));
    EXPECT_FALSE(ScratchDirectory::hasStateFile(u + 1));
  }
  EXPECT_EQ(udcTable(0).continuationAt(0), 1.0f / 3.0f);
  EXPECT_EQ(udcTable(0).secondaryContinuationAt(0), 3.4e38f);
  closeStateStorage();
  EXPECT_EQ(ScratchDirectory::entries(), 0u);
}

TEST(StateStorage, DiskFileOfTwoPredecessorsStaysUntilTheSecondIsDone) {
  ScratchDirectory directory;
  installChain({1, 1, 1}, {{0, 2}});  // 0 -> 1 -> 2 and 0 -> 2
  openStateStorage(1, true, false);
  fillTable(beginUdcTable(2), 2, 5.0f);
  endUdcTable(successorNumbersOf(2));
  appendState(beginUdcTable(1), 1, 0, 1.0, 1.0, 0.0, 0.0);
  endUdcTable(successorNumbersOf(1));
  EXPECT_TRUE(ScratchDirectory::hasStateFile(2));
  beginUdcTable(0);
  EXPECT_EQ(udcTable(2).decisionAt(0), 5.0f);
  endUdcTable(successorNumbersOf(0));
  EXPECT_FALSE(ScratchDirectory::hasStateFile(1));
  EXPECT_FALSE(ScratchDirectory::hasStateFile(2));
  closeStateStorage();
  EXPECT_EQ(ScratchDirectory::entries(), 0u);
}

TEST(StateStorage, BrokenOrVanishedStateFilesStopTheRun) {
  const std::vector<std::string> broken{
      "1 1 9\n2 2 6\n",               // short
      "1 1 9\n2 2 9\n3 3 0\n",        // keys not descending
      "1 1 9\n2 x 6\n3 3 0\n",        // not a number
      "1 1 9\n2 2 6\n3 3 0\n4 4 0\n", // too long
      "",                             // empty
  };
  for (size_t i = 0; i <= broken.size(); ++i) {
    ScratchDirectory directory;
    // 1 -> 2 and 0 -> 2: the file of 2 is changed between its two readings.
    installChain({1, 1, 3}, {{0, 2}});
    openStateStorage(1, true, false);
    fillTable(beginUdcTable(2), 2, 1.0f);
    appendState(beginUdcTable(1), 1, 0, 1.0, 1.0, 0.0, 0.0);
    endUdcTable(successorNumbersOf(1));
    const fs::path file = ScratchDirectory::stateDirectory() / "2";
    if (i < broken.size())
      std::ofstream(file, std::ios::trunc) << broken[i];
    else
      fs::remove(file);
    {
      CapturedStop stop;
      EXPECT_THROW(beginUdcTable(0), FatalStop) << i;
      const std::string text = stop.console.str();
      EXPECT_NE(text.find("State file " + file.string()), std::string::npos) << text;
      EXPECT_TRUE(text.ends_with("...\n")) << text;
      EXPECT_EQ(text.find("Press any key"), std::string::npos);
    }
    closeStateStorage();
    EXPECT_EQ(ScratchDirectory::entries(), 0u);
  }
}

TEST(StateStorage, FileThatCannotBeDeletedStopsWithItsReason) {
  ScratchDirectory directory;
  installChain({1, 1, 1});
  openStateStorage(1, true, false);
  fillTable(beginUdcTable(2), 2, 1.0f);
  beginUdcTable(1);
  fs::remove(ScratchDirectory::stateDirectory() / "2");
  CapturedStop stop;
  EXPECT_THROW(endUdcTable(successorNumbersOf(1)), FatalStop);
  EXPECT_EQ(stop.console.str(), "\nFile cannot be deleted... " + (ScratchDirectory::stateDirectory() / "2").string() +
                                    ": No such file or directory\n");
  closeStateStorage();
  EXPECT_EQ(ScratchDirectory::entries(), 0u);
}

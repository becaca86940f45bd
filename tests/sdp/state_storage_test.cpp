// State tables and state files: bisection, appends, the life cycle of the files over a
// chain of UDCs, the exact round trip of floats, and the stops on broken files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "run/config.h"
#include "run/fatal.h"
#include "run/run_state.h"
#include "sdp/state_table.h"
#include "udc/udc_network.h"

namespace {

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
  std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::path path;
  ScratchDirectory() {
    path = std::filesystem::temp_directory_path() / ("tervano_storage_" + std::to_string(::getpid()));
    std::filesystem::create_directories(path);
    std::filesystem::current_path(path);
  }
  ~ScratchDirectory() {
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(path);
  }
  static bool has(const std::string& name) { return std::filesystem::exists(name); }
};

// UDCs 0 -> 1 -> 2 -> 3 with the given state counts (0 and 1 also lead to 3 when joined).
void installChain(std::vector<uint32_t> counts, bool joinToLast = false) {
  udcNetwork = UdcNetwork{};
  udcNetwork.udcCount = static_cast<int32_t>(counts.size());
  udcNetwork.udcStateCount = counts;
  std::vector<std::vector<uint32_t>> successors(counts.size());
  for (size_t u = 0; u + 1 < counts.size(); ++u) successors[u].push_back(static_cast<uint32_t>(u + 1));
  if (joinToLast) successors[0].push_back(static_cast<uint32_t>(counts.size() - 1));
  storeUdcLinks(successors);
  runConfig = RunConfig{};
  runConfig.PJFileName = "proj";
  runConfig.PJFileExt = ".rcp";
}

void fillTable(int32_t u, float base) {
  allocateStateTable(u);
  UdcStateTable& table = stateTableOf(u);
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
    table.wideKeys = wide;
    for (uint64_t key : keys) {
      table.wideKey.push_back(key + (wide ? (uint64_t{1} << 40) : 0));
      table.narrowKey.push_back(static_cast<uint32_t>(key));
    }
    const uint64_t offset = wide ? (uint64_t{1} << 40) : 0;
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
  useDiskStorage = false;
  buildStateStorage(1);
  allocateStateTable(1);
  UdcStateTable& table = stateTableOf(1);
  appendState(table, 1, 1, 1.0, 1.0, 0.0, 0.0);
  {
    CapturedStop stop;
    EXPECT_THROW(appendState(table, 1, 0, 1.0, 1.0, 0.0, 0.0), FatalStop);
  }
  EXPECT_EQ(table.storedCount, 1u);
  {
    CapturedStop stop;  // UDC 0 has no table
    EXPECT_THROW(stateTableOf(0), FatalStop);
  }
  releaseStateStorage();
}

TEST(StateStorage, DiskChainWritesReadsAndDeletesInOrder) {
  ScratchDirectory directory;
  installChain({3, 2, 4, 2});
  useDiskStorage = true;
  buildStateStorage(2);
  fillTable(3, 1234567.0f);
  std::vector<std::vector<std::string>> present;
  for (int32_t u = 2; u >= 0; --u) {
    shelveFinishedTable(u + 1);
    EXPECT_TRUE(ScratchDirectory::has(std::to_string(u + 1)));
    openUdcStep(u);
    const UdcStateTable& successor = stateTableOf(u + 1);
    EXPECT_EQ(successor.storedCount, udcNetwork.udcStateCount[static_cast<size_t>(u + 1)]);
    // Nine digits bring every float back exactly.
    EXPECT_EQ(successor.decisionValue()[0], u == 2 ? 1234567.0f : 0.1f + 0.0f);
    UdcStateTable& table = stateTableOf(u);
    const uint32_t count = table.count;
    for (uint32_t i = 0; i < count; ++i) appendState(table, u, count - 1 - i, 0.1f, 1.0f / 3.0f, -2.5e-7f, 3.4e38f);
    closeUdcStep(u);
    EXPECT_FALSE(ScratchDirectory::has(std::to_string(u + 1)));
  }
  const UdcStateTable& first = stateTableOf(0);
  EXPECT_EQ(first.continuationValue()[0], 1.0f / 3.0f);
  releaseStateStorage();
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(directory.path), {}), 0);
  useDiskStorage = false;
}

TEST(StateStorage, DiskFileOfTwoPredecessorsStaysUntilTheSecondIsDone) {
  ScratchDirectory directory;
  installChain({1, 1, 1}, true);  // 0 -> 1 -> 2 and 0 -> 2
  useDiskStorage = true;
  buildStateStorage(1);
  fillTable(2, 5.0f);
  shelveFinishedTable(2);
  openUdcStep(1);
  appendState(stateTableOf(1), 1, 0, 1.0, 1.0, 0.0, 0.0);
  closeUdcStep(1);
  EXPECT_TRUE(ScratchDirectory::has("2"));
  shelveFinishedTable(1);
  openUdcStep(0);
  closeUdcStep(0);
  EXPECT_FALSE(ScratchDirectory::has("1"));
  EXPECT_FALSE(ScratchDirectory::has("2"));
  releaseStateStorage();
  useDiskStorage = false;
}

TEST(StateStorage, BrokenStateFilesStopTheRun) {
  ScratchDirectory directory;
  installChain({3, 3});
  useDiskStorage = true;
  const std::vector<std::string> broken{
      "",                                     // missing
      "1 1 9\n2 2 6\n",                       // short
      "1 1 9\n2 2 9\n3 3 0\n",                // keys not descending
      "1 1 9\n2 x 6\n3 3 0\n",                // not a number
      "1 1 9\n2 2 6\n3 3 0\n4 4 0\n",         // too long
  };
  for (size_t i = 0; i < broken.size(); ++i) {
    buildStateStorage(1);
    if (i > 0) {
      std::ofstream("1") << broken[i];
      stateStorage.stateFileWritten[1] = 1;
    }
    {
      CapturedStop stop;
      EXPECT_THROW(readStateTable(1), FatalStop) << i;
      EXPECT_NE(stop.console.str().find("State file 1"), std::string::npos);
      EXPECT_EQ(stop.console.str().find("Press any key"), std::string::npos);
    }
    releaseStateStorage();
    EXPECT_FALSE(ScratchDirectory::has("1"));
  }
  // A sound file reads back.
  buildStateStorage(1);
  std::ofstream("1") << "1 1.5 8\n2 2.5 4\n3 3.5 0\n";
  stateStorage.stateFileWritten[1] = 1;
  readStateTable(1);
  EXPECT_EQ(stateTableOf(1).keyAt(1), 4u);
  EXPECT_EQ(stateTableOf(1).continuationValue()[2], 3.5f);
  releaseStateStorage();
  useDiskStorage = false;
}

TEST(StateStorage, FileThatCannotBeDeletedStops) {
  ScratchDirectory directory;
  installChain({1, 1});
  useDiskStorage = true;
  buildStateStorage(1);
  stateStorage.stateFileWritten[1] = 1;  // claimed but never written
  CapturedStop stop;
  EXPECT_THROW(deleteStateFile(1), FatalStop);
  EXPECT_EQ(stop.console.str(), "\nFile cannot be deleted...");
  releaseStateStorage();
  useDiskStorage = false;
}

TEST(StateStorage, ProjectNamesThatCanBeStateFileNames) {
  EXPECT_TRUE(projectNamesMayClashWithStateFiles("", ""));
  EXPECT_TRUE(projectNamesMayClashWithStateFiles("./", ""));
  EXPECT_TRUE(projectNamesMayClashWithStateFiles("1", "0"));
  EXPECT_FALSE(projectNamesMayClashWithStateFiles("", ".rcp"));
  EXPECT_FALSE(projectNamesMayClashWithStateFiles("j30", ""));
  EXPECT_FALSE(projectNamesMayClashWithStateFiles("data/", ""));
  EXPECT_FALSE(projectNamesMayClashWithStateFiles("", "x"));
}

TEST(StateStorage, WorkingDirectoryWrittenAnyWayIsAClash) {
  ScratchDirectory scratch;
  std::filesystem::create_directory("data");
  const std::string here = std::filesystem::current_path().string();
  const std::string leaf = std::filesystem::current_path().filename().string();
  EXPECT_TRUE(projectNamesMayClashWithStateFiles(here + "/", ""));
  EXPECT_TRUE(projectNamesMayClashWithStateFiles(here + "/7", "1"));
  EXPECT_TRUE(projectNamesMayClashWithStateFiles("../" + leaf + "/", ""));
  EXPECT_TRUE(projectNamesMayClashWithStateFiles("data/../", ""));
  EXPECT_FALSE(projectNamesMayClashWithStateFiles("data/", ""));
  EXPECT_FALSE(projectNamesMayClashWithStateFiles(here + "/data/", ""));
  EXPECT_FALSE(projectNamesMayClashWithStateFiles("missing/", ""));
  EXPECT_FALSE(projectNamesMayClashWithStateFiles(here + "/P", ""));
}

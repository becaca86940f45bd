// Exact pins of every state value a solve computes: a hash of all tables of the kept policy
// (decision and continuation values of both objectives, in UDC and table order), so that a
// change of any value anywhere in the recursion fails here, not only one of the optimum.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "base/config.h"
#include "base/run_state.h"
#include "base/threads.h"
#include "e2e/e2e_support.h"
#include "e2e/j30_first.h"
#include "project/pipeline.h"
#include "sdp/policy.h"
#include "sdp/solvers.h"
#include "sdp/state_storage.h"
#include "udc/udc_network.h"

namespace {

// FNV-1a over the bits of every value.
uint64_t hashOfValues(const KeptPolicy& policy) {
  uint64_t hash = 14695981039346656037ull;
  auto mix = [&](float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    for (int shift = 0; shift < 32; shift += 8) {
      hash ^= (bits >> shift) & 0xffu;
      hash *= 1099511628211ull;
    }
  };
  for (const UdcStateTable& table : policy.tables)
    for (uint32_t i = 0; i < table.count; ++i) {
      mix(table.decisionAt(i));
      mix(table.continuationAt(i));
      mix(table.secondaryDecisionAt(i));
      mix(table.secondaryContinuationAt(i));
    }
  return hash;
}

// FNV-1a over every kept decision, field by field.
uint64_t hashOfDecisions(const KeptPolicy& policy) {
  uint64_t hash = 14695981039346656037ull;
  auto mix = [&](uint64_t value, int bytes) {
    for (int k = 0; k < bytes; ++k) {
      hash ^= (value >> (8 * k)) & 0xffu;
      hash *= 1099511628211ull;
    }
  };
  for (const std::vector<StateDecision>& decisions : policy.decisions)
    for (const StateDecision& d : decisions) {
      mix(static_cast<uint8_t>(d.start), 1);
      mix(static_cast<uint8_t>(d.chosen), 1);
      mix(static_cast<uint64_t>(d.startThenDecide) | static_cast<uint64_t>(d.chosenThenDecide) << 1 |
              static_cast<uint64_t>(d.abandonAtDecision) << 2 | static_cast<uint64_t>(d.abandonAtContinuation) << 3,
          1);
      mix(d.decideAfterPhase, 8);
    }
  return hash;
}

struct Pinned {
  uint64_t hash;
  uint64_t states;
  SolveResult result;
  uint64_t decisionsHash = 0;
};

Pinned solveKeepingEveryValue(const std::string& configText, const std::string& projectName,
                              const std::string& projectText, bool makespanFirst) {
  e2e::ScratchDirectory dir;
  dir.write("CONFIG.DAT", configText);
  dir.write(projectName, projectText);
  runConfig = RunConfig{};
  readConfiguration();
  projectNumber = runConfig.gv_CFG_fnr;
  double udcSeconds = 0;
  Pinned pinned{};
  if (!buildProjectNetworks(ProjectPipeline{}, udcSeconds)) {
    ADD_FAILURE() << "identification failed";
    return pinned;
  }
  KeptPolicy policy;
  if (makespanFirst)
    solveMakespanWithNpvKeepingPolicy(pinned.result, policy);
  else
    solveNpvWithMakespanKeepingPolicy(pinned.result, policy);
  pinned.hash = hashOfValues(policy);
  pinned.decisionsHash = hashOfDecisions(policy);
  pinned.states = udcNetwork.udcTotalStates;
  releaseKeptPolicy(policy);
  releaseProjectNetworks();
  runConfig = RunConfig{};
  return pinned;
}

}  // namespace

TEST(ValuePins, PattersonExample) {
  const std::string example = TERVANO_SOURCE_DIR "/examples/patterson/";
  const Pinned pinned = solveKeepingEveryValue(e2e::readWholeFile(example + "CONFIG.DAT"), "PATTERSON_1.RCP",
                                               e2e::readWholeFile(example + "PATTERSON_1.RCP"), true);
  EXPECT_EQ(pinned.states, 687u);
  EXPECT_EQ(pinned.result.optimum, 0x1.11f062p+4f);  // 17.1212: the console shows six digits
  EXPECT_EQ(pinned.result.secondary, 0x0p+0f);
  EXPECT_EQ(pinned.hash, 6527474643027127785u);
}

TEST(ValuePins, BasicExampleNpvFirst) {
  const std::string example = TERVANO_SOURCE_DIR "/examples/basic/";
  const Pinned pinned = solveKeepingEveryValue(e2e::readWholeFile(example + "CONFIG.DAT"), "PROJECT_1.RCP",
                                               e2e::readWholeFile(example + "PROJECT_1.RCP"), false);
  EXPECT_EQ(pinned.states, 42u);
  EXPECT_EQ(pinned.result.optimum, 0x1.11e7dcp+7f);  // 136.953 and a makespan of 7.21904
  EXPECT_EQ(pinned.result.secondary, 0x1.ce04ep+2f);
  EXPECT_EQ(pinned.hash, 18223585825085139108u);
}

TEST(ValuePins, J30FirstExponential) {
  const Pinned pinned = solveKeepingEveryValue(e2e::configText({{"PJFileName", "J30_"}, {"gv_CFG_OBJ", "1"}}),
                                               "J30_1.RCP", e2e::kJ30First, true);
  EXPECT_EQ(pinned.states, 1282293u);
  EXPECT_EQ(pinned.result.optimum, 0x1.dcc24cp+5f);  // 59.5949
  EXPECT_EQ(pinned.result.secondary, 0x0p+0f);
  EXPECT_EQ(pinned.hash, 6062112616641689853u);
}

// On several threads, with UDCs split into blocks of a few states (every UDC of 8 states or
// more in the examples, of 64 or more in J30_1), every value and every decision is the one of
// a single thread, bit for bit: the pins above hold unchanged.
TEST(ValuePins, UdcsSplitOnThreadsKeepEveryValueAndDecision) {
  struct Case {
    std::string config, name, text;
    bool makespanFirst;
    uint64_t hash;
    uint32_t splitStates, blockStates;
  };
  const std::string patterson = TERVANO_SOURCE_DIR "/examples/patterson/";
  const std::string basic = TERVANO_SOURCE_DIR "/examples/basic/";
  const std::vector<Case> cases = {
      {e2e::readWholeFile(patterson + "CONFIG.DAT"), "PATTERSON_1.RCP",
       e2e::readWholeFile(patterson + "PATTERSON_1.RCP"), true, 6527474643027127785u, 8, 1},
      {e2e::readWholeFile(basic + "CONFIG.DAT"), "PROJECT_1.RCP", e2e::readWholeFile(basic + "PROJECT_1.RCP"), false,
       18223585825085139108u, 8, 2},
      {e2e::configText({{"PJFileName", "J30_"}, {"gv_CFG_OBJ", "1"}}), "J30_1.RCP", e2e::kJ30First, true,
       6062112616641689853u, 64, 8}};
  for (const Case& c : cases) {
    threadSettings.count = 1;
    setUdcSplitSizes(0, 0);
    const Pinned one = solveKeepingEveryValue(c.config, c.name, c.text, c.makespanFirst);
    ASSERT_EQ(one.hash, c.hash) << c.name;
    for (int threads : {2, 4}) {
      threadSettings.count = threads;
      setUdcSplitSizes(c.splitStates, c.blockStates);
      const Pinned split = solveKeepingEveryValue(c.config, c.name, c.text, c.makespanFirst);
      EXPECT_EQ(split.hash, c.hash) << c.name << ", " << threads << " threads";
      EXPECT_EQ(split.decisionsHash, one.decisionsHash) << c.name << ", " << threads << " threads";
      EXPECT_EQ(split.result.optimum, one.result.optimum) << c.name;
      EXPECT_EQ(split.result.secondary, one.result.secondary) << c.name;
    }
  }
  threadSettings.count = 1;
  setUdcSplitSizes(0, 0);
}

namespace {

// The tables' bytes, each table hashed with its UDC and the hashes added up: on several
// threads tables are finished in another order.
uint64_t finishedHash = 0;
int32_t finishedTables = 0;
void hashFinished(int32_t udc, const UdcStateTable& table) {
  ++finishedTables;
  uint64_t hash = 14695981039346656037ull ^ static_cast<uint64_t>(udc);
  for (size_t i = 0; i < static_cast<size_t>(table.count) * table.rowBytes; ++i) {
    hash ^= table.block[i];
    hash *= 1099511628211ull;
  }
  finishedHash += hash;
}

}  // namespace

// J30_1 with every table on disk, and with only 4 MB of them in memory: every table's bytes
// equal those of memory storage (1.28 M states), also where the program is given two threads
// (memory storage then begins and ends the UDCs of a run together; disk storage keeps to one).
TEST(ValuePins, J30FirstOnDiskEqualsMemoryToTheBit) {
  e2e::ScratchDirectory dir;
  dir.write("CONFIG.DAT", e2e::configText({{"PJFileName", "J30_"}, {"gv_CFG_OBJ", "1"}}));
  dir.write("J30_1.RCP", e2e::kJ30First);
  runConfig = RunConfig{};
  readConfiguration();
  projectNumber = runConfig.gv_CFG_fnr;
  double udcSeconds = 0;
  ASSERT_TRUE(buildProjectNetworks(ProjectPipeline{}, udcSeconds));
  observeFinishedTables(hashFinished);
  uint64_t memoryHash = 0;
  uint64_t memoryTableBytes = 0;
  float memoryValue = 0;
  for (int run = 0; run < 6; ++run) {
    threadSettings.count = run < 3 ? 1 : 2;
    useDiskStorage = run % 3 > 0;
    stateMemoryBudgetBytes = run % 3 == 2 ? uint64_t{4} << 20 : 0;
    finishedHash = 0;
    finishedTables = 0;
    SolveResult result;
    solveMakespanWithNpv(result);
    // Every table once, the project's end too, whichever thread takes the first UDCs.
    EXPECT_EQ(finishedTables, udcNetwork.udcCount) << run;
    if (run == 0) {
      memoryHash = finishedHash;
      memoryValue = result.optimum;
      memoryTableBytes = stateStorageCounts().tableBytes;
    } else {
      EXPECT_EQ(stateStorageCounts().tableBytes, memoryTableBytes) << run;
      EXPECT_EQ(finishedHash, memoryHash) << run;
      EXPECT_EQ(result.optimum, memoryValue);
      if (useDiskStorage) {
        EXPECT_GT(stateStorageCounts().bytesWritten, 0u);
      }
    }
  }
  threadSettings.count = 1;
  EXPECT_EQ(memoryValue, 0x1.dcc24cp+5f);
  observeFinishedTables(nullptr);
  useDiskStorage = false;
  stateMemoryBudgetBytes = 0;
  releaseProjectNetworks();
  runConfig = RunConfig{};
}

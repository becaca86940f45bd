// Table life cycle of a solve: memory mode keeps a UDC's table until its last predecessor
// is done; disk mode parks every finished table in a text file and reads it back for each
// predecessor. State files carry 9 significant digits so that a float survives the trip.
#include "sdp/state_table.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "run/config.h"
#include "run/fatal.h"
#include "run/run_state.h"
#include "duration/elementary_network.h"
#include "udc/udc_network.h"

StateStorage stateStorage;

namespace {

bool allDigits(const std::string& text) {
  for (char c : text)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

int32_t takeFreeSlot() {
  if (stateStorage.freeSlots.empty()) {
    stateStorage.tablePool.emplace_back();
    return static_cast<int32_t>(stateStorage.tablePool.size() - 1);
  }
  const int32_t slot = stateStorage.freeSlots.back();
  stateStorage.freeSlots.pop_back();
  return slot;
}

[[noreturn]] void stopStateFile(int32_t u, const std::string& what) {
  stopFatalWithoutPrompt("State file " + stateFileName(u) + " " + what + "...");
}

}  // namespace

std::string stateFileName(int32_t u) { return std::to_string(u); }

bool projectNamesMayClashWithStateFiles(const std::string& fileName, const std::string& fileExt) {
  // A project file can be taken for a state file when its own name is digits only and it
  // lies in the working directory, however the directory is written ("", "./", an absolute
  // path, "../here/", a link).
  const size_t slash = fileName.find_last_of('/');
  const std::string directory = slash == std::string::npos ? std::string(".") : fileName.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
  if (!allDigits(name) || !allDigits(fileExt)) return false;
  std::error_code error;
  return std::filesystem::equivalent(directory, ".", error) && !error;
}

void buildStateStorage(int32_t objectiveCount, bool keepAll) {
  const size_t udcCount = static_cast<size_t>(udcNetwork.udcCount);
  stateStorage = StateStorage{};
  stateStorage.objectiveCount = objectiveCount;
  stateStorage.keepAll = keepAll;
  stateStorage.onDisk = useDiskStorage && !keepAll;
  stateStorage.tableSlotOfUdc.assign(udcCount, -1);
  stateStorage.remainingPredecessors = udcNetwork.udcPredecessorCount;
  if (stateStorage.onDisk) {
    stateStorage.stateFileWritten.assign(udcCount, 0);
    if (udcCount > 1 && projectNamesMayClashWithStateFiles(runConfig.PJFileName, runConfig.PJFileExt))
      stopFatal("State files are named by UDC number in the working directory, and project files named \"" +
                runConfig.PJFileName + "\" + number + \"" + runConfig.PJFileExt +
                "\" could be overwritten by them. Give the project files a name that is not a plain number, "
                "or keep the state values in memory.");
  }
}

void releaseStateStorage() {
  for (size_t u = 0; u < stateStorage.stateFileWritten.size(); ++u)
    if (stateStorage.stateFileWritten[u]) std::remove(stateFileName(static_cast<int32_t>(u)).c_str());
  stateStorage = StateStorage{};
}

void allocateStateTable(int32_t u) {
  const int32_t slot = takeFreeSlot();
  stateStorage.tableSlotOfUdc[static_cast<size_t>(u)] = slot;
  UdcStateTable& table = stateStorage.tablePool[static_cast<size_t>(slot)];
  const size_t count = udcNetwork.udcStateCount[static_cast<size_t>(u)];
  table.wideKeys = countBits(udcMembersOf(u), elementaryNetwork.nBitWords) > kNarrowKeyMembers;
  if (table.wideKeys)
    table.wideKey.resize(count);
  else
    table.narrowKey.resize(count);
  table.values.resize(count * 2 * static_cast<size_t>(stateStorage.objectiveCount));
  table.count = static_cast<uint32_t>(count);
  table.storedCount = 0;
}

void releaseStateTable(int32_t u) {
  int32_t& slot = stateStorage.tableSlotOfUdc[static_cast<size_t>(u)];
  if (slot < 0) return;
  stateStorage.tablePool[static_cast<size_t>(slot)] = UdcStateTable{};
  stateStorage.freeSlots.push_back(slot);
  slot = -1;
}

void writeStateTable(int32_t u) {
  const UdcStateTable& table = stateTableOf(u);
  const bool two = stateStorage.objectiveCount == 2;
  {
    std::ofstream out(stateFileName(u), std::ios::out | std::ios::trunc);
    if (!out) stopStateFile(u, "cannot be written");
    stateStorage.stateFileWritten[static_cast<size_t>(u)] = 1;
    out.precision(9);
    for (uint32_t i = 0; i < table.storedCount; ++i) {
      out << static_cast<double>(table.decisionValue()[i]) << ' '
          << static_cast<double>(table.continuationValue()[i]) << ' ';
      if (two)
        out << static_cast<double>(table.secondaryDecisionValue()[i]) << ' '
            << static_cast<double>(table.secondaryContinuationValue()[i]) << ' ';
      out << table.keyAt(i) << '\n';
    }
    out.close();
    if (!out) stopStateFile(u, "cannot be written");
  }
  releaseStateTable(u);
}

void readStateTable(int32_t u) {
  allocateStateTable(u);
  UdcStateTable& table = stateTableOf(u);
  const bool two = stateStorage.objectiveCount == 2;
  std::ifstream in(stateFileName(u));
  if (!in) stopStateFile(u, "cannot be opened");
  const uint32_t count = table.count;
  float* values = table.values.data();
  for (uint32_t i = 0; i < count; ++i) {
    in >> values[i] >> values[count + i];
    if (two) in >> values[2 * count + i] >> values[3 * count + i];
    StateKey key = 0;
    in >> key;
    if (table.wideKeys)
      table.wideKey[i] = key;
    else
      table.narrowKey[i] = static_cast<uint32_t>(key);
    if (!in || (!table.wideKeys && key > UINT32_MAX) || (i > 0 && key >= table.keyAt(i - 1)))
      stopStateFile(u, "cannot be read back completely with strictly descending keys");
  }
  in >> std::ws;
  if (!in.eof()) stopStateFile(u, "holds more states than its UDC");
  table.storedCount = count;
}

void deleteStateFile(int32_t u) {
  if (std::remove(stateFileName(u).c_str()) != 0) stopFatalWithoutPrompt("File cannot be deleted...");
  stateStorage.stateFileWritten[static_cast<size_t>(u)] = 0;
}

void shelveFinishedTable(int32_t finishedUdc) {
  if (stateStorage.onDisk) writeStateTable(finishedUdc);
}

void openUdcStep(int32_t u) {
  allocateStateTable(u);
  if (!stateStorage.onDisk) return;
  for (uint32_t s : udcSuccessorsOf(u)) readStateTable(static_cast<int32_t>(s));
}

void closeUdcStep(int32_t u) {
  if (stateStorage.keepAll) return;
  for (uint32_t s : udcSuccessorsOf(u)) {
    uint32_t& remaining = stateStorage.remainingPredecessors[s];
    if (remaining == 0 || --remaining != 0) continue;
    if (stateStorage.onDisk)
      deleteStateFile(static_cast<int32_t>(s));
    else
      releaseStateTable(static_cast<int32_t>(s));
  }
  if (stateStorage.onDisk)
    for (uint32_t s : udcSuccessorsOf(u)) releaseStateTable(static_cast<int32_t>(s));
}

void stopMissingTable(int32_t udc) {
  stopFatal("Internal error: the states of UDC " + std::to_string(udc) +
            " are needed after their table was released; the UDC links are inconsistent.");
}

void stopTableOverflow(int32_t udc) {
  stopFatal("Internal error: UDC " + std::to_string(udc) +
            " has more states than identification counted; the solve cannot go on.");
}

void stopMissingState(StateKey key, int32_t udc) {
  stopFatal("Internal error: state " + std::to_string(key) + " is missing from the table of UDC " +
            std::to_string(udc) + "; identification and the solver disagree on the states.");
}

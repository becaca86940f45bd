// Table life cycle of a solve. Memory keeps a UDC's table until its last predecessor is done;
// disk parks every finished table in a text file and reads it back for each predecessor. The
// files live in a directory that the storage creates for itself (never a file it did not
// create is written or removed) and carry 9 significant digits, so a float survives the trip.
#include "sdp/state_storage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <string>
#include <vector>

#include "duration/elementary_network.h"
#include "run/fatal.h"
#include "udc/udc_network.h"

namespace {

struct StateStorage {
  int32_t objectiveCount = 1;
  bool onDisk = false;
  bool keepAll = false;
  std::vector<int32_t> tableSlotOfUdc;  // -1 while the UDC has no table in memory
  std::deque<UdcStateTable> tablePool;  // stable addresses: tables are referred to while others come
  std::vector<int32_t> freeSlots;
  PendingPredecessors pending;
  int32_t filling = -1;  // the UDC whose table was begun last
  // Disk: the directory of this solve, and which UDCs have a file in it.
  std::string directory;
  std::vector<uint8_t> fileWritten;
};

StateStorage storage;

[[noreturn]] void stopStateFile(const std::string& what) { stopFatalWithoutPrompt(what + "...\n"); }

std::string stateFileName(int32_t u) { return storage.directory + "/" + std::to_string(u); }

UdcStateTable& newTable(int32_t u) {
  int32_t slot;
  if (storage.freeSlots.empty()) {
    storage.tablePool.emplace_back();
    slot = static_cast<int32_t>(storage.tablePool.size() - 1);
  } else {
    slot = storage.freeSlots.back();
    storage.freeSlots.pop_back();
  }
  storage.tableSlotOfUdc[static_cast<size_t>(u)] = slot;
  UdcStateTable& table = storage.tablePool[static_cast<size_t>(slot)];
  const int32_t members = udcMemberCount(u);
  allocateTable(table, udcStateCount(u), members > kNarrowKeyMembers, storage.objectiveCount);
  table.memberCount = static_cast<uint8_t>(members);
  return table;
}

void releaseTable(int32_t u) {
  int32_t& slot = storage.tableSlotOfUdc[static_cast<size_t>(u)];
  if (slot < 0) return;
  storage.tablePool[static_cast<size_t>(slot)] = UdcStateTable{};
  storage.freeSlots.push_back(slot);
  slot = -1;
}

void createDirectory() {
  std::string name = "tervano-states-XXXXXX";
  if (mkdtemp(name.data()) == nullptr)
    stopStateFile("The directory for state files cannot be created in the working directory (" +
                  std::string(std::strerror(errno)) + ")");
  storage.directory = name;
}

// The file is created anew: an existing name, or a link, is refused.
void parkTable(int32_t u) {
  const UdcStateTable& table = udcTable(u);
  const std::string name = stateFileName(u);
  const int descriptor = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
  if (descriptor < 0) stopStateFile("State file " + name + " cannot be created (" + std::strerror(errno) + ")");
  storage.fileWritten[static_cast<size_t>(u)] = 1;
  FILE* out = fdopen(descriptor, "w");
  if (out == nullptr) {
    ::close(descriptor);
    stopStateFile("State file " + name + " cannot be written");
  }
  const bool two = storage.objectiveCount == 2;
  bool written = true;
  for (uint32_t i = 0; i < table.storedCount && written; ++i) {
    int result = 0;
    if (two)
      result = std::fprintf(out, "%.9g %.9g %.9g %.9g %llu\n", static_cast<double>(table.decisionAt(i)),
                            static_cast<double>(table.continuationAt(i)),
                            static_cast<double>(table.secondaryDecisionAt(i)),
                            static_cast<double>(table.secondaryContinuationAt(i)),
                            static_cast<unsigned long long>(table.keyAt(i)));
    else
      result = std::fprintf(out, "%.9g %.9g %llu\n", static_cast<double>(table.decisionAt(i)),
                            static_cast<double>(table.continuationAt(i)),
                            static_cast<unsigned long long>(table.keyAt(i)));
    written = result > 0;
  }
  if (std::fclose(out) != 0 || !written) stopStateFile("State file " + name + " cannot be written");
  releaseTable(u);
}

void readTable(int32_t u) {
  UdcStateTable& table = newTable(u);
  const std::string name = stateFileName(u);
  std::ifstream in(name);
  if (!in) stopStateFile("State file " + name + " cannot be opened");
  const uint32_t count = table.count;
  const bool two = storage.objectiveCount == 2;
  for (uint32_t i = 0; i < count; ++i) {
    float values[4] = {};
    in >> values[0] >> values[1];
    if (two) in >> values[2] >> values[3];
    table.setValues(i, values);
    StateKey key = 0;
    in >> key;
    if (!in || (!table.wideKeys && key > UINT32_MAX) || (i > 0 && key >= table.keyAt(i - 1)))
      stopStateFile("State file " + name + " cannot be read back completely with strictly descending keys");
    table.setKey(i, key);
  }
  in >> std::ws;
  if (!in.eof()) stopStateFile("State file " + name + " holds more states than its UDC");
  table.storedCount = count;
}

void deleteFile(int32_t u) {
  const std::string name = stateFileName(u);
  if (std::remove(name.c_str()) != 0)
    stopFatalWithoutPrompt("File cannot be deleted... " + name + ": " + std::strerror(errno) + "\n");
  storage.fileWritten[static_cast<size_t>(u)] = 0;
}

}  // namespace

void stopMissingState(StateKey key, int32_t udc) {
  stopFatal("Internal error: state " + std::to_string(key) + " is missing from the table of UDC " +
            std::to_string(udc) + "; identification and the solver disagree on the states.");
}

void stopTableOverflow(int32_t udc) {
  stopFatal("Internal error: UDC " + std::to_string(udc) +
            " has more states than identification counted; the solve cannot go on.");
}

void openStateStorage(int32_t objectiveCount, bool onDisk, bool keepAll) {
  closeStateStorage();
  const size_t udcCount = static_cast<size_t>(udcNetwork.udcCount);
  storage.objectiveCount = objectiveCount;
  storage.keepAll = keepAll;
  storage.onDisk = onDisk && !keepAll;
  storage.tableSlotOfUdc.assign(udcCount, -1);
  countPendingPredecessors(storage.pending);
  if (storage.onDisk) {
    storage.fileWritten.assign(udcCount, 0);
    createDirectory();
  }
}

UdcStateTable& beginUdcTable(int32_t u) {
  if (storage.onDisk) {
    if (storage.filling >= 0) parkTable(storage.filling);
    for (uint32_t s : udcSuccessorsOf(u)) readTable(static_cast<int32_t>(s));
  }
  storage.filling = u;
  return newTable(u);
}

UdcStateTable& udcTable(int32_t u) {
  const int32_t slot = storage.tableSlotOfUdc[static_cast<size_t>(u)];
  if (slot < 0)
    stopFatal("Internal error: the states of UDC " + std::to_string(u) +
              " are needed after their table was released; the UDC links are inconsistent.");
  return storage.tablePool[static_cast<size_t>(slot)];
}

void endUdcTable(int32_t u) {
  if (storage.keepAll) return;
  for (uint32_t s : udcSuccessorsOf(u)) {
    if (!takePendingPredecessor(storage.pending, s)) continue;
    if (storage.onDisk)
      deleteFile(static_cast<int32_t>(s));
    else
      releaseTable(static_cast<int32_t>(s));
  }
  if (storage.onDisk)
    for (uint32_t s : udcSuccessorsOf(u)) releaseTable(static_cast<int32_t>(s));
}

UdcStateTable takeUdcTable(int32_t u) {
  UdcStateTable taken = std::move(udcTable(u));
  releaseTable(u);
  return taken;
}

void closeStateStorage() {
  if (!storage.directory.empty()) {
    for (size_t u = 0; u < storage.fileWritten.size(); ++u)
      if (storage.fileWritten[u]) std::remove(stateFileName(static_cast<int32_t>(u)).c_str());
    ::rmdir(storage.directory.c_str());
  }
  storage = StateStorage{};
}

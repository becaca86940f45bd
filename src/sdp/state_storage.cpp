// Table life cycle of a solve. Memory keeps a UDC's table until its last predecessor is done;
// disk parks every finished table in a text file and reads it back for each predecessor. The
// files live in a directory that the storage creates for itself (never a file it did not
// create is written or removed) and carry 9 significant digits, so a float survives the trip.
#include "sdp/state_storage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "duration/elementary_network.h"
#include "base/fatal.h"
#include "base/large_pages.h"
#include "udc/udc_network.h"

namespace {

// Small tables come from chunks of the storage's own and go back to a list per size when
// released: a sweep takes and gives back millions of them, which the general allocator does
// at several times the cost. The chunks go when the storage closes.
struct BlockPool {
  static constexpr size_t kLargest = 1024;  // bytes; larger blocks come from new[]
  // Chunks double from 64 KiB to 8 MiB (in large pages where the system gives them), so that a
  // small project's solve maps little.
  static constexpr size_t kFirstChunk = size_t{64} << 10;
  static constexpr size_t kLargestChunk = size_t{8} << 20;
  struct Chunk {
    uint8_t* begin = nullptr;
    size_t bytes = 0;
    explicit Chunk(size_t size) : begin(static_cast<uint8_t*>(mapLargePages(size))), bytes(size) {}
    Chunk(Chunk&& other) noexcept : begin(other.begin), bytes(other.bytes) { other.begin = nullptr; }
    Chunk(const Chunk&) = delete;
    Chunk& operator=(const Chunk&) = delete;
    Chunk& operator=(Chunk&&) = delete;
    ~Chunk() {
      if (begin != nullptr) unmapLargePages(begin, bytes);
    }
  };
  std::vector<Chunk> chunks;
  size_t used = 0;  // bytes handed out of the last chunk
  std::vector<uint8_t*> freeBySize = std::vector<uint8_t*>(kLargest / 8 + 1, nullptr);  // by size / 8
};

// The table records in use, in chunks of a fixed power-of-two size: their addresses stay
// while more come, and finding one is a shift and a mask.
struct TableRecords {
  static constexpr int kChunkShift = 10;
  static constexpr size_t kChunkSize = size_t{1} << kChunkShift;
  std::vector<std::unique_ptr<UdcStateTable[]>> chunks;
  size_t count = 0;

  UdcStateTable& operator[](size_t slot) { return chunks[slot >> kChunkShift][slot & (kChunkSize - 1)]; }
  // A new record at the end; its slot.
  size_t add() {
    if (count == chunks.size() * kChunkSize) chunks.push_back(std::make_unique<UdcStateTable[]>(kChunkSize));
    return count++;
  }
  template <class Visit>
  void forEach(Visit&& visit) {
    for (size_t slot = 0; slot < count; ++slot) visit((*this)[slot]);
  }
};

struct StateStorage {
  int32_t objectiveCount = 1;
  bool onDisk = false;
  bool keepAll = false;
  LargeVector<int32_t> tableSlotOfUdc;  // -1 while the UDC has no table in memory
  TableRecords tablePool;  // stable addresses: tables are referred to while others come
  std::vector<int32_t> freeSlots;
  PendingPredecessors pending;
  BlockPool blocks;  // not while a policy is kept: its tables outlive the storage
  int32_t filling = -1;  // the UDC whose table was begun last
  // Disk: the directory of this solve, and which UDCs have a file in it.
  std::string directory;
  std::vector<uint8_t> fileWritten;
};

StateStorage storage;

[[noreturn]] void stopStateFile(const std::string& what) { stopFatalWithoutPrompt(what + "...\n"); }

std::string stateFileName(int32_t u) { return storage.directory + "/" + std::to_string(u); }

// The bytes a table's block takes in the pool, or 0 when it comes from new[].
size_t pooledBytes(uint32_t count, bool wideKeys) {
  if (storage.keepAll) return 0;
  const size_t bytes = (stateTableBytes(count, wideKeys, storage.objectiveCount) + 7) / 8 * 8;
  return bytes <= BlockPool::kLargest ? bytes : 0;
}

uint8_t* takePooledBlock(size_t bytes) {
  BlockPool& pool = storage.blocks;
  uint8_t*& head = pool.freeBySize[bytes / 8];
  if (head != nullptr) {
    uint8_t* block = head;
    std::memcpy(&head, block, sizeof head);  // a free block holds the next one of its size
    // The next table of this size starts there: its first line is fetched meanwhile, since
    // popping it reads it.
    if (head != nullptr) __builtin_prefetch(head, 1);
    return block;
  }
  if (pool.chunks.empty() || pool.used + bytes > pool.chunks.back().bytes) {
    const size_t size =
        pool.chunks.empty() ? BlockPool::kFirstChunk : std::min(2 * pool.chunks.back().bytes, BlockPool::kLargestChunk);
    pool.chunks.emplace_back(size);
    pool.used = 0;
  }
  uint8_t* block = pool.chunks.back().begin + pool.used;
  pool.used += bytes;
  return block;
}

// Takes the block from a table whose block is pooled, back into its list.
void returnPooledBlock(UdcStateTable& table) {
  const size_t bytes = pooledBytes(table.count, table.wideKeys);
  if (bytes == 0 || !table.block) return;
  uint8_t* block = table.block.release();
  uint8_t*& head = storage.blocks.freeBySize[bytes / 8];
  std::memcpy(block, &head, sizeof head);
  head = block;
}

UdcStateTable& newTable(int32_t u) {
  int32_t slot;
  if (storage.freeSlots.empty()) {
    slot = static_cast<int32_t>(storage.tablePool.add());
  } else {
    slot = storage.freeSlots.back();
    storage.freeSlots.pop_back();
  }
  storage.tableSlotOfUdc[static_cast<size_t>(u)] = slot;
  UdcStateTable& table = storage.tablePool[static_cast<size_t>(slot)];
  const int32_t members = udcMemberCount(u);
  const uint32_t count = udcStateCount(u);
  const bool wide = members > kNarrowKeyMembers;
  const size_t pooled = pooledBytes(count, wide);
  if (pooled != 0) {
    table.block.reset(takePooledBlock(pooled));
    shapeTable(table, count, wide, storage.objectiveCount);
  } else {
    allocateTable(table, count, wide, storage.objectiveCount);
  }
  table.memberCount = static_cast<uint8_t>(members);
  return table;
}

void releaseTable(int32_t u) {
  int32_t& slot = storage.tableSlotOfUdc[static_cast<size_t>(u)];
  if (slot < 0) return;
  returnPooledBlock(storage.tablePool[static_cast<size_t>(slot)]);
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
  const int values = 2 * storage.objectiveCount;
  bool written = true;
  for (uint32_t i = 0; i < table.storedCount && written; ++i) {
    for (int k = 0; k < values && written; ++k)
      written = std::fprintf(out, "%.9g ", static_cast<double>(table.valueAt(i, k))) > 0;
    written = written && std::fprintf(out, "%llu\n", static_cast<unsigned long long>(table.keyAt(i))) > 0;
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
  const int valueCount = 2 * storage.objectiveCount;
  for (uint32_t i = 0; i < count; ++i) {
    float values[2 * kMaxValueLanes] = {};
    for (int k = 0; k < valueCount; ++k) in >> values[k];
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

void prefetchSuccessorTables(const std::vector<uint32_t>& next, const std::vector<uint32_t>& second,
                             const std::vector<uint32_t>& third) {
  for (uint32_t s : third) __builtin_prefetch(&storage.tableSlotOfUdc[s]);
  for (uint32_t s : second) {
    const int32_t slot = storage.tableSlotOfUdc[s];
    if (slot >= 0) __builtin_prefetch(&storage.tablePool[static_cast<size_t>(slot)]);
  }
  for (uint32_t s : next) {
    const int32_t slot = storage.tableSlotOfUdc[s];
    if (slot < 0) continue;
    // The first lookups of a sweep land anywhere in a small table: its first four lines.
    const UdcStateTable& table = storage.tablePool[static_cast<size_t>(slot)];
    const size_t bytes = std::min<size_t>(static_cast<size_t>(table.count) * table.rowBytes, 256);
    for (size_t at = 0; at < bytes; at += 64) __builtin_prefetch(table.block.get() + at);
  }
}

void endUdcTable(const std::vector<uint32_t>& successors) {
  if (storage.keepAll) return;
  for (uint32_t s : successors) {
    if (!takePendingPredecessor(storage.pending, s)) continue;
    if (storage.onDisk)
      deleteFile(static_cast<int32_t>(s));
    else
      releaseTable(static_cast<int32_t>(s));
  }
  if (storage.onDisk)
    for (uint32_t s : successors) releaseTable(static_cast<int32_t>(s));
}

UdcStateTable takeUdcTable(int32_t u) {
  UdcStateTable taken = std::move(udcTable(u));
  releaseTable(u);
  return taken;
}

void closeStateStorage() {
  storage.tablePool.forEach([](UdcStateTable& table) { returnPooledBlock(table); });
  if (!storage.directory.empty()) {
    for (size_t u = 0; u < storage.fileWritten.size(); ++u)
      if (storage.fileWritten[u]) std::remove(stateFileName(static_cast<int32_t>(u)).c_str());
    ::rmdir(storage.directory.c_str());
  }
  storage = StateStorage{};
}

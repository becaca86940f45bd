// Table life cycle of a solve. Memory keeps a UDC's table until its last predecessor is done.
// Disk appends finished tables, as the very bytes memory holds (so a value comes back to the
// last bit, whatever a row carries), in the order the sweep finishes them to a few large
// files, a block of many tables per write; an index in memory says where each table lies.
// A table is read back when a predecessor needs it, and a file is removed once no table in it
// is needed any more (the space of a large table is given back at once). The files live in a
// directory that the storage creates for itself and opens without following a link; never a
// file it did not create is written or removed. Writes and reads go in chunks, and a signal
// stops them between two, so that an interrupted solve removes its files at once.
#include "sdp/state_storage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/fatal.h"
#include "base/interrupt.h"
#include "base/large_pages.h"
#include "base/run_state.h"
#include "duration/elementary_network.h"
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

constexpr uint64_t kNotOnDisk = UINT64_MAX;
constexpr uint64_t kDefaultFileBytes = uint64_t{256} << 20;
constexpr uint64_t kDefaultBlockBytes = uint64_t{8} << 20;
// One system call writes or reads at most this much, so that a signal is seen soon.
constexpr size_t kChunkBytes = size_t{4} << 20;
// With every table written at once, the tables read back or just finished that stay in memory.
constexpr uint64_t kWindowBytes = uint64_t{64} << 20;
// Tables from this size are asked of the system ahead of their read, and their space in a
// file is given back as soon as they are dropped.
constexpr uint64_t kAheadBytes = uint64_t{64} << 10;
constexpr uint64_t kReleasedBytes = uint64_t{1} << 20;
// How many UDCs ahead of the one begun the sweep's successors are asked for.
constexpr int32_t kAheadUdcs = 8;

// A resident table's place in the order of use: the least recently needed go to disk first.
// Tables in use (pinned) are out of that order.
struct SlotUse {
  int32_t udc = -1;
  int32_t newer = -1;
  int32_t older = -1;
  uint32_t pins = 0;
  bool listed = false;
};

struct StateFile {
  int descriptor = -1;
  uint64_t liveBytes = 0;  // of tables still needed
  bool removed = false;
};

struct StateStorage {
  int32_t objectiveCount = 1;
  bool mergedValues = false;  // rows of one value (state_table.h)
  bool onDisk = false;
  bool keepAll = false;
  uint64_t generation = 0;              // tells a thread's UDC in hand from one of an earlier solve
  LargeVector<int32_t> tableSlotOfUdc;  // -1 while the UDC has no table in memory
  TableRecords tablePool;               // stable addresses: tables are referred to while others come
  std::vector<int32_t> freeSlots;
  PendingPredecessors pending;
  BlockPool blocks;  // not while a policy is kept: its tables outlive the storage
  // Disk: the directory of this solve and its files, one stream of images cut into files.
  std::string directory;
  int directoryDescriptor = -1;
  uint64_t fileBytes = kDefaultFileBytes;
  uint64_t budgetBytes = 0;
  bool writeAtOnce = false;
  LargeVector<uint64_t> offsetOfUdc;  // in the stream, kNotOnDisk when not written
  std::vector<StateFile> files;
  std::vector<uint8_t> block;  // the stream from writtenEnd on, not yet written
  uint64_t streamEnd = 0;
  uint64_t writtenEnd = 0;
  std::vector<SlotUse> uses;  // by slot
  int32_t newest = -1;
  int32_t oldest = -1;
  uint64_t memoryBytes = 0;  // of resident tables
  uint64_t liveDiskBytes = 0;
  int32_t aheadBelow = 0;  // the successors of UDCs from here up were asked for
  StateStorageCounts counts;
};

StateStorage storage;
std::mutex storageLock;
uint64_t blockBytesSet = kDefaultBlockBytes;
uint64_t fileBytesSet = kDefaultFileBytes;
FinishedTableObserver finishedObserver = nullptr;
StateStorageCounts lastCounts;
uint64_t generations = 0;

// The UDC this thread began last and has not yet finished.
struct Filling {
  uint64_t generation = 0;
  int32_t udc = -1;
};
thread_local Filling filling;

[[noreturn]] void stopStateFile(const std::string& what) { stopFatalWithoutPrompt(what + "...\n"); }

std::string stateFileName(size_t file) { return "states-" + std::to_string(file); }
std::string stateFilePath(size_t file) { return storage.directory + "/" + stateFileName(file); }

size_t tableBytes(const UdcStateTable& table) { return static_cast<size_t>(table.count) * table.rowBytes; }

// The bytes of u's table, in memory or not.
uint64_t bytesOfTable(int32_t u, int32_t objectiveCount, bool mergedValues) {
  return stateTableBytes(udcStateCount(u), udcMemberCount(u) > kNarrowKeyMembers, objectiveCount, mergedValues);
}
uint64_t bytesOfTable(int32_t u) { return bytesOfTable(u, storage.objectiveCount, storage.mergedValues); }

// The bytes a table's block takes in the pool, or 0 when it comes from new[].
size_t pooledBytes(uint32_t count, bool wideKeys) {
  if (storage.keepAll) return 0;
  const size_t bytes = (stateTableBytes(count, wideKeys, storage.objectiveCount, storage.mergedValues) + 7) / 8 * 8;
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
    if (storage.onDisk) storage.uses.emplace_back();
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
    shapeTable(table, count, wide, storage.objectiveCount, storage.mergedValues);
  } else {
    allocateTable(table, count, wide, storage.objectiveCount, storage.mergedValues);
  }
  table.memberCount = static_cast<uint8_t>(members);
  if (storage.onDisk) {
    storage.uses[static_cast<size_t>(slot)] = SlotUse{.udc = u};
    storage.memoryBytes += tableBytes(table);
    storage.counts.peakMemoryBytes = std::max(storage.counts.peakMemoryBytes, storage.memoryBytes);
  }
  return table;
}

// The order of use: unlinks a resident table, or puts it first as the one needed last.
void unlistSlot(int32_t slot) {
  SlotUse& use = storage.uses[static_cast<size_t>(slot)];
  if (!use.listed) return;
  if (use.newer >= 0)
    storage.uses[static_cast<size_t>(use.newer)].older = use.older;
  else
    storage.newest = use.older;
  if (use.older >= 0)
    storage.uses[static_cast<size_t>(use.older)].newer = use.newer;
  else
    storage.oldest = use.newer;
  use.newer = use.older = -1;
  use.listed = false;
}

void listSlotAsNewest(int32_t slot) {
  SlotUse& use = storage.uses[static_cast<size_t>(slot)];
  use.older = storage.newest;
  use.newer = -1;
  if (storage.newest >= 0) storage.uses[static_cast<size_t>(storage.newest)].newer = slot;
  storage.newest = slot;
  if (storage.oldest < 0) storage.oldest = slot;
  use.listed = true;
}

void pinSlot(int32_t slot) {
  unlistSlot(slot);
  ++storage.uses[static_cast<size_t>(slot)].pins;
}

void unpinSlot(int32_t slot) {
  SlotUse& use = storage.uses[static_cast<size_t>(slot)];
  if (use.pins > 0 && --use.pins == 0) listSlotAsNewest(slot);
}

void releaseTable(int32_t u) {
  int32_t& slot = storage.tableSlotOfUdc[static_cast<size_t>(u)];
  if (slot < 0) return;
  UdcStateTable& table = storage.tablePool[static_cast<size_t>(slot)];
  if (storage.onDisk) {
    unlistSlot(slot);
    storage.uses[static_cast<size_t>(slot)] = SlotUse{};
    storage.memoryBytes -= tableBytes(table);
  }
  returnPooledBlock(table);
  table = UdcStateTable{};
  storage.freeSlots.push_back(slot);
  slot = -1;
}

// Disk: the directory of the solve, made afresh (mode 0700) and opened as a directory, never
// through a link; its files are made relative to it.
void createDirectory() {
  std::string name = "tervano-states-XXXXXX";
  if (mkdtemp(name.data()) == nullptr)
    stopStateFile("The directory for state files cannot be created in the working directory (" +
                  std::string(std::strerror(errno)) + ")");
  storage.directory = name;
  storage.directoryDescriptor = ::open(name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (storage.directoryDescriptor < 0)
    stopStateFile("The directory for state files " + name + " cannot be opened (" + std::strerror(errno) + ")");
}

// Calls piece(file, offset in the file, offset in the range, bytes) for the parts of the
// stream's range [at, at + bytes) in each file.
template <class Piece>
void forEachPiece(uint64_t at, uint64_t bytes, Piece&& piece) {
  uint64_t done = 0;
  while (done < bytes) {
    const uint64_t position = at + done;
    const size_t file = static_cast<size_t>(position / storage.fileBytes);
    const uint64_t inFile = position % storage.fileBytes;
    const uint64_t part = std::min(bytes - done, storage.fileBytes - inFile);
    piece(file, inFile, done, part);
    done += part;
  }
}

StateFile& fileToWrite(size_t file) {
  if (storage.files.size() <= file) storage.files.resize(file + 1);
  StateFile& state = storage.files[file];
  if (state.descriptor < 0 && !state.removed) {
    const std::string name = stateFileName(file);
    state.descriptor =
        ::openat(storage.directoryDescriptor, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (state.descriptor < 0)
      stopStateFile("State file " + stateFilePath(file) + " cannot be created (" + std::strerror(errno) + ")");
    ++storage.counts.filesCreated;
  }
  return state;
}

// A failed write stops the solve; a full disk or a file size limit names itself here.
void writeFully(size_t file, const uint8_t* data, uint64_t bytes, uint64_t at) {
  const StateFile& state = fileToWrite(file);
  if (state.removed) return;  // nothing in it is needed any more
  while (bytes > 0) {
    checkInterrupt();
    const size_t part = static_cast<size_t>(std::min<uint64_t>(bytes, kChunkBytes));
    const ssize_t written = ::pwrite(state.descriptor, data, part, static_cast<off_t>(at));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0)
      stopStateFile("State file " + stateFilePath(file) + " cannot be written (" +
                    std::strerror(written < 0 ? errno : ENOSPC) + ")");
    data += written;
    bytes -= static_cast<uint64_t>(written);
    at += static_cast<uint64_t>(written);
    storage.counts.bytesWritten += static_cast<uint64_t>(written);
  }
}

void writeStream(const uint8_t* data, uint64_t at, uint64_t bytes) {
  forEachPiece(at, bytes, [&](size_t file, uint64_t inFile, uint64_t from, uint64_t part) {
    writeFully(file, data + from, part, inFile);
  });
}

void removeFileIfDead(size_t file) {
  if (file >= storage.files.size()) return;
  StateFile& state = storage.files[file];
  // A file is done once the stream has been written beyond it.
  if (state.removed || state.liveBytes != 0 || (file + 1) * storage.fileBytes > storage.writtenEnd) return;
  if (state.descriptor >= 0) {
    ::close(state.descriptor);
    state.descriptor = -1;
    if (::unlinkat(storage.directoryDescriptor, stateFileName(file).c_str(), 0) != 0)
      stopStateFile("State file " + stateFilePath(file) + " cannot be deleted (" + std::strerror(errno) + ")");
    ++storage.counts.filesRemoved;
  }
  state.removed = true;
}

void writeBlock() {
  if (storage.block.empty()) return;
  const uint64_t from = storage.writtenEnd;
  writeStream(storage.block.data(), from, storage.block.size());
  storage.writtenEnd += storage.block.size();
  storage.block.clear();
  for (size_t file = static_cast<size_t>(from / storage.fileBytes); file * storage.fileBytes < storage.writtenEnd;
       ++file)
    removeFileIfDead(file);
}

// Appends the table's image to the stream: into the block, or, when large, straight out.
void appendImage(int32_t u, const UdcStateTable& table) {
  const uint64_t bytes = tableBytes(table);
  const uint64_t at = storage.streamEnd;
  storage.offsetOfUdc[static_cast<size_t>(u)] = at;
  forEachPiece(at, bytes, [](size_t file, uint64_t, uint64_t, uint64_t part) {
    if (storage.files.size() <= file) storage.files.resize(file + 1);
    storage.files[file].liveBytes += part;
  });
  storage.liveDiskBytes += bytes;
  storage.counts.peakDiskBytes = std::max(storage.counts.peakDiskBytes, storage.liveDiskBytes);
  ++storage.counts.tablesWritten;
  const uint64_t blockBytes = std::max<uint64_t>(blockBytesSet, 1);
  if (storage.block.size() + bytes > blockBytes) writeBlock();
  if (bytes >= blockBytes) {
    writeStream(table.block.get(), at, bytes);
    storage.writtenEnd = at + bytes;
    for (size_t file = static_cast<size_t>(at / storage.fileBytes); file * storage.fileBytes < storage.writtenEnd;
         ++file)
      removeFileIfDead(file);
  } else {
    storage.block.insert(storage.block.end(), table.block.get(), table.block.get() + bytes);
  }
  storage.streamEnd = at + bytes;
}

// Reads u's image back into a new table, which the caller pins or lists.
int32_t readImage(int32_t u) {
  const uint64_t at = storage.offsetOfUdc[static_cast<size_t>(u)];
  UdcStateTable& table = newTable(u);
  const uint64_t bytes = tableBytes(table);
  if (at + bytes > storage.writtenEnd) writeBlock();
  uint8_t* into = table.block.get();
  forEachPiece(at, bytes, [&](size_t file, uint64_t inFile, uint64_t from, uint64_t part) {
    const StateFile& state = storage.files[file];
    while (part > 0) {
      checkInterrupt();
      const size_t chunk = static_cast<size_t>(std::min<uint64_t>(part, kChunkBytes));
      const ssize_t got = ::pread(state.descriptor, into + from, chunk, static_cast<off_t>(inFile));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0)
        stopStateFile("State file " + stateFilePath(file) + " cannot be read back completely (" +
                      (got < 0 ? std::strerror(errno) : "it ends early") + ")");
      from += static_cast<uint64_t>(got);
      inFile += static_cast<uint64_t>(got);
      part -= static_cast<uint64_t>(got);
      storage.counts.bytesRead += static_cast<uint64_t>(got);
    }
  });
  table.storedCount = table.count;
  ++storage.counts.tablesRead;
  return storage.tableSlotOfUdc[static_cast<size_t>(u)];
}

// No UDC still to come needs u's image: its bytes no longer count, a file of nothing else
// goes, and a large image gives its space back at once.
void dropImage(int32_t u) {
  uint64_t& at = storage.offsetOfUdc[static_cast<size_t>(u)];
  if (at == kNotOnDisk) return;
  const uint64_t bytes = bytesOfTable(u);
  forEachPiece(at, bytes, [&](size_t file, uint64_t inFile, uint64_t, uint64_t part) {
    StateFile& state = storage.files[file];
    state.liveBytes -= part;
    if (state.liveBytes == 0) {
      removeFileIfDead(file);
    } else if (part >= kReleasedBytes && state.descriptor >= 0 && at + bytes <= storage.writtenEnd) {
      const uint64_t first = (inFile + 4095) / 4096 * 4096;
      const uint64_t end = (inFile + part) / 4096 * 4096;
      // Where the file system cannot punch holes the space comes back with the file.
      if (end > first)
        (void)::fallocate(state.descriptor, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(first),
                          static_cast<off_t>(end - first));
    }
  });
  storage.liveDiskBytes -= bytes;
  at = kNotOnDisk;
}

// Makes room for a table of the given bytes (0: none) within the budget: the least recently
// needed tables go, a finished one written first if it is not yet, a copy read back simply
// dropped (its image is still on disk). Tables in use are never taken; when they alone fill
// the budget the new table comes on top of them.
void makeRoomFor(uint64_t bytes) {
  while (storage.memoryBytes + bytes > storage.budgetBytes && storage.oldest >= 0) {
    const int32_t slot = storage.oldest;
    const int32_t u = storage.uses[static_cast<size_t>(slot)].udc;
    if (storage.offsetOfUdc[static_cast<size_t>(u)] == kNotOnDisk)
      appendImage(u, storage.tablePool[static_cast<size_t>(slot)]);
    releaseTable(u);
  }
}

void keepWithinBudget() { makeRoomFor(0); }

// Asks the system for the large images the next UDCs of the sweep will read, so that they
// come off the device while this UDC is evaluated.
void readAheadFor(int32_t u) {
  const int32_t lowest = std::max(u - kAheadUdcs, 0);
  for (int32_t v = std::min(storage.aheadBelow, u) - 1; v >= lowest; --v)
    for (uint32_t s : udcSuccessorsOf(v)) {
      const uint64_t at = storage.offsetOfUdc[s];
      if (at == kNotOnDisk || storage.tableSlotOfUdc[s] >= 0) continue;
      const uint64_t bytes = bytesOfTable(static_cast<int32_t>(s));
      if (bytes < kAheadBytes || at + bytes > storage.writtenEnd) continue;
      forEachPiece(at, bytes, [](size_t file, uint64_t inFile, uint64_t, uint64_t part) {
        const StateFile& state = storage.files[file];
        if (state.descriptor >= 0)
          (void)::posix_fadvise(state.descriptor, static_cast<off_t>(inFile), static_cast<off_t>(part),
                                POSIX_FADV_WILLNEED);
      });
    }
  storage.aheadBelow = std::min(storage.aheadBelow, lowest);
}

// The table of u is complete: with every table on disk it is written now.
void finishTable(int32_t u) {
  const int32_t slot = storage.tableSlotOfUdc[static_cast<size_t>(u)];
  if (slot < 0) return;
  const UdcStateTable& table = storage.tablePool[static_cast<size_t>(slot)];
  storage.counts.tableBytes += tableBytes(table);
  if (finishedObserver != nullptr) finishedObserver(u, table);
  if (!storage.onDisk) return;
  if (storage.writeAtOnce) appendImage(u, table);
  unpinSlot(slot);
}

void finishFilling() {
  if (filling.generation == storage.generation && filling.udc >= 0) finishTable(filling.udc);
  filling.udc = -1;
}

[[noreturn]] void stopReleasedTable(int32_t u) {
  stopFatal("Internal error: the states of UDC " + std::to_string(u) +
            " are needed after their table was released; the UDC links are inconsistent.");
}

void closeStorage() {
  storage.tablePool.forEach([](UdcStateTable& table) { returnPooledBlock(table); });
  if (!storage.directory.empty()) {
    for (size_t file = 0; file < storage.files.size(); ++file) {
      StateFile& state = storage.files[file];
      if (state.descriptor < 0) continue;
      ::close(state.descriptor);
      if (::unlinkat(storage.directoryDescriptor, stateFileName(file).c_str(), 0) == 0) ++storage.counts.filesRemoved;
    }
    if (storage.directoryDescriptor >= 0) ::close(storage.directoryDescriptor);
    ::rmdir(storage.directory.c_str());
  }
  if (storage.generation != 0) lastCounts = storage.counts;
  storage = StateStorage{};
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

void openStateStorage(int32_t objectiveCount, bool onDisk, bool keepAll, bool mergedValues) {
  const std::lock_guard<std::mutex> lock(storageLock);
  closeStorage();
  const size_t udcCount = static_cast<size_t>(udcNetwork.udcCount);
  storage.generation = ++generations;
  storage.objectiveCount = objectiveCount;
  storage.mergedValues = mergedValues && objectiveCount == 1;
  storage.keepAll = keepAll;
  storage.onDisk = onDisk && !keepAll;
  storage.tableSlotOfUdc.assign(udcCount, -1);
  // Records never move: udcTable reads them while other threads add more.
  storage.tablePool.chunks.reserve(udcCount / TableRecords::kChunkSize + 1);
  countPendingPredecessors(storage.pending);
  filling = Filling{};
  if (storage.onDisk) {
    storage.fileBytes = std::max<uint64_t>(fileBytesSet, 1);
    storage.writeAtOnce = stateMemoryBudgetBytes == 0;
    storage.budgetBytes = storage.writeAtOnce ? kWindowBytes : stateMemoryBudgetBytes;
    storage.offsetOfUdc.assign(udcCount, kNotOnDisk);
    storage.block.reserve(static_cast<size_t>(blockBytesSet));
    storage.aheadBelow = udcNetwork.udcCount;
    createDirectory();
  }
}

UdcInHand largestUdcInHand(int32_t objectiveCount, bool mergedValues) {
  UdcInHand most;
  for (int32_t u = 0; u < udcNetwork.udcCount; ++u) {
    uint64_t bytes = bytesOfTable(u, objectiveCount, mergedValues);
    for (uint32_t s : udcSuccessorsOf(u)) bytes += bytesOfTable(static_cast<int32_t>(s), objectiveCount, mergedValues);
    if (bytes > most.bytes) most = UdcInHand{u, bytes};
  }
  return most;
}

UdcStateTable& beginUdcTable(int32_t u) {
  const std::lock_guard<std::mutex> lock(storageLock);
  finishFilling();
  if (!storage.onDisk) {
    filling = Filling{storage.generation, u};
    return newTable(u);
  }
  // The successors in memory are pinned first, so that making room for the others and for
  // the new table never drops one of them; every table comes in only after room is made.
  const UdcSuccessors successors = udcSuccessorsOf(u);
  uint64_t inHand = bytesOfTable(u);
  for (uint32_t s : successors) {
    inHand += bytesOfTable(static_cast<int32_t>(s));
    const int32_t slot = storage.tableSlotOfUdc[s];
    if (slot >= 0) pinSlot(slot);
  }
  storage.counts.peakInHandBytes = std::max(storage.counts.peakInHandBytes, inHand);
  for (uint32_t s : successors) {
    if (storage.tableSlotOfUdc[s] >= 0) continue;
    if (storage.offsetOfUdc[s] == kNotOnDisk)
      stopFatal("Internal error: the states of UDC " + std::to_string(s) +
                " are needed before their table was finished; the UDC links are inconsistent.");
    makeRoomFor(bytesOfTable(static_cast<int32_t>(s)));
    pinSlot(readImage(static_cast<int32_t>(s)));
  }
  readAheadFor(u);
  makeRoomFor(bytesOfTable(u));
  filling = Filling{storage.generation, u};
  UdcStateTable& table = newTable(u);
  pinSlot(storage.tableSlotOfUdc[static_cast<size_t>(u)]);
  return table;
}

UdcStateTable& udcTable(int32_t u) {
  const int32_t slot = storage.tableSlotOfUdc[static_cast<size_t>(u)];
  if (slot >= 0) return storage.tablePool[static_cast<size_t>(slot)];
  const std::lock_guard<std::mutex> lock(storageLock);
  if (!storage.onDisk || storage.offsetOfUdc[static_cast<size_t>(u)] == kNotOnDisk) stopReleasedTable(u);
  makeRoomFor(bytesOfTable(u));
  const int32_t read = readImage(u);
  listSlotAsNewest(read);
  return storage.tablePool[static_cast<size_t>(read)];
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
  const std::lock_guard<std::mutex> lock(storageLock);
  finishFilling();
  if (storage.keepAll) return;
  for (uint32_t s : successors) {
    const int32_t slot = storage.tableSlotOfUdc[s];
    if (storage.onDisk && slot >= 0) unpinSlot(slot);
    if (!takePendingPredecessor(storage.pending, s)) continue;
    releaseTable(static_cast<int32_t>(s));
    if (storage.onDisk) dropImage(static_cast<int32_t>(s));
  }
  if (storage.onDisk) keepWithinBudget();
}

void beginUdcRun(const std::vector<int32_t>& udcs, std::vector<UdcStateTable*>& tables) {
  const std::lock_guard<std::mutex> lock(storageLock);
  if (storage.onDisk) stopFatal("Internal error: a run of UDCs was begun with the tables on disk.");
  finishFilling();
  tables.clear();
  for (int32_t u : udcs) tables.push_back(&newTable(u));
}

void endUdcRun(const std::vector<int32_t>& udcs) {
  const std::lock_guard<std::mutex> lock(storageLock);
  for (int32_t u : udcs) finishTable(u);
  if (storage.keepAll) return;
  for (int32_t u : udcs)
    for (uint32_t s : udcSuccessorsOf(u))
      if (takePendingPredecessor(storage.pending, s)) releaseTable(static_cast<int32_t>(s));
}

UdcStateTable takeUdcTable(int32_t u) {
  const std::lock_guard<std::mutex> lock(storageLock);
  const int32_t slot = storage.tableSlotOfUdc[static_cast<size_t>(u)];
  if (slot < 0) stopReleasedTable(u);
  UdcStateTable taken = std::move(storage.tablePool[static_cast<size_t>(slot)]);
  releaseTable(u);
  return taken;
}

void closeStateStorage() {
  const std::lock_guard<std::mutex> lock(storageLock);
  closeStorage();
}

const StateStorageCounts& stateStorageCounts() {
  if (storage.generation != 0) lastCounts = storage.counts;
  return lastCounts;
}

uint64_t spillBudgetWithin(uint64_t left) {
  const uint64_t reserve = left / 4 + blockBytesSet;
  return left > reserve ? left - reserve : 0;
}

void setStateFileSizes(uint64_t fileBytes, uint64_t blockBytes) {
  const std::lock_guard<std::mutex> lock(storageLock);
  fileBytesSet = fileBytes == 0 ? kDefaultFileBytes : fileBytes;
  blockBytesSet = blockBytes == 0 ? kDefaultBlockBytes : blockBytes;
}

void observeFinishedTables(FinishedTableObserver observer) {
  const std::lock_guard<std::mutex> lock(storageLock);
  finishedObserver = observer;
}

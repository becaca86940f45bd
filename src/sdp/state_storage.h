// Where the state tables of one solve live. Each UDC's table is kept from the step that
// fills it until the last UDC that leads to it has been evaluated; in memory, or, with disk
// storage, as a binary image in a few large files of a directory of the solve's own, read
// back when a predecessor needs it. Memory or disk is chosen when the storage opens; the
// sweep calls the same operations either way. Every operation but udcTable takes the
// storage's lock, so UDCs may be begun and ended from several threads (each thread ends
// the UDC it began last); udcTable reads without it, which holds for the tables a thread
// has at hand (its own and its UDC's successors), since no other thread moves those.
#pragma once
#include <cstdint>
#include <vector>

#include "sdp/state_table.h"

// Opens the storage of one solve over the UDC network: tables of objectiveCount objectives,
// in memory or, onDisk, in state files in a fresh directory inside the working directory.
// On disk, the tables in memory (those being filled and read and the finished ones kept)
// stay within stateMemoryBudgetBytes (run state): before a table is read back or begun, the
// least recently needed go to disk, or are dropped when their image is there already. With
// a budget of 0 every finished table is written at once and only a small window of them
// stays. With keepAll nothing is dropped (a policy is kept) and nothing goes to disk. With
// mergedValues (one objective only) each row keeps the better of its two values alone.
void openStateStorage(int32_t objectiveCount, bool onDisk, bool keepAll, bool mergedValues = false);

// The table budget (stateMemoryBudgetBytes) of a solve that spills within `left` bytes: a
// quarter of them and the buffer of the writes stay for what the process holds beside its
// tables; 0 where that leaves nothing for them.
uint64_t spillBudgetWithin(uint64_t left);

// The empty table of u, to be filled in enumeration order. On disk, the tables of u's
// successors that are not in memory are read back, each after room is made for it (and
// room for u's table after them), and those of the next UDCs of the sweep are asked of the
// system ahead.
UdcStateTable& beginUdcTable(int32_t u);

// A table at hand: the one being filled, or one of its UDC's successors'. On disk, another
// table still needed is read back (the first UDC's, after the sweep).
UdcStateTable& udcTable(int32_t u);

// A hint, taken before a UDC is evaluated, that the next three UDCs of the sweep will read
// their successors' tables (given nearest first): the places where those are found are
// fetched into the cache in steps (the slot for the third, the table's record for the
// second, its first lines for the next one), so that the sweep does not wait for them one
// after the other.
void prefetchSuccessorTables(const std::vector<uint32_t>& next, const std::vector<uint32_t>& second,
                             const std::vector<uint32_t>& third);

// The UDC begun last, whose successors are given, is evaluated: its table is finished (on
// disk, written or kept while the budget allows) and a successor that no UDC still to come
// leads to is dropped, in memory and on disk.
void endUdcTable(const std::vector<uint32_t>& successors);

// In memory, a thread may begin a run of UDCs, none of which leads to another, in one turn
// of the storage's lock (tables[i] the empty table of udcs[i]), evaluate them and end them
// together: where a UDC holds a few dozen states, a turn of a lock that another thread wants
// costs as much as its evaluation. Not on disk, where the tables in hand are those of one UDC
// (a disk-storage solve runs on one thread).
void beginUdcRun(const std::vector<int32_t>& udcs, std::vector<UdcStateTable*>& tables);
// The run this thread began last is evaluated: its tables are finished and a successor that
// no UDC still to come leads to is dropped.
void endUdcRun(const std::vector<int32_t>& udcs);

// The UDC that needs the most bytes at once in a solve on disk, its own table and its
// successors' (the figure peakInHandBytes below reaches), with tables of objectiveCount
// objectives; no budget holds a solve below it.
struct UdcInHand {
  int32_t udc = -1;
  uint64_t bytes = 0;
};
UdcInHand largestUdcInHand(int32_t objectiveCount, bool mergedValues);

// Hands the table of u over, for a kept policy.
UdcStateTable takeUdcTable(int32_t u);

// Frees every table and removes every state file and the directory; also when a stop
// unwinds the solve.
void closeStateStorage();

// What disk storage did in the solve in hand (or the last one): the bytes of every table
// and those written and read, tables written and read back, state files made and removed,
// the peaks of table bytes in memory and of bytes on disk still needed, and the largest
// bytes one UDC needs at once (its own table and its successors'). Table bytes in memory,
// those in use included, stay within the budget, or within that last figure where it alone
// is more: peakMemoryBytes <= max(budget, peakInHandBytes).
struct StateStorageCounts {
  uint64_t tableBytes = 0;
  uint64_t bytesWritten = 0;
  uint64_t bytesRead = 0;
  uint64_t tablesWritten = 0;
  uint64_t tablesRead = 0;
  uint64_t filesCreated = 0;
  uint64_t filesRemoved = 0;
  uint64_t peakMemoryBytes = 0;
  uint64_t peakDiskBytes = 0;
  uint64_t peakInHandBytes = 0;
};
const StateStorageCounts& stateStorageCounts();

// The size of one state file and of the block gathered before a write (0 keeps the
// program's own, 256 MiB and 8 MiB); tests shrink them to see files come and go.
void setStateFileSizes(uint64_t fileBytes, uint64_t blockBytes);

// Called with every table as it is finished, in the sweep's order (nullptr: none); tests
// compare the tables of memory and disk storage with it.
using FinishedTableObserver = void (*)(int32_t udc, const UdcStateTable& table);
void observeFinishedTables(FinishedTableObserver observer);

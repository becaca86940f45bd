// The UDC network: the uniformly directed cutsets of the elementary network with their
// members, state counts and links. Projects have millions of UDCs of a handful of members
// and links each, so a UDC is two short byte records rather than arrays of its own: the
// memory of the network is a few tens of bytes per UDC.
//
// A UDC is known by its number, its place in the final numbering (ascending ancestor count;
// 0 is the start), the order in which the solvers sweep it backwards and the .UDC file lists
// it. While identification runs, UDCs are known by the order of their creation; it lays the
// records out again in the final numbering at the end, so that the sweeps read them in order.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "base/bit_set.h"
#include "base/large_pages.h"

struct UdcNetwork {
  int32_t udcCount = 0;
  uint32_t udcMaxStates = 0;
  uint64_t udcTotalStates = 0;
  uint64_t udcPeakStates = 0;          // held by a one-thread sweep: the figure reported
  uint64_t udcPeakStatesThreaded = 0;  // at most held by a sweep on threadSettings.count threads
  int32_t udcMaxMembers = 0;
  // Records by id, each its byte length followed by its numbers as base-128 varints:
  // members: count, the first member, then the gaps between consecutive members;
  // links: state count, successor count, then each successor's id as a signed gap from the
  // one before (from the UDC's own id for the first). Every 8th record's offset is indexed.
  LargeVector<uint8_t> memberRecords;
  std::vector<uint64_t> memberIndex;
  LargeVector<uint8_t> linkRecords;
  std::vector<uint64_t> linkIndex;
  int32_t linkCount = 0;  // UDCs whose links are stored
};

extern UdcNetwork udcNetwork;

namespace udc_record_detail {
inline uint64_t readVarint(const uint8_t*& p) {
  if (*p < 128) return *p++;  // most numbers of a record take one byte
  uint64_t value = 0;
  for (int shift = 0;; shift += 7) {
    const uint8_t byte = *p++;
    value |= static_cast<uint64_t>(byte & 127u) << shift;
    if (byte < 128) return value;
  }
}
// A successor's gap from the one before is stored zigzag (small gaps of either sign take one
// byte): the next successor's id from the one before and the stored gap.
inline int64_t addZigzagGap(int64_t previous, uint64_t zigzag) {
  return previous + (static_cast<int64_t>(zigzag >> 1) ^ -static_cast<int64_t>(zigzag & 1));
}
// The payload of record id, and its end.
inline const uint8_t* recordAt(const LargeVector<uint8_t>& records, const std::vector<uint64_t>& index, int32_t id,
                               const uint8_t*& end) {
  const uint8_t* p = records.data() + index[static_cast<size_t>(id) >> 3];
  for (int32_t k = id & ~7; k < id; ++k) {
    const uint64_t length = readVarint(p);
    p += length;
  }
  const uint64_t length = readVarint(p);
  end = p + length;
  return p;
}
}  // namespace udc_record_detail

// Calls visit(e) for every member of UDC u, in ascending elementary index.
template <class Visit>
void forEachUdcMember(int32_t u, Visit&& visit) {
  using namespace udc_record_detail;
  const uint8_t* end = nullptr;
  const uint8_t* p = recordAt(udcNetwork.memberRecords, udcNetwork.memberIndex, u, end);
  const uint64_t count = readVarint(p);
  int64_t e = 0;
  for (uint64_t k = 0; k < count; ++k) {
    e += static_cast<int64_t>(readVarint(p));
    visit(static_cast<int32_t>(e));
  }
}

int32_t udcMemberCount(int32_t u);
// The members of u as a set of `words` words.
void udcMembersInto(int32_t u, BitWord* set, int words);
// True when the members of u are exactly the set.
bool udcHasMembers(int32_t u, const BitWord* set, int words);
uint32_t udcStateCount(int32_t u);

// The successors of a UDC, in the order in which identification first met them.
class UdcSuccessors {
 public:
  class Iterator {
   public:
    Iterator(const uint8_t* p, uint64_t left, int64_t id) : p_(p), left_(left), id_(id) { step(); }
    uint32_t operator*() const { return static_cast<uint32_t>(id_); }
    Iterator& operator++() {
      step();
      return *this;
    }
    bool operator!=(const Iterator& other) const { return done_ != other.done_; }
    bool operator==(const Iterator& other) const { return done_ == other.done_; }

   private:
    void step() {
      if (left_ == 0) {
        done_ = true;
        return;
      }
      id_ = udc_record_detail::addZigzagGap(id_, udc_record_detail::readVarint(p_));
      --left_;
    }
    const uint8_t* p_;
    uint64_t left_;
    int64_t id_;
    bool done_ = false;
  };
  UdcSuccessors(const uint8_t* p, uint64_t count, int32_t u) : p_(p), count_(count), u_(u) {}
  Iterator begin() const { return Iterator(p_, count_, u_); }
  Iterator end() const { return Iterator(nullptr, 0, 0); }
  size_t size() const { return static_cast<size_t>(count_); }

 private:
  const uint8_t* p_;
  uint64_t count_;
  int32_t u_;
};

UdcSuccessors udcSuccessorsOf(int32_t u);
// The same into a list, replacing what it held.
void udcSuccessorsInto(int32_t u, std::vector<uint32_t>& list);

// Calls visit(u, stateCount, successors) for every UDC in order, reading the records one
// after the other (cheaper than one lookup per UDC).
template <class Visit>
void forEachUdcLinks(Visit&& visit) {
  using udc_record_detail::readVarint;
  const uint8_t* p = udcNetwork.linkRecords.data();
  for (int32_t u = 0; u < udcNetwork.linkCount; ++u) {
    const uint64_t length = readVarint(p);
    const uint8_t* next = p + length;
    const uint32_t states = static_cast<uint32_t>(readVarint(p));
    const uint64_t count = readVarint(p);
    visit(u, states, UdcSuccessors(p, count, u));
    p = next;
  }
}

// The same from the last UDC to the first: each block of eight records is found through the
// index and read forwards once.
template <class Visit>
void forEachUdcLinksDown(Visit&& visit) {
  using udc_record_detail::readVarint;
  const UdcNetwork& net = udcNetwork;
  for (int32_t block = (net.linkCount - 1) >> 3; block >= 0; --block) {
    const uint8_t* starts[8];
    const uint8_t* p = net.linkRecords.data() + net.linkIndex[static_cast<size_t>(block)];
    const int32_t first = block << 3;
    const int32_t size = std::min<int32_t>(8, net.linkCount - first);
    for (int32_t k = 0; k < size; ++k) {
      starts[k] = p;
      const uint64_t length = readVarint(p);
      p += length;
    }
    for (int32_t k = size - 1; k >= 0; --k) {
      const uint8_t* q = starts[k];
      readVarint(q);  // the length
      const uint32_t states = static_cast<uint32_t>(readVarint(q));
      const uint64_t count = readVarint(q);
      visit(first + k, states, UdcSuccessors(q, count, first + k));
    }
  }
}

// Building: the records are appended in id order, members when a UDC is created, links
// when it has been walked.
void appendUdcMembers(UdcNetwork& net, const BitWord* set, int words);
void appendUdcLinks(UdcNetwork& net, uint32_t stateCount, const std::vector<uint32_t>& successors);

// What the renaming of the links sees on its way (it reads every link once, in the old order),
// so that no other pass over the links has to: the state counts' largest and sum, the first
// link, in the old order, that does not go forward in the new numbering, and the predecessor
// counts of a sweep in the new numbering.
struct PendingPredecessors;
struct RenumberedLinks {
  uint32_t maxStates = 0;
  uint64_t totalStates = 0;
  bool backward = false;  // a link from number `from` to number `to` <= from
  uint32_t from = 0;
  uint32_t to = 0;
  PendingPredecessors* pending = nullptr;  // counted into when given
};

// Lays the records out again so that the UDC whose id is u gets id number[u], its successors
// named by their new ids; the member records on a thread of their own beside the links when
// threads is 2 or more (the same records either way).
void renumberUdcRecords(UdcNetwork& net, const std::vector<uint32_t>& number, RenumberedLinks* seen = nullptr,
                        int32_t threads = 1);

// A whole network in one call, in its final numbering (for hand-built networks).
void storeUdcNetwork(const std::vector<std::vector<int32_t>>& members, const std::vector<uint32_t>& stateCounts,
                     const std::vector<std::vector<uint32_t>>& successors);

// Identifies the UDCs of elementaryNetwork; false (with its reason on the console) after
// a failure. Writes the .UDC file at write level 4.
bool identifyUdcs();

void releaseUdcNetwork();

// The most members a UDC may have: gv_bits, at most what a state key encodes.
int32_t udcMemberLimit();

// Peak number of states held at once in a last-to-first sweep of the final numbering.
uint64_t sweepPeakStates();

// How far below the highest UDC H not yet evaluated a sweep on several threads may start one:
// any UDC less than `udcs` below H, and, less than `most` below it, one whose states together
// with those of every UDC between it and H are at most `states`. It bounds what such a sweep
// holds beyond a one-thread sweep: the UDCs it started early. Counted in UDCs alone, a window
// of UDCs of a few states each would hold too few states to keep the threads busy; counted in
// states alone, one of large UDCs could hold a great many more than one thread.
struct SweepWindow {
  int32_t udcs = 1;
  uint64_t states = 0;
  int32_t most = 1;  // at least udcs
};

// A UDC `below` UDCs below H, whose states and those up to H (not H's own) are statesUpToH.
inline bool inSweepWindow(const SweepWindow& window, int64_t below, uint64_t statesUpToH) {
  return below < window.udcs || (below < window.most && statesUpToH <= window.states);
}

// The window of a sweep on that many threads: 8 UDCs per thread, or UDCs of 16 384 states per
// thread, up to 8 192 UDCs per thread (a thread takes runs of small UDCs of up to a few
// thousand states: each of the threads finds runs to take in the window). One thread: the UDC
// in hand alone.
inline SweepWindow sweepWindow(int32_t threads) {
  if (threads <= 1) return {};
  return {8 * threads, uint64_t{16384} * static_cast<uint64_t>(threads), 8192 * threads};
}

// The most states a sweep of that window may hold at once: at the highest UDC H not yet
// evaluated, what a one-thread sweep holds with H's table, plus the tables of the UDCs of the
// window below H. (A table of a UDC above H still held is one that a one-thread sweep holds
// there too: one of its predecessors lies below H.) The one-thread peak for the window of one.
struct SweepPeaks {
  uint64_t oneThread = 0;
  uint64_t within = 0;
};
SweepPeaks sweepPeakStatesWithin(const SweepWindow& window);
// The same from the predecessor counts of the network as it stands (countPendingPredecessors),
// which it takes up.
SweepPeaks sweepPeakStatesWithin(const SweepWindow& window, PendingPredecessors& pending);
// The window of the lookahead UDCs from H down.
SweepPeaks sweepPeakStatesWithin(int32_t lookahead);

// Sets udcPeakStates and udcPeakStatesThreaded of the network in its final numbering; from its
// predecessor counts when given (which it takes up).
void measureSweepPeaks(PendingPredecessors* pending = nullptr);

// How many predecessors of each UDC a last-to-first sweep has still to take up: once none is
// left, the UDC's states are no longer needed. One byte per UDC, because a sweep of millions
// of UDCs holds this beside its tables; the few counts from 255 up are kept aside.
struct PendingPredecessors {
  LargeVector<uint8_t> count;
  std::unordered_map<uint32_t, uint32_t> many;
};
void countPendingPredecessors(PendingPredecessors& pending);
// Counts one more predecessor of s.
void addPendingPredecessor(PendingPredecessors& pending, uint32_t s);
// Takes up one predecessor of s; true when it was the last.
bool takePendingPredecessor(PendingPredecessors& pending, uint32_t s);

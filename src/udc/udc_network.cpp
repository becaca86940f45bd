// The program-wide UDC network: its byte records, their reading and writing, its release
// and the peak-state sweep that the memory estimate and the solvers' table lifetimes rely on.
#include "udc/udc_network.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <utility>

#include "base/threads.h"

UdcNetwork udcNetwork;

namespace {

using udc_record_detail::readVarint;
using udc_record_detail::recordAt;

void writeVarint(uint8_t*& out, uint64_t value) {
  for (; value >= 128; value >>= 7) *out++ = static_cast<uint8_t>(value | 128u);
  *out++ = static_cast<uint8_t>(value);
}

size_t varintBytes(uint64_t value) {
  size_t bytes = 1;
  for (; value >= 128; value >>= 7) ++bytes;
  return bytes;
}

// A record is written in place at the end of its array: a one-byte length, room for a
// payload of up to `numbers` varints (ten bytes hold any of them) after it, then the payload;
// closeRecord sets the length (moving the payload aside in the rare record of 128 bytes and
// more) and gives back the room not used. Returns where the payload goes.
uint8_t* openRecord(LargeVector<uint8_t>& records, size_t numbers) {
  const size_t at = records.size();
  records.resize(at + 1 + 10 * numbers);  // grows the vector without clearing it
  return records.data() + at + 1;
}

void closeRecord(LargeVector<uint8_t>& records, size_t at, const uint8_t* payloadEnd) {
  const size_t size = static_cast<size_t>(payloadEnd - (records.data() + at + 1));
  const size_t lengthBytes = varintBytes(size);
  if (lengthBytes > 1) {
    records.resize(std::max(records.size(), at + lengthBytes + size));
    std::memmove(records.data() + at + lengthBytes, records.data() + at + 1, size);
  }
  uint8_t* out = records.data() + at;
  writeVarint(out, size);
  records.resize(at + lengthBytes + size);
}

// A successor's gap from the one before, as the varint stores it (the inverse of
// addZigzagGap).
uint64_t zigzagGap(int64_t id, int64_t previous) {
  const int64_t gap = id - previous;
  return (static_cast<uint64_t>(gap) << 1) ^ static_cast<uint64_t>(gap >> 63);
}

// The payload of a link record: state count, successor count, then each successor as a
// signed gap from the one before (from own, the UDC's id, for the first).
void writeLinkPayload(uint8_t*& out, uint32_t stateCount, const uint32_t* successors, size_t count, int64_t own) {
  writeVarint(out, stateCount);
  writeVarint(out, count);
  int64_t previous = own;
  for (size_t k = 0; k < count; ++k) {
    writeVarint(out, zigzagGap(successors[k], previous));
    previous = successors[k];
  }
}

}  // namespace

int32_t udcMemberCount(int32_t u) {
  const uint8_t* end = nullptr;
  const uint8_t* p = recordAt(udcNetwork.memberRecords, udcNetwork.memberIndex, u, end);
  return static_cast<int32_t>(readVarint(p));
}

void udcMembersInto(int32_t u, BitWord* set, int words) {
  clearBits(set, words);
  forEachUdcMember(u, [&](int32_t e) { setBit(set, e); });
}

bool udcHasMembers(int32_t u, const BitWord* set, int words) {
  const uint8_t* end = nullptr;
  const uint8_t* p = recordAt(udcNetwork.memberRecords, udcNetwork.memberIndex, u, end);
  const uint64_t count = readVarint(p);
  if (count != static_cast<uint64_t>(countBits(set, words))) return false;
  int64_t e = 0;
  for (uint64_t k = 0; k < count; ++k) {
    e += static_cast<int64_t>(readVarint(p));
    if (!hasBit(set, static_cast<int>(e))) return false;
  }
  return true;
}

uint32_t udcStateCount(int32_t u) {
  const uint8_t* end = nullptr;
  const uint8_t* p = recordAt(udcNetwork.linkRecords, udcNetwork.linkIndex, u, end);
  return static_cast<uint32_t>(readVarint(p));
}

UdcSuccessors udcSuccessorsOf(int32_t u) {
  const uint8_t* end = nullptr;
  const uint8_t* p = recordAt(udcNetwork.linkRecords, udcNetwork.linkIndex, u, end);
  readVarint(p);  // the state count
  const uint64_t count = readVarint(p);
  return UdcSuccessors(p, count, u);
}

void udcSuccessorsInto(int32_t u, std::vector<uint32_t>& list) {
  const uint8_t* end = nullptr;
  const uint8_t* p = recordAt(udcNetwork.linkRecords, udcNetwork.linkIndex, u, end);
  readVarint(p);  // the state count
  const size_t count = static_cast<size_t>(readVarint(p));
  list.resize(count);
  int64_t id = u;
  for (size_t k = 0; k < count; ++k) {
    id = udc_record_detail::addZigzagGap(id, readVarint(p));
    list[k] = static_cast<uint32_t>(id);
  }
}

void appendUdcMembers(UdcNetwork& net, const BitWord* set, int words) {
  const int count = countBits(set, words);
  const size_t at = net.memberRecords.size();
  if ((net.udcCount & 7) == 0) net.memberIndex.push_back(at);
  uint8_t* out = openRecord(net.memberRecords, static_cast<size_t>(count) + 1);
  writeVarint(out, static_cast<uint64_t>(count));
  int previous = 0;
  forEachMember(set, words, [&](int e) {
    writeVarint(out, static_cast<uint64_t>(e - previous));
    previous = e;
  });
  closeRecord(net.memberRecords, at, out);
  ++net.udcCount;
}

void appendUdcLinks(UdcNetwork& net, uint32_t stateCount, const std::vector<uint32_t>& successors) {
  const size_t at = net.linkRecords.size();
  if ((net.linkCount & 7) == 0) net.linkIndex.push_back(at);
  uint8_t* out = openRecord(net.linkRecords, successors.size() + 2);
  writeLinkPayload(out, stateCount, successors.data(), successors.size(), net.linkCount);
  closeRecord(net.linkRecords, at, out);
  ++net.linkCount;
}

namespace {

// Moves whole records (each its length, then the payload), read in order, to the places
// their new ids give them: scattered writes cost less than scattered reads.
void scatterRecords(LargeVector<uint8_t>& records, std::vector<uint64_t>& index, const std::vector<uint32_t>& number) {
  const size_t count = number.size();
  std::vector<uint64_t> start(count + 1, 0);  // where each new record starts, by new id
  const uint8_t* p = records.data();
  for (size_t u = 0; u < count; ++u) {
    const uint8_t* begin = p;
    p += readVarint(p);
    start[number[u] + 1] = static_cast<uint64_t>(p - begin);
  }
  for (size_t n = 0; n < count; ++n) start[n + 1] += start[n];
  LargeVector<uint8_t> relaid(start[count]);
  p = records.data();
  for (size_t u = 0; u < count; ++u) {
    const uint8_t* begin = p;
    p += readVarint(p);
    std::memcpy(relaid.data() + start[number[u]], begin, static_cast<size_t>(p - begin));
  }
  index.clear();
  for (size_t n = 0; n < count; n += 8) index.push_back(start[n]);
  records.swap(relaid);
}

}  // namespace

namespace {

void renumberLinkRecords(UdcNetwork& net, const std::vector<uint32_t>& number, RenumberedLinks& seen) {
  if (seen.pending != nullptr) {
    seen.pending->count.assign(number.size(), 0);
    seen.pending->many.clear();
  }
  // Links name their successors by the new ids (in the order identification met them), which
  // changes their lengths: they are written anew in the old order first.
  LargeVector<uint8_t> translated;
  translated.reserve(net.linkRecords.size() + net.linkRecords.size() / 8);
  std::vector<uint32_t> renamed;
  const uint8_t* p = net.linkRecords.data();
  for (size_t u = 0; u < number.size(); ++u) {
    const uint64_t length = readVarint(p);
    const uint8_t* next = p + length;
    const uint32_t states = static_cast<uint32_t>(readVarint(p));
    const uint64_t successors = readVarint(p);
    seen.maxStates = std::max(seen.maxStates, states);
    seen.totalStates += states;
    renamed.clear();
    for (uint32_t s : UdcSuccessors(p, successors, static_cast<int32_t>(u))) {
      const uint32_t to = number[s];
      if (to <= number[u] && !seen.backward) {
        seen.backward = true;
        seen.from = number[u];
        seen.to = to;
      }
      if (seen.pending != nullptr) addPendingPredecessor(*seen.pending, to);
      renamed.push_back(to);
    }
    const size_t at = translated.size();
    uint8_t* out = openRecord(translated, renamed.size() + 2);
    writeLinkPayload(out, states, renamed.data(), renamed.size(), number[u]);
    closeRecord(translated, at, out);
    p = next;
  }
  LargeVector<uint8_t>().swap(net.linkRecords);
  scatterRecords(translated, net.linkIndex, number);
  net.linkRecords.swap(translated);
}

}  // namespace

void renumberUdcRecords(UdcNetwork& net, const std::vector<uint32_t>& number, RenumberedLinks* seen, int32_t threads) {
  RenumberedLinks ignored;
  RenumberedLinks& links = seen != nullptr ? *seen : ignored;
  if (threads < 2) {
    scatterRecords(net.memberRecords, net.memberIndex, number);
    renumberLinkRecords(net, number, links);
    return;
  }
  // The two kinds of record share nothing but the numbers, which both only read.
  runOnThreads(2, [&](int32_t thread) {
    if (thread == 0)
      renumberLinkRecords(net, number, links);
    else
      scatterRecords(net.memberRecords, net.memberIndex, number);
  });
}

void storeUdcNetwork(const std::vector<std::vector<int32_t>>& members, const std::vector<uint32_t>& stateCounts,
                     const std::vector<std::vector<uint32_t>>& successors) {
  udcNetwork = UdcNetwork{};
  int largest = 0;
  for (const std::vector<int32_t>& own : members)
    for (int32_t e : own) largest = std::max(largest, static_cast<int>(e));
  const int words = largest / kBitWordBits + 1;
  std::vector<BitWord> set(static_cast<size_t>(words));
  for (size_t u = 0; u < stateCounts.size(); ++u) {
    clearBits(set.data(), words);
    if (u < members.size())
      for (int32_t e : members[u]) setBit(set.data(), e);
    appendUdcMembers(udcNetwork, set.data(), words);
    appendUdcLinks(udcNetwork, stateCounts[u], u < successors.size() ? successors[u] : std::vector<uint32_t>{});
  }
  for (uint32_t u = 0; u < stateCounts.size(); ++u) {
    udcNetwork.udcMaxStates = std::max(udcNetwork.udcMaxStates, stateCounts[u]);
    udcNetwork.udcTotalStates += stateCounts[u];
  }
  measureSweepPeaks();
}

void releaseUdcNetwork() { udcNetwork = UdcNetwork{}; }

uint64_t sweepPeakStates() { return sweepPeakStatesWithin(1).oneThread; }

void measureSweepPeaks(PendingPredecessors* pending) {
  const SweepWindow window = sweepWindow(threadSettings.count);
  const SweepPeaks peaks = pending != nullptr ? sweepPeakStatesWithin(window, *pending) : sweepPeakStatesWithin(window);
  udcNetwork.udcPeakStates = peaks.oneThread;
  udcNetwork.udcPeakStatesThreaded = peaks.within;
}

SweepPeaks sweepPeakStatesWithin(int32_t lookahead) {
  const int32_t udcs = std::max(lookahead, 1);
  return sweepPeakStatesWithin(SweepWindow{udcs, 0, udcs});
}

SweepPeaks sweepPeakStatesWithin(const SweepWindow& window) {
  PendingPredecessors pending;
  countPendingPredecessors(pending);
  return sweepPeakStatesWithin(window, pending);
}

SweepPeaks sweepPeakStatesWithin(const SweepWindow& window, PendingPredecessors& pending) {
  const UdcNetwork& net = udcNetwork;
  // Each H whose window is still open below the UDC in hand: what a one-thread sweep holds
  // at H and the states from H up. The windows of the lower ones reach at least as far down,
  // so they close in the order they opened.
  struct Open {
    int32_t h;
    uint64_t held;
    uint64_t above;
  };
  std::deque<Open> open;
  uint64_t above = 0;  // the states of the UDCs from the one in hand up
  uint64_t bound = 0;
  std::vector<uint32_t> states(static_cast<size_t>(net.udcCount), 0);
  uint64_t held = 0;
  uint64_t peak = 0;
  // The window of the UDC in hand alone adds nothing to the one-thread peak.
  const bool oneThread = window.udcs <= 1 && window.most <= 1;
  auto close = [&](const Open& h, uint64_t aboveLowest) { bound = std::max(bound, h.held + aboveLowest - h.above); };
  forEachUdcLinksDown([&](int32_t u, uint32_t stateCount, const UdcSuccessors& successors) {
    states[static_cast<size_t>(u)] = stateCount;
    const uint64_t aboveBefore = above;
    above += stateCount;
    while (!open.empty() && !inSweepWindow(window, open.front().h - u, above - open.front().above)) {
      close(open.front(), aboveBefore);
      open.pop_front();
    }
    held += stateCount;
    if (held > peak) peak = held;
    if (!oneThread) open.push_back({u, held, above});
    for (uint32_t s : successors)
      if (takePendingPredecessor(pending, s)) held -= states[s];
  });
  for (const Open& h : open) close(h, above);
  return {peak, oneThread ? peak : std::max(bound, peak)};
}

void countPendingPredecessors(PendingPredecessors& pending) {
  pending.count.assign(static_cast<size_t>(udcNetwork.udcCount), 0);
  pending.many.clear();
  forEachUdcLinks([&](int32_t, uint32_t, const UdcSuccessors& successors) {
    for (uint32_t s : successors) addPendingPredecessor(pending, s);
  });
}

void addPendingPredecessor(PendingPredecessors& pending, uint32_t s) {
  uint8_t& count = pending.count[s];
  if (count < 254)
    ++count;
  else if (count == 254) {
    count = 255;
    pending.many[s] = 255;
  } else
    ++pending.many[s];
}

bool takePendingPredecessor(PendingPredecessors& pending, uint32_t s) {
  uint8_t& count = pending.count[s];
  if (count == 255) {
    uint32_t& many = pending.many[s];
    if (many == 0) return false;
    return --many == 0;
  }
  // Zero means already taken up in full (or never a successor): nothing is released twice.
  if (count == 0) return false;
  return --count == 0;
}

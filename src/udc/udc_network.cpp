// The program-wide UDC network, its release and the peak-state sweep that the memory
// estimate and the solvers' table lifetimes rely on.
#include <cstddef>
#include <utility>

#include "duration/elementary_network.h"
#include "udc/udc_network.h"

UdcNetwork udcNetwork;

const BitWord* udcMembersOf(int u) {
  return udcNetwork.udcMembers.data() + static_cast<size_t>(u) * elementaryNetwork.nBitWords;
}

int32_t udcMemberCount(int u) { return countBits(udcMembersOf(u), elementaryNetwork.nBitWords); }

void releaseUdcNetwork() { udcNetwork = UdcNetwork{}; }

void storeUdcLinks(std::vector<uint64_t> successorStart, std::vector<uint32_t> successorList) {
  UdcNetwork& net = udcNetwork;
  const size_t count = static_cast<size_t>(net.udcCount);
  net.udcSuccessorStart = std::move(successorStart);
  net.udcSuccessorList = std::move(successorList);
  net.udcPredecessorCount.assign(count, 0);
  for (uint32_t s : net.udcSuccessorList) ++net.udcPredecessorCount[s];
  net.udcPredecessorStart.assign(count + 1, 0);
  for (size_t u = 0; u < count; ++u) net.udcPredecessorStart[u + 1] = net.udcPredecessorStart[u] + net.udcPredecessorCount[u];
  net.udcPredecessorList.assign(net.udcSuccessorList.size(), 0);
  std::vector<uint64_t> next(net.udcPredecessorStart.begin(), net.udcPredecessorStart.end() - 1);
  for (size_t u = 0; u < count; ++u)
    for (uint32_t s : udcSuccessorsOf(static_cast<int>(u))) net.udcPredecessorList[next[s]++] = static_cast<uint32_t>(u);
}

void storeUdcLinks(const std::vector<std::vector<uint32_t>>& successors) {
  std::vector<uint64_t> start(1, 0);
  std::vector<uint32_t> list;
  for (const std::vector<uint32_t>& own : successors) {
    list.insert(list.end(), own.begin(), own.end());
    start.push_back(list.size());
  }
  storeUdcLinks(std::move(start), std::move(list));
}

uint64_t sweepPeakStates() {
  const UdcNetwork& net = udcNetwork;
  std::vector<uint32_t> remainingPredecessors(net.udcPredecessorCount);
  uint64_t held = 0;
  uint64_t peak = 0;
  for (int u = net.udcCount - 1; u >= 0; --u) {
    held += net.udcStateCount[static_cast<size_t>(u)];
    if (held > peak) peak = held;
    for (uint32_t s : udcSuccessorsOf(u)) {
      uint32_t& remaining = remainingPredecessors[s];
      // A successor whose predecessors are all swept is no longer needed.
      if (remaining > 0 && --remaining == 0) held -= net.udcStateCount[s];
    }
  }
  return peak;
}

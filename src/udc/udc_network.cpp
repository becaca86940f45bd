// The program-wide UDC network, its release and the peak-state sweep that the memory
// estimate and the solvers' table lifetimes rely on.
#include <cstddef>

#include "duration/elementary_network.h"
#include "udc/udc_network.h"

UdcNetwork udcNetwork;

const BitWord* udcMembersOf(int u) {
  return udcNetwork.udcMembers.data() + static_cast<size_t>(u) * elementaryNetwork.nBitWords;
}

void releaseUdcNetwork() { udcNetwork = UdcNetwork{}; }

uint64_t sweepPeakStates() {
  const UdcNetwork& net = udcNetwork;
  std::vector<uint32_t> remainingPredecessors(net.udcPredecessorCount);
  uint64_t held = 0;
  uint64_t peak = 0;
  for (int u = net.udcCount - 1; u >= 0; --u) {
    held += net.udcStateCount[static_cast<size_t>(u)];
    if (held > peak) peak = held;
    for (uint32_t s : net.udcSuccessors[static_cast<size_t>(u)]) {
      uint32_t& remaining = remainingPredecessors[s];
      // A successor whose predecessors are all swept is no longer needed.
      if (remaining > 0 && --remaining == 0) held -= net.udcStateCount[s];
    }
  }
  return peak;
}

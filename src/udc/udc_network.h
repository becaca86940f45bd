// The UDC network: the uniformly directed cutsets of the elementary network with their
// member sets, state counts and links, numbered so that every link goes forward.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "duration/bit_set.h"

struct UdcNetwork {
  int32_t udcCount = 0;
  std::vector<BitWord> udcMembers;                   // udcCount * nBitWords
  std::vector<uint32_t> udcStateCount;
  // The links in one block each (millions of UDCs hold a handful of links apiece): the
  // successors of u are udcSuccessorList[udcSuccessorStart[u] .. udcSuccessorStart[u + 1]),
  // in the order in which they were first found; its predecessors likewise, ascending.
  std::vector<uint64_t> udcSuccessorStart;  // udcCount + 1
  std::vector<uint32_t> udcSuccessorList;
  std::vector<uint32_t> udcPredecessorCount;
  std::vector<uint64_t> udcPredecessorStart;  // udcCount + 1
  std::vector<uint32_t> udcPredecessorList;
  uint32_t udcMaxStates = 0;
  uint64_t udcTotalStates = 0;
  uint64_t udcPeakStates = 0;
  int32_t udcMaxMembers = 0;
};

extern UdcNetwork udcNetwork;

const BitWord* udcMembersOf(int u);
int32_t udcMemberCount(int u);

inline std::span<const uint32_t> udcSuccessorsOf(int u) {
  const size_t i = static_cast<size_t>(u);
  return {udcNetwork.udcSuccessorList.data() + udcNetwork.udcSuccessorStart[i],
          static_cast<size_t>(udcNetwork.udcSuccessorStart[i + 1] - udcNetwork.udcSuccessorStart[i])};
}

inline std::span<const uint32_t> udcPredecessorsOf(int u) {
  const size_t i = static_cast<size_t>(u);
  return {udcNetwork.udcPredecessorList.data() + udcNetwork.udcPredecessorStart[i],
          static_cast<size_t>(udcNetwork.udcPredecessorStart[i + 1] - udcNetwork.udcPredecessorStart[i])};
}

// Stores the successor lists of the udcCount UDCs (start offsets and one block of final
// numbers) and derives the predecessor counts and lists.
void storeUdcLinks(std::vector<uint64_t> successorStart, std::vector<uint32_t> successorList);
// The same from one list per UDC.
void storeUdcLinks(const std::vector<std::vector<uint32_t>>& successors);

// Identifies the UDCs of elementaryNetwork; false (with its reason on the console) after
// a failure. Writes the .UDC file at write level 4.
bool identifyUdcs();

void releaseUdcNetwork();

// The most members a UDC may have: gv_bits, at most what a state key encodes.
int32_t udcMemberLimit();

// Peak number of states held at once in a last-to-first sweep.
uint64_t sweepPeakStates();

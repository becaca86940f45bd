// The UDC network: the uniformly directed cutsets of the elementary network with their
// member sets, state counts and links, numbered so that every link goes forward.
#pragma once
#include <cstdint>
#include <vector>

#include "duration/bit_set.h"

struct UdcNetwork {
  int32_t udcCount = 0;
  std::vector<BitWord> udcMembers;                   // udcCount * nBitWords
  std::vector<uint32_t> udcStateCount;
  std::vector<std::vector<uint32_t>> udcSuccessors;  // order of first discovery
  std::vector<uint32_t> udcPredecessorCount;
  std::vector<std::vector<uint32_t>> udcPredecessors;  // ascending
  uint32_t udcMaxStates = 0;
  uint64_t udcTotalStates = 0;
  uint64_t udcPeakStates = 0;
  int32_t udcMaxMembers = 0;
};

extern UdcNetwork udcNetwork;

const BitWord* udcMembersOf(int u);

// Identifies the UDCs of elementaryNetwork; false (with its reason on the console) after
// a failure. Writes the .UDC file at write level 4.
bool identifyUdcs();

void releaseUdcNetwork();

// Rank key under which identification files a target member set: the ancestor count for
// gv_CFG_mxn_ranks 1, times the lowest member for 2, and for any other value also times
// the highest member, looked for in the words above word 0 only.
uint64_t udcRankKey(int ranks, uint64_t ancestorCount, const BitWord* members, int words);

// Peak number of states held at once in a last-to-first sweep.
uint64_t sweepPeakStates();

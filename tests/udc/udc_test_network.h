// Small elementary networks written by hand for the identification tests: activities in
// index order with their successors; predecessors, ancestors, bit sets and module sets are
// derived as the duration stage derives them. Also the configuration the tests share.
#pragma once
#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "duration/elementary_network.h"
#include "network/base_network.h"
#include "base/config.h"
#include "udc/udc_network.h"

struct HandActivity {
  std::vector<int> successors = {};
  int type = 0;
  bool mayIdle = false;
  double duration = 1.0;
  int module = 0;
  double pts = 1.0;
  double pms = 0.0;
  std::vector<double> use = {};  // one entry per resource, zeros when empty
  int baseActivity = -1;         // -1: the elementary index
  int baseMode = 0;
};

inline void installHandNetwork(const std::vector<HandActivity>& acts, const std::vector<double>& availability = {}) {
  const int n = static_cast<int>(acts.size());
  const int words = (n + kBitWordBits - 1) / kBitWordBits;
  const int resources = static_cast<int>(availability.size());
  ElementaryNetwork net;
  net.nElementary = n;
  net.nBitWords = words;
  net.resourceCount = resources;
  net.elemSuccessors.resize(static_cast<size_t>(n));
  net.elemSuccessorProb.resize(static_cast<size_t>(n));
  net.elemPredecessors.resize(static_cast<size_t>(n));
  net.elemAncestorBits.assign(static_cast<size_t>(n * words), 0);
  for (int e = 0; e < n; ++e) {
    const HandActivity& a = acts[static_cast<size_t>(e)];
    net.elemDuration.push_back(a.duration);
    net.elemRate.push_back(a.duration > 0 ? 1.0 / a.duration : 1.0);
    net.elemCost.push_back(0.0);
    net.elemPts.push_back(a.pts);
    net.elemPms.push_back(a.pms);
    net.elemBaseActivity.push_back(a.baseActivity < 0 ? e : a.baseActivity);
    net.elemBaseMode.push_back(a.baseMode);
    for (int r = 0; r < resources; ++r)
      net.elemResourceUse.push_back(r < static_cast<int>(a.use.size()) ? a.use[static_cast<size_t>(r)] : 0.0);
    net.elemSuccTransitionType.push_back(a.type);
    net.elemModule.push_back(a.module);
    net.elemAllowedToIdle.push_back(a.mayIdle ? 1 : 0);
    net.elemWordIndex.push_back(wordOf(e));
    net.elemBitMask.push_back(bitOf(e));
    net.elemSuccessors[static_cast<size_t>(e)].assign(a.successors.begin(), a.successors.end());
    net.elemSuccessorProb[static_cast<size_t>(e)].assign(a.successors.size(), 1.0);
    for (int s : a.successors) net.elemPredecessors[static_cast<size_t>(s)].push_back(e);
  }
  // Predecessors always have lower indices here, so one pass in index order suffices.
  for (int e = 0; e < n; ++e) {
    BitWord* anc = net.elemAncestorBits.data() + static_cast<size_t>(e * words);
    for (int p : net.elemPredecessors[static_cast<size_t>(e)]) {
      unionInto(anc, net.elemAncestorBits.data() + static_cast<size_t>(p * words), words);
      setBit(anc, p);
    }
  }
  int modules = 0;
  for (const HandActivity& a : acts) modules = std::max(modules, a.module + 1);
  net.nModules = modules;
  net.moduleFollowers.resize(static_cast<size_t>(modules));
  net.moduleMemberBits.assign(static_cast<size_t>(modules * words), 0);
  for (int m = 0; m < modules; ++m) {
    BitWord* memberBits = net.moduleMemberBits.data() + static_cast<size_t>(m * words);
    std::vector<int> followers;
    for (int e = 0; e < n; ++e) {
      if (net.elemModule[static_cast<size_t>(e)] != m) continue;
      const BitWord* anc = net.elemAncestorBits.data() + static_cast<size_t>(e * words);
      unionInto(memberBits, anc, words);
      setBit(memberBits, e);
      for (int s : net.elemSuccessors[static_cast<size_t>(e)])
        if (net.elemModule[static_cast<size_t>(s)] != m) followers.push_back(s);
    }
    std::sort(followers.begin(), followers.end());
    followers.erase(std::unique(followers.begin(), followers.end()), followers.end());
    net.moduleFollowers[static_cast<size_t>(m)].assign(followers.begin(), followers.end());
  }
  elementaryNetwork = net;
  baseNetwork.resourceCount = resources;
  baseNetwork.resourceAvailability = availability;
}

inline void setIdentificationConfig() {
  runConfig = RunConfig{};
  runConfig.PJFileName = "UDCTEST";
  runConfig.gv_bits = 16;
  runConfig.gv_CFG_mxn_UDC = 1000;
  runConfig.gv_CFG_mxn_UDC_links = 2;
  runConfig.gv_CFG_mxn_UDC_prr = -1;
  runConfig.gv_CFG_mxn_ranks = 1;
  runConfig.gv_CFG_write = 0;
}

// Chain start -> A -> end: transition type 0, nothing may idle, no resources.
inline std::vector<HandActivity> chainNetwork() {
  std::vector<HandActivity> acts(3);
  acts[0].successors = {1};
  acts[1].successors = {2};
  return acts;
}

// start -> A, B; A -> A2; B -> B2; A2, B2 -> end (indices 0 start, 1 A, 2 B, 3 A2, 4 B2,
// 5 end): two branches that meet again, so later UDCs reach a UDC created by another one.
inline std::vector<HandActivity> twoBranchNetwork() {
  std::vector<HandActivity> acts(6);
  acts[0].successors = {1, 2};
  acts[1].successors = {3};
  acts[2].successors = {4};
  acts[3].successors = {5};
  acts[4].successors = {5};
  return acts;
}

// start -> A -> A2 -> end and start -> C -> end (0 start, 1 A, 2 A2, 3 C, 4 end), where A
// and A2 form module 1 and A carries the given probability of module success.
inline std::vector<HandActivity> moduleNetwork(double pmsOfA) {
  std::vector<HandActivity> acts(5);
  acts[0].successors = {1, 3};
  acts[1].successors = {2};
  acts[1].module = 1;
  acts[1].pms = pmsOfA;
  acts[2].successors = {4};
  acts[2].module = 1;
  acts[3].successors = {4};
  return acts;
}

// The members, successors and predecessors of the UDC numbered n, by number.
inline std::vector<int> membersOfUdc(int n) {
  std::vector<int> members;
  forEachUdcMember(n, [&](int32_t e) { members.push_back(e); });
  return members;
}

inline std::vector<uint32_t> successorNumbersOf(int n) {
  std::vector<uint32_t> numbers;
  for (uint32_t s : udcSuccessorsOf(n)) numbers.push_back(s);
  return numbers;
}

inline std::vector<uint32_t> predecessorNumbersOf(int n) {
  std::vector<uint32_t> numbers;
  for (int m = 0; m < udcNetwork.udcCount; ++m)
    for (uint32_t s : successorNumbersOf(m))
      if (s == static_cast<uint32_t>(n)) numbers.push_back(static_cast<uint32_t>(m));
  return numbers;
}

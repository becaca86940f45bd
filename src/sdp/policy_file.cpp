// The .POL dump of a kept policy. A state is listed when the scheduler has a choice in it:
// an idle member fits (start or wait), a mode is chosen, or the project is abandoned. The
// decision shown is the one taken when the state is reached free to decide, that is at
// the side its two values favour (the decision side unless waiting is worth strictly
// more); a state reached where no decision may be taken (after a phase change without
// decisions during execution) waits, whatever its line says.
#include "sdp/policy_file.h"

#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "base/config.h"
#include "base/output_files.h"
#include "base/run_state.h"
#include "duration/elementary_network.h"
#include "udc/udc_network.h"

namespace {

const char* const kPolicyLegend =
    "|||||||||||||||||||||||||||||||||||||\n"
    "|||FILE STRUCTURE (OPTIMAL POLICY)|||\n"
    "|||||||||||||||||||||||||||||||||||||\n"
    "\n"
    "[OBJECTIVE OPTIMISED (0 = NPV, 1 = MAKESPAN)] [NUMBER OF STATES WITH A DECISION]\n"
    "[STATE 1: UDC] [STATE 1: STATE KEY] [STATE 1: NUMBER OF MEMBER ACTIVITIES] "
    "[MEMBER 1: BASE ACTIVITY] [MEMBER 1: MODE] [MEMBER 1: PHASE] [MEMBER 1: STATUS] ... "
    "[MEMBER n: BASE ACTIVITY] [MEMBER n: MODE] [MEMBER n: PHASE] [MEMBER n: STATUS] "
    "[STATE 1: DECISION] [STATE 1: OPTIMISED VALUE] [STATE 1: OTHER VALUE]\n"
    "...\n"
    "[STATE s: UDC] [STATE s: STATE KEY] ... [STATE s: OTHER VALUE]\n"
    "\n"
    "[MODE: 0, 1, ... | -1 = MODE CHOICE OR MODE JOIN DUMMY]\n"
    "[PHASE: 0, 1, ... = PHASE OF THE MODE | -1 = MODE CHOICE | -2 = MODE JOIN | -3 = PHASE ENTRY | -4 = CHAIN EXIT]\n"
    "[STATUS: 0 = IDLE | 1 = ACTIVE | 2 = FINISHED]\n"
    "[DECISION: START k [BASE ACTIVITY 1] ... [BASE ACTIVITY k] | WAIT | ABANDON | MODE [BASE ACTIVITY] [MODE]]\n"
    "[VALUES: NPV AND MAKESPAN (A POSITIVE TIME) AT THE SIDE THE DECISION TAKES]";

// Phase of each elementary activity within its mode, or the dummy's code.
std::vector<int32_t> phaseLabels() {
  const ElementaryNetwork& net = elementaryNetwork;
  std::vector<int32_t> labels(static_cast<size_t>(net.nElementary), 0);
  std::map<std::pair<int32_t, int32_t>, int32_t> phasesSoFar;
  for (size_t e = 0; e < labels.size(); ++e) {
    if (net.elemDuration[e] < 0) {
      labels[e] = static_cast<int32_t>(net.elemDuration[e]);
      continue;
    }
    labels[e] = phasesSoFar[{net.elemBaseActivity[e], net.elemBaseMode[e]}]++;
  }
  return labels;
}

// A state by its UDC and its place in the UDC's table.
struct StateAt {
  int32_t udc = 0;
  uint32_t index = 0;
};

// The digits of a key, one status per member position.
std::vector<uint8_t> statusesOf(StateKey key, size_t members) {
  std::vector<uint8_t> statuses(members);
  for (size_t p = 0; p < members; ++p) {
    statuses[p] = static_cast<uint8_t>(key % 3);
    key /= 3;
  }
  return statuses;
}

const StateDecision& decisionOf(const KeptPolicy& policy, StateAt s) {
  return policy.decisions[static_cast<size_t>(s.udc)][s.index];
}

// The decision side unless waiting is worth strictly more, as the solver compares them.
bool takenAtDecision(const KeptPolicy& policy, StateAt s) {
  const UdcStateTable& table = policy.tables[static_cast<size_t>(s.udc)];
  return !(table.continuationAt(s.index) > table.decisionAt(s.index));
}

bool isListed(const KeptPolicy& policy, StateAt s) {
  const StateDecision& d = decisionOf(policy, s);
  return d.start >= 0 || d.chosen >= 0 || (takenAtDecision(policy, s) ? d.abandonAtDecision : d.abandonAtContinuation);
}

std::vector<int32_t> membersOf(int32_t u) {
  std::vector<int32_t> members;
  forEachUdcMember(u, [&](int32_t e) { members.push_back(e); });
  return members;
}

// Starts follow one another while the policy decides again in the state a start leads to.
void writeDecision(std::ostream& out, const KeptPolicy& policy, StateAt s, const std::vector<int32_t>& members,
                   const std::vector<uint8_t>& statuses, bool atDecision) {
  const ElementaryNetwork& net = elementaryNetwork;
  const StateDecision& d = decisionOf(policy, s);
  if (d.chosen >= 0) {
    int32_t instantaneous = -1;
    for (size_t p = 0; p < members.size(); ++p)
      if (statuses[p] == kActive && net.elemDuration[static_cast<size_t>(members[p])] <= 0) instantaneous = members[p];
    const int32_t next = net.elemSuccessors[static_cast<size_t>(instantaneous)][static_cast<size_t>(d.chosen)];
    out << " MODE " << net.elemBaseActivity[static_cast<size_t>(next)] << ' '
        << net.elemBaseMode[static_cast<size_t>(next)];
    return;
  }
  if (atDecision ? d.abandonAtDecision : d.abandonAtContinuation) {
    out << " ABANDON";
    return;
  }
  if (!atDecision || d.start < 0) {
    out << " WAIT";
    return;
  }
  std::vector<int32_t> started;
  const UdcStateTable& table = policy.tables[static_cast<size_t>(s.udc)];
  StateKey key = table.keyAt(s.index);
  uint32_t finger = s.index;
  for (StateAt at = s;;) {
    const StateDecision& here = decisionOf(policy, at);
    started.push_back(net.elemBaseActivity[static_cast<size_t>(members[static_cast<size_t>(here.start)])]);
    if (!here.startThenDecide) break;
    key += kPowersOfThree[static_cast<size_t>(here.start)];
    at.index = findState(table, table.count, key, finger, at.udc);
    const StateDecision& after = decisionOf(policy, at);
    if (after.start < 0 || after.abandonAtDecision || after.chosen >= 0) break;
  }
  out << " START " << started.size();
  for (int32_t a : started) out << ' ' << a;
}

void writeState(std::ostream& out, const KeptPolicy& policy, StateAt s, const std::vector<int32_t>& labels,
                bool makespanFirst) {
  const ElementaryNetwork& net = elementaryNetwork;
  const UdcStateTable& table = policy.tables[static_cast<size_t>(s.udc)];
  const std::vector<int32_t> members = membersOf(s.udc);
  const std::vector<uint8_t> statuses = statusesOf(table.keyAt(s.index), members.size());
  out << s.udc << ' ' << table.keyAt(s.index) << ' ' << members.size();
  for (size_t p = 0; p < members.size(); ++p) {
    const size_t e = static_cast<size_t>(members[p]);
    out << ' ' << net.elemBaseActivity[e] << ' ' << net.elemBaseMode[e] << ' ' << labels[e] << ' '
        << static_cast<int>(statuses[p]);
  }
  const bool atDecision = takenAtDecision(policy, s);
  writeDecision(out, policy, s, members, statuses, atDecision);
  const float primary = atDecision ? table.decisionAt(s.index) : table.continuationAt(s.index);
  const float secondary = atDecision ? table.secondaryDecisionAt(s.index) : table.secondaryContinuationAt(s.index);
  const float npv = reportedValue(makespanFirst ? secondary : primary, false);
  const float makespan = reportedValue(makespanFirst ? primary : secondary, true);
  out << ' ' << (makespanFirst ? makespan : npv) << ' ' << (makespanFirst ? npv : makespan) << '\n';
}

}  // namespace

void writePolicyFile(const KeptPolicy& policy, bool makespanFirst) {
  const std::unique_ptr<CheckedOutput> file = openOutputFile(OutputFile::kPolicy);
  std::ostream& out = file->stream();
  std::vector<StateAt> listed;
  for (int32_t u = 0; u < udcNetwork.udcCount; ++u)
    for (uint32_t i = 0; i < static_cast<uint32_t>(policy.decisions[static_cast<size_t>(u)].size()); ++i)
      if (isListed(policy, {u, i})) listed.push_back({u, i});
  const std::vector<int32_t> labels = phaseLabels();
  out << (makespanFirst ? 1 : 0) << ' ' << listed.size() << '\n';
  for (StateAt s : listed) writeState(out, policy, s, labels, makespanFirst);
  out << '\n' << kPolicyLegend;
  file->finish();
}

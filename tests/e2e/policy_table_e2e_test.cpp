// The readable policy read back. On the worked example (also numbered from 0, and with
// durations of two phases), on a resource-constrained project solved for the makespan and on
// PSPLIB's j301_1, the decisions the file lists are followed through the project as its file
// gives it, with exponential or Erlang durations worked out here, apart from the program:
// every state the policy reaches where an activity could start has its row, every start the
// precedences and the resources allow, each row's probability is that of reaching it, and the
// expected values from each row on, and from the start, are the solver's.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "e2e/e2e_support.h"
#include "e2e/j30_first.h"

namespace {

// A project file with resource data, and costs where the file has them.
struct Project {
  int first = 1;  // the number the file gives its first activity
  double rate = 0;
  std::vector<double> duration, cost;
  std::vector<std::vector<double>> use;
  std::vector<double> availability;
  std::vector<std::vector<int>> predecessors;
  std::vector<int> phases;  // of each duration: Erlang phases, 0 for a duration 0
  int size() const { return static_cast<int>(duration.size()); }
};

Project readProject(const std::string& text, bool withCosts, double rate, int phasesPerDuration) {
  std::istringstream in(text);
  Project p;
  p.rate = rate;
  int count = 0, resources = 0;
  in >> count >> resources;
  p.availability.resize(static_cast<size_t>(resources));
  for (double& amount : p.availability) in >> amount;
  std::vector<std::vector<int>> successors(static_cast<size_t>(count));
  bool numberedFromZero = false;
  for (int a = 0; a < count; ++a) {
    double duration = 0, cost = 0;
    in >> duration;
    if (withCosts) in >> cost;
    std::vector<double> use(static_cast<size_t>(resources));
    for (double& amount : use) in >> amount;
    int successorCount = 0;
    in >> successorCount;
    for (int k = 0; k < successorCount; ++k) {
      int s = 0;
      in >> s;
      successors[static_cast<size_t>(a)].push_back(s);
      numberedFromZero = numberedFromZero || s == 1;
    }
    p.duration.push_back(duration);
    p.cost.push_back(cost);
    p.use.push_back(use);
    p.phases.push_back(duration > 0 ? phasesPerDuration : 0);
  }
  p.first = numberedFromZero ? 0 : 1;
  // An activity without successors leads to the dummy end, the last one.
  for (int a = 0; a + 1 < count; ++a)
    if (successors[static_cast<size_t>(a)].empty()) successors[static_cast<size_t>(a)].push_back(count - 1 + p.first);
  p.predecessors.resize(static_cast<size_t>(count));
  for (int a = 0; a < count; ++a)
    for (int s : successors[static_cast<size_t>(a)]) p.predecessors[static_cast<size_t>(s - p.first)].push_back(a);
  return p;
}

// What the project has done: the activities finished, and the phase each running one is in.
struct State {
  uint64_t finished = 0;
  std::vector<int> phase;  // 0: not started
};

bool isFinished(const State& s, int a) { return (s.finished >> a & 1) != 0; }

struct Row {
  std::string decision;
  std::vector<int> started;
  double probability = 0, npv = 0, makespan = 0;
  double reached = 0;  // the probability of reaching it, as followed here
};

std::vector<std::string> splitFields(const std::string& line, char separator) {
  std::vector<std::string> fields;
  std::string field;
  std::istringstream in(line);
  while (std::getline(in, field, separator)) fields.push_back(field);
  if (!line.empty() && line.back() == separator) fields.emplace_back();
  return fields;
}

// The rows by the state they decide in (its three sets as the file writes them).
std::map<std::string, Row> readRows(const std::string& text) {
  std::map<std::string, Row> rows;
  std::istringstream in(text);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "finished,running,idle,decision,activities,probability,npv,makespan,udc,state");
  while (std::getline(in, line)) {
    const std::vector<std::string> fields = splitFields(line, ',');
    if (fields.size() != 10) {
      ADD_FAILURE() << "not a row: " << line;
      continue;
    }
    Row row;
    row.decision = fields[3];
    std::istringstream started(fields[4]);
    for (int number = 0; started >> number;) row.started.push_back(number);
    row.probability = std::stod(fields[5]);
    row.npv = std::stod(fields[6]);
    row.makespan = std::stod(fields[7]);
    const std::string state = fields[0] + ',' + fields[1] + ',' + fields[2];
    EXPECT_TRUE(rows.emplace(state, row).second) << "two rows for " << state;
  }
  return rows;
}

struct Values {
  double npv = 0;
  double makespan = 0;
};

// The project run under the decisions of the rows: exact expectations over the race of the
// running phases, the probability of each state from the start forwards.
class Follower {
 public:
  Follower(const Project& project, std::map<std::string, Row>& rows) : p_(project), rows_(rows) {}

  // The solve starts with the first activity under way.
  State start() const {
    State s;
    s.phase.assign(static_cast<size_t>(p_.size()), 0);
    s.phase[0] = 1;
    return s;
  }

  Values fromStart() { return waitFrom(start()); }

  void reachRows() {
    // A move adds a finished activity or a phase: the states are taken in that order.
    std::map<std::tuple<int, int, std::string, bool>, std::pair<State, double>> frontier;
    auto add = [&](const State& s, bool decides, double probability) {
      int phases = 0;
      for (int phase : s.phase) phases += phase;
      auto& entry = frontier[{__builtin_popcountll(s.finished), phases, names(s), decides}];
      entry.first = s;
      entry.second += probability;
    };
    add(start(), false, 1.0);
    while (!frontier.empty()) {
      const auto next = frontier.begin();
      State s = next->second.first;
      const bool decides = std::get<3>(next->first);
      const double probability = next->second.second;
      frontier.erase(next);
      if (decides) {
        if (ended(s)) continue;
        auto row = rows_.find(names(s));
        if (row != rows_.end()) row->second.reached += probability;
        decide(s);
      }
      const int instantaneous = instantaneousActivity(s);
      if (instantaneous >= 0) {
        add(completed(s, instantaneous), true, probability);
        continue;
      }
      const double total = totalRate(s);
      for (int a = 0; a < p_.size(); ++a) {
        if (s.phase[static_cast<size_t>(a)] == 0) continue;
        const double share = rateOf(a) / total * probability;
        if (s.phase[static_cast<size_t>(a)] < p_.phases[static_cast<size_t>(a)])
          add(advanced(s, a), false, share);
        else
          add(completed(s, a), true, share);
      }
    }
  }

  // "1 2,4p2,3 5 6": the three sets as the file writes them.
  std::string names(const State& s) const {
    std::string sets[3];
    for (int a = 0; a < p_.size(); ++a) {
      const int phase = s.phase[static_cast<size_t>(a)];
      const int set = isFinished(s, a) ? 0 : phase > 0 ? 1 : 2;
      std::string& text = sets[set];
      if (!text.empty()) text += ' ';
      text += std::to_string(a + p_.first);
      if (set == 1 && p_.phases[static_cast<size_t>(a)] > 1) text += 'p' + std::to_string(phase);
    }
    return sets[0] + ',' + sets[1] + ',' + sets[2];
  }

 private:
  bool ended(const State& s) const {
    const int last = p_.size() - 1;
    for (int q : p_.predecessors[static_cast<size_t>(last)])
      if (!isFinished(s, q)) return false;
    return true;
  }
  bool eligible(const State& s, int a) const {
    if (isFinished(s, a) || s.phase[static_cast<size_t>(a)] > 0 || a == p_.size() - 1) return false;
    for (int q : p_.predecessors[static_cast<size_t>(a)])
      if (!isFinished(s, q)) return false;
    return true;
  }
  bool fits(const State& s, int a) const {
    for (size_t r = 0; r < p_.availability.size(); ++r) {
      double used = p_.use[static_cast<size_t>(a)][r];
      for (int b = 0; b < p_.size(); ++b)
        if (s.phase[static_cast<size_t>(b)] > 0) used += p_.use[static_cast<size_t>(b)][r];
      if (used > p_.availability[r]) return false;
    }
    return true;
  }
  double rateOf(int a) const { return p_.phases[static_cast<size_t>(a)] / p_.duration[static_cast<size_t>(a)]; }
  double totalRate(const State& s) const {
    double total = 0;
    for (int a = 0; a < p_.size(); ++a)
      if (s.phase[static_cast<size_t>(a)] > 0) total += rateOf(a);
    return total;
  }
  int instantaneousActivity(const State& s) const {
    for (int a = p_.size() - 1; a >= 0; --a)
      if (s.phase[static_cast<size_t>(a)] > 0 && p_.duration[static_cast<size_t>(a)] == 0) return a;
    return -1;
  }
  static State completed(State s, int a) {
    s.phase[static_cast<size_t>(a)] = 0;
    s.finished |= uint64_t{1} << a;
    return s;
  }
  static State advanced(State s, int a) {
    ++s.phase[static_cast<size_t>(a)];
    return s;
  }

  // The decision listed for a state the policy reaches after a completion, checked against the
  // project and applied; returns the costs it pays.
  double decide(State& s) {
    const std::string key = names(s);
    const auto row = rows_.find(key);
    bool startFits = false;
    for (int a = 0; a < p_.size(); ++a) startFits = startFits || (eligible(s, a) && fits(s, a));
    if (row == rows_.end()) {
      EXPECT_FALSE(startFits) << "no row for " << key << ", where an activity could start";
      return 0;
    }
    EXPECT_TRUE(startFits) << "a row for " << key << ", where nothing could start";
    if (row->second.decision == "WAIT") return 0;
    EXPECT_EQ(row->second.decision, "START") << key;
    double paid = 0;
    for (int number : row->second.started) {
      const int a = number - p_.first;
      EXPECT_TRUE(a >= 0 && a < p_.size() && eligible(s, a) && fits(s, a)) << key << ": start " << number;
      if (a < 0 || a >= p_.size()) continue;
      s.phase[static_cast<size_t>(a)] = 1;
      paid += p_.cost[static_cast<size_t>(a)];
    }
    return paid;
  }

  Values epoch(const State& s) {
    if (ended(s)) return {p_.cost.back(), 0.0};
    const std::string key = names(s);
    if (auto known = epochs_.find(key); known != epochs_.end()) return known->second;
    State after = s;
    const double paid = decide(after);
    const Values rest = waitFrom(after);
    const Values values{paid + rest.npv, rest.makespan};
    if (auto row = rows_.find(key); row != rows_.end()) {
      EXPECT_NEAR(row->second.npv, values.npv, 2e-5 * std::max(1.0, std::fabs(values.npv))) << key;
      EXPECT_NEAR(row->second.makespan, values.makespan, 2e-5 * std::max(1.0, values.makespan)) << key;
    }
    epochs_[key] = values;
    return values;
  }

  Values waitFrom(const State& s) {
    const std::string key = names(s);
    if (auto known = waits_.find(key); known != waits_.end()) return known->second;
    Values values;
    const int instantaneous = instantaneousActivity(s);
    if (instantaneous >= 0) {
      values = epoch(completed(s, instantaneous));
    } else {
      const double total = totalRate(s);
      if (total <= 0) {
        ADD_FAILURE() << "nothing runs in " << key;
        return values;
      }
      values.makespan = 1.0 / total;
      for (int a = 0; a < p_.size(); ++a) {
        if (s.phase[static_cast<size_t>(a)] == 0) continue;
        const double rate = rateOf(a);
        const Values next = s.phase[static_cast<size_t>(a)] < p_.phases[static_cast<size_t>(a)]
                                ? waitFrom(advanced(s, a))
                                : epoch(completed(s, a));
        values.npv += rate / (p_.rate + total) * next.npv;
        values.makespan += rate / total * next.makespan;
      }
    }
    waits_[key] = values;
    return values;
  }

  const Project& p_;
  std::map<std::string, Row>& rows_;
  std::map<std::string, Values> epochs_, waits_;
};

// The value the console line gives after its words.
double consoleValue(const std::string& line, const std::string& words) {
  const size_t at = line.find(words);
  EXPECT_NE(at, std::string::npos) << words << " in " << line;
  return at == std::string::npos ? NAN : std::stod(line.substr(at + words.size()));
}

std::string exampleFile(const std::string& path) {
  return e2e::readWholeFile(e2e::fs::path(TERVANO_SOURCE_DIR) / "examples" / path);
}

}  // namespace

TEST(PolicyTableE2e, ListedDecisionsReproduceTheOptimum) {
  struct Case {
    const char* name;
    std::vector<std::string> projects;
    bool makespan;  // the objective optimised; the other rides along
    bool withCosts;
    std::string scv;
  };
  // The worked example's first project with its activities numbered from 0.
  const std::string fromZero =
      "6\n1\n4\n0 0 0  3 1 2 3\n3 -20 2  1 4\n2 -15 3  1 5\n4 -10 1  1 5\n1 -5 3  1 5\n0 200 0  0\n";
  const Case cases[] = {
      {"worked example",
       {exampleFile("basic/PROJECT_1.RCP"), exampleFile("basic/PROJECT_2.RCP"), exampleFile("basic/PROJECT_3.RCP")},
       false,
       true,
       "1"},
      {"numbered from 0", {fromZero}, false, true, "1"},
      {"two phases", {exampleFile("basic/PROJECT_3.RCP")}, false, true, "0.5"},
      {"Patterson layout", {exampleFile("patterson/PATTERSON_1.RCP")}, true, false, "1"},
      {"j301_1", {e2e::kJ30First}, true, false, "1"},
  };
  for (const Case& c : cases) {
    e2e::WorkDirectory dir;
    dir.write("CONFIG.DAT", e2e::configText({{"gv_CFG_lnr", std::to_string(c.projects.size())},
                                             {"gv_CFG_OBJ", c.makespan ? "1" : "0"},
                                             {"gv_CFG_OBJ2", c.makespan ? "0" : "1"},
                                             {"gv_CFG_cost_data", c.withCosts ? "1" : "0"},
                                             {"gv_CFG_SCV", c.scv},
                                             {"gv_CFG_write", "5"}}));
    for (size_t n = 0; n < c.projects.size(); ++n) dir.write('P' + std::to_string(n + 1) + ".RCP", c.projects[n]);
    const e2e::RunOutput output = dir.run("0\n0\n", 300);
    ASSERT_EQ(output.exitCode, 0) << c.name << output.console << output.errors;
    EXPECT_EQ(output.errors, "") << c.name;
    std::istringstream console(output.console);
    std::vector<std::string> lines;
    for (std::string line; std::getline(console, line);)
      if (line.rfind("PROJECT [", 0) == 0) lines.push_back(line);
    ASSERT_EQ(lines.size(), c.projects.size()) << c.name;
    for (size_t n = 0; n < c.projects.size(); ++n) {
      const std::string label = std::string(c.name) + ", project " + std::to_string(n + 1);
      const Project project = readProject(c.projects[n], c.withCosts, 0.01, c.scv == "1" ? 1 : 2);
      std::map<std::string, Row> rows = readRows(dir.read('P' + std::to_string(n + 1) + ".policy.csv"));
      ASSERT_FALSE(rows.empty()) << label;
      Follower follower(project, rows);
      const Values values = follower.fromStart();
      const double npv = consoleValue(lines[n], c.makespan ? " NPV: " : "OPT NPV: ");
      const double makespan = consoleValue(lines[n], c.makespan ? "OPT MAKESPAN: " : " MAKESPAN: ");
      EXPECT_NEAR(values.npv, npv, 1e-5 * std::max(1.0, std::fabs(npv))) << label;
      EXPECT_NEAR(values.makespan, makespan, 1e-5 * std::max(1.0, makespan)) << label;
      follower.reachRows();
      for (const auto& [state, row] : rows) EXPECT_NEAR(row.reached, row.probability, 1e-10) << label << ": " << state;
    }
  }
}

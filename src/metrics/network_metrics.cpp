// Network metrics: greedy-sequence scores, activity spread, UDC rank statistics and
// base-network measures of every project of the series, written to METRICS.CSV.
#include "metrics/network_metrics.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <fstream>
#include <iostream>
#include <sstream>
#include <utility>

#include "duration/elementary_network.h"
#include "network/base_network.h"
#include "base/config.h"
#include "base/output_files.h"
#include "base/fatal.h"
#include "base/interrupt.h"
#include "project/pipeline.h"
#include "base/run_state.h"
#include "udc/udc_network.h"

NetworkMetrics networkMetrics;

const char* const kMetricsHeader =
    "PROJECT;NRA;PTS SCORE;COST SCORE;SCV SCORE;NRPA SCORE;TOTAL ACTIVITY SPREAD;"
    "AVERAGE RANK (ACTIVITY SPREAD);RANK VARIANCE (ACTIVITY SPREAD);RANK SKEWNESS (ACTIVITY SPREAD);"
    "TOTAL NUMBER OF UDCS;AVERAGE RANK (NUMBER OF UDCS);RANK VARIANCE (NUMBER OF UDCS);"
    "RANK SKEWNESS (NUMBER OF UDCS);TOTAL NUMBER OF UDC MEMBERS;AVERAGE RANK (NUMBER OF UDC MEMBERS);"
    "RANK VARIANCE (NUMBER OF UDC MEMBERS);RANK SKEWNESS (NUMBER OF UDC MEMBERS);DSTART NRPA;DEND NRPA;"
    "DSTART COST;DEND COST;DSTART PTS;DEND PTS;TOTAL COST;TOTAL PTS;TOTAL DURATION;"
    "SV1 (SERIAL/VARIABILITY PART 1);SV2 (SERIAL/VARIABILITY PART 2);SV (SERIAL/VARIABILITY);OS;"
    "OS (DUMMIES INCLUDED);PAY-OFF;PROFIT MEASURE;RATE";

const char* const kMetricsFileName = "METRICS.CSV";

namespace {

const char* const kMetricsFile = kMetricsFileName;

// The measures are defined with e raised to a power, not with exp of the exponent.
double powerOfE(double x) { return std::pow(std::exp(1.0), x); }

// The reader guarantees valid indices; the metrics still never step outside the arrays.
bool isActivity(int32_t index) { return index >= 0 && index < baseNetwork.activityCount; }

enum class GreedyValue { Pts, Cost, Scv, Nrpa };

const ExecutionMode* firstMode(int activity) {
  const Activity& a = baseNetwork.activities[activity];
  return a.modes.empty() ? nullptr : &a.modes[0];
}

// How many successors the completion of `activity` would make eligible.
double newlyEligibleCount(int activity, const std::vector<uint8_t>& done) {
  int count = 0;
  for (int32_t s : baseNetwork.activities[activity].successors) {
    if (!isActivity(s)) continue;
    bool othersDone = true;
    for (int32_t p : baseNetwork.activities[s].predecessors)
      if (p != activity && isActivity(p) && !done[p]) othersDone = false;
    if (othersDone) ++count;
  }
  return count;
}

bool allPredecessorsDone(int activity, const std::vector<uint8_t>& done) {
  for (int32_t p : baseNetwork.activities[activity].predecessors)
    if (isActivity(p) && !done[p]) return false;
  return true;
}

std::vector<double> greedyCurve(GreedyValue kind, bool pickLargest) {
  const int n = baseNetwork.activityCount;
  std::vector<double> curve(n, 0.0);
  if (n == 0) return curve;
  curve[0] = (kind == GreedyValue::Pts || kind == GreedyValue::Nrpa) ? 1.0 : 0.0;
  std::vector<uint8_t> done(n, 0);
  std::vector<uint8_t> eligible(n, 0);
  int current = 0;
  for (int t = 1; t < n; ++t) {
    if (current >= 0) {
      done[current] = 1;
      eligible[current] = 0;
      for (int32_t s : baseNetwork.activities[current].successors)
        if (isActivity(s) && !done[s] && allPredecessorsDone(s, done)) eligible[s] = 1;
    }
    int picked = -1;
    double best = 0;
    for (int a = 0; a < n; ++a) {
      if (!eligible[a]) continue;
      for (const ExecutionMode& mode : baseNetwork.activities[a].modes) {
        double value = 0;
        switch (kind) {
          case GreedyValue::Pts: value = mode.pts; break;
          case GreedyValue::Cost: value = mode.cost; break;
          case GreedyValue::Scv: value = mode.scv; break;
          case GreedyValue::Nrpa: value = newlyEligibleCount(a, done); break;
        }
        // Ties go to the activity met last.
        if (picked < 0 || (pickLargest ? value >= best : value <= best)) {
          picked = a;
          best = value;
        }
      }
    }
    current = picked;
    if (picked < 0) {
      // Only a network whose start is not activity 0 runs dry; its curve stays flat.
      curve[t] = curve[t - 1];
      continue;
    }
    switch (kind) {
      case GreedyValue::Pts: curve[t] = curve[t - 1] * best; break;
      case GreedyValue::Cost:
      case GreedyValue::Scv: curve[t] = curve[t - 1] + best; break;
      case GreedyValue::Nrpa: curve[t] = best; break;
    }
  }
  return curve;
}

double greedyScore(GreedyValue kind) { return greedyCurveScore(greedyCurve(kind, false), greedyCurve(kind, true)); }

int elementaryCount() {
  const ElementaryNetwork& net = elementaryNetwork;
  if (net.nBitWords <= 0) return 0;
  return static_cast<int>(std::min<size_t>(std::max(net.nElementary, 0), net.elemAncestorBits.size() / net.nBitWords));
}

// Calls visit(a) for every ancestor a of e below count.
template <typename Visit>
void forEachAncestor(int e, int count, Visit visit) {
  const BitWord* row = ancestorBitsOf(e);
  for (int w = 0; w < elementaryNetwork.nBitWords; ++w)
    for (BitWord bits = row[w]; bits != 0; bits &= bits - 1) {
      const int a = w * kBitWordBits + __builtin_ctzll(bits);
      if (a < count) visit(a);
    }
}

void computeActivitySpread() {
  const int count = elementaryCount();
  std::vector<int64_t> descendants(count, 0);
  for (int e = 0; e < count; ++e) forEachAncestor(e, count, [&](int a) { ++descendants[a]; });
  std::vector<int64_t> perRank(count, 0);
  for (int e = 0; e < count; ++e) {
    const int64_t first = ancestorCountOf(e);
    const int64_t end = count - descendants[e];
    for (int64_t r = first; r < end; ++r) ++perRank[r];
  }
  networkMetrics.activitySpread = rankStatistics(perRank);
}

void computeUdcRanks() {
  const int count = elementaryCount();
  std::vector<int64_t> udcsPerRank(count, 0);
  std::vector<int64_t> membersPerRank(count, 0);
  std::vector<uint8_t> isAncestor(count, 0);
  for (int u = 0; u < udcNetwork.udcCount; ++u) {
    std::fill(isAncestor.begin(), isAncestor.end(), 0);
    int memberCount = 0;
    forEachUdcMember(u, [&](int32_t e) {
      if (e < 0 || e >= count) return;
      ++memberCount;
      forEachAncestor(e, count, [&](int a) { isAncestor[static_cast<size_t>(a)] = 1; });
    });
    int rank = 0;
    for (uint8_t flag : isAncestor) rank += flag;
    if (rank >= count) continue;
    udcsPerRank[rank] += 1;
    membersPerRank[rank] += memberCount;
  }
  networkMetrics.udcRanks = rankStatistics(udcsPerRank);
  networkMetrics.udcMemberRanks = rankStatistics(membersPerRank);
}

// reachable[i * n + j]: j is a transitive successor of i.
std::vector<uint8_t> baseReachability() {
  const int n = baseNetwork.activityCount;
  std::vector<uint8_t> reachable(static_cast<size_t>(n) * n, 0);
  std::vector<int32_t> queue;
  for (int i = 0; i < n; ++i) {
    uint8_t* row = reachable.data() + static_cast<size_t>(i) * n;
    queue.clear();
    for (int32_t s : baseNetwork.activities[i].successors)
      if (isActivity(s) && !row[s]) {
        row[s] = 1;
        queue.push_back(s);
      }
    for (size_t head = 0; head < queue.size(); ++head)
      for (int32_t s : baseNetwork.activities[queue[head]].successors)
        if (isActivity(s) && !row[s]) {
          row[s] = 1;
          queue.push_back(s);
        }
  }
  return reachable;
}

void computeBaseMeasures() {
  const int n = baseNetwork.activityCount;
  NetworkMetrics& m = networkMetrics;
  const std::vector<uint8_t> reachable = baseReachability();
  auto reaches = [&](int i, int j) { return reachable[static_cast<size_t>(i) * n + j] != 0; };
  std::vector<int> anc(n, 0);
  std::vector<int> desc(n, 0);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      if (reaches(i, j)) {
        ++desc[i];
        ++anc[j];
      }
  auto parallel = [&](int i, int j) { return i != j && !reaches(i, j) && !reaches(j, i); };
  auto cost = [&](int i) { return firstMode(i) ? firstMode(i)->cost : 0.0; };
  auto pts = [&](int i) { return firstMode(i) ? firstMode(i)->pts : 1.0; };
  auto dur = [&](int i) { return firstMode(i) ? firstMode(i)->duration : 0.0; };
  auto scv = [&](int i) { return firstMode(i) ? firstMode(i)->scv : 1.0; };
  const double rate = baseNetwork.discountRate;

  m.totalCost = 0;
  m.totalPts = 1.0;
  m.totalDuration = 0;
  bool zeroPts = false;
  for (int i = 1; i <= n - 2; ++i) {
    m.totalCost += cost(i);
    m.totalPts *= pts(i);
    m.totalDuration += dur(i);
    if (pts(i) == 0.0) zeroPts = true;
  }
  m.payoff = n >= 1 ? cost(n - 1) : 0.0;
  m.profitMeasure = powerOfE(-m.totalDuration * rate) * (m.totalCost + m.payoff) * m.totalPts;
  m.rate = rate;

  double startNrpa = 0, endNrpa = 0, startCost = 0, endCost = 0, startPts = 0, endPts = 0;
  for (int i = 1; i <= n - 2; ++i) {
    const double outside = n - anc[i] - desc[i];
    startNrpa += outside * desc[i] / n;
    endNrpa += outside * anc[i] / n;
    startCost += static_cast<double>(desc[i]) / n * cost(i);
    endCost += static_cast<double>(anc[i]) / n * cost(i);
    if (zeroPts) {
      // P / pts(i) taken as the product of the other probabilities, defined for pts(i) = 0.
      double others = 1.0;
      for (int j = 1; j <= n - 2; ++j)
        if (j != i) others *= pts(j);
      startPts += static_cast<double>(desc[i]) / n * others;
      endPts += static_cast<double>(anc[i]) / n * others;
    } else {
      startPts += static_cast<double>(desc[i]) / n / pts(i);
      endPts += static_cast<double>(anc[i]) / n / pts(i);
    }
  }
  m.dstartNrpa = n > 0 ? startNrpa / n : 0.0;
  m.dendNrpa = n > 0 ? endNrpa / n : 0.0;
  m.dstartCost = m.totalCost != 0.0 ? startCost / m.totalCost : 0.0;
  m.dendCost = m.totalCost != 0.0 ? endCost / m.totalCost : 0.0;
  m.dstartPts = zeroPts ? startPts : m.totalPts * startPts;
  m.dendPts = zeroPts ? endPts : m.totalPts * endPts;

  for (int i = 1; i <= n - 2; ++i)
    if (n - desc[i] - anc[i] < 1)
      stopFatalWithoutPrompt("Error in metrics computation. Number of parallel activities is <= 0.");
  m.sv1 = 0;
  m.sv2 = 0;
  for (int i = 1; i <= n - 2; ++i) {
    if (n - desc[i] - anc[i] == 1) {
      m.sv1 += scv(i);
      continue;
    }
    double parallelCost = 0;
    for (int j = 0; j < n; ++j)
      if (parallel(i, j)) parallelCost += cost(j);
    const double discount = powerOfE(-rate * dur(i));
    if (parallelCost * (pts(i) * discount - 1) >= m.totalPts * m.payoff * (1 - discount)) m.sv2 += scv(i);
  }
  m.sv = m.sv1 + m.sv2;

  int64_t orderedReal = 0, orderedAll = 0;
  for (int i = 0; i < n; ++i)
    for (int j = i + 1; j < n; ++j)
      if (!parallel(i, j)) {
        ++orderedAll;
        if (i >= 1 && j <= n - 2) ++orderedReal;
      }
  m.orderStrength = n > 3 ? orderedReal / ((n - 2.0) * (n - 3.0) / 2.0) : 0.0;
  m.orderStrengthWithDummies = n > 1 ? orderedAll / (n * (n - 1.0) / 2.0) : 0.0;
}

// The last guard: a measure that came out infinite or not a number is a fault, not a value.
void checkMetricsFinite() {
  const NetworkMetrics& m = networkMetrics;
  const std::pair<const char*, double> measures[] = {
      {"PTS SCORE", m.ptsScore},
      {"COST SCORE", m.costScore},
      {"SCV SCORE", m.scvScore},
      {"NRPA SCORE", m.nrpaScore},
      {"ACTIVITY SPREAD", m.activitySpread.skewness + m.activitySpread.variance + m.activitySpread.average},
      {"UDC RANKS", m.udcRanks.skewness + m.udcRanks.variance + m.udcRanks.average},
      {"UDC MEMBER RANKS", m.udcMemberRanks.skewness + m.udcMemberRanks.variance + m.udcMemberRanks.average},
      {"DSTART NRPA", m.dstartNrpa},
      {"DEND NRPA", m.dendNrpa},
      {"DSTART COST", m.dstartCost},
      {"DEND COST", m.dendCost},
      {"DSTART PTS", m.dstartPts},
      {"DEND PTS", m.dendPts},
      {"TOTAL COST", m.totalCost},
      {"TOTAL PTS", m.totalPts},
      {"TOTAL DURATION", m.totalDuration},
      {"SV1", m.sv1},
      {"SV2", m.sv2},
      {"SV", m.sv},
      {"OS", m.orderStrength},
      {"OS (DUMMIES INCLUDED)", m.orderStrengthWithDummies},
      {"PAY-OFF", m.payoff},
      {"PROFIT MEASURE", m.profitMeasure},
      {"RATE", m.rate},
  };
  for (const auto& [name, value] : measures) {
    if (std::isfinite(value)) continue;
    std::ostringstream message;
    message << "Error in metrics computation. The " << name << " of project " << m.project << " is " << value
            << "; nothing is written for it.";
    stopFatalWithoutPrompt(message.str());
  }
}

void appendMetricsRow() {
  checkMetricsFinite();
  std::ostringstream row;
  writeNetworkMetricsRow(row);
  row << '\n';
  appendWholeText(kMetricsFile, row.str());
}

}  // namespace

RankStatistics rankStatistics(const std::vector<int64_t>& countPerRank) {
  RankStatistics stats;
  for (int64_t c : countPerRank) stats.total += c;
  if (stats.total == 0) return stats;
  const double total = static_cast<double>(stats.total);
  for (size_t r = 0; r < countPerRank.size(); ++r) stats.average += r * (countPerRank[r] / total);
  double third = 0;
  for (size_t r = 0; r < countPerRank.size(); ++r) {
    const double p = countPerRank[r] / total;
    const double d = r - stats.average;
    stats.variance += d * d * p;
    third += d * d * d * p;
  }
  stats.skewness = stats.variance > 0 ? third / std::pow(stats.variance, 1.5) : 0.0;
  return stats;
}

double greedyCurveScore(const std::vector<double>& minCurve, const std::vector<double>& maxCurve) {
  const size_t n = minCurve.size();
  if (n == 0 || maxCurve.size() != n) return 0.0;
  std::vector<double> gap(n);
  double sum = 0;
  for (size_t k = 0; k < n; ++k) {
    gap[k] = maxCurve[k] - minCurve[k];
    sum += gap[k];
  }
  double cumulative = 0;
  double score = 0;
  for (size_t k = 0; k < n; ++k) {
    const double w = sum == 0.0 ? 1.0 / n : gap[k] / sum;
    score += (cumulative + w / 2) / n;
    cumulative += w;
  }
  return score;
}

void buildNetworkMetrics(bool udcIdentified) {
  networkMetrics = NetworkMetrics{};
  NetworkMetrics& m = networkMetrics;
  m.project = projectNumber;
  m.activityCount = baseNetwork.activityCount;
  m.ptsScore = greedyScore(GreedyValue::Pts);
  m.costScore = greedyScore(GreedyValue::Cost);
  m.scvScore = greedyScore(GreedyValue::Scv);
  m.nrpaScore = greedyScore(GreedyValue::Nrpa);
  computeActivitySpread();
  m.udcIdentified = udcIdentified;
  if (udcIdentified) computeUdcRanks();
  computeBaseMeasures();
}

void releaseNetworkMetrics() { networkMetrics = NetworkMetrics{}; }

void writeNetworkMetricsRow(std::ostream& out) {
  const NetworkMetrics& m = networkMetrics;
  auto stats = [&out](const RankStatistics& s) {
    out << ';' << s.total << ';' << s.average << ';' << s.variance << ';' << s.skewness;
  };
  out << m.project << ';' << m.activityCount << ';' << m.ptsScore << ';' << m.costScore << ';' << m.scvScore << ';'
      << m.nrpaScore;
  stats(m.activitySpread);
  if (m.udcIdentified) {
    stats(m.udcRanks);
    stats(m.udcMemberRanks);
  }
  out << ';' << m.dstartNrpa << ';' << m.dendNrpa << ';' << m.dstartCost << ';' << m.dendCost << ';' << m.dstartPts
      << ';' << m.dendPts << ';' << m.totalCost << ';' << m.totalPts << ';' << m.totalDuration << ';' << m.sv1 << ';'
      << m.sv2 << ';' << m.sv << ';' << m.orderStrength << ';' << m.orderStrengthWithDummies << ';' << m.payoff << ';'
      << m.profitMeasure << ';' << m.rate;
}

void computeNetworkMetrics() {
  {
    CheckedOutput head(kMetricsFile);
    head.stream() << kMetricsHeader << '\n';
    head.finish();
  }
  for (int64_t number = settingsInForce().gv_CFG_fnr; number <= settingsInForce().gv_CFG_lnr; ++number) {
    checkInterrupt();
    projectNumber = static_cast<int32_t>(number);
    std::cout << '[' << projectNumber << ']';
    ProjectPipeline steps;
    steps.keepBaseNetwork = true;
    double udcSeconds = 0;
    const bool identified = buildProjectNetworks(steps, udcSeconds);
    buildNetworkMetrics(identified);
    // A failed identification may leave partial UDC data behind; none of it is kept.
    releaseProjectNetworks();
    appendMetricsRow();
    releaseNetworkMetrics();
  }
  const int64_t after = std::max<int64_t>(settingsInForce().gv_CFG_fnr, int64_t{settingsInForce().gv_CFG_lnr} + 1);
  projectNumber = static_cast<int32_t>(std::min<int64_t>(after, INT32_MAX));
}

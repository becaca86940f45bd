// 35 descriptive metrics per project network, one row of METRICS.CSV each.
#pragma once
#include <cstdint>
#include <ostream>
#include <vector>

// Mean, variance and skewness of a rank distribution given by counts per rank.
struct RankStatistics {
  int64_t total = 0;
  double average = 0;
  double variance = 0;
  double skewness = 0;
};

struct NetworkMetrics {
  int32_t project = 0;
  int32_t activityCount = 0;
  double ptsScore = 0;
  double costScore = 0;
  double scvScore = 0;
  double nrpaScore = 0;
  RankStatistics activitySpread;
  // The eight UDC fields exist only when identification succeeded.
  bool udcIdentified = false;
  RankStatistics udcRanks;
  RankStatistics udcMemberRanks;
  double dstartNrpa = 0;
  double dendNrpa = 0;
  double dstartCost = 0;
  double dendCost = 0;
  double dstartPts = 0;
  double dendPts = 0;
  double totalCost = 0;
  double totalPts = 0;
  double totalDuration = 0;
  double sv1 = 0;
  double sv2 = 0;
  double sv = 0;
  double orderStrength = 0;
  double orderStrengthWithDummies = 0;
  double payoff = 0;
  double profitMeasure = 0;
  double rate = 0;
};

extern NetworkMetrics networkMetrics;

// For projectNumber gv_CFG_fnr .. gv_CFG_lnr: pipeline up to the UDCs, metrics, release.
// A metric that is not finite stops the run instead of being written.
void computeNetworkMetrics();

// Fills networkMetrics from baseNetwork and elementaryNetwork, and from udcNetwork when
// udcIdentified. Stops the run when a real activity has no activity in parallel.
void buildNetworkMetrics(bool udcIdentified);
void releaseNetworkMetrics();

extern const char* const kMetricsHeader;
extern const char* const kMetricsFileName;
// One row without its line end: 35 fields, or 27 without the UDC fields.
void writeNetworkMetricsRow(std::ostream& out);

// Counts per rank 0 .. size-1; every statistic is 0 when the total is 0.
RankStatistics rankStatistics(const std::vector<int64_t>& countPerRank);

// Area under the cumulative weights of g(k) = maxCurve(k) - minCurve(k).
double greedyCurveScore(const std::vector<double>& minCurve, const std::vector<double>& maxCurve);

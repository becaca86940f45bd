// Beta variates by Cheng's rejection algorithms BB and BC (1978), the scaled-beta fit and
// the accuracy test of mode 1.
#include "experiments/beta_distribution.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <sstream>

#include "base/fatal.h"
#include "base/interrupt.h"
#include "base/random15.h"

BetaSamples betaSamples;

namespace {

// Every rejection loop ends: both algorithms accept most trials for the shapes the fit
// produces, so a million rejections in a row mean arithmetic gone wrong.
constexpr int kMaxTrials = 1000000;

[[noreturn]] void stopRejecting(double a, double b) {
  std::ostringstream message;
  message << "Cheng's beta generator rejected " << kMaxTrials << " trials in a row for the shapes " << a << " and " << b
          << "; the beta test cannot sample them.";
  stopFatalWithoutPrompt(message.str());
}

// r / 32768, so a uniform never reaches 1 and u / (1 - u) stays finite.
double uniform15() {
  const int r = projectRand();
  return r * 3.0517578125e-5;
}

double chengBB(double a, double lo, double hi) {
  const double alpha = lo + hi;
  const double beta = std::sqrt((alpha - 2) / (2 * lo * hi - alpha));
  const double gamma = lo + 1 / beta;
  double w = 0;
  for (int trial = 0;; ++trial) {
    if (trial == kMaxTrials) stopRejecting(a, a == lo ? hi : lo);
    const double u1 = uniform15();
    const double u2 = uniform15();
    const double v = beta * std::log(u1 / (1 - u1));
    w = v <= 89 ? lo * std::exp(v) : std::exp(90.0);
    const double z = u1 * u1 * u2;
    const double r = gamma * v - 1.3862944;
    const double s = lo + r - w;
    if (s + 2.609438 >= 5 * z) break;
    const double t = std::log(z);
    if (s > t) break;
    if (r + alpha * std::log(alpha / (hi + w)) >= t) break;
  }
  return a == lo ? w / (hi + w) : hi / (hi + w);
}

double chengBC(double a, double lo, double hi) {
  const double alpha = lo + hi;
  const double beta = 1 / lo;
  const double delta = 1 + hi - lo;
  const double k1 = delta * (0.013888888888888888 + 0.041666666666666664 * lo) / (hi * beta - 0.7777777777777778);
  const double k2 = 0.25 + (0.5 + 0.25 / delta) * lo;
  double w = 0;
  for (int trial = 0;; ++trial) {
    if (trial == kMaxTrials) stopRejecting(a, a == lo ? hi : lo);
    const double u1 = uniform15();
    const double u2 = uniform15();
    double z = 0;
    if (u1 < 0.5) {
      const double y = u1 * u2;
      z = u1 * y;
      if (0.25 * u2 + z - y >= k1) continue;
    } else {
      z = u1 * u1 * u2;
      if (z <= 0.25) {
        const double v = beta * std::log(u1 / (1 - u1));
        w = v <= 89 ? hi * std::exp(v) : std::exp(90.0);
        break;
      }
      if (z >= k2) continue;
    }
    const double v = beta * std::log(u1 / (1 - u1));
    w = v <= 89 ? hi * std::exp(v) : std::exp(90.0);
    if (alpha * (std::log(alpha / (lo + w)) + v) - 1.3862944 < std::log(z)) continue;
    break;
  }
  return a == hi ? w / (lo + w) : lo / (lo + w);
}

}  // namespace

double betaVariate(double a, double b) {
  const double lo = std::min(a, b);
  const double hi = std::max(a, b);
  return lo > 1 ? chengBB(a, lo, hi) : chengBC(a, lo, hi);
}

ScaledBeta fitScaledBeta(double mean, double scv) {
  const double c = scv;
  if (!(c >= kMinBetaScv && c <= kMaxBetaScv)) {
    std::ostringstream message;
    message << "Beta-distribution fit needs an SCV within " << kMinBetaScv << " and " << kMaxBetaScv << "; it got " << c
            << ".";
    stopFatal(message.str());
  }
  double length = c + 1;
  double p = 0;
  double q = 0;
  do {
    length = length + 1;
    p = 1 / length;
    q = (1 - p - c * p) / c;
  } while (q < 0.9 / c);
  ScaledBeta fit;
  fit.alpha = q;
  fit.beta = (p - 1 + c * p) * (p - 1) / (c * p);
  fit.scale = length * mean;
  return fit;
}

void runBetaAccuracyTest(const BetaTestInput& input) {
  releaseBetaSamples();
  const int32_t n = input.sampleCount;
  if (n < 1) return;
  std::cout << "BETA DISTRIBUTION ACCURACY TEST" << '\n';
  for (double c : input.scvLevels) {
    std::vector<std::vector<double>>& level = betaSamples.byLevel.emplace_back();
    for (size_t i = 0; i < input.meanDurations.size(); ++i) {
      checkInterrupt();
      const double d = input.meanDurations[i];
      const ScaledBeta fit = fitScaledBeta(d, c);
      const double shapeSum = fit.alpha + fit.beta;
      if (std::fabs(fit.scale * fit.alpha / shapeSum - d) > 1e-6)
        stopFatalWithoutPrompt("Beta-distribution mean fail...");
      const double mu = fit.alpha / shapeSum;
      if (std::fabs(fit.alpha * fit.beta / (shapeSum * shapeSum * (shapeSum + 1)) / (mu * mu) - c) > 1e-6)
        stopFatalWithoutPrompt("Beta-distribution SCV fail...");
      double sum = 0;
      double squares = 0;
      std::vector<double>& samples = level.emplace_back();
      samples.reserve(static_cast<size_t>(n));
      for (int32_t k = 0; k < n; ++k) {
        const double x = fit.scale * betaVariate(fit.alpha, fit.beta);
        samples.push_back(x);
        sum += x;
        squares += (d - x) * (d - x);
      }
      const double m = sum / n;
      // A zero mean has no SCV; 0 is reported rather than a division by zero.
      const double v = m != 0.0 ? (squares / n) / (m * m) : 0.0;
      std::cout << "ACT: " << i + 1 << " DUR: " << d << " BETA: " << m << " SCV: " << c << " BETA: " << v
                << " ITERATIONS: " << n << '\n';
    }
  }
}

void releaseBetaSamples() { betaSamples = BetaSamples{}; }

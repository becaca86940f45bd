// Phase-type fitting: hypo-exponential, serial exponential, hyper-exponential and
// exponential chains matched to a mean and an SCV, each fit checked against both.
#include "duration/phase_type.h"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>

#include "base/fatal.h"

namespace {

std::string modeName(int activity, int mode) {
  std::ostringstream text;
  text << "activity " << activity << " (execution mode " << mode << ")";
  return text.str();
}

// Written as "not within the tolerance" so that a NaN or infinite difference fails too.
void checkDifference(const char* label, double difference, int activity, int mode) {
  if (std::fabs(difference) <= precisionTolerance) return;
  std::ostringstream message;
  message << label << difference << ") = larger than allowed precision (" << precisionTolerance << ") for activity "
          << activity << " and execution mode " << mode << ".";
  stopFatal(message.str());
}

// Inputs that would give non-finite or negative rates are refused before any arithmetic.
void rejectUnfittableMode(double d, double c, double hyper, int activity, int mode) {
  if (!std::isfinite(d) || d < 0.0) {
    std::ostringstream message;
    message << "The duration of " << modeName(activity, mode) << " is " << d
            << ". A duration must be finite and not negative.";
    stopFatal(message.str());
  }
  if (d == 0.0) return;
  if (!std::isfinite(c) || !(c > 0.0)) {
    std::ostringstream message;
    message << "The duration SCV of " << modeName(activity, mode) << " is " << c
            << ". A non-zero duration needs a finite SCV above 0.";
    stopFatal(message.str());
  }
  if (c < kMinScv) {
    std::ostringstream message;
    message << "The duration SCV of " << modeName(activity, mode) << " is " << c << ". An SCV below " << kMinScv
            << " needs more than " << 1.0 / kMinScv << " phases, whose generator takes more than 8 MB per mode.";
    stopFatal(message.str());
  }
  if (c > 1.0 && !(hyper < 1.0)) {
    std::ostringstream message;
    message << "The duration of " << modeName(activity, mode) << " has SCV " << c << ", but gv_CFG_hyper is " << hyper
            << ". Use 0 for the hyper-exponential model or a number in ]0,1[ for the serial "
               "exponential model.";
    stopFatal(message.str());
  }
}

// Extreme but valid inputs (a duration near the smallest double, say) can still overflow.
void rejectNonFiniteModel(const PhaseTypeModel& model, double d, double c, int activity, int mode) {
  bool finite = true;
  for (int p = 0; p < model.phaseCount; ++p) {
    finite = finite && std::isfinite(model.initialProbability[p]) && std::isfinite(model.absorptionRate[p]);
    for (double rate : model.generator[p]) finite = finite && std::isfinite(rate);
  }
  if (finite) return;
  std::ostringstream message;
  message << "The phase-type model of the duration of " << modeName(activity, mode) << " (duration " << d << ", SCV "
          << c << ") has rates that are not finite.";
  stopFatal(message.str());
}

PhaseTypeModel emptyModel(int phaseCount) {
  PhaseTypeModel model;
  model.phaseCount = phaseCount;
  model.initialProbability.assign(phaseCount, 0.0);
  model.generator.assign(phaseCount, std::vector<double>(phaseCount, 0.0));
  model.absorptionRate.assign(phaseCount, 0.0);
  return model;
}

PhaseTypeModel singlePhase(double rate) {
  PhaseTypeModel model = emptyModel(1);
  model.initialProbability[0] = 1.0;
  model.generator[0][0] = -rate;
  model.absorptionRate[0] = rate;
  return model;
}

// The phases of the fit of an SCV below 1.
int hypoExponentialPhaseCount(double c) {
  const double inverse = 1.0 / c;
  return static_cast<int>(std::trunc(std::floor(inverse) - std::floor(std::floor(inverse) * c))) + 1;
}

PhaseTypeModel fitHypoExponential(double d, double c, int activity, int mode) {
  const int z = hypoExponentialPhaseCount(c);
  const int n = z - 1;
  const double dn = n;
  // Rounding makes the radicand slightly negative for Erlang SCVs such as 1/3; it is 0.
  const double radicand = (c * dn - dn + c * (dn * dn)) * (d * d);
  const double s = std::sqrt(std::max(radicand, 0.0));
  const double mu = dn * (dn + 1.0) / (dn * d + s);
  const double lambda = (dn + 1.0) / (d - s);

  PhaseTypeModel model = emptyModel(z);
  model.initialProbability[0] = 1.0;
  for (int p = 0; p < n; ++p) {
    model.generator[p][p] = -mu;
    model.generator[p][p + 1] = mu;
  }
  model.generator[n][n] = -lambda;
  model.absorptionRate[n] = lambda;

  checkDifference("Hypo-exponential mean FAIL (", 1.0 / lambda + dn / mu - d, activity, mode);
  checkDifference("Hypo-exponential variance FAIL (", (dn / (mu * mu) + 1.0 / (lambda * lambda)) / (d * d) - c,
                  activity, mode);
  return model;
}

PhaseTypeModel fitSerialExponential(double d, double c, double h, int activity, int mode) {
  const double lambda0 = 1.0 / (h * d);
  const double p = 2.0 * (1.0 - h) * (1.0 - h) / (c + 1.0 - 2.0 * h);
  const double lambda1 = 2.0 * (1.0 - h) / (d * (c + 1.0 - 2.0 * h));

  PhaseTypeModel model = emptyModel(2);
  model.initialProbability[0] = 1.0;
  model.generator[0][0] = -lambda0;
  model.generator[0][1] = p * lambda0;
  model.absorptionRate[0] = (1.0 - p) * lambda0;
  model.generator[1][1] = -lambda1;
  model.absorptionRate[1] = lambda1;

  const double mean = 1.0 / lambda0 + p / lambda1;
  checkDifference("Serial exponential mean FAIL (", mean - d, activity, mode);
  const double secondMoment = 1.0 / (lambda0 * lambda0) + 2.0 * p / (lambda1 * lambda1) - p * p / (lambda1 * lambda1);
  checkDifference("Serial exponential variance FAIL (", secondMoment / (mean * mean) - c, activity, mode);
  return model;
}

PhaseTypeModel fitHyperExponential(double d, double c, int activity, int mode) {
  const double alpha0 = 2.0 / (c * c * c - c * c + 2.0);
  const double alpha1 = 1.0 - alpha0;
  const double lambda0 = 2.0 / (d * (c * c - c + 2.0));
  const double lambda1 = 1.0 / (d - d / c);

  PhaseTypeModel model = emptyModel(2);
  model.initialProbability[0] = alpha0;
  model.initialProbability[1] = alpha1;
  model.generator[0][0] = -lambda0;
  model.generator[1][1] = -lambda1;
  model.absorptionRate[0] = lambda0;
  model.absorptionRate[1] = lambda1;

  checkDifference("Hyperexponential mean FAIL (", alpha1 / lambda1 + alpha0 / lambda0 - d, activity, mode);
  checkDifference("Hyperexponential variance FAIL (",
                  (2.0 * alpha1 / (lambda1 * lambda1) + 2.0 * alpha0 / (lambda0 * lambda0) - d * d) / (d * d) - c,
                  activity, mode);
  return model;
}

}  // namespace

double phaseTypeModelBytes(double d, double c) {
  // A value the fit refuses is refused there, with its reason: it takes nothing here.
  const double phases = d > 0.0 && c >= kMinScv && c < 1.0 ? hypoExponentialPhaseCount(c) : 2.0;
  return phases * phases * sizeof(double) + phases * (sizeof(std::vector<double>) + 2 * sizeof(double));
}

PhaseTypeModel fitPhaseType(double d, double c, double hyper, int activity, int mode) {
  rejectUnfittableMode(d, c, hyper, activity, mode);
  PhaseTypeModel model;
  if (d == 0.0)
    model = singlePhase(1.0);
  else if (c < 1.0)
    model = fitHypoExponential(d, c, activity, mode);
  else if (c > 1.0)
    model = hyper > 0.0 ? fitSerialExponential(d, c, hyper, activity, mode) : fitHyperExponential(d, c, activity, mode);
  else
    model = singlePhase(1.0 / d);
  rejectNonFiniteModel(model, d, c, activity, mode);
  return model;
}

// Formatted reading of the experiment input files, and the bounded draws that modes 2 and 3
// share.
#include "experiments/experiment_input.h"

#include <limits>
#include <sstream>

#include "base/fatal.h"
#include "base/random15.h"

namespace {

[[noreturn]] void stopEarlyEnd(const ExperimentInput& input, const char* field) {
  stopFatal(input.fileName + " ends early or holds a value that cannot be read (" + field + ").");
}

}  // namespace

void openExperimentInput(ExperimentInput& input, const std::string& fileName) {
  input.fileName = fileName;
  input.stream.open(fileName);
  if (!input.stream) stopFatal("Unable to open file.");
}

int32_t readInputInt(ExperimentInput& input, const char* field) {
  int32_t value = 0;
  if (!(input.stream >> value)) stopEarlyEnd(input, field);
  return value;
}

double readInputDouble(ExperimentInput& input, const char* field) {
  double value = 0;
  if (!(input.stream >> value)) stopEarlyEnd(input, field);
  return value;
}

std::vector<double> readInputList(ExperimentInput& input, const char* field) {
  const int32_t count = readInputInt(input, field);
  std::vector<double> values;
  // Grown while reading, so a huge count in a short file meets the end, not an allocation.
  for (int32_t i = 0; i < count; ++i) values.push_back(readInputDouble(input, field));
  return values;
}

void checkInputRange(const ExperimentInput& input, const char* field, double value, double low, double high) {
  if (value >= low && value <= high) return;
  const double largest = std::numeric_limits<double>::max();
  std::ostringstream message;
  message << input.fileName << ": the " << field << " is " << value << "; it must ";
  if (low == -largest && high == largest)
    message << "be a finite number.";
  else if (high == largest)
    message << "be finite and at least " << low << ".";
  else
    message << "lie within " << low << " and " << high << ".";
  stopFatal(message.str());
}

double drawBetween(double low, double high) {
  const int r = projectRand();
  return low + (high - low) * (r / static_cast<double>(kRandomMax));
}

double drawUnit() {
  const int r = projectRand();
  return r / static_cast<double>(kRandomMax);
}

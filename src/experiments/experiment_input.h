// Formatted reading of the experiment input files (TEST_TOP.DAT, TEST2.DAT, TEST3.DAT): a
// value that is missing or unreadable stops the run instead of leaving a silent default.
#pragma once
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

struct ExperimentInput {
  std::string fileName;
  std::ifstream stream;
};

// Opens fileName; stops with "Unable to open file." when it cannot.
void openExperimentInput(ExperimentInput& input, const std::string& fileName);

int32_t readInputInt(ExperimentInput& input, const char* field);
double readInputDouble(ExperimentInput& input, const char* field);

// A count followed by that many doubles; a negative count reads nothing.
std::vector<double> readInputList(ExperimentInput& input, const char* field);

// Stops the run naming the file and the field when value is not within low and high (or
// not a number).
void checkInputRange(const ExperimentInput& input, const char* field, double value, double low, double high);

// A draw between two bounds, both reachable: low + (high - low) * r / 32767.
double drawBetween(double low, double high);
// A plain draw in [0, 1].
double drawUnit();

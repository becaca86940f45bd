// A seeded mutation fuzzer over the inputs of every mode: project files, CONFIG.DAT and the
// three experiment inputs get a few of their values replaced by hostile ones, deleted,
// doubled, or lines cut. Every run must end by itself with status 0 or 1, write no number
// that is infinite or not a number, and leave its input files as they were. The seed and
// the mutations are fixed here, so a failure names the case that reproduces it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"

namespace {

constexpr uint64_t kFuzzSeed = 20261208;
constexpr int kCasesPerScenario = 60;

// SplitMix64: small, self-contained and the same everywhere (not the program's own source).
struct FuzzRandom {
  uint64_t state;
  uint64_t next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  size_t below(size_t n) { return static_cast<size_t>(next() % n); }
};

// Values a hostile user would try: out of every range, not numbers, at the edges of the
// types. None asks for legitimately huge work (no SCV just above 0.001, no count of millions).
const char* const kHostileValues[] = {
    "0",    "-1",    "1",    "2",     "3",      "-2",     "0.5",        "-0.5",        "0.25", "3.5",
    "1e16", "-1e16", "1e39", "1e308", "-1e308", "1e-320", "1e-300",     "1e-6",        "1e8",  "1e9",
    "1e12", "1e20",  "nan",  "inf",   "-inf",   "x",      "2147483648", "-2147483649",
};

using Lines = std::vector<std::vector<std::string>>;

Lines tokenize(const std::string& text) {
  Lines lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::vector<std::string> tokens;
    for (std::string word; words >> word;) tokens.push_back(word);
    lines.push_back(tokens);
  }
  return lines;
}

std::string joinLines(const Lines& lines) {
  std::string text;
  for (const std::vector<std::string>& tokens : lines) {
    for (size_t i = 0; i < tokens.size(); ++i) text += (i ? " " : "") + tokens[i];
    text += '\n';
  }
  return text;
}

// One to three mutations of a file; in CONFIG.DAT values are only on the value lines (the
// labels are never read), but lines may be cut anywhere.
std::string mutate(const std::string& text, bool isConfig, FuzzRandom& random, std::string& told) {
  Lines lines = tokenize(text);
  const int count = 1 + static_cast<int>(random.below(3));
  for (int k = 0; k < count && !lines.empty(); ++k) {
    std::vector<std::pair<size_t, size_t>> places;
    for (size_t l = 0; l < lines.size(); ++l) {
      if (isConfig && (l < 10 || l % 2 == 1)) continue;
      for (size_t t = 0; t < lines[l].size(); ++t) places.emplace_back(l, t);
    }
    const size_t kind = random.below(10);
    std::ostringstream step;
    if (kind < 6 && !places.empty()) {
      const auto [l, t] = places[random.below(places.size())];
      const char* value = kHostileValues[random.below(std::size(kHostileValues))];
      step << "line " << l + 1 << " token " << t + 1 << " '" << lines[l][t] << "' -> '" << value << "'";
      lines[l][t] = value;
    } else if (kind < 7 && !places.empty()) {
      const auto [l, t] = places[random.below(places.size())];
      step << "line " << l + 1 << " token " << t + 1 << " '" << lines[l][t] << "' deleted";
      lines[l].erase(lines[l].begin() + static_cast<std::ptrdiff_t>(t));
    } else if (kind < 8 && !places.empty()) {
      const auto [l, t] = places[random.below(places.size())];
      step << "line " << l + 1 << " token " << t + 1 << " '" << lines[l][t] << "' doubled";
      lines[l].insert(lines[l].begin() + static_cast<std::ptrdiff_t>(t), lines[l][t]);
    } else if (kind < 9) {
      const size_t l = random.below(lines.size());
      step << "line " << l + 1 << " deleted";
      lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(l));
    } else {
      const size_t keep = random.below(lines.size());
      step << "cut after line " << keep;
      lines.resize(keep);
    }
    told += (told.empty() ? "" : "; ") + step.str();
  }
  return joinLines(lines);
}

// Whitespace and the separators of the console and the results files split the tokens; a
// token that reads whole as a number must be finite. A quoted copy of bad input ("nan")
// is not a number written by the program.
std::string firstNonFiniteNumber(const std::string& text, const std::string& source) {
  std::string token;
  std::istringstream in(text);
  std::string line;
  for (int lineNumber = 1; std::getline(in, line); ++lineNumber) {
    // The two text values of a configuration block are names, not numbers.
    if ((source == "RESULTS.CSV" || source == "RES_T2.CSV") && (lineNumber == 11 || lineNumber == 13)) continue;
    line += ' ';
    for (char c : line) {
      if (std::isspace(static_cast<unsigned char>(c)) || c == ';' || c == ':' || c == '[' || c == ']' || c == '(' ||
          c == ')' || c == ',') {
        if (!token.empty()) {
          char* end = nullptr;
          const double value = std::strtod(token.c_str(), &end);
          if (end != token.c_str() && *end == '\0' && !std::isfinite(value))
            return source + " line " + std::to_string(lineNumber) + ": " + token;
          token.clear();
        }
      } else {
        token += c;
      }
    }
  }
  return "";
}

struct Scenario {
  const char* name;
  const char* modeAnswer;
  std::vector<std::pair<std::string, std::string>> files;  // name, text
  std::vector<std::string> mutable_;                       // files the cases mutate
};

// The inputs of a shipped example: what a run in the example's directory wrote there (the
// README's first command does) is left out.
std::vector<std::pair<std::string, std::string>> exampleFiles(const std::string& example) {
  std::vector<std::pair<std::string, std::string>> files;
  for (const auto& entry : e2e::fs::directory_iterator(e2e::fs::path(TERVANO_SOURCE_DIR) / "examples" / example)) {
    const std::string extension = entry.path().extension().string();
    if (!entry.is_regular_file() || extension == ".CSV" || extension == ".BPN" || extension == ".MPN" ||
        extension == ".EPN" || extension == ".UDC" || extension == ".T3B" || extension == ".POL")
      continue;
    files.emplace_back(entry.path().filename().string(), e2e::readWholeFile(entry.path()));
  }
  return files;
}

// Every optional field of the project file, both objectives, abandonment, decisions during
// activities and disk storage.
Scenario richScenario() {
  Scenario scenario{"every field", "0", {}, {"CONFIG.DAT", "P1.RCP"}};
  scenario.files.emplace_back("CONFIG.DAT", e2e::configText({{"gv_CFG_OBJ2", "1"},
                                                             {"gv_CFG_IO", "1"},
                                                             {"gv_CFG_abandon", "1"},
                                                             {"gv_CFG_irq", "1"},
                                                             {"gv_CFG_cost_data", "1"},
                                                             {"gv_CFG_mod_data", "1"},
                                                             {"gv_CFG_mode_data", "1"},
                                                             {"gv_CFG_pts_data", "1"},
                                                             {"gv_CFG_pms_data", "1"},
                                                             {"gv_CFG_SCV_data", "1"},
                                                             {"gv_CFG_skew_data", "1"},
                                                             {"gv_CFG_rate_data", "1"},
                                                             {"gv_CFG_write", "4"}}));
  scenario.files.emplace_back("P1.RCP",
                              "5\n0.02\n1 4\n"
                              "1  0 1 0 0 1 0 0  2 2 3  0\n"
                              "2  3 0.5 0 -10 0.9 0 2  4 2 -15 1 0 3  1 4  1\n"
                              "1  2 2 0.5 -5 1 0.5 1  1 4  2\n"
                              "1  1 1 0 -3 1 0 1  1 5  3\n"
                              "1  0 1 0 100 1 0 0  0  4\n");
  return scenario;
}

std::vector<Scenario> scenarios() {
  std::vector<Scenario> all;
  all.push_back({"normal run", "0", exampleFiles("basic"), {"CONFIG.DAT", "PROJECT_1.RCP", "PROJECT_2.RCP"}});
  all.push_back(richScenario());
  // Mode 1 on the example's sizes with fewer runs and combinations, so that the topology test
  // that follows the beta test stays quick under the sanitizers.
  Scenario topologies{"mode 1", "1", exampleFiles("mode1"), {"TEST_TOP.DAT", "TEST_TOP.DAT", "CONFIG.DAT"}};
  for (auto& [name, text] : topologies.files)
    if (name == "TEST_TOP.DAT")
      text = "3\n1 1\n50\n4711\n2 3 4\n10 4 7\n-5 -10 -3\n100\n0 1 2\n1 1.5\n1 0.01\n1 0.9\n2 0.25 2\n";
  all.push_back(topologies);
  all.push_back({"mode 2", "2", exampleFiles("mode2"), {"TEST2.DAT", "TEST2.DAT", "P1.RCP", "CONFIG.DAT"}});
  all.push_back({"mode 3", "3", exampleFiles("mode3"), {"TEST3.DAT", "TEST3.DAT", "P1.RCP", "CONFIG.DAT"}});
  return all;
}

void fuzzScenario(size_t index) {
  const Scenario scenario = scenarios()[index];
  FuzzRandom random{kFuzzSeed + index};
  for (int c = 0; c < kCasesPerScenario; ++c) {
    const std::string target = scenario.mutable_[random.below(scenario.mutable_.size())];
    e2e::WorkDirectory dir;
    std::vector<std::pair<std::string, std::string>> inputs;
    std::string told;
    for (const auto& [name, text] : scenario.files) {
      const std::string written = name == target ? mutate(text, name == "CONFIG.DAT", random, told) : text;
      dir.write(name, written);
      inputs.emplace_back(name, written);
    }
    const e2e::RunOutput output = dir.run(std::string(scenario.modeAnswer) + "\n\n", 60);
    const std::string where = std::string("scenario '") + scenario.name + "', case " + std::to_string(c) + " (seed " +
                              std::to_string(kFuzzSeed + index) + "), " + target + ": " + told + "\nconsole tail: " +
                              output.console.substr(output.console.size() > 400 ? output.console.size() - 400 : 0);
    ASSERT_FALSE(output.timedOut) << where;
    ASSERT_TRUE(output.exitCode == 0 || output.exitCode == 1)
        << "exit " << output.exitCode << ", " << where << "\nstderr: " << output.errors;
    EXPECT_EQ(firstNonFiniteNumber(output.console, "console"), "") << where;
    for (const char* results : {"RESULTS.CSV", "METRICS.CSV", "RES_T2.CSV", "TOPTEST_NPV.CSV", "TOPTEST_MKSPN.CSV"}) {
      if (dir.exists(results)) {
        EXPECT_EQ(firstNonFiniteNumber(dir.read(results), results), "") << where;
      }
    }
    for (const auto& [name, text] : inputs) EXPECT_EQ(dir.read(name), text) << name << " changed, " << where;
  }
}

TEST(FuzzE2e, NormalRunInputs) { fuzzScenario(0); }
TEST(FuzzE2e, EveryFieldDiskStorageInputs) { fuzzScenario(1); }
TEST(FuzzE2e, BetaTestInputs) { fuzzScenario(2); }
TEST(FuzzE2e, VarianceTestInputs) { fuzzScenario(3); }
TEST(FuzzE2e, MetricsTestInputs) { fuzzScenario(4); }

}  // namespace

// CONFIG.DAT: the table of its keys, the reader that fills runConfig once per run, the
// configuration block that the drivers copy, in the same layout, to the head of their results
// files, and the template the tools ask for. Everything here is made from kConfigKeys.
#include "base/config.h"

#include <filesystem>
#include <initializer_list>
#include <fstream>
#include <limits>
#include <sstream>

#include "base/fatal.h"
#include "base/version.h"

RunConfig runConfig;

namespace {
const RunConfig* installedSettings = nullptr;
}  // namespace

const RunConfig& settingsInForce() { return installedSettings != nullptr ? *installedSettings : runConfig; }

SettingsScope::SettingsScope(const RunConfig& settings) : previous_(installedSettings) {
  installedSettings = &settings;
}

SettingsScope::~SettingsScope() { installedSettings = previous_; }

// The banner and the key table are laid out as the file they make.
// clang-format off
const char* const kConfigBanner[kConfigBannerLineCount] = {
    "||||                 TERVANO: CONFIGURATION FILE||||",
    "||||                                            ||||",
    "||||EXAMPLE INPUT FILES:                        ||||",
    "||||\\EXAMPLE_DIRECTORY\\EXAMPLEPROJECT_1.RCP     ||||",
    "||||\\EXAMPLE_DIRECTORY\\EXAMPLEPROJECT_2.RCP     ||||",
    "||||...                                         ||||",
    "||||\\EXAMPLE_DIRECTORY\\EXAMPLEPROJECT_9.RCP     ||||",
    "||||                                            ||||",
    "||||||||||||||||||||||||||||||||||||||||||||||||||||",
};

// The label of gv_CFG_mxn_ranks holds the Latin-1 bytes 0xB2 and 0xB3 (superscript two and
// three): CONFIG.DAT and the results files are Latin-1 text.
const ConfigKey kConfigKeys[kConfigKeyCount] = {
    {.name = "PJFileName", .type = ConfigValueType::kText, .exampleValue = "PROJECT_",
     .label = "PROJECT FILE NAME (E.G. 'EXAMPLE_DIRECTORY\\EXAMPLEPROJECT_') [PJFileName].",
     .text = &RunConfig::PJFileName},
    {.name = "PJFileExt", .type = ConfigValueType::kText, .exampleValue = ".RCP",
     .label = "PROJECT FILE NAME EXTENSION (E.G. '.RCP') [PJFileExt].",
     .text = &RunConfig::PJFileExt},
    {.name = "gv_CFG_fnr", .type = ConfigValueType::kWhole, .exampleValue = "1",
     .label = "FIRST PROJECT FILE NUMBER (E.G. '1') [gv_CFG_fnr].",
     .whole = &RunConfig::gv_CFG_fnr},
    {.name = "gv_CFG_lnr", .type = ConfigValueType::kWhole, .exampleValue = "3",
     .label = "LAST PROJECT FILE NUMBER (E.G. '9') [gv_CFG_lnr].",
     .whole = &RunConfig::gv_CFG_lnr},
    {.name = "gv_bits", .type = ConfigValueType::kWhole, .exampleValue = "40",
     .label = "MAXIMUM NUMBER OF ACTIVITIES EXECUTED IN PARALLEL (16 = unsigned short int | 19 = unsigned int | 32 = unsigned __int64) [gv_bits].",
     .whole = &RunConfig::gv_bits},
    {.name = "gv_CFG_mxn_UDC", .type = ConfigValueType::kWhole, .exampleValue = "100000000",
     .label = "MAXIMUM NUMBER OF UDCs [gv_CFG_mxn_UDC].",
     .whole = &RunConfig::gv_CFG_mxn_UDC},
    {.name = "gv_CFG_mxn_UDC_links", .type = ConfigValueType::kWhole, .exampleValue = "10",
     .label = "INITIAL MAXIMUM NUMBER OF UDC LINKS [gv_CFG_mxn_UDC_links].",
     .whole = &RunConfig::gv_CFG_mxn_UDC_links},
    {.name = "gv_CFG_mxn_UDC_prr", .type = ConfigValueType::kWhole, .exampleValue = "-1",
     .label = "INITIAL MAXIMUM NUMBER OF UDCs PER RANK (-1 = AUTOMATIC | >0 = USER-DEFINED) [gv_CFG_mxn_UDC_prr].",
     .whole = &RunConfig::gv_CFG_mxn_UDC_prr},
    {.name = "gv_CFG_mxn_ranks", .type = ConfigValueType::kWhole, .exampleValue = "3",
     .label = "MAXIMUM NUMBER OF RANKS (1 = NUMBER OF ACTIVITIES | 2 = (NUMBER OF ACTIVITIES)\xB2"
         " | 3 = (NUMBER OF ACTIVITIES)\xB3"
         ") [gv_CFG_mxn_ranks].",
     .whole = &RunConfig::gv_CFG_mxn_ranks},
    {.name = "gv_CFG_max_mem", .type = ConfigValueType::kReal, .exampleValue = "16000",
     .label = "MAXIMUM AVAILABLE WORKING MEMORY (-1 = USE HARD DISK | 0 = NO LIMIT | >0 = NUMBER OF MB AVAILABLE WORKING MEMORY) [gv_CFG_max_mem].",
     .real = &RunConfig::gv_CFG_max_mem},
    {.name = "gv_CFG_OBJ", .type = ConfigValueType::kWhole, .exampleValue = "0",
     .label = "OBJECTIVE FUNCTION (0 = NPV | 1 = MAKESPAN | 2 = NPV VARIANCE | 3 = MAKESPAN VARIANCE) [gv_CFG_OBJ].",
     .whole = &RunConfig::gv_CFG_OBJ},
    {.name = "gv_CFG_OBJ2", .type = ConfigValueType::kWhole, .exampleValue = "-1",
     .label = "SECOND OBJECTIVE FUNCTION (-1 = NO SECOND OBJECTIVE |0 = NPV | 1 = MAKESPAN | 2 = NPV VARIANCE | 3 = MAKESPAN VARIANCE) [gv_CFG_OBJ2].",
     .whole = &RunConfig::gv_CFG_OBJ2},
    {.name = "gv_CFG_OBJ3", .type = ConfigValueType::kWhole, .exampleValue = "-1",
     .label = "THIRD OBJECTIVE FUNCTION (-1 = NO THIRD OBJECTIVE |0 = NPV | 1 = MAKESPAN | 2 = NPV VARIANCE | 3 = MAKESPAN VARIANCE) [gv_CFG_OBJ3].",
     .whole = &RunConfig::gv_CFG_OBJ3},
    {.name = "gv_CFG_OBJ4", .type = ConfigValueType::kWhole, .exampleValue = "-1",
     .label = "FOURTH OBJECTIVE FUNCTION (-1 = NO FOURTH OBJECTIVE |0 = NPV | 1 = MAKESPAN | 2 = NPV VARIANCE | 3 = MAKESPAN VARIANCE) [gv_CFG_OBJ4].",
     .whole = &RunConfig::gv_CFG_OBJ4},
    {.name = "gv_CFG_write", .type = ConfigValueType::kWhole, .exampleValue = "0",
     .label = "WHAT OUTPUT FILES HAVE TO BE WRITTEN (0 = RESULTS | 1 = RESULTS & EPN | 2 = RESULTS, EPN & MPN | 3 = RESULTS, EPN, MPN & BPN | 4 = RESULTS, EPN, MPN, BPN & UDC) [gv_CFG_write].",
     .whole = &RunConfig::gv_CFG_write},
    {.name = "gv_CFG_IO", .type = ConfigValueType::kWhole, .exampleValue = "0",
     .label = "USE HARD DRIVE TO STORE PROCESSING DATA (-1 = AUTOMATIC | 0 = DO NOT USE HARD DRIVE, ONLY USE WORKING MEMORY | 1 = USE HARD DRIVE) [gv_CFG_IO].",
     .whole = &RunConfig::gv_CFG_IO},
    {.name = "gv_CFG_abandon", .type = ConfigValueType::kYesNo, .exampleValue = "0",
     .label = "ALLOW PROJECT TO BE ABANDONED (0 = NO | 1 = YES) [gv_CFG_abandon].",
     .yesNo = &RunConfig::gv_CFG_abandon},
    {.name = "gv_CFG_irq", .type = ConfigValueType::kYesNo, .exampleValue = "0",
     .label = "ALLOW DECISIONS TO BE MADE DURING ACTIVITY EXECUTION (0 = NO | 1 = YES) [gv_CFG_irq].",
     .yesNo = &RunConfig::gv_CFG_irq},
    {.name = "gv_CFG_cost_data", .type = ConfigValueType::kYesNo, .exampleValue = "1",
     .label = "PROJECT FILES CONTAIN COST DATA (0 = NO | 1 = YES) [gv_CFG_cost_data].",
     .yesNo = &RunConfig::gv_CFG_cost_data},
    {.name = "gv_CFG_mod_data", .type = ConfigValueType::kYesNo, .exampleValue = "0",
     .label = "PROJECT FILES CONTAIN MODULE DATA (0 = NO | 1 = YES) [gv_CFG_mod_data].",
     .yesNo = &RunConfig::gv_CFG_mod_data},
    {.name = "gv_CFG_mode_data", .type = ConfigValueType::kYesNo, .exampleValue = "0",
     .label = "PROJECT FILES CONTAIN MULTIMODE DATA (0 = NO | 1 = YES) [gv_CFG_mode_data].",
     .yesNo = &RunConfig::gv_CFG_mode_data},
    {.name = "gv_CFG_pts_data", .type = ConfigValueType::kYesNo, .exampleValue = "0",
     .label = "PROJECT FILES CONTAIN DATA ON THE PROBABILITY OF TECHNICAL SUCCESS OF ACTIVITIES (0 = NO | 1 = YES) [gv_CFG_pts_data].",
     .yesNo = &RunConfig::gv_CFG_pts_data},
    {.name = "gv_CFG_pms_data", .type = ConfigValueType::kYesNo, .exampleValue = "0",
     .label = "PROJECT FILES CONTAIN DATA ON THE PROBABILITY OF MODULAR SUCCESS OF ACTIVITIES (0 = NO | 1 = YES) [gv_CFG_pms_data].",
     .yesNo = &RunConfig::gv_CFG_pms_data},
    {.name = "gv_CFG_rx_data", .type = ConfigValueType::kYesNo, .exampleValue = "1",
     .label = "PROJECT FILES CONTAIN RESOURCE DATA (0 = NO | 1 = YES) [gv_CFG_rx_data].",
     .yesNo = &RunConfig::gv_CFG_rx_data},
    {.name = "gv_CFG_SCV_data", .type = ConfigValueType::kWhole, .exampleValue = "0",
     .label = "PROJECT FILES CONTAIN DATA ON THE SCV OF THE ACTIVITY DURATION (-1 = YES BUT OVERRIDE | 0 = NO | 1 = YES) [gv_CFG_SCV_data].",
     .whole = &RunConfig::gv_CFG_SCV_data},
    {.name = "gv_CFG_SCV", .type = ConfigValueType::kReal, .exampleValue = "1",
     .label = "WHAT SCV SHOULD BE USED FOR ALL ACTIVITY DURATIONS IF THE PROJECT FILES DO NOT CONTAIN DATA ON ACTIVITY DURATION SCV (-1 = RANDOMIZED | 0 = DETERMINISTIC | >0 = PHASE-TYPE) [gv_CFG_SCV].",
     .real = &RunConfig::gv_CFG_SCV, .carriedBy = &RunConfig::gv_CFG_SCV_data, .shownWhenCarried = "1.00"},
    {.name = "gv_CFG_hyper", .type = ConfigValueType::kReal, .exampleValue = "0",
     .label = "WHAT DISTRIBUTION DO WE USE IN ORDER TO MODEL DURATIONS THAT HAVE SCV LARGER THAN 1 (0 = HYPER-EXPONENTIAL | REAL NUMBER IN ]0,1[ = SERIAL EXPONENTIAL DISTRIBUTION, NUMBER DETERMINES THE DURATION OF THE FIRST PHASE) [gv_CFG_hyper].",
     .real = &RunConfig::gv_CFG_hyper},
    {.name = "gv_CFG_skew_data", .type = ConfigValueType::kWhole, .exampleValue = "0",
     .label = "PROJECT FILES CONTAIN DATA ON THE SKEWNESS OF THE ACTIVITY DURATION (-1 = YES BUT OVERRIDE | 0 = NO | 1 = YES) [gv_CFG_skew_data].",
     .whole = &RunConfig::gv_CFG_skew_data},
    {.name = "gv_CFG_skew", .type = ConfigValueType::kReal, .exampleValue = "0",
     .label = "WHAT SKEWNESS SHOULD BE USED FOR ALL ACTIVITY DURATIONS IF THE PROJECT FILES DO NOT CONTAIN DATA ON ACTIVITY DURATION SCV (0 = NOT SKEWED) [gv_CFG_skew].",
     .real = &RunConfig::gv_CFG_skew, .carriedBy = &RunConfig::gv_CFG_skew_data, .shownWhenCarried = "0.00"},
    {.name = "gv_CFG_rate_data", .type = ConfigValueType::kWhole, .exampleValue = "0",
     .label = "PROJECT FILES CONTAIN DATA ON THE DISCOUNT RATE USED (-1 = YES BUT OVERRIDE | 0 = NO | 1 = YES) [gv_CFG_rate_data].",
     .whole = &RunConfig::gv_CFG_rate_data},
    {.name = "gv_rate", .type = ConfigValueType::kReal, .exampleValue = "0.01",
     .label = "WHAT DISCOUNT RATE SHOULD BE USED IF THE PROJECT FILES DO NOT CONTAIN A DISCOUNT RATE (ANY REAL NUMBER) [gv_rate].",
     .real = &RunConfig::gv_rate, .carriedBy = &RunConfig::gv_CFG_rate_data, .shownWhenCarried = "0.00"},
};
// clang-format on

namespace {

constexpr int kMaxLineLength = 255;

// CONFIG.DAT is read line by line: a text value is its whole line, any other value line
// starts with a number and the rest of it is ignored. A line that cannot be taken as its
// key wants stops the run naming the line, so that no key is left silently at 0.
struct ConfigLineReader {
  std::istream& in;
  std::string line;
  int lineNumber = 0;

  [[noreturn]] void stop(const std::string& what) const {
    throw ConfigProblem{"CONFIG.DAT line " + std::to_string(lineNumber) + ": " + what};
  }

  void readLine(const char* expected) {
    ++lineNumber;
    if (!std::getline(in, line)) {
      throw ConfigProblem{"CONFIG.DAT ends before line " + std::to_string(lineNumber) + " (" + expected +
                          "); it must have " + std::to_string(kConfigLineCount) + " lines."};
    }
    // Files written on systems with CR LF line ends would otherwise carry the CR into
    // every project file name.
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (static_cast<int>(line.size()) > kMaxLineLength)
      stop("the line is longer than " + std::to_string(kMaxLineLength) + " characters.");
  }

  // The number that starts the value line of key; whatever follows it is ignored.
  template <typename T>
  T readLeadingNumber(const char* key) {
    readLine(key);
    std::istringstream text(line);
    T value{};
    if (!(text >> value)) {
      const bool outOfRange = value == std::numeric_limits<T>::max() || value == std::numeric_limits<T>::lowest();
      stop(std::string("the value of ") + key + " \"" + line + "\" " +
           (outOfRange ? "is out of range." : "cannot be read as a number."));
    }
    return value;
  }

  void readKeyValue(const ConfigKey& key, RunConfig& config) {
    switch (key.type) {
      case ConfigValueType::kText:
        readLine(key.name);
        config.*key.text = line;
        break;
      case ConfigValueType::kWhole: config.*key.whole = readLeadingNumber<int32_t>(key.name); break;
      case ConfigValueType::kReal: config.*key.real = readLeadingNumber<double>(key.name); break;
      case ConfigValueType::kYesNo: {
        const int32_t value = readLeadingNumber<int32_t>(key.name);
        if (value != 0 && value != 1)
          stop(std::string("the value of ") + key.name + " is " + std::to_string(value) + "; it is 0 (no) or 1 (yes).");
        config.*key.yesNo = value == 1;
        break;
      }
    }
  }
};

// The line of CONFIG.DAT that holds the value of key.
int valueLineOf(const char* name) {
  for (int k = 0; k < kConfigKeyCount; ++k)
    if (std::string(kConfigKeys[k].name) == name) return kConfigBannerLineCount + 2 * k + 2;
  return 0;
}

[[noreturn]] void refuseSetting(const char* name, const std::string& value, const std::string& why) {
  throw ConfigProblem{"CONFIG.DAT line " + std::to_string(valueLineOf(name)) + ": " + name + " " + value + " " + why};
}

std::string formatDouble(double value);

void checkChoice(const char* name, int32_t value, std::initializer_list<int32_t> allowed, const char* meanings) {
  for (int32_t choice : allowed)
    if (value == choice) return;
  refuseSetting(name, std::to_string(value), std::string("is not one of the choices of its label: ") + meanings + ".");
}

const char* const kSlotNames[4] = {"gv_CFG_OBJ", "gv_CFG_OBJ2", "gv_CFG_OBJ3", "gv_CFG_OBJ4"};

// gv_CFG_OBJ is optimised; each later slot names a measure of that policy or -1, and the
// first -1 ends the list.
void checkObjectiveSlots(const RunConfig& config) {
  const int32_t slots[4] = {config.gv_CFG_OBJ, config.gv_CFG_OBJ2, config.gv_CFG_OBJ3, config.gv_CFG_OBJ4};
  if (slots[0] == 2 || slots[0] == 3)
    refuseSetting(kSlotNames[0], std::to_string(slots[0]),
                  std::string("(") + kMeasureNames[slots[0]] +
                      ") is a measure of a policy, not an objective to "
                      "optimise: optimise 0 (NPV) or 1 (MAKESPAN) and name the variance in gv_CFG_OBJ2.");
  checkChoice(kSlotNames[0], slots[0], {0, 1}, "0 = NPV | 1 = MAKESPAN");
  bool ended = false;
  for (int slot = 1; slot < 4; ++slot) {
    const int32_t measure = slots[slot];
    const std::string value = std::to_string(measure);
    if (measure == -1) {
      ended = true;
      continue;
    }
    checkChoice(kSlotNames[slot], measure, {-1, 0, 1, 2, 3},
                "-1 = none | 0 = NPV | 1 = MAKESPAN | 2 = NPV VARIANCE | 3 = MAKESPAN VARIANCE");
    if (ended)
      refuseSetting(kSlotNames[slot], value,
                    std::string("follows a -1 in ") + kSlotNames[slot - 1] +
                        ", which ends the list of measures: put the measures in the first slots.");
    if (measure == slots[0])
      refuseSetting(kSlotNames[slot], value,
                    std::string("(") + kMeasureNames[measure] +
                        ") names again the objective that gv_CFG_OBJ "
                        "optimises: its value is already reported.");
    for (int before = 1; before < slot; ++before)
      if (slots[before] == measure)
        refuseSetting(
            kSlotNames[slot], value,
            std::string("(") + kMeasureNames[measure] + ") is named twice, also in " + kSlotNames[before] + ".");
  }
}

std::string formatDouble(double value) {
  std::ostringstream text;
  text << value;
  return text.str();
}

std::string shownValue(const ConfigKey& key, const RunConfig& config) {
  if (key.carriedBy != nullptr && config.*key.carriedBy == 1) return key.shownWhenCarried;
  switch (key.type) {
    case ConfigValueType::kText: return config.*key.text;
    case ConfigValueType::kWhole: return std::to_string(config.*key.whole);
    case ConfigValueType::kReal: return formatDouble(config.*key.real);
    case ConfigValueType::kYesNo: return config.*key.yesNo ? "1" : "0";
  }
  return "";
}

}  // namespace

const char* const kMeasureNames[kMeasureCount] = {"NPV", "MAKESPAN", "NPV VARIANCE", "MAKESPAN VARIANCE"};

std::vector<int32_t> configuredMeasures(const RunConfig& config) {
  std::vector<int32_t> measures;
  for (int32_t measure : {config.gv_CFG_OBJ2, config.gv_CFG_OBJ3, config.gv_CFG_OBJ4}) {
    if (measure == -1) break;
    measures.push_back(measure);
  }
  return measures;
}

void checkSettings(const RunConfig& config) {
  checkObjectiveSlots(config);
  if (config.gv_CFG_write > 5)
    refuseSetting("gv_CFG_write", std::to_string(config.gv_CFG_write),
                  "is above 5, the highest level (5 = also the optimal policy, .POL).");
  checkChoice("gv_CFG_IO", config.gv_CFG_IO, {-1, 0, 1}, "-1 = AUTOMATIC | 0 = ONLY WORKING MEMORY | 1 = HARD DRIVE");
  if (!(config.gv_CFG_max_mem >= 0 || config.gv_CFG_max_mem == -1))
    refuseSetting("gv_CFG_max_mem", formatDouble(config.gv_CFG_max_mem),
                  "is not one of the choices of its label: -1 = USE HARD DISK | 0 = NO LIMIT | >0 = MB.");
  const char* const dataChoices = "-1 = YES BUT OVERRIDE | 0 = NO | 1 = YES";
  checkChoice("gv_CFG_SCV_data", config.gv_CFG_SCV_data, {-1, 0, 1}, dataChoices);
  checkChoice("gv_CFG_skew_data", config.gv_CFG_skew_data, {-1, 0, 1}, dataChoices);
  checkChoice("gv_CFG_rate_data", config.gv_CFG_rate_data, {-1, 0, 1}, dataChoices);
  // gv_CFG_SCV, gv_CFG_skew and gv_rate count only where the files carry no value of their own.
  const double scv = config.gv_CFG_SCV;
  if (config.gv_CFG_SCV_data != 1 && scv != -1.0) {
    if (scv == 0.0)
      refuseSetting("gv_CFG_SCV", "0",
                    "(deterministic durations) cannot be solved: the program models every duration as a Markov "
                    "chain. Use a small SCV such as 0.01 (a chain of 100 phases) to come close to it.");
    if (!(scv >= 0.001))
      refuseSetting("gv_CFG_SCV", formatDouble(scv),
                    "is not one of the choices of its label (-1 = RANDOMIZED | >0 = PHASE-TYPE); an SCV is at "
                    "least 0.001.");
  }
  if (!(config.gv_CFG_hyper >= 0.0 && config.gv_CFG_hyper < 1.0))
    refuseSetting("gv_CFG_hyper", formatDouble(config.gv_CFG_hyper),
                  "is not one of the choices of its label: 0 = HYPER-EXPONENTIAL | a number in ]0,1[ = SERIAL.");
  if (config.gv_CFG_rate_data != 1 && !(config.gv_rate >= 0.0))
    refuseSetting("gv_rate", formatDouble(config.gv_rate),
                  "is negative: with a negative rate the expected discounted value diverges.");
}

void readConfigurationText(std::istream& in, RunConfig& config) {
  ConfigLineReader reader{in, {}, 0};
  for (int line = 1; line <= kConfigBannerLineCount; ++line) reader.readLine("the banner");
  for (const ConfigKey& key : kConfigKeys) {
    // The label line before the value: never looked at.
    reader.readLine("a label line");
    reader.readKeyValue(key, config);
  }
  checkSettings(config);
}

namespace {

void readConfigurationFile(RunConfig& config) {
  std::ifstream in("CONFIG.DAT");
  // A directory opens as a stream on some systems but holds no configuration.
  if (!in.is_open() || in.fail() || std::filesystem::is_directory("CONFIG.DAT"))
    throw ConfigProblem{"Unable to open CONFIG.DAT (the configuration file)."};
  readConfigurationText(in, config);
}

}  // namespace

void readConfiguration() {
  try {
    readConfigurationFile(runConfig);
  } catch (const ConfigProblem& problem) {
    stopFatal(problem.what);
  }
}

void checkConfigurationFile() {
  RunConfig config;
  readConfigurationFile(config);
}

namespace {

// The second banner line of a results file says which version wrote it, under the title; the
// reader skips the banner, so the block still reads as a CONFIG.DAT.
std::string versionBannerLine() {
  std::string inner = "                 VERSION " + std::string(kProgramVersion);
  const size_t width = std::string(kConfigBanner[1]).size() - 8;
  if (inner.size() < width) inner.append(width - inner.size(), ' ');
  return "||||" + inner + "||||";
}

}  // namespace

void writeConfigurationBlock(std::ostream& out, const RunConfig& config) {
  for (int line = 0; line < kConfigBannerLineCount; ++line)
    out << (line == 1 ? versionBannerLine() : std::string(kConfigBanner[line])) << '\n';
  for (const ConfigKey& key : kConfigKeys) out << key.label << '\n' << shownValue(key, config) << '\n';
}

void writeConfigurationBlock(std::ostream& out) { writeConfigurationBlock(out, settingsInForce()); }

std::string configurationText(const std::vector<std::pair<std::string, std::string>>& values) {
  for (const auto& given : values) {
    bool known = false;
    for (const ConfigKey& key : kConfigKeys) known = known || given.first == key.name;
    if (!known) throw ConfigProblem{"CONFIG.DAT has no key " + given.first + "."};
  }
  std::ostringstream text;
  for (const char* line : kConfigBanner) text << line << '\n';
  for (const ConfigKey& key : kConfigKeys) {
    std::string value = key.exampleValue;
    // The last of several values given for a key holds, as on a command line.
    for (const auto& given : values)
      if (given.first == key.name) value = given.second;
    text << key.label << '\n' << value << '\n';
  }
  return text.str();
}

std::string configurationTemplate(const std::vector<std::pair<std::string, std::string>>& values) {
  const std::string text = configurationText(values);
  for (const auto& given : values) {
    if (given.second.find_first_of("\r\n") != std::string::npos)
      throw ConfigProblem{"the value of " + given.first + " holds a line end."};
  }
  std::istringstream in(text);
  RunConfig config;
  readConfigurationText(in, config);
  return text;
}

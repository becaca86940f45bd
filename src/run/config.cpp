// CONFIG.DAT: the reader that fills runConfig once per run and the configuration block that
// the drivers copy, in the same layout, to the head of their results files.
#include "run/config.h"

#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

#include "run/fatal.h"

RunConfig runConfig;

namespace {

constexpr int kMaxLineLength = 255;
constexpr int kConfigLineCount = 71;

const char* const kBannerLines[9] = {
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

const char* const kLabelLines[31] = {
    "PROJECT FILE NAME (E.G. 'EXAMPLE_DIRECTORY\\EXAMPLEPROJECT_') [PJFileName].",
    "PROJECT FILE NAME EXTENSION (E.G. '.RCP') [PJFileExt].",
    "FIRST PROJECT FILE NUMBER (E.G. '1') [gv_CFG_fnr].",
    "LAST PROJECT FILE NUMBER (E.G. '9') [gv_CFG_lnr].",
    "MAXIMUM NUMBER OF ACTIVITIES EXECUTED IN PARALLEL (16 = unsigned short int | 19 = unsigned int | 32 = unsigned __int64) [gv_bits].",
    "MAXIMUM NUMBER OF UDCs [gv_CFG_mxn_UDC].",
    "INITIAL MAXIMUM NUMBER OF UDC LINKS [gv_CFG_mxn_UDC_links].",
    "INITIAL MAXIMUM NUMBER OF UDCs PER RANK (-1 = AUTOMATIC | >0 = USER-DEFINED) [gv_CFG_mxn_UDC_prr].",
    "MAXIMUM NUMBER OF RANKS (1 = NUMBER OF ACTIVITIES | 2 = (NUMBER OF ACTIVITIES)\xB2"
    " | 3 = (NUMBER OF ACTIVITIES)\xB3"
    ") [gv_CFG_mxn_ranks].",
    "MAXIMUM AVAILABLE WORKING MEMORY (-1 = USE HARD DISK | 0 = NO LIMIT | >0 = NUMBER OF MB AVAILABLE WORKING MEMORY) [gv_CFG_max_mem].",
    "OBJECTIVE FUNCTION (0 = NPV | 1 = MAKESPAN | 2 = NPV VARIANCE | 3 = MAKESPAN VARIANCE) [gv_CFG_OBJ].",
    "SECOND OBJECTIVE FUNCTION (-1 = NO SECOND OBJECTIVE |0 = NPV | 1 = MAKESPAN | 2 = NPV VARIANCE | 3 = MAKESPAN VARIANCE) [gv_CFG_OBJ2].",
    "THIRD OBJECTIVE FUNCTION (-1 = NO THIRD OBJECTIVE |0 = NPV | 1 = MAKESPAN | 2 = NPV VARIANCE | 3 = MAKESPAN VARIANCE) [gv_CFG_OBJ3].",
    "FOURTH OBJECTIVE FUNCTION (-1 = NO FOURTH OBJECTIVE |0 = NPV | 1 = MAKESPAN | 2 = NPV VARIANCE | 3 = MAKESPAN VARIANCE) [gv_CFG_OBJ4].",
    "WHAT OUTPUT FILES HAVE TO BE WRITTEN (0 = RESULTS | 1 = RESULTS & EPN | 2 = RESULTS, EPN & MPN | 3 = RESULTS, EPN, MPN & BPN | 4 = RESULTS, EPN, MPN, BPN & UDC) [gv_CFG_write].",
    "USE HARD DRIVE TO STORE PROCESSING DATA (-1 = AUTOMATIC | 0 = DO NOT USE HARD DRIVE, ONLY USE WORKING MEMORY | 1 = USE HARD DRIVE) [gv_CFG_IO].",
    "ALLOW PROJECT TO BE ABANDONED (0 = NO | 1 = YES) [gv_CFG_abandon].",
    "ALLOW DECISIONS TO BE MADE DURING ACTIVITY EXECUTION (0 = NO | 1 = YES) [gv_CFG_irq].",
    "PROJECT FILES CONTAIN COST DATA (0 = NO | 1 = YES) [gv_CFG_cost_data].",
    "PROJECT FILES CONTAIN MODULE DATA (0 = NO | 1 = YES) [gv_CFG_mod_data].",
    "PROJECT FILES CONTAIN MULTIMODE DATA (0 = NO | 1 = YES) [gv_CFG_mode_data].",
    "PROJECT FILES CONTAIN DATA ON THE PROBABILITY OF TECHNICAL SUCCESS OF ACTIVITIES (0 = NO | 1 = YES) [gv_CFG_pts_data].",
    "PROJECT FILES CONTAIN DATA ON THE PROBABILITY OF MODULAR SUCCESS OF ACTIVITIES (0 = NO | 1 = YES) [gv_CFG_pms_data].",
    "PROJECT FILES CONTAIN RESOURCE DATA (0 = NO | 1 = YES) [gv_CFG_rx_data].",
    "PROJECT FILES CONTAIN DATA ON THE SCV OF THE ACTIVITY DURATION (-1 = YES BUT OVERRIDE | 0 = NO | 1 = YES) [gv_CFG_SCV_data].",
    "WHAT SCV SHOULD BE USED FOR ALL ACTIVITY DURATIONS IF THE PROJECT FILES DO NOT CONTAIN DATA ON ACTIVITY DURATION SCV (-1 = RANDOMIZED | 0 = DETERMINISTIC | >0 = PHASE-TYPE) [gv_CFG_SCV].",
    "WHAT DISTRIBUTION DO WE USE IN ORDER TO MODEL DURATIONS THAT HAVE SCV LARGER THAN 1 (0 = HYPER-EXPONENTIAL | REAL NUMBER IN ]0,1[ = SERIAL EXPONENTIAL DISTRIBUTION, NUMBER DETERMINES THE DURATION OF THE FIRST PHASE) [gv_CFG_hyper].",
    "PROJECT FILES CONTAIN DATA ON THE SKEWNESS OF THE ACTIVITY DURATION (-1 = YES BUT OVERRIDE | 0 = NO | 1 = YES) [gv_CFG_skew_data].",
    "WHAT SKEWNESS SHOULD BE USED FOR ALL ACTIVITY DURATIONS IF THE PROJECT FILES DO NOT CONTAIN DATA ON ACTIVITY DURATION SCV (0 = NOT SKEWED) [gv_CFG_skew].",
    "PROJECT FILES CONTAIN DATA ON THE DISCOUNT RATE USED (-1 = YES BUT OVERRIDE | 0 = NO | 1 = YES) [gv_CFG_rate_data].",
    "WHAT DISCOUNT RATE SHOULD BE USED IF THE PROJECT FILES DO NOT CONTAIN A DISCOUNT RATE (ANY REAL NUMBER) [gv_rate].",
};

// CONFIG.DAT is read line by line: a text value is its whole line, any other value line
// starts with a number and the rest of it is ignored. A line that cannot be taken as its
// key wants stops the run naming the line, so that no key is left silently at 0.
struct ConfigLineReader {
  std::ifstream in;
  std::string line;
  int lineNumber = 0;

  [[noreturn]] void stop(const std::string& what) const {
    stopFatal("CONFIG.DAT line " + std::to_string(lineNumber) + ": " + what);
  }

  void readLine(const char* expected) {
    ++lineNumber;
    if (!std::getline(in, line)) {
      stopFatal("CONFIG.DAT ends before line " + std::to_string(lineNumber) + " (" + expected +
                "); it must have " + std::to_string(kConfigLineCount) + " lines.");
    }
    // Files written on systems with CR LF line ends would otherwise carry the CR into
    // every project file name.
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (static_cast<int>(line.size()) > kMaxLineLength)
      stop("the line is longer than " + std::to_string(kMaxLineLength) + " characters.");
  }

  void readText(std::string& field, const char* key) {
    readLine(key);
    field = line;
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

  template <typename T>
  void readNumber(T& field, const char* key) {
    field = readLeadingNumber<T>(key);
  }

  // 0 and 1 set the flag; any other whole number leaves it as it was.
  void readBool(bool& field, const char* key) {
    const int32_t value = readLeadingNumber<int32_t>(key);
    if (value == 0) field = false;
    if (value == 1) field = true;
  }

  // The label line before the next value: never looked at.
  void skipLabel() { readLine("a label line"); }
};

std::string formatDouble(double value) {
  std::ostringstream text;
  text << value;
  return text.str();
}

}  // namespace

void readConfiguration() {
  ConfigLineReader reader;
  reader.in.open("CONFIG.DAT");
  // A directory opens as a stream on some systems but holds no configuration.
  if (!reader.in.is_open() || reader.in.fail() || std::filesystem::is_directory("CONFIG.DAT")) {
    stopFatal("Unable to open CONFIG.DAT (the configuration file).");
  }
  RunConfig& config = runConfig;
  for (int line = 1; line <= 9; ++line) reader.readLine("the banner");
  reader.skipLabel();
  reader.readText(config.PJFileName, "PJFileName");
  reader.skipLabel();
  reader.readText(config.PJFileExt, "PJFileExt");
  reader.skipLabel();
  reader.readNumber(config.gv_CFG_fnr, "gv_CFG_fnr");
  reader.skipLabel();
  reader.readNumber(config.gv_CFG_lnr, "gv_CFG_lnr");
  reader.skipLabel();
  reader.readNumber(config.gv_bits, "gv_bits");
  reader.skipLabel();
  reader.readNumber(config.gv_CFG_mxn_UDC, "gv_CFG_mxn_UDC");
  reader.skipLabel();
  reader.readNumber(config.gv_CFG_mxn_UDC_links, "gv_CFG_mxn_UDC_links");
  reader.skipLabel();
  reader.readNumber(config.gv_CFG_mxn_UDC_prr, "gv_CFG_mxn_UDC_prr");
  reader.skipLabel();
  reader.readNumber(config.gv_CFG_mxn_ranks, "gv_CFG_mxn_ranks");
  reader.skipLabel();
  reader.readNumber(config.gv_CFG_max_mem, "gv_CFG_max_mem");
  reader.skipLabel();
  reader.readNumber(config.gv_CFG_OBJ, "gv_CFG_OBJ");
  reader.skipLabel();
  reader.readNumber(config.gv_CFG_OBJ2, "gv_CFG_OBJ2");
  reader.skipLabel();
  reader.readNumber(config.gv_CFG_OBJ3, "gv_CFG_OBJ3");
  reader.skipLabel();
  reader.readNumber(config.gv_CFG_OBJ4, "gv_CFG_OBJ4");
  reader.skipLabel();
  reader.readNumber(config.gv_CFG_write, "gv_CFG_write");
  reader.skipLabel();
  reader.readNumber(config.gv_CFG_IO, "gv_CFG_IO");
  reader.skipLabel();
  reader.readBool(config.gv_CFG_abandon, "gv_CFG_abandon");
  reader.skipLabel();
  reader.readBool(config.gv_CFG_irq, "gv_CFG_irq");
  reader.skipLabel();
  reader.readBool(config.gv_CFG_cost_data, "gv_CFG_cost_data");
  reader.skipLabel();
  reader.readBool(config.gv_CFG_mod_data, "gv_CFG_mod_data");
  reader.skipLabel();
  reader.readBool(config.gv_CFG_mode_data, "gv_CFG_mode_data");
  reader.skipLabel();
  reader.readBool(config.gv_CFG_pts_data, "gv_CFG_pts_data");
  reader.skipLabel();
  reader.readBool(config.gv_CFG_pms_data, "gv_CFG_pms_data");
  reader.skipLabel();
  reader.readBool(config.gv_CFG_rx_data, "gv_CFG_rx_data");
  reader.skipLabel();
  reader.readNumber(config.gv_CFG_SCV_data, "gv_CFG_SCV_data");
  reader.skipLabel();
  reader.readNumber(config.gv_CFG_SCV, "gv_CFG_SCV");
  reader.skipLabel();
  reader.readNumber(config.gv_CFG_hyper, "gv_CFG_hyper");
  reader.skipLabel();
  reader.readNumber(config.gv_CFG_skew_data, "gv_CFG_skew_data");
  reader.skipLabel();
  reader.readNumber(config.gv_CFG_skew, "gv_CFG_skew");
  reader.skipLabel();
  reader.readNumber(config.gv_CFG_rate_data, "gv_CFG_rate_data");
  reader.skipLabel();
  reader.readNumber(config.gv_rate, "gv_rate");
  reader.in.close();
}

void writeConfigurationBlock(std::ostream& out) {
  const RunConfig& config = runConfig;
  auto flag = [](bool value) { return std::string(value ? "1" : "0"); };
  const std::string values[31] = {
      config.PJFileName,
      config.PJFileExt,
      std::to_string(config.gv_CFG_fnr),
      std::to_string(config.gv_CFG_lnr),
      std::to_string(config.gv_bits),
      std::to_string(config.gv_CFG_mxn_UDC),
      std::to_string(config.gv_CFG_mxn_UDC_links),
      std::to_string(config.gv_CFG_mxn_UDC_prr),
      std::to_string(config.gv_CFG_mxn_ranks),
      formatDouble(config.gv_CFG_max_mem),
      std::to_string(config.gv_CFG_OBJ),
      std::to_string(config.gv_CFG_OBJ2),
      std::to_string(config.gv_CFG_OBJ3),
      std::to_string(config.gv_CFG_OBJ4),
      std::to_string(config.gv_CFG_write),
      std::to_string(config.gv_CFG_IO),
      flag(config.gv_CFG_abandon),
      flag(config.gv_CFG_irq),
      flag(config.gv_CFG_cost_data),
      flag(config.gv_CFG_mod_data),
      flag(config.gv_CFG_mode_data),
      flag(config.gv_CFG_pts_data),
      flag(config.gv_CFG_pms_data),
      flag(config.gv_CFG_rx_data),
      std::to_string(config.gv_CFG_SCV_data),
      config.gv_CFG_SCV_data == 1 ? "1.00" : formatDouble(config.gv_CFG_SCV),
      formatDouble(config.gv_CFG_hyper),
      std::to_string(config.gv_CFG_skew_data),
      config.gv_CFG_skew_data == 1 ? "0.00" : formatDouble(config.gv_CFG_skew),
      std::to_string(config.gv_CFG_rate_data),
      config.gv_CFG_rate_data == 1 ? "0.00" : formatDouble(config.gv_rate),
  };
  for (const char* line : kBannerLines) out << line << '\n';
  for (int key = 0; key < 31; ++key) out << kLabelLines[key] << '\n' << values[key] << '\n';
}

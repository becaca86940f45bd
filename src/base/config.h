// The run configuration: CONFIG.DAT, read once at the start of every mode, and the
// configuration block that the drivers copy to the head of their results files. Every key is
// one row of kConfigKeys; the reader, the block, the label lines and the template that the
// tools ask for are all made from that table.
#pragma once
#include <cstdint>
#include <istream>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

struct RunConfig {
  std::string PJFileName;
  std::string PJFileExt;
  int32_t gv_CFG_fnr = 0;
  int32_t gv_CFG_lnr = 0;
  int32_t gv_bits = 0;
  int32_t gv_CFG_mxn_UDC = 0;
  int32_t gv_CFG_mxn_UDC_links = 0;
  int32_t gv_CFG_mxn_UDC_prr = 0;
  int32_t gv_CFG_mxn_ranks = 0;
  double gv_CFG_max_mem = 0;
  int32_t gv_CFG_OBJ = 0;
  int32_t gv_CFG_OBJ2 = 0;
  int32_t gv_CFG_OBJ3 = -1;  // none: a record filled in code names no third or fourth measure
  int32_t gv_CFG_OBJ4 = -1;
  int32_t gv_CFG_write = 0;
  int32_t gv_CFG_IO = 0;
  bool gv_CFG_abandon = false;
  bool gv_CFG_irq = false;
  bool gv_CFG_cost_data = false;
  bool gv_CFG_mod_data = false;
  bool gv_CFG_mode_data = false;
  bool gv_CFG_pts_data = false;
  bool gv_CFG_pms_data = false;
  bool gv_CFG_rx_data = false;
  int32_t gv_CFG_SCV_data = 0;
  double gv_CFG_SCV = 0;
  double gv_CFG_hyper = 0;
  int32_t gv_CFG_skew_data = 0;
  double gv_CFG_skew = 0;
  int32_t gv_CFG_rate_data = 0;
  double gv_rate = 0;
};

enum class ConfigValueType : uint8_t { kText, kWhole, kReal, kYesNo };

// One key of CONFIG.DAT: its name, the field it fills, the value line of the shipped example
// (examples/basic) and the label line that stands before its value.
struct ConfigKey {
  const char* name;
  ConfigValueType type;
  const char* exampleValue;
  const char* label;
  std::string RunConfig::*text = nullptr;
  int32_t RunConfig::*whole = nullptr;
  double RunConfig::*real = nullptr;
  bool RunConfig::*yesNo = nullptr;
  // Where the project files carry the value (this data key is 1), the block shows
  // shownWhenCarried instead of the value read.
  int32_t RunConfig::*carriedBy = nullptr;
  const char* shownWhenCarried = nullptr;
};

constexpr int kConfigKeyCount = 31;
constexpr int kConfigBannerLineCount = 9;
constexpr int kConfigLineCount = kConfigBannerLineCount + 2 * kConfigKeyCount;

extern const ConfigKey kConfigKeys[kConfigKeyCount];

// The names of the objectives and measures by the number the objective slots give them:
// 0 NPV, 1 MAKESPAN, 2 NPV VARIANCE, 3 MAKESPAN VARIANCE.
constexpr int kMeasureCount = 4;
extern const char* const kMeasureNames[kMeasureCount];

// The objective slots as they are read: gv_CFG_OBJ, then the measures of its policy up to the
// first -1.
std::vector<int32_t> configuredMeasures(const RunConfig& config);
extern const char* const kConfigBanner[kConfigBannerLineCount];

// A configuration that cannot be taken; what says why (naming CONFIG.DAT and the line where
// a line is at fault). readConfiguration turns it into a fatal stop.
struct ConfigProblem {
  std::string what;
};

// The configuration as CONFIG.DAT gives it: written by readConfiguration alone.
extern RunConfig runConfig;

// The settings the stages work under: runConfig, or the copy of it with values of its own
// (the metrics test's instances, a topology combination) that a mode installs for the
// projects it runs with a SettingsScope.
const RunConfig& settingsInForce();

class SettingsScope {
 public:
  explicit SettingsScope(const RunConfig& settings);
  ~SettingsScope();
  SettingsScope(const SettingsScope&) = delete;
  SettingsScope& operator=(const SettingsScope&) = delete;

 private:
  const RunConfig* previous_;
};

// Fills runConfig from CONFIG.DAT in the working directory; a file that cannot be taken stops
// the run.
void readConfiguration();

// Reads a configuration text into config and checks its settings (checkSettings); throws
// ConfigProblem.
void readConfigurationText(std::istream& in, RunConfig& config);

// Every setting means what its label says: a value the label does not allow, or a choice the
// program does not compute, throws ConfigProblem naming the line, the key and what to use.
void checkSettings(const RunConfig& config);

// Reads CONFIG.DAT in the working directory as readConfiguration does, into a configuration
// of its own; throws ConfigProblem where a run would stop.
void checkConfigurationFile();

// The 71 lines of CONFIG.DAT's layout, filled with the values in force; the second banner
// line names the program's version.
void writeConfigurationBlock(std::ostream& out);
void writeConfigurationBlock(std::ostream& out, const RunConfig& config);

// A whole CONFIG.DAT: the banner, then label and value line per key, each value the example's
// unless given. A key the table does not hold throws ConfigProblem; the values are not
// checked (see configurationTemplate).
std::string configurationText(const std::vector<std::pair<std::string, std::string>>& values);

// configurationText, read back by the reader of a run: a value the reader would refuse
// throws ConfigProblem as well.
std::string configurationTemplate(const std::vector<std::pair<std::string, std::string>>& values);

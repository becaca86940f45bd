// The project file layout with every field of every mode, and its legend.
#include "experiments/project_layout.h"

#include <string>

namespace {

std::string modeLineLegend(const std::string& act, const std::string& mode) {
  const std::string p = "[ACT " + act + " MODE " + mode + ": ";
  return p + "DURATION] " + p + "DURATION SCV] " + p + "DURATION SKEWNESS] " + p + "COST] " + p +
         "PROBABILITY OF TECHNICAL SUCCESS] " + p + "PROBABILITY OF MODULE SUCCESS] " + p + "USE OF RESOURCE 1] " + p +
         "USE OF RESOURCE 2] ... " + p + "USE OF RESOURCE r]";
}

std::string successorLineLegend(const std::string& act) {
  return "[NUMBER OF SUCCESSORS FOR ACTIVITY " + act + "] [ACT " + act + ": SUCCESSOR 1] [ACT " + act +
         ": SUCCESSOR 2] ... [ACT " + act + ": SUCCESSOR s] [ACTIVITY " + act + " PARENT MODULE]";
}

void writeActivityLegend(std::ostream& out, const std::string& act) {
  out << modeLineLegend(act, "1") << '\n'
      << modeLineLegend(act, "2") << '\n'
      << "..." << '\n'
      << modeLineLegend(act, "m") << '\n';
}

void writeLayoutLegend(std::ostream& out) {
  const std::string bars(43, '|');
  out << bars << '\n' << "|||FILE STRUCTURE (BASE MODULAR NETWORK)|||" << '\n' << bars << '\n' << '\n';
  out << "[NUMBER OF ACTIVITIES (INCLUDING DUMMY-ACTIVITIES)]" << '\n'
      << "[DISCOUNT RATE (CONTINUOUS-TIME DISCOUNTING)]" << '\n'
      << "[NUMBER OF RENEWABLE RESOURCES]" << '\n'
      << "[AVAILABILITY RESOURCE 1] [AVAILABILITY RESOURCE 2] ... [AVAILABILITY RESOURCE r]" << '\n'
      << "[NUMBER OF EXECUTION MODES FOR ACTIVITY 1]" << '\n';
  writeActivityLegend(out, "1");
  out << successorLineLegend("1") << '\n';
  writeActivityLegend(out, "2");
  out << successorLineLegend("2") << '\n';
  out << "..." << '\n' << '\n';
  writeActivityLegend(out, "n");
  out << successorLineLegend("n");
}

}  // namespace

void writeProjectLayout(std::ostream& out, const BaseNetwork& project) {
  const int n = project.activityCount;
  const int resources = project.resourceCount;
  out << n << '\n';
  out << project.discountRate << '\n';
  out << resources << '\n';
  if (resources > 0) {
    for (int r = 0; r < resources; ++r) out << project.resourceAvailability[static_cast<size_t>(r)] << ' ';
    out << '\n';
  }
  for (int a = 0; a < n; ++a) {
    const Activity& activity = project.activities[static_cast<size_t>(a)];
    out << activity.modes.size() << '\n';
    for (const ExecutionMode& mode : activity.modes) {
      out << mode.duration << ' ' << mode.scv << ' ' << mode.skewness << ' ' << mode.cost << ' ' << mode.pts << ' '
          << mode.pms;
      for (int r = 0; r < resources && r < static_cast<int>(mode.resourceUse.size()); ++r)
        out << ' ' << mode.resourceUse[static_cast<size_t>(r)];
      out << '\n';
    }
    out << activity.successors.size();
    for (int32_t s : activity.successors) out << ' ' << s;
    out << ' ' << activity.parentModule << '\n';
  }
  writeLayoutLegend(out);
}

void forceInstanceDataFlags(RunConfig& c) {
  c.gv_CFG_cost_data = true;
  c.gv_CFG_mod_data = true;
  c.gv_CFG_mode_data = true;
  c.gv_CFG_pts_data = true;
  c.gv_CFG_pms_data = true;
  c.gv_CFG_rx_data = true;
  // -1 reads the field and still lets the override apply, as 0 did without reading it.
  if (c.gv_CFG_SCV_data == 0) c.gv_CFG_SCV_data = -1;
  if (c.gv_CFG_skew_data == 0) c.gv_CFG_skew_data = -1;
  // The rate is always in the file; -1 keeps its override, every other value reads it.
  if (c.gv_CFG_rate_data != 1 && c.gv_CFG_rate_data != -1) c.gv_CFG_rate_data = 1;
}

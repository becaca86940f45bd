// The .BPN dump of the base network as the reader accepted it, with its legend.
#include "network/base_network_file.h"

#include <memory>
#include <ostream>
#include <string>

#include "base/config.h"
#include "base/output_files.h"
#include "base/run_state.h"
#include "network/base_network.h"

namespace {

void writeModeLegend(std::ostream& out, const std::string& act, const std::string& mode) {
  const std::string prefix = "[ACT " + act + " MODE " + mode + ": ";
  out << prefix << "DURATION] " << prefix << "DURATION SCV] " << prefix << "DURATION SKEWNESS] " << prefix << "COST] "
      << prefix << "PROBABILITY OF TECHNICAL SUCCESS] " << prefix << "PROBABILITY OF MODULE SUCCESS] " << prefix
      << "USE OF RESOURCE 1] " << prefix << "USE OF RESOURCE 2] ... " << prefix << "USE OF RESOURCE r]";
}

void writeActivityLegend(std::ostream& out, const std::string& act) {
  for (const char* mode : {"1", "2"}) {
    writeModeLegend(out, act, mode);
    out << '\n';
  }
  out << "...\n";
  writeModeLegend(out, act, "m");
  out << '\n';
  out << "[NUMBER OF SUCCESSORS FOR ACTIVITY " << act << "] [ACT " << act << ": SUCCESSOR 1] [ACT " << act
      << ": SUCCESSOR 2] ... [ACT " << act << ": SUCCESSOR s] [ACTIVITY " << act << " PARENT MODULE]";
}

}  // namespace

void writeBaseNetworkFieldLegend(std::ostream& out) {
  out << "[NUMBER OF ACTIVITIES (INCLUDING DUMMY-ACTIVITIES)]\n"
      << "[DISCOUNT RATE (CONTINUOUS-TIME DISCOUNTING)]\n"
      << "[NUMBER OF RENEWABLE RESOURCES]\n"
      << "[AVAILABILITY RESOURCE 1] [AVAILABILITY RESOURCE 2] ... [AVAILABILITY RESOURCE r]\n"
      << "[NUMBER OF EXECUTION MODES FOR ACTIVITY 1]\n";
  writeActivityLegend(out, "1");
  out << '\n';
  writeActivityLegend(out, "2");
  out << '\n' << "...\n" << '\n';
  writeActivityLegend(out, "n");
}

void writeBaseNetworkFile() {
  const BaseNetwork& network = baseNetwork;
  const std::unique_ptr<CheckedOutput> file = openOutputFile(OutputFile::kBaseNetwork);
  std::ostream& out = file->stream();
  out << network.activityCount << '\n' << network.discountRate << '\n' << network.resourceCount << '\n';
  if (network.resourceCount > 0) {
    for (double availability : network.resourceAvailability) out << availability << ' ';
    out << '\n';
  }
  for (const Activity& activity : network.activities) {
    out << activity.modes.size() << '\n';
    for (const ExecutionMode& mode : activity.modes) {
      out << mode.duration << ' ' << mode.scv << ' ' << mode.skewness << ' ' << mode.cost << ' ' << mode.pts << ' '
          << mode.pms;
      for (double use : mode.resourceUse) out << ' ' << use;
      out << '\n';
    }
    out << activity.successors.size();
    for (int32_t successor : activity.successors) out << ' ' << successor;
    out << ' ' << activity.parentModule << '\n';
  }
  out << '\n'
      << "|||||||||||||||||||||||||||||||||||\n"
      << "|||FILE STRUCTURE (BASE NETWORK)|||\n"
      << "|||||||||||||||||||||||||||||||||||\n"
      << '\n';
  writeBaseNetworkFieldLegend(out);
  file->finish();
}

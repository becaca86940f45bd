// The .EPN dump: one line per elementary activity, then the legend.
#include "duration/elementary_network_file.h"

#include <fstream>
#include <string>

#include "base/config.h"
#include "base/output_files.h"
#include "base/run_state.h"
#include "duration/elementary_network.h"
#include "network/base_network.h"

namespace {

void writeDataBlock(std::ostream& out) {
  const ElementaryNetwork& net = elementaryNetwork;
  const int resourceCount = net.resourceCount;
  out << net.nElementary << '\n' << baseNetwork.discountRate << '\n' << resourceCount << '\n';
  if (resourceCount > 0) {
    for (int r = 0; r < resourceCount; ++r) out << baseNetwork.resourceAvailability[r] << ' ';
    out << '\n';
  }
  for (int e = 0; e < net.nElementary; ++e) {
    out << net.elemDuration[e] << ' ' << net.elemRate[e] << ' ' << net.elemCost[e] << ' ' << net.elemPts[e] << ' '
        << net.elemPms[e] << ' ' << net.elemBaseActivity[e];
    const double* use = resourceUseOf(e);
    for (int r = 0; r < resourceCount; ++r) out << ' ' << use[r];
    out << ' ' << net.elemSuccessors[e].size();
    for (size_t i = 0; i < net.elemSuccessors[e].size(); ++i)
      out << ' ' << net.elemSuccessors[e][i] << ' ' << net.elemSuccessorProb[e][i];
    const int transitionType = net.elemSuccessors[e].empty() ? 0 : net.elemSuccTransitionType[e];
    out << ' ' << net.elemModule[e] << ' ' << (net.elemAllowedToIdle[e] ? 1 : 0) << ' ' << transitionType << '\n';
  }
}

std::string activityLabel(const std::string& a) {
  const std::string tag = "[ACT " + a + ": ";
  return tag + "DURATION] " + tag + "EXPONENTIAL RATE] " + tag + "COST] " + tag + "PROBABILITY OF TECHNICAL SUCCESS] " +
         tag + "PROBABILITY OF MODULE SUCCESS] " + tag + "ACTIVITY RESOURCE ID] " + tag + "USE OF RESOURCE 1] " + tag +
         "USE OF RESOURCE 2] ... " + tag + "USE OF RESOURCE r] " + tag + "NUMBER OF SUCCESSORS] " + tag +
         "SUCCESSOR 1] " + tag + "SUCCESSOR 1 PROBABILITY] " + tag + "SUCCESSOR 2] " + tag +
         "SUCCESSOR 2 PROBABILITY] ... " + tag + "SUCCESSOR s] " + tag + "SUCCESSOR s PROBABILITY] " + tag +
         "PARENT MODULE] " + tag + "ALLOWED TO IDLE] " + tag + "SUCCESSOR TRANSITION TYPE]";
}

void writeLegend(std::ostream& out) {
  const std::string bars(52, '|');
  out << '\n' << bars << "\n|||FILE STRUCTURE (COMPRESSED ELEMENTARY NETWORK)|||\n" << bars << "\n\n";
  out << "[NUMBER OF ACTIVITIES (INCLUDING DUMMY-ACTIVITIES)]\n"
         "[DISCOUNT RATE (CONTINUOUS-TIME DISCOUNTING)]\n"
         "[NUMBER OF RENEWABLE RESOURCES]\n"
         "[AVAILABILITY RESOURCE 1] [AVAILABILITY RESOURCE 2] ... [AVAILABILITY RESOURCE r]\n";
  out << activityLabel("1") << '\n' << activityLabel("2") << "\n...\n" << activityLabel("n");
}

}  // namespace

void writeElementaryNetworkFile() {
  const std::unique_ptr<CheckedOutput> file = openOutputFile(OutputFile::kElementaryNetwork);
  writeDataBlock(file->stream());
  writeLegend(file->stream());
  file->finish();
}

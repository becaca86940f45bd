// The .UDC dump: one line per UDC with its state count, predecessor count, members and
// successors, then the legend box shared by all network files.
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "base/config.h"
#include "base/output_files.h"
#include "base/run_state.h"
#include "duration/elementary_network.h"
#include "udc/udc_network.h"
#include "udc/udc_network_file.h"

namespace {

const char* const kUdcLegend =
    "||||||||||||||||||||||||||||||||||\n"
    "|||FILE STRUCTURE (UDC NETWORK)|||\n"
    "||||||||||||||||||||||||||||||||||\n"
    "\n"
    "[NUMBER OF UDCs]\n"
    "[UDC 1: NUMBER OF STATES] [UDC 1: NUMBER OF PREDECESSORS] [UDC 1: NUMBER OF MEMBER ACTIVITIES] "
    "[UDC 1: MEMBER ACTIVITY 1] [UDC 1: MEMBER ACTIVITY 2] ... [UDC 1: MEMBER ACTIVITY n] "
    "[UDC 1: NUMBER OF SUCCESSORS] [UDC 1: SUCCESSOR 1] [UDC 1: SUCCESSOR 2] ... [UDC 1: SUCCESSOR s]\n"
    "[UDC 2: NUMBER OF STATES] [UDC 2: NUMBER OF PREDECESSORS] [UDC 2: NUMBER OF MEMBER ACTIVITIES] "
    "[UDC 2: MEMBER ACTIVITY 1] [UDC 2: MEMBER ACTIVITY 2] ... [UDC 2: MEMBER ACTIVITY n] "
    "[UDC 2: NUMBER OF SUCCESSORS] [UDC 2: SUCCESSOR 1] [UDC 2: SUCCESSOR 2] ... [UDC 2: SUCCESSOR s]\n"
    "...\n"
    "[UDC u: NUMBER OF STATES] [UDC u: NUMBER OF PREDECESSORS] [UDC u: NUMBER OF MEMBER ACTIVITIES] "
    "[UDC u: MEMBER ACTIVITY 1] [UDC u: MEMBER ACTIVITY 2] ... [UDC u: MEMBER ACTIVITY n] "
    "[UDC u: NUMBER OF SUCCESSORS] [UDC u: SUCCESSOR 1] [UDC u: SUCCESSOR 2] ... [UDC u: SUCCESSOR s]";

}  // namespace

void writeUdcNetworkFile() {
  const std::unique_ptr<CheckedOutput> file = openOutputFile(OutputFile::kUdcNetwork);
  std::ostream& out = file->stream();
  const int32_t count = udcNetwork.udcCount;
  // Predecessor counts, for this file only.
  std::vector<uint32_t> predecessors(static_cast<size_t>(count), 0);
  for (int32_t u = 0; u < count; ++u)
    for (uint32_t s : udcSuccessorsOf(u)) ++predecessors[s];
  out << count << '\n';
  for (int32_t u = 0; u < count; ++u) {
    out << udcStateCount(u) << ' ' << predecessors[static_cast<size_t>(u)] << ' ' << udcMemberCount(u);
    forEachUdcMember(u, [&](int32_t e) { out << ' ' << e; });
    const UdcSuccessors successors = udcSuccessorsOf(u);
    out << ' ' << successors.size();
    for (uint32_t s : successors) out << ' ' << s;
    out << '\n';
  }
  out << '\n' << kUdcLegend;
  file->finish();
}

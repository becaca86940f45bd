// RESULTS.CSV and the files of the same layout: the head written once per run, rows appended
// one at a time, each whole or not at all, so that a run stopped early leaves only complete rows.
#include "project/results_file.h"

#include "duration/elementary_network.h"
#include "base/config.h"
#include "base/output_files.h"
#include "base/run_state.h"
#include "udc/udc_network.h"

const char* const kResultsHeaderLead =
    "PROJECT;#ACT;#UDC;#STATES;#ENTRY STATES;MAX #STATES IN MEMORY;MAX UDC SIZE;CPU UDC (SEC)";

void createResultsFile(const std::string& path, const std::string& headerLead, const ObjectiveChoice& objectives) {
  CheckedOutput file(path);
  writeConfigurationBlock(file.stream());
  file.stream() << "\n\n\n" << headerLead << objectiveHeaderColumns(objectives) << '\n';
  file.finish();
}

void appendResultsRow(const std::string& path, const std::string& row) { appendWholeText(path, row + '\n'); }

void writeUdcFields(std::ostream& out, double udcSeconds) {
  const UdcNetwork& udcs = udcNetwork;
  out << ';' << elementaryNetwork.nElementary << ';' << udcs.udcCount << ';' << udcs.udcTotalStates << ';'
      << udcs.udcTotalStates << ';' << udcs.udcPeakStates << ';' << udcs.udcMaxMembers << ';' << udcSeconds;
}

// RESULTS.CSV and the files of the same layout: the head written once per run, rows appended
// one at a time so that a run stopped early leaves only complete rows.
#include "project/results_file.h"

#include <iostream>
#include <set>

#include "duration/elementary_network.h"
#include "base/config.h"
#include "base/run_state.h"
#include "udc/udc_network.h"

const char* const kResultsHeaderLead =
    "PROJECT;#ACT;#UDC;#STATES;#ENTRY STATES;MAX #STATES IN MEMORY;MAX UDC SIZE;CPU UDC (SEC)";

namespace {

// Standard output is the program's exact record, so a lost results file is told on
// stderr, and only once per file: a run over many projects would repeat it per row.
void reportUnopenableFile(const std::string& path) {
  static std::set<std::string> reportedPaths;
  if (reportedPaths.insert(path).second) {
    std::cerr << "tervano: cannot open " << path << " for writing; its rows are lost.\n";
  }
}

}  // namespace

void createResultsFile(const std::string& path, const std::string& headerLead, const ObjectiveChoice& objectives) {
  std::ofstream out(path, std::ios::out | std::ios::trunc);
  if (!out.is_open()) {
    reportUnopenableFile(path);
    return;
  }
  writeConfigurationBlock(out);
  out << "\n\n\n" << headerLead << objectiveHeaderColumns(objectives) << '\n';
  out.flush();
  out.close();
}

void appendResultsRow(const std::string& path, const std::string& row) {
  std::ofstream out(path, std::ios::out | std::ios::app);
  if (!out.is_open()) {
    reportUnopenableFile(path);
    return;
  }
  out << row << '\n';
  out.flush();
  out.close();
}

void writeUdcFields(std::ostream& out, double udcSeconds) {
  const UdcNetwork& udcs = udcNetwork;
  out << ';' << elementaryNetwork.nElementary << ';' << udcs.udcCount << ';' << udcs.udcTotalStates << ';'
      << udcs.udcTotalStates << ';' << udcs.udcPeakStates << ';' << udcs.udcMaxMembers << ';' << udcSeconds;
}

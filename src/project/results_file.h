// RESULTS.CSV and its relatives: configuration block, three empty lines, header row, then
// one row per project appended by open, write, flush, close.
#pragma once
#include <fstream>
#include <string>

#include "project/objectives.h"

// Creates (truncates) the file and writes the configuration block of the settings in force,
// three empty lines and the header row: headerLead followed by the columns of the objectives.
void createResultsFile(const std::string& path, const std::string& headerLead, const ObjectiveChoice& objectives);

// The header lead of RESULTS.CSV: "PROJECT;#ACT;...;CPU UDC (SEC)".
extern const char* const kResultsHeaderLead;

// Appends one row and its line end: open, write, flush, close. The row is assembled
// beforehand, so a run stopped during a solve leaves no half-written row. A file that cannot
// be opened is told on stderr (once per file and run) and the row is lost; createResultsFile
// reports a failure the same way.
void appendResultsRow(const std::string& path, const std::string& row);

// The row's fields from #ACT to CPU UDC (SEC), each preceded by ";"; the caller writes the
// leading column(s) (the project number in RESULTS.CSV) before them.
void writeUdcFields(std::ostream& out, double udcSeconds);

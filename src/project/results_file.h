// RESULTS.CSV and its relatives: configuration block, three empty lines, header row, then
// one row per project appended by open, write, flush, close.
#pragma once
#include <fstream>
#include <string>

#include "project/objectives.h"

// Creates (truncates) the file and writes the configuration block of the settings in force,
// three empty lines and the header row: headerLead followed by the columns of the objectives.
// A name that is a directory or a link, or a failed write, stops the run (no head is left).
void createResultsFile(const std::string& path, const std::string& headerLead, const ObjectiveChoice& objectives);

// The header lead of RESULTS.CSV: "PROJECT;#ACT;...;CPU UDC (SEC)".
extern const char* const kResultsHeaderLead;

// Appends one row and its line end with one write. The row is assembled beforehand, so a run
// stopped during a solve leaves no half-written row; a write that fails or falls short cuts
// the file back to its last complete row and stops the run naming the file and the reason.
void appendResultsRow(const std::string& path, const std::string& row);

// The row's fields from #ACT to CPU UDC (SEC), each preceded by ";"; the caller writes the
// leading column(s) (the project number in RESULTS.CSV) before them.
void writeUdcFields(std::ostream& out, double udcSeconds);

// The .BPN dump of the base network.
#pragma once
#include <ostream>

// PJFileName + projectNumber + ".BPN": the data block, then the legend. A file that cannot
// be created is skipped silently.
void writeBaseNetworkFile();

// The legend's field lines, from "[NUMBER OF ACTIVITIES ..." to the successor line of
// activity n (no line end after it); the instance files of the metrics test reuse them.
void writeBaseNetworkFieldLegend(std::ostream& out);

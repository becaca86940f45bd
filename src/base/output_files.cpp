// The table of network files and the one way they are named and opened.
#include "base/output_files.h"

#include "base/config.h"
#include "base/run_state.h"

const OutputFileRow kOutputFiles[kOutputFileCount] = {
    {OutputFile::kElementaryNetwork, ".EPN", 1},
    {OutputFile::kMarkovNetwork, ".MPN", 2},
    {OutputFile::kBaseNetwork, ".BPN", 3},
    {OutputFile::kUdcNetwork, ".UDC", 4},
    {OutputFile::kPolicy, ".POL", 5},
    {OutputFile::kPolicyTable, ".policy.csv", 5},
};

namespace {

const OutputFileRow& rowOf(OutputFile file) { return kOutputFiles[static_cast<int>(file)]; }

}  // namespace

bool outputFileIsWritten(OutputFile file) { return settingsInForce().gv_CFG_write >= rowOf(file).writeLevel; }

std::string outputFilePath(OutputFile file) {
  return settingsInForce().PJFileName + std::to_string(projectNumber) + rowOf(file).extension;
}

bool openOutputFile(OutputFile file, std::ofstream& out) {
  out.open(outputFilePath(file), std::ios::out | std::ios::trunc);
  return out.is_open();
}

std::vector<std::string> writtenOutputExtensions() {
  std::vector<std::string> extensions;
  for (const OutputFileRow& row : kOutputFiles)
    if (outputFileIsWritten(row.file)) extensions.push_back(row.extension);
  return extensions;
}

// The network files a run writes beside its results, one row each: the extension and the
// write level (gv_CFG_write) from which the file is written. Every writer asks here whether
// its file is written and opens it here, under the name PJFileName + project number +
// extension.
#pragma once
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

enum class OutputFile : uint8_t { kElementaryNetwork, kMarkovNetwork, kBaseNetwork, kUdcNetwork, kPolicy, kPolicyTable };

struct OutputFileRow {
  OutputFile file;
  const char* extension;
  int32_t writeLevel;
};

constexpr int kOutputFileCount = 6;
extern const OutputFileRow kOutputFiles[kOutputFileCount];

// Whether the write level in force asks for the file.
bool outputFileIsWritten(OutputFile file);

// The file of the project in hand.
std::string outputFilePath(OutputFile file);

// Opens the file of the project in hand for writing, replacing it; false when it cannot be
// opened, and the file is then skipped.
bool openOutputFile(OutputFile file, std::ofstream& out);

// The extensions of the files the write level in force asks for, in the table's order.
std::vector<std::string> writtenOutputExtensions();

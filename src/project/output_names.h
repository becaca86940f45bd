// The files a run writes, checked before it writes any against the project files it reads:
// an output that would replace a project file, or whose name is taken by a directory or a
// link, stops the run.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Output files named PJFileName + number + extension for the numbers first .. last.
struct NumberedOutputs {
  int64_t first = 0;
  int64_t last = -1;
  std::vector<std::string> extensions;
};

// Stops the run (nothing written yet) when one of the outputs, numbered or named in the
// working directory, is a project file PJFileName + n + PJFileExt with n from gv_CFG_fnr to
// gv_CFG_lnr; the message names both. An output name that is a directory, a symbolic link or
// another non-file stops it as well: an output is never skipped or written through a link.
void checkOutputNames(const std::vector<NumberedOutputs>& numbered, const std::vector<std::string>& fixedNames);

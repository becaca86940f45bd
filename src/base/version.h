// The program's version, as the build gives it (CMake's project version): shown by
// tervano --version and in the configuration block at the head of every results file.
#pragma once

extern const char* const kProgramVersion;

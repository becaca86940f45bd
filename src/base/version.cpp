// The version string, compiled here alone so that a new version rebuilds one file.
#include "base/version.h"

#ifndef TERVANO_VERSION
#define TERVANO_VERSION "unknown"
#endif

const char* const kProgramVersion = TERVANO_VERSION;

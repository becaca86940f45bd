// The project file layout with every field of every mode (what the data flags that
// forceInstanceDataFlags sets read back): mode 3 writes its instances in it, mode 1 its
// networks.
#pragma once
#include <ostream>

#include "network/base_network.h"

#include "base/config.h"

// The data block, then the legend of the layout.
void writeProjectLayout(std::ostream& out, const BaseNetwork& project);

// The layout carries every field, so the project reader must take every field while the
// SCV and skewness overrides keep their meaning: sets the data flags of settings accordingly.
void forceInstanceDataFlags(RunConfig& settings);

// The per-project pipeline up to the UDCs: read, fit, build the elementary network, release
// the Markovian and the base network, identify. The normal run, the experiment modes, the
// metrics, the solver tests and the memory bench all take a project through this one
// function; what differs between them is told by a ProjectPipeline.
#pragma once
#include <functional>

struct ProjectPipeline {
  // The project file of projectNumber; false: the caller has filled baseNetwork itself.
  bool readFile = true;
  // Changes to the base network once it is read and before its durations are modelled (the
  // values an experiment sets); checking them is the caller's part.
  std::function<void()> adjustBaseNetwork;
  // The console markers "[R]", "[M]" and "[E]" after the stages.
  bool showMarkers = false;
  // A solve follows: the rate spread of the phases is checked before anything is solved.
  bool solveFollows = false;
  // The metrics read the base network beside the UDCs: it then stays until
  // releaseProjectNetworks.
  bool keepBaseNetwork = false;
};

// Runs the stages for the project in hand. Returns whether the UDCs were identified;
// udcSeconds is the processor time of the identification. After a failure the UDC
// network's state totals are 0. Duration models or an elementary network too large for
// gv_CFG_max_mem are not built further: false as well, with refusedMegabytes set.
extern double refusedMegabytes;
bool buildProjectNetworks(const ProjectPipeline& steps, double& udcSeconds);

// Releases the UDC network, the elementary network and, when it was kept, the base network.
void releaseProjectNetworks();

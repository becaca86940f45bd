#include "duration/elementary_network.h"
#include "duration/elementary_network_file.h"
#include "duration/markov_network.h"
#include "duration/markov_network_file.h"
MarkovNetwork markovNetwork;
ElementaryNetwork elementaryNetwork;
PhaseTypeModel fitPhaseType(double, double, double, int, int) { return {}; }
void buildMarkovNetwork() {}
void releaseMarkovNetwork() {}
void writeMarkovNetworkFile() {}
void buildElementaryNetwork() {}
void releaseElementaryNetwork() {}
void writeElementaryNetworkFile() {}

// The .MPN dump of the Markovian network.
#pragma once

void writeMarkovNetworkFile();

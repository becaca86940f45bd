#include "network/base_network.h"
#include "network/base_network_file.h"
BaseNetwork baseNetwork;
void readProjectFile() {}
void releaseBaseNetwork() {}
void writeBaseNetworkFile() {}

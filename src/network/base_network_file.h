// The .BPN dump of the base network.
#pragma once

void writeBaseNetworkFile();

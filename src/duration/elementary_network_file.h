// The .EPN dump of the elementary network.
#pragma once

void writeElementaryNetworkFile();

// The .UDC dump of the UDC network.
#pragma once

void writeUdcNetworkFile();

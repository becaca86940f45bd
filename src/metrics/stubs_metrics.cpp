#include "metrics/network_metrics.h"
void computeNetworkMetrics() {}

// 35 descriptive metrics per project network, one row of METRICS.CSV each.
#pragma once

// For projectNumber gv_CFG_fnr .. gv_CFG_lnr: pipeline up to the UDCs, metrics, release.
void computeNetworkMetrics();

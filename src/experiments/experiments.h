// The three experiment modes of the mode prompt.
#pragma once

// Mode 1: TEST_TOP.DAT, the beta accuracy test, the configuration, then the topology test:
// NETWORKS/NET<n>.dat, TOPTEST_NPV.CSV and TOPTEST_MKSPN.CSV.
void runTopologyTest();
// Mode 2: TEST2.DAT -> RES_T2.CSV.
void runVarianceTest();
// Mode 3: TEST3.DAT -> .T3B instances, METRICS.CSV, RESULTS.CSV.
void runMetricsTest();

// The three experiment modes of the mode prompt.
#pragma once

// Mode 1: reads TEST_TOP.DAT, seeds the generator, runs the beta accuracy test, reads the
// configuration. The topology test itself is not part of this program.
void runTopologyTest();
// Mode 2: TEST2.DAT -> RES_T2.CSV.
void runVarianceTest();
// Mode 3: TEST3.DAT -> .T3B instances, METRICS.CSV, RESULTS.CSV.
void runMetricsTest();

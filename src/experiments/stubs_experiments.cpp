#include "experiments/beta_distribution.h"
#include "experiments/experiments.h"
double betaVariate(double, double) { return 0; }
ScaledBeta fitScaledBeta(double, double) { return {}; }
void runTopologyTest() {}
void runVarianceTest() {}
void runMetricsTest() {}

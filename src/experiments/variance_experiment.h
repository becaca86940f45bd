// Mode 2, the project variance test: TEST2.DAT, the values drawn once per project, the
// structural variants and RES_T2.CSV.
#pragma once
#include <cstdint>
#include <vector>

struct DrawBounds {
  double low = 0;
  double high = 0;
};

struct PayoffSetting {
  int32_t flag = 0;  // not 0: the drawn value is a plain draw in [0, 1]
  double low = 0;
  double high = 0;
};

struct VarianceTestInput {
  std::vector<double> rates;
  int32_t scvMode = 0;  // not 0: the SCV values are factors
  std::vector<double> scvValues;
  // |count| passes each; a count above 0 also replaces the values.
  int32_t ptsSetCount = 0;
  std::vector<DrawBounds> ptsBounds;
  int32_t costSetCount = 0;
  std::vector<DrawBounds> costBounds;
  int32_t payoffCount = 0;
  std::vector<PayoffSetting> payoffSettings;
  int32_t lastVariant = 0;  // variants 0 .. |lastVariant|
};

// Values drawn for one project, per activity and mode.
struct DrawnProjectValues {
  std::vector<std::vector<double>> pts;
  std::vector<std::vector<double>> cost;  // activities 0 .. n - 2
  double payoff = 0;
};

struct VarianceTestTables {
  std::vector<DrawnProjectValues> projects;  // index: project number - gv_CFG_fnr
};

extern VarianceTestInput varianceTestInput;
extern VarianceTestTables varianceTestTables;

// Reads TEST2.DAT; a missing file or a missing value stops the run.
void readVarianceTestInput();
void releaseVarianceTestInput();

// Draws the tables of the one project held in baseNetwork.
DrawnProjectValues drawProjectValues();
// Reads every project of the series, draws its values, releases it again.
void buildVarianceTestTables();
void releaseVarianceTestTables();

// Steps 2 to 6 of a run on the project just read: rate, SCVs, drawn PTSs and costs, pay-off.
void adjustProjectForRun(double rate, double scvValue, const DrawnProjectValues& drawn, int payoffIndex);

// Variants 1, 3, 4 and 5 change the base network; the objective switch of 2 and 5 is the
// caller's. Variant 5 leaves a network of fewer than three activities unchanged.
void applyStructuralVariant(int64_t variant);

extern const char* const kVarianceHeaderLead;

#include "run/config.h"
#include "run/driver.h"
#include "run/fatal.h"
#include "run/random15.h"
#include "run/results_file.h"
#include "run/subset_tables.h"
RunConfig runConfig;
SubsetTables subsetTables;
int32_t projectNumber = 0;
bool useDiskStorage = false;
SolveResult solveResult;
const char* const kResultsHeaderLead = "";
void readConfiguration() {}
void writeConfigurationBlock(std::ostream&) {}
void buildSubsetTables() {}
bool readPromptNumber(long long&) { return false; }
void stopFatal(const std::string&) { throw FatalStop{}; }
void stopFatalWithoutPrompt(const std::string&) { throw FatalStop{}; }
int projectRand() { return 0; }
void projectSrand(unsigned) {}
std::string objectiveHeaderColumns() { return {}; }
void createResultsFile(const std::string&, const std::string&) {}
void openResultsForAppend(std::ofstream&, const std::string&) {}
void writeUdcFields(std::ostream&, double) {}
int runProgram() { return 0; }
void runNormal() {}
void buildProjectNetworks() {}
bool identifyProjectUdcs(double&) { return false; }
void solveProject(std::ostream&) {}
void runProject() {}

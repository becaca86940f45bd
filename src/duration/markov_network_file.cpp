// The .MPN dump: the base network with every mode's phase-type model, then the legend.
#include "duration/markov_network_file.h"

#include <fstream>
#include <string>

#include "base/config.h"
#include "base/output_files.h"
#include "base/run_state.h"
#include "duration/markov_network.h"
#include "network/base_network.h"

namespace {

void writeDataBlock(std::ostream& out) {
  const int resourceCount = baseNetwork.resourceCount;
  out << baseNetwork.activityCount << '\n' << baseNetwork.discountRate << '\n' << resourceCount << '\n';
  if (resourceCount > 0) {
    for (int r = 0; r < resourceCount; ++r) out << baseNetwork.resourceAvailability[r] << ' ';
    out << '\n';
  }
  for (size_t a = 0; a < baseNetwork.activities.size(); ++a) {
    const Activity& activity = baseNetwork.activities[a];
    out << activity.modes.size() << '\n';
    for (size_t m = 0; m < activity.modes.size(); ++m) {
      const ExecutionMode& mode = activity.modes[m];
      out << mode.duration << ' ' << mode.scv << ' ' << mode.skewness << ' ' << mode.cost << ' ' << mode.pts << ' '
          << mode.pms;
      for (int r = 0; r < resourceCount; ++r) out << ' ' << mode.resourceUse[r];
      out << '\n';
      const PhaseTypeModel& model = markovNetwork.models[a][m];
      out << model.phaseCount;
      for (double probability : model.initialProbability) out << ' ' << probability;
      out << '\n';
      for (int p = 0; p < model.phaseCount; ++p) {
        out << model.generator[p][0];
        for (int q = 1; q < model.phaseCount; ++q) out << ' ' << model.generator[p][q];
        out << ' ' << model.absorptionRate[p] << '\n';
      }
    }
    out << activity.successors.size();
    for (int successor : activity.successors) out << ' ' << successor;
    out << ' ' << activity.parentModule << '\n';
  }
}

std::string modeLabel(const std::string& a, const std::string& m) {
  const std::string tag = "[ACT " + a + " MODE " + m + ": ";
  return tag + "DURATION] " + tag + "DURATION SCV] " + tag + "DURATION SKEWNESS] " + tag + "COST] " + tag +
         "PROBABILITY OF TECHNICAL SUCCESS] " + tag + "PROBABILITY OF MODULE SUCCESS] " + tag + "USE OF RESOURCE 1] " +
         tag + "USE OF RESOURCE 2] ... " + tag + "USE OF RESOURCE r]";
}

std::string generatorLabel(const std::string& a, const std::string& m, const std::string& p) {
  const std::string tag = "[ACT " + a + " MODE " + m + ": INFINITESIMAL GENERATOR RATE: PHASE " + p + " -> ";
  return tag + "PHASE 1] " + tag + "PHASE 2] ... " + tag + "PHASE z] " + tag + "ABSORBING STATE]";
}

void writeModeGroupLabel(std::ostream& out, const std::string& a, const std::string& m) {
  out << modeLabel(a, m) << '\n';
  out << "[ACT " << a << " MODE " << m
      << ": NUMBER OF PHASES] [PHASE 1 INITIAL PROBABILITY] [PHASE 2 INITIAL PROBABILITY] ... [PHASE z "
         "INITIAL PROBABILITY]\n";
  out << generatorLabel(a, m, "1") << '\n'
      << generatorLabel(a, m, "2") << "\n...\n"
      << generatorLabel(a, m, "z") << '\n';
}

std::string successorLabel(const std::string& a) {
  return "[NUMBER OF SUCCESSORS FOR ACTIVITY " + a + "] [ACT " + a + ": SUCCESSOR 1] [ACT " + a +
         ": SUCCESSOR 2] ... [ACT " + a + ": SUCCESSOR s] [ACTIVITY " + a + " PARENT MODULE]";
}

void writeActivityLabel(std::ostream& out, const std::string& a) {
  writeModeGroupLabel(out, a, "1");
  writeModeGroupLabel(out, a, "2");
  out << "...\n";
  writeModeGroupLabel(out, a, "m");
  out << successorLabel(a);
}

void writeLegend(std::ostream& out) {
  const std::string bars(48, '|');
  out << '\n' << bars << "\n|||FILE STRUCTURE (MARKOVIAN PROJECT NETWORK)|||\n" << bars << "\n\n";
  out << "[NUMBER OF ACTIVITIES (INCLUDING DUMMY-ACTIVITIES)]\n"
         "[DISCOUNT RATE (CONTINUOUS-TIME DISCOUNTING)]\n"
         "[NUMBER OF RENEWABLE RESOURCES]\n"
         "[AVAILABILITY RESOURCE 1] [AVAILABILITY RESOURCE 2] ... [AVAILABILITY RESOURCE r]\n"
         "[NUMBER OF EXECUTION MODES FOR ACTIVITY 1]\n";
  writeActivityLabel(out, "1");
  out << '\n';
  writeActivityLabel(out, "2");
  out << "\n...\n\n";
  writeActivityLabel(out, "n");
}

}  // namespace

void writeMarkovNetworkFile() {
  const std::unique_ptr<CheckedOutput> file = openOutputFile(OutputFile::kMarkovNetwork);
  writeDataBlock(file->stream());
  writeLegend(file->stream());
  file->finish();
}

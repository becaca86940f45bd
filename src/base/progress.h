// Progress of a long identification or solve: how many UDCs are done, how many states have
// been walked, at what rate, and an estimate of the rest. The stages make one cheap call per
// UDC; the clock is read only every so many UDCs or states, and what is shown goes to
// standard error (replaced in place, at most once a second, once a phase has run a few
// seconds) and to a progress file that a batch reads (rewritten whole, at most once a
// second). Nothing of it is on unless the program's options turn it on, so the library's
// other callers (the tests, the benchmarks) never see it.
#pragma once
#include <cstdint>
#include <limits>
#include <string>

enum class ProgressPhase : uint8_t { kIdentify, kSolve };

// Where progress goes, as the program's options and its standard error give it.
struct ProgressOutput {
  bool onStandardError = false;   // the line on standard error
  bool trackConsoleLine = false;  // standard output is the same terminal: its line is kept
  std::string filePath;           // the progress file, or empty
};

// The phase in hand. The counts are read by the slow path only; the next checks are set so
// that the per-UDC call stays two additions and two comparisons.
struct ProgressRecord {
  bool wanted = false;
  bool running = false;
  ProgressPhase phase = ProgressPhase::kIdentify;
  int64_t udcsDone = 0;
  int64_t udcsTotal = 0;  // 0 while not known (identification)
  int64_t udcsKnown = 0;  // UDCs found so far (identification)
  uint64_t states = 0;
  uint64_t statesTotal = 0;  // 0 while not known
  int64_t nextCheckUdcs = std::numeric_limits<int64_t>::max();
  uint64_t nextCheckStates = std::numeric_limits<uint64_t>::max();
};

extern ProgressRecord progressRecord;

// Turns progress on as told (the program, once, before the run).
void configureProgress(const ProgressOutput& output);

// Removes the progress file; the program calls it on every way out.
void finishProgress();

// Reads the clock and shows or writes progress when it is due.
void checkProgressClock();

// One call per UDC done, with its states; udcsKnown is the number of UDCs found so far while
// their total is not known (identification), else 0.
inline void noteUdcProgress(uint64_t statesOfUdc, int64_t udcsKnown = 0) {
  ProgressRecord& record = progressRecord;
  ++record.udcsDone;
  record.states += statesOfUdc;
  if (record.udcsDone >= record.nextCheckUdcs || record.states >= record.nextCheckStates) {
    record.udcsKnown = udcsKnown;
    checkProgressClock();
  }
}

// A phase from its start to its end, also when a stop unwinds through it: the line on
// standard error is cleared at the end.
class ProgressPhaseScope {
 public:
  ProgressPhaseScope(ProgressPhase phase, int64_t udcsTotal, uint64_t statesTotal);
  ~ProgressPhaseScope();
  ProgressPhaseScope(const ProgressPhaseScope&) = delete;
  ProgressPhaseScope& operator=(const ProgressPhaseScope&) = delete;
};

// The fields of the progress file, one line: "project=1 phase=solve udcs_done=..." (for the
// tests and the file writer).
std::string progressFileLine(const ProgressRecord& record, int32_t project, double elapsedSeconds);

// The progress line on standard error and the progress file. The line is redrawn with a
// carriage return; where standard output is the same terminal, the console line that stands
// unfinished on it (the project's markers, its UDC count) is kept in front of the progress
// and put back when the progress goes, so that the console reads as it would without it.
#include "base/progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <streambuf>

#include "base/run_state.h"

ProgressRecord progressRecord;

namespace {

using Clock = std::chrono::steady_clock;

// The clock is read every so many UDCs, or sooner in UDCs of many states.
constexpr int64_t kCheckEveryUdcs = 16;
constexpr uint64_t kCheckEveryStates = 1u << 16;
// A phase shows on standard error once it has run this long; the line and the file are
// renewed at most once a second.
constexpr double kShowAfterSeconds = 3.0;
constexpr double kRenewSeconds = 1.0;
// The console line kept is cut at this length: a longer one is no line a terminal shows whole.
constexpr size_t kMaxConsoleLine = 512;

// Passes standard output through and keeps the text since its last line end; before anything
// more is written, the progress line is taken away.
class ConsoleLineBuffer : public std::streambuf {
 public:
  explicit ConsoleLineBuffer(std::streambuf* target) : target_(target) {}
  const std::string& line() const { return line_; }

 protected:
  int overflow(int c) override {
    if (c == traits_type::eof()) return traits_type::not_eof(c);
    beforeOutput();
    keep(static_cast<char>(c));
    return target_->sputc(static_cast<char>(c));
  }
  std::streamsize xsputn(const char* text, std::streamsize count) override {
    beforeOutput();
    for (std::streamsize i = 0; i < count; ++i) keep(text[i]);
    return target_->sputn(text, count);
  }
  int sync() override { return target_->pubsync(); }

 private:
  void keep(char c) {
    if (c == '\n')
      line_.clear();
    else if (line_.size() < kMaxConsoleLine)
      line_.push_back(c);
  }
  static void beforeOutput();

  std::streambuf* target_;
  std::string line_;
};

struct ProgressWork {
  ProgressOutput output;
  ConsoleLineBuffer* console = nullptr;
  std::streambuf* consoleTarget = nullptr;  // standard output's own buffer
  Clock::time_point phaseStart;
  Clock::time_point lastLine;
  Clock::time_point lastFile;
  bool fileWritten = false;
  bool fileFailed = false;
  bool lineShown = false;
  size_t shownLength = 0;  // of the progress text after the console line
};

ProgressWork work;

double secondsSince(Clock::time_point start, Clock::time_point now) {
  return std::chrono::duration<double>(now - start).count();
}

const std::string& consoleLine() {
  static const std::string none;
  return work.console != nullptr ? work.console->line() : none;
}

void writeToStandardError(const std::string& text) {
  std::fputs(text.c_str(), stderr);
  std::fflush(stderr);
}

// Puts the console line back as it stood, the cursor after it.
void clearLine() {
  if (!work.lineShown) return;
  const std::string& line = consoleLine();
  writeToStandardError("\r" + line + std::string(work.shownLength, ' ') + "\r" + line);
  work.lineShown = false;
  work.shownLength = 0;
}

void ConsoleLineBuffer::beforeOutput() { clearLine(); }

int terminalColumns() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 0;
}

// 1234, 12345, 1.23M, 4.56G: counts as a reader takes them in at a glance.
std::string shortCount(double count) {
  std::ostringstream text;
  text.setf(std::ios::fixed);
  text.precision(2);
  if (count >= 1e9)
    text << count / 1e9 << 'G';
  else if (count >= 1e6)
    text << count / 1e6 << 'M';
  else
    text << static_cast<long long>(std::llround(count));
  return text.str();
}

std::string clockText(double seconds) {
  const long long whole = std::llround(seconds);
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
  return text;
}

double statesPerSecond(const ProgressRecord& record, double elapsed) {
  return elapsed > 0 ? static_cast<double>(record.states) / elapsed : 0.0;
}

// The rest of a solve from its states still to come; unknown while identifying.
double etaSeconds(const ProgressRecord& record, double elapsed) {
  const double rate = statesPerSecond(record, elapsed);
  if (record.statesTotal == 0 || rate <= 0 || record.states > record.statesTotal) return -1;
  return static_cast<double>(record.statesTotal - record.states) / rate;
}

std::string lineText(const ProgressRecord& record, double elapsed) {
  std::ostringstream text;
  text << "[project " << projectNumber << ' ';
  if (record.phase == ProgressPhase::kIdentify) {
    text << "identify: " << record.udcsDone << " UDCs";
    if (record.udcsKnown > record.udcsDone) text << " of " << record.udcsKnown << " found";
    text << ", " << shortCount(static_cast<double>(record.states)) << " states";
  } else {
    text << "solve: " << record.udcsDone << '/' << record.udcsTotal << " UDCs";
  }
  text << ", " << shortCount(statesPerSecond(record, elapsed)) << " states/s";
  const double eta = etaSeconds(record, elapsed);
  if (eta >= 0) text << ", ~" << clockText(eta) << " left";
  text << ']';
  return text.str();
}

void showLine(const ProgressRecord& record, double elapsed) {
  std::cout.flush();
  std::fflush(stdout);
  const std::string& line = consoleLine();
  std::string text(line.empty() ? 0 : 1, ' ');
  text += lineText(record, elapsed);
  // A line that wraps cannot be redrawn with a carriage return.
  const int columns = terminalColumns();
  if (columns > 0) {
    const long room = static_cast<long>(columns) - 1 - static_cast<long>(line.size());
    if (room < 12) return;
    if (static_cast<long>(text.size()) > room) text.resize(static_cast<size_t>(room));
  }
  const size_t padding = work.shownLength > text.size() ? work.shownLength - text.size() : 0;
  writeToStandardError("\r" + line + text + std::string(padding, ' ') + "\r" + line + text);
  work.lineShown = true;
  work.shownLength = text.size();
}

// PATH.tmp, then renamed over PATH: a reader sees the old line or the new one, never half.
void writeFile(const ProgressRecord& record, double elapsed) {
  const std::string& path = work.output.filePath;
  const std::string temporary = path + ".tmp";
  bool written = false;
  {
    std::ofstream out(temporary, std::ios::out | std::ios::trunc);
    if (out.is_open()) {
      out << progressFileLine(record, projectNumber, elapsed) << '\n';
      out.close();
      written = !out.fail();
    }
  }
  if (written) written = std::rename(temporary.c_str(), path.c_str()) == 0;
  if (!written) {
    std::remove(temporary.c_str());
    if (!work.fileFailed) writeToStandardError("tervano: cannot write the progress file " + path + "\n");
    work.fileFailed = true;
    return;
  }
  work.fileWritten = true;
}

void setNextChecks(ProgressRecord& record) {
  record.nextCheckUdcs = record.udcsDone + kCheckEveryUdcs;
  record.nextCheckStates = record.states + kCheckEveryStates;
}

}  // namespace

std::string progressFileLine(const ProgressRecord& record, int32_t project, double elapsedSeconds) {
  const double eta = etaSeconds(record, elapsedSeconds);
  std::ostringstream line;
  line << "project=" << project << " phase=" << (record.phase == ProgressPhase::kIdentify ? "identify" : "solve")
       << " udcs_done=" << record.udcsDone << " udcs_total=" << record.udcsTotal << " states=" << record.states
       << " states_per_second=" << std::llround(statesPerSecond(record, elapsedSeconds))
       << " eta_seconds=" << (eta < 0 ? -1 : std::llround(eta));
  return line.str();
}

void configureProgress(const ProgressOutput& output) {
  work.output = output;
  progressRecord.wanted = output.onStandardError || !output.filePath.empty();
  if (output.onStandardError && output.trackConsoleLine && work.console == nullptr) {
    // Never freed: standard output may be flushed after every static object is gone.
    work.console = new ConsoleLineBuffer(std::cout.rdbuf());
    work.consoleTarget = std::cout.rdbuf(work.console);
  }
}

void finishProgress() {
  clearLine();
  if (work.console != nullptr) std::cout.rdbuf(work.consoleTarget);
  if (work.output.filePath.empty()) return;
  std::remove(work.output.filePath.c_str());
  std::remove((work.output.filePath + ".tmp").c_str());
}

void checkProgressClock() {
  ProgressRecord& record = progressRecord;
  setNextChecks(record);
  const Clock::time_point now = Clock::now();
  const double elapsed = secondsSince(work.phaseStart, now);
  if (!work.output.filePath.empty() && secondsSince(work.lastFile, now) >= kRenewSeconds) {
    work.lastFile = now;
    writeFile(record, elapsed);
  }
  if (work.output.onStandardError && elapsed >= kShowAfterSeconds &&
      (!work.lineShown || secondsSince(work.lastLine, now) >= kRenewSeconds)) {
    work.lastLine = now;
    showLine(record, elapsed);
  }
}

ProgressPhaseScope::ProgressPhaseScope(ProgressPhase phase, int64_t udcsTotal, uint64_t statesTotal) {
  ProgressRecord& record = progressRecord;
  const bool wanted = record.wanted;
  record = ProgressRecord{};
  record.wanted = wanted;
  if (!wanted) return;
  record.running = true;
  record.phase = phase;
  record.udcsTotal = udcsTotal;
  record.statesTotal = statesTotal;
  setNextChecks(record);
  const Clock::time_point now = Clock::now();
  work.phaseStart = now;
  // A batch learns at once that the project has reached this phase.
  if (!work.output.filePath.empty() && (!work.fileWritten || secondsSince(work.lastFile, now) >= kRenewSeconds)) {
    work.lastFile = now;
    writeFile(record, 0.0);
  }
}

ProgressPhaseScope::~ProgressPhaseScope() {
  ProgressRecord& record = progressRecord;
  if (!record.running) return;
  record.running = false;
  record.nextCheckUdcs = std::numeric_limits<int64_t>::max();
  record.nextCheckStates = std::numeric_limits<uint64_t>::max();
  clearLine();
}

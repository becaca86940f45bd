// Entry point. A fatal stop unwinds to here, so the console is flushed and the run ends with a
// failure status instead of an abort; so does running out of memory (a project too large for
// the machine), with one line on standard error, and SIGINT or SIGTERM, which end the run with
// 128 + the signal once every state file has been removed on the way out. The progress file,
// when one is kept, goes on every way out.
#include <unistd.h>

#include <cstdint>
#include <iostream>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "app/driver.h"
#include "base/config.h"
#include "base/fatal.h"
#include "base/interrupt.h"
#include "base/progress.h"
#include "base/threads.h"
#include "base/version.h"

namespace {

// After "tervano <version>".
const char* const kHelpText =
    ": optimal expected NPV or minimal expected makespan of stochastic projects.\n"
    "\n"
    "Usage: tervano [--progress] [--progress-file PATH] [--threads N]\n"
    "                                    run in the working directory; a long identification\n"
    "                                    or solve shows its progress on standard error when\n"
    "                                    that is a terminal (--progress: also when it is not),\n"
    "                                    and with --progress-file also in PATH, one line of\n"
    "                                    key=value fields rewritten at most once a second and\n"
    "                                    removed at the end; identification and the solve\n"
    "                                    run on N threads (default: the cores the process may\n"
    "                                    use; 1 is a run on one core), with the same results\n"
    "                                    for every N\n"
    "       tervano --help | -h          this text\n"
    "       tervano --version            the version\n"
    "       tervano --config-template [KEY=VALUE ...]\n"
    "                                    print a complete CONFIG.DAT: the example's values,\n"
    "                                    the keys given replaced\n"
    "       tervano --check-config       check CONFIG.DAT in the working directory as a run\n"
    "                                    would, and say why it would be refused\n"
    "\n"
    "Run tervano inside a working directory that holds CONFIG.DAT (71 lines: the project file\n"
    "names, the objectives, the data the files carry) and the project files PJFileName + n +\n"
    "PJFileExt that it names. The program asks for a mode on standard input:\n"
    "  0 the normal run, 1 the topology test (TEST_TOP.DAT), 2 the project variance\n"
    "  test (TEST2.DAT), 3 the metrics test (TEST3.DAT); any other answer (a word, none)\n"
    "  runs nothing and is answered with the choices.\n"
    "It reports one console line per project and writes RESULTS.CSV (and the other outputs of\n"
    "the mode) in the working directory, then waits for a key. Exit status: 0 after the end\n"
    "prompt, 1 after a fatal error, 2 for a refused argument, configuration (the options\n"
    "above) or mode answer, 128 + the signal after SIGINT or SIGTERM.\n"
    "\n"
    "The reference, with the layout of every file and the values accepted, is README.md at the\n"
    "root of the source tree.\n";

int refuse(const std::string& why) {
  std::cerr << "tervano: " << why << '\n';
  return 2;
}

int refuseUnknown(const std::string& argument) {
  return refuse("unknown argument '" + argument +
                "'. tervano takes no arguments besides the options of tervano --help; it reads CONFIG.DAT in the "
                "working directory.");
}

// KEY=VALUE pairs, each value the whole rest of its argument.
int printConfigTemplate(int argc, char** argv) {
  std::vector<std::pair<std::string, std::string>> values;
  for (int i = 2; i < argc; ++i) {
    const std::string pair = argv[i];
    const size_t equals = pair.find('=');
    if (equals == std::string::npos || equals == 0)
      return refuse("--config-template takes KEY=VALUE pairs, not '" + pair + "'.");
    values.emplace_back(pair.substr(0, equals), pair.substr(equals + 1));
  }
  try {
    std::cout << configurationTemplate(values);
  } catch (const ConfigProblem& problem) {
    return refuse(problem.what);
  }
  return 0;
}

int checkConfigFile() {
  try {
    checkConfigurationFile();
  } catch (const ConfigProblem& problem) {
    return refuse(problem.what);
  }
  return 0;
}

// The options besides a run: any other argument is refused rather than ignored.
int answerArguments(int argc, char** argv) {
  const std::string argument = argv[1];
  if (argc == 2 && (argument == "--help" || argument == "-h")) {
    std::cout << "tervano " << kProgramVersion << kHelpText;
    return 0;
  }
  if (argc == 2 && argument == "--version") {
    std::cout << "tervano " << kProgramVersion << '\n';
    return 0;
  }
  if (argument == "--config-template") return printConfigTemplate(argc, argv);
  if (argc == 2 && argument == "--check-config") return checkConfigFile();
  return refuseUnknown(argument);
}

bool isRunOption(const std::string& argument) {
  return argument == "--progress" || argument == "--progress-file" || argument == "--threads";
}

// A whole number from 1 to kMaxThreads, nothing else in the argument.
constexpr int32_t kMaxThreads = 4096;
bool readThreadCount(const std::string& text, int32_t& count) {
  if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  const int value = std::stoi(text);
  if (value < 1 || value > kMaxThreads) return false;
  count = value;
  return true;
}

// The options of a run; false (after the refusal) for anything else among them.
bool readRunOptions(int argc, char** argv, ProgressOutput& progress, int32_t& threads, int& status) {
  bool asked = false;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--progress") {
      asked = true;
    } else if (argument == "--progress-file") {
      if (i + 1 >= argc || std::string(argv[i + 1]).empty()) {
        status = refuse("--progress-file takes the path of the file: --progress-file PATH.");
        return false;
      }
      progress.filePath = argv[++i];
    } else if (argument == "--threads") {
      if (i + 1 >= argc || !readThreadCount(argv[i + 1], threads)) {
        status = refuse("--threads takes the number of threads, a whole number from 1 to " +
                        std::to_string(kMaxThreads) + ": --threads N.");
        return false;
      }
      ++i;
    } else {
      status = refuseUnknown(argument);
      return false;
    }
  }
  const bool terminal = isatty(STDERR_FILENO) == 1;
  progress.onStandardError = asked || terminal;
  progress.trackConsoleLine = terminal && isatty(STDOUT_FILENO) == 1;
  return true;
}

// Removes the progress file on the way out, whichever way that is.
struct ProgressEnd {
  ~ProgressEnd() { finishProgress(); }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && !isRunOption(argv[1])) return answerArguments(argc, argv);
  ProgressOutput progress;
  int refused = 0;
  int32_t threads = usableCoreCount();
  if (!readRunOptions(argc, argv, progress, threads, refused)) return refused;
  threadSettings.count = threads;
  installInterruptHandlers();
  configureProgress(progress);
  ProgressEnd progressEnd;
  try {
    return runProgram();
  } catch (const FatalStop&) {
    std::cout.flush();
    return 1;
  } catch (const InterruptStop& stop) {
    std::cout.flush();
    std::cerr << "tervano: stopped by signal " << stop.signal << "; the rows written so far are complete.\n";
    return 128 + stop.signal;
  } catch (const std::bad_alloc&) {
    std::cout.flush();
    std::cerr << "tervano: out of memory\n";
    return 1;
  }
}

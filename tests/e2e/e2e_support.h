// Test support: scratch working directories, a CONFIG.DAT builder, console capture, and a
// runner that starts the built program in a working directory with its prompts answered.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/config.h"

namespace e2e {

namespace fs = std::filesystem;

inline fs::path makeTemporaryDirectory(const char* prefix) {
  std::string pattern = (fs::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return fs::path(buffer.data());
}

inline std::string readWholeFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void writeWholeFile(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

// A small, quick NPV run: the values that differ from the shipped example's.
inline const std::map<std::string, std::string>& quickRunValues() {
  static const std::map<std::string, std::string> values = {
      {"PJFileName", "P"},          {"gv_CFG_lnr", "1"},        {"gv_bits", "16"},
      {"gv_CFG_mxn_UDC", "100000"}, {"gv_CFG_max_mem", "1000"}, {"gv_CFG_cost_data", "0"},
  };
  return values;
}

// A CONFIG.DAT text: nine banner lines, then label and value line per key of the program's
// table. Values not given in overrides are those of a quick run, else the example's; the
// labels only name the key.
inline std::string configText(const std::map<std::string, std::string>& overrides = {}) {
  std::ostringstream text;
  for (int line = 0; line < 9; ++line) text << "||||  test configuration  ||||\n";
  for (const ConfigKey& key : kConfigKeys) {
    std::string value = key.exampleValue;
    if (auto quick = quickRunValues().find(key.name); quick != quickRunValues().end()) value = quick->second;
    if (auto given = overrides.find(key.name); given != overrides.end()) value = given->second;
    text << "[" << key.name << "]\n" << value << '\n';
  }
  for (const auto& [name, value] : overrides) {
    bool known = false;
    for (const ConfigKey& key : kConfigKeys) known = known || name == key.name;
    if (!known) throw std::invalid_argument("unknown configuration key " + name);
  }
  return text.str();
}

// CPU times vary from run to run; everything else in the console text is exact.
inline std::string maskCpuTimes(const std::string& console) {
  std::string masked;
  size_t from = 0;
  for (size_t at = console.find("CPU[", from); at != std::string::npos; at = console.find("CPU[", from)) {
    const size_t close = console.find(']', at);
    if (close == std::string::npos) break;
    masked.append(console, from, at - from).append("CPU[*]");
    from = close + 1;
  }
  return masked.append(console, from, std::string::npos);
}

struct RunOutput {
  std::string console;
  std::string errors;
  int exitCode = -1;      // -1 when the program did not exit by itself
  int signal = 0;         // the signal that ended it, if one did
  bool timedOut = false;  // killed after the time limit
};

// The built program started in a working directory with its standard streams on files.
// Every run has a time limit, so a hang fails the test instead of blocking the suite.
struct RunningProgram {
  pid_t pid = -1;
  fs::path out;
  fs::path err;

  // addressSpaceBytes, where not 0, limits the program's address space (RLIMIT_AS).
  RunningProgram(const fs::path& work, const fs::path& in, const fs::path& outPath, const fs::path& errPath,
                 const std::vector<std::string>& arguments = {}, uint64_t addressSpaceBytes = 0)
      : out(outPath), err(errPath) {
    std::vector<std::string> argv = {TERVANO_BINARY};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
      const int inFd = open(in.c_str(), O_RDONLY);
      const int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (inFd < 0 || outFd < 0 || errFd < 0 || chdir(work.c_str()) != 0) _exit(126);
      if (addressSpaceBytes != 0) {
        const rlimit limit{addressSpaceBytes, addressSpaceBytes};
        if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(126);
      }
      dup2(inFd, 0);
      dup2(outFd, 1);
      dup2(errFd, 2);
      std::vector<char*> pointers;
      for (std::string& text : argv) pointers.push_back(text.data());
      pointers.push_back(nullptr);
      execv(pointers[0], pointers.data());
      _exit(127);
    }
  }

  void sendSignal(int signal) const { kill(pid, signal); }

  // Waits for the end, killing the program after limitSeconds.
  RunOutput finish(double limitSeconds = 120) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(limitSeconds);
    int status = 0;
    RunOutput output;
    for (;;) {
      const pid_t done = waitpid(pid, &status, WNOHANG);
      if (done == pid) break;
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        output.timedOut = true;
        break;
      }
      usleep(2000);
    }
    output.console = readWholeFile(out);
    output.errors = readWholeFile(err);
    output.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    output.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return output;
  }
};

// A fresh working directory for one run of the built program; removed with its files.
struct WorkDirectory {
  fs::path root = makeTemporaryDirectory("tervano-e2e");
  fs::path work = root / "work";

  WorkDirectory() { fs::create_directory(work); }
  ~WorkDirectory() {
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }
  WorkDirectory(const WorkDirectory&) = delete;
  WorkDirectory& operator=(const WorkDirectory&) = delete;

  void write(const std::string& name, const std::string& text) const { writeWholeFile(work / name, text); }
  std::string read(const std::string& name) const { return readWholeFile(work / name); }
  bool exists(const std::string& name) const { return fs::exists(work / name); }

  std::vector<std::string> fileNames() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(work)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  // Starts the program here with stdinText as its standard input.
  RunningProgram start(const std::string& stdinText, const std::vector<std::string>& arguments = {}) const {
    writeWholeFile(root / "stdin.txt", stdinText);
    return RunningProgram(work, root / "stdin.txt", root / "stdout.txt", root / "stderr.txt", arguments);
  }

  // Runs the program here under a limit of its address space.
  RunOutput runWithinAddressSpace(const std::string& stdinText, uint64_t bytes,
                                  const std::vector<std::string>& arguments = {}) const {
    writeWholeFile(root / "stdin.txt", stdinText);
    return RunningProgram(work, root / "stdin.txt", root / "stdout.txt", root / "stderr.txt", arguments, bytes)
        .finish();
  }

  // Runs the program here with stdinText as its standard input, within a time limit.
  RunOutput run(const std::string& stdinText, double limitSeconds = 120,
                const std::vector<std::string>& arguments = {}) const {
    return start(stdinText, arguments).finish(limitSeconds);
  }
};

// For unit tests: makes a fresh directory the working directory until destroyed.
struct ScratchDirectory {
  fs::path previous = fs::current_path();
  fs::path path = makeTemporaryDirectory("tervano-unit");

  ScratchDirectory() { fs::current_path(path); }
  ~ScratchDirectory() {
    std::error_code ignored;
    fs::current_path(previous, ignored);
    fs::remove_all(path, ignored);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  void write(const std::string& name, const std::string& text) const { writeWholeFile(path / name, text); }
  std::string read(const std::string& name) const { return readWholeFile(path / name); }
  bool exists(const std::string& name) const { return fs::exists(path / name); }
};

// Captures std::cout and feeds std::cin from a text until destroyed.
struct ConsoleCapture {
  std::ostringstream captured;
  std::istringstream input;
  std::streambuf* previousOut;
  std::streambuf* previousIn;

  explicit ConsoleCapture(const std::string& inputText = "")
      : input(inputText), previousOut(std::cout.rdbuf(captured.rdbuf())), previousIn(std::cin.rdbuf(input.rdbuf())) {
    std::cin.clear();
  }
  ~ConsoleCapture() {
    std::cout.rdbuf(previousOut);
    std::cin.rdbuf(previousIn);
    std::cin.clear();
  }
  ConsoleCapture(const ConsoleCapture&) = delete;
  ConsoleCapture& operator=(const ConsoleCapture&) = delete;

  std::string text() const { return captured.str(); }
};

}  // namespace e2e

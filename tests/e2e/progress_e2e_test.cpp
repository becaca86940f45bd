// The progress line of a long project: on standard error when that is a terminal (a
// pseudo-terminal here), redrawn in place with a carriage return, and never on standard output
// or on a standard error that is a file, where only the run's own text goes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>

#include "e2e/e2e_support.h"
#include "e2e/j30_first.h"

namespace {

// j301_1 at SCV 0.5: millions of UDCs, seconds of identification and solve, longer than the
// progress waits before it shows.
void writeLongProject(const e2e::WorkDirectory& dir) {
  dir.write("CONFIG.DAT", e2e::configText({{"gv_CFG_OBJ", "1"},
                                           {"gv_CFG_SCV", "0.5"},
                                           {"gv_bits", "40"},
                                           {"gv_CFG_mxn_UDC", "100000000"},
                                           {"gv_CFG_max_mem", "0"}}));
  dir.write("P1.RCP", e2e::kJ30First);
}

// A pseudo-terminal whose master end the test reads; the program opens the slave by its path.
struct PseudoTerminal {
  int master = -1;
  std::string slavePath;

  PseudoTerminal() {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
    if (const char* name = ptsname(master)) slavePath = name;
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  }
  ~PseudoTerminal() {
    if (master >= 0) close(master);
  }
  std::string readAvailable() const {
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
    return text;
  }
};

}  // namespace

TEST(ProgressE2e, ShownOnATerminalNeverInAFileOrOnStandardOutput) {
  PseudoTerminal terminal;
  ASSERT_FALSE(terminal.slavePath.empty()) << "no pseudo-terminal";
  {
    e2e::WorkDirectory dir;
    writeLongProject(dir);
    dir.write("stdin.txt", "0\n0\n");
    // Standard error on the terminal; started by hand, since a run's helper reads its standard
    // error back as a file, which a terminal is not.
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      const int in = open((dir.work / "stdin.txt").c_str(), O_RDONLY);
      const int out = open((dir.root / "stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err = open(terminal.slavePath.c_str(), O_WRONLY | O_NOCTTY);
      if (in < 0 || out < 0 || err < 0 || chdir(dir.work.c_str()) != 0) _exit(126);
      dup2(in, 0);
      dup2(out, 1);
      dup2(err, 2);
      execl(TERVANO_BINARY, TERVANO_BINARY, static_cast<char*>(nullptr));
      _exit(127);
    }
    std::string shown;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (shown.find("states/s]") == std::string::npos && std::chrono::steady_clock::now() < deadline &&
           waitpid(pid, nullptr, WNOHANG) == 0) {
      shown += terminal.readAvailable();
      usleep(20000);
    }
    kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
    shown += terminal.readAvailable();
    const std::string console = e2e::readWholeFile(dir.root / "stdout.txt");
    ASSERT_NE(shown.find("states/s]"), std::string::npos) << shown;
    EXPECT_NE(shown.find("\r[project 1 "), std::string::npos) << shown;
    EXPECT_TRUE(shown.find("identify: ") != std::string::npos || shown.find("solve: ") != std::string::npos) << shown;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGINT) << status;
    EXPECT_EQ(console.find("[project"), std::string::npos) << console;
  }
  {
    // The same project with standard error in a file, run past the moment the line would show.
    e2e::WorkDirectory dir;
    writeLongProject(dir);
    e2e::RunningProgram program = dir.start("0\n0\n");
    sleep(5);
    program.sendSignal(SIGINT);
    const e2e::RunOutput output = program.finish(60);
    EXPECT_EQ(output.errors, "tervano: stopped by signal 2; the rows written so far are complete.\n");
    EXPECT_EQ(output.console.find("[project"), std::string::npos) << output.console;
  }
}

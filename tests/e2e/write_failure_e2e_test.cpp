// The built program on a disk that fills up (a file size limit, SIGXFSZ ignored, stands in
// for it): at every point a run stops with the file and the reason and status 1, and what it
// leaves is the complete output of a run that ended there: whole files and whole rows.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/resource.h>

#include "e2e/e2e_support.h"

namespace {

struct LimitedRun {
  std::string console;
  std::string errors;
  int exitCode = -1;
};

// The program in work with its files limited to `limit` bytes; the standard streams go to
// pipes, which no file size limit reaches.
LimitedRun runWithFileSizeLimit(const e2e::fs::path& work, const std::string& input, rlim_t limit) {
  int in[2], out[2], err[2];
  if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = fork();
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit size{limit, limit};
    if (setrlimit(RLIMIT_FSIZE, &size) != 0 || chdir(work.c_str()) != 0) _exit(126);
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    execl(TERVANO_BINARY, TERVANO_BINARY, static_cast<char*>(nullptr));
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  if (write(in[1], input.data(), input.size()) != static_cast<ssize_t>(input.size())) ADD_FAILURE();
  close(in[1]);
  LimitedRun run;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* texts[2] = {&run.console, &run.errors};
  for (int open = 2; open > 0;) {
    if (poll(fds, 2, 60000) <= 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        texts[i]->append(buffer, static_cast<size_t>(got));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  int status = 0;
  waitpid(pid, &status, 0);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

// RESULTS.CSV with its CPU columns masked (they vary from run to run).
std::string maskCpuColumns(const std::string& results) {
  std::istringstream lines(results);
  std::string line, masked;
  std::vector<bool> cpuColumn;
  while (std::getline(lines, line)) {
    std::vector<std::string> fields;
    std::istringstream split(line);
    for (std::string field; std::getline(split, field, ';');) fields.push_back(field);
    if (line.rfind("PROJECT;#ACT", 0) == 0) {
      for (const std::string& field : fields) cpuColumn.push_back(field.find("CPU") != std::string::npos);
    } else {
      for (size_t i = 0; i < fields.size() && i < cpuColumn.size(); ++i)
        if (cpuColumn[i]) fields[i].assign(1, '*');
    }
    for (size_t i = 0; i < fields.size(); ++i) {
      if (i > 0) masked.push_back(';');
      masked.append(fields[i]);
    }
    masked += '\n';
  }
  return masked;
}

}  // namespace

TEST(WriteFailureE2e, EveryCutLeavesWholeFilesAndRowsAndSaysSo) {
  // The basic example at the highest write level: every network file, the policies, the rows.
  const e2e::fs::path example = e2e::fs::path(TERVANO_SOURCE_DIR) / "examples" / "basic";
  auto prepare = [&](const e2e::WorkDirectory& dir) {
    for (const auto& entry : e2e::fs::directory_iterator(example))
      dir.write(entry.path().filename().string(), e2e::readWholeFile(entry.path()));
    const std::string config = dir.read("CONFIG.DAT");
    const std::string label = "[gv_CFG_write].\n";
    const size_t at = config.find(label) + label.size();
    dir.write("CONFIG.DAT", config.substr(0, at) + "5" + config.substr(config.find('\n', at)));
  };
  e2e::WorkDirectory reference;
  prepare(reference);
  const LimitedRun whole = runWithFileSizeLimit(reference.work, "0\n0\n", RLIM_INFINITY);
  ASSERT_EQ(whole.exitCode, 0) << whole.console << whole.errors;
  ASSERT_TRUE(reference.exists("PROJECT_3.POL"));
  size_t largest = 0;
  for (const std::string& name : reference.fileNames())
    largest = std::max<size_t>(largest, e2e::fs::file_size(reference.work / name));
  const std::string results = maskCpuColumns(reference.read("RESULTS.CSV"));

  // Limits from none at all to just short of the largest file, through the rows' ends.
  std::vector<rlim_t> limits = {0, 1, 100};
  const size_t resultsSize = e2e::fs::file_size(reference.work / "RESULTS.CSV");
  for (size_t cut = resultsSize / 2; cut < resultsSize; cut += 37) limits.push_back(cut);
  for (size_t cut = 1000; cut < largest; cut = cut * 3 / 2) limits.push_back(cut);
  limits.push_back(largest - 1);
  for (rlim_t limit : limits) {
    SCOPED_TRACE("limit " + std::to_string(limit));
    e2e::WorkDirectory dir;
    prepare(dir);
    const LimitedRun run = runWithFileSizeLimit(dir.work, "0\n0\n", limit);
    EXPECT_EQ(run.exitCode, 1) << run.console << run.errors;
    EXPECT_NE(run.errors.find("tervano: Unable to "), std::string::npos) << run.errors;
    EXPECT_NE(run.errors.find(": File too large."), std::string::npos) << run.errors;
    EXPECT_NE(run.console.find("\nPress any key to quit..."), std::string::npos);
    for (const std::string& name : dir.fileNames()) {
      const std::string text = dir.read(name);
      if (name != "RESULTS.CSV") {
        EXPECT_EQ(text, reference.read(name)) << name;
        continue;
      }
      // RESULTS.CSV: the reference cut at a line end, head complete or absent.
      EXPECT_TRUE(text.empty() || text.back() == '\n');
      const std::string masked = maskCpuColumns(text);
      EXPECT_EQ(results.compare(0, masked.size(), masked), 0) << text;
      EXPECT_NE(text.find("PROJECT;#ACT"), std::string::npos);
    }
  }
}

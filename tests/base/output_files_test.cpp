// The checked writes every output goes through: a failed or short write (a file size limit
// stands in for a full disk) stops with the file and the reason and leaves nothing cut; a
// name taken by a directory or a link is refused before anything is written.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <string>

#include "base/config.h"
#include "base/fatal.h"
#include "base/output_files.h"
#include "e2e/e2e_support.h"
#include "project/output_names.h"

namespace {

struct StderrCapture {
  std::ostringstream captured;
  std::streambuf* previous = std::cerr.rdbuf(captured.rdbuf());
  ~StderrCapture() { std::cerr.rdbuf(previous); }
};

// Files of this process stop growing at `bytes`: a write past it takes what fits and then
// fails with EFBIG (SIGXFSZ ignored), as a disk that fills up does with ENOSPC.
struct FileSizeLimit {
  rlimit previous{};
  void (*previousHandler)(int);
  explicit FileSizeLimit(rlim_t bytes) : previousHandler(signal(SIGXFSZ, SIG_IGN)) {
    getrlimit(RLIMIT_FSIZE, &previous);
    rlimit limit = previous;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &previous);
    signal(SIGXFSZ, previousHandler);
  }
};

std::string textOf(size_t size) {
  std::string text;
  for (size_t i = 0; text.size() < size; ++i) text += std::to_string(i) + ' ';
  text.resize(size);
  return text;
}

}  // namespace

TEST(CheckedOutput, WholeFilesOfEverySizeAreWrittenExactly) {
  e2e::ScratchDirectory dir;
  dir.write("F.TXT", "older and longer contents than the new ones\n");
  for (size_t size : {size_t{0}, size_t{1}, size_t{65535}, size_t{65536}, size_t{200001}}) {
    const std::string text = textOf(size);
    CheckedOutput file("F.TXT");
    // Both ways into the buffer: single characters and blocks larger than it.
    for (size_t i = 0; i < text.size() && i < 1000; ++i) file.stream() << text[i];
    if (text.size() > 1000) file.stream() << text.substr(1000);
    file.finish();
    EXPECT_EQ(dir.read("F.TXT"), text) << size;
  }
}

TEST(CheckedOutput, AFailedWriteStopsNamingFileAndReasonAndRemovesThePart) {
  e2e::ScratchDirectory dir;
  // Limits before, at and after the buffer's size, and one that cuts the last write short.
  for (rlim_t limit : {rlim_t{0}, rlim_t{100}, rlim_t{65536}, rlim_t{150000}}) {
    StderrCapture errors;
    e2e::ConsoleCapture console("\n");
    {
      const FileSizeLimit full(limit);
      CheckedOutput file("P1.POL");
      file.stream() << textOf(160000);
      EXPECT_THROW(file.finish(), FatalStop) << limit;
    }
    EXPECT_FALSE(dir.exists("P1.POL")) << limit;
    EXPECT_EQ(errors.captured.str(),
              "tervano: Unable to write the output file P1.POL: File too large. The part written has been removed.\n");
    EXPECT_NE(console.text().find("Unable to write the output file P1.POL: File too large."), std::string::npos);
  }
}

TEST(CheckedOutput, LeftWithoutFinishOrDiscardedTheFileGoes) {
  e2e::ScratchDirectory dir;
  {
    CheckedOutput file("A.UDC");
    file.stream() << "half of it";
  }
  EXPECT_FALSE(dir.exists("A.UDC"));
  CheckedOutput kept("B.UDC");
  kept.stream() << "all of it";
  kept.discard();
  EXPECT_FALSE(dir.exists("B.UDC"));
}

TEST(CheckedOutput, CreateOnlyLeavesATakenNameAlone) {
  e2e::ScratchDirectory dir;
  dir.write("N1.RCP", "the user's own network\n");
  e2e::fs::create_symlink("nowhere/N2.RCP", dir.path / "N2.RCP");
  for (const char* name : {"N1.RCP", "N2.RCP"}) {
    CheckedOutput file(name, CheckedOutput::Open::kCreateOnly);
    EXPECT_FALSE(file.created()) << name;
    file.finish();
  }
  EXPECT_EQ(dir.read("N1.RCP"), "the user's own network\n");
  EXPECT_FALSE(e2e::fs::exists(dir.path / "nowhere"));
  CheckedOutput fresh("N3.RCP", CheckedOutput::Open::kCreateOnly);
  ASSERT_TRUE(fresh.created());
  fresh.stream() << "written now\n";
  fresh.finish();
  EXPECT_EQ(dir.read("N3.RCP"), "written now\n");
}

TEST(AppendWholeText, ARowIsWrittenWholeOrTheFileIsCutBack) {
  e2e::ScratchDirectory dir;
  const std::string head = "HEAD;A;B\n1;2;3\n";
  const std::string row = "2;" + textOf(300) + "\n";
  for (rlim_t limit : {rlim_t{head.size()}, rlim_t{head.size() + 1}, rlim_t{head.size() + row.size() - 1}}) {
    dir.write("RESULTS.CSV", head);
    StderrCapture errors;
    e2e::ConsoleCapture console("\n");
    {
      const FileSizeLimit full(limit);
      EXPECT_THROW(appendWholeText("RESULTS.CSV", row), FatalStop) << limit;
    }
    EXPECT_EQ(dir.read("RESULTS.CSV"), head) << limit;
    EXPECT_EQ(errors.captured.str(),
              "tervano: Unable to write a row of RESULTS.CSV: File too large. The file ends "
              "with its last complete row.\n");
  }
  {
    const FileSizeLimit roomForOne(head.size() + row.size());
    appendWholeText("RESULTS.CSV", row);
  }
  EXPECT_EQ(dir.read("RESULTS.CSV"), head + row);
  e2e::ConsoleCapture console("\n");
  StderrCapture errors;
  EXPECT_THROW(appendWholeText("missing-dir/RESULTS.CSV", row), FatalStop);
  EXPECT_EQ(
      errors.captured.str(),
      "tervano: Unable to open the output file missing-dir/RESULTS.CSV for writing: No such file or directory.\n");
}

// A directory or a link in an output's place, found by the open itself and by the check of
// the names before a run writes anything; the link's target is never touched.
TEST(OutputNames, DirectoriesAndLinksInAnOutputsPlaceStopBeforeAnyWrite) {
  e2e::ScratchDirectory dir;
  dir.write("target.txt", "outside contents\n");
  e2e::fs::create_directory(dir.path / "P2.POL");
  e2e::fs::create_symlink("target.txt", dir.path / "P3.EPN");
  e2e::fs::create_symlink("target.txt", dir.path / "RESULTS.CSV");
  struct Case {
    std::string name;
    std::string kind;
  };
  for (const Case& c :
       {Case{"P2.POL", "a directory"}, Case{"P3.EPN", "a symbolic link"}, Case{"RESULTS.CSV", "a symbolic link"}}) {
    const std::string message = "The output file " + c.name + " is " + c.kind +
                                "; the run writes its outputs only as regular files and never through a link. "
                                "Remove or rename it; nothing has been written to it.";
    {
      e2e::ConsoleCapture console("\n");
      StderrCapture errors;
      EXPECT_THROW(CheckedOutput file(c.name), FatalStop);
      EXPECT_EQ(errors.captured.str(), "tervano: " + message + "\n");
    }
    {
      e2e::ConsoleCapture console("\n");
      StderrCapture errors;
      EXPECT_THROW(appendWholeText(c.name, "row\n"), FatalStop);
      EXPECT_EQ(errors.captured.str(), "tervano: " + message + "\n");
    }
  }
  EXPECT_EQ(dir.read("target.txt"), "outside contents\n");

  runConfig = RunConfig{};
  runConfig.PJFileName = "P";
  runConfig.PJFileExt = ".RCP";
  runConfig.gv_CFG_fnr = 1;
  runConfig.gv_CFG_lnr = 3;
  struct NameCase {
    std::vector<NumberedOutputs> numbered;
    std::vector<std::string> fixed;
    std::string refused;  // empty: accepted
  };
  const NameCase cases[] = {
      {{{1, 3, {".MPN", ".POL"}}}, {}, "P2.POL"}, {{{1, 1, {".EPN", ".POL"}}}, {}, ""},
      {{{3, 3, {".EPN"}}}, {}, "P3.EPN"},         {{{1, 3, {".UDC"}}}, {"RESULTS.CSV"}, "RESULTS.CSV"},
      {{{1, 3, {".UDC"}}}, {"RES_T2.CSV"}, ""},   {{{4, 9, {".POL", ".EPN"}}}, {}, ""},
  };
  for (const NameCase& c : cases) {
    e2e::ConsoleCapture console("\n");
    StderrCapture errors;
    if (c.refused.empty()) {
      EXPECT_NO_THROW(checkOutputNames(c.numbered, c.fixed));
    } else {
      EXPECT_THROW(checkOutputNames(c.numbered, c.fixed), FatalStop);
      EXPECT_NE(errors.captured.str().find("The output file " + c.refused + " is "), std::string::npos)
          << errors.captured.str();
    }
  }
  runConfig = RunConfig{};
}

// The files a run writes: the table of network files (extension and the write level
// (gv_CFG_write) from which each is written, named PJFileName + project number + extension),
// and the one way every output is opened and written. A write is checked to the last byte:
// a failed or short write stops the run naming the file and the reason, and leaves no part
// of what it was writing behind. A name that is a directory or a symbolic link is never
// written through.
#pragma once
#include <cstdint>
#include <memory>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

enum class OutputFile : uint8_t {
  kElementaryNetwork,
  kMarkovNetwork,
  kBaseNetwork,
  kUdcNetwork,
  kPolicy,
  kPolicyTable
};

struct OutputFileRow {
  OutputFile file;
  const char* extension;
  int32_t writeLevel;
};

constexpr int kOutputFileCount = 6;
extern const OutputFileRow kOutputFiles[kOutputFileCount];

// Whether the write level in force asks for the file.
bool outputFileIsWritten(OutputFile file);

// The file of the project in hand.
std::string outputFilePath(OutputFile file);

// The extensions of the files the write level in force asks for, in the table's order.
std::vector<std::string> writtenOutputExtensions();

// Why a name cannot take an output ("a directory", "a symbolic link", ...), or "" when it is
// free or a regular file. Looks at the name itself (lstat), never through a link.
std::string unwritableOutputKind(const std::string& path);

// Stops the run (nothing written) when path is a directory, a link or another non-file.
void refuseUnwritableOutputName(const std::string& path);

// The stop of a failed write: the message on standard error (standard output may be on the
// full disk) and as the fatal stop.
[[noreturn]] void stopWriteFailure(const std::string& message);

// The buffer behind a CheckedOutput: whole blocks written with write(2), the first error kept.
class CheckedFileBuffer : public std::streambuf {
 public:
  explicit CheckedFileBuffer(int descriptor);
  // Writes what is buffered; false after any failed or short write.
  bool flushAll();
  int error() const { return error_; }

 protected:
  int_type overflow(int_type c) override;
  int sync() override;
  std::streamsize xsputn(const char* text, std::streamsize count) override;

 private:
  bool writeOut(const char* data, size_t size);
  int descriptor_;
  int error_ = 0;
  std::vector<char> buffer_;
};

// One output file written whole. The constructor opens it (replacing it, or with
// kCreateOnly only when no file of that name exists, see created()); finish() writes the
// rest, checks every write and the close, and stops the run on a failure after removing the
// file. A CheckedOutput left without finish() (a stop on the way) removes its file.
class CheckedOutput {
 public:
  enum class Open : uint8_t { kReplace, kCreateOnly };
  explicit CheckedOutput(std::string path, Open how = Open::kReplace);
  ~CheckedOutput();
  CheckedOutput(const CheckedOutput&) = delete;
  CheckedOutput& operator=(const CheckedOutput&) = delete;

  // False only for kCreateOnly when the name was taken already (nothing is then written).
  bool created() const { return descriptor_ >= 0; }
  std::ostream& stream() { return *stream_; }
  const std::string& path() const { return path_; }
  void finish();
  // Closes and removes the file: what was written is not to be kept.
  void discard();

 private:
  std::string path_;
  int descriptor_ = -1;
  std::unique_ptr<CheckedFileBuffer> buffer_;
  std::unique_ptr<std::ostream> stream_;
};

// Opens the network file `file` of the project in hand for writing, replacing it.
std::unique_ptr<CheckedOutput> openOutputFile(OutputFile file);

// Appends text to path (created when missing) with one write: it reaches the file whole or
// the file is cut back to its length before, and the run stops naming the file and the reason.
void appendWholeText(const std::string& path, const std::string& text);

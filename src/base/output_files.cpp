// The table of network files, and the checked open and write every output goes through.
#include "base/output_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <utility>

#include "base/config.h"
#include "base/fatal.h"
#include "base/run_state.h"

const OutputFileRow kOutputFiles[kOutputFileCount] = {
    {OutputFile::kElementaryNetwork, ".EPN", 1},
    {OutputFile::kMarkovNetwork, ".MPN", 2},
    {OutputFile::kBaseNetwork, ".BPN", 3},
    {OutputFile::kUdcNetwork, ".UDC", 4},
    {OutputFile::kPolicy, ".POL", 5},
    {OutputFile::kPolicyTable, ".policy.csv", 5},
};

namespace {

const OutputFileRow& rowOf(OutputFile file) { return kOutputFiles[static_cast<int>(file)]; }

constexpr size_t kBufferBytes = size_t{1} << 16;

std::string reasonOf(int error) { return std::strerror(error != 0 ? error : ENOSPC); }

// Writes all of data, resuming after a signal and after a short write; the error that ended
// it, or 0. A write that takes nothing counts as a full disk.
int writeAll(int descriptor, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(descriptor, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return errno;
    if (written == 0) return ENOSPC;
    data += written;
    size -= static_cast<size_t>(written);
  }
  return 0;
}

int closeChecked(int descriptor) {
  // Linux releases the descriptor even when close reports an error: never retry it.
  return ::close(descriptor) == 0 ? 0 : errno;
}

// O_NOFOLLOW: a link in the output's own name is an error (ELOOP), never followed.
int openForWriting(const std::string& path, int flags) {
  int descriptor;
  do {
    descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | flags, 0666);
  } while (descriptor < 0 && errno == EINTR);
  return descriptor;
}

[[noreturn]] void stopUnopenable(const std::string& path, int error) {
  const std::string kind = unwritableOutputKind(path);
  if (!kind.empty()) refuseUnwritableOutputName(path);
  stopWriteFailure("Unable to open the output file " + path + " for writing: " + reasonOf(error) + ".");
}

}  // namespace

bool outputFileIsWritten(OutputFile file) { return settingsInForce().gv_CFG_write >= rowOf(file).writeLevel; }

std::string outputFilePath(OutputFile file) {
  return settingsInForce().PJFileName + std::to_string(projectNumber) + rowOf(file).extension;
}

std::vector<std::string> writtenOutputExtensions() {
  std::vector<std::string> extensions;
  for (const OutputFileRow& row : kOutputFiles)
    if (outputFileIsWritten(row.file)) extensions.push_back(row.extension);
  return extensions;
}

std::string unwritableOutputKind(const std::string& path) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0) return "";
  if (S_ISREG(status.st_mode)) return "";
  if (S_ISLNK(status.st_mode)) return "a symbolic link";
  if (S_ISDIR(status.st_mode)) return "a directory";
  return "not a regular file";
}

void refuseUnwritableOutputName(const std::string& path) {
  const std::string kind = unwritableOutputKind(path);
  if (kind.empty()) return;
  stopWriteFailure("The output file " + path + " is " + kind +
                   "; the run writes its outputs only as regular files and never through a link. Remove or "
                   "rename it; nothing has been written to it.");
}

[[noreturn]] void stopWriteFailure(const std::string& message) {
  std::cerr << "tervano: " << message << '\n';
  stopFatal(message);
}

CheckedFileBuffer::CheckedFileBuffer(int descriptor) : descriptor_(descriptor), buffer_(kBufferBytes) {
  setp(buffer_.data(), buffer_.data() + buffer_.size());
}

bool CheckedFileBuffer::writeOut(const char* data, size_t size) {
  if (error_ != 0) return false;
  error_ = writeAll(descriptor_, data, size);
  return error_ == 0;
}

bool CheckedFileBuffer::flushAll() {
  const size_t pending = static_cast<size_t>(pptr() - pbase());
  setp(buffer_.data(), buffer_.data() + buffer_.size());
  return writeOut(buffer_.data(), pending) && error_ == 0;
}

CheckedFileBuffer::int_type CheckedFileBuffer::overflow(int_type c) {
  if (!flushAll()) return traits_type::eof();
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}

int CheckedFileBuffer::sync() { return flushAll() ? 0 : -1; }

std::streamsize CheckedFileBuffer::xsputn(const char* text, std::streamsize count) {
  if (error_ != 0) return 0;
  const size_t size = static_cast<size_t>(count);
  if (size <= static_cast<size_t>(epptr() - pptr())) {
    std::memcpy(pptr(), text, size);
    pbump(static_cast<int>(size));
    return count;
  }
  if (!flushAll() || !writeOut(text, size)) return 0;
  return count;
}

CheckedOutput::CheckedOutput(std::string path, Open how) : path_(std::move(path)) {
  // A name taken already is left alone by kCreateOnly, whatever it is (O_EXCL never follows a
  // link): its reader judges it.
  if (how == Open::kReplace) refuseUnwritableOutputName(path_);
  descriptor_ = openForWriting(path_, how == Open::kCreateOnly ? O_EXCL : O_TRUNC);
  if (descriptor_ < 0) {
    if (how == Open::kCreateOnly && errno == EEXIST) return;
    stopUnopenable(path_, errno);
  }
  buffer_ = std::make_unique<CheckedFileBuffer>(descriptor_);
  stream_ = std::make_unique<std::ostream>(buffer_.get());
}

CheckedOutput::~CheckedOutput() { discard(); }

void CheckedOutput::finish() {
  if (descriptor_ < 0) return;
  const bool flushed = buffer_->flushAll();
  int error = flushed ? buffer_->error() : (buffer_->error() != 0 ? buffer_->error() : ENOSPC);
  if (error == 0 && stream_->bad()) error = ENOSPC;
  const int closeError = closeChecked(descriptor_);
  descriptor_ = -1;
  if (error == 0) error = closeError;
  if (error == 0) return;
  ::unlink(path_.c_str());
  stopWriteFailure("Unable to write the output file " + path_ + ": " + reasonOf(error) +
                   ". The part written has been removed.");
}

void CheckedOutput::discard() {
  if (descriptor_ < 0) return;
  ::close(descriptor_);
  descriptor_ = -1;
  ::unlink(path_.c_str());
}

std::unique_ptr<CheckedOutput> openOutputFile(OutputFile file) {
  return std::make_unique<CheckedOutput>(outputFilePath(file));
}

void appendWholeText(const std::string& path, const std::string& text) {
  refuseUnwritableOutputName(path);
  const int descriptor = openForWriting(path, O_APPEND);
  if (descriptor < 0) stopUnopenable(path, errno);
  struct stat status {};
  int error = ::fstat(descriptor, &status) == 0 ? 0 : errno;
  const bool lengthKnown = error == 0;
  if (lengthKnown) error = writeAll(descriptor, text.data(), text.size());
  // A row cut short is worse than none: the next reader would take it for a result.
  if (error != 0 && lengthKnown) {
    int cut;
    do {
      cut = ::ftruncate(descriptor, status.st_size);
    } while (cut != 0 && errno == EINTR);
  }
  const int closeError = closeChecked(descriptor);
  if (error == 0 && closeError == 0) return;
  stopWriteFailure("Unable to write a row of " + path + ": " + reasonOf(error != 0 ? error : closeError) +
                   ". The file ends with its last complete row.");
}

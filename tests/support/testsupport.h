// Test helpers: scratch directories, the seam recorder and the process runner.
#pragma once

#include <sys/time.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qeltest {

// Joins text by appending. g++ 12 at -O2 and above warns falsely (-Wrestrict) inside std::string
// on "literal" + std::string, so tests build names with this instead.
template <typename... Piece>
std::string Cat(const Piece &...piece) {
  std::string s;
  ((s += piece), ...);
  return s;
}

// A fresh, empty directory under the build's scratch area, removed when the object goes.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string &tag);
  ~ScratchDir();
  ScratchDir(const ScratchDir &) = delete;
  ScratchDir &operator=(const ScratchDir &) = delete;
  const std::string &path() const { return path_; }
  std::string file(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Replaces the libraries' clock and pause seam for the life of the object. Pauses return at
// once and are recorded; the clock reads whatever the test sets.
class FakeSystem {
 public:
  FakeSystem();
  ~FakeSystem();
  FakeSystem(const FakeSystem &) = delete;
  FakeSystem &operator=(const FakeSystem &) = delete;

  // Every pause in order, as "usleep N" or "sleep N".
  std::vector<std::string> pauses;
  // The clock: seconds and microseconds. time() reads seconds.
  std::int64_t nowSec = 1796350566;  // Fri Dec  4 02:16:06 2026 UTC
  std::int64_t nowUsec = 0;  // every pause moves the clock on by its length

  // Total of all recorded usleep pauses, in microseconds, plus sleeps as seconds * 1e6.
  std::uint64_t totalMicros() const;
  static FakeSystem *current;
};

struct ProcResult {
  int status = -1;    // exit status, or 128 + signal when killed
  std::string out;    // standard output
  std::string err;    // standard error
  int pid = -1;       // process id (also the emulated program's, which runs in the same process)
};

// Text of the trace file a process wrote into dir: the file whose name ends in ".<pid>" or
// ".<pid>.gz" (decompressed); "" when there is none. Runs HostSh (see there).
std::string TraceOfProcess(const std::string &dir, int pid);

// Path of a built binary or library of this build tree (relative to the build directory).
std::string BuildPath(const std::string &relative);

// Runs a built binary as a process, under the emulator in the cross build. env entries are
// "NAME=VALUE" added to (or replacing in) the test's own environment. When pauseLog is not
// empty the pause shim is preloaded and records into that file. Standard input is empty.
ProcResult RunProcess(const std::vector<std::string> &argv, const std::vector<std::string> &env = {},
                      const std::string &pauseLog = "");

// Standard output of a host shell command that finds `file` in "$F", so that no name needs
// quoting. Sets F in the environment: not to be used while other threads run.
std::string HostSh(const std::string &command, const std::string &file);

// Whole content of a file ("" when it cannot be read).
std::string ReadFile(const std::string &path);
// Lines of a file without their newlines.
std::vector<std::string> ReadLines(const std::string &path);
// Names of the entries in a directory (no "." or ".."), sorted.
std::vector<std::string> ListDir(const std::string &path);

}  // namespace qeltest

// Opens a trace in a scratch directory under a fake clock, and reads it back.
#pragma once

#include <cstdlib>
#include <ctime>
#include <string>

#include "qeldebug.h"
#include "qeldebug_internal.h"
#include "testsupport.h"

namespace qeltest {

class TraceFixture {
 public:
  explicit TraceFixture(const char *utility = "qelses_pcm") : dir_("trace") {
    setenv("TZ", "UTC", 1);
    tzset();
    QEL_ResetElapsedStamp();
    QEL_DebugDir = dirPath_.c_str();
    utility_ = utility;
  }
  ~TraceFixture() {
    Close();
    // The exit handler registered by the open reads QEL_DebugDir at process exit, after this
    // fixture's own directory is gone: leave it pointing at a directory that lasts as long.
    QEL_DebugDir = ProcessTraceDir().c_str();
  }

  // Deliberately never destroyed: static destructors run before exit handlers registered
  // earlier, and the trace exit handler still needs the path.
  static const std::string &ProcessTraceDir() {
    static const ScratchDir *dir = new ScratchDir("trace-exit");
    return dir->path();
  }

  // Opens the trace at the clock's current time.
  int Open() {
    dirPath_ = dir_.path();
    QEL_DebugDir = dirPath_.c_str();
    return QEL_OpenTraceFile(utility_);
  }
  // Closes the trace without the exit handler's compression, so the text can be read.
  void Close() {
    if (QEL_DebugStream != nullptr) std::fclose(QEL_DebugStream);
    QEL_DebugStream = nullptr;
  }
  std::string Text() const { return ReadFile(DebugStreamName); }
  // The trace without its two header lines and the empty line after them.
  std::string Body() const {
    const std::string t = Text();
    const auto pos = t.find("\n\n");
    return pos == std::string::npos ? t : t.substr(pos + 2);
  }
  const ScratchDir &dir() const { return dir_; }
  FakeSystem clock;

 private:
  ScratchDir dir_;
  std::string dirPath_;
  const char *utility_;
};

}  // namespace qeltest

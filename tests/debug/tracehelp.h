// Opens a trace in a scratch directory under a fake clock.
#pragma once

#include <cstdlib>
#include <ctime>
#include <string>

#include "qeldebug.h"
#include "qeldebug_internal.h"
#include "testsupport.h"

struct TraceFixture {
  TraceFixture() {
    setenv("TZ", "UTC", 1);
    tzset();
    QEL_ResetElapsedStamp();
  }
  // The exit handler registered by an open reads QEL_DebugDir at process exit, after this
  // fixture's directory is gone: leave it at one that is never removed (static destructors run
  // before exit handlers registered earlier, so the path is never destroyed either).
  ~TraceFixture() {
    Close();
    static const qeltest::ScratchDir *exitDir = new qeltest::ScratchDir("trace-exit");
    QEL_DebugDir = exitDir->path().c_str();
  }
  // Opens the trace at the clock's current time.
  int Open() {
    QEL_DebugDir = dir.path().c_str();
    return QEL_OpenTraceFile("qelses_pcm");
  }
  // Closes the trace without the exit handler's compression, so the text can be read.
  void Close() {
    if (QEL_DebugStream != nullptr) std::fclose(QEL_DebugStream);
    QEL_DebugStream = nullptr;
  }
  qeltest::ScratchDir dir{"trace"};
  qeltest::FakeSystem clock;
};

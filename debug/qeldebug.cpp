// Trace file: name, header, line prefix with elapsed-time stamp, command-line record.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdlib>
#include <ctime>

#include "qeldebug.h"
#include "qeldebug_internal.h"
#include "qelsys.h"

#ifndef QEL_DEFAULT_TRACE_DIR
#define QEL_DEFAULT_TRACE_DIR "/var/log/qelcfg"
#endif

FILE *QEL_DebugStream = nullptr;
const char *QEL_DebugDir = QEL_DEFAULT_TRACE_DIR;
char DebugStreamName[kDebugStreamNameSize] = "";
const char *UtilityName = nullptr;
std::int32_t QEL_DebugStartTime = 0;
QEL_TimeOfDay QEL_TraceStartTime = {0, 0};

namespace {
constexpr int kLineCommandLine = 1906;
constexpr mode_t kTraceDirMode = 0755;
constexpr mode_t kTraceFileCreateMode = 0666;  // then narrowed by the process's umask
constexpr std::size_t kTimeStringSize = 16;

// ctime text of a trace time ("Fri Dec  4 02:16:06 2026\n"), or a stand-in when the time
// cannot be rendered.
const char *CTimeText(std::int32_t when, char (&buf)[64]) {
  const time_t t = static_cast<time_t>(when);
  if (ctime_r(&t, buf) == nullptr) {
    buf[0] = '\n';
    buf[1] = '\0';
  }
  return buf;
}
}  // namespace

FILE *GetDebugFile() { return QEL_DebugStream; }

void QEL_Trace(const char *module, int line, const char *fmt, ...) {
  FILE *f = GetDebugFile();
  if (f == nullptr) return;
  std::fprintf(f, "%s%s:%d ", GetElapsedMilliSeconds(), module, line);
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(f, fmt, ap);
  va_end(ap);
  std::fflush(f);
}

namespace {
// State of the elapsed-time stamp, kept from one stamp call to the next.
int FirstTime = 1;
std::uint32_t PreviousElapsedMilliSeconds = 0;
char TimeString[kTimeStringSize] = "";
}  // namespace

void QEL_ResetElapsedStamp() {
  FirstTime = 1;
  PreviousElapsedMilliSeconds = 0;
  TimeString[0] = '\0';
}

const char *GetElapsedMilliSeconds() {
  struct timeval now {};
  QEL_GetTimeOfDay(&now);
  // Millisecond counts in 32-bit wrap-around arithmetic; the wrap cancels in the difference.
  const std::uint32_t nowMs = static_cast<std::uint32_t>(now.tv_sec) * 1000u +
                              static_cast<std::uint32_t>(now.tv_usec) / 1000u;
  const std::uint32_t startMs = static_cast<std::uint32_t>(QEL_TraceStartTime.tv_sec) * 1000u +
                                static_cast<std::uint32_t>(QEL_TraceStartTime.tv_usec) / 1000u;
  const std::uint32_t count = nowMs - startMs;
  if (FirstTime != 0) {
    FirstTime = 0;
  } else if (count == PreviousElapsedMilliSeconds) {
    TimeString[0] = '\0';
    return TimeString;
  }
  PreviousElapsedMilliSeconds = count;
  std::snprintf(TimeString, sizeof TimeString, "%d.%03d\n", static_cast<int>(count / 1000u),
                static_cast<int>(count % 1000u));
  return TimeString;
}

int GetElapsedSeconds() {
  return static_cast<int>(static_cast<std::int32_t>(QEL_Time(nullptr)) - QEL_DebugStartTime);
}

int OpenLogFile(const char *name) {
  UtilityName = name;
  QEL_DebugStartTime = static_cast<std::int32_t>(QEL_Time(nullptr));
  struct timeval tv {};
  QEL_GetTimeOfDay(&tv);
  QEL_TraceStartTime.tv_sec = static_cast<std::int32_t>(tv.tv_sec);
  QEL_TraceStartTime.tv_usec = static_cast<std::int32_t>(tv.tv_usec);

  const time_t start = static_cast<time_t>(QEL_DebugStartTime);
  struct tm local {};
  if (localtime_r(&start, &local) == nullptr) return 1;
  const int year = local.tm_year + 1900 >= 2000 ? local.tm_year + 1900 - 2000 : 0;
  const int n = std::snprintf(DebugStreamName, sizeof DebugStreamName,
                              "%s/%s.%02d%02d%02d%02d%02d%02d.%d", QEL_DebugDir, name, year,
                              local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                              local.tm_sec, static_cast<int>(getpid()));
  // A path that does not fit the name buffer is refused: no trace rather than a cut name
  // that could point at another file.
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof DebugStreamName) {
    DebugStreamName[0] = '\0';
    return 1;
  }

  // Created without following a symbolic link planted at the name, so root never truncates
  // another file through it; a refused creation means no trace.
  const int fd = open(DebugStreamName, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC,
                      kTraceFileCreateMode);
  if (fd < 0) return 1;
  QEL_DebugStream = fdopen(fd, "w");
  if (QEL_DebugStream == nullptr) {
    close(fd);
    return 1;
  }
  char when[64];
  std::fprintf(QEL_DebugStream, "Program %s started.\n", name);
  std::fflush(QEL_DebugStream);
  std::fprintf(QEL_DebugStream, "%s\n", CTimeText(QEL_DebugStartTime, when));
  std::fflush(QEL_DebugStream);
  return 0;
}

int QEL_OpenTraceFile(const char *name) {
  int result = 0;
  if (QEL_DebugStream == nullptr) {
    DIR *dir = opendir(QEL_DebugDir);
    if (dir == nullptr) {
      mkdir(QEL_DebugDir, kTraceDirMode);
      dir = opendir(QEL_DebugDir);
    }
    if (dir != nullptr) {
      closedir(dir);
      result = OpenLogFile(name);
    }
  }
  std::atexit(QEL_DebugExitHandler);
  return result;
}

void RecordCommandLine(int argc, char *const argv[]) {
  FILE *f = GetDebugFile();
  if (f == nullptr) return;
  // The words go straight to the stream one by one, so no line buffer bounds the command line
  // and none can be overrun; the trace line reads as "%s\n" applied to the joined words.
  std::fprintf(f, "%s%s:%d ", GetElapsedMilliSeconds(), kQelDebugModule, kLineCommandLine);
  for (int i = 0; i < argc; ++i) {
    std::fputs(argv[i] != nullptr ? argv[i] : "", f);
    std::fputc(' ', f);
  }
  std::fputc('\n', f);
  std::fflush(f);
}

// Exit handler: finishes this run's trace, then, unless the keep-or-delete table drops it,
// compresses the trace directory and holds it within its budget (retention_scan.cpp).
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "qeldebug.h"
#include "qeldebug_internal.h"
#include "qelsys.h"
#include "retention.h"

int UsingIntelligentTracing = 0;
int FinalReturnCode = -99;

// Rows 1 to 28: a listed utility ending with return code 0 loses its trace, with any other
// code keeps it. Row 29 keeps every other utility's trace. Row 30 closes the table.
const IntelligentTraceEntry IntelligentTraceTable[kIntelligentTraceRows] = {
    {"qelxlate", "0", Trace_Delete},
    {"qelxlate", "*", Trace_Keep},
    {"qeladap", "0", Trace_Delete},
    {"qeladap", "*", Trace_Keep},
    {"qeldiag", "0", Trace_Delete},
    {"qeldiag", "*", Trace_Keep},
    {"qelhealthcheck", "0", Trace_Delete},
    {"qelhealthcheck", "*", Trace_Keep},
    {"qelprogress", "0", Trace_Delete},
    {"qelprogress", "*", Trace_Keep},
    {"qelservicemode", "0", Trace_Delete},
    {"qelservicemode", "*", Trace_Keep},
    {"qelses_encvpd", "0", Trace_Delete},
    {"qelses_encvpd", "*", Trace_Keep},
    {"qelses_getdevicedata", "0", Trace_Delete},
    {"qelses_getdevicedata", "*", Trace_Keep},
    {"qelses_getdiskcount", "0", Trace_Delete},
    {"qelses_getdiskcount", "*", Trace_Keep},
    {"qelses_getencserial", "0", Trace_Delete},
    {"qelses_getencserial", "*", Trace_Keep},
    {"qelses_getenctemp", "0", Trace_Delete},
    {"qelses_getenctemp", "*", Trace_Keep},
    {"qelses_healthcheck", "0", Trace_Delete},
    {"qelses_healthcheck", "*", Trace_Keep},
    {"qelses_porterrorcount", "0", Trace_Delete},
    {"qelses_porterrorcount", "*", Trace_Keep},
    {"qelses_resetswapbit", "0", Trace_Delete},
    {"qelses_resetswapbit", "*", Trace_Keep},
    {"*", "*", Trace_Keep},
    {nullptr, nullptr, Entry_Invalid},
};

namespace {
constexpr char kAnyValue[] = "*";
constexpr int kDecimal = 10;
constexpr std::size_t kCTimeSize = 64;

// Set once this run has created its trace file. Only that file is "this run's trace" for the
// compression pass: a name whose creation was refused (a link planted there, say) is not.
bool TraceWasCreated = false;

// The return-code text of a row as a decimal integer: leading blanks and a sign accepted, the
// conversion stopping at the first character that is not a digit.
int RowReturnCode(const char *text) {
  return static_cast<int>(std::strtol(text, nullptr, kDecimal));
}
}  // namespace

const char *DisplayDisposition(int disposition) {
  switch (disposition) {
    case Entry_Invalid:
      return "Entry_Invalid";
    case Trace_Keep:
      return "Trace_Keep";
    case Trace_Delete:
      return "Trace_Delete";
    default:
      return "?";
  }
}

int LookUpDisposition(const char *utility, int returnCode, TraceDisposition *disposition) {
  if (utility == nullptr || disposition == nullptr) return 0;
  for (const IntelligentTraceEntry &row : IntelligentTraceTable) {
    if (row.utility == nullptr) break;  // closing row
    const bool utilityMatches =
        std::strcmp(row.utility, kAnyValue) == 0 || std::strcmp(row.utility, utility) == 0;
    const bool codeMatches = row.returnCode != nullptr &&
                             (std::strcmp(row.returnCode, kAnyValue) == 0 ||
                              RowReturnCode(row.returnCode) == returnCode);
    if (utilityMatches && codeMatches) {
      *disposition = row.disposition;
      return 1;
    }
  }
  return 0;
}

void QEL_DebugExitHandler() {
  const time_t now = QEL_Time(nullptr);
  if (QEL_DebugStream != nullptr) {
    char when[kCTimeSize];
    if (ctime_r(&now, when) == nullptr) when[0] = '\0';
    std::fprintf(QEL_DebugStream, "\nCompleted at %s\n", when);
    std::fflush(QEL_DebugStream);
    // The mode goes on the open file, never through the path, which a link could redirect.
    fchmod(fileno(QEL_DebugStream), kFinishedTraceMode);
    std::fclose(QEL_DebugStream);
    TraceWasCreated = true;
  }
  QEL_DebugStream = nullptr;

  if (UsingIntelligentTracing != 0) {
    TraceDisposition disposition = Entry_Invalid;
    if (LookUpDisposition(UtilityName, FinalReturnCode, &disposition) == 1 &&
        disposition == Trace_Delete) {
      if (DebugStreamName[0] != '\0') QEL_RetentionSys.unlinkFn(DebugStreamName);
      return;
    }
  }

  if (QEL_DebugDir == nullptr) return;
  QEL_TidyTraceDirectory(QEL_DebugDir, TraceWasCreated ? DebugStreamName : nullptr,
                         kTraceRetentionLimits, nullptr);
}

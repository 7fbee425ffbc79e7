#include "fuzz_support.h"

#include <unistd.h>

#include "qeldebug.h"
#include "qeldebug_internal.h"
#include "qelsys.h"

namespace qelfuzz {

// The clock of a run: starts at the same instant for every input and moves one millisecond on
// every reading, so each trace line carries a stamp and runs are repeatable.
static constexpr time_t kRunStart = 1796350566;  // a Friday in December 2026
static std::int64_t clockMicros = 0;
static time_t Now() { return kRunStart + static_cast<time_t>(clockMicros / 1000000); }

static FILE *trace = nullptr;  // the trace stream, kept while a run goes without it

static void Setup(const char *harness) {
  QEL_Sys.usleepFn = [](unsigned int usec) { return clockMicros += usec, 0; };
  QEL_Sys.sleepFn = [](unsigned int seconds) { return clockMicros += std::int64_t{seconds} * 1000000, 0u; };
  QEL_Sys.timeFn = [](time_t *out) { return out != nullptr ? *out = Now() : Now(); };
  QEL_Sys.getTimeOfDayFn = [](timeval *tv) { return clockMicros += 1000, *tv = {Now(), clockMicros % 1000000}, 0; };
  const char *given = std::getenv("QEL_FUZZ_TRACE_DIR");
  static char fresh[] = "/tmp/qelfuzz-trace.XXXXXX";
  QEL_DebugDir = given != nullptr && given[0] != '\0' ? given : mkdtemp(fresh);
  if (QEL_DebugDir != nullptr) QEL_OpenTraceFile(harness);
  if ((trace = QEL_DebugStream) == nullptr) std::fprintf(stderr, "%s: running without a trace\n", harness);
}

Run Begin(const char *harness, const std::uint8_t *data, std::size_t size) {
  [[maybe_unused]] static const bool setUp = (Setup(harness), true);
  Run run{{data, size}};
  run.op = run.u8();
  run.flags = run.u8();
  if ((run.flags & 0x02) != 0) run.serial = run.text(48);
  run.arg = run.u8();
  run.value = (run.arg & 0x80) == 0 ? run.arg : run.u32();
  clockMicros = 0;
  QEL_ResetElapsedStamp();
  if (trace != nullptr && (std::fflush(trace) != 0 || ftruncate(fileno(trace), 0) != 0)) std::perror("empty trace");
  if (trace != nullptr) std::rewind(trace);
  run.traceOn = (QEL_DebugStream = (run.flags & 0x01) == 0 ? trace : nullptr) != nullptr;
  return run;
}

std::string TraceText() {
  std::string text;
  // The stream is write-only: the file is read by its name.
  FILE *in = QEL_DebugStream != nullptr && !std::fflush(QEL_DebugStream) ? std::fopen(DebugStreamName, "r") : nullptr;
  for (int ch = 0; in != nullptr && (ch = std::fgetc(in)) != EOF;) text.push_back(static_cast<char>(ch));
  if (in != nullptr) std::fclose(in);
  return text;
}

}  // namespace qelfuzz

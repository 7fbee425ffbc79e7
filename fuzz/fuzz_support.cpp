#include "fuzz_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <utility>

#include "qeldebug.h"
#include "qeldebug_internal.h"
#include "qelsys.h"

namespace qelfuzz {

std::vector<std::uint8_t> Reader::bytes(std::size_t n) {
  const std::size_t take = n < size_ - pos_ ? n : size_ - pos_;
  pos_ += take;
  return {data_ + pos_ - take, data_ + pos_};
}

std::string Reader::text(std::size_t maxLength) {
  std::string out;
  for (const std::uint8_t b : bytes(u16() % (maxLength + 1))) out.push_back(b == 0 ? ' ' : static_cast<char>(b));
  return out;
}

std::unique_ptr<std::uint8_t[]> Exact(std::size_t n, Reader *r) {
  auto p = std::make_unique<std::uint8_t[]>(n == 0 ? 1 : n);  // zeros
  for (std::size_t i = 0; r != nullptr && i < n; ++i) p[i] = r->u8();
  return p;
}

namespace {

// The clock of a run: starts at the same instant for every input and moves one millisecond on
// every reading, so each trace line carries a stamp and runs are repeatable.
constexpr time_t kRunStart = 1796350566;  // a Friday in December 2026
std::int64_t clockMicros = 0;
time_t Now() { return kRunStart + static_cast<time_t>(clockMicros / 1000000); }

std::string traceDir;
FILE *hidden = nullptr;  // the trace while a run goes without it

}  // namespace

void Setup(const char *harness) {
  QEL_Sys.usleepFn = [](unsigned int usec) { return clockMicros += usec, 0; };
  QEL_Sys.sleepFn = [](unsigned int seconds) { return clockMicros += std::int64_t{seconds} * 1000000, 0u; };
  QEL_Sys.timeFn = [](time_t *out) { return out != nullptr ? *out = Now() : Now(); };
  QEL_Sys.getTimeOfDayFn = [](struct timeval *tv) {
    clockMicros += 1000;
    *tv = {Now(), static_cast<suseconds_t>(clockMicros % 1000000)};
    return 0;
  };
  const char *given = std::getenv("QEL_FUZZ_TRACE_DIR");
  const char *tmp = std::getenv("TMPDIR");
  const bool fresh = given == nullptr || given[0] == '\0';
  traceDir = !fresh ? given : std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/qelfuzz-trace.XXXXXX";
  if (fresh ? mkdtemp(traceDir.data()) == nullptr : mkdir(given, 0755) != 0 && errno != EEXIST) {
    std::fprintf(stderr, "%s: no scratch trace directory, running without a trace\n", harness);
    return;
  }
  QEL_DebugDir = traceDir.c_str();
  QEL_OpenTraceFile(harness);
}

Run Begin(Reader &r) {
  Run run{r.u8(), r.u8(), true, "IRC0001"};
  if ((run.flags & 0x02) != 0) run.serial = r.text(48);
  clockMicros = 0;
  QEL_ResetElapsedStamp();
  if (hidden != nullptr) std::swap(hidden, QEL_DebugStream);  // the last run's trace shown again
  run.traceOn = (run.flags & 0x01) == 0 && QEL_DebugStream != nullptr;
  if (QEL_DebugStream == nullptr) return run;
  std::fflush(QEL_DebugStream);
  if (ftruncate(fileno(QEL_DebugStream), 0) != 0) std::perror("ftruncate trace");
  std::rewind(QEL_DebugStream);
  if (!run.traceOn) std::swap(hidden, QEL_DebugStream);
  return run;
}

std::string TraceText() {
  if (QEL_DebugStream == nullptr) return {};
  std::fflush(QEL_DebugStream);
  std::ifstream in(DebugStreamName, std::ios::binary);  // the stream is write-only: the file is read by its name
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Fail(const char *file, int line, const char *what) {
  std::fprintf(stderr, "%s:%d: property broken: %s\n", file, line, what);
  std::abort();
}

}  // namespace qelfuzz

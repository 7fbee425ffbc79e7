#include "fuzz_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "qeldebug.h"
#include "qeldebug_internal.h"
#include "qelsys.h"

namespace qelfuzz {

std::uint8_t Reader::u8() { return pos_ < size_ ? data_[pos_++] : std::uint8_t{0}; }

std::uint16_t Reader::u16() {
  const auto hi = static_cast<std::uint16_t>(u8());
  return static_cast<std::uint16_t>((hi << 8) | u8());
}

std::uint32_t Reader::u32() {
  const auto hi = static_cast<std::uint32_t>(u16());
  return (hi << 16) | u16();
}

std::vector<std::uint8_t> Reader::bytes(std::size_t n) {
  const std::size_t take = n < remaining() ? n : remaining();
  std::vector<std::uint8_t> out(data_ + pos_, data_ + pos_ + take);
  pos_ += take;
  return out;
}

std::string Reader::text(std::size_t maxLength) {
  const std::size_t want = u16() % (maxLength + 1);
  std::string out;
  for (const std::uint8_t b : bytes(want)) out.push_back(b == 0 ? ' ' : static_cast<char>(b));
  return out;
}

std::vector<std::uint8_t> Reader::rest() { return bytes(remaining()); }

namespace {

// The clock of a run: starts at the same instant for every input and moves one millisecond on
// every reading, so each trace line carries a stamp and runs are repeatable.
constexpr time_t kRunStart = 1796350566;  // a Friday in December 2026
std::int64_t clockMicros = 0;

int NoUSleep(unsigned int usec) {
  clockMicros += usec;
  return 0;
}
unsigned int NoSleep(unsigned int seconds) {
  clockMicros += static_cast<std::int64_t>(seconds) * 1000000;
  return 0;
}
time_t FixedTime(time_t *out) {
  const time_t now = kRunStart + static_cast<time_t>(clockMicros / 1000000);
  if (out != nullptr) *out = now;
  return now;
}
int SteppingTimeOfDay(struct timeval *tv) {
  clockMicros += 1000;
  tv->tv_sec = kRunStart + static_cast<time_t>(clockMicros / 1000000);
  tv->tv_usec = static_cast<suseconds_t>(clockMicros % 1000000);
  return 0;
}

std::string traceDir;

}  // namespace

void Setup(const char *harness) {
  QEL_Sys.usleepFn = NoUSleep;
  QEL_Sys.sleepFn = NoSleep;
  QEL_Sys.timeFn = FixedTime;
  QEL_Sys.getTimeOfDayFn = SteppingTimeOfDay;

  const char *given = std::getenv("QEL_FUZZ_TRACE_DIR");
  if (given != nullptr && given[0] != '\0') {
    traceDir = given;
    mkdir(traceDir.c_str(), 0755);
  } else {
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") +
                          "/qelfuzz-trace.XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr) {
      std::fprintf(stderr, "%s: no scratch trace directory, running without a trace\n", harness);
      return;
    }
    traceDir = name.data();
  }
  QEL_DebugDir = traceDir.c_str();
  QEL_OpenTraceFile(harness);
}

Run::Run(bool traceOn) {
  clockMicros = 0;
  QEL_ResetElapsedStamp();
  if (QEL_DebugStream != nullptr) {
    std::fflush(QEL_DebugStream);
    if (ftruncate(fileno(QEL_DebugStream), 0) != 0) std::perror("ftruncate trace");
    std::rewind(QEL_DebugStream);
    if (!traceOn) {
      hidden_ = QEL_DebugStream;
      QEL_DebugStream = nullptr;
    }
  }
}

Run::~Run() {
  if (hidden_ != nullptr) QEL_DebugStream = static_cast<FILE *>(hidden_);
}

std::string TraceText() {
  FILE *f = QEL_DebugStream;
  if (f == nullptr) return {};
  std::fflush(f);
  // The stream is write-only; the file is read again by its name.
  std::string out;
  FILE *in = std::fopen(DebugStreamName, "rb");
  if (in == nullptr) return out;
  char buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, in)) > 0) out.append(buf, n);
  std::fclose(in);
  return out;
}

void Fail(const char *file, int line, const char *what) {
  std::fprintf(stderr, "%s:%d: property broken: %s\n", file, line, what);
  std::fflush(stderr);
  std::abort();
}

}  // namespace qelfuzz

// What the two fuzzing harnesses share: a front-to-back reader over the fuzz input that decodes
// the head every input starts with and sets the run up, and property checks that keep a failing
// input as a crash.
//
// Every input starts the same way:
//   byte  op      which entry point (taken modulo the harness's table)
//   byte  flags   bit 0: no trace for this run; bit 1: a serial number (text) follows;
//                 bits 2-3: the harness's own
//   text  serial  only when flags bit 1 asks for it (else "IRC0001")
//   byte  arg     a small number or a few option bits of the entry point
//   u32   value   only when arg bit 7 is set (else value is arg): a device number, a length
// then the entry point's own arguments and the answers it is given. A text is a u16 length and
// the characters; numbers are big-endian. Past the end of the input every read yields zeros (or
// nothing), so a short input is still a complete, valid run.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "qeldebug.h"
#include "qeldebug_internal.h"
#include "qelsys.h"

// Reports a broken property and aborts, so libFuzzer keeps the input as a crash.
#define CHECK(cond) \
  ((cond) ? void(0) : (std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #cond), std::abort()))

// The clock of a run: starts at the same instant (a Friday in December 2026) for every input and
// moves one millisecond on every reading, so each trace line carries a stamp and runs repeat.
inline std::int64_t clockMicros = 0;
inline time_t Now() { return 1796350566 + static_cast<time_t>(clockMicros / 1000000); }

struct Run {
  const std::uint8_t *data;
  std::size_t size, pos = 0;
  std::size_t left() const { return size - pos; }
  std::uint8_t u8() { return pos < size ? data[pos++] : std::uint8_t{0}; }
  // The high part first (a local, as the operands of | are read in no set order).
  std::uint16_t u16() { const unsigned hi = u8(); return static_cast<std::uint16_t>(hi << 8 | u8()); }
  std::uint32_t u32() { const std::uint32_t hi = u16(); return hi << 16 | u16(); }
  std::int32_t i32() { return static_cast<std::int32_t>(u32()); }
  std::vector<std::uint8_t> bytes(std::size_t n) { n = std::min(n, left()); return {data + pos, data + (pos += n)}; }
  // Text of at most max bytes; as a C string it ends at its first NUL.
  std::string text(std::size_t max) { const auto b = bytes(u16() % (max + 1)); return {b.begin(), b.end()}; }

  std::uint8_t op = u8(), flags = u8();
  std::string serial = (flags & 0x02) != 0 ? text(48) : "IRC0001";
  std::uint8_t arg = u8();
  std::uint32_t value = (arg & 0x80) == 0 ? arg : u32();
  const char *sn() const { return serial.c_str(); }
  std::int32_t device() const { return static_cast<std::int32_t>(value); }

  static inline Run *current = nullptr;  // the run in progress, for the stand-in transports

  // The first run sets the harness up: the pause and clock seam returns at once, and the trace
  // goes to a scratch directory ($QEL_FUZZ_TRACE_DIR, else "trace" in the harnesses' build
  // directory, never the product's). Every run puts the clock back at its start and empties the
  // trace (and hides it when flags bit 0 asks), so every input runs the same way and a long
  // campaign never fills the disk.
  Run(const char *harness, const std::uint8_t *d, std::size_t n) : data(d), size(n) {
    current = this;
    static FILE *const trace = [harness] {
      QEL_Sys.usleepFn = [](unsigned int usec) { return clockMicros += usec, 0; };
      QEL_Sys.sleepFn = [](unsigned int seconds) { return clockMicros += std::int64_t{seconds} * 1000000, 0u; };
      QEL_Sys.timeFn = [](time_t *out) { return out != nullptr ? *out = Now() : Now(); };
      QEL_Sys.getTimeOfDayFn = [](timeval *tv) { return clockMicros += 1000, *tv = {Now(), clockMicros % 1000000}, 0; };
      if (const char *given = std::getenv("QEL_FUZZ_TRACE_DIR")) QEL_DebugDir = given;
      QEL_OpenTraceFile(harness);
      if (QEL_DebugStream == nullptr) std::fprintf(stderr, "%s: running without a trace\n", harness);
      return QEL_DebugStream;
    }();
    clockMicros = 0;
    QEL_ResetElapsedStamp();
    // rewind writes out what is buffered before the file is cut.
    if (trace != nullptr && (std::rewind(trace), ftruncate(fileno(trace), 0) != 0)) std::perror("empty trace");
    QEL_DebugStream = (flags & 0x01) == 0 ? trace : nullptr;
  }
};

// A heap buffer of exactly n bytes (one for n 0), so a sanitizer sees any byte past what the
// code under test was promised; zeros, or filled from the input (zeros past its end) when r is given.
inline std::unique_ptr<std::uint8_t[]> Exact(std::size_t n, Run *r = nullptr) {
  auto p = std::make_unique<std::uint8_t[]>(n == 0 ? 1 : n);
  for (std::size_t i = 0; r != nullptr && i < n; ++i) p[i] = r->u8();
  return p;
}

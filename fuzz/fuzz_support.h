// Shared pieces of the fuzzing harnesses: a front-to-back reader over the fuzz input, the decode
// of the head every input starts with, and property checks that keep a failing input as a crash.
//
// Every input starts the same way:
//   byte  op      which entry point (taken modulo the harness's table)
//   byte  flags   bit 0: no trace for this run; bit 1: a serial number (text) follows;
//                 bits 2-3: the harness's own
//   text  serial  only when flags bit 1 asks for it (else "IRC0001")
//   byte  arg     a small number or a few option bits of the entry point
//   u32   value   only when arg bit 7 is set (else value is arg): a device number, a length
// then the entry point's own arguments and the answers it is given. A text is a u16 length and
// the characters; numbers are big-endian.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace qelfuzz {

// Reads the input in order from the front. Past the end every read yields zeros (or nothing),
// so a short input is still a complete, valid run.
struct Reader {
  const std::uint8_t *data;
  std::size_t size, pos = 0;
  std::size_t left() const { return size - pos; }
  std::uint8_t u8() { return pos < size ? data[pos++] : std::uint8_t{0}; }
  // Big-endian; the high part first (a local, as the operands of | are read in no set order).
  std::uint16_t u16() { const unsigned hi = u8(); return static_cast<std::uint16_t>(hi << 8 | u8()); }
  std::uint32_t u32() { const std::uint32_t hi = u16(); return hi << 16 | u16(); }
  std::int32_t i32() { return static_cast<std::int32_t>(u32()); }
  // Up to n bytes, fewer when the input ends.
  std::vector<std::uint8_t> bytes(std::size_t n) {
    n = std::min(n, left());
    return {data + pos, data + (pos += n)};
  }
  // Text of at most max bytes; as a C string it ends at its first NUL.
  std::string text(std::size_t max) { const auto b = bytes(u16() % (max + 1)); return {b.begin(), b.end()}; }
};

// A heap buffer of exactly n bytes (one for n 0), so a sanitizer sees any byte past what the
// code under test was promised; zeros, or filled from the input (zeros past its end) when r is given.
inline std::unique_ptr<std::uint8_t[]> Exact(std::size_t n, Reader *r = nullptr) {
  auto p = std::make_unique<std::uint8_t[]>(n == 0 ? 1 : n);
  for (std::size_t i = 0; r != nullptr && i < n; ++i) p[i] = r->u8();
  return p;
}

// One input's run: its head decoded, the reader at the entry point's arguments.
struct Run : Reader {
  std::uint8_t op = 0, flags = 0, arg = 0;
  std::uint32_t value = 0;
  bool traceOn = false;  // the trace is open and not hidden for this run
  std::string serial = "IRC0001";
  const char *sn() const { return serial.c_str(); }
  std::int32_t device() const { return static_cast<std::int32_t>(value); }
};

// Decodes the head. The first call also sets the harness up: the pause and clock seam returns at
// once, and the trace goes to a scratch directory ($QEL_FUZZ_TRACE_DIR, else a fresh one in /tmp).
// Every call puts the clock back at its start and empties the trace (and hides it when flags
// bit 0 asks), so every input runs the same way and a long campaign never fills the disk.
Run Begin(const char *harness, const std::uint8_t *data, std::size_t size);

// The trace text written so far in this run ("" without a trace).
std::string TraceText();

}  // namespace qelfuzz

// Reports a broken property and aborts, so libFuzzer keeps the input as a crash.
#define QELFUZZ_CHECK(cond) \
  ((cond) ? void(0) : (std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #cond), std::abort()))

// Shared pieces of the fuzzing harnesses: a front-to-back reader over the fuzz input, the
// pause and clock seam replaced so that retries cost nothing, and a trace kept open in a
// scratch directory but emptied before every input so a long campaign never fills the disk.
//
// Every harness's input starts the same way: an op byte (which operation), a flags byte
// (bit 0: no trace for this run; bit 1: a serial number from the input), the serial number
// when bit 1 asks for it, then the operation's own arguments and answers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qelfuzz {

// Reads the input in order from the front. Past the end every read yields zeros (or nothing),
// so a short input is still a complete, valid run.
class Reader {
 public:
  Reader(const std::uint8_t *data, std::size_t size) : data_(data), size_(size) {}
  bool empty() const { return pos_ >= size_; }
  std::uint8_t u8() { return pos_ < size_ ? data_[pos_++] : std::uint8_t{0}; }
  // Big-endian, as the pages write numbers (the high part is read first).
  std::uint16_t u16() {
    const unsigned hi = u8();
    return static_cast<std::uint16_t>(hi << 8 | u8());
  }
  std::uint32_t u32() {
    const std::uint32_t hi = u16();
    return hi << 16 | u16();
  }
  std::int32_t i32() { return static_cast<std::int32_t>(u32()); }
  // Up to n bytes (fewer when the input ends); rest() is everything still unread.
  std::vector<std::uint8_t> bytes(std::size_t n);
  std::vector<std::uint8_t> rest() { return bytes(size_ - pos_); }
  // Text of at most maxLength characters: a length byte pair, then the characters (a NUL
  // becomes a blank, so the text ends where its length says).
  std::string text(std::size_t maxLength);

 private:
  const std::uint8_t *data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// A heap buffer of exactly n bytes (one for n 0), so a sanitizer sees any byte past what the
// code under test was promised; filled from the input (zeros past its end) when r is given.
std::unique_ptr<std::uint8_t[]> Exact(std::size_t n, Reader *r = nullptr);

// Points the pause and clock seam at functions that return at once, sends the trace of the
// run into a scratch directory ($QEL_FUZZ_TRACE_DIR, else a fresh one under $TMPDIR or /tmp)
// and opens it under the harness's name. Called once from LLVMFuzzerInitialize.
void Setup(const char *harness);

// One input's run, begun by Begin: the op and flags bytes and the serial number read, the
// clock back at its start, the trace emptied, and hidden for the run when flags bit 0 asks
// (traceOn is false then, and when there is no trace at all).
struct Run {
  std::uint8_t op, flags;
  bool traceOn;
  std::string serial;
};
Run Begin(Reader &r);

// The trace text written so far in this run ("" without a trace).
std::string TraceText();

// Reports a broken property and aborts, so libFuzzer keeps the input as a crash.
[[noreturn]] void Fail(const char *file, int line, const char *what);

}  // namespace qelfuzz

#define QELFUZZ_CHECK(cond)                                  \
  do {                                                       \
    if (!(cond)) ::qelfuzz::Fail(__FILE__, __LINE__, #cond); \
  } while (0)

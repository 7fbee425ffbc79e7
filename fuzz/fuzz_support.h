// Shared pieces of the fuzzing harnesses: a front-to-back reader over the fuzz input, the
// pause and clock seam replaced so that retries cost nothing, and a trace kept open in a
// scratch directory but emptied before every input so a long campaign never fills the disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qelfuzz {

// Reads the input in order from the front. Past the end every read yields zeros (or nothing),
// so a short input is still a complete, valid run.
class Reader {
 public:
  Reader(const std::uint8_t *data, std::size_t size) : data_(data), size_(size) {}

  std::size_t remaining() const { return size_ - pos_; }
  bool empty() const { return pos_ >= size_; }

  std::uint8_t u8();
  std::uint16_t u16();  // big-endian, as the pages write it
  std::uint32_t u32();
  // Up to n bytes (fewer when the input ends).
  std::vector<std::uint8_t> bytes(std::size_t n);
  // Text of at most maxLength characters: a length byte pair, then the characters. The result
  // holds no NUL before its end.
  std::string text(std::size_t maxLength);
  // Everything still unread.
  std::vector<std::uint8_t> rest();

 private:
  const std::uint8_t *data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// Points the pause and clock seam at functions that return at once, sends the trace of the
// run into a scratch directory ($QEL_FUZZ_TRACE_DIR, else a fresh one under $TMPDIR or /tmp)
// and opens it under the harness's name. Called once from LLVMFuzzerInitialize.
void Setup(const char *harness);

// One input's run: clock back to its start, trace emptied, and the trace hidden for the run
// when traceOn is false (so the paths without a trace are fuzzed too).
class Run {
 public:
  explicit Run(bool traceOn);
  ~Run();
  Run(const Run &) = delete;
  Run &operator=(const Run &) = delete;

 private:
  void *hidden_ = nullptr;
};

// The trace text written so far in this run ("" without a trace).
std::string TraceText();

// Reports a broken property and aborts, so libFuzzer keeps the input as a crash.
[[noreturn]] void Fail(const char *file, int line, const char *what);

}  // namespace qelfuzz

#define QELFUZZ_CHECK(cond)                                  \
  do {                                                       \
    if (!(cond)) ::qelfuzz::Fail(__FILE__, __LINE__, #cond); \
  } while (0)

// Scripted SES transport for the page library tests, plus a fixture that opens a trace in a
// scratch directory with the pause seam replaced.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "testsupport.h"

namespace fakeses {

// One scripted answer: the code the call returns and the bytes it stores in the caller's
// buffer (at most the buffer's size; the rest stays as the library left it).
struct Answer {
  std::int32_t rc = 0;
  std::vector<std::uint8_t> bytes;
};

// One recorded call of the transport.
struct Call {
  std::string op;  // "ReadStringPage", "ReadPage" or "WritePage"
  std::string serial;
  std::vector<std::uint8_t> sent;  // request or written page, as many bytes as the size said
  std::uint32_t pageCode = 0;      // ReadPage only
  std::uint32_t inLength = 0;      // response or read length
  std::uint32_t delayMs = 0;       // ReadStringPage only
};

// Answers are taken in order by every call; an unscripted call fails the test.
extern std::deque<Answer> answers;
extern std::vector<Call> calls;

}  // namespace fakeses

// Trace open in a scratch directory, clock and pauses faked, transport script empty.
class TalvikTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Trace lines of module "talvik" as "line message", without the module prefix.
  std::vector<std::string> TraceLines() const;
  // The same without the page dumps (their headers and rows).
  std::vector<std::string> Messages() const;
  std::vector<std::string> Pauses() const { return sys_.pauses; }

  qeltest::ScratchDir scratch_{"talvik"};
  qeltest::FakeSystem sys_;
};

// A page of n bytes, zero except for the given leading bytes.
std::vector<std::uint8_t> Page(std::size_t n, std::initializer_list<std::uint8_t> head);

// Names parameterised cases after their table row's name field.
struct CaseName {
  template <typename P>
  std::string operator()(const ::testing::TestParamInfo<P> &row) const {
    return row.param.name;
  }
};

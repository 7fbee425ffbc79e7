// Shared fixture of the transport's unit tests: a fresh scripted adapter, the pause recorder,
// a closed connection, and the trace lines each test writes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fake_adapter.h"
#include "testsupport.h"

namespace sestest {

// The trace lines written since the last Mark(), without the elapsed-time stamp lines. One
// trace is opened per test process, in a scratch directory.
class TraceTail {
 public:
  TraceTail();
  void Mark();
  std::vector<std::string> Lines() const;

 private:
  std::size_t offset_ = 0;
};

// Lines of `lines` that start with `prefix`.
std::vector<std::string> Matching(const std::vector<std::string> &lines, const std::string &prefix);

// Bytes as "xx xx xx ..." for readable failure output.
std::string Hex(const std::vector<std::uint8_t> &bytes);

class SesTest : public ::testing::Test {
 protected:
  SesTest();
  ~SesTest() override;
  std::vector<std::string> Trace() const { return trace_.Lines(); }
  // Library calls from the first send on, without the open.
  std::vector<std::string> CallsAfterOpen() const;

  qeltest::FakeSystem sys;
  fakeci::Adapter adapter;

 private:
  TraceTail trace_;
};

inline constexpr char kSerial[] = "IRC0012345";

}  // namespace sestest

#include "ses_fixture.h"

#include <cstdio>
#include <memory>
#include <regex>

#include "qeldebug.h"
#include "qelses.h"

namespace sestest {

namespace {
// Opened on first use; the scratch directory outlives the trace, whose exit handler is
// registered after it was made.
const std::string &TracePath() {
  static qeltest::ScratchDir dir("ses-trace");
  static std::string path = [] {
    // Opened on the fake clock, never the wall clock; the fixture's clock when it has one.
    std::unique_ptr<qeltest::FakeSystem> clock;
    if (qeltest::FakeSystem::current == nullptr) clock = std::make_unique<qeltest::FakeSystem>();
    QEL_DebugDir = dir.path().c_str();
    QEL_OpenTraceFile("qelses_test");
    return std::string(DebugStreamName);
  }();
  return path;
}
}  // namespace

TraceTail::TraceTail() { Mark(); }

void TraceTail::Mark() { offset_ = qeltest::ReadFile(TracePath()).size(); }

std::vector<std::string> TraceTail::Lines() const {
  const std::string text = qeltest::ReadFile(TracePath());
  static const std::regex stamp("[0-9]+\\.[0-9]{3}");
  std::vector<std::string> lines;
  std::size_t pos = std::min(offset_, text.size());
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    if (!std::regex_match(line, stamp)) lines.push_back(line);
    pos = end + 1;
  }
  return lines;
}

std::vector<std::string> Matching(const std::vector<std::string> &lines, const std::string &prefix) {
  std::vector<std::string> out;
  for (const std::string &l : lines)
    if (l.rfind(prefix, 0) == 0) out.push_back(l);
  return out;
}

std::string Hex(const std::vector<std::uint8_t> &bytes) {
  std::string s;
  char b[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(b, sizeof b, "%02x", bytes[i]);
    if (i != 0) s += (i % 16 == 0) ? '\n' : ' ';
    s += b;
  }
  return s;
}

SesTest::SesTest() { isConnOpen = 0; }

SesTest::~SesTest() {
  EXPECT_TRUE(adapter.violations.empty()) << ::testing::PrintToString(adapter.violations);
  isConnOpen = 0;
}

std::vector<std::string> SesTest::CallsAfterOpen() const {
  std::vector<std::string> out;
  for (const std::string &c : adapter.calls)
    if (c != "open") out.push_back(c);
  return out;
}

}  // namespace sestest

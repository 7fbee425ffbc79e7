// Scripted SES transport (fake_ses.cpp), and a fixture with a scratch trace and recorded pauses.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "qeldebug.h"
#include "qeldebug_internal.h"
#include "talvik.h"
#include "testsupport.h"

using Bytes = std::vector<std::uint8_t>;
using Strings = std::vector<std::string>;

// One scripted answer: the code the call returns and the bytes it stores (at most the length).
struct Answer {
  std::int32_t rc = 0;
  Bytes bytes;
};

// One transport call: op 'S' ReadStringPage, 'R' ReadPage, 'W' WritePage; sent is the request
// or the written page. Every test uses serial "SN1", which the transport checks.
struct Call {
  char op;
  Bytes sent;
  std::uint32_t pageCode, inLength;
  bool operator==(const Call &) const = default;
};
inline void PrintTo(const Call &c, std::ostream *os) { *os << c.op << c.inLength << testing::PrintToString(c.sent); }

inline std::deque<Answer> script;  // taken in order; an unscripted call fails the test
inline std::vector<Call> calls;

// Where QEL_DebugDir points between tests and at exit. Made before the first trace opens, so
// the trace module's exit handler (registered on opening) runs while it still exists and
// tidies only this directory, never the build's default trace directory.
inline const char *IdleTraceDir() {
  static const qeltest::ScratchDir dir("talvik-idle");
  return dir.path().c_str();
}

class TalvikTest : public ::testing::Test {
 protected:
  void SetUp() override {
    IdleTraceDir();
    script.clear();
    calls.clear();
    QEL_DebugDir = scratch_.path().c_str();
    ASSERT_EQ(QEL_OpenTraceFile("t"), 0);
  }
  void TearDown() override {
    EXPECT_TRUE(script.empty()) << "scripted answers left over";
    if (QEL_DebugStream != nullptr) std::fclose(QEL_DebugStream);
    QEL_DebugStream = nullptr;
    QEL_ResetElapsedStamp();
    QEL_DebugDir = IdleTraceDir();
  }
  // Starts a case: the answers to give; calls, pauses and trace start afresh.
  void Start(std::vector<Answer> answers = {}) {
    EXPECT_TRUE(script.empty()) << "scripted answers left over";
    script.assign(answers.begin(), answers.end());
    calls.clear();
    sys_.pauses.clear();
    mark_ += TraceLines().size();
  }
  // The same with one letter per answer, looked up in legend (blanks ignored).
  void Start(std::string letters, const std::map<char, Answer> &legend) {
    std::erase(letters, ' ');
    std::vector<Answer> answers;
    for (const char l : letters) answers.push_back(legend.at(l));
    Start(answers);
  }
  // This case's trace lines as "line message".
  Strings TraceLines() const {
    std::fflush(GetDebugFile());
    Strings out;
    for (const std::string &l : qeltest::ReadLines(DebugStreamName)) {
      if (l.starts_with("talvik:")) out.push_back(l.substr(7));
    }
    return {out.begin() + static_cast<std::ptrdiff_t>(mark_), out.end()};
  }
  // The same without page dumps and, unless numbered, without source line numbers (a further
  // prefix inside a line shows as "|").
  Strings Messages(bool numbered = true) const {
    static const std::regex innerPrefix("talvik:[0-9]+ ");
    Strings out;
    for (const std::string &l : TraceLines()) {
      if (l.starts_with("2275 ") || l.starts_with("2410 ")) continue;
      out.push_back(numbered ? l : std::regex_replace(l.substr(l.find(' ') + 1), innerPrefix, "|"));
    }
    return out;
  }
  // The usleep pauses in microseconds, a run of one value as "NxCount", blank-separated.
  std::string Pauses() const {
    const Strings &p = sys_.pauses;
    std::string out;
    for (std::size_t i = 0, j = 0; i < p.size(); i = j) {
      while (j < p.size() && p[j] == p[i]) ++j;
      out += qeltest::Cat(out.empty() ? "" : " ", p[i].substr(7), j - i > 1 ? qeltest::Cat("x", std::to_string(j - i)) : "");
    }
    return out;
  }

  qeltest::ScratchDir scratch_{"talvik"};
  qeltest::FakeSystem sys_;
  std::size_t mark_ = 0;
};

// A page of n bytes, zero except for the given leading bytes.
inline Bytes Page(std::size_t n, std::initializer_list<std::uint8_t> head) {
  Bytes p(n, 0);
  std::copy(head.begin(), head.end(), p.begin());
  return p;
}

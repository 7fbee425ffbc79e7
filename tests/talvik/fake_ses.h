// Scripted SES transport (fake_ses.cpp), and a fixture with a scratch trace and recorded pauses.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
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
  std::int32_t rc;
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

inline std::deque<Answer> script;  // taken in order; an unscripted call fails the test
inline std::vector<Call> calls;

class TalvikTest : public ::testing::Test {
 protected:
  // One directory for the whole program, made before the first trace opens: the trace module's
  // exit handler (registered on opening) then runs while it exists and tidies only it.
  void SetUp() override {
    static const qeltest::ScratchDir dir("talvik");
    QEL_DebugDir = dir.path().c_str();
    ASSERT_EQ(QEL_OpenTraceFile("t"), 0);
  }
  void TearDown() override {
    EXPECT_TRUE(script.empty()) << "scripted answers left over";
    std::fclose(QEL_DebugStream);
    QEL_DebugStream = nullptr;
    QEL_ResetElapsedStamp();
  }
  // Starts a case: the answers to give, one letter each looked up in legend (blanks ignored);
  // calls, pauses and trace start afresh.
  void Start(std::string letters = "", const std::map<char, Answer> &legend = {}) {
    EXPECT_TRUE(script.empty()) << "scripted answers left over";
    script.clear();
    for (const char l : letters) {
      if (l != ' ') script.push_back(legend.at(l));
    }
    calls.clear();
    sys_.pauses.clear();
    mark_ += TraceLines().size();
  }
  // This case's trace lines as "line message".
  Strings TraceLines() const {
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

  qeltest::FakeSystem sys_;
  std::size_t mark_ = 0;
};

// A page of n bytes, zero except for the given leading bytes.
inline Bytes Page(std::size_t n, std::initializer_list<std::uint8_t> head) {
  Bytes p(n, 0);
  std::copy(head.begin(), head.end(), p.begin());
  return p;
}

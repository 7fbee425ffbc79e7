#include "fake_ses.h"

#include <algorithm>
#include <cstdio>

#include "qeldebug.h"
#include "qeldebug_internal.h"
#include "qelses.h"

namespace fakeses {
std::deque<Answer> answers;
std::vector<Call> calls;

namespace {
std::int32_t Serve(std::uint8_t *buffer, std::uint32_t length) {
  if (answers.empty()) {
    ADD_FAILURE() << "unscripted transport call";
    return SES_RC_CI_FAILED;
  }
  const Answer a = answers.front();
  answers.pop_front();
  if (buffer != nullptr) std::copy_n(a.bytes.begin(), std::min<std::size_t>(a.bytes.size(), length), buffer);
  return a.rc;
}
}  // namespace
}  // namespace fakeses

using fakeses::calls;

std::int32_t SES_ReadStringPage(const char *serial, std::uint32_t outLength,
                                const std::uint8_t *outPage, std::uint32_t inLength,
                                std::uint8_t *inBuffer, std::uint32_t delayMs) {
  calls.push_back({"ReadStringPage", serial, {outPage, outPage + outLength}, 0, inLength, delayMs});
  return fakeses::Serve(inBuffer, inLength);
}

std::int32_t SES_ReadPage(const char *serial, std::uint32_t pageCode, std::uint32_t length,
                          std::uint8_t *buffer) {
  calls.push_back({"ReadPage", serial, {}, pageCode, length, 0});
  return fakeses::Serve(buffer, length);
}

std::int32_t SES_WritePage(const char *serial, std::uint32_t length, const std::uint8_t *page) {
  calls.push_back({"WritePage", serial, {page, page + length}, 0, 0, 0});
  return fakeses::Serve(nullptr, 0);
}

namespace {
// Where QEL_DebugDir points between tests and at exit. Made before the first trace opens, so
// the trace module's exit handler (registered on opening) runs while it still exists and
// tidies only this directory, never the build's default trace directory.
const char *IdleTraceDir() {
  static const qeltest::ScratchDir dir("talvik-idle");
  return dir.path().c_str();
}
}  // namespace

void TalvikTest::SetUp() {
  IdleTraceDir();
  fakeses::answers.clear();
  fakeses::calls.clear();
  QEL_DebugDir = scratch_.path().c_str();
  ASSERT_EQ(QEL_OpenTraceFile("t"), 0);
  ASSERT_NE(GetDebugFile(), nullptr);
}

void TalvikTest::TearDown() {
  EXPECT_TRUE(fakeses::answers.empty()) << "scripted answers left over";
  if (QEL_DebugStream != nullptr) std::fclose(QEL_DebugStream);
  QEL_DebugStream = nullptr;
  QEL_ResetElapsedStamp();
  QEL_DebugDir = IdleTraceDir();
}

std::vector<std::string> TalvikTest::TraceLines() const {
  std::fflush(GetDebugFile());
  std::vector<std::string> out;
  const std::string prefix = "talvik:";
  for (const std::string &l : qeltest::ReadLines(DebugStreamName)) {
    if (l.rfind(prefix, 0) == 0) out.push_back(l.substr(prefix.size()));
  }
  return out;
}

std::vector<std::string> TalvikTest::Messages() const {
  std::vector<std::string> out;
  for (const std::string &l : TraceLines()) {
    if (l.rfind("2275 ", 0) != 0 && l.rfind("2410 ", 0) != 0) out.push_back(l);
  }
  return out;
}

std::vector<std::uint8_t> Page(std::size_t n, std::initializer_list<std::uint8_t> head) {
  std::vector<std::uint8_t> p(n, 0);
  std::copy(head.begin(), head.end(), p.begin());
  return p;
}

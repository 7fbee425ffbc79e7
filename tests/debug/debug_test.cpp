// The trace file: its name, header, line prefix with elapsed-time stamps, command-line record
// and where it opens; and DumpBinary, the titled hex dump to standard output and the trace.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "qeldebug.h"
#include "qeldebug_internal.h"
#include "testsupport.h"

using qeltest::Cat;

namespace {

// A scratch trace directory under a fake clock, in UTC.
struct TraceFixture {
  TraceFixture() {
    setenv("TZ", "UTC", 1);
    tzset();
    QEL_ResetElapsedStamp();
  }
  // The exit handler registered by an open reads QEL_DebugDir at process exit, after this
  // fixture's directory is gone: leave it at one that is never removed (static destructors run
  // before exit handlers registered earlier, so the path is never destroyed either). Closing
  // here skips the exit handler's compression, so the text can be read.
  ~TraceFixture() {
    Close();
    static const qeltest::ScratchDir *exitDir = new qeltest::ScratchDir("trace-exit");
    QEL_DebugDir = exitDir->path().c_str();
  }
  int Open() {
    QEL_DebugDir = dir.path().c_str();
    return QEL_OpenTraceFile("qelses_pcm");
  }
  void Close() {
    if (QEL_DebugStream != nullptr) std::fclose(QEL_DebugStream);
    QEL_DebugStream = nullptr;
  }
  qeltest::ScratchDir dir{"trace"};
  qeltest::FakeSystem clock;
};

std::string AddressLine(const void *p, int length) {
  char buf[128];
  std::snprintf(buf, sizeof buf, "Address: 0x%p Length: 0x%x\n\n", p, static_cast<unsigned>(length));
  return buf;
}

// The name's stamp is the local start time as yymmddhhmmss; years before 2000 read 00.
TEST(TraceFile, NameFieldsComeFromOneLocalClockReading) {
  for (const auto &[when, stamp] : {std::pair<std::int64_t, const char *>{1796350566, "261204021606"},
                                    {946684799, "001231235959"}, {946782245, "000102030405"}}) {
    TraceFixture t;
    t.clock.nowSec = when;
    ASSERT_EQ(t.Open(), 0);
    EXPECT_EQ(std::string(DebugStreamName), Cat(t.dir.path(), "/qelses_pcm.", stamp, ".", std::to_string(getpid())));
  }
}

TEST(TraceFile, HeaderStampsCommandLineAndDumps) {
  TraceFixture t;
  ASSERT_EQ(t.Open(), 0);
  char a0[] = "/usr/bin/qelses_pcm", a1[] = "-l";
  char *argv[] = {a0, a1, nullptr};
  RecordCommandLine(2, argv);
  RecordCommandLine(0, nullptr);
  std::string expected = "Program qelses_pcm started.\nFri Dec  4 02:16:06 2026\n\n0.000\n"
                         "qeldebug:1906 /usr/bin/qelses_pcm -l \nqeldebug:1906 \n";
  // Clock moves (microseconds) and the stamp line each brings: none within the same
  // millisecond; a clock set back before the start shows as a large unsigned count.
  for (const auto &[advance, stamp] : {std::pair<std::int64_t, const char *>{999, ""}, {1, "0.001\n"},
                                       {2500000, "2.501\n"}, {400, ""}, {-2502000, "4294967.295\n"}}) {
    const std::int64_t total = t.clock.nowSec * 1000000 + t.clock.nowUsec + advance;
    t.clock.nowSec = total / 1000000;
    t.clock.nowUsec = total % 1000000;
    QEL_Trace("talvik", 42, "line\n");
    expected += Cat(stamp, "talvik:42 line\n");
  }
  QEL_Trace("qelses", 699, "rc=%d, ", 0);  // a message without newline continues the line
  QEL_Trace("qelses", 703, "done\n");
  // A dump goes to standard output and the trace, or to the trace alone, which carries each
  // piece with its own prefix: rows of sixteen, a short last row padded to the same column.
  const std::string data = "0123456789:;<=>?@ABC", addr = AddressLine(data.data(), 20);
  const std::string row[] = {"000:30 31 32 33 34 35 36 37 38 39 3a 3b 3c 3d 3e 3f      0123456789:;<=>?\n",
                              Cat("010:40 41 42 43 ", std::string(41, ' '), "@ABC\n")};
  testing::internal::CaptureStdout();
  DumpBinaryToStdout("Page", data.data(), 20);
  DumpBinaryToTrace("Page", data.data(), 20);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), Cat("\nPage\n", addr, row[0], row[1]));
  const std::string dump = Cat("qeldebug:1957 \nPage\nqeldebug:1961 ", addr, "qeldebug:2007 ", row[0], "qeldebug:2056 ", row[1]);
  EXPECT_EQ(qeltest::ReadFile(DebugStreamName), Cat(expected, "qelses:699 rc=0, qelses:703 done\n", dump, dump));
}

// A missing directory is made and a second open keeps the first trace; a directory that leaves
// no room for the name gives no trace (1) rather than a cut name. (A file or a link in the way is
// refused too: the utility's runs against hostile trace directories in tests/hardening show it.)
TEST(TraceFile, OpenedOnceAndNeverUnderACutName) {
  TraceFixture t;
  const std::string made = t.dir.file("new");
  QEL_DebugDir = made.c_str();
  ASSERT_EQ(QEL_OpenTraceFile("qelses_pcm"), 0);
  const std::string first = DebugStreamName;
  t.clock.nowSec += 5;
  EXPECT_EQ(QEL_OpenTraceFile("other"), 0);
  EXPECT_EQ(std::string(DebugStreamName), first);
  EXPECT_EQ(qeltest::ListDir(made).size(), 1u);
  t.Close();
  std::string overlong = t.dir.path();
  while (overlong.size() < kDebugStreamNameSize - 20) overlong += "/./";
  QEL_DebugDir = overlong.c_str();
  EXPECT_EQ(QEL_OpenTraceFile("qelses_pcm"), 1);
  EXPECT_EQ(GetDebugFile(), nullptr);
}

TEST(DumpBinary, EdgesOnStandardOutput) {
  const auto dump = [](const std::string &title, const std::string &data, int length) {
    testing::internal::CaptureStdout();
    DumpBinary(title.c_str(), data.data(), length, 1, 0);
    return testing::internal::GetCapturedStdout();
  };
  // Nothing but title and address for no bytes; a long title is written whole.
  const std::string title(10000, 'T');
  for (int length : {0, -5}) EXPECT_EQ(dump("Empty", title, length), Cat("\nEmpty\n", AddressLine(title.data(), length)));
  EXPECT_EQ(dump(title, "", 0).substr(0, title.size() + 2), Cat("\n", title, "\n"));
  // Offsets take more digits from 0x1000; unprintable bytes show as dots; a whole last row ends it.
  std::string big(0x1010, '\0');
  big.replace(0x1000, 4, "\x7f~ \x1f");
  const std::string out = dump("T", big, 0x1010);
  EXPECT_NE(out.find("\nFF0:00 00"), std::string::npos);
  EXPECT_TRUE(out.ends_with("\n1000:7f 7e 20 1f 00 00 00 00 00 00 00 00 00 00 00 00      .~ .............\n"));
}

}  // namespace

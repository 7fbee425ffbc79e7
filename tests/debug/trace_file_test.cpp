// The trace file: its name, header, line prefix with elapsed-time stamps, command-line record,
// and the places it is not opened.
#include <unistd.h>

#include <gtest/gtest.h>

#include "tracehelp.h"

using qeltest::Cat;

namespace {

std::string Pid() { return std::to_string(getpid()); }

// The name's stamp is the local start time as yymmddhhmmss; years before 2000 read 00.
TEST(TraceFileName, FieldsComeFromOneLocalClockReading) {
  for (const auto &[when, stamp] : {std::pair<std::int64_t, const char *>{1796350566, "261204021606"},
                                    {946684799, "001231235959"}, {946782245, "000102030405"}}) {
    TraceFixture t;
    t.clock.nowSec = when;
    ASSERT_EQ(t.Open(), 0);
    EXPECT_EQ(std::string(DebugStreamName), Cat(t.dir.path(), "/qelses_pcm.", stamp, ".", Pid()));
  }
}

TEST(TraceFile, HeaderCtimeAndFirstStampThenCommandLine) {
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
  EXPECT_EQ(qeltest::ReadFile(DebugStreamName), Cat(expected, "qelses:699 rc=0, qelses:703 done\n"));
  EXPECT_STREQ(UtilityName, "qelses_pcm");
}

// A missing directory is made and a second open keeps the first trace. No trace under a regular
// file (result 0), through a link planted at the name (1; its target is left alone) or when
// the directory leaves no room for the name (1).
TEST(TraceFile, OpenedOnceAndOnlyWhereSafe) {
  TraceFixture t;
  const std::string file = t.dir.file("file"), made = t.dir.file("new");
  FILE *f = std::fopen(file.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fputs("keep me", f);
  std::fclose(f);
  QEL_DebugDir = made.c_str();
  ASSERT_EQ(QEL_OpenTraceFile("qelses_pcm"), 0);
  const std::string first = DebugStreamName;
  t.clock.nowSec += 5;
  EXPECT_EQ(QEL_OpenTraceFile("other"), 0);
  EXPECT_EQ(std::string(DebugStreamName), first);
  EXPECT_EQ(qeltest::ListDir(made).size(), 1u);
  t.Close();
  ASSERT_EQ(symlink(file.c_str(), Cat(made, "/qelses_pcm.261204021611.", Pid()).c_str()), 0);
  std::string overlong = t.dir.path();
  while (overlong.size() < kDebugStreamNameSize - 20) overlong += "/./";
  for (const auto &[dir, rc] : {std::pair<std::string, int>{file + "/traces", 0}, {made, 1}, {overlong, 1}}) {
    QEL_DebugDir = dir.c_str();
    EXPECT_EQ(QEL_OpenTraceFile("qelses_pcm"), rc);
    EXPECT_EQ(GetDebugFile(), nullptr);
  }
  EXPECT_EQ(qeltest::ReadFile(file), "keep me");
}

}  // namespace

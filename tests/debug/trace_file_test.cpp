// The trace file: its name, header, line prefix with elapsed-time stamps, command-line record.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tracehelp.h"

using qeltest::TraceFixture;

namespace {

std::string Pid() { return std::to_string(getpid()); }

struct NameCase {
  const char *utc;  // start time
  const char *expectedStamp;
};

TEST(TraceFileName, FieldsComeFromOneLocalClockReading) {
  const NameCase cases[] = {
      {"2026-12-04 02:16:06", "261204021606"},
      {"1999-12-31 23:59:59", "001231235959"},  // years before 2000 read 00
      {"2000-01-02 03:04:05", "000102030405"},
      {"2037-07-08 09:10:11", "370708091011"},
  };
  for (const NameCase &c : cases) {
    TraceFixture t;
    struct tm tmv {};
    ASSERT_NE(strptime(c.utc, "%Y-%m-%d %H:%M:%S", &tmv), nullptr);
    t.clock.nowSec = timegm(&tmv);
    ASSERT_EQ(t.Open(), 0);
    EXPECT_EQ(std::string(DebugStreamName),
              t.dir().path() + "/qelses_pcm." + c.expectedStamp + "." + Pid())
        << c.utc;
    t.Close();
  }
}

TEST(TraceFile, HeaderCtimeAndFirstStampThenCommandLine) {
  TraceFixture t;
  ASSERT_EQ(t.Open(), 0);
  char a0[] = "/usr/bin/qelses_pcm", a1[] = "-l", a2[] = "SN1", a3[] = "-m", a4[] = "5";
  char *argv[] = {a0, a1, a2, a3, a4, nullptr};
  RecordCommandLine(5, argv);
  EXPECT_EQ(t.Text(),
            "Program qelses_pcm started.\n"
            "Fri Dec  4 02:16:06 2026\n"
            "\n"
            "0.000\n"
            "qeldebug:1906 /usr/bin/qelses_pcm -l SN1 -m 5 \n");
  EXPECT_STREQ(UtilityName, "qelses_pcm");
}

TEST(TraceFile, EmptyCommandLineGivesAnEmptyMessage) {
  TraceFixture t;
  ASSERT_EQ(t.Open(), 0);
  RecordCommandLine(0, nullptr);
  EXPECT_EQ(t.Body(), "0.000\nqeldebug:1906 \n");
}

TEST(TraceStamp, SameMillisecondSuppressedAndClockSetBackShowsLargeUnsigned) {
  struct Step {
    std::int64_t advanceUsec;  // clock movement before the trace line
    const char *expectedStamp;
  };
  const Step steps[] = {
      {0, "0.000\n"},         // first stamp always written
      {999, ""},              // same millisecond: no stamp line
      {1, "0.001\n"},         // one millisecond on
      {2500000, "2.501\n"},   // seconds and milliseconds
      {400, ""},              // 2.501400 s is still 2.501
      {-2502000, "4294967.295\n"},  // clock set back before the start: unsigned count
  };
  TraceFixture t;
  ASSERT_EQ(t.Open(), 0);
  std::string expected;
  int n = 0;
  for (const Step &s : steps) {
    std::int64_t total = t.clock.nowSec * 1000000 + t.clock.nowUsec + s.advanceUsec;
    t.clock.nowSec = total / 1000000;
    t.clock.nowUsec = total % 1000000;
    QEL_Trace("talvik", 42, "line %d\n", ++n);
    expected += std::string(s.expectedStamp) + "talvik:42 line " + std::to_string(n) + "\n";
  }
  EXPECT_EQ(t.Body(), expected);
}

TEST(TraceFile, MessageWithoutNewlineContinuesTheLine) {
  TraceFixture t;
  ASSERT_EQ(t.Open(), 0);
  QEL_Trace("qelses", 699, "SendDiag Data rc=%d, ", 0);
  QEL_Trace("qelses", 703, "(Sent/Total): %d / %d\n", 1, 2);
  EXPECT_EQ(t.Body(), "0.000\nqelses:699 SendDiag Data rc=0, qelses:703 (Sent/Total): 1 / 2\n");
}

TEST(TraceFile, SecondOpenKeepsTheFirstTrace) {
  TraceFixture t;
  ASSERT_EQ(t.Open(), 0);
  const std::string first = DebugStreamName;
  t.clock.nowSec += 5;
  EXPECT_EQ(QEL_OpenTraceFile("other"), 0);
  EXPECT_EQ(std::string(DebugStreamName), first);
  EXPECT_EQ(qeltest::ListDir(t.dir().path()).size(), 1u);
}

TEST(TraceFile, DirectoryCreatedWhenMissing) {
  TraceFixture t;
  qeltest::ScratchDir parent("parent");
  const std::string missing = parent.file("new");
  QEL_DebugDir = missing.c_str();
  EXPECT_EQ(QEL_OpenTraceFile("qelses_pcm"), 0);
  struct stat st {};
  ASSERT_EQ(stat(missing.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_NE(GetDebugFile(), nullptr);
  t.Close();
}

TEST(TraceFile, NoTraceWhenTheDirectoryCannotBeCreated) {
  TraceFixture t;
  qeltest::ScratchDir parent("parent");
  // A regular file stands where the directory's parent should be.
  const std::string blocker = parent.file("file");
  FILE *f = std::fopen(blocker.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  const std::string dir = blocker + "/traces";
  QEL_DebugDir = dir.c_str();
  EXPECT_EQ(QEL_OpenTraceFile("qelses_pcm"), 0);
  EXPECT_EQ(GetDebugFile(), nullptr);
  QEL_Trace("qelses_pcm", 1, "nothing\n");  // must be a harmless no-op
  EXPECT_EQ(qeltest::ListDir(parent.path()), std::vector<std::string>{"file"});
}

TEST(TraceFile, PlantedLinkAtTheNameIsNotFollowed) {
  TraceFixture t;
  qeltest::ScratchDir other("victim");
  const std::string victim = other.file("victim");
  FILE *f = std::fopen(victim.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fputs("keep me", f);
  std::fclose(f);
  const std::string dir = t.dir().path();
  const std::string name = dir + "/qelses_pcm.261204021606." + Pid();
  ASSERT_EQ(symlink(victim.c_str(), name.c_str()), 0);
  QEL_DebugDir = dir.c_str();
  EXPECT_EQ(QEL_OpenTraceFile("qelses_pcm"), 1);  // the directory is usable, the file is not
  EXPECT_EQ(GetDebugFile(), nullptr);
  EXPECT_EQ(qeltest::ReadFile(victim), "keep me");
}

TEST(TraceFile, OverlongDirectoryIsRefusedNotCut) {
  TraceFixture t;
  ASSERT_EQ(t.Open(), 0);
  t.Close();
  // A directory path that leaves no room for the file name in the 4096-byte name buffer.
  std::string longDir = t.dir().path();
  while (longDir.size() < kDebugStreamNameSize - 20) longDir += "/./";
  QEL_DebugDir = longDir.c_str();
  EXPECT_EQ(QEL_OpenTraceFile("qelses_pcm"), 1);
  EXPECT_EQ(GetDebugFile(), nullptr);
}

}  // namespace

// Exit handler and trace retention: budget edges, the quiet time, what counts, the
// keep-or-delete table, files that vanish, two handlers at once, and real process exits
// (retention_probe) among hostile file names and planted links.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "qeldebug.h"
#include "retention_helpers.h"
#include "testsupport.h"

namespace {

using rettest::Exists;
using rettest::MakeFile;
using rettest::seen;
using Names = std::vector<std::string>;

constexpr std::int64_t kNow = 1796350566;
constexpr std::int64_t kOld = kNow - 3600;

// A scratch directory, a fixed clock and the recording stand-ins; the trace module's globals
// are put back afterwards.
class Retention : public ::testing::Test {
 protected:
  Retention() { clock_.nowSec = kNow; }
  ~Retention() override {
    QEL_DebugDir = debugDir_;
    UtilityName = utility_;
    UsingIntelligentTracing = 0;
    FinalReturnCode = -99;
    DebugStreamName[0] = '\0';
  }

  qeltest::FakeSystem clock_;
  rettest::FakeRetentionSys fakes_;
  qeltest::ScratchDir dir{"ret"};
  const char *debugDir_ = QEL_DebugDir;
  const char *utility_ = UtilityName;
};

TEST_F(Retention, OldestGoUntilWithinTheDecimalByteBudget) {
  // Sizes oldest first, and how many of the oldest go.
  const std::pair<std::vector<std::int64_t>, std::size_t> rows[] = {
      {{2000000, 2000000, 2000000}, 0}, {{2000000, 2000000, 2000001}, 1},
      {{1000000, 1000000, 1000000, 5000000}, 2}, {{6000001}, 1}};
  for (const auto &[sizes, deleted] : rows) {
    SCOPED_TRACE(sizes.back());
    qeltest::ScratchDir d("ret-budget");
    Names survivors;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
      const std::string name = qeltest::Cat("f", std::to_string(i), ".gz");
      MakeFile(d.file(name), sizes[i], kOld + static_cast<std::int64_t>(i));
      if (i >= deleted) survivors.push_back(name);
    }
    QEL_RetentionReport report{};
    QEL_TidyTraceDirectory(d.path().c_str(), nullptr, kTraceRetentionLimits, &report);
    EXPECT_EQ(qeltest::ListDir(d.path()), survivors);
    EXPECT_EQ(report.filesDeleted, static_cast<int>(deleted));
  }
}

TEST_F(Retention, FileCountOneOverTheLimitLosesOnlyTheOldest) {
  for (int i = 0; i <= kTraceFileLimit; ++i) {
    ASSERT_EQ(mknod(dir.file(qeltest::Cat("n", std::to_string(i), ".gz")).c_str(), S_IFREG | 0644, 0), 0);
  }
  rettest::SetMtime(dir.file("n777.gz"), kOld);
  QEL_RetentionReport report{};
  QEL_TidyTraceDirectory(dir.path().c_str(), nullptr, kTraceRetentionLimits, &report);
  EXPECT_EQ(seen.deleted, Names{"n777.gz"});
  EXPECT_EQ(NumberOfFiles, kTraceFileLimit);
  EXPECT_EQ(report.directoryScans, 1);
  // At the limit nothing more goes.
  QEL_TidyTraceDirectory(dir.path().c_str(), nullptr, kTraceRetentionLimits, &report);
  EXPECT_EQ(report.filesDeleted, 0);
}

TEST_F(Retention, CompressesWhatIsNotGzAndQuietForMoreThan600sOrThisRunsTrace) {
  const std::tuple<std::string, std::int64_t, bool> rows[] = {  // name, age, compressed
      {"other.600", 600, false}, {"other.601", 601, true}, {"done.gz", 5000, false}, {"upper.GZ", 5000, true},
      {"mixed.gZ", 5000, true},  {"notes.txt", 5000, true}, {"gz", 5000, true},       {"qelown.1", 0, true},
      {"future", -100, false}};
  for (const auto &[name, age, compressed] : rows) MakeFile(dir.file(name), 10, kNow - age);
  ASSERT_EQ(mkdir(dir.file("sub").c_str(), 0755), 0);
  rettest::SetMtime(dir.file("sub"), kOld);
  QEL_RetentionReport report{};
  QEL_TidyTraceDirectory(dir.path().c_str(), dir.file("qelown.1").c_str(), kTraceRetentionLimits, &report);
  for (const auto &[name, age, compressed] : rows) {
    EXPECT_EQ(Exists(dir.file(name + ".gz")), compressed) << name;
  }
  EXPECT_EQ(seen.compressed.size(), 6u);  // and not the sub-directory
  EXPECT_EQ(report.compressProcesses, 1);
}

// "gzip -f %s 2> /dev/null" fits its 1024-byte buffer only with a path of at most 1002 bytes:
// a longer one is not compressed (never cut) and still counts.
TEST_F(Retention, PathTooLongForTheCompressCommandIsNotCompressed) {
  std::string deep = dir.path();
  while (deep.size() < 997) {  // components of at most 200 bytes, ending on 997 exactly
    deep += "/";
    deep += std::string(997 - deep.size() > 200 ? 100 : 997 - deep.size(), 'd');
    ASSERT_EQ(mkdir(deep.c_str(), 0755), 0);
  }
  MakeFile(deep + "/fits", 10, kOld);   // 1002 bytes
  MakeFile(deep + "/fits5", 10, kOld);  // 1003 bytes
  QEL_RetentionReport report{};
  QEL_TidyTraceDirectory(deep.c_str(), nullptr, QEL_RetentionLimits{1000, 1}, &report);
  EXPECT_EQ(seen.compressed, Names{"fits"});
  EXPECT_EQ(report.filesDeleted, 1);
}

TEST_F(Retention, CompressedNamesAndArgumentBatches) {
  EXPECT_EQ(QEL_compressed_logfile(".gz"), 0);  // shorter than 4 characters
  EXPECT_EQ(QEL_compressed_logfile(nullptr), 0);
  // Each argument costs its length, its NUL and a pointer; "gzip -f --" and the closing null too.
  const std::vector<const char *> paths(10, "/nowhere/p0");
  const std::size_t perPath = 12 + sizeof(char *), fixed = 11 + 4 * sizeof(char *);
  const std::pair<std::size_t, int> rows[] = {{fixed + 10 * perPath, 1}, {fixed + 10 * perPath - 1, 2},
                                              {fixed + 3 * perPath, 4}, {fixed + perPath - 1, 0}};
  for (const auto &[budget, processes] : rows) {
    seen.compressCalls = 0;
    EXPECT_EQ(QEL_CompressPaths(paths, budget), processes) << budget;
    EXPECT_EQ(seen.compressCalls, processes) << budget;
  }
  EXPECT_GT(QEL_CompressArgumentBudget(), 10000u * 64u);  // thousands of trace paths per gzip
}

// Another run removes "old" between listing and status read: it is neither compressed nor
// counted. Files of any name count; a directory, older than all, neither counts nor goes.
TEST_F(Retention, WhatTheScanCounts) {
  const std::pair<const char *, int> files[] = {
      {"core.gz", 1}, {"notes.gz", 2}, {"trace.gz", 3}, {"b", 4}, {"old", 0}};
  for (const auto &[name, age] : files) MakeFile(dir.file(name), 100, kOld + age);
  seen.vanishOnStat = "old";
  ASSERT_EQ(mkdir(dir.file("olddir").c_str(), 0755), 0);
  rettest::SetMtime(dir.file("olddir"), kOld - 100);
  QEL_TidyTraceDirectory(dir.path().c_str(), nullptr, QEL_RetentionLimits{1000, 3}, nullptr);
  EXPECT_EQ(seen.compressed, Names{"b"});
  EXPECT_EQ(seen.deleted, Names{"core.gz"});
  EXPECT_EQ(NumberOfFiles, 3);
  EXPECT_EQ(TotalSpaceUsed, 375);  // the listing's total: the loop stops once within the count
  EXPECT_EQ(qeltest::ListDir(dir.path()), (Names{"b.gz", "notes.gz", "olddir", "trace.gz"}));
  EXPECT_EQ(QEL_TidyTraceDirectory("/nonexistent/qel", nullptr, kTraceRetentionLimits, nullptr), 1);
  EXPECT_EQ(NumberOfFiles, 0);
}

TEST_F(Retention, HandlerDeletesTheTraceOnlyAsTheTableSays) {
  const std::tuple<const char *, int, int, bool> rows[] = {  // utility, table on, return code, kept
      {"qeladap", 1, 0, false},    {"qeladap", 1, 3, true},    {"qelses_resetswapbit", 1, 0, false},
      {"qelses_pcm", 1, 0, true},  {"qeladapter", 1, 0, true}, {"QELADAP", 1, 0, true},
      {"qeladap", 0, 0, true}};
  for (const auto &[utility, usingTable, finalCode, kept] : rows) {
    SCOPED_TRACE(std::string(utility) + " rc " + std::to_string(finalCode));
    qeltest::ScratchDir d("ret-handler");
    MakeFile(d.file("stale"), 10, kOld);
    QEL_DebugDir = d.path().c_str();
    ASSERT_EQ(OpenLogFile(utility), 0);
    const std::string trace = DebugStreamName;
    UsingIntelligentTracing = usingTable;
    FinalReturnCode = finalCode;
    QEL_DebugExitHandler();
    EXPECT_EQ(GetDebugFile(), nullptr);
    EXPECT_FALSE(Exists(trace));
    EXPECT_EQ(Exists(trace + ".gz"), kept);
    EXPECT_EQ(Exists(d.file("stale.gz")), kept);  // a deleted trace ends the handler
  }
  TraceDisposition d = Trace_Delete;
  EXPECT_EQ(LookUpDisposition(nullptr, 0, &d), 0);  // no utility name: nothing found, nothing set
  EXPECT_EQ(d, Trace_Delete);
}

TEST_F(Retention, OwnTraceOverTheBudgetIsDeletedEvenCompressed) {
  QEL_DebugDir = dir.path().c_str();
  ASSERT_EQ(OpenLogFile("qelses_pcm"), 0);
  const std::string trace = rettest::BaseName(DebugStreamName);
  ASSERT_EQ(ftruncate(fileno(GetDebugFile()), 9000000), 0);  // three quarters still over
  QEL_DebugExitHandler();
  EXPECT_EQ(seen.compressed, Names{trace});
  EXPECT_EQ(seen.deleted, Names{trace + ".gz"});
  EXPECT_TRUE(qeltest::ListDir(dir.path()).empty());
}

// Two exits at once on one crowded directory, with real gzip: whichever deletes a file first,
// the other's deletion fails and ends its loop. Nothing is left uncompressed or broken, and
// the newest files stay.
TEST(RetentionRace, TwoHandlersAtOnce) {
  qeltest::ScratchDir dir("ret-race");
  const std::int64_t now = time(nullptr);
  for (int i = 0; i < 40; ++i) MakeFile(dir.file(qeltest::Cat("r", std::to_string(100 + i))), 100, now - 10000 + i);
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  pid_t children[2];
  for (pid_t &pid : children) {
    if ((pid = fork()) == 0) {
      close(go[1]);
      char c;
      (void)!read(go[0], &c, 1);  // both start when the pipe closes
      _exit(QEL_TidyTraceDirectory(dir.path().c_str(), nullptr, QEL_RetentionLimits{1000000, 30}, nullptr));
    }
  }
  close(go[0]);
  close(go[1]);
  for (pid_t pid : children) {
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_EQ(status, 0);
  }
  // A listing may catch the other's gzip between writing ".gz" and removing the original, so
  // a handler can be off by a file or two.
  const Names names = qeltest::ListDir(dir.path());
  EXPECT_LE(names.size(), 32u);
  for (const std::string &name : names) {
    ASSERT_TRUE(name.ends_with(".gz")) << name;
    EXPECT_EQ(qeltest::ReadFile(dir.file(name)).substr(0, 2), "\x1f\x8b") << name;
  }
  for (int i = 15; i < 40; ++i) EXPECT_TRUE(Exists(dir.file("r" + std::to_string(100 + i) + ".gz"))) << i;
}

const std::string kProbe = RETENTION_PROBE;

TEST(RetentionProcess, ShellWordsInFileNamesRunNothing) {
  qeltest::ScratchDir dir("ret-shell"), bin("ret-bin"), marks("ret-marks");
  for (const char *command : {"reboot", "id"}) {  // first on the search path; leave a marker if run
    std::ofstream(bin.file(command)) << "#!/bin/sh\n: > '" << marks.file("ran") << "'\n";
    chmod(bin.file(command).c_str(), 0755);
  }
  const Names names = {"a;reboot", "$(id)", "`id`", "b|id", "c&&id", "d'e\"f",
                       "sp ace",   "new\nline", "*", "-rf", "x>y", "$HOME"};
  for (const std::string &name : names) MakeFile(dir.file(name), 100, time(nullptr) - 3600);
  const char *path = getenv("PATH");
  const qeltest::ProcResult r = qeltest::RunProcess(
      {kProbe, dir.path()}, {"PATH=" + bin.path() + ":" + (path ? path : "/usr/bin:/bin")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "0\n");
  EXPECT_FALSE(Exists(marks.file("ran"))) << "a file name was run as a command";
  for (const std::string &name : names) {
    EXPECT_FALSE(Exists(dir.file(name))) << name;
    EXPECT_EQ(qeltest::ReadFile(dir.file(name + ".gz")).substr(0, 2), "\x1f\x8b") << name;
  }
  // The probe's own trace went the same way, still open to every utility of the family.
  const Names left = qeltest::ListDir(dir.path());
  EXPECT_EQ(left.size(), names.size() + 1);
  std::string trace;
  for (const std::string &name : left) trace = name.starts_with("qelprobe.") ? name : trace;
  EXPECT_TRUE(trace.ends_with(".gz")) << trace;
  struct stat st {};
  ASSERT_EQ(stat(dir.file(trace).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666u);
}

TEST(RetentionProcess, PlantedLinkAtTheTraceNameLeavesItsTargetAlone) {
  for (const std::int64_t victimAge : {0, 3600}) {
    SCOPED_TRACE(victimAge);
    qeltest::ScratchDir dir("ret-link"), outside("ret-victim");
    const std::string victim = outside.file("shadow");
    std::ofstream(victim) << "secret\n";
    chmod(victim.c_str(), 0600);
    rettest::SetMtime(victim, time(nullptr) - victimAge);
    const qeltest::ProcResult r = qeltest::RunProcess({kProbe, dir.path(), "plant", victim});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "1\n");  // the trace was refused, not written through the link
    struct stat st {};
    ASSERT_EQ(lstat(victim.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(qeltest::ReadFile(victim), "secret\n");
    if (victimAge != 0) continue;
    // A link is not this run's trace, so it is not compressed at once: no copy of the target's
    // content turns up in the trace directory.
    for (const std::string &name : qeltest::ListDir(dir.path())) {
      ASSERT_EQ(lstat(dir.file(name).c_str(), &st), 0);
      EXPECT_TRUE(S_ISLNK(st.st_mode)) << name;
    }
  }
}

}  // namespace

// Exit handler and trace retention: budget edges, the quiet time, what counts, the
// keep-or-delete table, files that vanish, and the batching of compression.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "qeldebug.h"
#include "qeldebug_internal.h"
#include "retention.h"
#include "retention_helpers.h"
#include "testsupport.h"

namespace {

using rettest::log;
using rettest::MakeFile;

constexpr std::int64_t kNow = 1796350566;
constexpr std::int64_t kOld = kNow - 3600;

// Puts the trace module's globals back after a test that moved them.
class TraceGlobals {
 public:
  TraceGlobals() : dir_(QEL_DebugDir), name_(UtilityName) {}
  ~TraceGlobals() {
    QEL_DebugDir = dir_;
    UtilityName = name_;
    UsingIntelligentTracing = 0;
    FinalReturnCode = -99;
    DebugStreamName[0] = '\0';
  }
  TraceGlobals(const TraceGlobals &) = delete;
  TraceGlobals &operator=(const TraceGlobals &) = delete;

 private:
  const char *dir_;
  const char *name_;
};

std::vector<std::string> Names(const std::string &dir) { return qeltest::ListDir(dir); }

// ---- Budget edges (product limits) ------------------------------------------------------

struct BudgetCase {
  const char *what;
  std::vector<std::int64_t> sizes;  // oldest first
  std::vector<std::size_t> survivors;
};

TEST(RetentionBudget, BytesAtAndOverTheBudget) {
  const std::vector<BudgetCase> cases = {
      {"exactly 6,000,000 bytes", {2000000, 2000000, 2000000}, {0, 1, 2}},
      {"one byte more: the oldest goes", {2000000, 2000000, 2000001}, {1, 2}},
      {"decimal budget, not 6 MiB", {3000000, 3000001}, {1}},
      {"deleted until within", {1000000, 1000000, 1000000, 5000000}, {2, 3}},
      {"a single file over the budget", {6000001}, {}},
  };
  qeltest::FakeSystem clock;
  clock.nowSec = kNow;
  for (const BudgetCase &c : cases) {
    SCOPED_TRACE(c.what);
    qeltest::ScratchDir dir("ret-budget");
    rettest::FakeRetentionSys fakes;
    for (std::size_t i = 0; i < c.sizes.size(); ++i) {
      MakeFile(dir.file("f" + std::to_string(i) + ".gz"), c.sizes[i], kOld + static_cast<std::int64_t>(i));
    }
    QEL_RetentionReport report{};
    QEL_TidyTraceDirectory(dir.path().c_str(), nullptr, kTraceRetentionLimits, &report);
    std::vector<std::string> want;
    for (std::size_t i : c.survivors) want.push_back("f" + std::to_string(i) + ".gz");
    EXPECT_EQ(Names(dir.path()), want);
    EXPECT_EQ(report.filesDeleted, static_cast<int>(c.sizes.size() - c.survivors.size()));
    EXPECT_EQ(report.directoryScans, 1);  // nothing to compress: one listing serves both passes
  }
}

TEST(RetentionBudget, FileCountOneOverTheLimitLosesOnlyTheOldest) {
  qeltest::FakeSystem clock;
  clock.nowSec = kNow;
  qeltest::ScratchDir dir("ret-count");
  rettest::FakeRetentionSys fakes;
  const int files = kTraceFileLimit + 1;
  for (int i = 0; i < files; ++i) {
    // Empty files made in one call each, all of about the same age; one is older than the rest.
    ASSERT_EQ(mknod(dir.file("n" + std::to_string(i) + ".gz").c_str(), S_IFREG | 0644, 0), 0);
  }
  rettest::SetMtime(dir.file("n777.gz"), kOld);
  QEL_RetentionReport report{};
  QEL_TidyTraceDirectory(dir.path().c_str(), nullptr, kTraceRetentionLimits, &report);
  EXPECT_EQ(log.deleted, std::vector<std::string>{"n777.gz"});
  EXPECT_EQ(NumberOfFiles, kTraceFileLimit);
  EXPECT_EQ(TotalSpaceUsed, 0);
  EXPECT_EQ(report.directoryScans, 1);
  // At the limit nothing more goes.
  QEL_TidyTraceDirectory(dir.path().c_str(), nullptr, kTraceRetentionLimits, &report);
  EXPECT_EQ(report.filesDeleted, 0);
}

// ---- Which files are compressed -----------------------------------------------------------

TEST(RetentionCompression, QuietTimeSuffixAndOwnTrace) {
  struct Row {
    const char *name;
    std::int64_t age;
    bool compressed;
  };
  const std::vector<Row> rows = {
      {"other.600", 600, false},      {"other.601", 601, true},     {"fresh", 0, false},
      {"done.gz", 5000, false},       {"upper.GZ", 5000, true},     {"mixed.gZ", 5000, true},
      {"notes.txt", 5000, true},      {"gz", 5000, true},           {"qelown.1", 0, true},
      {"future", -100, false},
  };
  qeltest::FakeSystem clock;
  clock.nowSec = kNow;
  qeltest::ScratchDir dir("ret-compress");
  rettest::FakeRetentionSys fakes;
  for (const Row &r : rows) MakeFile(dir.file(r.name), 10, kNow - r.age);
  mkdir(dir.file("sub").c_str(), 0755);
  rettest::SetMtime(dir.file("sub"), kOld);
  const std::string own = dir.file("qelown.1");
  QEL_RetentionReport report{};
  QEL_TidyTraceDirectory(dir.path().c_str(), own.c_str(), kTraceRetentionLimits, &report);
  std::vector<std::string> want;
  for (const Row &r : rows) {
    if (r.compressed) want.push_back(r.name);
    EXPECT_EQ(rettest::Exists(dir.file(std::string(r.name) + ".gz")), r.compressed) << r.name;
  }
  std::vector<std::string> got = log.compressed;
  std::sort(got.begin(), got.end());
  std::sort(want.begin(), want.end());
  EXPECT_EQ(got, want);
  EXPECT_EQ(report.compressProcesses, 1);
  EXPECT_EQ(report.directoryScans, 2);
  EXPECT_TRUE(rettest::Exists(dir.file("sub")));
}

// The compression command buffer holds 1024 bytes: "gzip -f ", the path, " 2> /dev/null" and
// the terminating NUL leave 1002 bytes for the path. A longer path is refused, not cut.
TEST(RetentionCompression, PathLongerThanTheCommandBufferIsRefused) {
  qeltest::FakeSystem clock;
  clock.nowSec = kNow;
  qeltest::ScratchDir scratch("ret-long");
  rettest::FakeRetentionSys fakes;
  constexpr std::size_t kLongestPath = 1002;
  const std::string fits = "fits", longer = "fits5";
  std::string dir = scratch.path();
  while (dir.size() + 1 + fits.size() < kLongestPath) {
    // Components of at most 200 characters, the last one landing exactly on the length.
    const std::size_t remaining = kLongestPath - (dir.size() + 1 + fits.size());
    const std::size_t chunk = remaining > 201 ? std::min<std::size_t>(200, remaining - 3) : remaining - 1;
    dir += "/" + std::string(chunk, 'd');
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0) << dir.size();
  }
  ASSERT_EQ(dir.size() + 1 + fits.size(), kLongestPath);
  MakeFile(dir + "/" + fits, 10, kOld);
  MakeFile(dir + "/" + longer, 10, kOld);
  QEL_RetentionReport report{};
  QEL_TidyTraceDirectory(dir.c_str(), nullptr, QEL_RetentionLimits{1000, 1}, &report);
  EXPECT_EQ(log.compressed, std::vector<std::string>{fits});
  // Both still count, and the oldest goes as usual.
  EXPECT_EQ(report.filesDeleted, 1);
}

TEST(RetentionCompression, CompressedNameTest) {
  struct Row {
    const char *path;
    int compressed;
  };
  const std::vector<Row> rows = {{"a.gz", 1}, {".gz", 0}, {"gz", 0}, {"a.GZ", 0},
                                 {"a.gz.1", 0}, {"/d/x.gz", 1}, {"", 0}, {"agz", 0}};
  for (const Row &r : rows) EXPECT_EQ(QEL_compressed_logfile(r.path), r.compressed) << r.path;
  EXPECT_EQ(QEL_compressed_logfile(nullptr), 0);
}

TEST(RetentionCompression, BatchesFollowTheArgumentBudget) {
  rettest::FakeRetentionSys fakes;
  std::vector<std::string> store;
  for (int i = 0; i < 10; ++i) store.push_back("/nowhere/p" + std::to_string(i));
  std::vector<const char *> paths;
  for (const std::string &s : store) paths.push_back(s.c_str());
  const std::size_t perPath = store[0].size() + 1 + sizeof(char *);
  const std::size_t fixed = 5 + 3 + 3 + 3 * sizeof(char *) + sizeof(char *);
  struct Row {
    std::size_t budget;
    int processes;
  };
  const std::vector<Row> rows = {
      {fixed + 10 * perPath, 1}, {fixed + 10 * perPath - 1, 2}, {fixed + 3 * perPath, 4},
      {fixed + perPath, 10},     {fixed + perPath - 1, 0},
  };
  for (const Row &r : rows) {
    log.compressCalls = 0;
    EXPECT_EQ(QEL_CompressPaths(paths, r.budget), r.processes) << r.budget;
    EXPECT_EQ(log.compressCalls, r.processes) << r.budget;
  }
  // The everyday budget takes thousands of trace paths in one process.
  EXPECT_GT(QEL_CompressArgumentBudget(), 10000u * 64u);
}

// ---- What the retention scan counts -------------------------------------------------------

TEST(RetentionScan, OtherFilesCountDirectoriesAndBrokenLinksDoNot) {
  qeltest::FakeSystem clock;
  clock.nowSec = kNow;
  qeltest::ScratchDir dir("ret-counts");
  rettest::FakeRetentionSys fakes;
  MakeFile(dir.file("core.gz"), 100, kOld + 1);
  MakeFile(dir.file("notes.gz"), 100, kOld + 2);
  MakeFile(dir.file("trace.gz"), 100, kOld + 3);
  mkdir(dir.file("olddir").c_str(), 0755);
  rettest::SetMtime(dir.file("olddir"), kOld - 100);
  ASSERT_EQ(symlink("gone", dir.file("broken").c_str()), 0);
  QEL_TidyTraceDirectory(dir.path().c_str(), nullptr, QEL_RetentionLimits{1000, 2}, nullptr);
  EXPECT_EQ(log.deleted, std::vector<std::string>{"core.gz"});
  EXPECT_EQ(NumberOfFiles, 2);
  EXPECT_EQ(TotalSpaceUsed, 300);
}

TEST(RetentionScan, FileVanishingMidScanIsNeitherCompressedNorCounted) {
  qeltest::FakeSystem clock;
  clock.nowSec = kNow;
  qeltest::ScratchDir dir("ret-vanish");
  rettest::FakeRetentionSys fakes;
  MakeFile(dir.file("a.gz"), 10, kOld + 1);
  MakeFile(dir.file("b"), 10, kOld + 2);
  MakeFile(dir.file("c.gz"), 10, kOld + 3);
  MakeFile(dir.file("old"), 10, kOld);  // removed by another run between listing and status
  log.vanishOnStat = "old";
  QEL_TidyTraceDirectory(dir.path().c_str(), nullptr, QEL_RetentionLimits{1000, 3}, nullptr);
  EXPECT_EQ(log.compressed, std::vector<std::string>{"b"});
  EXPECT_TRUE(log.deleted.empty());
  EXPECT_EQ(NumberOfFiles, 3);
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"a.gz", "b.gz", "c.gz"}));
}

TEST(RetentionScan, FailedDeletionEndsTheLoop) {
  qeltest::FakeSystem clock;
  clock.nowSec = kNow;
  qeltest::ScratchDir dir("ret-faildel");
  rettest::FakeRetentionSys fakes;
  for (int i = 0; i < 5; ++i) MakeFile(dir.file("f" + std::to_string(i) + ".gz"), 10, kOld + i);
  log.failDeletionAt = 1;
  QEL_TidyTraceDirectory(dir.path().c_str(), nullptr, QEL_RetentionLimits{1000, 2}, nullptr);
  EXPECT_EQ(log.deleted, std::vector<std::string>{"f0.gz"});
  EXPECT_EQ(Names(dir.path()).size(), 4u);
  EXPECT_EQ(NumberOfFiles, 0);
  EXPECT_EQ(TotalSpaceUsed, 0);
}

TEST(RetentionScan, UnlistableDirectoryDoesNothing) {
  rettest::FakeRetentionSys fakes;
  NumberOfFiles = 7;
  EXPECT_EQ(QEL_TidyTraceDirectory("/nonexistent/qel", nullptr, kTraceRetentionLimits, nullptr), 1);
  EXPECT_EQ(NumberOfFiles, 0);
  EXPECT_EQ(log.compressCalls, 0);
}

// ---- Keep-or-delete table -----------------------------------------------------------------

TEST(RetentionTable, LookUpAndNames) {
  struct Row {
    const char *utility;
    int code;
    int found;
    TraceDisposition disposition;
  };
  const std::vector<Row> rows = {
      {"qeladap", 0, 1, Trace_Delete},          {"qeladap", 3, 1, Trace_Keep},
      {"qelxlate", 0, 1, Trace_Delete},         {"qelses_resetswapbit", 0, 1, Trace_Delete},
      {"qelses_resetswapbit", -1, 1, Trace_Keep}, {"qelses_pcm", 0, 1, Trace_Keep},
      {"qeladapter", 0, 1, Trace_Keep},         {"QELADAP", 0, 1, Trace_Keep},
  };
  for (const Row &r : rows) {
    TraceDisposition d = Entry_Invalid;
    EXPECT_EQ(LookUpDisposition(r.utility, r.code, &d), r.found) << r.utility << " " << r.code;
    EXPECT_EQ(d, r.disposition) << r.utility << " " << r.code;
  }
  TraceDisposition untouched = Trace_Delete;
  EXPECT_EQ(LookUpDisposition(nullptr, 0, &untouched), 0);
  EXPECT_EQ(untouched, Trace_Delete);
  EXPECT_EQ(LookUpDisposition("qeladap", 0, nullptr), 0);

  EXPECT_EQ(IntelligentTraceTable[kIntelligentTraceRows - 1].utility, nullptr);
  EXPECT_EQ(IntelligentTraceTable[kIntelligentTraceRows - 1].disposition, Entry_Invalid);
  EXPECT_STREQ(IntelligentTraceTable[kIntelligentTraceRows - 2].utility, "*");
  EXPECT_STREQ(IntelligentTraceTable[0].utility, "qelxlate");
  EXPECT_STREQ(IntelligentTraceTable[27].utility, "qelses_resetswapbit");

  const std::vector<std::pair<int, const char *>> names = {
      {0, "Entry_Invalid"}, {1, "Trace_Keep"}, {2, "Trace_Delete"}, {3, "?"}, {-1, "?"}};
  for (const auto &[value, name] : names) EXPECT_STREQ(DisplayDisposition(value), name);
}

// ---- The handler as a whole ---------------------------------------------------------------

struct HandlerCase {
  const char *utility;
  int usingTable;
  int finalCode;
  bool traceKept;
};

TEST(RetentionHandler, TableDecidesOnlyWhenSwitchedOn) {
  const std::vector<HandlerCase> cases = {
      {"qeladap", 1, 0, false}, {"qeladap", 1, 3, true}, {"qelses_pcm", 1, 0, true},
      {"qeladap", 0, 0, true},
  };
  for (const HandlerCase &c : cases) {
    SCOPED_TRACE(std::string(c.utility) + " rc " + std::to_string(c.finalCode));
    qeltest::FakeSystem clock;
    clock.nowSec = kNow;
    TraceGlobals restore;
    qeltest::ScratchDir dir("ret-handler");
    rettest::FakeRetentionSys fakes;
    MakeFile(dir.file("stale"), 10, kOld);
    QEL_DebugDir = dir.path().c_str();
    ASSERT_EQ(OpenLogFile(c.utility), 0);
    const std::string trace = DebugStreamName;
    UsingIntelligentTracing = c.usingTable;
    FinalReturnCode = c.finalCode;
    QEL_DebugExitHandler();
    EXPECT_EQ(GetDebugFile(), nullptr);
    EXPECT_EQ(rettest::Exists(trace + ".gz"), c.traceKept);
    EXPECT_FALSE(rettest::Exists(trace));
    // A deleted trace ends the handler: nothing else is compressed.
    EXPECT_EQ(rettest::Exists(dir.file("stale.gz")), c.traceKept);
  }
}

TEST(RetentionHandler, OwnCompressedTraceOverTheBudgetIsDeleted) {
  qeltest::FakeSystem clock;
  clock.nowSec = kNow;
  TraceGlobals restore;
  qeltest::ScratchDir dir("ret-bigown");
  rettest::FakeRetentionSys fakes;
  QEL_DebugDir = dir.path().c_str();
  ASSERT_EQ(OpenLogFile("qelses_pcm"), 0);
  const std::string trace = DebugStreamName;
  // The run's trace grew past the budget; even compressed (three quarters here) it is over.
  ASSERT_EQ(ftruncate(fileno(GetDebugFile()), 9000000), 0);
  QEL_DebugExitHandler();
  EXPECT_EQ(log.compressed, std::vector<std::string>{rettest::BaseName(trace)});
  EXPECT_EQ(log.deleted, std::vector<std::string>{rettest::BaseName(trace) + ".gz"});
  EXPECT_TRUE(Names(dir.path()).empty());
}

TEST(RetentionHandler, FinishedTraceIsCompressedWithTrailerAndOpenMode) {
  qeltest::FakeSystem clock;
  clock.nowSec = kNow;
  TraceGlobals restore;
  qeltest::ScratchDir dir("ret-trailer");
  QEL_DebugDir = dir.path().c_str();
  const mode_t oldMask = umask(022);
  ASSERT_EQ(OpenLogFile("qelses_pcm"), 0);
  umask(oldMask);
  const std::string trace = DebugStreamName;
  QEL_DebugExitHandler();  // real gzip
  struct stat st {};
  ASSERT_EQ(stat((trace + ".gz").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666u);
  std::string text;
  if (FILE *p = popen(("gzip -dc < '" + trace + ".gz'").c_str(), "r")) {
    char buf[512];
    for (std::size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) text.append(buf, n);
    pclose(p);
  }
  EXPECT_NE(text.find("Program qelses_pcm started.\n"), std::string::npos);
  EXPECT_NE(text.find("\nCompleted at "), std::string::npos) << text;
  EXPECT_NE(text.find(" 2026\n\n"), std::string::npos) << text;
  EXPECT_EQ(text.back(), '\n');
}

// Two exits at once on one crowded directory, with real gzip: whichever deletes a file first,
// the other's deletion fails and ends its loop. Nothing breaks, nothing stays uncompressed,
// and the newest files stay.
TEST(RetentionHandler, TwoHandlersAtOnce) {
  qeltest::ScratchDir dir("ret-race");
  const std::int64_t now = static_cast<std::int64_t>(time(nullptr));
  constexpr int kFiles = 40;
  constexpr std::int32_t kLimit = 30;
  for (int i = 0; i < kFiles; ++i) {
    const std::string path = dir.file("r" + std::to_string(100 + i));
    if (FILE *f = fopen(path.c_str(), "w")) {
      fprintf(f, "trace %d\n", i);
      fclose(f);
    }
    rettest::SetMtime(path, now - 10000 + i);
  }
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  std::vector<pid_t> children;
  for (int k = 0; k < 2; ++k) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(go[1]);
      char c;
      (void)!read(go[0], &c, 1);  // both start together when the pipe closes
      QEL_TidyTraceDirectory(dir.path().c_str(), nullptr, QEL_RetentionLimits{1000000, kLimit}, nullptr);
      _exit(0);
    }
    children.push_back(pid);
  }
  close(go[0]);
  close(go[1]);
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  // Each listing may catch the other's gzip between writing a ".gz" and removing the original,
  // so a handler can be off by a file or two; what must hold is below.
  const std::vector<std::string> names = Names(dir.path());
  EXPECT_LE(names.size(), static_cast<std::size_t>(kLimit + 2));
  for (const std::string &name : names) {
    ASSERT_EQ(name.substr(name.size() - 3), ".gz") << name;  // nothing left uncompressed
    const std::string head = qeltest::ReadFile(dir.file(name)).substr(0, 2);
    EXPECT_EQ(head, "\x1f\x8b") << name;                   // each a gzip stream
  }
  for (int i = kFiles - 25; i < kFiles; ++i) {  // the newest are never the ones deleted
    EXPECT_TRUE(rettest::Exists(dir.file("r" + std::to_string(100 + i) + ".gz"))) << i;
  }
}

}  // namespace

// Trace retention and the exit handler: one table of directories, each run through the
// single-listing tidy-up and through its per-file fallback walk, which must decide alike; the
// compression command's path limit and the gzip batches; the keep-or-delete table; and a real
// process exit among hostile file names.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <sstream>
#include <tuple>
#include <utility>

#include "qeldebug.h"
#include "retention.h"
#include "testsupport.h"

namespace {

using qeltest::Cat;
using Names = std::vector<std::string>;

constexpr std::int64_t kNow = 1796350566;  // where the fake clock stands

// A sparse file of size bytes, or a directory when path ends in "/", last modified at mtime.
void Make(const std::string &path, std::int64_t size, std::int64_t mtime) {
  const int fd = path.back() == '/' ? mkdir(path.c_str(), 0755) : open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  EXPECT_TRUE(fd >= 0 && (path.back() == '/' || (ftruncate(fd, static_cast<off_t>(size)) == 0 && close(fd) == 0))) << path;
  const utimbuf times{static_cast<time_t>(mtime), static_cast<time_t>(mtime)};
  utime(path.c_str(), &times);
}

// Entries "name:size:age" (age in seconds before the fake clock's now, or "@mtime"); a name
// ending in "/" is a directory, ">name" a link to nowhere, "-name" removes that entry.
void Populate(const std::string &dir, const std::string &entries) {
  std::istringstream in(entries);
  for (std::string e; in >> e;) {
    const std::string path = Cat(dir, "/", e.substr(e[0] == '>' || e[0] == '-' ? 1 : 0, e.find(':')));
    if (e[0] == '-' || e[0] == '>') {
      EXPECT_EQ(e[0] == '-' ? unlink(path.c_str()) : symlink("nowhere", path.c_str()), 0) << e;
    } else {
      const std::size_t s = e.find(':') + 1, a = e.rfind(':') + 1;  // size, age
      Make(path, std::stoll(e.substr(s, a - s - 1)), e[a] == '@' ? std::stoll(e.substr(a + 1)) : kNow - std::stoll(e.substr(a)));
    }
  }
}

std::string Join(const Names &names) {
  std::string s;
  for (const std::string &n : names) s = s.empty() ? n : Cat(s, " ", n);
  return s;
}

std::string BaseName(const std::string &path) { return path.substr(path.rfind('/') + 1); }

// What the stand-ins of the system calls saw, by base name, in order, and what they do.
struct Log {
  Names compressed, deleted;
  int failDeletionAt = -1;   // this deletion (from 0) fails, as when another run took the file
  std::string vanishOnStat;  // removed just before its status is read
  // Another process's change to the directory, made after the first deletion and before the
  // next decision. The fallback walk rescans anyway, so it is made in that deletion; the single
  // listing looks at the directory's time right after its own deletion, so it is made at the
  // second look.
  std::function<void()> otherProcess;
  bool otherAtSecondLook = false;
  int looks = 0;
} seen;

// Makes the other process's change and gives the directory a modification time of its own, as
// a later change would, however coarse the clock.
void RunOtherProcess(const std::string &dir) {
  if (!seen.otherProcess) return;
  std::exchange(seen.otherProcess, nullptr)();
  std::filesystem::last_write_time(dir, std::filesystem::last_write_time(dir) + std::chrono::seconds(1));
}

const QEL_RetentionCalls kFakeCalls = {
    [](const char *path, QEL_FileStatus *status) {
      if (BaseName(path) == seen.vanishOnStat) unlink(path);
      return QEL_RetentionSysDefaults.statFn(path, status);
    },
    [](const char *path) {
      if (static_cast<int>(seen.deleted.size()) == seen.failDeletionAt || unlink(path) != 0) return -1;
      seen.deleted.push_back(BaseName(path));
      if (!seen.otherAtSecondLook && seen.deleted.size() == 1) RunOtherProcess(std::string(path, std::strrchr(path, '/')));
      return 0;
    },
    // As gzip leaves each file: path".gz" (overwritten), three quarters of the size, the same mtime.
    [](std::span<const char *const> paths) {
      for (const char *path : paths) {
        struct stat st {};
        if (stat(path, &st) != 0 || rename(path, Cat(path, ".gz").c_str()) != 0) continue;
        seen.compressed.push_back(BaseName(path));
        Make(Cat(path, ".gz"), st.st_size - st.st_size / 4, st.st_mtime);
      }
      return 0;
    },
    [](const char *dir, std::int64_t *stampNs) {
      if (seen.otherAtSecondLook && seen.deleted.size() == 1 && ++seen.looks == 2) RunOtherProcess(dir);
      return QEL_RetentionSysDefaults.dirStampFn(dir, stampNs);
    }};

// A fixed clock and the stand-ins of the system calls with a cleared log.
class Retention : public ::testing::Test {
 protected:
  Retention() {
    seen = Log{};
    QEL_RetentionSys = kFakeCalls;
  }
  ~Retention() override { QEL_RetentionSys = QEL_RetentionSysDefaults; }

  qeltest::FakeSystem clock_;
};

struct Row {
  const char *files, *own;  // own: this run's trace, or ""
  QEL_RetentionLimits limits;
  int failDeletionAt;
  const char *vanishOnStat, *otherProcess;  // the other process's change, as files
  // "compressed (sorted) / deleted (in order) / left (sorted) / NumberOfFiles TotalSpaceUsed", or
  // nullptr where the listing order decides: then the single listing must decide as the walk.
  const char *outcome;
  int scans;  // listings by the single listing
};

const Row kRows[] = {
    // The oldest go until within 6,000,000 bytes (decimal), at which nothing more goes.
    {"a:2000000:3 b:2000000:2 c:2000001:1", "", kTraceRetentionLimits, -1, "", "", " / a / b c / 2 4000001", 1},
    {"a:1000000:4 b:1000000:3 c:1000000:2 d:5000000:1", "", kTraceRetentionLimits, -1, "", "", " / a b / c d / 2 6000000", 1},
    // Compressed: not ".gz" (case matters) and untouched for more than 600 s, or this run's trace
    // however fresh; never a directory.
    {"t600:10:600 t601:10:601 d.gz:10:5000 u.GZ:10:5000 n.txt:10:5000 own:10:0 fut:10:-100 sub/:0:5000", "own",
     kTraceRetentionLimits, -1, "", "", "n.txt own t601 u.GZ /  / d.gz fut n.txt.gz own.gz sub t600 t601.gz u.GZ.gz / 7 62", 2},
    // This run's trace over the budget even compressed goes like any other.
    {"own:9000000:0", "own", kTraceRetentionLimits, -1, "", "", "own / own.gz /  / 0 0", 2},
    // Files of any name count. The loop stops on the count with the bytes of the listing.
    {"c.gz:40:999 n.gz:40:998 t.gz:40:997 b:40:996", "", {1000, 3}, -1, "", "", "b / c.gz / b.gz n.gz t.gz / 3 150", 2},
    // Neither do dangling links, nor a file removed between listing and status read, wherever
    // they are listed: this directory is at its limits. The removal makes the directory listed again.
    {">l0 a:10:5 b:10:4 >l1 c:10:3 d:10:2 old:10:9 >l2", "", {40, 4}, -1, "old", "", " /  / a b c d l0 l1 l2 / 4 40", 2},
    // A failed deletion (another run took the file) ends the loop with the totals cleared.
    {"a.gz:10:3 b.gz:10:2 c.gz:10:1", "", {10, 5}, 1, "", "", " / a.gz / b.gz c.gz / 0 0", 1},
    // A file dated before 1970 goes first; one dated 0 counts as no file recorded and stays.
    {"z.gz:10:@0 n.gz:10:@-1", "", {0, 0}, -1, "", "", " / n.gz / z.gz / 0 0", 1},
    // Among later dates only those listed after the last file dated 0 are candidates.
    {"p.gz:10:50 z.gz:10:@0 q.gz:10:40 n.gz:10:@-5 r.gz:10:30 s.gz:10:20", "", {0, 0}, -1, "", "", nullptr, 1},
    // Another process removes the next candidate and adds an older file after the first deletion:
    // the directory is listed again and the loop goes on from there.
    {"a.gz:10:30 b.gz:10:20 c.gz:10:10", "", {10, 1}, -1, "", "-b.gz u.gz:10:1000", " / a.gz u.gz / c.gz / 1 10", 2},
};

TEST_F(Retention, SingleListingAndFallbackWalkDecideAlike) {
  for (const Row &row : kRows) {
    std::string walked;
    for (const bool walk : {true, false}) {
      SCOPED_TRACE(Cat(row.files, walk ? " (walk)" : ""));
      qeltest::ScratchDir d("ret-row");
      Populate(d.path(), row.files);
      seen = Log{{}, {}, row.failDeletionAt, row.vanishOnStat, nullptr, !walk, 0};
      if (*row.otherProcess != '\0') seen.otherProcess = [&] { Populate(d.path(), row.otherProcess); };
      const std::string own = d.file(row.own);
      const char *ownTrace = *row.own != '\0' ? own.c_str() : nullptr;
      QEL_RetentionReport report{};
      if (walk) {
        QEL_RetainByRescanning(d.path().c_str(), ownTrace, row.limits, &report);
      } else {
        EXPECT_EQ(QEL_TidyTraceDirectory(d.path().c_str(), ownTrace, row.limits, &report), 0);
        EXPECT_EQ(report.directoryScans, row.scans);
        EXPECT_EQ(report.compressProcesses, seen.compressed.empty() ? 0 : 1);
      }
      std::sort(seen.compressed.begin(), seen.compressed.end());
      const std::string outcome = Cat(Join(seen.compressed), " / ", Join(seen.deleted), " / ", Join(qeltest::ListDir(d.path())),
                                      " / ", std::to_string(NumberOfFiles), " ", std::to_string(TotalSpaceUsed));
      EXPECT_EQ(outcome, row.outcome != nullptr ? row.outcome : walk ? outcome : walked);
      EXPECT_EQ(report.filesDeleted, static_cast<int>(seen.deleted.size()));
      walked = outcome;
    }
  }
}

// "gzip -f %s 2> /dev/null" fits its 1024-byte buffer only with a path of at most 1002 bytes: a
// longer one is not compressed (never cut) and still counts.
TEST_F(Retention, PathTooLongForTheCompressCommandIsNotCompressed) {
  qeltest::ScratchDir dir("ret-deep");
  std::string deep = dir.path();  // components of at most 200 bytes, ending on 997 exactly
  while (deep.size() < 997) deep = Cat(deep, "/", std::string(997 - deep.size() > 200 ? 100 : 996 - deep.size(), 'd'));
  ASSERT_TRUE(std::filesystem::create_directories(deep));
  Populate(deep, "fits:10:3600 fits5:10:3600");  // 1002 and 1003 bytes
  QEL_TidyTraceDirectory(deep.c_str(), nullptr, QEL_RetentionLimits{1000, 1}, nullptr);
  EXPECT_EQ(std::pair(seen.compressed, seen.deleted.size()), std::pair(Names{"fits"}, std::size_t{1}));
  // A directory that cannot be listed leaves the totals cleared.
  EXPECT_EQ(QEL_TidyTraceDirectory("/nonexistent/qel", nullptr, kTraceRetentionLimits, nullptr), 1);
  EXPECT_EQ(NumberOfFiles, 0);
}

TEST_F(Retention, CompressedNamesAndArgumentBatches) {
  EXPECT_EQ(std::pair(QEL_compressed_logfile(".gz"), QEL_compressed_logfile(nullptr)), std::pair(0, 0));  // under 4 characters
  // Each argument costs its length, its NUL and a pointer; "gzip -f --" and the closing null too.
  const std::vector<const char *> paths(10, "/nowhere/p0");
  const std::size_t perPath = 12 + sizeof(char *), fixed = 11 + 4 * sizeof(char *);
  const std::pair<std::size_t, int> rows[] = {{fixed + 10 * perPath, 1}, {fixed + 10 * perPath - 1, 2},
                                              {fixed + 3 * perPath, 4}, {fixed + perPath - 1, 0}};
  for (const auto &[budget, processes] : rows) EXPECT_EQ(QEL_CompressPaths(paths, budget), processes) << budget;
  const std::size_t budget = QEL_CompressArgumentBudget();
  EXPECT_GT(budget, 10000u * 64u);  // thousands of trace paths per gzip, less what the environment takes
  setenv("QEL_BULK", std::string(70000, 'x').c_str(), 1);
  EXPECT_EQ(budget - QEL_CompressArgumentBudget(), 70000u + sizeof "QEL_BULK=" + sizeof(char *));
  unsetenv("QEL_BULK");
}

// A trace the keep-or-delete table drops ends the handler; any other is compressed with the
// rest of the directory.
TEST_F(Retention, HandlerDeletesTheTraceOnlyAsTheTableSays) {
  const char *const debugDir = QEL_DebugDir;
  const std::tuple<const char *, int, int, bool> rows[] = {  // utility, table on, return code, kept
      {"qeladap", 1, 0, false},   {"qeladap", 1, 3, true},    {"qelses_resetswapbit", 1, 0, false},
      {"qelses_pcm", 1, 0, true}, {"qeladapter", 1, 0, true}, {"qeladap", 0, 0, true}};
  for (const auto &[utility, usingTable, finalCode, kept] : rows) {
    qeltest::ScratchDir d("ret-handler");
    Populate(d.path(), "stale:10:3600");
    QEL_DebugDir = d.path().c_str();
    ASSERT_EQ(OpenLogFile(utility), 0);
    const std::string trace = DebugStreamName;
    std::tie(UsingIntelligentTracing, FinalReturnCode) = std::pair(usingTable, finalCode);
    QEL_DebugExitHandler();
    EXPECT_EQ(Join(qeltest::ListDir(d.path())), kept ? Cat(BaseName(trace), ".gz stale.gz") : "stale") << utility << finalCode;
  }
  QEL_DebugDir = debugDir;  // the last row leaves the table off
}

// At a real exit, with a real gzip: old files whose names a shell or gzip would act on are
// compressed under their own names, and so is the run's trace, finished and open to the family.
TEST(RetentionProcess, ExitCompressesHostileNamesAndTheTrace) {
  qeltest::ScratchDir dir("ret-exit");
  const Names names = {"a;reboot", "$(id)", "`id`", "b|id", "c&&id", "d'e\"f", "sp ace", "new\nline", "*", "-rf", "x>y"};
  for (const std::string &name : names) Make(dir.file(name), 100, time(nullptr) - 3600);
  const pid_t pid = fork();
  if (pid == 0) {
    QEL_DebugDir = dir.path().c_str();
    QEL_OpenTraceFile("qelprobe");
    std::exit(0);  // the exit handler runs here
  }
  int status = -1;
  ASSERT_TRUE(waitpid(pid, &status, 0) == pid && status == 0) << status;
  for (const std::string &name : names) EXPECT_EQ(qeltest::ReadFile(dir.file(Cat(name, ".gz"))).substr(0, 2), "\x1f\x8b") << name;
  const Names left = qeltest::ListDir(dir.path());
  EXPECT_EQ(left.size(), names.size() + 1);
  const auto trace = std::find_if(left.begin(), left.end(), [](const std::string &n) { return n.starts_with("qelprobe."); });
  ASSERT_NE(trace, left.end());
  struct stat st {};
  EXPECT_TRUE(trace->ends_with(".gz") && stat(dir.file(*trace).c_str(), &st) == 0 && (st.st_mode & 0777) == 0666) << *trace;
}

}  // namespace

// The single-listing tidy-up and its per-file fallback against the reference loop that rescans
// the directory for every deletion, on many random directories: the same files compressed, the
// same files deleted in the same order, the same directory and retention globals at the end.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "reference_retention.h"
#include "retention_helpers.h"
#include "testsupport.h"

namespace {

using rettest::seen;

constexpr std::int64_t kNow = 1796350566;

struct Case {
  std::string ownTrace;  // base name, or empty
  QEL_RetentionLimits limits{};
  int failDeletionAt = -1;
  // Another process, after deletion number otherAfter: removes these names (and their ".gz"
  // forms) and adds these files.
  int otherAfter = -1;
  std::vector<std::string> otherRemoves;
  std::vector<std::tuple<std::string, std::int64_t, std::int64_t>> otherAdds;  // name, size, mtime
};

// Fills dir with entries drawn from seed (the same seed, the same directory) and picks limits
// around their totals.
Case MakeRandomDirectory(const std::string &dir, unsigned seed) {
  std::mt19937 rng(seed);
  auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  // Shared ages make ties; 0, dates before 1970 and the quiet-time edges come up often.
  const std::int64_t ages[] = {kNow - 600, kNow - 601, kNow - 5000, kNow - 5000, kNow - 90000,
                               0, kNow, kNow - 601, -315619200, -1, -315619200};
  constexpr int kLastAge = static_cast<int>(std::size(ages)) - 1;
  const char *const suffixes[] = {"", "", ".gz", ".gz", ".gz", ".GZ", ".Gz", ".txt"};
  Case c;
  if (pick(0, 2) != 0) c.ownTrace = "qelsim.261204021606." + std::to_string(pick(100, 999));
  std::int64_t total = 0;
  int files = 0;
  const int count = pick(0, 40), ownAt = pick(0, count);
  for (int i = 0; i <= count; ++i) {
    if (i == ownAt && !c.ownTrace.empty()) rettest::MakeFile(dir + "/" + c.ownTrace, pick(1, 3000), kNow);
    if (i == count) break;
    const int kind = pick(0, 19);
    const std::string n = std::to_string(i);
    if (kind == 0) {
      const std::string sub = dir + "/d" + n + (pick(0, 1) ? ".gz" : "");
      EXPECT_EQ(mkdir(sub.c_str(), 0755), 0);
      rettest::SetMtime(sub, 1);
    } else if (kind == 1) {
      EXPECT_EQ(symlink("nowhere", (dir + "/link" + n).c_str()), 0);
    } else {
      // Kind 2 takes the compressed name of the file before, which gzip then overwrites.
      const std::string path =
          dir + "/t" + (kind == 2 && i > 0 ? std::to_string(i - 1) + ".gz" : n + suffixes[pick(0, 7)]);
      const std::int64_t size = pick(0, 3) == 0 ? 0 : pick(1, 4000);
      const std::int64_t mtime = pick(0, 2) == 0 ? ages[pick(0, kLastAge)] : kNow - pick(0, 3000);
      if (rettest::Exists(path)) continue;
      rettest::MakeFile(path, size, mtime);
      total += size;
      ++files;
    }
  }
  // Limits at the totals, well above them, or anywhere below.
  const int byteMode = pick(0, 3), fileMode = pick(0, 3);
  c.limits.maxBytes = byteMode == 0 ? total : byteMode == 1 ? total * 10 : pick(0, static_cast<int>(total));
  c.limits.maxFiles = fileMode == 0 ? files : fileMode == 1 ? files + 5 : pick(0, std::max(files, 1));
  if (pick(0, 4) == 0) c.failDeletionAt = pick(0, 3);
  if (pick(0, 2) == 0) {
    c.otherAfter = pick(1, 3);
    for (int i = pick(0, 2); i > 0; --i) {
      c.otherRemoves.push_back(qeltest::Cat("t", std::to_string(pick(0, count))));
    }
    for (int i = pick(0, 2); i > 0; --i) {
      const std::int64_t mtime = ages[pick(0, kLastAge)];
      c.otherAdds.emplace_back(qeltest::Cat("u", std::to_string(i), ".gz"), pick(1, 4000), mtime);
    }
  }
  return c;
}

// The names in the order the directory lists them, which settles ties.
std::vector<std::string> ListingOrder(const std::string &dir) {
  std::vector<std::string> names;
  for (const auto &e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename());
  return names;
}

struct Result {
  rettest::Log log;                           // what was compressed and deleted, in order
  std::map<std::string, std::int64_t> sizes;  // the directory afterwards
  std::tuple<int, int, std::int32_t, std::string> globals;
};

enum Runner { kReference, kSingleListing, kFallbackWalk };

Result RunTidy(Runner runner, const std::string &dir, const Case &c) {
  rettest::FakeRetentionSys fakes;
  seen.failDeletionAt = c.failDeletionAt;
  seen.otherAfter = c.otherAfter;
  seen.otherAtSecondLook = runner == kSingleListing;
  seen.otherProcess = [&dir, &c] {
    for (const std::string &name : c.otherRemoves) {
      unlink((dir + "/" + name).c_str());
      unlink((dir + "/" + name + ".gz").c_str());
    }
    for (const auto &[name, size, mtime] : c.otherAdds) rettest::MakeFile(dir + "/" + name, size, mtime);
  };
  const std::string own = dir + "/" + c.ownTrace;
  const char *ownTrace = c.ownTrace.empty() ? nullptr : own.c_str();
  Result r;
  if (runner == kReference) {
    const qelref::Calls calls{[](const char *p, struct stat *st) { return stat(p, st); },
                              rettest::LoggedUnlink, rettest::FakeCompressOne};
    const qelref::Outcome o =
        qelref::ReferenceTidy(dir, ownTrace, c.limits.maxBytes, c.limits.maxFiles, calls);
    r.globals = {o.totalSpaceUsed, o.numberOfFiles, o.oldestFileDate, rettest::BaseName(o.oldestFileName)};
  } else if (runner == kSingleListing) {
    QEL_RetentionReport report{};
    QEL_TidyTraceDirectory(dir.c_str(), ownTrace, c.limits, &report);
    EXPECT_LE(report.directoryScans, c.otherAfter > 0 ? 3 : 2);  // however many deletions
    EXPECT_LE(seen.compressCalls, 1);
  } else {
    QEL_RetainByRescanning(dir.c_str(), ownTrace, c.limits, nullptr);
  }
  if (runner != kReference) {
    r.globals = {TotalSpaceUsed, NumberOfFiles, OldestFileDate, rettest::BaseName(OldestFileName)};
  }
  rettest::RunOtherProcess(dir);  // when the tidy-up stopped before it
  r.log = seen;
  for (const std::string &name : qeltest::ListDir(dir)) {
    struct stat st {};
    r.sizes[name] = stat((dir + "/" + name).c_str(), &st) == 0 ? st.st_size : -1;
  }
  return r;
}

}  // namespace

TEST(RetentionDifferential, SingleListingAndFallbackDecideAsTheRescanningLoop) {
  qeltest::FakeSystem clock;
  clock.nowSec = kNow;
  constexpr int kCases = 250;
  int deletingCases = 0, compressingCases = 0;
  for (int seed = 1; seed <= kCases && !HasFailure(); ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    qeltest::ScratchDir dirs[] = {qeltest::ScratchDir("ret-ref"), qeltest::ScratchDir("ret-single"),
                                  qeltest::ScratchDir("ret-walk")};
    Case c;
    for (const qeltest::ScratchDir &d : dirs) {
      c = MakeRandomDirectory(d.path(), static_cast<unsigned>(seed));
      ASSERT_EQ(ListingOrder(d.path()), ListingOrder(dirs[0].path()));
    }
    const Result want = RunTidy(kReference, dirs[0].path(), c);
    for (const Runner runner : {kSingleListing, kFallbackWalk}) {
      const Result got = RunTidy(runner, dirs[runner].path(), c);
      EXPECT_EQ(got.log.compressed, want.log.compressed) << runner;
      EXPECT_EQ(got.log.deleted, want.log.deleted) << runner;
      EXPECT_EQ(got.sizes, want.sizes) << runner;
      EXPECT_EQ(got.globals, want.globals) << runner;
    }
    deletingCases += want.log.deleted.empty() ? 0 : 1;
    compressingCases += want.log.compressed.empty() ? 0 : 1;
  }
  // The random cases must exercise both passes, or the comparison proves little.
  EXPECT_GT(deletingCases, kCases / 5);
  EXPECT_GT(compressingCases, kCases / 5);
}

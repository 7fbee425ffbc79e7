// The single-listing tidy-up against the reference loop that rescans the directory for every
// deletion, on many random directories: the same files compressed, the same files deleted in
// the same order, the same directory and the same retention globals at the end.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "reference_retention.h"
#include "retention.h"
#include "retention_helpers.h"
#include "testsupport.h"

namespace {

using rettest::log;

struct Planned {
  std::string name;
  bool directory = false;
  bool danglingLink = false;
  std::int64_t size = 0;
  std::int64_t mtime = 0;
};

struct Case {
  std::vector<Planned> entries;
  std::string ownTrace;  // base name, or empty
  std::int64_t maxBytes = 0;
  std::int32_t maxFiles = 0;
  int failDeletionAt = -1;
};

constexpr std::int64_t kNow = 1796350566;

Case RandomCase(std::mt19937 &rng) {
  auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  Case c;
  const int count = pick(0, 40);
  // A few shared ages make ties; 0 and the quiet-time edges come up often.
  const std::vector<std::int64_t> ages = {kNow - 600, kNow - 601, kNow - 5000, kNow - 5000,
                                          kNow - 90000, 0, kNow, kNow - 601};
  std::int64_t total = 0;
  int files = 0;
  for (int i = 0; i < count; ++i) {
    Planned p;
    const int kind = pick(0, 19);
    const std::string stem = "t" + std::to_string(i);
    if (kind == 0) {
      p.name = "d" + std::to_string(i) + (pick(0, 1) ? ".gz" : "");
      p.directory = true;
    } else if (kind == 1) {
      p.name = "link" + std::to_string(i);
      p.danglingLink = true;
    } else {
      static const char *const kSuffixes[] = {"", "", ".gz", ".gz", ".gz", ".GZ", ".Gz", ".txt"};
      p.name = stem + kSuffixes[pick(0, 7)];
      // Sometimes a file whose compressed name is already taken: gzip overwrites it.
      if (kind == 2 && i > 0) p.name = "t" + std::to_string(i - 1) + ".gz";
      p.size = pick(0, 3) == 0 ? 0 : pick(1, 4000);
      p.mtime = pick(0, 2) == 0 ? ages[static_cast<std::size_t>(pick(0, 7))] : kNow - pick(0, 3000);
      total += p.size;
      ++files;
    }
    if (std::none_of(c.entries.begin(), c.entries.end(), [&p](const Planned &q) { return q.name == p.name; })) {
      c.entries.push_back(p);
    }
  }
  // Limits around the totals: sometimes under, sometimes over, sometimes exactly at them.
  const int byteMode = pick(0, 3);
  c.maxBytes = byteMode == 0 ? total : byteMode == 1 ? total * 10 : pick(0, static_cast<int>(total));
  const int fileMode = pick(0, 3);
  c.maxFiles = fileMode == 0 ? files : fileMode == 1 ? files + 5 : pick(0, std::max(files, 1));
  if (pick(0, 4) == 0) c.failDeletionAt = pick(0, 3);
  if (pick(0, 2) != 0) {
    c.ownTrace = "qelsim.261204021606." + std::to_string(pick(100, 999));
    Planned own;
    own.name = c.ownTrace;
    own.size = pick(1, 3000);
    own.mtime = kNow;
    c.entries.push_back(own);
  }
  std::shuffle(c.entries.begin(), c.entries.end(), rng);
  return c;
}

void Build(const std::string &dir, const Case &c) {
  for (const Planned &p : c.entries) {
    const std::string path = dir + "/" + p.name;
    if (p.directory) {
      mkdir(path.c_str(), 0755);
      rettest::SetMtime(path, 1);
    } else if (p.danglingLink) {
      ASSERT_EQ(symlink("nowhere", path.c_str()), 0);
    } else {
      rettest::MakeFile(path, p.size, p.mtime);
    }
  }
}

std::map<std::string, std::int64_t> State(const std::string &dir) {
  std::map<std::string, std::int64_t> state;
  for (const std::string &name : rettest::ListingOrder(dir)) state[name] = rettest::FileSize(dir + "/" + name);
  return state;
}

struct Result {
  std::vector<std::string> compressed, deleted;
  std::map<std::string, std::int64_t> state;
  int totalSpaceUsed = 0, numberOfFiles = 0;
  std::int32_t oldestFileDate = 0;
  std::string oldestFileName;
  int scans = 0, compressCalls = 0;
};

// Plain status read for the reference: the differential runs make nothing vanish.
int PlainStat(const char *path, struct stat *st) { return stat(path, st); }

enum class Runner { Reference, Product, Rescanning };

Result RunTidy(Runner runner, const std::string &dir, const Case &c) {
  rettest::FakeRetentionSys fakes;
  log.failDeletionAt = c.failDeletionAt;
  const std::string own = c.ownTrace.empty() ? "" : dir + "/" + c.ownTrace;
  const char *ownTrace = c.ownTrace.empty() ? nullptr : own.c_str();
  const QEL_RetentionLimits limits{c.maxBytes, c.maxFiles};
  Result r;
  if (runner == Runner::Reference) {
    const qelref::Calls calls{PlainStat, rettest::LoggedUnlink, rettest::FakeCompressOne};
    const qelref::Outcome o = qelref::ReferenceTidy(dir, ownTrace, c.maxBytes, c.maxFiles, calls);
    r.totalSpaceUsed = o.totalSpaceUsed;
    r.numberOfFiles = o.numberOfFiles;
    r.oldestFileDate = o.oldestFileDate;
    r.oldestFileName = rettest::BaseName(o.oldestFileName);
    r.scans = o.scans;
  } else {
    QEL_RetentionReport report{};
    if (runner == Runner::Product) {
      QEL_TidyTraceDirectory(dir.c_str(), ownTrace, limits, &report);
    } else {
      QEL_RetainByRescanning(dir.c_str(), ownTrace, limits, &report);
    }
    r.totalSpaceUsed = TotalSpaceUsed;
    r.numberOfFiles = NumberOfFiles;
    r.oldestFileDate = OldestFileDate;
    r.oldestFileName = rettest::BaseName(OldestFileName);
    r.scans = report.directoryScans;
  }
  r.compressed = log.compressed;
  r.deleted = log.deleted;
  r.compressCalls = log.compressCalls;
  r.state = State(dir);
  return r;
}

}  // namespace

TEST(RetentionDifferential, SingleListingDecidesAsTheRescanningLoop) {
  qeltest::FakeSystem clock;
  clock.nowSec = kNow;
  constexpr int kCases = 250;
  int deletingCases = 0, compressingCases = 0;
  for (int seed = 1; seed <= kCases; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(static_cast<std::mt19937::result_type>(seed));
    const Case c = RandomCase(rng);
    qeltest::ScratchDir refDir("ret-ref"), productDir("ret-product"), walkDir("ret-walk");
    Build(refDir.path(), c);
    Build(productDir.path(), c);
    Build(walkDir.path(), c);
    // Ties are settled by listing order, so the directories must list alike to be compared.
    ASSERT_EQ(rettest::ListingOrder(refDir.path()), rettest::ListingOrder(productDir.path()));
    ASSERT_EQ(rettest::ListingOrder(refDir.path()), rettest::ListingOrder(walkDir.path()));

    const Result want = RunTidy(Runner::Reference, refDir.path(), c);
    const Result got = RunTidy(Runner::Product, productDir.path(), c);
    const Result walk = RunTidy(Runner::Rescanning, walkDir.path(), c);
    for (const Result *r : {&got, &walk}) {
      EXPECT_EQ(r->compressed, want.compressed);
      EXPECT_EQ(r->deleted, want.deleted);
      EXPECT_EQ(r->state, want.state);
      EXPECT_EQ(r->totalSpaceUsed, want.totalSpaceUsed);
      EXPECT_EQ(r->numberOfFiles, want.numberOfFiles);
      EXPECT_EQ(r->oldestFileDate, want.oldestFileDate);
      EXPECT_EQ(r->oldestFileName, want.oldestFileName);
    }
    // However many deletions, the product lists the directory at most twice and starts at
    // most one compression process.
    EXPECT_LE(got.scans, 2);
    EXPECT_LE(got.compressCalls, 1);
    deletingCases += want.deleted.empty() ? 0 : 1;
    compressingCases += want.compressed.empty() ? 0 : 1;
    if (HasFailure()) break;
  }
  // The random cases must exercise both passes, or the comparison proves little.
  EXPECT_GT(deletingCases, kCases / 5);
  EXPECT_GT(compressingCases, kCases / 5);
}

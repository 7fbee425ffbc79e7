// Compression and retention of the shared trace directory.
//
// The retention rule is a loop: list the whole directory, total the regular files, record the
// least recently modified one, delete it if the totals are over budget, and list again. Run as
// written it costs one full listing per deletion, which on a directory of tens of thousands of
// files means minutes of root time on every exit. QEL_TidyTraceDirectory reaches the same
// decisions from one listing: as long as nobody else changes the directory, every rescan of
// the loop would see the same files in the same order minus the ones already deleted, so the
// loop's choices can be worked out in memory and only the deletions touch the disk. Sibling
// utilities tidy the same directory at the same time, so before each decision the directory's
// modification time is compared with what it was after this run's own last change to it; when
// another process has changed it, the directory is listed again, as the loop would.
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "qeldebug.h"
#include "qelsys.h"
#include "retention.h"

extern char **environ;

std::int32_t OldestFileDate = 0;
char OldestFileName[kOldestFileNameSize] = "";
int NumberOfFiles = 0;
int TotalSpaceUsed = 0;

namespace {

constexpr char kGzipProgram[] = "gzip";
constexpr char kGzipForce[] = "-f";
constexpr char kEndOfOptions[] = "--";
constexpr char kDevNull[] = "/dev/null";
constexpr char kGzipEnvironmentPrefix[] = "GZIP";  // options gzip would take from the environment
// The command the compression stands for is "gzip -f %s 2> /dev/null" in a 1024-byte buffer:
// a path longer than what is left of it is refused (not compressed; it still counts towards
// the budget).
constexpr char kCommandText[] = "gzip -f  2> /dev/null";
constexpr std::size_t kMaxCompressPathLength = kCompressCommandSize - sizeof kCommandText;
// Headroom below the system's argument limit, as xargs keeps.
constexpr std::size_t kArgumentHeadroom = 2048;
constexpr std::size_t kMinimumArgumentBudget = 4096;

// The 64-bit interfaces: a 32-bit build must still list and size every file of a large
// directory (the 32-bit readdir gives up on 64-bit directory offsets, stat on large values).
int SysStat(const char *path, QEL_FileStatus *status) {
  struct stat64 st {};
  if (::stat64(path, &st) != 0) return -1;
  status->regular = S_ISREG(st.st_mode) ? 1 : 0;
  status->size = static_cast<std::int64_t>(st.st_size);
  status->mtime = static_cast<std::int64_t>(st.st_mtime);
  return 0;
}
int SysUnlink(const char *path) { return ::unlink(path); }
int SysDirStamp(const char *dir, std::int64_t *stampNs) {
  struct stat64 st {};
  if (::stat64(dir, &st) != 0) return -1;
  constexpr std::int64_t kNanosPerSecond = 1000000000;
  *stampNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * kNanosPerSecond +
             static_cast<std::int64_t>(st.st_mtim.tv_nsec);
  return 0;
}

bool IsDotEntry(const char *name) {
  return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

bool IsGzipEnvironment(const char *entry) {
  const std::size_t n = sizeof kGzipEnvironmentPrefix - 1;
  return std::strncmp(entry, kGzipEnvironmentPrefix, n) == 0 && entry[n] == '=';
}

// Runs gzip once on every path, without a shell, error output to /dev/null, and waits for it.
int SpawnGzip(std::span<const char *const> paths) {
  try {
    std::vector<char *> argv;
    argv.reserve(paths.size() + 4);
    argv.push_back(const_cast<char *>(kGzipProgram));
    argv.push_back(const_cast<char *>(kGzipForce));
    argv.push_back(const_cast<char *>(kEndOfOptions));
    for (const char *p : paths) argv.push_back(const_cast<char *>(p));
    argv.push_back(nullptr);
    // gzip reads extra options from its environment; the effect must stay a plain "-f".
    std::vector<char *> envp;
    for (char **e = environ; e != nullptr && *e != nullptr; ++e) {
      if (!IsGzipEnvironment(*e)) envp.push_back(*e);
    }
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return -1;
    int status = -1;
    pid_t pid = -1;
    if (posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, kDevNull, O_WRONLY, 0) == 0 &&
        posix_spawnp(&pid, kGzipProgram, &actions, nullptr, argv.data(), envp.data()) == 0) {
      while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
          status = -1;
          break;
        }
      }
    }
    posix_spawn_file_actions_destroy(&actions);
    return status;
  } catch (...) {
    return -1;
  }
}

// Owns an open directory listing for the length of one walk.
class DirListing {
 public:
  explicit DirListing(const char *path) : dir_(opendir(path)) {}
  ~DirListing() {
    if (dir_ != nullptr) closedir(dir_);
  }
  DirListing(const DirListing &) = delete;
  DirListing &operator=(const DirListing &) = delete;
  bool IsOpen() const { return dir_ != nullptr; }
  const char *Next() {
    const dirent64 *entry = readdir64(dir_);
    return entry != nullptr ? entry->d_name : nullptr;
  }

 private:
  DIR *dir_;
};

// Builds "%s/%s" into a scanned-path buffer. A path that does not fit is skipped by the walks
// (false), never cut.
bool BuildScanPath(std::array<char, kScanPathSize> &buf, const char *dir, const char *name) {
  const int n = std::snprintf(buf.data(), buf.size(), "%s/%s", dir, name);
  return n >= 0 && static_cast<std::size_t>(n) < buf.size();
}

bool IsOwnTrace(const char *path, const char *ownTrace) {
  return ownTrace != nullptr && ownTrace[0] != '\0' && std::strcmp(path, ownTrace) == 0;
}

// The compression rule for one regular file: not already ".gz", and this run's own trace or
// untouched for more than the quiet time. Paths the command buffer cannot hold are refused.
bool NeedsCompression(const char *path, std::size_t length, std::int64_t mtime, const char *ownTrace) {
  if (QEL_compressed_logfile(path) != 0) return false;
  if (length > kMaxCompressPathLength) return false;
  if (IsOwnTrace(path, ownTrace)) return true;
  const std::int64_t now = static_cast<std::int64_t>(QEL_Time(nullptr));
  return mtime + kTraceQuietSeconds < now;
}

// The retention globals hold an int total; larger sums show as the largest int while the
// decisions use the exact 64-bit total.
int ClampTotal(std::int64_t bytes) {
  return bytes > INT_MAX ? INT_MAX : static_cast<int>(bytes);
}

int ClampCount(std::int64_t count) {
  return count > INT_MAX ? INT_MAX : static_cast<int>(count);
}

bool OverBudget(std::int64_t bytes, std::int64_t files, const QEL_RetentionLimits &limits) {
  return bytes > limits.maxBytes || files > limits.maxFiles;
}

// Records the oldest file. A path that does not fit OldestFileName is refused (never
// recorded, so never deleted); the walks leave such files out of the choice beforehand.
void RecordOldest(std::int32_t date, const char *path) {
  const std::size_t length = std::strlen(path);
  if (length >= sizeof OldestFileName) return;
  std::memcpy(OldestFileName, path, length + 1);
  OldestFileDate = date;
}

// ---- Single-listing tidy-up -------------------------------------------------------------

// One regular file of a listing, in listing order.
struct Listed {
  std::size_t nameOffset;  // into Listing::names
  std::int64_t size;
  std::int64_t mtime;
  bool recordable;  // full path fits OldestFileName
};

struct Listing {
  std::string names;  // entry names, each followed by a NUL
  std::vector<Listed> files;
  const char *Name(const Listed &f) const { return names.c_str() + f.nameOffset; }
};

// Lists dir once: every regular file (status read following links) whose full path fits the
// scanned-path buffer. Entries that vanish before their status is read are left out.
// Returns false when dir cannot be listed. May throw std::bad_alloc.
bool ListRegularFiles(const char *dir, Listing &out) {
  out.names.clear();
  out.files.clear();
  DirListing listing(dir);
  if (!listing.IsOpen()) return false;
  std::array<char, kScanPathSize> path{};
  QEL_FileStatus st{};
  for (const char *name = listing.Next(); name != nullptr; name = listing.Next()) {
    if (IsDotEntry(name)) continue;
    if (!BuildScanPath(path, dir, name)) continue;
    if (QEL_RetentionSys.statFn(path.data(), &st) != 0 || st.regular == 0) continue;
    const std::size_t offset = out.names.size();
    out.names.append(name);
    out.names.push_back('\0');
    const bool recordable = std::strlen(path.data()) < kOldestFileNameSize;
    out.files.push_back(Listed{offset, st.size, st.mtime, recordable});
  }
  return true;
}

// Compresses every file of the listing that needs it, in listing order. Returns how many
// paths went to gzip.
int CompressListed(const char *dir, const Listing &listing, const char *ownTrace,
                   QEL_RetentionReport &report) {
  std::vector<std::string> paths;
  std::array<char, kScanPathSize> path{};
  for (const Listed &f : listing.files) {
    if (!BuildScanPath(path, dir, listing.Name(f))) continue;
    const std::size_t length = std::strlen(path.data());
    if (NeedsCompression(path.data(), length, f.mtime, ownTrace)) paths.emplace_back(path.data(), length);
  }
  if (paths.empty()) return 0;
  std::vector<const char *> args;
  args.reserve(paths.size());
  for (const std::string &p : paths) args.push_back(p.c_str());
  report.compressProcesses += QEL_CompressPaths(args, QEL_CompressArgumentBudget());
  report.filesCompressed += static_cast<int>(args.size());
  return static_cast<int>(args.size());
}

// The directory's modification time, or -1 when it cannot be read (which never matches, so
// the directory is listed again).
std::int64_t DirStamp(const char *dir) {
  std::int64_t stamp = -1;
  if (QEL_RetentionSys.dirStampFn(dir, &stamp) != 0) return -1;
  return stamp;
}

// Lists dir, having first taken its modification time into *stamp, so that a change made
// while the listing runs shows at the next comparison.
bool ListWithStamp(const char *dir, Listing &listing, std::int64_t &stamp, QEL_RetentionReport &report) {
  stamp = DirStamp(dir);
  ++report.directoryScans;
  return ListRegularFiles(dir, listing);
}

// The totals a scan of the listing gives, and the files successive scans would record, in the
// order they would record them.
//
// Which file a scan records: it keeps the first file, then replaces the recorded one by any
// strictly older file, and by any file at all while the recorded date is 0. Once a file dated
// before 1970 (a negative date) is recorded, nothing dated 0 or later replaces it, so while
// any is listed the scan records the oldest of them (first listed among equals). Without
// one, a file dated 0 is always recorded and lets the next file in: the scan records the
// oldest (first listed among equals) of the files after the last one dated 0. Deleting
// candidates moves neither that file nor the order of the others, so the order holds for
// every scan. When the candidates are used up the scan records the last file dated 0 (or
// none), which counts as no file recorded and ends the loop.
struct RetentionPlan {
  std::int64_t totalBytes = 0;
  std::int64_t fileCount = 0;
  std::vector<const Listed *> candidates;
  const Listed *lastDatedZero = nullptr;
};

std::int32_t RecordedDate(const Listed &f) { return static_cast<std::int32_t>(f.mtime); }

void PlanFromListing(const Listing &listing, RetentionPlan &plan) {
  plan = RetentionPlan{};
  std::size_t afterLastZero = 0;
  for (std::size_t i = 0; i < listing.files.size(); ++i) {
    const Listed &f = listing.files[i];
    plan.totalBytes += f.size;
    ++plan.fileCount;
    if (f.recordable && RecordedDate(f) == 0) {
      plan.lastDatedZero = &f;
      afterLastZero = i + 1;
    }
  }
  plan.candidates.reserve(listing.files.size());
  for (const Listed &f : listing.files) {
    if (f.recordable && RecordedDate(f) < 0) plan.candidates.push_back(&f);
  }
  for (std::size_t i = afterLastZero; i < listing.files.size(); ++i) {
    const Listed &f = listing.files[i];
    if (f.recordable && RecordedDate(f) > 0) plan.candidates.push_back(&f);
  }
  // The dates before 1970 sort ahead of the later ones, as the scan prefers them.
  std::stable_sort(plan.candidates.begin(), plan.candidates.end(), [](const Listed *a, const Listed *b) {
    return RecordedDate(*a) < RecordedDate(*b);
  });
}

void ClearRetentionGlobals() {
  TotalSpaceUsed = 0;
  NumberOfFiles = 0;
  OldestFileDate = 0;
  OldestFileName[0] = '\0';
}

// Plays the retention loop on a listing of dir taken when its modification time was stamp.
// Each pass of the loop would rescan, record the file the walk records as oldest, and delete
// it while the totals are over budget; here the passes are worked out in memory and only the
// deletions go to the disk, until another process changes the directory: then it is listed
// again and the passes go on from that listing.
void RetainFromListing(const char *dir, Listing &listing, std::int64_t stamp,
                       const QEL_RetentionLimits &limits, QEL_RetentionReport &report) {
  RetentionPlan plan;
  PlanFromListing(listing, plan);
  std::array<char, kScanPathSize> path{};
  std::size_t next = 0;
  for (;;) {
    if (stamp < 0 || DirStamp(dir) != stamp) {  // changed by another process (or unreadable)
      if (!ListWithStamp(dir, listing, stamp, report)) {
        ClearRetentionGlobals();
        return;
      }
      PlanFromListing(listing, plan);
      next = 0;
    }
    // The state one more scan would leave.
    TotalSpaceUsed = ClampTotal(plan.totalBytes);
    NumberOfFiles = ClampCount(plan.fileCount);
    OldestFileDate = 0;
    OldestFileName[0] = '\0';
    const Listed *oldest = next < plan.candidates.size() ? plan.candidates[next] : plan.lastDatedZero;
    if (oldest != nullptr && BuildScanPath(path, dir, listing.Name(*oldest))) {
      RecordOldest(RecordedDate(*oldest), path.data());
    }
    if (OldestFileDate == 0) {  // no file recorded
      TotalSpaceUsed = 0;
      NumberOfFiles = 0;
      return;
    }
    if (!OverBudget(plan.totalBytes, plan.fileCount, limits)) return;
    if (QEL_RetentionSys.unlinkFn(OldestFileName) != 0) {
      TotalSpaceUsed = 0;
      NumberOfFiles = 0;
      return;
    }
    stamp = DirStamp(dir);  // this run's own change
    ++report.filesDeleted;
    --plan.fileCount;
    NumberOfFiles = ClampCount(plan.fileCount);
    // The loop goes on with the scanned byte total; the next scan no longer sees the file.
    if (!OverBudget(plan.totalBytes, plan.fileCount, limits)) return;
    plan.totalBytes -= oldest->size;
    ++next;
  }
}

// ---- Per-file walk (ScanDirectory and its callbacks) ------------------------------------

// What the callbacks work with while a walk runs. Outside a tidy-up they follow the product:
// this run's trace, the product limits.
const char *WalkOwnTrace = DebugStreamName;
QEL_RetentionLimits WalkLimits = kTraceRetentionLimits;
std::int64_t WalkTotalBytes = 0;     // exact total behind TotalSpaceUsed
std::int64_t WalkFileCount = 0;      // exact count behind NumberOfFiles
int WalkDeletions = 0;

void ClearWalkTotals() {
  WalkTotalBytes = 0;
  WalkFileCount = 0;
  TotalSpaceUsed = 0;
  NumberOfFiles = 0;
}

}  // namespace

const QEL_RetentionCalls QEL_RetentionSysDefaults = {SysStat, SysUnlink, SpawnGzip, SysDirStamp};
QEL_RetentionCalls QEL_RetentionSys = QEL_RetentionSysDefaults;

int QEL_compressed_logfile(const char *path) {
  if (path == nullptr) return 0;
  const std::size_t length = std::strlen(path);
  const std::size_t suffix = sizeof kCompressedSuffix - 1;
  if (length < suffix + 1) return 0;
  return std::strcmp(path + length - suffix, kCompressedSuffix) == 0 ? 1 : 0;
}

int QEL_compress_logfile(const char *path) {
  if (path == nullptr || std::strlen(path) > kMaxCompressPathLength) return -1;
  const std::array<const char *, 1> one = {path};
  return QEL_RetentionSys.compressFn(one);
}

std::size_t QEL_CompressArgumentBudget() {
  const long limit = sysconf(_SC_ARG_MAX);
  std::size_t budget = limit > 0 ? static_cast<std::size_t>(limit) : kMinimumArgumentBudget;
  std::size_t environment = 0;
  for (char **e = environ; e != nullptr && *e != nullptr; ++e) {
    environment += std::strlen(*e) + 1 + sizeof(char *);
  }
  const std::size_t reserved = environment + kArgumentHeadroom;
  budget = budget > reserved + kMinimumArgumentBudget ? budget - reserved : kMinimumArgumentBudget;
  return budget;
}

int QEL_CompressPaths(std::span<const char *const> paths, std::size_t argBudget) {
  auto cost = [](const char *arg) { return std::strlen(arg) + 1 + sizeof(char *); };
  const std::size_t fixed =
      cost(kGzipProgram) + cost(kGzipForce) + cost(kEndOfOptions) + sizeof(char *);
  int processes = 0;
  std::size_t first = 0;
  while (first < paths.size()) {
    std::size_t used = fixed;
    std::size_t end = first;
    while (end < paths.size() && used + cost(paths[end]) <= argBudget) used += cost(paths[end++]);
    if (end == first) {  // does not fit even alone: skipped
      ++first;
      continue;
    }
    QEL_RetentionSys.compressFn(paths.subspan(first, end - first));
    ++processes;
    first = end;
  }
  return processes;
}

void ScanDirectory(const char *path, ScanPerFileFn perFile, ScanFinalFn final) {
  ClearWalkTotals();
  OldestFileDate = 0;
  OldestFileName[0] = '\0';
  if (path == nullptr) return;
  DirListing listing(path);
  if (!listing.IsOpen()) return;
  std::array<char, kScanPathSize> full{};
  QEL_FileStatus st{};
  for (const char *name = listing.Next(); name != nullptr; name = listing.Next()) {
    if (IsDotEntry(name)) continue;
    if (!BuildScanPath(full, path, name)) continue;  // too long for the buffer: skipped
    if (QEL_RetentionSys.statFn(full.data(), &st) != 0 || st.regular == 0) continue;
    if (perFile != nullptr) perFile(full.data());
  }
  if (final != nullptr) final(OldestFileName);
}

int CompressUncompressedEntry(const char *path) {
  QEL_FileStatus st{};
  if (QEL_compressed_logfile(path) != 0) return 0;
  if (QEL_RetentionSys.statFn(path, &st) != 0) return 0;  // vanished: left alone
  if (!NeedsCompression(path, std::strlen(path), st.mtime, WalkOwnTrace)) return 0;
  return QEL_compress_logfile(path);
}

int FindOldestCompressedFile(const char *path) {
  QEL_FileStatus st{};
  if (QEL_RetentionSys.statFn(path, &st) != 0) return 0;  // vanished: left out of the totals
  ++WalkFileCount;
  WalkTotalBytes += st.size;
  NumberOfFiles = ClampCount(WalkFileCount);
  TotalSpaceUsed = ClampTotal(WalkTotalBytes);
  const std::int32_t date = static_cast<std::int32_t>(st.mtime);
  // A path too long for OldestFileName is counted but never recorded.
  if (std::strlen(path) >= kOldestFileNameSize) return 0;
  if (OldestFileDate == 0 || date < OldestFileDate) RecordOldest(date, path);
  return 0;
}

int DeleteOldestCompressedFile(const char *name) {
  if (OldestFileDate == 0) {  // no file recorded
    ClearWalkTotals();
    return 0;
  }
  if (!OverBudget(WalkTotalBytes, WalkFileCount, WalkLimits)) return 0;
  if (QEL_RetentionSys.unlinkFn(name) != 0) {
    ClearWalkTotals();
    return 0;
  }
  ++WalkDeletions;
  --WalkFileCount;
  NumberOfFiles = ClampCount(WalkFileCount);
  return 0;
}

int EmptyFunction(const char * /*name*/) { return 0; }

void QEL_RetainByRescanning(const char *dir, const char *ownTrace, const QEL_RetentionLimits &limits,
                            QEL_RetentionReport *report) {
  WalkOwnTrace = ownTrace;
  WalkLimits = limits;
  WalkDeletions = 0;
  int scans = 1;
  ScanDirectory(dir, CompressUncompressedEntry, EmptyFunction);
  do {
    ++scans;
    ScanDirectory(dir, FindOldestCompressedFile, DeleteOldestCompressedFile);
  } while (OverBudget(WalkTotalBytes, WalkFileCount, limits));
  if (report != nullptr) {
    report->directoryScans += scans;
    report->filesDeleted += WalkDeletions;
  }
  WalkOwnTrace = DebugStreamName;
  WalkLimits = kTraceRetentionLimits;
}

int QEL_TidyTraceDirectory(const char *dir, const char *ownTrace, const QEL_RetentionLimits &limits,
                           QEL_RetentionReport *report) {
  QEL_RetentionReport local{};
  QEL_RetentionReport &r = report != nullptr ? *report : local;
  r = QEL_RetentionReport{};
  int result = 0;
  try {
    Listing listing;
    std::int64_t stamp = -1;
    // After compression the directory holds other names and sizes, and possibly another
    // listing order: list it again, as the retention loop would.
    if (!ListWithStamp(dir, listing, stamp, r) ||
        (CompressListed(dir, listing, ownTrace, r) > 0 && !ListWithStamp(dir, listing, stamp, r))) {
      // Neither pass finds a directory: the totals stay cleared.
      ClearWalkTotals();
      ClearRetentionGlobals();
      return 1;
    }
    RetainFromListing(dir, listing, stamp, limits, r);
  } catch (const std::bad_alloc &) {
    // No memory for the listing: fall back to the walk that holds nothing but its globals.
    // What is already compressed or deleted stays so; the walk carries on from there.
    r.usedFallback = 1;
    QEL_RetainByRescanning(dir, ownTrace, limits, &r);
  } catch (...) {
    result = 1;
  }
  return result;
}

// Trace retention: what the exit handler does to the shared trace directory once this run's
// trace is finished. Every regular file of the directory takes part: the run's own trace and
// every other file untouched for more than 600 seconds are compressed with gzip, then the
// oldest files are deleted until the directory holds at most 6,000,000 bytes and at most
// 50,000 files.
//
// The directory is shared by a whole family of utilities that run as root, often from scripts
// every few minutes, and may hold tens of thousands of files. The handler therefore reads the
// directory a fixed number of times per exit (once before compression, once after it when
// something was compressed), hands every file to compress to as few gzip processes as the
// argument limit allows, and works out the deletions of the one-file-per-rescan loop from a
// single listing. The per-file walk (ScanDirectory and its callbacks) is kept for other callers
// and as the fallback when memory for the single listing cannot be had.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <span>

#include "qeldebug.h"

// ---- Limits and buffer sizes --------------------------------------------------------------
constexpr std::int64_t kTraceSpaceBudget = 6000000;   // bytes, decimal
constexpr std::int32_t kTraceFileLimit = 50000;       // files
constexpr std::int64_t kTraceQuietSeconds = 600;      // untouched longer than this: compress
constexpr mode_t kFinishedTraceMode = 0666;
constexpr std::size_t kOldestFileNameSize = 4096;     // OldestFileName
constexpr std::size_t kScanPathSize = 8192;           // one scanned "%s/%s" path
constexpr std::size_t kCompressCommandSize = 1024;    // "gzip -f %s 2> /dev/null"
inline constexpr char kCompressedSuffix[] = ".gz";

// ---- Retention globals (valid for the length of one scan; each scan starts by clearing them)
extern std::int32_t OldestFileDate;                 // mtime of the oldest file recorded; 0: none
extern char OldestFileName[kOldestFileNameSize];    // its full path
extern int NumberOfFiles;                           // regular files counted by the scan
extern int TotalSpaceUsed;                          // sum of their sizes in bytes

// ---- Directory walk and its callbacks ------------------------------------------------------
using ScanPerFileFn = int (*)(const char *fullPath);
using ScanFinalFn = int (*)(const char *oldestName);

// Clears the retention globals, then calls perFile(fullPath) for every regular file of path
// (status read following links) in listing order, and final(OldestFileName) once at the end.
// A directory that cannot be listed: nothing is called. Callback results are ignored.
void ScanDirectory(const char *path, ScanPerFileFn perFile, ScanFinalFn final);
// Compresses one file unless it is already compressed or was touched in the last 600 seconds
// (this run's own trace is compressed whatever its age).
int CompressUncompressedEntry(const char *path);
// Counts one file into the totals and records it when it is the oldest seen so far.
int FindOldestCompressedFile(const char *path);
// Deletes the recorded oldest file when the totals are over budget.
int DeleteOldestCompressedFile(const char *name);
// Final callback that does nothing.
int EmptyFunction(const char *name);

// 1 when path is at least 4 characters long and ends in ".gz" (case matters), else 0.
int QEL_compressed_logfile(const char *path);
// Replaces path by path".gz" with gzip (forced overwrite, error output discarded). Returns the
// wait status of gzip, -1 when it could not be run or the path is refused; no caller uses it.
int QEL_compress_logfile(const char *path);

// ---- Internal interface of the retention work (for the handler, tests and benchmarks) ------
struct QEL_RetentionLimits {
  std::int64_t maxBytes;
  std::int32_t maxFiles;
};
inline constexpr QEL_RetentionLimits kTraceRetentionLimits = {kTraceSpaceBudget, kTraceFileLimit};

// What one tidy-up did.
struct QEL_RetentionReport {
  int directoryScans;       // complete listings of the directory
  int compressProcesses;    // gzip processes started
  int filesCompressed;      // paths handed to gzip
  int filesDeleted;         // successful deletions
  int usedFallback;         // 1 when memory ran short and the per-file walk was used
};

// What the retention work needs of a file's status (read following links). Kept apart from
// struct stat, whose layout depends on the large-file settings of each source.
struct QEL_FileStatus {
  int regular;         // nonzero for a regular file
  std::int64_t size;   // bytes
  std::int64_t mtime;  // last modification, seconds since the epoch
};

// The operating-system calls of the retention work. Tests replace them to make a file vanish
// at a chosen moment, to log deletions, or to compress without gzip.
struct QEL_RetentionCalls {
  int (*statFn)(const char *path, QEL_FileStatus *status);  // 0, or -1 when unreadable
  int (*unlinkFn)(const char *path);
  // One compression process for all of paths, in order; returns its wait status or -1.
  int (*compressFn)(std::span<const char *const> paths);
  // The directory's last modification in nanoseconds: 0, or -1 when unreadable. The tidy-up
  // compares it to notice another process changing the directory under its listing.
  int (*dirStampFn)(const char *dir, std::int64_t *stampNs);
};
extern QEL_RetentionCalls QEL_RetentionSys;
extern const QEL_RetentionCalls QEL_RetentionSysDefaults;

// Compression pass and retention of dir with the given limits. ownTrace is this run's trace
// file, compressed whatever its age, or nullptr when the run created none. report may be null.
// Returns 0, or 1 when dir cannot be listed.
int QEL_TidyTraceDirectory(const char *dir, const char *ownTrace, const QEL_RetentionLimits &limits,
                           QEL_RetentionReport *report);

// Hands paths to compressFn in as few calls as fit argBudget bytes of argument space each
// (every argument costs its length, its NUL and one pointer, plus the fixed gzip arguments).
// A path too long to go alone is skipped. Returns the number of processes started.
int QEL_CompressPaths(std::span<const char *const> paths, std::size_t argBudget);

// Argument space one gzip process may use: the system's limit less the environment and a
// margin.
std::size_t QEL_CompressArgumentBudget();

// The per-file walk of the retention loop with the given limits: one ScanDirectory per
// deletion. Used when memory for the single listing cannot be had.
void QEL_RetainByRescanning(const char *dir, const char *ownTrace, const QEL_RetentionLimits &limits,
                            QEL_RetentionReport *report);

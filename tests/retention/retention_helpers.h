// Helpers of the retention tests: files of a chosen size and age, and recording stand-ins for
// the status reads, deletions and compression of the retention work.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "retention.h"

namespace rettest {

inline void SetMtime(const std::string &path, std::int64_t mtime) {
  const utimbuf times{static_cast<time_t>(mtime), static_cast<time_t>(mtime)};
  utime(path.c_str(), &times);
}

// A sparse file of size bytes.
inline void MakeFile(const std::string &path, std::int64_t size, std::int64_t mtime) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return;
  (void)!ftruncate(fd, static_cast<off_t>(size));
  close(fd);
  SetMtime(path, mtime);
}

inline bool Exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

inline std::string BaseName(const std::string &path) { return path.substr(path.rfind('/') + 1); }

// What the stand-ins saw, by base name, in order.
struct Log {
  std::vector<std::string> compressed, deleted;
  int compressCalls = 0;     // compression processes
  int failDeletionAt = -1;   // this deletion (from 0) fails, as when another run took the file
  std::string vanishOnStat;  // removed just before its status is read
  // Another process's change to the directory, made once after deletion number otherAfter
  // (from 1) and before the next decision. The loops that rescan see it at their next scan
  // whenever it is made, so it is made in that deletion; the single listing looks at the
  // directory's time once right after its own deletion, so it is made at the second look.
  std::function<void()> otherProcess;
  int otherAfter = -1;
  bool otherAtSecondLook = false;
  int looks = 0;
};
inline Log seen;

// Makes the other process's change and gives the directory a modification time of its own,
// as a later change would, however coarse the clock.
inline void RunOtherProcess(const std::string &dir) {
  if (!seen.otherProcess) return;
  seen.otherProcess();
  seen.otherProcess = nullptr;
  struct stat st {};
  if (stat(dir.c_str(), &st) != 0) return;
  struct timespec times[2] = {st.st_atim, st.st_mtim};
  ++times[1].tv_sec;
  utimensat(AT_FDCWD, dir.c_str(), times, 0);
}

// As gzip leaves it: path".gz" (overwritten), three quarters of the size, the same mtime.
inline int FakeCompressOne(const char *path) {
  ++seen.compressCalls;
  struct stat st {};
  const std::string packed = std::string(path) + ".gz";
  if (stat(path, &st) != 0 || rename(path, packed.c_str()) != 0) return 1;
  seen.compressed.push_back(BaseName(path));
  if (truncate(packed.c_str(), st.st_size - st.st_size / 4) != 0) return 1;
  SetMtime(packed, st.st_mtime);
  return 0;
}

inline int FakeCompressBatch(std::span<const char *const> paths) {
  for (const char *p : paths) FakeCompressOne(p);
  seen.compressCalls += 1 - static_cast<int>(paths.size());
  return 0;
}

inline int LoggedUnlink(const char *path) {
  if (static_cast<int>(seen.deleted.size()) == seen.failDeletionAt) {
    seen.failDeletionAt = -1;
    return -1;
  }
  if (unlink(path) != 0) return -1;
  seen.deleted.push_back(BaseName(path));
  if (!seen.otherAtSecondLook && static_cast<int>(seen.deleted.size()) == seen.otherAfter) {
    const std::string p = path;
    RunOtherProcess(p.substr(0, p.rfind('/')));
  }
  return 0;
}

inline int LookedAtDirStamp(const char *dir, std::int64_t *stampNs) {
  if (seen.otherAtSecondLook && static_cast<int>(seen.deleted.size()) == seen.otherAfter &&
      ++seen.looks == 2) {
    RunOtherProcess(dir);
  }
  return QEL_RetentionSysDefaults.dirStampFn(dir, stampNs);
}

inline int VanishingStat(const char *path, QEL_FileStatus *status) {
  if (BaseName(path) == seen.vanishOnStat) unlink(path);
  return QEL_RetentionSysDefaults.statFn(path, status);
}

// Installs the stand-ins, with a cleared log, for the life of the object.
struct FakeRetentionSys {
  FakeRetentionSys() {
    seen = Log{};
    QEL_RetentionSys = QEL_RetentionCalls{VanishingStat, LoggedUnlink, FakeCompressBatch, LookedAtDirStamp};
  }
  ~FakeRetentionSys() { QEL_RetentionSys = QEL_RetentionSysDefaults; }
};

}  // namespace rettest

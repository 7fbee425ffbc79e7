#include "retention_helpers.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace rettest {

Log log;

void SetMtime(const std::string &path, std::int64_t mtime) {
  struct timespec times[2];
  times[0].tv_sec = static_cast<time_t>(mtime);
  times[0].tv_nsec = 0;
  times[1] = times[0];
  utimensat(AT_FDCWD, path.c_str(), times, 0);
}

void MakeFile(const std::string &path, std::int64_t size, std::int64_t mtime) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return;
  if (ftruncate(fd, static_cast<off_t>(size)) != 0) std::perror("ftruncate");
  close(fd);
  SetMtime(path, mtime);
}

std::int64_t FileSize(const std::string &path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

bool Exists(const std::string &path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> ListingOrder(const std::string &dir) {
  std::vector<std::string> names;
  if (DIR *d = opendir(dir.c_str())) {
    while (const dirent *e = readdir(d)) {
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.emplace_back(e->d_name);
    }
    closedir(d);
  }
  return names;
}

std::string BaseName(const std::string &path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

int FakeCompressOne(const char *path) {
  ++log.compressCalls;
  struct stat st {};
  if (stat(path, &st) != 0) return 1;
  const std::string packed = std::string(path) + ".gz";
  if (rename(path, packed.c_str()) != 0) return 1;
  log.compressed.push_back(BaseName(path));
  if (truncate(packed.c_str(), st.st_size - st.st_size / 4) != 0) return 1;
  SetMtime(packed, static_cast<std::int64_t>(st.st_mtime));
  return 0;
}

int FakeCompressBatch(std::span<const char *const> paths) {
  for (const char *p : paths) {
    --log.compressCalls;  // one call per process, not per path
    FakeCompressOne(p);
  }
  ++log.compressCalls;
  return 0;
}

int LoggedUnlink(const char *path) {
  if (log.failDeletionAt >= 0 && static_cast<int>(log.deleted.size()) == log.failDeletionAt) {
    log.failDeletionAt = -1;
    return -1;
  }
  if (unlink(path) != 0) return -1;
  log.deleted.push_back(BaseName(path));
  return 0;
}

int VanishingStat(const char *path, QEL_FileStatus *status) {
  if (!log.vanishOnStat.empty() && BaseName(path) == log.vanishOnStat) {
    unlink(path);
    log.vanishOnStat.clear();
  }
  return QEL_RetentionSysDefaults.statFn(path, status);
}

FakeRetentionSys::FakeRetentionSys() {
  log = Log{};
  QEL_RetentionSys = QEL_RetentionCalls{VanishingStat, LoggedUnlink, FakeCompressBatch};
}

FakeRetentionSys::~FakeRetentionSys() { QEL_RetentionSys = QEL_RetentionSysDefaults; }

}  // namespace rettest

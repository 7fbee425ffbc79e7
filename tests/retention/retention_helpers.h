// Shared helpers of the retention tests: files of a chosen size and age, and recording
// stand-ins for compression and deletion.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "retention.h"

namespace rettest {

// Creates (or truncates) a file of size bytes (sparse) with the given modification time.
void MakeFile(const std::string &path, std::int64_t size, std::int64_t mtime);
void SetMtime(const std::string &path, std::int64_t mtime);
std::int64_t FileSize(const std::string &path);  // -1 when absent
bool Exists(const std::string &path);

// Entry names in the order the directory lists them.
std::vector<std::string> ListingOrder(const std::string &dir);

std::string BaseName(const std::string &path);

// What the stand-ins saw, by base name, in order.
struct Log {
  std::vector<std::string> compressed;
  std::vector<std::string> deleted;
  int compressCalls = 0;
  int failDeletionAt = -1;  // the n-th deletion (from 0) fails as if another run took the file
  std::string vanishOnStat;  // base name removed just before its first status read
};
extern Log log;

// Compression stand-in: path becomes path".gz" (overwriting), three quarters of the size,
// modification time kept, as gzip leaves it.
int FakeCompressOne(const char *path);
int FakeCompressBatch(std::span<const char *const> paths);
int LoggedUnlink(const char *path);
int VanishingStat(const char *path, QEL_FileStatus *status);

// Installs the stand-ins for the life of the object and clears the log.
class FakeRetentionSys {
 public:
  FakeRetentionSys();
  ~FakeRetentionSys();
  FakeRetentionSys(const FakeRetentionSys &) = delete;
  FakeRetentionSys &operator=(const FakeRetentionSys &) = delete;
};

}  // namespace rettest

#include "reference_retention.h"

#include <dirent.h>

#include <climits>
#include <cstring>
#include <ctime>
#include <functional>

#include "qelsys.h"

namespace qelref {
namespace {

// The state the walk callbacks share, as the module's globals.
struct Walk {
  std::int64_t total = 0;
  std::int64_t files = 0;
  std::int32_t oldestDate = 0;
  std::string oldestName;
};

constexpr std::size_t kPathBuffer = 8192;
constexpr std::size_t kOldestBuffer = 4096;
constexpr std::size_t kLongestCompressedPath = 1024 - 22;  // room left by "gzip -f %s 2> /dev/null"

// The directory walk: clear, list, call perFile for each regular file, then final.
void Scan(const std::string &dir, Walk &w, const Calls &calls,
          const std::function<void(const std::string &)> &perFile,
          const std::function<void()> &final) {
  w = Walk{};
  DIR *d = opendir(dir.c_str());
  if (d == nullptr) return;
  while (const dirent *e = readdir(d)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    const std::string path = dir + "/" + e->d_name;
    if (path.size() >= kPathBuffer) continue;
    struct stat st {};
    if (calls.statFn(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    perFile(path);
  }
  final();
  closedir(d);
}

bool EndsInGz(const std::string &p) {
  return p.size() >= 4 && p.compare(p.size() - 3, 3, ".gz") == 0;
}

}  // namespace

Outcome ReferenceTidy(const std::string &dir, const char *ownTrace, std::int64_t maxBytes,
                      std::int32_t maxFiles, const Calls &calls) {
  Outcome out;
  Walk w;
  auto compressEntry = [&](const std::string &path) {
    if (EndsInGz(path)) return;
    struct stat st {};
    if (calls.statFn(path.c_str(), &st) != 0) return;
    const std::int64_t now = static_cast<std::int64_t>(QEL_Time(nullptr));
    const bool own = ownTrace != nullptr && *ownTrace != '\0' && path == ownTrace;
    if (!own && static_cast<std::int64_t>(st.st_mtime) + 600 >= now) return;
    if (path.size() > kLongestCompressedPath) return;
    calls.compressFn(path.c_str());
  };
  ++out.scans;
  Scan(dir, w, calls, compressEntry, [] {});

  auto findOldest = [&](const std::string &path) {
    struct stat st {};
    if (calls.statFn(path.c_str(), &st) != 0) return;
    ++w.files;
    w.total += static_cast<std::int64_t>(st.st_size);
    const std::int32_t date = static_cast<std::int32_t>(st.st_mtime);
    if (path.size() >= kOldestBuffer) return;
    if (w.oldestDate == 0 || date < w.oldestDate) {
      w.oldestDate = date;
      w.oldestName = path;
    }
  };
  auto deleteOldest = [&] {
    if (w.oldestDate == 0) {
      w.total = 0;
      w.files = 0;
    } else if (w.total <= maxBytes && w.files <= maxFiles) {
    } else if (calls.unlinkFn(w.oldestName.c_str()) == 0) {
      --w.files;
      ++out.deleted;
    } else {
      w.total = 0;
      w.files = 0;
    }
  };
  do {
    ++out.scans;
    Scan(dir, w, calls, findOldest, deleteOldest);
  } while (w.total > maxBytes || w.files > maxFiles);

  out.totalSpaceUsed = w.total > INT_MAX ? INT_MAX : static_cast<int>(w.total);
  out.numberOfFiles = static_cast<int>(w.files);
  out.oldestFileDate = w.oldestDate;
  out.oldestFileName = w.oldestName;
  return out;
}

}  // namespace qelref

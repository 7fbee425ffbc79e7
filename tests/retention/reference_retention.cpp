#include "reference_retention.h"

#include <dirent.h>

#include <climits>
#include <functional>

#include "qelsys.h"

namespace qelref {
namespace {

// The state the walk callbacks share, as the module's globals.
struct Walk {
  std::int64_t total = 0, files = 0;
  std::int32_t oldestDate = 0;
  std::string oldestName;
};

// The directory walk: clear the state, call perFile for each regular file (status read
// following links) whose "%s/%s" path fits 8192 bytes, then final.
void Scan(const std::string &dir, Walk &w, const Calls &calls,
          const std::function<void(const std::string &)> &perFile, const std::function<void()> &final) {
  w = Walk{};
  DIR *d = opendir(dir.c_str());
  if (d == nullptr) return;
  while (const dirent *e = readdir(d)) {
    const std::string name = e->d_name, path = dir + "/" + name;
    struct stat st {};
    if (name == "." || name == ".." || path.size() >= 8192) continue;
    if (calls.statFn(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) perFile(path);
  }
  final();
  closedir(d);
}

}  // namespace

Outcome ReferenceTidy(const std::string &dir, const char *ownTrace, std::int64_t maxBytes,
                      std::int32_t maxFiles, const Calls &calls) {
  Outcome out;
  Walk w;
  auto compressEntry = [&](const std::string &path) {
    if (path.size() >= 4 && path.ends_with(".gz")) return;
    struct stat st {};
    if (calls.statFn(path.c_str(), &st) != 0) return;
    const bool own = ownTrace != nullptr && *ownTrace != '\0' && path == ownTrace;
    const auto now = static_cast<std::int64_t>(QEL_Time(nullptr));
    if (!own && static_cast<std::int64_t>(st.st_mtime) + 600 >= now) return;
    if (path.size() <= 1024 - sizeof "gzip -f  2> /dev/null") calls.compressFn(path.c_str());
  };
  ++out.scans;
  Scan(dir, w, calls, compressEntry, [] {});

  auto findOldest = [&](const std::string &path) {
    struct stat st {};
    if (calls.statFn(path.c_str(), &st) != 0) return;
    ++w.files;
    w.total += static_cast<std::int64_t>(st.st_size);
    const auto date = static_cast<std::int32_t>(st.st_mtime);
    if (path.size() < 4096 && (w.oldestDate == 0 || date < w.oldestDate)) {
      w.oldestDate = date;
      w.oldestName = path;
    }
  };
  auto deleteOldest = [&] {
    if (w.oldestDate == 0) {
      w.total = w.files = 0;
    } else if (w.total > maxBytes || w.files > maxFiles) {
      if (calls.unlinkFn(w.oldestName.c_str()) == 0) {
        --w.files;
        ++out.deleted;
      } else {
        w.total = w.files = 0;
      }
    }
  };
  do {
    ++out.scans;
    Scan(dir, w, calls, findOldest, deleteOldest);
  } while (w.total > maxBytes || w.files > maxFiles);

  return Outcome{out.scans, out.deleted, w.total > INT_MAX ? INT_MAX : static_cast<int>(w.total),
                 static_cast<int>(w.files), w.oldestDate, w.oldestName};
}

}  // namespace qelref

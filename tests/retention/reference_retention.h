// Reference model of trace retention for tests and benchmarks: the exit handler's compression
// pass and deletion loop exactly as the utility family has always run them, one full directory
// walk per deletion. Kept deliberately plain so that the product's single-listing version can
// be checked against it.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

namespace qelref {

struct Calls {
  int (*statFn)(const char *path, struct stat *st);
  int (*unlinkFn)(const char *path);
  int (*compressFn)(const char *path);  // one compression of one file
};

struct Outcome {
  int scans = 0, deleted = 0;
  // The retention globals as the last walk left them.
  int totalSpaceUsed = 0, numberOfFiles = 0;
  std::int32_t oldestFileDate = 0;
  std::string oldestFileName;
};

// Compression pass, then the deletion loop, over dir. ownTrace: the run's own trace or null.
Outcome ReferenceTidy(const std::string &dir, const char *ownTrace, std::int64_t maxBytes,
                      std::int32_t maxFiles, const Calls &calls);

}  // namespace qelref

// qelses_pcm exactly as shipped, except that its trace directory comes from the environment
// variable QEL_HARDENING_TRACE_DIR when the test sets it. The product reads its trace directory
// from a build-time constant; the hardening tests need a directory of their own per case (and
// hostile ones: a path under a regular file, a planted link), so this program renames the
// product's main, points QEL_DebugDir at the test's directory and then hands over.
//
// QEL_HARDENING_PLANT_LINK=<target> additionally plants, before the trace is opened, a symbolic
// link to <target> at every name this run's trace file can take in the next few seconds (the
// name holds the start second and this process id, which only the process itself knows early
// enough).
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "qeldebug.h"

#define main QelsesPcmProductMain
#include "main.cpp"  // NOLINT(bugprone-suspicious-include): the product's own main, renamed
#undef main

namespace {

constexpr int kPlantSeconds = 5;  // covers a clock that ticks between planting and opening
constexpr int kYearBase = 1900;
constexpr int kCenturyYear = 2000;

void PlantLinks(const char *dir, const char *name, const char *target) {
  const time_t start = std::time(nullptr);
  for (int s = 0; s < kPlantSeconds; ++s) {
    const time_t when = start + s;
    struct tm t {};
    localtime_r(&when, &t);
    const int year = t.tm_year + kYearBase >= kCenturyYear ? t.tm_year + kYearBase - kCenturyYear : 0;
    char path[kDebugStreamNameSize];
    std::snprintf(path, sizeof path, "%s/%s.%02d%02d%02d%02d%02d%02d.%d", dir, name, year, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, static_cast<int>(getpid()));
    if (symlink(target, path) != 0) std::perror(path);
  }
}

}  // namespace

int main(int argc, char *argv[]) {
  if (const char *dir = std::getenv("QEL_HARDENING_TRACE_DIR"); dir != nullptr && *dir != '\0') {
    QEL_DebugDir = dir;
    if (const char *target = std::getenv("QEL_HARDENING_PLANT_LINK"); target != nullptr && *target != '\0') {
      PlantLinks(dir, "qelses_pcm", target);
    }
  }
  return QelsesPcmProductMain(argc, argv);
}

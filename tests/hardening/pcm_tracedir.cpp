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
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "qeldebug.h"

#define main QelsesPcmProductMain
#include "main.cpp"  // NOLINT(bugprone-suspicious-include): the product's own main, renamed
#undef main

int main(int argc, char *argv[]) {
  const char *dir = std::getenv("QEL_HARDENING_TRACE_DIR");
  const char *target = std::getenv("QEL_HARDENING_PLANT_LINK");
  if (dir != nullptr && *dir != '\0') QEL_DebugDir = dir;
  // Five seconds of names cover a clock that ticks between planting and opening.
  for (time_t when = std::time(nullptr), end = when + 5; dir != nullptr && target != nullptr && when < end; ++when) {
    struct tm t {};
    localtime_r(&when, &t);
    char path[kDebugStreamNameSize];
    std::snprintf(path, sizeof path, "%s/qelses_pcm.%02d%02d%02d%02d%02d%02d.%d", dir,
                  t.tm_year >= 100 ? t.tm_year - 100 : 0, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
                  static_cast<int>(getpid()));
    if (symlink(target, path) != 0) std::perror(path);
  }
  return QelsesPcmProductMain(argc, argv);
}

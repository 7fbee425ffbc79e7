// A stand-in utility for process tests of the exit handler: traces into the directory given
// as its first argument and exits, so the real exit handler runs at a real process exit.
//   retention_probe DIR                 open the trace, write one line, exit 0
//   retention_probe DIR plant VICTIM    first plant symbolic links to VICTIM at the names this
//                                       run's trace can take, as a local attacker would
// Prints the result of QEL_OpenTraceFile.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "qeldebug.h"
#include "qelsys.h"

namespace {
constexpr char kProbeName[] = "qelprobe";
constexpr int kPlantSeconds = 3;  // the start second may move on before the trace is opened

std::string TraceNameAt(const char *dir, time_t when) {
  struct tm local {};
  localtime_r(&when, &local);
  const int year = local.tm_year + 1900 >= 2000 ? local.tm_year + 1900 - 2000 : 0;
  char name[512];
  std::snprintf(name, sizeof name, "%s/%s.%02d%02d%02d%02d%02d%02d.%d", dir, kProbeName, year,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(getpid()));
  return name;
}
}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) return 2;
  QEL_DebugDir = argv[1];
  if (argc == 4 && std::strcmp(argv[2], "plant") == 0) {
    const time_t now = QEL_Time(nullptr);
    for (int s = 0; s < kPlantSeconds; ++s) {
      if (symlink(argv[3], TraceNameAt(argv[1], now + s).c_str()) != 0) return 3;
    }
  }
  const int rc = QEL_OpenTraceFile(kProbeName);
  QEL_Trace("probe", __LINE__, "probe ran\n");
  std::printf("%d\n", rc);
  return 0;
}

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

int main(int argc, char **argv) {
  if (argc < 2) return 2;
  QEL_DebugDir = argv[1];
  if (argc == 4 && std::strcmp(argv[2], "plant") == 0) {
    // Three seconds: the start second may move on before the trace is opened.
    for (time_t when = QEL_Time(nullptr), end = when + 3; when < end; ++when) {
      struct tm local {};
      char stamp[32];
      std::strftime(stamp, sizeof stamp, "%y%m%d%H%M%S", localtime_r(&when, &local));
      const std::string name = std::string(argv[1]) + "/qelprobe." + stamp + "." + std::to_string(getpid());
      if (symlink(argv[3], name.c_str()) != 0) return 3;
    }
  }
  const int rc = QEL_OpenTraceFile("qelprobe");
  QEL_Trace("probe", __LINE__, "probe ran\n");
  std::printf("%d\n", rc);
  return 0;
}

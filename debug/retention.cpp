// Exit handler: finishes this run's trace. (Compression and retention of the trace directory
// are added with the retention work.)
#include <sys/stat.h>

#include <cstdio>
#include <ctime>

#include "qeldebug.h"
#include "qeldebug_internal.h"
#include "qelsys.h"

int UsingIntelligentTracing = 0;
int FinalReturnCode = -99;

void QEL_DebugExitHandler() {
  const time_t now = QEL_Time(nullptr);
  if (QEL_DebugStream != nullptr) {
    char when[64];
    if (ctime_r(&now, when) == nullptr) when[0] = '\0';
    std::fprintf(QEL_DebugStream, "\nCompleted at %s\n", when);
    std::fflush(QEL_DebugStream);
    // The mode goes on the open file, never through the path, which a link could redirect.
    fchmod(fileno(QEL_DebugStream), 0666);
    std::fclose(QEL_DebugStream);
  }
  QEL_DebugStream = nullptr;
}

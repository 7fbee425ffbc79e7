// Hands the PCM mode to the enclosure's two power supplies through the SES control page.
#include <array>
#include <cstdio>

#include "byteorder.h"
#include "qeldebug.h"
#include "qelses_pcm.h"
#include "talvik.h"

namespace {
constexpr int kLineWriteFailed = 438;
constexpr int kLineReadFailed = 445;

constexpr std::uint16_t kControlPageLength = kStatusPageSize - 4;  // bytes after the length field
}  // namespace

std::int32_t UpdateElementControlPage(const PcmParams *params) {
  std::array<std::uint8_t, kStatusPageSize> control{};
  std::array<std::uint8_t, kStatusPageSize> status{};

  std::int32_t code = TK_ReadStatusPage(params->serialNumber, status.data());
  if (code != 0) {
    QEL_Trace(kPcmModule, kLineReadFailed, "SES page read failure rc=%d\n", code);
    std::fprintf(stderr, "SES page read failure rc=%d\n", code);
    return 1;
  }

  // Only the two power-supply elements are selected; every other byte stays 0, the generation
  // code included.
  control[kPageCodeOffset] = static_cast<std::uint8_t>(kStatusPageCode);
  qel::store_be16(control, kPageLengthOffset, kControlPageLength);
  for (std::size_t offset : kPowerSupplyElementOffsets) {
    std::uint8_t *element = control.data() + offset;
    element[0] |= kSelectBit;
    TK_InitPowrSuppCtl(element, status.data() + offset);
    element[kModeByte] = static_cast<std::uint8_t>((element[kModeByte] & ~kModeMask) |
                                                   (static_cast<std::uint8_t>(params->mode) & kModeMask));
  }

  code = TK_WriteControlPage(params->serialNumber, control.data());
  if (code != 0) {
    QEL_Trace(kPcmModule, kLineWriteFailed, "SES failure writing control page rc=%d\n", code);
    std::fprintf(stderr, "SES failure writing control page, rc = %d\n", code);
    return 1;
  }
  return 0;
}

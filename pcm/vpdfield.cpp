// The PCM and PRS fields of the RDP VPD.
#include <cstdio>
#include <cstring>

#include "qeldebug.h"
#include "qelses_pcm.h"
#include "talvik.h"

std::uint8_t VpdBuffer[kVpdImageSize] = {};

namespace {
constexpr int kLineNoPcmField = 296;
constexpr int kLineBadPcmValue = 307;
constexpr int kLineReadFailed = 329;
constexpr int kLineDefaultPrs = 372;

constexpr char kDefaultPrs[] = "PRS=0";

static_assert(kVpdImageSize == kRdpVpdImageSize);
static_assert(kPcmFieldOffset + kVpdFieldSize <= kRdpVpdChecksumOffset);
static_assert(kPrsFieldOffset + kVpdFieldSize <= kRdpVpdChecksumOffset);

// The five field bytes as text: a NUL byte in the image ends the text early.
void FieldText(const std::uint8_t *image, std::size_t offset, char (&text)[kVpdFieldSize + 1]) {
  std::memset(text, 0, sizeof text);
  for (std::size_t i = 0; i < kVpdFieldSize && image[offset + i] != 0; ++i) {
    text[i] = static_cast<char>(image[offset + i]);
  }
}
}  // namespace

std::int32_t ExtractPcmMode(const std::uint8_t *image, std::int32_t forUpdate) {
  char field[kVpdFieldSize + 1];
  FieldText(image, kPcmFieldOffset, field);
  if (std::strncmp(field, kPcmTag, kTagSize) != 0) {
    QEL_Trace(kPcmModule, kLineNoPcmField, "RDP VPD does not contain valid PCM field (not yet set?)\n");
    if (forUpdate == 0) std::fprintf(stderr, "RDP VPD does not contain valid PCM field (not yet set?)\n");
    return kModeInvalid;
  }
  if (field[kTagSize] >= '0' && field[kTagSize] <= '0' + kHighestMode) return field[kTagSize] - '0';
  QEL_Trace(kPcmModule, kLineBadPcmValue, "RDP VPD contains bad PCM value (%s)\n", field);
  if (forUpdate == 0) std::fprintf(stderr, "RDP VPD contains bad PCM value (%s)\n", field);
  return kModeInvalid;
}

std::int32_t ReadVpd(const char *serialNumber, std::int32_t *mode, std::int32_t forUpdate) {
  std::uint8_t image[kVpdImageSize] = {};
  const std::int32_t code = TK_ReadRDPVpd(serialNumber, image);
  if (code != 0) {
    QEL_Trace(kPcmModule, kLineReadFailed, "SES failure reading VPD rc=%d\n", code);
    std::fprintf(stderr, "SES failure reading VPD, rc = %d\n", code);
    return 1;
  }
  *mode = ExtractPcmMode(image, forUpdate);
  if (forUpdate == 1) std::memcpy(VpdBuffer, image, sizeof VpdBuffer);
  return 0;
}

void CreateNewVpd(std::int32_t mode) {
  // "PCM=" and the mode in decimal; only the first five characters go into the image.
  char pcm[16];
  std::snprintf(pcm, sizeof pcm, "%s%d", kPcmTag, mode);
  std::memcpy(VpdBuffer + kPcmFieldOffset, pcm, kVpdFieldSize);

  char prs[kVpdFieldSize + 1];
  FieldText(VpdBuffer, kPrsFieldOffset, prs);
  if (std::strncmp(prs, kPrsTag, kTagSize) != 0) {
    QEL_Trace(kPcmModule, kLineDefaultPrs, "PRS not yet supported. Set to default PRS=0\n");
    std::memcpy(VpdBuffer + kPrsFieldOffset, kDefaultPrs, kVpdFieldSize);
  }

  // The record from the length field to the checksum byte XORs to zero.
  VpdBuffer[kRdpVpdChecksumOffset] = 0;
  std::uint8_t sum = 0;
  for (std::size_t i = kVpdRecordOffset; i < kVpdRecordOffset + kRdpVpdRecordSize; ++i) sum ^= VpdBuffer[i];
  VpdBuffer[kRdpVpdChecksumOffset] = sum;
}

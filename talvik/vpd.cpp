// VPD images: reading the RDP and IC VPD through the string-page exchange, verifying their
// length field and XOR checksum, and writing a VPD record back.
#include <algorithm>
#include <array>
#include <cstdio>
#include <span>

#include "byteorder.h"
#include "qeldebug.h"
#include "qelses.h"
#include "stringpage.h"

namespace {
// The VPD read request is a bare 12-byte header whose length field says 4, not 8: that is
// what the enclosure expects for this request.
constexpr std::size_t kVpdReadRequestSize = kVendorHeaderSize;
constexpr std::uint16_t kVpdReadRequestLength = 4;
constexpr std::int32_t kNoParameter = 0;

// The write page: the RDP VPD goes out whole; any other device takes a 268-byte page, so only
// the first 256 record bytes leave the host.
constexpr std::size_t kWriteVpdPageSize = kRdpVpdImageSize;
constexpr std::size_t kPageLengthExcluded = 4;  // page code, reserved byte, length field
constexpr std::uint32_t kOtherDeviceWriteSize = static_cast<std::uint32_t>(kIcVpdImageSize);

constexpr int kLineWriteEntry = 572;
constexpr int kLineWriteTitle = 591;
constexpr int kLineWriteExit = 598;

// What tells the two VPD images apart for verification.
struct VpdImageKind {
  const char *name;
  std::uint16_t vpdLength;
  std::size_t recordSize;
  std::size_t checksumOffset;
  int lineEntry;
  int lineLength;
  int lineChecksum;
  int lineExit;
};

constexpr VpdImageKind kRdpImage{"TK_VerifyRDPVpd", kRdpVpdLength, kRdpVpdRecordSize,
                                 kRdpVpdChecksumOffset, 171, 180, 199, 205};
constexpr VpdImageKind kIcImage{"TK_VerifyICVpd", kIcVpdLength, kIcVpdRecordSize,
                                kIcVpdChecksumOffset, 113, 122, 141, 149};

constexpr TK_ExchangeLines kRdpReadLines{737, 750, 762, 781, 792, 801};
constexpr TK_ExchangeLines kIcReadLines{639, 652, 664, 683, 694, 703};
constexpr int kLineRdpReadEntry = 727;
constexpr int kLineIcReadEntry = 629;

std::int32_t VerifyImage(const VpdImageKind &kind, const std::uint8_t *image) {
  QEL_Trace(kTalvikModule, kind.lineEntry, "%s: Entry\n", kind.name);
  std::int32_t rc = SES_OK;
  const std::uint16_t found = qel::load_be16(image + kVpdLengthOffset);
  if (found != kind.vpdLength) {
    QEL_Trace(kTalvikModule, kind.lineLength, "%s: Error - VPD Length = %d!!!\n", kind.name,
              found);
    std::fprintf(stderr, "Length field in VPD data is incorrect: found(%x), expected(%x)\n",
                 static_cast<unsigned>(found), static_cast<unsigned>(kind.vpdLength));
    rc = SES_RC_STRING_PAGE;
  } else {
    std::uint8_t sum = 0;
    for (const std::uint8_t b : std::span(image + kVpdRecordOffset, kind.recordSize)) sum ^= b;
    if (sum != 0) {
      QEL_Trace(kTalvikModule, kind.lineChecksum, "%s: checksum: %02x !=  %02x!!!\n", kind.name,
                image[kind.checksumOffset], sum);
      std::fprintf(stderr, "Checksum is invalid\n");
      rc = SES_RC_STRING_PAGE;
    }
  }
  QEL_Trace(kTalvikModule, kind.lineExit, "%s: Exit, rc = %d\n", kind.name, rc);
  return rc;
}

// Runs the VPD read exchange into image and verifies the image when an answer was accepted.
std::int32_t ReadVpdImage(const char *serial, const TK_StringExchange &x,
                          const VpdImageKind &kind) {
  std::int32_t rc = TK_StringPageExchange(serial, x);
  if (rc == SES_OK) rc = VerifyImage(kind, x.response.data());
  return TK_StringPageExit(x, rc);
}
}  // namespace

std::int32_t TK_VerifyRDPVpd(const std::uint8_t *image) { return VerifyImage(kRdpImage, image); }

std::int32_t TK_VerifyICVpd(const std::uint8_t *image) { return VerifyImage(kIcImage, image); }

std::int32_t TK_ReadRDPVpd(const char *serial, std::uint8_t *image) {
  QEL_Trace(kTalvikModule, kLineRdpReadEntry, "TK_ReadRDPVpd: Enclosure SN = %s\n", serial);
  std::array<std::uint8_t, kVpdReadRequestSize> request{};
  TK_BuildStringOutHeader(request, kVpdReadRequestLength, TK_FN_READ_VPD, kRdpVpdDevice,
                          kNoParameter);
  const TK_StringExchange x{"TK_ReadRDPVpd",
                            request,
                            std::span(image, kRdpVpdImageSize),
                            TK_FN_READ_VPD,
                            true,
                            kRdpVpdDevice,
                            "<--- RDP VPD Page read --->\n",
                            kRdpReadLines};
  return ReadVpdImage(serial, x, kRdpImage);
}

std::int32_t TK_ReadICVpd(const char *serial, std::int32_t device, std::uint8_t *image) {
  QEL_Trace(kTalvikModule, kLineIcReadEntry, "TK_ReadICVpd: Enclosure SN = %s, Device = %d\n",
            serial, device);
  std::array<std::uint8_t, kVpdReadRequestSize> request{};
  TK_BuildStringOutHeader(request, kVpdReadRequestLength, TK_FN_READ_VPD, device, kNoParameter);
  const TK_StringExchange x{"TK_ReadICVpd",
                            request,
                            std::span(image, kIcVpdImageSize),
                            TK_FN_READ_VPD,
                            true,
                            device,
                            "<--- ENC VPD Page read ---->\n",
                            kIcReadLines};
  return ReadVpdImage(serial, x, kIcImage);
}

std::int32_t TK_WriteVpd(const char *serial, std::int32_t device, std::int32_t parameter,
                         const std::uint8_t *record) {
  QEL_Trace(kTalvikModule, kLineWriteEntry, "TK_WriteVpd: Enclosure SN = %s, Device = %d\n",
            serial, device);
  const bool rdp = device == kRdpVpdDevice;
  const std::uint32_t sendSize =
      rdp ? static_cast<std::uint32_t>(kWriteVpdPageSize) : kOtherDeviceWriteSize;
  // Only the record bytes that are sent are copied, so an IC VPD caller needs a 256-byte
  // record, not 500; the rest of the page stays zero.
  const std::size_t copySize = rdp ? kRdpVpdRecordSize : kIcVpdRecordSize;

  std::array<std::uint8_t, kWriteVpdPageSize> page{};
  TK_BuildStringOutHeader(page, static_cast<std::uint16_t>(sendSize - kPageLengthExcluded),
                          TK_FN_WRITE_VPD, device, parameter);
  std::copy_n(record, copySize, page.begin() + kVpdRecordOffset);

  QEL_Trace(kTalvikModule, kLineWriteTitle, "<--- Write VPD StringOut Page ------>\n");
  OutputData(page.data(), static_cast<std::uint32_t>(page.size()), 1);
  const std::int32_t rc = SES_WritePage(serial, sendSize, page.data());
  QEL_Trace(kTalvikModule, kLineWriteExit, "TK_WriteVpd: Exit, rc = %d\n", rc);
  return rc;
}

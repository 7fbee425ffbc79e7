// The vendor string-page exchange: one StringOut request, polled for its StringIn answer up to
// ten times, each answer dumped and checked for status, page code, function code and device.
#include "stringpage.h"

#include <algorithm>

#include "byteorder.h"
#include "qeldebug.h"
#include "qelses.h"
#include "qelsys.h"

namespace {
// The transport may wait between sending and fetching; the library never asks it to.
constexpr std::uint32_t kNoFetchDelayMs = 0;

// Offsets of the wrong-page detail lines after the wrong-page line itself.
constexpr int kPageCodeLineStep = 1;
constexpr int kFuncCodeLineStep = 2;
constexpr int kDeviceLineStep = 3;

std::uint32_t SizeOf(std::span<const std::uint8_t> s) { return static_cast<std::uint32_t>(s.size()); }

bool AnswerMatches(const TK_StringExchange &x) {
  const auto &in = x.response;
  if (in[kVendorPageCodeOffset] != kStringPageCode) return false;
  if (in[kVendorFunctionOffset] != x.function) return false;
  // The device byte is compared with the caller's whole number, so numbers outside 0..255
  // never match.
  return !x.checkDevice || static_cast<std::int32_t>(in[kVendorDeviceOffset]) == x.device;
}

void TraceWrongPage(const TK_StringExchange &x) {
  const auto &in = x.response;
  QEL_Trace(kTalvikModule, x.lines.wrongPage, "%s: Wrong StringIn Page!!!!\n", x.name);
  QEL_Trace(kTalvikModule, x.lines.wrongPage + kPageCodeLineStep, "PageCode = %d\n",
            in[kVendorPageCodeOffset]);
  QEL_Trace(kTalvikModule, x.lines.wrongPage + kFuncCodeLineStep, "FuncCode = 0x%x\n",
            in[kVendorFunctionOffset]);
  if (x.checkDevice) {
    QEL_Trace(kTalvikModule, x.lines.wrongPage + kDeviceLineStep, "Device = %d\n",
              in[kVendorDeviceOffset]);
  }
}
}  // namespace

void TK_BuildStringOutHeader(std::span<std::uint8_t> page, std::uint16_t pageLength,
                             std::uint8_t function, std::int32_t device, std::int32_t parameter) {
  std::fill(page.begin(), page.end(), std::uint8_t{0});
  page[kVendorPageCodeOffset] = kStringPageCode;
  qel::store_be16(page, kVendorPageLengthOffset, pageLength);
  page[kVendorFunctionOffset] = function;
  page[kVendorDeviceOffset] = static_cast<std::uint8_t>(device);
  page[kVendorParameterOffset] = static_cast<std::uint8_t>(parameter);
}

std::int32_t TK_StringPageExchange(const char *serial, const TK_StringExchange &x) {
  const bool dumping = x.dumps == TK_ExchangeDumps::EveryPage;
  if (dumping) {
    QEL_Trace(kTalvikModule, x.lines.requestTitle, "%s", kStringOutTitle);
    OutputData(x.request.data(), SizeOf(x.request), 1);
  }

  std::int32_t rc = SES_OK;
  for (int attempt = 0; attempt < kStringPageAttempts; ++attempt) {
    std::fill(x.response.begin(), x.response.end(), std::uint8_t{0});
    rc = SES_ReadStringPage(serial, SizeOf(x.request), x.request.data(), SizeOf(x.response),
                            x.response.data(), kNoFetchDelayMs);
    if (dumping) {
      QEL_Trace(kTalvikModule, x.lines.responseTitle, "%s", x.responseTitle);
      OutputData(x.response.data(), SizeOf(x.response), 1);
    }

    if (rc != SES_OK) {
      QEL_Trace(kTalvikModule, x.lines.transport, "%s: SES_ReadStringPageViaDisk rc = %d\n",
                x.name, rc);
      QEL_USleep(kPauseAfterTransportOrStatus);
    } else if (x.response[kVendorStatusOffset] != 0) {
      rc = SES_RC_ENCLOSURE_STATUS;
      QEL_Trace(kTalvikModule, x.lines.status, "%s: StringIn Status = 0x%x!!!!\n", x.name,
                x.response[kVendorStatusOffset]);
      QEL_USleep(kPauseAfterTransportOrStatus);
    } else if (AnswerMatches(x)) {
      return SES_OK;
    } else {
      rc = SES_RC_ENCLOSURE_STATUS;
      TraceWrongPage(x);
      QEL_USleep(kPauseAfterWrongPage);
    }
  }
  return rc;
}

std::int32_t TK_StringPageExit(const TK_StringExchange &x, std::int32_t rc) {
  QEL_Trace(kTalvikModule, x.lines.exit, "%s: Exit, rc = %d\n", x.name, rc);
  return rc;
}

std::int32_t TK_StringPageRead(const char *serial, const TK_StringExchange &x) {
  return TK_StringPageExit(x, TK_StringPageExchange(serial, x));
}

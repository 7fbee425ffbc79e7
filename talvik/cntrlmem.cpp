// Controller memory read: a stretch of a controller's memory fetched in 256-byte chunks, one
// StringOut request per chunk naming its address. Its retry policy is its own: 10 attempts per
// chunk, a failure budget over the whole read tested at each chunk start, and longer pauses
// after an enclosure-side error than the single-page exchange uses.
#include <algorithm>
#include <array>
#include <span>

#include "byteorder.h"
#include "qeldebug.h"
#include "qelses.h"
#include "qelsys.h"
#include "stringpage.h"

namespace {
constexpr std::size_t kRequestSize = 16;
constexpr std::uint16_t kRequestPageLength = kRequestSize - 4;
constexpr std::size_t kAddressOffset = 12;  // u32, big-endian: address of the chunk wanted
constexpr std::int32_t kNoParameter = 0;

// The answer's data sits where the header's reserved bytes would be, right after the
// parameter byte, not at the usual data offset.
constexpr std::size_t kResponseDataOffset = 10;
constexpr std::size_t kResponseSize = kResponseDataOffset + kCntrlMemChunkSize;

constexpr int kAttemptsPerChunk = 10;
// More failures than this, counted over the whole read, stop it at the next chunk start.
constexpr std::uint32_t kFailureBudget = 20;

constexpr unsigned kPauseAfterTransport = 25000;
constexpr unsigned kPauseAfterStatus = 190000;
constexpr unsigned kPauseAfterWrongPage = 195000;

constexpr std::uint32_t kNoFetchDelayMs = 0;
constexpr double kPercent = 100.0;

using Request = std::array<std::uint8_t, kRequestSize>;
using Response = std::array<std::uint8_t, kResponseSize>;

bool AnswerMatches(const Response &in, std::int32_t device) {
  // Compared with the caller's whole number: a device above 255 never matches.
  return in[kVendorPageCodeOffset] == kStringPageCode &&
         in[kVendorFunctionOffset] == TK_FN_READ_CNTRL_MEM &&
         static_cast<std::int32_t>(in[kVendorDeviceOffset]) == device;
}

// Up to ten attempts for the chunk the request names. On success the chunk is in
// destination and the request names the next one. Failed attempts are added to failures.
std::int32_t ReadChunk(const char *serial, std::int32_t device, Request &request,
                       Response &work, std::span<std::uint8_t> destination,
                       std::uint32_t &failures) {
  std::int32_t rc = SES_OK;
  for (int attempt = 0; attempt < kAttemptsPerChunk; ++attempt) {
    std::fill(work.begin(), work.end(), std::uint8_t{0});
    rc = SES_ReadStringPage(serial, kRequestSize, request.data(), kResponseSize, work.data(),
                            kNoFetchDelayMs);
    if (rc != SES_OK) {
      ++failures;
      QEL_Trace(kTalvikModule, __LINE__, "TK_ReadCntrlMem: SES_ReadStringPage rc = %d\n", rc);
      QEL_USleep(kPauseAfterTransport);
    } else if (work[kVendorStatusOffset] != 0) {
      ++failures;
      rc = SES_RC_ENCLOSURE_STATUS;
      QEL_Trace(kTalvikModule, __LINE__, "TK_ReadCntrlMem: StringIn Status = %x!!!!\n",
                work[kVendorStatusOffset]);
      QEL_USleep(kPauseAfterStatus);
    } else if (AnswerMatches(work, device)) {
      std::copy_n(work.begin() + kResponseDataOffset, kCntrlMemChunkSize, destination.begin());
      qel::store_be32(request, kAddressOffset,
                      qel::load_be32(request, kAddressOffset) + kCntrlMemChunkSize);
      return SES_OK;
    } else {
      ++failures;
      rc = SES_RC_ENCLOSURE_STATUS;
      QEL_Trace(kTalvikModule, __LINE__, "TK_ReadCntrlMem: Wrong StringIn Page!!!!\n");
      QEL_Trace(kTalvikModule, __LINE__, "PageCode = %d\n", work[kVendorPageCodeOffset]);
      QEL_Trace(kTalvikModule, __LINE__, "FuncCode = 0x%x\n", work[kVendorFunctionOffset]);
      QEL_Trace(kTalvikModule, __LINE__, "Device = %d\n", work[kVendorDeviceOffset]);
      QEL_USleep(kPauseAfterWrongPage);
    }
  }
  return rc;
}
}  // namespace

std::int32_t TK_ReadCntrlMem(const char *serial, std::int32_t device, std::uint32_t address,
                             std::uint32_t length, std::uint8_t *destination) {
  QEL_Trace(kTalvikModule, __LINE__, "TK_ReadCntrlMem: Enclosure SN = %s, Device = %d\n", serial,
            device);
  Request request{};
  TK_BuildStringOutHeader(request, kRequestPageLength, TK_FN_READ_CNTRL_MEM, device,
                          kNoParameter);
  qel::store_be32(request, kAddressOffset, address);
  // The first request is the only page this operation dumps.
  QEL_Trace(kTalvikModule, __LINE__, "%s", kStringOutTitle);
  OutputData(request.data(), kRequestSize, 1);

  Response work{};
  // Counted wide so that a length near 4 GiB cannot wrap the count and loop for ever.
  std::uint64_t received = 0;
  std::uint32_t failures = 0;
  std::int32_t rc = SES_OK;
  while (received < length && rc == SES_OK) {
    QEL_Trace(kTalvikModule, __LINE__, "(Rcvd/Total): %d / %d (%f%%)\n",
              static_cast<int>(received), static_cast<int>(length),
              static_cast<double>(received) / static_cast<double>(length) * kPercent);
    // The budget is tested only here, so the last chunk's failures never turn a read into one
    // that failed.
    if (failures > kFailureBudget) {
      QEL_Trace(kTalvikModule, __LINE__, "Over 20 failures, quitting\n");
      rc = SES_RC_ENCLOSURE_STATUS;
      break;
    }
    // A whole chunk is written even when fewer bytes are left: the caller sizes the
    // destination in whole chunks.
    rc = ReadChunk(serial, device, request, work,
                   std::span(destination + received, kCntrlMemChunkSize), failures);
    received += kCntrlMemChunkSize;
  }

  QEL_Trace(kTalvikModule, __LINE__, "TK_ReadCntrlMem: Exit, rc = %d\n", rc);
  return rc;
}

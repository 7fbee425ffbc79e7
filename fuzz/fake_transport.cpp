#include "fake_transport.h"

#include <algorithm>
#include <cstring>

#include "qelses.h"

namespace qelfuzz {

TransportScript transport;

namespace {

constexpr std::int32_t kFailures[] = {SES_RC_STRING_PAGE, SES_RC_CI_FAILED,       SES_RC_BUSY,
                                      SES_RC_OPEN_FAILED, SES_RC_ENCLOSURE_STATUS, SES_RC_SERIAL_TOO_LONG,
                                      -1,                 0x7fffffff};
constexpr std::size_t kFailureCount = sizeof kFailures / sizeof kFailures[0];

constexpr std::uint8_t kFrame = 0x04;
constexpr std::uint8_t kVpdFix = 0x08;

// What the caller sent must be readable for the whole length it gave.
void Touch(const std::uint8_t *page, std::uint32_t length) {
  if (length == 0) return;
  QELFUZZ_CHECK(page != nullptr);
  volatile std::uint8_t sum = 0;
  for (std::uint32_t i = 0; i < length; ++i) sum = static_cast<std::uint8_t>(sum ^ page[i]);
  (void)sum;
}

struct Answer {
  std::int32_t rc;
  std::uint8_t kind;
  std::vector<std::uint8_t> bytes;
};

Answer NextAnswer() {
  ++transport.calls;
  Reader *r = transport.reader;
  if (r == nullptr || r->empty()) return {SES_RC_CI_FAILED, 0, {}};
  Answer a{};
  a.kind = r->u8();
  a.rc = (a.kind & 0x03) == 0 ? SES_OK : kFailures[(a.kind >> 4) % kFailureCount];
  a.bytes = r->bytes(r->u16());
  return a;
}

// Fills the caller's buffer with the answer; frame(buffer) sets the header of a right page.
template <typename Frame>
void Deliver(const Answer &a, std::uint32_t length, std::uint8_t *buffer, Frame frame) {
  if (length == 0) return;
  QELFUZZ_CHECK(buffer != nullptr);
  std::memset(buffer, 0, length);
  const std::size_t n = std::min<std::size_t>(a.bytes.size(), length);
  if (n > 0) std::memcpy(buffer, a.bytes.data(), n);
  if ((a.kind & kFrame) != 0) frame(buffer);
  // A VPD image: the length field counts the bytes between itself and the checksum byte, and
  // the record from the length field to the end XORs to zero.
  if ((a.kind & kVpdFix) != 0 && length >= 16) {
    const std::uint32_t vpdLength = length - 15;
    buffer[12] = static_cast<std::uint8_t>(vpdLength >> 8);
    buffer[13] = static_cast<std::uint8_t>(vpdLength);
    std::uint8_t sum = 0;
    for (std::uint32_t i = 12; i + 1 < length; ++i) sum ^= buffer[i];
    buffer[length - 1] = sum;
  }
}

}  // namespace
}  // namespace qelfuzz

using qelfuzz::Answer;

std::int32_t SES_ReadStringPage(const char *serial, std::uint32_t outLength,
                                const std::uint8_t *outPage, std::uint32_t inLength,
                                std::uint8_t *inBuffer, std::uint32_t /*delayMs*/) {
  QELFUZZ_CHECK(serial != nullptr);
  qelfuzz::Touch(outPage, outLength);
  const Answer a = qelfuzz::NextAnswer();
  if (a.rc != SES_OK) return a.rc;
  qelfuzz::Deliver(a, inLength, inBuffer, [&](std::uint8_t *in) {
    in[0] = 4;  // StringIn
    if (inLength > 5) in[5] = 0;
    if (outLength > 4 && inLength > 4) in[4] = outPage[4];
    if (outLength > 8 && inLength > 8) in[8] = outPage[8];
  });
  return SES_OK;
}

std::int32_t SES_ReadPage(const char *serial, std::uint32_t pageCode, std::uint32_t length,
                          std::uint8_t *buffer) {
  QELFUZZ_CHECK(serial != nullptr);
  const Answer a = qelfuzz::NextAnswer();
  if (a.rc != SES_OK) return a.rc;
  qelfuzz::Deliver(a, length, buffer,
                   [&](std::uint8_t *in) { in[0] = static_cast<std::uint8_t>(pageCode); });
  return SES_OK;
}

std::int32_t SES_WritePage(const char *serial, std::uint32_t length, const std::uint8_t *page) {
  QELFUZZ_CHECK(serial != nullptr);
  qelfuzz::Touch(page, length);
  qelfuzz::transport.lastWritten.assign(page, page + length);
  return qelfuzz::NextAnswer().rc;
}

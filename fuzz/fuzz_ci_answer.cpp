// The SES transport against a command-interface client library whose answers come from the
// fuzz input: any send result and errno, any request status, and answer bodies of any size and
// content (the request echoed with changes, raw bytes longer or shorter than the message, no
// body, a negative size). The transport's source is linked with the stand-in library below in
// place of libniciClient.so.
//
// Input: op byte (0 page read, 1 page write, 2 string exchange, 3 firmware transfer, 4 firmware
// commit, 5 close), flags byte (bit 0: no trace; bit 1: a serial number from the input; bit 2:
// connection already open; bit 3: niCIOpen fails), a page code or device byte, a length (byte
// 0-127 as it is, else a u32 up to 70 KiB follows), for the string exchange the answer length
// and u32 delay, the bytes of a page written, sent or downloaded, then one reply per request:
//   byte  kind    bits 0-1: 0 send succeeds, 1 fails with EBUSY, 2 fails with EIO, 3 fails, errno 0
//                 bit 2: request status nonzero
//                 bits 3-4: 0 the request echoed, 1 raw bytes, 2 no body, 3 a negative size
//   u16   offset  where the reply's bytes go into an echoed body
//   u16   length  then that many bytes
// Once the replies are used up every send fails.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "byteorder.h"
#include "fuzz_support.h"
#include "niciClient.h"
#include "qelses.h"

namespace {

using qelfuzz::Exact;
using qelfuzz::Reader;

// The stand-in library's state: the script and the answer of the last request.
Reader *script = nullptr;
bool openFails = false;
std::int32_t status = 0, size = 0;
std::vector<std::uint8_t> body;

// Page lengths: mostly the sizes the pages have, sometimes anything up to past 64 KiB.
std::uint32_t Length(Reader &r) {
  const std::uint8_t pick = r.u8();
  return (pick & 0x80) == 0 ? pick : r.u32() % (70 * 1024);
}

}  // namespace

extern "C" {

int32_t niCIOpen(void) { return openFails ? -1 : 0; }
int32_t niCIClose(void) { return 0; }

int32_t niCISetOptions(void *options, int32_t option, int32_t value) {
  QELFUZZ_CHECK(options != nullptr && option >= 0 && option < 3);
  std::memcpy(static_cast<std::uint8_t *>(options) + 4 * option, &value, sizeof value);
  return 0;
}

int32_t niCISendSyncRequest(void *request, uint32_t requestLength, void *options, void *result, void *response) {
  QELFUZZ_CHECK(request != nullptr && options != nullptr && result != nullptr && response != nullptr);
  const auto *req = static_cast<const std::uint8_t *>(request);
  // The message is as long as it says (a whole number of words, at least the fixed part), and
  // the answer buffer the response block names holds at least the message.
  QELFUZZ_CHECK(requestLength >= 240 && requestLength % 4 == 0 && qel::load_be32(req + 4) == requestLength);
  void *answer = nullptr;
  std::memcpy(&answer, static_cast<std::uint8_t *>(response) + 24 - sizeof answer, sizeof answer);
  QELFUZZ_CHECK(answer != nullptr);
  std::memset(answer, 0, requestLength);
  std::memset(result, 0x5A, 64);
  status = size = 0;
  body.clear();
  const std::uint8_t kind = script->empty() ? 0x02 : script->u8();  // past the script, EIO
  const std::uint16_t offset = script->u16();
  const std::vector<std::uint8_t> bytes = script->bytes(script->u16());
  if ((kind & 0x03) != 0) {
    errno = (kind & 0x03) == 1 ? EBUSY : (kind & 0x03) == 2 ? EIO : 0;
    return (kind & 0x03) == 3 ? 1 : (kind & 0x03) == 2 ? -5 : -1;
  }
  status = (kind & 0x04) != 0 ? offset + 1 : 0;
  // The body: 0 the request with the reply's bytes written over it at offset, 1 the reply's
  // bytes alone, 2 none but a size (offset), 3 none and a negative size.
  const int shape = (kind >> 3) & 0x03;
  if (shape == 0) {
    body.assign(req, req + requestLength);
    body.resize(std::max(body.size(), offset + bytes.size()), 0);
    std::copy(bytes.begin(), bytes.end(), body.begin() + offset);
  }
  if (shape == 1) body = bytes;
  size = shape < 2 ? static_cast<std::int32_t>(body.size()) : shape == 2 ? offset : -1 - offset;
  return 0;
}

int32_t niCIBGetRequestStatus(void *) { return status; }
int32_t niCIBGetRequestSize(void *) { return size; }
void *niCIBGetRequest(void *response) {
  QELFUZZ_CHECK(response != nullptr);
  return body.empty() ? nullptr : body.data();
}

}  // extern "C"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  qelfuzz::Setup("fuzz_ci_answer");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t inputSize) {
  Reader r(data, inputSize);
  const qelfuzz::Run run = qelfuzz::Begin(r);
  const char *serial = run.serial.c_str();
  isConnOpen = (run.flags & 0x04) != 0 ? 1 : 0;
  openFails = (run.flags & 0x08) != 0;
  script = &r;
  // A page code or device, and a length (of the page, or the StringOut, or the firmware image).
  const std::uint8_t code = r.u8();
  const std::uint32_t length = Length(r);
  std::int32_t rc = SES_OK;
  switch (run.op % 6) {
    case 0: rc = SES_ReadPage(serial, code, length, Exact(length).get()); break;
    case 1: rc = SES_WritePage(serial, length, Exact(length, &r).get()); break;
    case 2: {
      const std::uint32_t inLength = Length(r), delay = r.u32();
      auto out = Exact(length, &r);
      rc = SES_ReadStringPage(serial, length, out.get(), inLength, Exact(inLength).get(), delay);
      QELFUZZ_CHECK(rc != SES_RC_CI_FAILED && rc != SES_RC_ENCLOSURE_STATUS);
      break;
    }
    case 3: rc = SES_DownloadFwTransfer(serial, code, Exact(length % 4096, &r).get(), length % 4096); break;
    case 4: rc = SES_DownloadFwCommit(serial, code); break;
    default: SES_CloseCIConnection(); break;
  }
  // Every result is one the transport documents, and a serial number too long is refused.
  QELFUZZ_CHECK(rc == SES_OK || rc == SES_RC_ENCLOSURE_STATUS || rc == SES_RC_OPEN_FAILED || rc == SES_RC_STRING_PAGE ||
                rc == SES_RC_CI_FAILED || rc == SES_RC_BUSY || rc == SES_RC_SERIAL_TOO_LONG);
  if (run.serial.size() > kSesMaxSerialLength && run.op % 6 != 5) QELFUZZ_CHECK(rc == SES_RC_SERIAL_TOO_LONG);
  script = nullptr;
  return 0;
}

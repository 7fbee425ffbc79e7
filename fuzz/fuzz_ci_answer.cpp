// The SES transport against a command-interface client library whose answers come from the
// fuzz input: any send result and errno, any request status, and answer bodies of any size and
// content (the request echoed with changes, raw bytes longer or shorter than the message, no
// body, a negative size). The transport's source is linked with the stand-in library below in
// place of libniciClient.so.
//
// Input: op byte, flags byte (bit 0: no trace; bit 1: a serial number from the input; bit 2:
// connection already open; bit 3: niCIOpen fails), the operation's arguments, then one reply
// per request:
//   byte  kind    bits 0-1: 0 send succeeds, 1 fails with EBUSY, 2 fails with EIO, 3 fails, errno 0
//                 bit 2: request status nonzero
//                 bits 3-4: 0 the request echoed, 1 raw bytes, 2 no body, 3 a negative size
//   u16   offset  where the reply's bytes go into an echoed body
//   u16   length  then that many bytes
// Once the replies are used up every send fails.
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "byteorder.h"
#include "fuzz_support.h"
#include "niciClient.h"
#include "qelses.h"

namespace {

using qelfuzz::Reader;

struct Library {
  Reader *reader = nullptr;
  bool openFails = false;
  std::int32_t status = 0;
  std::int32_t size = 0;
  bool noBody = false;
  std::vector<std::uint8_t> body;
};
Library lib;

constexpr std::size_t kMsgTotalLength = 4;
constexpr std::size_t kMsgFixed = 240;
constexpr std::size_t kResponseBlock = 24;

// Every result the transport may give.
bool KnownResult(std::int32_t rc) {
  return rc == SES_OK || rc == SES_RC_ENCLOSURE_STATUS || rc == SES_RC_OPEN_FAILED ||
         rc == SES_RC_STRING_PAGE || rc == SES_RC_CI_FAILED || rc == SES_RC_BUSY ||
         rc == SES_RC_SERIAL_TOO_LONG;
}

std::unique_ptr<std::uint8_t[]> Exact(std::size_t n) {
  return std::unique_ptr<std::uint8_t[]>(new std::uint8_t[n == 0 ? 1 : n]);
}

std::unique_ptr<std::uint8_t[]> Filled(Reader &r, std::size_t n) {
  auto p = Exact(n);
  std::vector<std::uint8_t> bytes = r.bytes(n);
  bytes.resize(n, 0);
  if (n > 0) std::memcpy(p.get(), bytes.data(), n);
  return p;
}

// Page lengths: mostly the sizes the pages have, sometimes anything up to past 64 KiB.
std::uint32_t Length(Reader &r) {
  const std::uint8_t pick = r.u8();
  if ((pick & 0x80) == 0) return pick;
  return r.u32() % (70 * 1024);
}

}  // namespace

extern "C" {

int32_t niCIOpen(void) { return lib.openFails ? -1 : 0; }

int32_t niCISetOptions(void *options, int32_t option, int32_t value) {
  QELFUZZ_CHECK(options != nullptr);
  QELFUZZ_CHECK(option >= 0 && option < 3);
  std::memcpy(static_cast<std::uint8_t *>(options) + 4 * option, &value, sizeof value);
  return 0;
}

int32_t niCISendSyncRequest(void *request, uint32_t requestLength, void *options, void *result,
                            void *response) {
  QELFUZZ_CHECK(request != nullptr && options != nullptr && result != nullptr &&
                response != nullptr);
  const auto *req = static_cast<const std::uint8_t *>(request);
  // The message is as long as it says, and the answer buffer the response block names holds
  // at least the message.
  QELFUZZ_CHECK(requestLength >= kMsgFixed && requestLength % 4 == 0);
  QELFUZZ_CHECK(qel::load_be32(req + kMsgTotalLength) == requestLength);
  void *answer = nullptr;
  std::memcpy(&answer, static_cast<std::uint8_t *>(response) + kResponseBlock - sizeof answer,
              sizeof answer);
  QELFUZZ_CHECK(answer != nullptr);
  std::memset(answer, 0, requestLength);
  std::memset(result, 0x5A, 64);

  Reader *r = lib.reader;
  if (r == nullptr || r->empty()) {
    errno = EIO;
    return -1;
  }
  const std::uint8_t kind = r->u8();
  const std::uint16_t offset = r->u16();
  const std::vector<std::uint8_t> bytes = r->bytes(r->u16());
  switch (kind & 0x03) {
    case 1: errno = EBUSY; return -1;
    case 2: errno = EIO; return -5;
    case 3: errno = 0; return 1;
    default: break;
  }
  lib.status = (kind & 0x04) != 0 ? static_cast<std::int32_t>(offset) + 1 : 0;
  lib.noBody = false;
  switch ((kind >> 3) & 0x03) {
    case 0:
      lib.body.assign(req, req + requestLength);
      if (lib.body.size() < offset + bytes.size()) lib.body.resize(offset + bytes.size(), 0);
      if (!bytes.empty()) std::memcpy(lib.body.data() + offset, bytes.data(), bytes.size());
      lib.size = static_cast<std::int32_t>(lib.body.size());
      break;
    case 1:
      lib.body = bytes;
      lib.size = static_cast<std::int32_t>(lib.body.size());
      break;
    case 2:
      lib.body.clear();
      lib.noBody = true;
      lib.size = offset;  // a size with nothing behind it
      break;
    default:
      lib.body.clear();
      lib.size = -1 - static_cast<std::int32_t>(offset);
      break;
  }
  return 0;
}

int32_t niCIBGetRequestStatus(void *response) {
  QELFUZZ_CHECK(response != nullptr);
  return lib.status;
}

int32_t niCIBGetRequestSize(void *response) {
  QELFUZZ_CHECK(response != nullptr);
  return lib.size;
}

void *niCIBGetRequest(void *response) {
  QELFUZZ_CHECK(response != nullptr);
  return lib.noBody || lib.body.empty() ? nullptr : lib.body.data();
}

int32_t niCIClose(void) { return 0; }

}  // extern "C"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  qelfuzz::Setup("fuzz_ci_answer");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  Reader r(data, size);
  const std::uint8_t op = r.u8();
  const std::uint8_t flags = r.u8();
  const std::string serial = (flags & 0x02) != 0 ? r.text(48) : std::string("IRC0001");
  qelfuzz::Run run((flags & 0x01) == 0);
  isConnOpen = (flags & 0x04) != 0 ? 1 : 0;
  lib = {};
  lib.openFails = (flags & 0x08) != 0;
  lib.reader = &r;

  std::int32_t rc = SES_OK;
  switch (op % 6) {
    case 0: {
      const std::uint8_t pageCode = r.u8();
      const std::uint32_t length = Length(r);
      auto buffer = Exact(length);
      rc = SES_ReadPage(serial.c_str(), pageCode, length, buffer.get());
      break;
    }
    case 1: {
      const std::uint32_t length = Length(r);
      auto page = Filled(r, length);
      rc = SES_WritePage(serial.c_str(), length, page.get());
      break;
    }
    case 2: {
      const std::uint32_t outLength = Length(r);
      const std::uint32_t inLength = Length(r);
      const std::uint32_t delay = r.u32();
      auto out = Filled(r, outLength);
      auto in = Exact(inLength);
      rc = SES_ReadStringPage(serial.c_str(), outLength, out.get(), inLength, in.get(), delay);
      QELFUZZ_CHECK(rc == SES_OK || rc == SES_RC_BUSY || rc == SES_RC_STRING_PAGE ||
                    rc == SES_RC_OPEN_FAILED || rc == SES_RC_SERIAL_TOO_LONG);
      break;
    }
    case 3: {
      const auto device = static_cast<std::int32_t>(r.u8());
      const std::uint32_t length = r.u16() % 4096;
      auto image = Filled(r, length);
      rc = SES_DownloadFwTransfer(serial.c_str(), device, image.get(), length);
      break;
    }
    case 4:
      rc = SES_DownloadFwCommit(serial.c_str(), static_cast<std::int32_t>(r.u8()));
      break;
    default:
      SES_CloseCIConnection();
      break;
  }
  QELFUZZ_CHECK(KnownResult(rc));
  if (serial.size() > kSesMaxSerialLength) QELFUZZ_CHECK(rc == SES_RC_SERIAL_TOO_LONG || op % 6 == 5);
  lib.reader = nullptr;
  return 0;
}

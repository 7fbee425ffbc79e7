// The SES transport against a command-interface client library whose answers come from the
// fuzz input: any send result and errno, any request status, and answer bodies of any size and
// content (the request echoed with changes, raw bytes longer or shorter than the message, no
// body, a negative size). The transport's source is linked with the stand-in library below in
// place of libniciClient.so.
//
// Input: the head (fuzz_support.h; flags bit 2: connection already open, bit 3: niCIOpen fails;
// value: a length n, taken modulo 70 KiB), then
//   byte  code    a page code or device
//   op 0  page read of n bytes
//   op 1  page write: the n bytes of the page
//   op 2  string exchange: u32 answer length (modulo 70 KiB), u32 delay, the n bytes of the
//         StringOut
//   op 3  firmware transfer: n modulo 4096 bytes of the image
//   op 4  firmware commit
//   op 5  close
// then one reply per request (its status and body are set even when the send fails):
//   byte  kind    bits 0-1: 0 send succeeds, 1 fails with EBUSY, 2 fails with EIO, 3 fails, errno 0
//                 bit 2: request status nonzero
//                 bits 3-4: 0 the request echoed, 1 raw bytes, 2 no body, 3 a negative size
//   u16   offset  where the reply's bytes go into an echoed body
//   u16   length  then that many bytes
// Once the replies are used up every send fails.
#include <cerrno>

#include "byteorder.h"
#include "fuzz_support.h"
#include "niciClient.h"
#include "qelses.h"

// The stand-in library's state: the answer of the last request.
static std::int32_t status = 0, size = 0;
static std::vector<std::uint8_t> body;

// The transport's entry points, each given the input, the serial number, the code and the length.
std::int32_t (*const kCalls[])(Run &r, const char *serial, std::uint8_t code, std::uint32_t n) = {
    [](auto &, auto s, auto code, auto n) { return SES_ReadPage(s, code, n, Exact(n).get()); },
    [](auto &r, auto s, auto, auto n) { return SES_WritePage(s, n, Exact(n, &r).get()); },
    [](auto &r, auto s, auto, auto n) {
      const std::uint32_t inLength = r.u32() % (70 * 1024), delay = r.u32();
      return SES_ReadStringPage(s, n, Exact(n, &r).get(), inLength, Exact(inLength).get(), delay);
    },
    [](auto &r, auto s, auto d, auto n) { return SES_DownloadFwTransfer(s, d, Exact(n % 4096, &r).get(), n % 4096); },
    [](auto &, auto s, auto code, auto) { return SES_DownloadFwCommit(s, code); },
    [](auto &, auto, auto, auto) { return SES_CloseCIConnection(), std::int32_t{SES_OK}; },
};

extern "C" {  // the stand-in library (its script is the rest of the run's input), and the harness
int32_t niCIOpen(void) { return (Run::current->flags & 0x08) != 0 ? -1 : 0; }
int32_t niCIClose(void) { return 0; }
int32_t niCIBGetRequestStatus(void *) { return status; }
int32_t niCIBGetRequestSize(void *) { return size; }
void *niCIBGetRequest(void *) { return body.empty() ? nullptr : body.data(); }

int32_t niCISetOptions(void *options, int32_t option, int32_t value) {
  CHECK(options != nullptr && option >= 0 && option < 3);
  std::memcpy(static_cast<std::uint8_t *>(options) + 4 * option, &value, sizeof value);
  return 0;
}

int32_t niCISendSyncRequest(void *request, uint32_t requestLength, void *options, void *result, void *response) {
  CHECK(request != nullptr && options != nullptr && result != nullptr && response != nullptr);
  const auto *req = static_cast<const std::uint8_t *>(request);
  // The message is as long as it says (a whole number of words, at least the fixed part), and
  // the answer buffer the response block names holds at least the message.
  CHECK(requestLength >= 240 && requestLength % 4 == 0 && qel::load_be32(req + 4) == requestLength);
  void *answer = nullptr;
  std::memcpy(&answer, static_cast<std::uint8_t *>(response) + 24 - sizeof answer, sizeof answer);
  std::memset(answer, 0, requestLength);
  std::memset(result, 0x5A, 64);
  const std::uint8_t kind = Run::current->left() == 0 ? 0x02 : Run::current->u8();  // past the script, EIO
  const std::uint16_t offset = Run::current->u16();
  const std::vector<std::uint8_t> bytes = Run::current->bytes(Run::current->u16());
  const int send = kind & 0x03, shape = (kind >> 3) & 0x03;
  errno = send == 1 ? EBUSY : send == 2 ? EIO : 0;
  status = (kind & 0x04) != 0 ? offset + 1 : 0;
  // The body: 0 the request with the reply's bytes written over it at offset, 1 the reply's
  // bytes alone, 2 none but a size (offset), 3 none and a negative size.
  body.assign(req, req + requestLength);
  body.resize(std::max(body.size(), offset + bytes.size()), 0);
  std::copy(bytes.begin(), bytes.end(), body.begin() + offset);
  if (shape != 0) body = shape == 1 ? bytes : std::vector<std::uint8_t>();
  size = shape < 2 ? static_cast<std::int32_t>(body.size()) : shape == 2 ? offset : -1 - offset;
  return send == 0 ? 0 : send == 1 ? -1 : send == 2 ? -5 : 1;
}

int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t inputSize) {
  Run run("fuzz_ci_answer", data, inputSize);
  isConnOpen = (run.flags & 0x04) != 0 ? 1 : 0;
  const std::size_t op = run.op % std::size(kCalls);
  const std::int32_t rc = kCalls[op](run, run.sn(), run.u8(), run.value % (70 * 1024));
  // Every result is one the transport documents, a serial number too long is refused, and a string
  // exchange fails only as one.
  CHECK(rc == SES_OK || rc == SES_RC_ENCLOSURE_STATUS || rc == SES_RC_OPEN_FAILED || rc == SES_RC_STRING_PAGE ||
        rc == SES_RC_CI_FAILED || rc == SES_RC_BUSY || rc == SES_RC_SERIAL_TOO_LONG);
  CHECK((std::strlen(run.sn()) <= kSesMaxSerialLength || op == 5 || rc == SES_RC_SERIAL_TOO_LONG) &&
        (op != 2 || (rc != SES_RC_CI_FAILED && rc != SES_RC_ENCLOSURE_STATUS)));
  return 0;
}
}  // extern "C"

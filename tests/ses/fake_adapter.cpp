#include "fake_adapter.h"

#include <cerrno>
#include <cstring>

#include "byteorder.h"
#include "niciClient.h"

namespace fakeci {

namespace {
// Offsets as the adapter reads the message; written out here independently of the transport.
constexpr std::size_t kTotalLength = 4;
constexpr std::size_t kDataOutLength = 80 + 20;
constexpr std::size_t kDataInLength = 104 + 20;
constexpr std::size_t kData = 204;
constexpr std::size_t kResponseBlock = 24;
constexpr std::size_t kOptionsWords = 3;
}  // namespace

Adapter *Adapter::current = nullptr;

std::uint32_t Request::dataLength() const {
  if (bytes.size() < kData) return 0;
  return qel::load_be32(bytes.data() + (isSend() ? kDataOutLength : kDataInLength));
}

std::vector<std::uint8_t> Request::sentPage() const {
  const std::size_t n = std::min<std::size_t>(dataLength(), bytes.size() - kData);
  return {bytes.begin() + kData, bytes.begin() + static_cast<std::ptrdiff_t>(kData + n)};
}

Adapter::Adapter() { current = this; }
Adapter::~Adapter() { current = nullptr; }

std::vector<Request> Adapter::sends() const {
  std::vector<Request> out;
  for (const Request &r : requests)
    if (r.isSend()) out.push_back(r);
  return out;
}

std::vector<Request> Adapter::receives() const {
  std::vector<Request> out;
  for (const Request &r : requests)
    if (r.isReceive()) out.push_back(r);
  return out;
}

Reply SendFails(int err) {
  Reply r;
  r.sendRc = -1;
  r.sendErrno = err;
  return r;
}

}  // namespace fakeci

using fakeci::Adapter;

extern "C" {

int32_t niCIOpen(void) {
  Adapter *a = Adapter::current;
  if (a == nullptr) return -1;
  a->calls.push_back("open");
  return a->openRc;
}

int32_t niCISetOptions(void *options, int32_t option, int32_t value) {
  Adapter *a = Adapter::current;
  if (a == nullptr) return -1;
  a->calls.push_back("setopt " + std::to_string(option) + " " + std::to_string(value));
  if (option < 0 || static_cast<std::size_t>(option) >= fakeci::kOptionsWords) {
    a->violations.push_back("option number out of range");
    return -1;
  }
  std::memcpy(static_cast<std::uint8_t *>(options) + 4 * option, &value, sizeof value);
  return 0;
}

int32_t niCISendSyncRequest(void *request, uint32_t requestLength, void *options, void *result,
                            void *response) {
  Adapter *a = Adapter::current;
  if (a == nullptr) return -1;
  a->calls.push_back("send " + std::to_string(requestLength));
  const auto *req = static_cast<const std::uint8_t *>(request);
  fakeci::Request r;
  r.bytes.assign(req, req + requestLength);
  a->requests.push_back(r);

  // The caller's side of the contract: length matches the message, options 2 = 1, 0 = 1,
  // 1 = 0 (native words), a zero-filled response block ending in a zero-filled buffer.
  if (requestLength < fakeci::kData || qel::load_be32(req + fakeci::kTotalLength) != requestLength)
    a->violations.push_back("request length differs from the message's total length");
  // The command block's address as a 32-bit sender sees it (the low 32 bits on a 64-bit host).
  const auto blockAddress = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(req + 184));
  if (requestLength >= fakeci::kData && qel::load_be32(req + 176) != blockAddress)
    a->violations.push_back("address field does not locate the command block");
  std::int32_t words[fakeci::kOptionsWords];
  std::memcpy(words, options, sizeof words);
  if (words[0] != 1 || words[1] != 0 || words[2] != 1) a->violations.push_back("options");
  if (result == nullptr) a->violations.push_back("no result area");
  const auto *block = static_cast<const std::uint8_t *>(response);
  for (std::size_t i = 0; i < fakeci::kResponseBlock - sizeof(void *); ++i)
    if (block[i] != 0) a->violations.push_back("response block not zero-filled");
  void *buffer = nullptr;
  std::memcpy(&buffer, block + fakeci::kResponseBlock - sizeof buffer, sizeof buffer);
  if (buffer == nullptr) {
    a->violations.push_back("no response buffer");
  } else {
    const auto *b = static_cast<const std::uint8_t *>(buffer);
    for (std::uint32_t i = 0; i < requestLength; ++i)
      if (b[i] != 0) {
        a->violations.push_back("response buffer not zero-filled");
        break;
      }
  }

  a->reply = a->responder ? a->responder(r, a->requests.size() - 1) : fakeci::Reply{};
  if (a->reply.sendRc != 0) {
    errno = a->reply.sendErrno;
    return a->reply.sendRc;
  }
  // The answer: the message as sent, the data region of a RECEIVE filled from the page table.
  a->body = r.bytes;
  if (r.isReceive()) {
    std::vector<std::uint8_t> page;
    auto it = a->pages.find(r.pageCode());
    if (it != a->pages.end()) {
      page = it->second;
    } else if (r.pageCode() == 0x08) {
      page = {0x08, a->shortEncStatus, 0x00, 0x00};
    }
    const std::size_t room = a->body.size() - fakeci::kData;
    const std::size_t n = std::min({page.size(), static_cast<std::size_t>(r.dataLength()), room});
    std::copy_n(page.begin(), n, a->body.begin() + fakeci::kData);
  }
  if (a->reply.edit) a->reply.edit(a->body);
  a->body.insert(a->body.end(), a->reply.trailer.begin(), a->reply.trailer.end());
  return 0;
}

int32_t niCIBGetRequestStatus(void *) {
  Adapter *a = Adapter::current;
  if (a == nullptr) return -1;
  a->calls.push_back("status");
  return a->reply.requestStatus;
}

int32_t niCIBGetRequestSize(void *) {
  Adapter *a = Adapter::current;
  if (a == nullptr) return -1;
  a->calls.push_back("size");
  return a->reply.reportedSize ? *a->reply.reportedSize : static_cast<int32_t>(a->body.size());
}

void *niCIBGetRequest(void *) {
  Adapter *a = Adapter::current;
  if (a == nullptr) return nullptr;
  a->calls.push_back("get");
  return a->reply.nullBody ? nullptr : a->body.data();
}

int32_t niCIClose(void) {
  Adapter *a = Adapter::current;
  if (a == nullptr) return -1;
  a->calls.push_back("close");
  return 0;
}

}  // extern "C"

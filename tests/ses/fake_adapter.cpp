#include "fake_adapter.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "byteorder.h"
#include "niciClient.h"

namespace fakeci {

Adapter *current = nullptr;

static void Log(const std::string &entry) {
  current->log += (current->log.empty() ? "" : " ") + entry;
}

static bool Zero(const void *p, std::size_t n) {
  const auto *b = static_cast<const std::uint8_t *>(p);
  return std::all_of(b, b + n, [](std::uint8_t x) { return x == 0; });
}

}  // namespace fakeci

using namespace fakeci;

// The options, the result area, the request length against the message's own and the order of
// the calls are checked by the simulated adapter's library (ses_nicisim_test), not here.
extern "C" {

int32_t niCIOpen(void) {
  Log("open");
  return current->openRc;
}

int32_t niCISetOptions(void *, int32_t, int32_t) { return 0; }

// The message's offsets as the adapter reads them.
int32_t niCISendSyncRequest(void *request, uint32_t length, void *, void *, void *response) {
  Adapter &a = *current;
  const auto *req = static_cast<const std::uint8_t *>(request);
  const Bytes &r = a.requests.emplace_back(req, req + length);
  const bool send = r.at(192) == 0x1D;
  const std::uint32_t dataLength = qel::load_be32(&r[send ? 100 : 124]);
  char entry[32];
  std::snprintf(entry, sizeof entry, send ? "S%u" : "R%02x:%u", send ? dataLength : r[194],
                dataLength);
  Log(entry);

  // The command block's address as a 32-bit sender sees it (the low 32 bits on a 64-bit host),
  // and a zero-filled response block ending in the address of a zero-filled answer buffer.
  const auto blockAddress = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(req + 184));
  if (qel::load_be32(&r[176]) != blockAddress) a.violations.push_back("command block address");
  void *buffer = nullptr;
  std::memcpy(&buffer, static_cast<char *>(response) + 24 - sizeof buffer, sizeof buffer);
  if (!Zero(response, 24 - sizeof buffer) || buffer == nullptr || !Zero(buffer, length))
    a.violations.push_back("response block or buffer not zero-filled");

  a.reply = a.responder ? a.responder(a.requests.size() - 1, r) : Reply{};
  errno = a.reply.sendErrno;
  if (a.reply.sendRc != 0) return a.reply.sendRc;
  // The answer: the message as sent, a RECEIVE's data region filled from the page table.
  a.body = r;
  if (!send) {
    const auto it = a.pages.find(r[194]);
    const Bytes page = it != a.pages.end() ? it->second : Bytes{0x08, a.shortEncStatus, 0, 0};
    std::copy_n(page.begin(), std::min<std::size_t>(page.size(), dataLength), a.body.begin() + 204);
  }
  if (a.reply.edit) a.reply.edit(a.body);
  return 0;
}

int32_t niCIBGetRequestStatus(void *) { return current->reply.requestStatus; }

int32_t niCIBGetRequestSize(void *) {
  return current->reply.reportedSize.value_or(static_cast<int32_t>(current->body.size()));
}

void *niCIBGetRequest(void *) { return current->reply.nullBody ? nullptr : current->body.data(); }

int32_t niCIClose(void) {
  Log("close");
  return 0;
}

}  // extern "C"

// libniciClient.so of the simulated adapter: the command-interface client calls, with the
// checks a careful adapter driver would make on the order of calls and on its arguments.
// Every misuse fails the call and leaves a line in the simulator's log, so a transport that
// breaks the protocol is caught on the development host, not on the controller.
#include <csignal>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "simadapter.h"
#include "simstate.h"

#pragma GCC visibility push(default)
#include "niciClient.h"
#pragma GCC visibility pop

namespace {

using nicisim::SimLog;

// Caller's blocks. The response block ends with the address of the caller's response buffer;
// the bytes before it are the library's.
constexpr std::size_t kOptionsSize = 12;
constexpr std::int32_t kOptionCount = 3;
constexpr std::int32_t kOptionExtraLength = 1;
constexpr std::int32_t kOptionRequired0 = 0;  // must be 1 before a request
constexpr std::int32_t kOptionRequired2 = 2;  // must be 1 before a request
constexpr std::int32_t kRequiredOptionValue = 1;
constexpr std::size_t kResponseBlockSize = 24;
constexpr std::size_t kResponseBufferOffset = kResponseBlockSize - sizeof(void *);
constexpr std::size_t kResponseStatusOffset = 0;
constexpr std::size_t kResponseSizeOffset = 4;
constexpr std::size_t kResponseStateOffset = 8;
static_assert(kResponseStateOffset + sizeof(std::uint32_t) <= kResponseBufferOffset);
constexpr std::size_t kResultAreaSize = 64;
constexpr std::size_t kResultErrnoOffset = 4;

// Marks in the response block: an answer is there, and its size has been asked for.
constexpr std::uint32_t kStateAnswered = 0x4E430001u;
constexpr std::uint32_t kStateSizeAsked = 0x4E430002u;

// Largest extra response length and request taken; more is refused as a caller's mistake
// rather than trusted to fit a buffer the library cannot measure.
constexpr std::int32_t kMaxExtraLength = 1 << 20;
constexpr std::uint32_t kMaxRequestLength = 1u << 20;

bool connectionOpen = false;
nicisim::Session session;

// Test hook: with NICISIM_KILL_AT=N the process is killed (SIGKILL) right after the enclosure
// has carried out the Nth request of this process, before the client sees the answer, so
// interruption tests can stop a client at any command it sends.
void KillIfAsked() {
  static unsigned long served = 0;
  const char *at = std::getenv("NICISIM_KILL_AT");
  if (at != nullptr && std::strtoul(at, nullptr, 10) == ++served) std::raise(SIGKILL);
}

std::string Dir() { return nicisim::StateDirectory(); }

std::int32_t Word(const void *block, std::size_t offset) {
  std::int32_t v = 0;
  std::memcpy(&v, static_cast<const std::uint8_t *>(block) + offset, sizeof v);
  return v;
}

void SetWord(void *block, std::size_t offset, std::uint32_t v) {
  std::memcpy(static_cast<std::uint8_t *>(block) + offset, &v, sizeof v);
}

void *BufferOf(const void *response) {
  void *p = nullptr;
  std::memcpy(&p, static_cast<const std::uint8_t *>(response) + kResponseBufferOffset, sizeof p);
  return p;
}

std::int32_t Fail(int error) {
  errno = error;
  return -1;
}

// The response block must carry an answer of a successful niCISendSyncRequest.
bool Answered(const void *response, const char *call) {
  if (response == nullptr) {
    SimLog(Dir(), "%s: response block is null", call);
    return false;
  }
  const auto state = static_cast<std::uint32_t>(Word(response, kResponseStateOffset));
  if (state != kStateAnswered && state != kStateSizeAsked) {
    SimLog(Dir(), "%s: response block holds no answer of niCISendSyncRequest", call);
    return false;
  }
  return true;
}

}  // namespace

extern "C" {

int32_t niCIOpen(void) {
  try {
    if (connectionOpen) {
      SimLog(Dir(), "niCIOpen: called while the connection is open");
      return Fail(EALREADY);
    }
    const std::int32_t rc = nicisim::ServeOpen(Dir());
    if (rc != 0) {
      errno = ECONNREFUSED;
      return rc;
    }
    connectionOpen = true;
    return 0;
  } catch (...) {
    return Fail(ENOMEM);
  }
}

int32_t niCISetOptions(void *options, int32_t option, int32_t value) {
  if (options == nullptr || option < 0 || option >= kOptionCount) {
    SimLog(Dir(), "niCISetOptions: bad option block or option number %d", static_cast<int>(option));
    return Fail(EINVAL);
  }
  SetWord(options, static_cast<std::size_t>(option) * sizeof(std::int32_t), static_cast<std::uint32_t>(value));
  return 0;
}

int32_t niCISendSyncRequest(void *request, uint32_t requestLength, void *options, void *result,
                            void *response) {
  try {
    const std::string dir = Dir();
    if (!connectionOpen) {
      SimLog(dir, "niCISendSyncRequest: called before niCIOpen");
      return Fail(ENOTCONN);
    }
    if (request == nullptr || options == nullptr || result == nullptr || response == nullptr) {
      SimLog(dir, "niCISendSyncRequest: null argument");
      return Fail(EINVAL);
    }
    if (Word(options, kOptionRequired2 * sizeof(std::int32_t)) != kRequiredOptionValue ||
        Word(options, kOptionRequired0 * sizeof(std::int32_t)) != kRequiredOptionValue) {
      SimLog(dir, "niCISendSyncRequest: options 2 and 0 not set to 1 before the request");
      return Fail(EINVAL);
    }
    const std::int32_t extra = Word(options, kOptionExtraLength * sizeof(std::int32_t));
    if (extra < 0 || extra > kMaxExtraLength) {
      SimLog(dir, "niCISendSyncRequest: extra response length %d refused", static_cast<int>(extra));
      return Fail(EINVAL);
    }
    if (requestLength > kMaxRequestLength) {
      SimLog(dir, "niCISendSyncRequest: request length %u refused", static_cast<unsigned>(requestLength));
      return Fail(EINVAL);
    }
    auto *buffer = static_cast<std::uint8_t *>(BufferOf(response));
    if (buffer == nullptr) {
      SimLog(dir, "niCISendSyncRequest: response block carries no buffer address");
      return Fail(EINVAL);
    }
    std::memset(result, 0, kResultAreaSize);
    SetWord(response, kResponseStateOffset, 0);
    // The answer body is built in the caller's buffer, which holds requestLength + extra bytes;
    // only the first requestLength are written.
    std::memcpy(buffer, request, requestLength);
    const nicisim::RequestOutcome outcome =
        nicisim::ServeRequest(dir, session, std::span<std::uint8_t>(buffer, requestLength));
    KillIfAsked();
    SetWord(result, 0, static_cast<std::uint32_t>(outcome.requestStatus));
    SetWord(result, kResultErrnoOffset, static_cast<std::uint32_t>(outcome.sendErrno));
    if (outcome.sendErrno != 0) return Fail(outcome.sendErrno);
    SetWord(response, kResponseStatusOffset, static_cast<std::uint32_t>(outcome.requestStatus));
    SetWord(response, kResponseSizeOffset, requestLength);
    SetWord(response, kResponseStateOffset, kStateAnswered);
    return 0;
  } catch (...) {
    return Fail(ENOMEM);
  }
}

int32_t niCIBGetRequestStatus(void *response) {
  if (!Answered(response, "niCIBGetRequestStatus")) return -1;
  return Word(response, kResponseStatusOffset);
}

int32_t niCIBGetRequestSize(void *response) {
  if (!Answered(response, "niCIBGetRequestSize")) return -1;
  SetWord(response, kResponseStateOffset, kStateSizeAsked);
  return Word(response, kResponseSizeOffset);
}

void *niCIBGetRequest(void *response) {
  if (!Answered(response, "niCIBGetRequest")) return nullptr;
  if (static_cast<std::uint32_t>(Word(response, kResponseStateOffset)) != kStateSizeAsked) {
    SimLog(Dir(), "niCIBGetRequest: called before niCIBGetRequestSize");
    return nullptr;
  }
  return BufferOf(response);
}

int32_t niCIClose(void) {
  if (!connectionOpen) {
    SimLog(Dir(), "niCIClose: called without an open connection");
    return Fail(ENOTCONN);
  }
  connectionOpen = false;
  session.pending.clear();
  return 0;
}

}  // extern "C"

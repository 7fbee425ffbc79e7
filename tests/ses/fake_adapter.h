// A scripted stand-in for the command-interface client library, bound into the transport's unit
// tests in place of libniciClient.so. It keeps every request, answers each one as the adapter
// would (the message echoed, a RECEIVE's data region filled from `pages`) unless `responder`
// scripts another answer, and notes the breaches of the calling contract that the simulated
// adapter's library does not catch.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace fakeci {

using Bytes = std::vector<std::uint8_t>;

struct Reply {
  std::int32_t sendRc = 0;  // niCISendSyncRequest's result, with errno sendErrno
  int sendErrno = 0;
  std::int32_t requestStatus = 0;
  std::function<void(Bytes &)> edit{};  // applied to the answer body
  std::optional<std::int32_t> reportedSize{};
  bool nullBody = false;
};

struct Adapter {
  std::int32_t openRc = 0;
  std::uint8_t shortEncStatus = 0;  // byte 1 of page 0x08
  std::map<std::uint8_t, Bytes> pages;
  std::function<Reply(std::size_t index, const Bytes &request)> responder;
  // "open S9 R08:4 close": library calls, a request as S<data length> or R<page>:<length>.
  std::string log;
  std::vector<Bytes> requests;
  std::vector<std::string> violations;
  Reply reply;  // of the last request, and its answer
  Bytes body;
};

// The adapter the library functions use.
extern Adapter *current;

}  // namespace fakeci

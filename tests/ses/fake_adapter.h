// A scripted stand-in for the command-interface client library, bound into the transport's
// unit tests in place of libniciClient.so. It records every library call in order with the
// exact request bytes, answers each request as an adapter would (echoing the message with the
// data region filled from a page table) unless the test's responder scripts a failure, and
// checks the caller's side of the library contract.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace fakeci {

// One request as the transport sent it.
struct Request {
  std::vector<std::uint8_t> bytes;
  bool isSend() const { return bytes.size() > 192 && bytes[192] == 0x1D; }
  bool isReceive() const { return bytes.size() > 192 && bytes[192] == 0x1C; }
  std::uint8_t pageCode() const { return bytes.size() > 194 ? bytes[194] : 0; }
  // Data region length from the data-out (SEND) or data-in (RECEIVE) descriptor.
  std::uint32_t dataLength() const;
  // The page a SEND carries.
  std::vector<std::uint8_t> sentPage() const;
};

// How the adapter answers one request.
struct Reply {
  std::int32_t sendRc = 0;      // niCISendSyncRequest's result
  int sendErrno = 0;            // errno left by a failed send
  std::int32_t requestStatus = 0;
  std::function<void(std::vector<std::uint8_t> &)> edit;  // changes made to the answer body
  std::vector<std::uint8_t> trailer;                     // bytes appended after the message
  std::optional<std::int32_t> reportedSize;              // size claimed instead of the real one
  bool nullBody = false;
};

struct Adapter {
  Adapter();
  ~Adapter();
  Adapter(const Adapter &) = delete;
  Adapter &operator=(const Adapter &) = delete;

  std::int32_t openRc = 0;
  std::uint8_t shortEncStatus = 0;                          // byte 1 of page 0x08
  std::map<std::uint8_t, std::vector<std::uint8_t>> pages;  // what RECEIVE of a page returns
  // Decides each request's answer; by default every request succeeds.
  std::function<Reply(const Request &, std::size_t index)> responder;

  std::vector<std::string> calls;  // "open", "setopt 2 1", "send 244", "status", ...
  std::vector<Request> requests;
  std::vector<std::string> violations;  // breaches of the library contract by the caller

  // Requests of one kind, in order.
  std::vector<Request> sends() const;
  std::vector<Request> receives() const;

  static Adapter *current;

  // State of the request in flight.
  Reply reply;
  std::vector<std::uint8_t> body;
};

// Answer that reports a failed send with this errno.
Reply SendFails(int err);

}  // namespace fakeci

// Test helpers: adapter request messages built by hand from the wire layout (independent of
// the transport), one exchange through the client library, and the lab in a scratch directory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "simlab.h"
#include "testsupport.h"

namespace citest {

// A SEND DIAGNOSTIC message carrying page, or a RECEIVE DIAGNOSTIC RESULTS message for
// length bytes of pageCode.
std::vector<std::uint8_t> SendMessage(const std::string &serial, const std::vector<std::uint8_t> &page);
std::vector<std::uint8_t> ReceiveMessage(const std::string &serial, std::uint8_t pageCode, std::uint32_t length);

struct Answer {
  std::int32_t rc = -1;      // niCISendSyncRequest
  int error = 0;             // errno after a failed send
  std::int32_t status = -1;  // niCIBGetRequestStatus
  std::vector<std::uint8_t> body;
  std::uint8_t directive() const { return body.at(48); }
  std::uint32_t resultWord() const;
  std::int16_t appResult() const;
  // The data region of an answer to a request with length L.
  std::vector<std::uint8_t> data(std::size_t length) const;
};

// Sets the options as the protocol asks, sends, and fetches the answer. Checks that the
// library wrote nothing past request length + extra in the response buffer.
Answer Exchange(const std::vector<std::uint8_t> &message, std::int32_t extra = 0);

// The page as served: RECEIVE of pageCode with length bytes; empty on any failure.
std::vector<std::uint8_t> ReadPage(const std::string &serial, std::uint8_t pageCode, std::uint32_t length);
// A StringOut page: 12-byte header (function, device) with data after it.
std::vector<std::uint8_t> StringOut(std::uint8_t function, std::uint8_t device, std::size_t size);

// NICISIM_STATE_DIR pointed at a fresh scratch directory for the life of the object.
class ScratchLab {
 public:
  explicit ScratchLab(const std::string &tag);
  ~ScratchLab();
  const std::string &dir() const { return scratch_.path(); }
  nicisim::Lab Load() const;
  void Save(const nicisim::Lab &lab) const;
  void AddFault(const std::string &serial, const nicisim::Fault &fault) const;
  std::vector<std::string> LogLines() const;
  // Runs encsim with this lab.
  qeltest::ProcResult Encsim(const std::vector<std::string> &args) const;

 private:
  qeltest::ScratchDir scratch_;
};

std::uint8_t XorFrom12(const std::vector<std::uint8_t> &image);

}  // namespace citest

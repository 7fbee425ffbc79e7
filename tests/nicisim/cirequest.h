// Test helpers: adapter request messages built by hand from the wire layout (independent of
// the transport), one exchange through the client library, and the lab in a scratch directory.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include "byteorder.h"
#include "testsupport.h"

namespace citest {

using Bytes = std::vector<std::uint8_t>;
// Byte strings at offsets: patched into a message or page, or expected in an answer.
using Spots = std::vector<std::pair<std::size_t, std::string>>;

Bytes SendMessage(const std::string &serial, const Bytes &page);
Bytes ReceiveMessage(const std::string &serial, std::uint8_t pageCode, std::uint32_t length);
// A StringOut page: function at 4, device at 8, data from 12 (parameter at 9), patched.
Bytes StringOut(std::uint8_t function, std::uint8_t device, std::size_t size, const Spots &patches = {});
void Patch(Bytes &bytes, const Spots &patches);
// n bytes at `at` as text, "" when they run past the end.
std::string Text(const Bytes &bytes, std::size_t at, std::size_t n);
void ExpectSpots(const Bytes &bytes, const Spots &expected);
inline std::uint8_t XorFrom12(const Bytes &image) {
  const auto from = image.begin() + std::min<std::ptrdiff_t>(12, std::ssize(image));
  return static_cast<std::uint8_t>(std::accumulate(from, image.end(), 0, std::bit_xor<>()));
}
inline bool Has(const std::string &text, const std::string &what) { return text.find(what) != std::string::npos; }

struct Answer {
  std::int32_t rc = -1;      // niCISendSyncRequest
  int error = 0;             // errno after a failed send
  std::int32_t status = -1;  // niCIBGetRequestStatus
  Bytes body;
  std::uint8_t directive() const { return body.at(48); }
  std::uint32_t resultWord() const { return qel::load_be32(&body.at(52)); }
  std::int16_t appResult() const { return static_cast<std::int16_t>(qel::load_be16(&body.at(54))); }
  // The data region of an answer to a request for length bytes.
  Bytes data(std::size_t length) const {
    const std::string text = Text(body, 204, length);
    return Bytes(text.begin(), text.end());
  }
};

// Sets the options as the protocol asks, sends, and fetches the answer; checks that the
// library wrote nothing past request length + extra in the response buffer.
Answer Exchange(Bytes message, std::int32_t extra = 0);
// The page as served (nothing after it in the answer); empty on any failure.
Bytes ReadPage(const std::string &serial, std::uint8_t pageCode, std::uint32_t length, std::int32_t extra = 0);

// NICISIM_STATE_DIR pointed at a fresh scratch directory for the life of the object.
class ScratchLab {
 public:
  explicit ScratchLab(const std::string &tag) : scratch_(tag) { setenv("NICISIM_STATE_DIR", dir().c_str(), 1); }
  ~ScratchLab() { unsetenv("NICISIM_STATE_DIR"); }
  const std::string &dir() const { return scratch_.path(); }
  std::vector<std::string> LogLines() const { return qeltest::ReadLines(dir() + "/nicisim.log"); }
  // Runs encsim on this lab, expecting the exit status given.
  qeltest::ProcResult Encsim(const std::vector<std::string> &args, int status = 0) const;

 private:
  qeltest::ScratchDir scratch_;
};

}  // namespace citest

// The simulated storage adapter: carries out one request message for an enclosure of the lab
// and writes the answer into the message, as the adapter's SCSI pass-through would.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "simlab.h"

namespace nicisim {

// What one connection remembers between commands: the StringIn answer each enclosure has
// prepared for the last StringOut request it got, and the short enclosure status each reports
// for the last page sent to it (the StringIn status of a refused StringOut page, so that a
// client that only writes, and reads the short status after, sees the refusal).
struct Session {
  std::map<std::string, std::vector<std::uint8_t>> pending;
  std::map<std::string, std::uint8_t> shortStatus;
};

// How the client library must report a request beyond the answer in the message.
struct RequestOutcome {
  int sendErrno = 0;              // nonzero: the send itself fails with this errno
  std::int32_t requestStatus = 0;  // niCIBGetRequestStatus
};

// Carries out the request in msg (the whole message, requestLength bytes) and leaves the
// answer in it. Never touches a byte outside msg.
RequestOutcome ServeRequest(const std::string &stateDir, Session &session, std::span<std::uint8_t> msg);

// The lab-wide open fault: 0 when the connection may open, else the failure code niCIOpen
// returns (an open fault consumes one of its count).
std::int32_t ServeOpen(const std::string &stateDir);

// The StringOut functions the enclosures understand, keyed by function code. A request with a
// code not listed gets a StringIn answer with status SI_UnsupportedFunction.
struct VendorRequest {
  Enclosure &enclosure;
  std::span<const std::uint8_t> page;  // the StringOut page as sent (at least the header)
  bool store;                          // false: accept a write but do not keep it
  bool dirty;                          // set by a handler that changed the enclosure
};
// Fills answer (which already holds the 12-byte StringIn header) and returns the status byte.
using VendorHandler = std::uint8_t (*)(VendorRequest &request, std::vector<std::uint8_t> &answer);
struct VendorFunction {
  std::uint8_t code;
  const char *name;
  std::size_t minSize;  // shorter pages are refused with SI_BadRequest
  VendorHandler handler;
};
std::span<const VendorFunction> VendorFunctions();

// Builds the StringIn answer an enclosure prepares for a StringOut page.
std::vector<std::uint8_t> AnswerStringOut(VendorRequest &request);

// Pages a RECEIVE DIAGNOSTIC RESULTS gets from an enclosure ("" error when not served).
bool ServePage(const Enclosure &enclosure, std::uint8_t pageCode, std::vector<std::uint8_t> &page);

}  // namespace nicisim

// A stand-in for the SES transport, for the harnesses of the page library and the utility: it
// answers every page read, string-page exchange and page write from the fuzz input.
//
// Each call takes one answer from the script:
//   byte  kind    bits 0-1: 0 success, else one of the transport's failure codes (bits 4-6 pick)
//                 bit 2: frame the answer as the right page (page code, and for a StringIn the
//                        function code and device byte of the request, status 0)
//                 bit 3: make the answer a VPD image that passes its length and checksum test
//   u16   length  then that many answer bytes (fewer when the input ends)
// A read that succeeds fills the caller's whole buffer, as the transport does: the answer
// bytes, then zeros. A failed call leaves the buffer alone. Once the script is used up every
// call fails, so the retry loops end quickly.
#pragma once

#include <cstdint>
#include <vector>

#include "fuzz_support.h"

namespace qelfuzz {

struct TransportScript {
  Reader *reader = nullptr;
  int calls = 0;
  // The last page each write sent (whole, as many bytes as the caller said).
  std::vector<std::uint8_t> lastWritten;
};

extern TransportScript transport;

}  // namespace qelfuzz

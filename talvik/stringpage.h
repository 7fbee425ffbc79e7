// The vendor string-page exchange shared by every StringOut/StringIn operation of the library:
// the request header, the poll-check-retry loop with its pauses, traces and dumps, and the exit
// trace. An operation describes itself with a TK_StringExchange (its name, pages, expected
// function code, device test, response title and the source lines its trace shows) and runs it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "talvik.h"

// Module name that prefixes the library's trace lines.
inline constexpr char kTalvikModule[] = "talvik";

// Attempts of one exchange and the pauses after a failed attempt, in microseconds.
constexpr int kStringPageAttempts = 10;
constexpr unsigned kPauseAfterTransportOrStatus = 25000;
constexpr unsigned kPauseAfterWrongPage = 50000;

// Title traced before every StringOut request dump.
inline constexpr char kStringOutTitle[] = "<--- StringOut Page to write --->\n";

// Source lines an exchange's trace points show. The wrong-page line is followed by its detail
// lines "PageCode", "FuncCode" and (for device-addressed operations) "Device" on the next lines.
struct TK_ExchangeLines {
  int requestTitle;
  int responseTitle;
  int status;
  int wrongPage;
  int transport;
  int exit;
};

// Whether the exchange dumps its pages as it goes. A quiet exchange writes neither the request
// dump nor the per-attempt response title and dump; it still traces each failed attempt.
enum class TK_ExchangeDumps { EveryPage, Quiet };

// One operation's use of the exchange. The request is built by the caller
// (TK_BuildStringOutHeader, then any data); the response is the caller's buffer.
struct TK_StringExchange {
  const char *name;                       // operation name in the failure and exit messages
  std::span<const std::uint8_t> request;  // whole request page, sent as is
  std::span<std::uint8_t> response;       // zeroed before each attempt, holds the last answer
  std::uint8_t function;                  // function code the answer must carry
  bool checkDevice;                       // the answer's device byte must equal device
  std::int32_t device;
  const char *responseTitle;              // traced before each response dump
  TK_ExchangeLines lines;
  TK_ExchangeDumps dumps = TK_ExchangeDumps::EveryPage;
};

// Zeroes the page and sets the vendor header: page code 4, page length, function code, and the
// low bytes of device and parameter.
void TK_BuildStringOutHeader(std::span<std::uint8_t> page, std::uint16_t pageLength,
                             std::uint8_t function, std::int32_t device, std::int32_t parameter);

// Dumps the request, then up to ten attempts of SES_ReadStringPage with the answer checks and
// pauses. Returns 0 when an answer was accepted, else the code of the last attempt (86 for a
// nonzero status or a wrong page, or the transport's code). Writes no entry or exit trace.
std::int32_t TK_StringPageExchange(const char *serial, const TK_StringExchange &exchange);

// Traces "<name>: Exit, rc = %d\n" at the exchange's exit line and returns rc.
std::int32_t TK_StringPageExit(const TK_StringExchange &exchange, std::int32_t rc);

// The whole exchange for operations with no data test: exchange, then exit trace.
std::int32_t TK_StringPageRead(const char *serial, const TK_StringExchange &exchange);

// qelses: the SES transport. Wraps SEND DIAGNOSTIC and RECEIVE DIAGNOSTIC RESULTS in requests
// to the storage adapter's command interface, opens the connection on first use and closes it
// at exit, reads and writes whole pages with a growing-pause retry, runs single string-page
// exchanges, and downloads enclosure firmware.
#pragma once

#include <cstdint>

// Result codes of the transport, passed up unchanged by the page library.
enum : std::int32_t {
  SES_OK = 0,
  SES_RC_ENCLOSURE_STATUS = 86,  // nonzero short enclosure / StringIn status, or wrong page
  SES_RC_OPEN_FAILED = 4097,     // niCIOpen failed
  SES_RC_STRING_PAGE = 4098,     // string-page exchange failed (or VPD image rejected)
  SES_RC_CI_FAILED = 4101,       // CI request failed: send, request status, directive, result
  SES_RC_BUSY = 4107,            // the adapter was busy (EBUSY)
  SES_RC_SERIAL_TOO_LONG = 4110, // serial number does not fit the request's 38-byte field
};

// Short Enclosure Status page, read after every page read and write: its page code.
constexpr std::uint8_t kShortEncStatusPage = 0x08;

// Function code of the firmware download's StringOut pages.
constexpr std::uint8_t kFwFunctionCode = 0x3C;

// Serial number field of a CI request: at most this many characters and the NUL.
constexpr unsigned kSesMaxSerialLength = 37;

// Pause step and total pause budget of the page retry loop, in microseconds.
extern const std::uint32_t SESRetryOne[2];

// Nonzero once niCIOpen has succeeded.
extern int isConnOpen;

// Exit handler: closes the CI connection if it was opened. main registers it first.
void SES_CloseCIConnection();

// Whole page write and read with retries and the short enclosure status check.
std::int32_t SES_WritePage(const char *serial, std::uint32_t length, const std::uint8_t *page);
std::int32_t SES_ReadPage(const char *serial, std::uint32_t pageCode, std::uint32_t length,
                          std::uint8_t *buffer);
// One StringOut / StringIn exchange, no retry; delay in milliseconds between send and fetch.
std::int32_t SES_ReadStringPage(const char *serial, std::uint32_t outLength,
                                const std::uint8_t *outPage, std::uint32_t inLength,
                                std::uint8_t *inBuffer, std::uint32_t delayMs);

// Firmware download: start page and data pages, then commit.
std::int32_t SES_DownloadFwTransfer(const char *serial, std::int32_t device,
                                    const std::uint8_t *image, std::uint32_t imageLength);
std::int32_t SES_DownloadFwCommit(const char *serial, std::int32_t device);

// Diagnostic read pages: error and POST logs, LESB counters, ALPA and connector maps, the LIP
// page, events, date and time, and the free-text debug command. Each is one string-page
// exchange whose raw answer is handed to the caller uninterpreted; the pages differ only in
// the request they send and the answer they expect, so each is a row of values.
#include <algorithm>
#include <array>
#include <cstring>
#include <span>

#include "qeldebug.h"
#include "qelses.h"
#include "stringpage.h"

namespace {
// Requests that are a bare header; the page length excludes the first four bytes.
constexpr std::size_t kHeaderRequestSize = kVendorHeaderSize;
constexpr std::uint16_t kHeaderRequestLength = kHeaderRequestSize - 4;
// The events request is sent with 32 zero data bytes, but its length field still says 8: that
// is the request the enclosure knows.
constexpr std::size_t kEventsRequestSize = 44;
constexpr std::uint16_t kEventsRequestLength = kHeaderRequestLength;
constexpr std::size_t kDateTimeRequestSize = 16;
constexpr std::uint16_t kDateTimeRequestLength = kDateTimeRequestSize - 4;
constexpr std::size_t kDebugRequestSize = kDebugPageSize;
constexpr std::uint16_t kDebugRequestLength = kDebugRequestSize - 4;
constexpr std::size_t kLargestReadRequest = kEventsRequestSize;

// The command text and its NUL fill the debug request's data area exactly at the limit.
static_assert(kVendorDataOffset + kDebugCommandMaxLength + 1 == kDebugRequestSize);

constexpr std::int32_t kNoParameter = 0;
constexpr std::int32_t kNoDevice = 0;

// One read page: what its request carries and what its answer must show.
struct DiagRead {
  const char *name;
  std::size_t requestSize;
  std::uint16_t pageLength;
  TalvikFunction function;
  std::int32_t parameter;
  std::size_t responseSize;
  bool checkDevice;
  const char *title;
  int line;  // source line its exchange traces show
};

constexpr DiagRead kErrLog{"TK_ReadErrLog", kHeaderRequestSize, kHeaderRequestLength,
                           TK_FN_READ_LOG, TK_LOG_ERROR, kErrLogPageSize, true,
                           "<--- Errlog Page read --->\n", __LINE__};
constexpr DiagRead kPostLog{"TK_ReadPostLogPage", kHeaderRequestSize, kHeaderRequestLength,
                            TK_FN_READ_LOG, TK_LOG_POST, kPostLogPageSize, true,
                            "<--- PostLog Page read --->\n", __LINE__};
constexpr DiagRead kLESB{"TK_ReadLESBPage", kHeaderRequestSize, kHeaderRequestLength,
                         TK_FN_READ_LESB, kNoParameter, kLESBPageSize, true,
                         "<--- LESB Page read --->\n", __LINE__};
constexpr DiagRead kALPAMap{"TK_ReadALPAMapPage", kHeaderRequestSize, kHeaderRequestLength,
                            TK_FN_READ_ALPA_MAP, kNoParameter, kALPAMapPageSize, true,
                            "<--- ALPA Map Page read --->\n", __LINE__};
constexpr DiagRead kConnMap{"TK_ReadConnectorMapPage", kHeaderRequestSize,
                            kHeaderRequestLength, TK_FN_READ_CONNECTOR_MAP, kNoParameter,
                            kConnectorMapPageSize, true, "<--- ConnMap Page read --->\n",
                            __LINE__};
constexpr DiagRead kLIP{"TK_ReadLIPPage", kHeaderRequestSize, kHeaderRequestLength,
                        TK_FN_READ_LIP, kNoParameter, kLIPPageSize, true,
                        "<--- LIP Page read --->\n", __LINE__};
constexpr DiagRead kEvents{"TK_ReadEventsPage", kEventsRequestSize, kEventsRequestLength,
                           TK_FN_EVENTS, kNoParameter, kEventsPageSize, false,
                           "<--- Events Page read --->\n", __LINE__};
constexpr DiagRead kDateTime{"TK_ReadDateTime", kDateTimeRequestSize, kDateTimeRequestLength,
                             TK_FN_DATE_TIME, kNoParameter, kDateTimePageSize, false,
                             "<--- DateTime Page read --->\n", __LINE__};

// Every trace point of a page's exchange shows its row's line; the wrong-page detail lines
// follow it.
constexpr TK_ExchangeLines LinesOf(int line) { return {line, line, line, line, line, line}; }

// device goes to the device byte, and is what the answer must echo where the page is
// device-addressed; for the events page it is the read sub-function.
std::int32_t RunRead(const char *serial, const DiagRead &r, std::int32_t device,
                     std::uint8_t *buffer) {
  std::array<std::uint8_t, kLargestReadRequest> storage{};
  const auto request = std::span(storage).first(r.requestSize);
  TK_BuildStringOutHeader(request, r.pageLength, r.function, device, r.parameter);
  const TK_StringExchange x{r.name,          request,  std::span(buffer, r.responseSize),
                            r.function,      r.checkDevice, device,
                            r.title,         LinesOf(r.line)};
  return TK_StringPageRead(serial, x);
}
}  // namespace

std::int32_t TK_ReadErrLog(const char *serial, std::int32_t device, std::uint8_t *buffer) {
  QEL_Trace(kTalvikModule, __LINE__, "TK_ReadErrLog: Enclosure SN = %s, Device = %d\n", serial,
            device);
  return RunRead(serial, kErrLog, device, buffer);
}

std::int32_t TK_ReadPostLogPage(const char *serial, std::int32_t device, std::uint8_t *buffer) {
  // The entry line names the POST log by its short name; the other lines use the full one.
  QEL_Trace(kTalvikModule, __LINE__, "TK_ReadPostLog: Enclosure SN = %s, Device = %d,\n", serial,
            device);
  return RunRead(serial, kPostLog, device, buffer);
}

std::int32_t TK_ReadLESBPage(const char *serial, std::int32_t device, std::uint8_t *buffer) {
  QEL_Trace(kTalvikModule, __LINE__, "TK_ReadLESBPage: Enclosure SN = %s, Device = %d\n", serial,
            device);
  return RunRead(serial, kLESB, device, buffer);
}

std::int32_t TK_ReadALPAMapPage(const char *serial, std::int32_t device, std::uint8_t *buffer) {
  QEL_Trace(kTalvikModule, __LINE__, "TK_ReadALPAMapPage: Enclosure SN = %s, Device = %d\n",
            serial, device);
  return RunRead(serial, kALPAMap, device, buffer);
}

std::int32_t TK_ReadConnectorMapPage(const char *serial, std::int32_t device,
                                     std::uint8_t *buffer) {
  QEL_Trace(kTalvikModule, __LINE__, "TK_ReadConnectorMapPage: Enclosure SN = %s, Device = %d\n",
            serial, device);
  return RunRead(serial, kConnMap, device, buffer);
}

std::int32_t TK_ReadLIPPage(const char *serial, std::int32_t device, std::uint8_t *buffer) {
  QEL_Trace(kTalvikModule, __LINE__, "TK_ReadLIPPage: Enclosure SN = %s, Device = %d\n", serial,
            device);
  return RunRead(serial, kLIP, device, buffer);
}

std::int32_t TK_ReadEventsPage(const char *serial, std::uint8_t *buffer) {
  QEL_Trace(kTalvikModule, __LINE__, "TK_ReadEventsPage: Enclosure SN = %s\n", serial);
  return RunRead(serial, kEvents, TK_EVENT_READ, buffer);
}

std::int32_t TK_ReadDateTime(const char *serial, std::uint8_t *buffer) {
  QEL_Trace(kTalvikModule, __LINE__, "TK_ReadDateTime: Enclosure SN = %s\n", serial);
  return RunRead(serial, kDateTime, kNoDevice, buffer);
}

// Runs quietly so that a working debug session leaves no trace of its own; the request and the
// last answer are traced only when every attempt failed.
std::int32_t TK_DebugCommand(const char *serial, const char *command, std::uint8_t *buffer) {
  const std::span answer(buffer, kDebugPageSize);
  // An over-long command is refused rather than cut short: a truncated command is a different
  // command, and the enclosure would run it. The length is measured only up to one past the
  // limit, and nothing is sent.
  const std::size_t textLength = strnlen(command, kDebugCommandMaxLength + 1);
  if (textLength > kDebugCommandMaxLength) {
    std::fill(answer.begin(), answer.end(), std::uint8_t{0});
    QEL_Trace(kTalvikModule, __LINE__,
              "TK_DebugCommand: command longer than %u characters refused\n",
              static_cast<unsigned>(kDebugCommandMaxLength));
    QEL_Trace(kTalvikModule, __LINE__, "TK_DebugCommand: Exit, rc = %d\n", TK_RC_COMMAND_TOO_LONG);
    return TK_RC_COMMAND_TOO_LONG;
  }

  std::array<std::uint8_t, kDebugRequestSize> request{};
  TK_BuildStringOutHeader(request, kDebugRequestLength, TK_FN_DEBUG_COMMAND, kNoDevice,
                          kNoParameter);
  // The text with its NUL; the bytes after it stay zero.
  std::copy_n(command, textLength + 1, request.begin() + kVendorDataOffset);

  const TK_StringExchange x{"TK_DebugCommand", request, answer, TK_FN_DEBUG_COMMAND, false,
                            kNoDevice, "", LinesOf(__LINE__), TK_ExchangeDumps::Quiet};
  const std::int32_t rc = TK_StringPageExchange(serial, x);
  if (rc == SES_OK) return rc;

  QEL_Trace(kTalvikModule, __LINE__, "<--- StringOut Page written --->\n");
  OutputData(request.data(), static_cast<std::uint32_t>(request.size()), 1);
  QEL_Trace(kTalvikModule, __LINE__, "<--- Debug Page read --->\n");
  OutputData(answer.data(), static_cast<std::uint32_t>(answer.size()), 1);
  return TK_StringPageExit(x, rc);
}

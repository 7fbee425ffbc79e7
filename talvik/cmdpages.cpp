// Command pages: controller reset, statesave management, LESB reset, LIP write, event
// registration and clearing, and setting the date and time. Each builds one StringOut page,
// dumps it and sends it with SES_WritePage; no answer page is read, and the transport does the
// retrying.
#include <algorithm>
#include <array>
#include <span>

#include "byteorder.h"
#include "qeldebug.h"
#include "qelses.h"
#include "stringpage.h"

namespace {
// The page length of every command page excludes its first four bytes.
constexpr std::size_t kPageLengthExcluded = 4;
constexpr std::size_t kHeaderPageSize = kVendorHeaderSize;
constexpr std::size_t kLIPPageSizeSent = kVendorDataOffset + kLIPWordCount * sizeof(std::uint32_t);
constexpr std::size_t kEventsPageSizeSent = 44;
constexpr std::size_t kDateTimePageSizeSent = 16;

// Date and time page: year in the device byte, month in the parameter byte, then the rest.
constexpr std::size_t kDayOffset = 10;
constexpr std::size_t kHourOffset = 11;
constexpr std::size_t kMinuteOffset = 12;
constexpr std::size_t kSecondOffset = 13;

// Event commands address every event: the whole mask after the header is set.
constexpr std::uint8_t kAllEvents = 0xFF;

constexpr std::int32_t kNoParameter = 0;

template <std::size_t N>
using Page = std::array<std::uint8_t, N>;

template <std::size_t N>
void BuildHeader(Page<N> &page, TalvikFunction function, std::int32_t device,
                 std::int32_t parameter) {
  TK_BuildStringOutHeader(page, static_cast<std::uint16_t>(N - kPageLengthExcluded), function,
                          device, parameter);
}

// Dumps the page, sends all of it and traces "<exitName>: Exit, rc = %d\n".
std::int32_t SendPage(const char *serial, std::span<const std::uint8_t> page,
                      const char *exitName) {
  QEL_Trace(kTalvikModule, __LINE__, "%s", kStringOutTitle);
  const auto size = static_cast<std::uint32_t>(page.size());
  OutputData(page.data(), size, 1);
  const std::int32_t rc = SES_WritePage(serial, size, page.data());
  QEL_Trace(kTalvikModule, __LINE__, "%s: Exit, rc = %d\n", exitName, rc);
  return rc;
}

std::int32_t SendEventsPage(const char *serial, TalvikEventFunction sub, const char *name) {
  Page<kEventsPageSizeSent> page{};
  BuildHeader(page, TK_FN_EVENTS, sub, kNoParameter);
  std::fill(page.begin() + kVendorDataOffset, page.end(), kAllEvents);
  return SendPage(serial, page, name);
}
}  // namespace

std::int32_t TK_ControllerReset(const char *serial, std::int32_t device) {
  QEL_Trace(kTalvikModule, __LINE__, "TK_ControllerReset: Enclosure SN = %s, Device = %d\n",
            serial, device);
  Page<kHeaderPageSize> page{};
  BuildHeader(page, TK_FN_CONTROLLER_RESET, device, kNoParameter);
  return SendPage(serial, page, "TK_ControllerReset");
}

// Writes no entry line, and traces its exit under the name JQ9_ForceStatesave.
std::int32_t TK_StatesaveMgmt(const char *serial, std::int32_t device, std::int32_t action) {
  Page<kHeaderPageSize> page{};
  BuildHeader(page, TK_FN_STATESAVE, device, action);
  return SendPage(serial, page, "JQ9_ForceStatesave");
}

std::int32_t TK_ResetLESBPage(const char *serial, std::int32_t device, std::int32_t port) {
  QEL_Trace(kTalvikModule, __LINE__,
            "TK_ResetLESBPage: Enclosure SN = %s, Device = %d, Port = %d\n", serial, device, port);
  Page<kHeaderPageSize> page{};
  BuildHeader(page, TK_FN_RESET_LESB, device, port);
  return SendPage(serial, page, "TK_ResetLESBPage");
}

std::int32_t TK_WriteLIPPage(const char *serial, std::int32_t device, std::int32_t port,
                             const std::uint32_t *words) {
  // The port is for the trace only; the page addresses the device.
  QEL_Trace(kTalvikModule, __LINE__,
            "TK_WriteLIPPage: Enclosure SN = %s, Device = %d, Port = %d\n", serial, device, port);
  Page<kLIPPageSizeSent> page{};
  BuildHeader(page, TK_FN_WRITE_LIP, device, kNoParameter);
  std::size_t offset = kVendorDataOffset;
  for (const std::uint32_t word : std::span(words, kLIPWordCount)) {
    qel::store_be32(page, offset, word);
    offset += sizeof word;
  }
  return SendPage(serial, page, "TK_WriteLIPPage");
}

std::int32_t TK_RegForEventReporting(const char *serial) {
  QEL_Trace(kTalvikModule, __LINE__, "TK_RegForEventReporting: Enclosure SN = %s\n", serial);
  return SendEventsPage(serial, TK_EVENT_REGISTER, "TK_RegForEventReporting");
}

std::int32_t TK_ClearEvents(const char *serial) {
  QEL_Trace(kTalvikModule, __LINE__, "TK_ClearEvents: Enclosure SN = %s\n", serial);
  return SendEventsPage(serial, TK_EVENT_CLEAR, "TK_ClearEvents");
}

std::int32_t TK_SetDateTime(const char *serial, std::int32_t year, std::int32_t month,
                            std::int32_t day, std::int32_t hour, std::int32_t minute,
                            std::int32_t second) {
  // Three trace calls, the first two without a line end, so the trace shows one line with
  // three prefixes. The date reads month/day/year although the page holds the year first.
  QEL_Trace(kTalvikModule, __LINE__, "TK_SetDateTime: Enclosure SN = %s ", serial);
  QEL_Trace(kTalvikModule, __LINE__, "Date (mm/dd/yy) = %d/%d/%d ", month, day, year);
  QEL_Trace(kTalvikModule, __LINE__, "Time (hh:mm:ss) = %d:%d:%d\n", hour, minute, second);
  // Each value is stored as its low byte: no range check, no BCD.
  Page<kDateTimePageSizeSent> page{};
  BuildHeader(page, TK_FN_DATE_TIME, year, month);
  page[kDayOffset] = static_cast<std::uint8_t>(day);
  page[kHourOffset] = static_cast<std::uint8_t>(hour);
  page[kMinuteOffset] = static_cast<std::uint8_t>(minute);
  page[kSecondOffset] = static_cast<std::uint8_t>(second);
  return SendPage(serial, page, "TK_SetDateTime");
}

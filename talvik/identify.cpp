// Enclosure identification: is the enclosure an IRC, and which firmware levels does its
// configuration page report.
#include <array>
#include <cstdlib>
#include <cstring>

#include "qeldebug.h"
#include "qelses.h"
#include "stringpage.h"

namespace {
constexpr int kIrcTypeCount = static_cast<int>(kIrcTypeCodes.size());

enum FwRecord : std::uint32_t { kFirstRecord = 1, kSecondRecord = 2 };

constexpr int kLineIrcEntry = 2520;
constexpr int kLineIrcTitle = 2529;
constexpr int kLineFwEntry = 2446;
constexpr int kLineFwTitle = 2455;
constexpr int kLineFwExit = 2457;
constexpr int kLineFwLevel = 2475;

inline constexpr char kConfigTitle[] = "<--- Config Page read --->\n";

using ConfigPage = std::array<std::uint8_t, kConfigPageSize>;

std::size_t RecordOffset(FwRecord record) {
  return kFirstFwRecordOffset + (record - kFirstRecord) * kFwRecordStride;
}

// The record's four level digits as text, converted the way atoi does (blanks and a sign
// accepted, stops at the first non-digit, nothing numeric gives 0).
int FwLevel(const ConfigPage &page, FwRecord record) {
  std::array<char, kFwLevelDigits + 1> text{};
  std::memcpy(text.data(), page.data() + RecordOffset(record), kFwLevelDigits);
  return std::atoi(text.data());
}

bool IrcTypeCode(const ConfigPage &page, FwRecord record) {
  const char *type = reinterpret_cast<const char *>(page.data() + RecordOffset(record) +
                                                    kFwTypeCodeInRecord);
  return StrInSet(type, kIrcTypeCodes.data(), kIrcTypeCount) == 1;
}

bool FieldIs(const ConfigPage &page, std::size_t offset, const char *text) {
  return std::memcmp(page.data() + offset, text, std::strlen(text)) == 0;
}

std::int32_t ReadConfig(const char *serial, ConfigPage &page, int lineTitle) {
  page.fill(0);
  const std::int32_t rc = SES_ReadPage(serial, kConfigPageCode, kConfigPageSize, page.data());
  QEL_Trace(kTalvikModule, lineTitle, "%s", kConfigTitle);
  OutputData(page.data(), kConfigPageSize, 1);
  return rc;
}
}  // namespace

int StrInSet(const char *text, const char *const *set, std::int32_t count) {
  for (std::int32_t i = 0; i < count; ++i) {
    if (std::strncmp(text, set[i], std::strlen(set[i])) == 0) return 1;
  }
  return 0;
}

std::int32_t TK_IsEnclosureIRC(const char *serial, std::uint32_t *isIRC) {
  QEL_Trace(kTalvikModule, kLineIrcEntry, "TK_IsEnclosureIRC: SN=%s\n", serial);
  ConfigPage page{};
  const std::int32_t rc = ReadConfig(serial, page, kLineIrcTitle);
  if (rc != SES_OK) {
    *isIRC = 0;
    return rc;
  }
  const int levelA = FwLevel(page, kFirstRecord);
  const int levelB = FwLevel(page, kSecondRecord);
  const bool recentA = levelA > kTypeCodeLevelThreshold;
  const bool recentB = levelB > kTypeCodeLevelThreshold;
  bool irc = (recentA && IrcTypeCode(page, kFirstRecord)) ||
             (recentB && IrcTypeCode(page, kSecondRecord));
  // Older firmware does not report a usable type code; the product identification decides.
  if (!recentA && !recentB) {
    irc = FieldIs(page, kProductIdOffset, kIrcProductId) &&
          FieldIs(page, kProductIdTailOffset, kIrcProductIdTail);
  }
  *isIRC = irc ? 1 : 0;
  return SES_OK;
}

std::uint32_t TK_GetFWLevel(const char *serial, std::uint32_t record) {
  QEL_Trace(kTalvikModule, kLineFwEntry, "TK_GetFWLevel: Enclosure SN = %s\n", serial);
  ConfigPage page{};
  const std::int32_t rc = ReadConfig(serial, page, kLineFwTitle);
  QEL_Trace(kTalvikModule, kLineFwExit, "TK_GetFWLevel: Exit, rc = %d\n", rc);
  int level = 0;
  if (rc == SES_OK && (record == kFirstRecord || record == kSecondRecord)) {
    level = FwLevel(page, static_cast<FwRecord>(record));
  }
  QEL_Trace(kTalvikModule, kLineFwLevel, "TK_GetFWLevel: FWLevel = %04d\n", level);
  return static_cast<std::uint32_t>(level);
}

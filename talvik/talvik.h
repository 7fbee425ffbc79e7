// talvik: typed operations on an enclosure's SES pages: the vendor StringOut/StringIn page
// header and string-page exchange, VPD images, the standard configuration, status and control
// pages with the element-control initialisers, the IRC test, and the page dump.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "qelses.h"

// ---- Vendor page header (StringOut request / StringIn response, SES page 4) ---------------
constexpr std::uint8_t kStringPageCode = 4;
constexpr std::size_t kVendorPageCodeOffset = 0;
constexpr std::size_t kVendorPageLengthOffset = 2;  // u16, big-endian
constexpr std::size_t kVendorFunctionOffset = 4;
constexpr std::size_t kVendorStatusOffset = 5;
constexpr std::size_t kVendorDeviceOffset = 8;
constexpr std::size_t kVendorParameterOffset = 9;
constexpr std::size_t kVendorDataOffset = 12;
constexpr std::size_t kVendorHeaderSize = 12;

// Function codes of the vendor requests.
enum TalvikFunction : std::uint8_t {
  TK_FN_READ_VPD = 0x69,
  TK_FN_WRITE_VPD = 0x5A,
  TK_FN_CONTROLLER_RESET = 0x2D,
  TK_FN_READ_CNTRL_MEM = 0x4B,
  TK_FN_READ_LOG = 0x92,
  TK_FN_STATESAVE = 0x99,
  TK_FN_READ_LESB = 0xB0,
  TK_FN_RESET_LESB = 0xB1,
  TK_FN_READ_ALPA_MAP = 0xB2,
  TK_FN_READ_CONNECTOR_MAP = 0xB4,
  TK_FN_READ_LIP = 0xB8,
  TK_FN_WRITE_LIP = 0xB9,
  TK_FN_EVENTS = 0xC0,
  TK_FN_DATE_TIME = 0xD0,
  TK_FN_DEBUG_COMMAND = 0xFF,
};

// ---- VPD images -----------------------------------------------------------------------------
constexpr std::int32_t kRdpVpdDevice = 16;
constexpr std::size_t kRdpVpdImageSize = 512;
constexpr std::size_t kIcVpdImageSize = 268;
constexpr std::size_t kVpdLengthOffset = 12;        // u16, big-endian
constexpr std::size_t kVpdRecordOffset = 12;        // record = length field .. checksum byte
constexpr std::size_t kRdpVpdRecordSize = 500;
constexpr std::size_t kIcVpdRecordSize = 256;
constexpr std::uint16_t kRdpVpdLength = 497;        // bytes between length field and checksum
constexpr std::uint16_t kIcVpdLength = 253;
constexpr std::size_t kRdpVpdChecksumOffset = 511;
constexpr std::size_t kIcVpdChecksumOffset = 267;

std::int32_t TK_ReadRDPVpd(const char *serial, std::uint8_t *image /* 512 bytes */);
std::int32_t TK_ReadICVpd(const char *serial, std::int32_t device, std::uint8_t *image /* 268 */);
std::int32_t TK_WriteVpd(const char *serial, std::int32_t device, std::int32_t parameter,
                         const std::uint8_t *record /* 500 bytes */);
std::int32_t TK_VerifyRDPVpd(const std::uint8_t *image /* 512 bytes */);
std::int32_t TK_VerifyICVpd(const std::uint8_t *image /* 268 bytes */);

// ---- Standard SES pages -----------------------------------------------------------------------
constexpr std::size_t kPageCodeOffset = 0;
constexpr std::size_t kPageLengthOffset = 2;        // u16, big-endian
constexpr std::uint32_t kConfigPageCode = 1;
constexpr std::uint32_t kConfigPageSize = 296;
constexpr std::uint32_t kStatusPageCode = 2;
constexpr std::uint32_t kStatusPageSize = 224;  // enclosure status and control pages
constexpr std::size_t kElementSize = 4;

std::int32_t TK_ReadConfigPage(const char *serial, std::uint8_t *buffer /* >= 296 */);
std::int32_t TK_ReadStatusPage(const char *serial, std::uint8_t *buffer /* >= 224 */);
std::int32_t TK_WriteControlPage(const char *serial, const std::uint8_t *page /* 224 */);

// Element-control initialisers: set bits of a 4-byte control element from its status element.
void TK_InitDevCtl(std::uint8_t *control, const std::uint8_t *status);
void TK_InitEncServCtl(std::uint8_t *control, const std::uint8_t *status);
void TK_InitSCSIPortCtl(std::uint8_t *control, const std::uint8_t *status);
void TK_InitPowrSuppCtl(std::uint8_t *control, const std::uint8_t *status);
void TK_InitCoolCtl(std::uint8_t *control, const std::uint8_t *status);
void TK_InitDispCtl(std::uint8_t *control, const std::uint8_t *status);

// ---- Enclosure identification ------------------------------------------------------------------
// Fields of the configuration page the IRC test reads (offsets from the start of the page).
constexpr std::size_t kProductIdOffset = 28;         // first four characters of the product id
constexpr std::size_t kProductIdTailOffset = 34;     // its seventh and eighth characters
constexpr std::size_t kFirstFwRecordOffset = 68;
constexpr std::size_t kFwRecordStride = 32;
constexpr std::size_t kFwTypeCodeInRecord = 22;      // type code, after the level
constexpr std::size_t kFwLevelDigits = 4;

inline constexpr char kIrcProductId[] = "5284";
inline constexpr char kIrcProductIdTail[] = "11";

// Firmware type codes that make an enclosure with a recent enough firmware an IRC.
constexpr std::array<const char *, 5> kIrcTypeCodes{"0008", "000C", "0009", "000D", "000A"};

// Type codes are consulted only for firmware levels above this one.
constexpr int kTypeCodeLevelThreshold = 299;

// Sets *isIRC to 1 or 0 (always); returns 0 or the page read's code.
std::int32_t TK_IsEnclosureIRC(const char *serial, std::uint32_t *isIRC);
// 1 when text begins with one of the count entries, else 0.
int StrInSet(const char *text, const char *const *set, std::int32_t count);
// Firmware level of record 1 or 2 of the configuration page; 0 on failure or other selector.
std::uint32_t TK_GetFWLevel(const char *serial, std::uint32_t record);

// ---- Page dump -----------------------------------------------------------------------------------
// Hex and character dump of size bytes: to the trace when toTrace is nonzero, else stdout.
int OutputData(const std::uint8_t *data, std::uint32_t size, int toTrace);

// =================================================================================================
// Further vendor operations for other callers: controller memory read, diagnostic read pages and
// command pages. Nothing in qelses_pcm calls them.
// =================================================================================================

// Result of TK_DebugCommand when the command text does not fit its request page; nothing is sent.
constexpr std::int32_t TK_RC_COMMAND_TOO_LONG = 4111;

// ---- Controller memory read --------------------------------------------------------------------
// Every answer carries one chunk; the destination needs room for the length rounded up to it.
constexpr std::uint32_t kCntrlMemChunkSize = 256;

// Copies length bytes of the device's controller memory from address into destination, chunk by
// chunk. Each chunk gets 10 attempts; the read also gives up at a chunk start once more than 20
// attempts have failed over the whole call. Returns 0, 86 or the transport's code.
std::int32_t TK_ReadCntrlMem(const char *serial, std::int32_t device, std::uint32_t address,
                             std::uint32_t length, std::uint8_t *destination);

// ---- Diagnostic read pages ---------------------------------------------------------------------
// Each read runs one string-page exchange and leaves the raw answer of its last attempt in the
// caller's buffer, which must hold the page size below.
constexpr std::size_t kErrLogPageSize = 496;
constexpr std::size_t kPostLogPageSize = 266;
constexpr std::size_t kLESBPageSize = 252;
constexpr std::size_t kALPAMapPageSize = 36;
constexpr std::size_t kConnectorMapPageSize = 28;
constexpr std::size_t kLIPPageSize = 172;
constexpr std::size_t kEventsPageSize = 44;
constexpr std::size_t kDateTimePageSize = 16;
constexpr std::size_t kDebugPageSize = 204;
// Longest debug command text: the request's data area holds it and its NUL.
constexpr std::size_t kDebugCommandMaxLength = 191;

// Parameter byte of the log read (function code TK_FN_READ_LOG): which log.
enum TalvikLog : std::uint8_t { TK_LOG_POST = 1, TK_LOG_ERROR = 2 };

// Device byte of the event function (TK_FN_EVENTS): a sub-function, not a device.
enum TalvikEventFunction : std::uint8_t {
  TK_EVENT_REGISTER = 2,
  TK_EVENT_CLEAR = 3,
  TK_EVENT_READ = 0x82,
};

std::int32_t TK_ReadErrLog(const char *serial, std::int32_t device, std::uint8_t *buffer);
std::int32_t TK_ReadPostLogPage(const char *serial, std::int32_t device, std::uint8_t *buffer);
std::int32_t TK_ReadLESBPage(const char *serial, std::int32_t device, std::uint8_t *buffer);
std::int32_t TK_ReadALPAMapPage(const char *serial, std::int32_t device, std::uint8_t *buffer);
std::int32_t TK_ReadConnectorMapPage(const char *serial, std::int32_t device, std::uint8_t *buffer);
std::int32_t TK_ReadLIPPage(const char *serial, std::int32_t device, std::uint8_t *buffer);
std::int32_t TK_ReadEventsPage(const char *serial, std::uint8_t *buffer);
std::int32_t TK_ReadDateTime(const char *serial, std::uint8_t *buffer);
// Sends a free-text command and reads its answer page. Traces only when every attempt failed.
// A text longer than kDebugCommandMaxLength is refused with TK_RC_COMMAND_TOO_LONG.
std::int32_t TK_DebugCommand(const char *serial, const char *command, std::uint8_t *buffer);

// ---- Command pages -----------------------------------------------------------------------------
// Each builds one StringOut page and sends it with SES_WritePage; the result is the transport's.
constexpr std::size_t kLIPWordCount = 3;

std::int32_t TK_ControllerReset(const char *serial, std::int32_t device);
std::int32_t TK_StatesaveMgmt(const char *serial, std::int32_t device, std::int32_t action);
std::int32_t TK_ResetLESBPage(const char *serial, std::int32_t device, std::int32_t port);
// words: kLIPWordCount words, sent big-endian. The port shows in the trace only.
std::int32_t TK_WriteLIPPage(const char *serial, std::int32_t device, std::int32_t port,
                             const std::uint32_t *words);
std::int32_t TK_RegForEventReporting(const char *serial);
std::int32_t TK_ClearEvents(const char *serial);
// Each value goes out as its low byte, year first; no range check, no BCD.
std::int32_t TK_SetDateTime(const char *serial, std::int32_t year, std::int32_t month,
                            std::int32_t day, std::int32_t hour, std::int32_t minute,
                            std::int32_t second);

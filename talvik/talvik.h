// talvik: typed operations on an enclosure's SES pages: the vendor StringOut/StringIn page
// header and string-page exchange, VPD images, the standard configuration, status and control
// pages with the element-control initialisers, the IRC test, and the page dump.
#pragma once

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
// Sets *isIRC to 1 or 0 (always); returns 0 or the page read's code.
std::int32_t TK_IsEnclosureIRC(const char *serial, std::uint32_t *isIRC);
// 1 when text begins with one of the count entries, else 0.
int StrInSet(const char *text, const char *const *set, std::int32_t count);
// Firmware level of record 1 or 2 of the configuration page; 0 on failure or other selector.
std::uint32_t TK_GetFWLevel(const char *serial, std::uint32_t record);

// ---- Page dump -----------------------------------------------------------------------------------
// Hex and character dump of size bytes: to the trace when toTrace is nonzero, else stdout.
int OutputData(const std::uint8_t *data, std::uint32_t size, int toTrace);

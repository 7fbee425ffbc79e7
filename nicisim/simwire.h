// Wire layouts the simulated adapter decodes and answers: the adapter's request message for a
// SCSI pass-through (function 59), its region descriptors and command block, the SCSI CDBs of
// SEND DIAGNOSTIC / RECEIVE DIAGNOSTIC RESULTS, the SES pages an enclosure serves and the
// vendor StringOut/StringIn header. All multi-byte fields are big-endian on the wire.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nicisim {

// ---- Adapter request message ---------------------------------------------------------------
constexpr std::size_t kMsgHeaderOffset = 0;          // u16, 2
constexpr std::uint16_t kMsgHeaderWord = 2;
constexpr std::size_t kMsgTotalLengthOffset = 4;     // u32, whole message length
constexpr std::size_t kMsgSerialOffset = 10;         // 38 bytes, NUL-terminated
constexpr std::size_t kMsgSerialSize = 38;
constexpr std::size_t kMsgDirectiveStatusOffset = 48;  // s8, set in the answer
constexpr std::size_t kMsgResultWordOffset = 52;       // u32, set in the answer
constexpr std::size_t kMsgNetworkResultOffset = 53;    // u8 inside the result word
constexpr std::size_t kMsgAppResultOffset = 54;        // s16 inside the result word
constexpr std::size_t kMsgCommandRegionOffset = 56;
constexpr std::size_t kMsgDataOutRegionOffset = 80;
constexpr std::size_t kMsgDataInRegionOffset = 104;
constexpr std::size_t kMsgStatusRegionOffset = 128;
constexpr std::size_t kMsgFunctionOffset = 152;      // u16, 59
constexpr std::uint16_t kMsgFunctionScsi = 59;       // FN_ISAL_SCSI
constexpr std::size_t kMsgFunctionQualOffset = 154;  // u16, 2
constexpr std::uint16_t kMsgFunctionQual = 2;
constexpr std::size_t kMsgCommandAddressOffset = 176;  // sender's address of byte 184
constexpr std::size_t kMsgCommandBlockOffset = 184;
constexpr std::size_t kMsgCommandCountOffset = 190;  // u16, 1
constexpr std::uint16_t kMsgCommandCount = 1;
constexpr std::size_t kMsgCdbOffset = 192;
constexpr std::size_t kMsgCdbSize = 6;
constexpr std::size_t kMsgDataOffset = 204;
constexpr std::size_t kMsgCommandBlockSize = 20;
constexpr std::size_t kMsgStatusRegionSize = 36;
constexpr std::size_t kMsgFixedSize = 240;  // message without its data region
constexpr std::size_t kMsgAlignment = 4;

// Region descriptor, 24 bytes.
constexpr std::size_t kRegionSize = 24;
constexpr std::size_t kRegionTypeOffset = 0;
constexpr std::size_t kRegionStartOffset = 16;   // u32, from the command block
constexpr std::size_t kRegionLengthOffset = 20;  // u32
constexpr std::uint8_t kRegionPresent = 8;
constexpr std::uint8_t kRegionAbsent = 1;

// CDB bytes.
constexpr std::size_t kCdbOpcode = 0;
constexpr std::size_t kCdbFlags = 1;
constexpr std::size_t kCdbPageCode = 2;
constexpr std::size_t kCdbLength = 3;  // u16
constexpr std::size_t kCdbControl = 5;
constexpr std::uint8_t kOpSendDiagnostic = 0x1D;
constexpr std::uint8_t kOpReceiveDiagnostic = 0x1C;
constexpr std::uint8_t kSendDiagPf = 0x10;
constexpr std::uint8_t kReceiveDiagPcv = 0x01;

// Directive status codes the adapter puts into byte 48 of a refused message.
enum DirectiveStatus : std::uint8_t {
  DE_Failure = 253,
  DE_InvalidDirective = 251,
  DE_BadParameter = 244,
  DE_DataOverrun = 243,
  DE_InvalidDescriptorType = 241,
};

// Application results (signed 16-bit at byte 54) of an answer with a nonzero result word.
enum AppResult : std::int16_t {
  AE_Failure = -2,
  AE_IllegalRequest = -8,
  AE_IllReqNotSupported = -89,
  AE_IllReqBadPageCode = -87,
  AE_IllReqBadLength = -82,
  AE_BadSerialNumber = -500,
};

// ---- SES pages ------------------------------------------------------------------------------
constexpr std::uint8_t kPageSupported = 0x00;
constexpr std::uint8_t kPageConfig = 0x01;
constexpr std::uint8_t kPageStatus = 0x02;  // status when read, control when sent
constexpr std::uint8_t kPageString = 0x04;
constexpr std::uint8_t kPageShortStatus = 0x08;

constexpr std::size_t kPageCodeOffset = 0;
constexpr std::size_t kPageLengthOffset = 2;  // u16: bytes after the first four
constexpr std::size_t kPageHeaderSize = 4;
constexpr std::size_t kShortStatusOffset = 1;
constexpr std::size_t kShortStatusPageSize = 4;

// Configuration page.
constexpr std::size_t kCfgGenerationOffset = 4;
constexpr std::size_t kCfgEnclosureDescOffset = 8;
constexpr std::size_t kCfgDescTypeCountOffset = 10;  // number of type descriptor headers
constexpr std::size_t kCfgDescLengthOffset = 11;     // descriptor length minus 4
constexpr std::size_t kCfgLogicalIdOffset = 12;
constexpr std::size_t kCfgLogicalIdSize = 8;
constexpr std::size_t kCfgVendorOffset = 20;
constexpr std::size_t kCfgVendorSize = 8;
constexpr std::size_t kCfgProductOffset = 28;
constexpr std::size_t kCfgProductSize = 16;
constexpr std::size_t kCfgRevisionOffset = 44;
constexpr std::size_t kCfgRevisionSize = 4;
constexpr std::size_t kCfgFirmware1Offset = 68;  // firmware record: level, type 22 bytes on
constexpr std::size_t kCfgFirmware2Offset = 100;
constexpr std::size_t kCfgFirmwareRecordSize = 32;
constexpr std::size_t kCfgFirmwareLevelSize = 4;
constexpr std::size_t kCfgFirmwareTypeOffset = 22;
constexpr std::size_t kCfgFirmwareTypeSize = 4;
constexpr std::size_t kCfgTypeHeadersOffset = 132;  // enclosure descriptor ends at 131
constexpr std::size_t kCfgTypeHeaderSize = 4;
constexpr std::size_t kTypeHdrElementType = 0;
constexpr std::size_t kTypeHdrCount = 1;
constexpr std::size_t kTypeHdrSubenclosure = 2;
constexpr std::size_t kTypeHdrTextLength = 3;
constexpr std::size_t kConfigReadSize = 296;  // what the page library asks for

// Enclosure status / control page.
constexpr std::size_t kStatusPageSize = 224;
constexpr std::uint16_t kStatusPageLength = 220;
constexpr std::size_t kStatusGenerationOffset = 4;
constexpr std::size_t kStatusElementsOffset = 8;
constexpr std::size_t kElementSize = 4;
constexpr std::size_t kStatusSlots = (kStatusPageSize - kStatusElementsOffset) / kElementSize;
constexpr std::size_t kPowerSupply1Offset = 184;
constexpr std::size_t kPowerSupply2Offset = 188;
constexpr std::uint8_t kElementSelect = 0x80;   // control byte 0
constexpr std::uint8_t kPsuModeMask = 0x07;     // byte 1 bits 2..0
constexpr std::size_t kPsuModeByte = 1;
constexpr std::uint8_t kElementStatusOk = 0x01;

// SES element type codes used by the simulated enclosures.
enum ElementType : std::uint8_t {
  ET_DeviceSlot = 0x01,
  ET_PowerSupply = 0x02,
  ET_Cooling = 0x03,
  ET_TempSensor = 0x04,
  ET_AudibleAlarm = 0x06,
  ET_EscElectronics = 0x07,
  ET_Display = 0x0C,
  ET_Enclosure = 0x0E,
  ET_ScsiPort = 0x0F,
  ET_VoltageSensor = 0x12,
};

// ---- Vendor StringOut / StringIn page (SES page 4) -----------------------------------------
constexpr std::size_t kStrFunctionOffset = 4;
constexpr std::size_t kStrStatusOffset = 5;
constexpr std::size_t kStrDeviceOffset = 8;
constexpr std::size_t kStrParameterOffset = 9;
constexpr std::size_t kStrHeaderSize = 12;

enum VendorFunctionCode : std::uint8_t {
  FC_ReadVpd = 0x69,
  FC_WriteVpd = 0x5A,
  FC_ControllerReset = 0x2D,
  FC_FirmwareDownload = 0x3C,
  FC_ReadControllerMemory = 0x4B,
  FC_ReadLog = 0x92,  // parameter byte: which log
  FC_Statesave = 0x99,
  FC_ReadLesb = 0xB0,
  FC_ResetLesb = 0xB1,  // parameter byte: port
  FC_ReadAlpaMap = 0xB2,
  FC_ReadConnectorMap = 0xB4,
  FC_ReadLip = 0xB8,
  FC_WriteLip = 0xB9,
  FC_Events = 0xC0,  // device byte: sub-function
  FC_DateTime = 0xD0,
  FC_DebugCommand = 0xFF,
};

// Logs selected by the parameter byte of FC_ReadLog.
constexpr std::uint8_t kLogPost = 1;
constexpr std::uint8_t kLogError = 2;
// Sub-functions of FC_Events, in the device byte.
constexpr std::uint8_t kEventsRegister = 2;
constexpr std::uint8_t kEventsClear = 3;
constexpr std::uint8_t kEventsRead = 0x82;

// Whole StringIn answers of the diagnostic reads (the sizes the page library asks for).
constexpr std::size_t kCntrlMemAnswerSize = 266;
constexpr std::size_t kErrLogAnswerSize = 496;
constexpr std::size_t kPostLogAnswerSize = 266;
constexpr std::size_t kLesbAnswerSize = 252;
constexpr std::size_t kAlpaMapAnswerSize = 36;
constexpr std::size_t kConnectorMapAnswerSize = 28;
constexpr std::size_t kLipAnswerSize = 172;
constexpr std::size_t kEventsAnswerSize = 44;
constexpr std::size_t kDateTimeAnswerSize = 16;
constexpr std::size_t kDebugAnswerSize = 204;

// Controller memory: the request names the chunk's address; the answer carries the chunk from
// byte 10, over the header's reserved bytes.
constexpr std::size_t kCntrlMemAddressOffset = 12;  // u32
constexpr std::size_t kCntrlMemRequestSize = 16;
constexpr std::size_t kCntrlMemDataOffset = 10;
constexpr std::size_t kCntrlMemChunk = 256;

// Log answer: text length (u16) then the log text.
constexpr std::size_t kLogLengthOffset = 12;
constexpr std::size_t kLogTextOffset = 14;

// LESB answer: per port six u32 counters (link failure, loss of sync, loss of signal,
// primitive sequence errors, invalid transmission words, invalid CRCs), ports 0 to 9.
constexpr std::size_t kLesbPorts = 10;
constexpr std::size_t kLesbCounters = 6;
constexpr std::size_t kLesbPortSize = kLesbCounters * 4;
constexpr std::size_t kLesbBlockSize = kLesbPorts * kLesbPortSize;
constexpr std::size_t kLesbDataOffset = 12;

// ALPA map answer: count, then that many ALPAs. Connector map answer: per connector its
// number, type, port and state.
constexpr std::size_t kAlpaCountOffset = 12;
constexpr std::size_t kAlpaListOffset = 13;
constexpr std::size_t kConnectorsOffset = 12;
constexpr std::size_t kConnectorEntrySize = 4;

// LIP page: three u32 words written at 12 to 23; the answer adds the count of writes.
constexpr std::size_t kLipWordsOffset = 12;
constexpr std::size_t kLipWords = 3;
constexpr std::size_t kLipWriteSize = kLipWordsOffset + kLipWords * 4;
constexpr std::size_t kLipWritesOffset = kLipWriteSize;  // u32 in the answer

// Event page: a 32-byte event bit field at 12 to 43 (bit n = byte n / 8, bit n % 8).
constexpr std::size_t kEventMaskOffset = 12;
constexpr std::size_t kEventMaskSize = 32;
constexpr std::size_t kEventPageSize = kEventMaskOffset + kEventMaskSize;

// Date and time: year, month, day, hour, minute, second from byte 8, one plain byte each.
constexpr std::size_t kDateTimeOffset = 8;
constexpr std::size_t kDateTimeFields = 6;
constexpr std::size_t kDateTimeMonthIndex = 1;

// Debug command: NUL-terminated text from byte 12.
constexpr std::size_t kDebugTextOffset = 12;

// Firmware download pages: byte 8 carries the device with a flag; data from byte 9.
constexpr std::uint8_t kFwStartFlag = 0x40;
constexpr std::uint8_t kFwCommitFlag = 0x80;
constexpr std::uint8_t kFwDeviceMask = 0x3F;
constexpr std::size_t kFwHeaderSize = 9;
constexpr std::size_t kFwDataOffset = 9;

// StringIn status values of the simulated enclosure.
enum StringInStatus : std::uint8_t {
  SI_Ok = 0x00,
  SI_UnsupportedFunction = 0x01,
  SI_NothingPending = 0x02,
  SI_BadRequest = 0x03,
};

// VPD images.
constexpr int kRdpDevice = 16;
constexpr std::size_t kRdpImageSize = 512;
constexpr std::size_t kIcImageSize = 268;
constexpr std::size_t kVpdLengthOffset = 12;
constexpr std::size_t kVpdDataOffset = 14;
constexpr std::uint16_t kRdpVpdLength = 497;
constexpr std::uint16_t kIcVpdLength = 253;
constexpr std::size_t kPcmFieldOffset = 406;
constexpr std::size_t kPrsFieldOffset = 411;
constexpr std::size_t kVpdFieldSize = 5;

}  // namespace nicisim

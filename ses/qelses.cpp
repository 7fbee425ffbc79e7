// qelses: the SES transport. Every SCSI diagnostic command for the enclosure travels inside a
// request message for the storage adapter's SCSI pass-through function, sent through the
// command-interface client library. The message is laid out here byte by byte, big-endian on
// every host, because the adapter reads it as the controller (a big-endian machine) wrote it.
#include "qelses.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <span>

#include "byteorder.h"
#include "niciClient.h"
#include "qeldebug.h"
#include "qelsys.h"

int isConnOpen = 0;

// Word 0: growth step of the pause between page attempts; word 1: budget for all pauses (us).
const std::uint32_t SESRetryOne[2] = {25000, 3000000};

namespace {

constexpr char kModule[] = "qelses";

// ---- Request message (one CDB, one data region) -------------------------------------------
constexpr std::size_t kMsgHeaderOffset = 0;           // u16, kMsgHeaderWord
constexpr std::size_t kMsgTotalLengthOffset = 4;      // u32, T
constexpr std::size_t kMsgSerialOffset = 10;          // NUL-terminated, zero-padded
constexpr std::size_t kMsgSerialSize = 38;
constexpr std::size_t kMsgDirectiveStatusOffset = 48; // s8, set by the adapter
constexpr std::size_t kMsgResultWordOffset = 52;      // u32, set by the adapter
constexpr std::size_t kMsgNetworkResultOffset = 53;   // u8 inside the result word
constexpr std::size_t kMsgApplicationResultOffset = 54;  // s16 inside the result word
constexpr std::size_t kMsgCommandRegionOffset = 56;
constexpr std::size_t kMsgDataOutRegionOffset = 80;
constexpr std::size_t kMsgDataInRegionOffset = 104;
constexpr std::size_t kMsgStatusRegionOffset = 128;
constexpr std::size_t kMsgFunctionCodeOffset = 152;   // u16, kFnIsalScsi
constexpr std::size_t kMsgFunctionQualifierOffset = 154;  // u16, kFunctionQualifier
constexpr std::size_t kMsgCommandBlockAddressOffset = 176;  // u32, address of byte 184
constexpr std::size_t kMsgCommandBlockOffset = 184;
constexpr std::size_t kMsgDataOffset = 204;
constexpr std::size_t kMsgFixedSize = 240;            // everything but the data region
constexpr std::size_t kMsgAlignment = 4;

static_assert(kMsgSerialSize == kSesMaxSerialLength + 1, "serial field holds the limit and NUL");
static_assert(kMsgSerialOffset + kMsgSerialSize == kMsgDirectiveStatusOffset);

constexpr std::uint16_t kMsgHeaderWord = 2;
constexpr std::uint16_t kFnIsalScsi = 59;
constexpr std::uint16_t kFunctionQualifier = 2;

// Region descriptor: where one region lies, counted from the command block.
constexpr std::size_t kRegionTypeOffset = 0;
constexpr std::size_t kRegionStartOffset = 16;   // u32
constexpr std::size_t kRegionLengthOffset = 20;  // u32
constexpr std::size_t kRegionDescriptorSize = 24;
constexpr std::uint8_t kRegionPresent = 8;
constexpr std::uint8_t kRegionAbsent = 1;

// Command block (message bytes 184 to 203), offsets within the block.
constexpr std::size_t kCmdBlockSize = 20;
constexpr std::size_t kCmdBlockCdbCountOffset = 6;  // u16, kCdbCount
constexpr std::size_t kCmdBlockCdbOffset = 8;
constexpr std::uint16_t kCdbCount = 1;
constexpr std::size_t kStatusRegionSize = 36;

static_assert(kMsgCommandBlockOffset + kCmdBlockSize == kMsgDataOffset);
static_assert(kMsgDataOffset + kStatusRegionSize == kMsgFixedSize);

// Six-byte CDBs of SEND DIAGNOSTIC and RECEIVE DIAGNOSTIC RESULTS.
constexpr std::size_t kCdbOpcodeOffset = 0;
constexpr std::size_t kCdbFlagsOffset = 1;
constexpr std::size_t kCdbPageCodeOffset = 2;
constexpr std::size_t kCdbLengthOffset = 3;  // u16: only the low 16 bits of L fit
constexpr std::uint8_t kOpSendDiagnostic = 0x1D;
constexpr std::uint8_t kOpReceiveDiagnosticResults = 0x1C;
constexpr std::uint8_t kSendDiagPageFormat = 0x10;   // PF: the data is a diagnostic page
constexpr std::uint8_t kRecvDiagPageCodeValid = 0x01;  // PCV: byte 2 names the page

// Largest data region a message is built for. The pages of the utility family are at most a
// few hundred bytes and SES pages at most 64 KiB; anything far above is a caller's mistake and
// is refused rather than wrapping T or asking for gigabytes.
constexpr std::uint32_t kMaxDataLength = 16u * 1024u * 1024u;

// ---- Command-interface client library call block --------------------------------------------
constexpr std::size_t kOptionsSize = 12;
constexpr std::int32_t kOptionWaitForAnswer = 2;  // options as the adapter's service wants them
constexpr std::int32_t kOptionSynchronous = 0;
constexpr std::int32_t kOptionExtraResponse = 1;
constexpr std::int32_t kOptionOn = 1;
constexpr std::size_t kResponseBlockSize = 24;
// The result area is the library's to fill and is never read; room to spare for any library.
constexpr std::size_t kResultAreaSize = 256;
constexpr int kErrnoBusy = EBUSY;
static_assert(EBUSY == 16, "the adapter's busy answer is errno 16");

// ---- Short Enclosure Status page, read after every page read and write ----------------------
constexpr std::uint32_t kShortEncStatusLength = 4;
constexpr std::size_t kShortEncStatusByte = 1;
using ShortEncStatus = std::array<std::uint8_t, kShortEncStatusLength>;

constexpr std::uint8_t kStringInPage = 0x04;
constexpr std::uint32_t kMicrosPerMilli = 1000;

// Words of SESRetryOne.
constexpr std::size_t kRetryStepWord = 0;
constexpr std::size_t kRetryBudgetWord = 1;

// ---- Firmware download pages (vendor StringOut pages, function 0x3C) -------------------------
constexpr std::size_t kFwPageSize = 512;
constexpr std::size_t kFwPageCodeOffset = 0;
constexpr std::size_t kFwPageLengthOffset = 2;  // u16
constexpr std::size_t kFwFunctionOffset = 4;
constexpr std::size_t kFwDeviceOffset = 8;
constexpr std::size_t kFwDataOffset = 9;
constexpr std::uint8_t kFwStringOutPage = 0x04;
constexpr std::uint8_t kFwStartFlag = 0x40;
constexpr std::uint8_t kFwCommitFlag = 0x80;
constexpr std::uint16_t kFwPageLengthBase = 5;  // bytes 4 to 8 after the length field
constexpr std::uint32_t kFwHeaderSentSize = 9;
constexpr std::uint32_t kFwMaxChunk = kFwPageSize - kFwDataOffset;  // 503
constexpr unsigned kFwStartWaitSeconds = 10;
constexpr unsigned kFwCommitWaitSeconds = 20;
constexpr unsigned kFwSettleWaitSeconds = 5;
constexpr int kFwCommitStatusReads = 10;
constexpr double kPercent = 100.0;

// ---- Trace points ---------------------------------------------------------------------------
constexpr int kLineCloseConnection = 98;
constexpr int kLineResponseStatus = 147;
constexpr int kLineDirectiveFailed = 160;
constexpr int kLineNetworkResult = 164;
constexpr int kLineApplicationResult = 165;
constexpr int kLineConRc = 173;
constexpr int kLineSendCIExit = 178;
constexpr int kLineSendDiagExit = 255;
constexpr int kLineRecvDiagExit = 336;
constexpr int kLineWriteConnFailed = 375;
constexpr int kLineWriteTrying = 386;
constexpr int kLineWriteShortEnc = 409;
constexpr int kLineWriteExit = 417;
constexpr int kLineReadConnFailed = 456;
constexpr int kLineReadTrying = 467;
constexpr int kLineReadExit = 498;
constexpr int kLineStringConnFailed = 544;
constexpr int kLineStringExit = 574;
constexpr int kLineFwTransferEntry = 620;
constexpr int kLineFwTransferConnFailed = 629;
constexpr int kLineFwStart = 651;
constexpr int kLineFwTransferShortEnc = 693;
constexpr int kLineFwData = 699;
constexpr int kLineFwProgress = 703;
constexpr int kLineFwTransferExit = 707;
constexpr int kLineFwCommitEntry = 744;
constexpr int kLineFwCommitConnFailed = 753;
constexpr int kLineFwCommit = 775;
constexpr int kLineFwCommitStatus = 786;
constexpr int kLineFwCommitShortEnc = 799;
constexpr int kLineFwCommitExit = 803;

enum class DiagCommand { Send, Receive };

using Buffer = std::unique_ptr<std::uint8_t[]>;

// Zero-filled heap buffer, or none when memory is short (no exception leaves the module).
Buffer AllocZeroed(std::size_t size) { return Buffer(new (std::nothrow) std::uint8_t[size]()); }

// True when the serial number fits the request's field with its NUL. The length is measured
// only up to one past the limit, so an unterminated or huge string is never read beyond that.
bool SerialFits(const char *serial) {
  return serial != nullptr && strnlen(serial, kSesMaxSerialLength + 1) <= kSesMaxSerialLength;
}

// An over-long serial number is refused outright: cut to the field it could name another
// enclosure whose serial number starts the same way.
std::int32_t RefuseSerial(const char *operation, int line) {
  QEL_Trace(kModule, line, "%s: Serial number missing or longer than %u characters, refused\n",
            operation, kSesMaxSerialLength);
  return SES_RC_SERIAL_TOO_LONG;
}

const char *SerialText(const char *serial) { return serial != nullptr ? serial : ""; }

void PutRegion(std::span<std::uint8_t> msg, std::size_t descriptor, std::uint8_t type,
               std::uint32_t start, std::uint32_t length) {
  auto region = msg.subspan(descriptor, kRegionDescriptorSize);
  region[kRegionTypeOffset] = type;
  qel::store_be32(region, kRegionStartOffset, start);
  qel::store_be32(region, kRegionLengthOffset, length);
}

// Total message length for a data region of L bytes: L + 240 rounded up to a multiple of 4.
constexpr std::uint32_t MessageLength(std::uint32_t dataLength) {
  return static_cast<std::uint32_t>((dataLength + kMsgFixedSize + kMsgAlignment - 1) /
                                    kMsgAlignment * kMsgAlignment);
}
static_assert(MessageLength(4) == 244 && MessageLength(9) == 252 && MessageLength(266) == 508);

// Lays out a zero-filled message of MessageLength(dataLength) bytes for one diagnostic
// command. The page data of a SEND is copied in by the caller.
std::int32_t BuildDiagRequest(std::span<std::uint8_t> msg, DiagCommand command, const char *serial,
                              std::uint8_t pageCode, std::uint32_t dataLength) {
  // Defence in depth: the public operations refuse long serial numbers before they get here.
  if (!SerialFits(serial)) return RefuseSerial("SES_BuildRequest", __LINE__);

  // The command block's address as the adapter's 32-bit sender sees it. On the 32-bit
  // controller this is the whole address; on a 64-bit development host only its low 32 bits
  // fit the field, which is what is stored there.
  const auto blockAddress = reinterpret_cast<std::uintptr_t>(msg.data() + kMsgCommandBlockOffset);
  qel::store_be32(msg, kMsgCommandBlockAddressOffset, static_cast<std::uint32_t>(blockAddress));

  std::memcpy(msg.data() + kMsgSerialOffset, serial, std::strlen(serial) + 1);

  qel::store_be16(msg, kMsgHeaderOffset, kMsgHeaderWord);
  qel::store_be32(msg, kMsgTotalLengthOffset, static_cast<std::uint32_t>(msg.size()));

  constexpr auto kCmdStart = static_cast<std::uint32_t>(0);
  constexpr auto kDataStart = static_cast<std::uint32_t>(kCmdBlockSize);
  const std::uint32_t statusStart = dataLength + kDataStart;
  PutRegion(msg, kMsgCommandRegionOffset, kRegionPresent, kCmdStart, kCmdBlockSize);
  if (command == DiagCommand::Send) {
    PutRegion(msg, kMsgDataOutRegionOffset, kRegionPresent, kDataStart, dataLength);
    PutRegion(msg, kMsgDataInRegionOffset, kRegionAbsent, 0, 0);
  } else {
    PutRegion(msg, kMsgDataOutRegionOffset, kRegionAbsent, 0, 0);
    PutRegion(msg, kMsgDataInRegionOffset, kRegionPresent, kDataStart, dataLength);
  }
  PutRegion(msg, kMsgStatusRegionOffset, kRegionPresent, statusStart, kStatusRegionSize);

  qel::store_be16(msg, kMsgFunctionCodeOffset, kFnIsalScsi);
  qel::store_be16(msg, kMsgFunctionQualifierOffset, kFunctionQualifier);

  auto block = msg.subspan(kMsgCommandBlockOffset, kCmdBlockSize);
  qel::store_be16(block, kCmdBlockCdbCountOffset, kCdbCount);
  auto cdb = block.subspan(kCmdBlockCdbOffset);
  const bool send = command == DiagCommand::Send;
  cdb[kCdbOpcodeOffset] = send ? kOpSendDiagnostic : kOpReceiveDiagnosticResults;
  cdb[kCdbFlagsOffset] = send ? kSendDiagPageFormat : kRecvDiagPageCodeValid;
  cdb[kCdbPageCodeOffset] = send ? std::uint8_t{0} : pageCode;
  qel::store_be16(cdb, kCdbLengthOffset, static_cast<std::uint16_t>(dataLength));
  return SES_OK;
}

// Runs one exchange with the adapter for a built message. On success the answer has been
// copied over the message.
std::int32_t SES_SendCIRequest(std::uint32_t requestLength, std::uint32_t extraResponseLength,
                               std::span<std::uint8_t> message) {
  alignas(8) std::array<std::uint8_t, kOptionsSize> options{};
  alignas(8) std::array<std::uint8_t, kResponseBlockSize> response{};
  alignas(8) std::array<std::uint8_t, kResultAreaSize> result{};
  niCISetOptions(options.data(), kOptionWaitForAnswer, kOptionOn);
  niCISetOptions(options.data(), kOptionSynchronous, kOptionOn);
  niCISetOptions(options.data(), kOptionExtraResponse,
                 static_cast<std::int32_t>(extraResponseLength));

  const std::size_t responseLength =
      static_cast<std::size_t>(requestLength) + static_cast<std::size_t>(extraResponseLength);
  Buffer responseBuffer = AllocZeroed(responseLength);
  if (!responseBuffer) {
    QEL_Trace(kModule, __LINE__, "SES_SendCIRequest: no memory for a %zu-byte answer\n",
              responseLength);
    QEL_Trace(kModule, kLineSendCIExit, "SES_SendCIRequest: Exit, rc = %d\n", SES_RC_CI_FAILED);
    return SES_RC_CI_FAILED;
  }
  // The response block ends with the answer buffer's address, in the host's own pointer form.
  void *bufferAddress = responseBuffer.get();
  std::memcpy(response.data() + kResponseBlockSize - sizeof bufferAddress, &bufferAddress,
              sizeof bufferAddress);

  std::int32_t rc = SES_OK;
  const std::int32_t conRc = niCISendSyncRequest(message.data(), requestLength, options.data(),
                                                 result.data(), response.data());
  if (conRc != 0) {
    const int sendErrno = errno;  // before anything else can change it
    QEL_Trace(kModule, kLineConRc, "SES_SendCIRequest: CI ERROR conRC = %d\n", conRc);
    rc = sendErrno == kErrnoBusy ? SES_RC_BUSY : SES_RC_CI_FAILED;
  } else {
    const std::int32_t status = niCIBGetRequestStatus(response.data());
    if (status != 0) {
      QEL_Trace(kModule, kLineResponseStatus, "SES_SendCIRequest: CI ERROR responseStatus = %d\n",
                status);
      return SES_RC_CI_FAILED;
    }
    const std::int32_t bodySize = niCIBGetRequestSize(response.data());
    const void *body = niCIBGetRequest(response.data());
    if (bodySize < 0 || (body == nullptr && bodySize > 0)) {
      // Nothing trustworthy came back: the message keeps what was sent, and the command fails.
      QEL_Trace(kModule, __LINE__, "SES_SendCIRequest: unusable answer body (size %d)\n",
                bodySize);
      rc = SES_RC_CI_FAILED;
    } else {
      std::size_t copySize = static_cast<std::size_t>(bodySize);
      if (copySize > message.size()) {
        // Only the message's own length is taken; the checks below decide on what was kept.
        QEL_Trace(kModule, __LINE__,
                  "SES_SendCIRequest: answer body of %d bytes longer than the message, %zu kept\n",
                  bodySize, message.size());
        copySize = message.size();
      }
      if (copySize > 0) std::memcpy(message.data(), body, copySize);

      const auto directive = static_cast<std::int8_t>(message[kMsgDirectiveStatusOffset]);
      if (directive != 0) {
        QEL_Trace(kModule, kLineDirectiveFailed, "Directive failed : %d\n", directive);
        rc = SES_RC_CI_FAILED;
      } else if (qel::load_be32(message, kMsgResultWordOffset) != 0) {
        QEL_Trace(kModule, kLineNetworkResult, "Network result    : %d\n",
                  message[kMsgNetworkResultOffset]);
        QEL_Trace(kModule, kLineApplicationResult, "Application result: %d\n",
                  static_cast<std::int16_t>(qel::load_be16(message, kMsgApplicationResultOffset)));
        rc = SES_RC_CI_FAILED;
      }
    }
  }
  if (rc != SES_OK) QEL_Trace(kModule, kLineSendCIExit, "SES_SendCIRequest: Exit, rc = %d\n", rc);
  return rc;
}

// A message for dataLength bytes, or none (traced) when it cannot be made. `data` is the
// caller's page or destination, which must be there when there are bytes to move.
Buffer NewDiagMessage(std::uint32_t dataLength, const void *data, const char *operation) {
  if (data == nullptr && dataLength > 0) {
    QEL_Trace(kModule, __LINE__, "%s: no buffer for %u bytes\n", operation, dataLength);
    return nullptr;
  }
  if (dataLength > kMaxDataLength) {
    QEL_Trace(kModule, __LINE__, "%s: data length %u refused\n", operation, dataLength);
    return nullptr;
  }
  Buffer msg = AllocZeroed(MessageLength(dataLength));
  if (!msg) QEL_Trace(kModule, __LINE__, "%s: no memory for the request\n", operation);
  return msg;
}

// SEND DIAGNOSTIC with the first `length` bytes of `page`.
std::int32_t SES_SendDiagnosticCommand(const char *serial, std::uint32_t length,
                                       const std::uint8_t *page) {
  std::int32_t rc = SES_RC_CI_FAILED;
  Buffer msg = NewDiagMessage(length, page, "SES_SendDiagnosticCommand");
  if (msg) {
    const std::span<std::uint8_t> message(msg.get(), MessageLength(length));
    if (length > 0) std::memcpy(message.data() + kMsgDataOffset, page, length);
    rc = BuildDiagRequest(message, DiagCommand::Send, serial, 0, length);
    if (rc == SES_OK) rc = SES_SendCIRequest(MessageLength(length), 0, message);
  }
  if (rc != SES_OK) {
    QEL_Trace(kModule, kLineSendDiagExit, "SES_SendDiagnosticCommand: Exit, rc = %d\n", rc);
  }
  return rc;
}

// RECEIVE DIAGNOSTIC RESULTS of `pageCode` into `destination` (length bytes). The destination
// is written only when the whole command succeeded.
std::int32_t SES_RecvDiagnosticResult(const char *serial, std::uint8_t pageCode,
                                      std::uint32_t length, std::uint8_t *destination) {
  std::int32_t rc = SES_RC_CI_FAILED;
  Buffer msg = NewDiagMessage(length, destination, "SES_RecvDiagnosticResult");
  if (msg) {
    const std::span<std::uint8_t> message(msg.get(), MessageLength(length));
    rc = BuildDiagRequest(message, DiagCommand::Receive, serial, pageCode, length);
    if (rc == SES_OK) rc = SES_SendCIRequest(MessageLength(length), 0, message);
    if (rc == SES_OK && length > 0) {
      std::memcpy(destination, message.data() + kMsgDataOffset, length);
    }
  }
  if (rc != SES_OK) {
    QEL_Trace(kModule, kLineRecvDiagExit, "SES_RecvDiagnosticResult: Exit rc = %d\n", rc);
  }
  return rc;
}

// Opens the connection on first use. Every operation traces the same text on failure, each
// with its own line.
std::int32_t OpenConnection(int line) {
  if (isConnOpen != 0) return SES_OK;
  const std::int32_t r = niCIOpen();
  if (r != 0) {
    QEL_Trace(kModule, line, "SES_WritePage: Connection Failed (RC = %d)\n", r);
    return SES_RC_OPEN_FAILED;
  }
  isConnOpen = 1;
  return SES_OK;
}

// Repeats an attempt with growing pauses (1, 3, 6, 10, ... steps) until the pause budget is
// spent. traceTrying(step, total) and traceExit(rc) write the operation's own trace lines.
template <typename Attempt, typename TraceTrying, typename TraceExit>
std::int32_t RetryWithGrowingPause(Attempt attempt, TraceTrying traceTrying, TraceExit traceExit) {
  std::uint32_t step = 0;
  std::uint32_t total = 0;
  std::uint32_t pause = 0;
  std::int32_t rc = SES_OK;
  do {
    traceTrying(step, total);
    total += pause;
    QEL_USleep(pause);  // called for the first pass's 0 too
    step += SESRetryOne[kRetryStepWord];
    rc = attempt();
    pause += step;
    if (rc == SES_OK) return SES_OK;
  } while (total < SESRetryOne[kRetryBudgetWord]);
  traceExit(rc);
  return rc;
}

}  // namespace

void SES_CloseCIConnection() {
  if (isConnOpen == 0) return;
  QEL_Trace(kModule, kLineCloseConnection, "SES_CloseCIConnection: Closing CI Connection\n");
  niCIClose();
}

std::int32_t SES_WritePage(const char *serial, std::uint32_t length, const std::uint8_t *page) {
  if (!SerialFits(serial)) return RefuseSerial("SES_WritePage", __LINE__);
  const std::int32_t open = OpenConnection(kLineWriteConnFailed);
  if (open != SES_OK) return open;

  auto attempt = [&]() -> std::int32_t {
    std::int32_t rc = SES_SendDiagnosticCommand(serial, length, page);
    if (rc != SES_OK) return rc;
    ShortEncStatus status{};
    rc = SES_RecvDiagnosticResult(serial, kShortEncStatusPage, kShortEncStatusLength,
                                  status.data());
    if (rc != SES_OK) return rc;
    if (status[kShortEncStatusByte] != 0) {
      QEL_Trace(kModule, kLineWriteShortEnc, "SES_WritePage: ShortEnc Status = %d!!!!\n",
                status[kShortEncStatusByte]);
      return SES_RC_ENCLOSURE_STATUS;
    }
    return SES_OK;
  };
  return RetryWithGrowingPause(
      attempt,
      [](std::uint32_t step, std::uint32_t total) {
        QEL_Trace(kModule, kLineWriteTrying, "SES_WritePage: Trying %u %u\n", step, total);
      },
      [](std::int32_t rc) {
        QEL_Trace(kModule, kLineWriteExit, "SES_WritePage: Exit, rc = %d\n", rc);
      });
}

std::int32_t SES_ReadPage(const char *serial, std::uint32_t pageCode, std::uint32_t length,
                          std::uint8_t *buffer) {
  if (!SerialFits(serial)) return RefuseSerial("SES_ReadPage", __LINE__);
  const std::int32_t open = OpenConnection(kLineReadConnFailed);
  if (open != SES_OK) return open;

  const auto code = static_cast<std::uint8_t>(pageCode);  // only the low 8 bits name a page
  auto attempt = [&]() -> std::int32_t {
    std::int32_t rc = SES_RecvDiagnosticResult(serial, code, length, buffer);
    if (rc != SES_OK) return rc;
    // The status read confirms the enclosure still answers; its value does not fail a read.
    ShortEncStatus status{};
    return SES_RecvDiagnosticResult(serial, kShortEncStatusPage, kShortEncStatusLength,
                                    status.data());
  };
  return RetryWithGrowingPause(
      attempt,
      [](std::uint32_t step, std::uint32_t total) {
        QEL_Trace(kModule, kLineReadTrying, "SES_ReadPage: Trying %u %u\n", step, total);
      },
      [](std::int32_t rc) {
        QEL_Trace(kModule, kLineReadExit, "SES_ReadPage: Exit, rc = %d\n", rc);
      });
}

std::int32_t SES_ReadStringPage(const char *serial, std::uint32_t outLength,
                                const std::uint8_t *outPage, std::uint32_t inLength,
                                std::uint8_t *inBuffer, std::uint32_t delayMs) {
  if (!SerialFits(serial)) return RefuseSerial("SES_ReadStringPage", __LINE__);
  const std::int32_t open = OpenConnection(kLineStringConnFailed);
  if (open != SES_OK) return open;

  std::int32_t rc = SES_SendDiagnosticCommand(serial, outLength, outPage);
  // The pause is taken even after a failed send; a delay too long for the counter is capped.
  const std::uint64_t delayMicros = static_cast<std::uint64_t>(delayMs) * kMicrosPerMilli;
  QEL_USleep(static_cast<unsigned>(
      std::min<std::uint64_t>(delayMicros, std::numeric_limits<unsigned>::max())));
  if (rc == SES_OK) {
    rc = SES_RecvDiagnosticResult(serial, kStringInPage, inLength, inBuffer);
    if (rc == SES_OK) return SES_OK;
  }
  if (rc != SES_RC_BUSY) rc = SES_RC_STRING_PAGE;
  QEL_Trace(kModule, kLineStringExit, "SES_ReadStringPage: Exit, rc = %d\n", rc);
  return rc;
}

namespace {

using FwPage = std::array<std::uint8_t, kFwPageSize>;

// Fills the fixed header of a firmware download page.
void PutFwHeader(FwPage &page, std::uint16_t pageLength, std::uint8_t deviceByte) {
  page[kFwPageCodeOffset] = kFwStringOutPage;
  qel::store_be16(page, kFwPageLengthOffset, pageLength);
  page[kFwFunctionOffset] = kFwFunctionCode;
  page[kFwDeviceOffset] = deviceByte;
}

std::uint8_t DeviceByte(std::int32_t device) { return static_cast<std::uint8_t>(device); }

std::int32_t ReadShortEncStatus(const char *serial, ShortEncStatus &status) {
  return SES_RecvDiagnosticResult(serial, kShortEncStatusPage, kShortEncStatusLength,
                                  status.data());
}

}  // namespace

std::int32_t SES_DownloadFwTransfer(const char *serial, std::int32_t device,
                                    const std::uint8_t *image, std::uint32_t imageLength) {
  QEL_Trace(kModule, kLineFwTransferEntry, "SES_DownloadFwTransfer: Entry SN:%s, Dev:%d\n",
            SerialText(serial), device);
  if (!SerialFits(serial)) return RefuseSerial("SES_DownloadFwTransfer", __LINE__);
  if (image == nullptr && imageLength > 0) {
    QEL_Trace(kModule, __LINE__, "SES_DownloadFwTransfer: no image, refused\n");
    return SES_RC_CI_FAILED;
  }
  const std::int32_t open = OpenConnection(kLineFwTransferConnFailed);
  if (open != SES_OK) return open;

  FwPage page{};
  PutFwHeader(page, kFwPageLengthBase, static_cast<std::uint8_t>(DeviceByte(device) | kFwStartFlag));
  std::int32_t rc = SES_SendDiagnosticCommand(serial, kFwHeaderSentSize, page.data());
  QEL_Trace(kModule, kLineFwStart, "SES_DownloadFwTransfer: SendDiag Start rc = %d\n", rc);
  if (rc == SES_OK) {
    QEL_Sleep(kFwStartWaitSeconds);
    page[kFwDeviceOffset] = DeviceByte(device);
    std::uint32_t sent = 0;
    while (rc == SES_OK && sent < imageLength) {
      const std::uint32_t n = std::min(imageLength - sent, kFwMaxChunk);
      qel::store_be16(page, kFwPageLengthOffset, static_cast<std::uint16_t>(n + kFwPageLengthBase));
      std::memcpy(page.data() + kFwDataOffset, image + sent, n);
      rc = SES_SendDiagnosticCommand(serial, kFwHeaderSentSize + n, page.data());
      if (rc == SES_OK) {
        ShortEncStatus status{};
        rc = ReadShortEncStatus(serial, status);
        if (rc == SES_OK && status[kShortEncStatusByte] != 0) {
          QEL_Trace(kModule, kLineFwTransferShortEnc,
                    "SES_DownloadFwTransfer: ShortEnc Status = %d!!!!\n",
                    status[kShortEncStatusByte]);
          rc = SES_RC_ENCLOSURE_STATUS;
        }
      }
      sent += n;
      // Two trace writes that share one line of the file: the code, then the progress.
      QEL_Trace(kModule, kLineFwData, "SES_DownloadFwTransfer: SendDiag Data rc=%d, ", rc);
      QEL_Trace(kModule, kLineFwProgress, "(Sent/Total): %d / %d (%f%%)\n",
                static_cast<int>(sent), static_cast<int>(imageLength),
                static_cast<double>(sent) / static_cast<double>(imageLength) * kPercent);
    }
  }
  QEL_Trace(kModule, kLineFwTransferExit, "SES_DownloadFwTransfer: Exit, rc = %d\n", rc);
  return rc;
}

std::int32_t SES_DownloadFwCommit(const char *serial, std::int32_t device) {
  QEL_Trace(kModule, kLineFwCommitEntry, "SES_DownloadFwCommit: Entry SN:%s, Dev:%d\n",
            SerialText(serial), device);
  if (!SerialFits(serial)) return RefuseSerial("SES_DownloadFwCommit", __LINE__);
  const std::int32_t open = OpenConnection(kLineFwCommitConnFailed);
  if (open != SES_OK) return open;

  FwPage page{};
  PutFwHeader(page, kFwPageLengthBase, static_cast<std::uint8_t>(DeviceByte(device) | kFwCommitFlag));
  std::int32_t rc = SES_SendDiagnosticCommand(serial, kFwHeaderSentSize, page.data());
  QEL_Trace(kModule, kLineFwCommit, "SES_DownloadFwCommit: SendDiag Commit rc = %d\n", rc);
  if (rc == SES_OK) {
    QEL_Sleep(kFwCommitWaitSeconds);
    // The enclosure restarts on its new firmware; poll until it answers, without pauses.
    ShortEncStatus status{};
    for (int read = 0; read < kFwCommitStatusReads; ++read) {
      rc = ReadShortEncStatus(serial, status);
      QEL_Trace(kModule, kLineFwCommitStatus,
                "SES_DownloadFwCommit: RecvDiag ShortEncStatus rc = %d\n", rc);
      if (rc == SES_OK) break;
    }
    if (rc == SES_OK) {
      QEL_Sleep(kFwSettleWaitSeconds);
      if (status[kShortEncStatusByte] != 0) {
        QEL_Trace(kModule, kLineFwCommitShortEnc, "SES_DownloadFwCommit: ShortEnc Status = %d!!!!\n",
                  status[kShortEncStatusByte]);
        rc = SES_RC_ENCLOSURE_STATUS;
      }
    }
  }
  QEL_Trace(kModule, kLineFwCommitExit, "SES_DownloadFwCommit: Exit, rc = %d\n", rc);
  return rc;
}

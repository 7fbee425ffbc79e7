// The page library and the utility on everything that comes from outside, with a stand-in SES
// transport that answers every page read, StringIn exchange and page write from the fuzz input:
//   - every vendor string exchange: VPD reads, diagnostic reads, debug command, controller
//     memory chunks and failure budget, command pages, VPD write;
//   - VPD images: verification, PCM extraction and update, the utility's whole VPD read;
//   - standard pages: IRC test and firmware levels on the configuration page, the page reads,
//     the power-supply control update, the type-code set test, the element-control initialisers;
//   - the two hex dumps (OutputData, and DumpBinary with its two wrappers) on bytes and titles
//     of any length;
//   - the command line: ParseParams and ValidateParams on any argument vector, the program
//     name, and the trace's command-line record with very long and very many words;
//   - the code-to-name lookups on the adapter's three tables and on tables made from the input.
//
// Input: op byte, flags byte (fuzz_support.h), then by op (taken modulo 44):
//   0-19  string exchanges: a device byte (bit 7 set: a u32 device follows), the arguments
//         (debug command text; controller memory address and length u32; command page u32s;
//         VPD write parameter byte and record), then the transport script
//   20-24 VPD images: a byte (bit 0 forUpdate; for the update the new mode, bit 7 set: a u32
//         mode follows), the image, or for the whole read (24) the transport script
//   25-31 standard pages: a byte (firmware record, mode, set size or initialiser), then the
//         script, or the set's entries and text (30), or the control and status element (31)
//   32-35 dumps: where byte (bit 0 to standard output or trace, bit 1 to the trace, bit 2 a
//         negative length, bit 3 half the length), title (text), the bytes to the end
//   36-39 command line: op bit 0 a repeat count byte and the words after the program name
//         repeated up to 256 times; op bit 1 the record instead of the parse; then the words
//         separated by NUL bytes (the first is the program name)
//   40-42 the three lookup wrappers: a pick byte (bit 4 any first key, bit 5 any second key,
//         bit 6 second key 0), a table row whose keys are taken (u16), any keys (u32 each)
//   43    a table made from the input: row count, rows (key bytes, name text), the two keys
// Texts are a u16 length and the characters.
//
// The transport script: each transport call takes one answer from it:
//   byte  kind    bits 0-1: 0 success, else one of the transport's failure codes (bits 4-6 pick)
//                 bit 2: frame the answer as the right page (page code, and for a StringIn the
//                        function code and device byte of the request, status 0)
//                 bit 3: make the answer a VPD image that passes its length and checksum test
//   u16   length  then that many answer bytes (fewer when the input ends)
// A read that succeeds fills the caller's whole buffer, as the transport does: the answer
// bytes, then zeros. A failed call leaves the buffer alone. Once the script is used up every
// call fails, so the retry loops end quickly.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "byteorder.h"
#include "fuzz_support.h"
#include "qelcodes.h"
#include "qeldebug.h"
#include "qelses.h"
#include "qelses_pcm.h"
#include "talvik.h"

namespace {

using qelfuzz::Exact;
using qelfuzz::Reader;

Reader *script = nullptr;
std::vector<std::uint8_t> lastWritten;  // the last page a write sent, as long as the caller said

// Takes the next answer. A successful one fills the caller's buffer and, when its kind asks, is
// framed (the page code, and for a StringIn the function code and device byte of the request,
// status 0) and made a sound VPD image (the length field counts the bytes between itself and
// the checksum byte, and the record from the length field to the end XORs to zero).
std::int32_t Answer(const char *serial, std::uint32_t length, std::uint8_t *buffer, std::uint32_t code,
                    const std::uint8_t *out = nullptr, std::uint32_t outLength = 0) {
  QELFUZZ_CHECK(serial != nullptr);
  constexpr std::int32_t kFailures[] = {SES_RC_STRING_PAGE, SES_RC_CI_FAILED,        SES_RC_BUSY, SES_RC_OPEN_FAILED,
                                        SES_RC_ENCLOSURE_STATUS, SES_RC_SERIAL_TOO_LONG, -1, 0x7fffffff};
  if (script == nullptr || script->empty()) return SES_RC_CI_FAILED;
  const std::uint8_t kind = script->u8();
  const std::vector<std::uint8_t> bytes = script->bytes(script->u16());
  if ((kind & 0x03) != 0 || length == 0) return (kind & 0x03) != 0 ? kFailures[(kind >> 4) % 8] : SES_OK;
  std::memset(buffer, 0, length);
  std::copy_n(bytes.begin(), std::min<std::size_t>(bytes.size(), length), buffer);
  if ((kind & 0x04) != 0) {
    buffer[0] = static_cast<std::uint8_t>(code);
    for (std::uint32_t i = 4; i <= 8 && i < std::min(length, outLength); i += 4) buffer[i] = out[i];
    if (outLength > 0 && length > kVendorStatusOffset) buffer[kVendorStatusOffset] = 0;
  }
  if ((kind & 0x08) != 0 && length >= 16) {
    qel::store_be16(buffer + kVpdLengthOffset, static_cast<std::uint16_t>(length - 15));
    buffer[length - 1] = 0;
    for (std::uint32_t i = kVpdRecordOffset; i + 1 < length; ++i) buffer[length - 1] ^= buffer[i];
  }
  return SES_OK;
}

}  // namespace

std::int32_t SES_ReadStringPage(const char *serial, std::uint32_t outLength, const std::uint8_t *outPage,
                                std::uint32_t inLength, std::uint8_t *inBuffer, std::uint32_t /*delayMs*/) {
  const std::vector<std::uint8_t> out(outPage, outPage + outLength);  // readable for the whole length
  return Answer(serial, inLength, inBuffer, kStringPageCode, outPage, outLength);
}

std::int32_t SES_ReadPage(const char *serial, std::uint32_t pageCode, std::uint32_t length, std::uint8_t *buffer) {
  return Answer(serial, length, buffer, pageCode);
}

std::int32_t SES_WritePage(const char *serial, std::uint32_t length, const std::uint8_t *page) {
  lastWritten.assign(page, page + length);
  return Answer(serial, 0, nullptr, 0);
}

namespace {

// An accepted answer is a StringIn page with status 0 and the function code (and the device)
// of the request.
void CheckAccepted(std::int32_t rc, const std::uint8_t *page, std::uint8_t function, std::int64_t device = -1) {
  if (rc != SES_OK) return;
  QELFUZZ_CHECK(page[kVendorPageCodeOffset] == kStringPageCode && page[kVendorStatusOffset] == 0);
  QELFUZZ_CHECK(page[kVendorFunctionOffset] == function && (device < 0 || page[kVendorDeviceOffset] == device));
}

// The reads of one device's page, the IC VPD first.
const std::tuple<decltype(&TK_ReadICVpd), std::size_t, std::uint8_t> kDeviceReads[] = {
    {TK_ReadICVpd, kIcVpdImageSize, TK_FN_READ_VPD},
    {TK_ReadErrLog, kErrLogPageSize, TK_FN_READ_LOG},
    {TK_ReadPostLogPage, kPostLogPageSize, TK_FN_READ_LOG},
    {TK_ReadLESBPage, kLESBPageSize, TK_FN_READ_LESB},
    {TK_ReadALPAMapPage, kALPAMapPageSize, TK_FN_READ_ALPA_MAP},
    {TK_ReadConnectorMapPage, kConnectorMapPageSize, TK_FN_READ_CONNECTOR_MAP},
    {TK_ReadLIPPage, kLIPPageSize, TK_FN_READ_LIP},
};

// Input: a device number (mostly one a page can echo, sometimes one it never can), then the
// operation's own arguments.
void StringExchange(std::uint8_t op, const char *serial, Reader &r) {
  const std::uint8_t pick = r.u8();
  const std::int32_t device = (pick & 0x80) == 0 ? pick : r.i32();
  switch (op) {
    case 0: {
      auto image = Exact(kRdpVpdImageSize);
      const std::int32_t rc = TK_ReadRDPVpd(serial, image.get());
      CheckAccepted(rc, image.get(), TK_FN_READ_VPD, kRdpVpdDevice);
      QELFUZZ_CHECK(rc != SES_OK || TK_VerifyRDPVpd(image.get()) == SES_OK);
      break;
    }
    case 1: case 2: case 3: case 4: case 5: case 6: case 7: {
      const auto [read, size, function] = kDeviceReads[op - 1];
      auto page = Exact(size);
      const std::int32_t rc = read(serial, device, page.get());
      CheckAccepted(rc, page.get(), function, device);
      QELFUZZ_CHECK(rc != SES_OK || op != 1 || TK_VerifyICVpd(page.get()) == SES_OK);
      break;
    }
    case 8: case 9: {
      auto page = Exact(op == 8 ? kEventsPageSize : kDateTimePageSize);
      const std::int32_t rc = (op == 8 ? TK_ReadEventsPage : TK_ReadDateTime)(serial, page.get());
      CheckAccepted(rc, page.get(), op == 8 ? TK_FN_EVENTS : TK_FN_DATE_TIME);
      break;
    }
    case 10: {
      const std::string command = r.text(300);
      auto page = Exact(kDebugPageSize);
      const std::int32_t rc = TK_DebugCommand(serial, command.c_str(), page.get());
      QELFUZZ_CHECK((rc == TK_RC_COMMAND_TOO_LONG) == (command.size() > kDebugCommandMaxLength));
      if (rc != TK_RC_COMMAND_TOO_LONG) CheckAccepted(rc, page.get(), TK_FN_DEBUG_COMMAND);
      break;
    }
    case 11: {
      // Up to 64 KiB, into a destination of whole chunks as the caller sizes it.
      const std::uint32_t address = r.u32(), length = r.u32() % (64 * 1024 + 1);
      auto destination = Exact((length + kCntrlMemChunkSize - 1) / kCntrlMemChunkSize * kCntrlMemChunkSize);
      QELFUZZ_CHECK(TK_ReadCntrlMem(serial, device, address, length, destination.get()) == SES_OK || length != 0);
      break;
    }
    case 12: TK_ControllerReset(serial, device); break;
    case 13: TK_StatesaveMgmt(serial, device, r.i32()); break;
    case 14: TK_ResetLESBPage(serial, device, r.i32()); break;
    case 15: {
      const std::int32_t port = r.i32();
      const std::uint32_t words[kLIPWordCount] = {r.u32(), r.u32(), r.u32()};
      TK_WriteLIPPage(serial, device, port, words);
      break;
    }
    case 16: TK_RegForEventReporting(serial); break;
    case 17: TK_ClearEvents(serial); break;
    case 18: {
      const std::int32_t v[6] = {r.i32(), r.i32(), r.i32(), r.i32(), r.i32(), r.i32()};
      TK_SetDateTime(serial, v[0], v[1], v[2], v[3], v[4], v[5]);
      break;
    }
    default: {
      // A VPD write of a record from the input: the page sent carries the record whole.
      const std::int32_t parameter = r.u8();
      const bool rdp = device == kRdpVpdDevice;
      const std::size_t size = rdp ? kRdpVpdRecordSize : kIcVpdRecordSize;
      auto record = Exact(size, &r);
      TK_WriteVpd(serial, device, parameter, record.get());
      QELFUZZ_CHECK(lastWritten.size() == (rdp ? kRdpVpdImageSize : kIcVpdImageSize));
      QELFUZZ_CHECK(std::equal(record.get(), record.get() + size, lastWritten.begin() + kVpdRecordOffset));
      break;
    }
  }
}

// Verification must accept exactly the images with the right length field whose record XORs to zero.
bool ImageValid(const std::uint8_t *image, std::uint16_t vpdLength, std::size_t size) {
  std::uint8_t sum = 0;
  for (std::size_t i = kVpdRecordOffset; i < size; ++i) sum ^= image[i];
  return qel::load_be16(image + kVpdLengthOffset) == vpdLength && sum == 0;
}

void VpdImage(std::uint8_t op, const char *serial, Reader &r) {
  const std::uint8_t pick = r.u8();  // the read's or extraction's forUpdate in bit 0, or the new mode
  const std::int32_t forUpdate = pick & 1;
  switch (op) {
    case 0: case 1: {
      const std::size_t size = op == 0 ? kRdpVpdImageSize : kIcVpdImageSize;
      auto image = Exact(size, &r);
      const bool valid = ImageValid(image.get(), op == 0 ? kRdpVpdLength : kIcVpdLength, size);
      QELFUZZ_CHECK(((op == 0 ? TK_VerifyRDPVpd : TK_VerifyICVpd)(image.get()) == SES_OK) == valid);
      break;
    }
    case 2: {
      // A mode is 0 to 7 and what the PCM field says, or none.
      auto image = Exact(kVpdImageSize, &r);
      const std::int32_t mode = ExtractPcmMode(image.get(), forUpdate);
      const std::uint8_t *f = image.get() + kPcmFieldOffset;
      QELFUZZ_CHECK(mode == kModeInvalid || (mode >= 0 && mode <= kHighestMode && f[4] == '0' + mode));
      QELFUZZ_CHECK(mode == kModeInvalid || std::memcmp(f, "PCM=", 4) == 0);
      break;
    }
    case 3: {
      // A new mode put into an image: the PCM field holds it, a PRS field is there (the old one
      // when it was), the checksum is right again, and nothing before or after the fields moved.
      const std::int32_t mode = (pick & 0x80) == 0 ? pick % (kHighestMode + 1) : r.i32();
      auto image = Exact(kVpdImageSize, &r);
      std::memcpy(VpdBuffer, image.get(), kVpdImageSize);
      CreateNewVpd(mode);
      QELFUZZ_CHECK(mode < 0 || mode > kHighestMode || ExtractPcmMode(VpdBuffer, 1) == mode);
      QELFUZZ_CHECK(ImageValid(VpdBuffer, qel::load_be16(VpdBuffer + kVpdLengthOffset), kVpdImageSize));
      QELFUZZ_CHECK(std::memcmp(VpdBuffer + kPrsFieldOffset, "PRS=", 4) == 0);
      // The image as it was, with the PCM field, and the PRS field when it had none, written.
      const bool hadPrs = std::memcmp(image.get() + kPrsFieldOffset, "PRS=", 4) == 0;
      const std::size_t written = hadPrs ? kVpdFieldSize : kPrsFieldOffset + kVpdFieldSize - kPcmFieldOffset;
      std::copy_n(VpdBuffer + kPcmFieldOffset, written, image.get() + kPcmFieldOffset);
      QELFUZZ_CHECK(std::memcmp(VpdBuffer, image.get(), kRdpVpdChecksumOffset) == 0);
      break;
    }
    default: {
      // The utility's read: a mode only from an image that passed verification, which an update
      // run keeps in VpdBuffer; a failed read leaves the mode alone.
      std::memset(VpdBuffer, 0xEE, kVpdImageSize);
      std::int32_t mode = 12345;
      const std::int32_t rc = ReadVpd(serial, &mode, forUpdate);
      QELFUZZ_CHECK(rc == 0 ? mode == kModeInvalid || (mode >= 0 && mode <= kHighestMode) : rc == 1 && mode == 12345);
      if (rc == 0 && forUpdate == 1) {
        QELFUZZ_CHECK(TK_VerifyRDPVpd(VpdBuffer) == SES_OK && ExtractPcmMode(VpdBuffer, 1) == mode);
      }
      QELFUZZ_CHECK((rc == 0 && forUpdate == 1) || VpdBuffer[0] == 0xEE);
      break;
    }
  }
}

void StandardPage(std::uint8_t op, const char *serial, Reader &r) {
  const std::uint8_t pick = r.u8();  // the firmware record, the mode or the initialiser
  switch (op) {
    case 0: {
      std::uint32_t isIRC = 0xA5A5A5A5u;
      const std::int32_t rc = TK_IsEnclosureIRC(serial, &isIRC);
      QELFUZZ_CHECK(isIRC == 0 || (isIRC == 1 && rc == SES_OK));
      break;
    }
    case 1: QELFUZZ_CHECK(TK_GetFWLevel(serial, pick % 4u) == 0 || pick % 4 == 1 || pick % 4 == 2); break;
    case 2: case 3: {
      auto page = Exact(op == 2 ? kConfigPageSize : kStatusPageSize);
      const std::int32_t rc = (op == 2 ? TK_ReadConfigPage : TK_ReadStatusPage)(serial, page.get());
      QELFUZZ_CHECK(rc != SES_OK || page[0] == (op == 2 ? kConfigPageCode : kStatusPageCode));
      break;
    }
    case 4: {
      // The control page selects the two power supplies only, with the mode in their low bits;
      // every other byte but the page header stays zero.
      const PcmParams params{serial, pick % (kHighestMode + 1)};
      const std::int32_t rc = UpdateElementControlPage(&params);
      QELFUZZ_CHECK(rc == 0 || rc == 1);
      if (lastWritten.empty()) break;
      QELFUZZ_CHECK(lastWritten.size() == kStatusPageSize && lastWritten[0] == kStatusPageCode);
      QELFUZZ_CHECK(qel::load_be16(lastWritten.data() + 2) == kStatusPageSize - 4);
      for (const std::size_t e : kPowerSupplyElementOffsets) {
        QELFUZZ_CHECK((lastWritten[e] & 0x80) != 0 && (lastWritten[e + 1] & 0x07) == params.mode);
        std::fill_n(lastWritten.begin() + static_cast<std::ptrdiff_t>(e), kElementSize, 0);
      }
      QELFUZZ_CHECK(std::all_of(lastWritten.begin() + 4, lastWritten.end(), [](std::uint8_t b) { return b == 0; }));
      break;
    }
    case 5: {
      // The type-code set test on any set of up to eight entries (the IRC test has one set only).
      std::vector<std::string> entries(pick % 9);
      std::vector<const char *> set;
      for (std::string &e : entries) set.push_back((e = r.text(12)).c_str());
      const int in = StrInSet(r.text(16).c_str(), set.data(), static_cast<std::int32_t>(set.size()));
      QELFUZZ_CHECK(in == 0 || (in == 1 && !set.empty()));
      break;
    }
    default: {
      const decltype(&TK_InitDevCtl) inits[] = {TK_InitDevCtl,      TK_InitEncServCtl, TK_InitSCSIPortCtl,
                                                TK_InitPowrSuppCtl, TK_InitCoolCtl,    TK_InitDispCtl};
      auto control = Exact(kElementSize, &r);
      inits[pick % 6](control.get(), Exact(kElementSize, &r).get());
      break;
    }
  }
}

void Dump(std::uint8_t op, Reader &r) {
  const std::uint8_t where = r.u8();
  const std::string title = r.text(16384);
  const std::vector<std::uint8_t> bytes = r.rest();
  auto data = qelfuzz::Exact(bytes.size());
  std::copy(bytes.begin(), bytes.end(), data.get());
  // The length as given, or shorter, or negative (which dumps nothing).
  const int length = (where & 0x04) != 0 ? -where : static_cast<int>(bytes.size()) / ((where & 0x08) != 0 ? 2 : 1);
  switch (op) {
    case 0: QELFUZZ_CHECK(OutputData(data.get(), static_cast<std::uint32_t>(bytes.size()), where & 0x01) == 0); break;
    case 1: QELFUZZ_CHECK(DumpBinary(title.c_str(), data.get(), length, where & 0x01, where & 0x02) == 0); break;
    case 2: QELFUZZ_CHECK(DumpBinaryToStdout(title.c_str(), data.get(), length) == 0); break;
    default: QELFUZZ_CHECK(DumpBinaryToTrace(title.c_str(), data.get(), length) == 0); break;
  }
}

void CommandLine(std::uint8_t op, bool traceOn, Reader &r) {
  const unsigned repeat = (op & 0x01) != 0 ? 1u + r.u8() : 1u;
  // The words as main receives them: NUL-terminated and writable, in a NULL-terminated vector.
  const std::vector<std::uint8_t> bytes = r.rest();
  std::vector<char> line(bytes.begin(), bytes.end());
  const std::vector<char> after(std::find(line.begin(), line.end(), '\0'), line.end());
  for (unsigned i = 1; i < repeat; ++i) line.insert(line.end(), after.begin(), after.end());
  line.push_back('\0');
  std::vector<char *> argv{line.data()};
  for (std::size_t i = 0; i + 1 < line.size(); ++i) {
    if (line[i] == '\0') argv.push_back(&line[i + 1]);
  }
  const int argc = static_cast<int>(argv.size());
  argv.push_back(nullptr);
  if ((op & 0x02) != 0) {
    // The record holds the whole line, the last word included.
    RecordCommandLine(argc, argv.data());
    QELFUZZ_CHECK(!traceOn || qelfuzz::TraceText().ends_with(std::string(*(argv.end() - 2)) + " \n"));
    return;
  }
  SetCommandName(argv[0]);
  QELFUZZ_CHECK(szCmdName != nullptr && std::strchr(szCmdName, '/') == nullptr);
  optind = 0;  // getopt starts afresh, as in a new process
  PcmParams params{nullptr, kNoMode};
  const std::int32_t rc = ParseParams(argc, argv.data(), &params);
  // The exit code is 0 or the usage one, a mode is one there is, a serial number points into the words.
  QELFUZZ_CHECK((rc == 0 || rc == kExitUsage) && params.mode >= kNoMode && params.mode <= kHighestMode);
  const char *serial = params.serialNumber;
  QELFUZZ_CHECK(serial == nullptr || (serial >= line.data() && serial < line.data() + line.size()));
  QELFUZZ_CHECK(ValidateParams(&params) == (params.serialNumber != nullptr ? 0 : kExitUsage));
}

void Lookup(std::uint8_t op, Reader &r) {
  std::vector<std::string> names;
  std::vector<CodeNameEntry> made;
  const char *name = nullptr;
  if (op == 3) {
    // Few distinct keys, so many rows match and the names pile up past the result buffer.
    names.resize(r.u8());
    for (std::string &n : names) {
      const std::uint32_t key1 = r.u8() % 4u, key2 = r.u8() % 8u;
      made.push_back({key1, key2 == kClosingKey2 ? 1 : key2, (n = r.text(300)).c_str()});
    }
    made.push_back({kClosingKey1, kClosingKey2, "endoftable"});
    const std::uint32_t input1 = r.u8() % 4u;
    name = TwoInputStringLookup(input1, r.u8() % 8u, made.data());
  } else {
    // A row's own keys mostly, so lookups match as often as they miss; a row's keys are found.
    const std::uint8_t pick = r.u8();
    const int rows[] = {kValueToStringRows, kAdapterServiceTransactionRows, kIaclTransactionRows};
    const CodeNameEntry &row =
        (op == 0 ? ValueToString : op == 1 ? AdapterServiceTransactionArray : IaclTransactionArray)[r.u16() % rows[op]];
    const std::uint32_t input1 = (pick & 0x10) != 0 ? r.u32() : row.key1;
    const std::uint32_t input2 = op == 2 ? 1 : (pick & 0x20) != 0 ? r.u32() : (pick & 0x40) != 0 ? 0 : row.key2;
    name = op == 0   ? GetDebugErrorString(input1, input2)
           : op == 1 ? GetAdapterTransactionName(input2, input1)
                     : GetIaclTransactionName(input1);
    QELFUZZ_CHECK(name != nullptr && (name[0] != '\0' || input1 != row.key1 || (input2 != 0 && input2 != row.key2)));
  }
  QELFUZZ_CHECK(name != nullptr && std::strlen(name) < static_cast<std::size_t>(kErrorStringSize));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  qelfuzz::Setup("fuzz_utility");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  Reader r(data, size);
  const qelfuzz::Run run = qelfuzz::Begin(r);
  const char *serial = run.serial.c_str();
  // The operation's arguments come first and the script after them, from the same reader.
  script = &r;
  lastWritten.clear();
  const std::uint8_t op = run.op % 44;
  if (op < 20) {
    StringExchange(op, serial, r);
  } else if (op < 25) {
    VpdImage(static_cast<std::uint8_t>(op - 20), serial, r);
  } else if (op < 32) {
    StandardPage(static_cast<std::uint8_t>(op - 25), serial, r);
  } else if (op < 36) {
    Dump(static_cast<std::uint8_t>(op - 32), r);
  } else if (op < 40) {
    CommandLine(static_cast<std::uint8_t>(op - 36), run.traceOn, r);
  } else {
    Lookup(static_cast<std::uint8_t>(op - 40), r);
  }
  script = nullptr;
  return 0;
}

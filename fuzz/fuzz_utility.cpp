// The page library and the utility on everything that comes from outside, with a stand-in SES
// transport that answers every page read, StringIn exchange and page write from the fuzz input.
//
// Input: the head (fuzz_support.h; value is the device of a device's page), then by op, modulo
// the 32 rows of kEntries:
//   0-10  StringIn reads: RDP VPD, IC VPD, the six diagnostic pages, events, date and time,
//         debug command (text)
//   11-19 the other string exchanges: controller memory (u32 address, u32 length), controller
//         reset, statesave (u32), LESB reset (u32 port), LIP write (three u32 words, u32 port),
//         event registration, event clearing, date set (six u32), VPD write (the record, of the
//         RDP VPD when the device is its device, then the parameter byte)
//   20    a VPD image (512 bytes, its first 268 also taken as an IC image): verified, its PCM
//         mode extracted (arg bit 0 forUpdate), a new mode put in (arg bits 1-3, or value when
//         arg bit 7 is set)
//   21    the utility's whole VPD read (arg bit 0 forUpdate)
//   22-27 standard pages: IRC test; firmware level (arg modulo 4 the record); the configuration
//         then the status page read; the power-supply control update (arg modulo 8 the mode);
//         the type-code set test (arg modulo 9 entries, then the entries and the text, texts);
//         the six element-control initialisers (control and status element, 4 bytes each)
//   28    dumps: title (text) and the bytes to the end through OutputData (arg bit 0 to the
//         trace), DumpBinary (arg bit 0 to standard output, bit 1 to the trace) and its two
//         wrappers, with the length as given, half of it (arg bit 3) or negative (arg bit 2)
//   29    command line: the words separated by NUL bytes (the first is the program name), the
//         words after the program name repeated arg more times; named, parsed and checked
//   30    the three lookup wrappers (arg modulo 3 which; arg bit 4 any first key, bit 5 any
//         second key, bit 6 second key 0): a table row whose keys are taken (u16), any keys (u32)
//   31    a table made from the input: arg rows (two key bytes, name text), the two key bytes
// Whatever is left is the transport script: each transport call takes one answer from it:
//   byte  kind    bits 0-1: 0 success, else a failure: bits 4-7 modulo 5 pick one of five results
//                 bit 2: frame the answer as the right page (page code, and for a StringIn the
//                        function code and device byte of the request, status 0)
//                 bit 3: make the answer a VPD image that passes its length and checksum test
//   u16   length  then that many answer bytes (fewer when the input ends)
// A read that succeeds fills the caller's whole buffer, as the transport does: the answer
// bytes, then zeros. A failed call leaves the buffer alone. Once the script is used up every
// call fails, so the retry loops end quickly.
#include <fstream>
#include <functional>
#include <numeric>

#include "byteorder.h"
#include "fuzz_support.h"
#include "qelcodes.h"
#include "qelses_pcm.h"
#include "talvik.h"

static std::vector<std::uint8_t> written;  // the last page a write sent, as long as the caller said

// The XOR of a VPD image's record, from the length field up to end.
static std::uint8_t RecordXor(const std::uint8_t *image, std::size_t end) {
  return static_cast<std::uint8_t>(std::accumulate(image + kVpdRecordOffset, image + end, 0, std::bit_xor<>()));
}
// A sound image: its length field counts the bytes between itself and the checksum byte, and
// its record XORs to zero.
static bool Sound(const std::uint8_t *image, std::size_t size) {
  return qel::load_be16(image + kVpdLengthOffset) == size - 15 && RecordXor(image, size) == 0;
}

// Takes the next answer. A successful one fills the caller's buffer and, when its kind asks, is
// framed and made a sound VPD image.
static std::int32_t Answer(std::uint32_t length, std::uint8_t *buffer, std::uint32_t code,
                           const std::uint8_t *out = nullptr, std::uint32_t outLength = 0) {
  constexpr std::int32_t kFailures[] = {SES_RC_STRING_PAGE, SES_RC_CI_FAILED, SES_RC_BUSY, SES_RC_ENCLOSURE_STATUS, -1};
  const std::vector<std::uint8_t> sent(out, out + outLength);  // the StringOut is readable for its whole length
  const std::uint8_t kind = Run::current->left() == 0 ? 0x11 : Run::current->u8();  // past the script, CI failed
  const bool frame = (kind & 0x04) != 0;
  const std::vector<std::uint8_t> bytes = Run::current->bytes(Run::current->u16());
  if ((kind & 0x03) != 0 || length == 0) return (kind & 0x03) != 0 ? kFailures[(kind >> 4) % 5] : SES_OK;
  std::memset(buffer, 0, length);
  std::copy_n(bytes.begin(), std::min<std::size_t>(bytes.size(), length), buffer);
  if (frame) buffer[0] = static_cast<std::uint8_t>(code);
  for (std::uint32_t i = 4; frame && i <= 8 && i < std::min(length, outLength); i += 4) buffer[i] = out[i];
  if (frame && outLength > 0 && length > kVendorStatusOffset) buffer[kVendorStatusOffset] = 0;
  if ((kind & 0x08) != 0 && length >= 16) {
    qel::store_be16(buffer + kVpdLengthOffset, static_cast<std::uint16_t>(length - 15));
    buffer[length - 1] = RecordXor(buffer, length - 1);
  }
  return SES_OK;
}

std::int32_t SES_ReadStringPage(const char *, std::uint32_t outLength, const std::uint8_t *outPage,
                                std::uint32_t inLength, std::uint8_t *inBuffer, std::uint32_t /*delayMs*/) {
  return Answer(inLength, inBuffer, kStringPageCode, outPage, outLength);
}
std::int32_t SES_ReadPage(const char *, std::uint32_t pageCode, std::uint32_t length, std::uint8_t *buffer) {
  return Answer(length, buffer, pageCode);
}
std::int32_t SES_WritePage(const char *, std::uint32_t length, const std::uint8_t *page) {
  return written.assign(page, page + length), Answer(0, nullptr, 0);
}

// A StringIn read of a page of the given size, by an enclosure's read, a device's read or the
// debug command; only a command text longer than the page holds is refused as too long. An
// accepted answer is a StringIn page with status 0, the read's function code and its device (a
// device's read: the one asked for; else dev, none when dev is -1), and an accepted VPD image
// passes verification (the RDP one unless verify names another).
template <auto read, std::size_t size, std::uint8_t function, std::int32_t dev = -1, auto verify = TK_VerifyRDPVpd>
static void Read(Run &c) {
  auto page = Exact(size);
  const std::string command = function == TK_FN_DEBUG_COMMAND ? c.text(300) : "";
  std::int32_t device = dev, rc = SES_OK;
  if constexpr (function == TK_FN_DEBUG_COMMAND) rc = read(c.sn(), command.c_str(), page.get());
  else if constexpr (requires { read(c.sn(), page.get()); }) rc = read(c.sn(), page.get());
  else rc = read(c.sn(), device = c.device(), page.get());
  CHECK((rc == TK_RC_COMMAND_TOO_LONG) == (std::strlen(command.c_str()) > kDebugCommandMaxLength) &&
        (rc != SES_OK || (page[kVendorPageCodeOffset] == kStringPageCode && page[kVendorFunctionOffset] == function &&
                          page[kVendorStatusOffset] == 0 && (device == -1 || page[kVendorDeviceOffset] == device) &&
                          (function != TK_FN_READ_VPD || verify(page.get()) == SES_OK))));
}

// The entry points, with the properties each must keep; the short ones a row per line.
void (*const kEntries[])(Run &c) = {
    Read<TK_ReadRDPVpd, kRdpVpdImageSize, TK_FN_READ_VPD, kRdpVpdDevice>,
    Read<TK_ReadICVpd, kIcVpdImageSize, TK_FN_READ_VPD, -1, TK_VerifyICVpd>,
    Read<TK_ReadErrLog, kErrLogPageSize, TK_FN_READ_LOG>,
    Read<TK_ReadPostLogPage, kPostLogPageSize, TK_FN_READ_LOG>,
    Read<TK_ReadLESBPage, kLESBPageSize, TK_FN_READ_LESB>,
    Read<TK_ReadALPAMapPage, kALPAMapPageSize, TK_FN_READ_ALPA_MAP>,
    Read<TK_ReadConnectorMapPage, kConnectorMapPageSize, TK_FN_READ_CONNECTOR_MAP>,
    Read<TK_ReadLIPPage, kLIPPageSize, TK_FN_READ_LIP>,
    Read<TK_ReadEventsPage, kEventsPageSize, TK_FN_EVENTS>,
    Read<TK_ReadDateTime, kDateTimePageSize, TK_FN_DATE_TIME>,
    Read<TK_DebugCommand, kDebugPageSize, TK_FN_DEBUG_COMMAND>,
    [](auto &c) {  // up to 64 KiB, into a destination of whole chunks as the caller sizes it
      const std::uint32_t address = c.u32(), length = c.u32() % (64 * 1024 + 1);
      auto destination = Exact((length + kCntrlMemChunkSize - 1) / kCntrlMemChunkSize * kCntrlMemChunkSize);
      CHECK(TK_ReadCntrlMem(c.sn(), c.device(), address, length, destination.get()) == SES_OK || length != 0);
    },
    [](auto &c) { TK_ControllerReset(c.sn(), c.device()); },
    [](auto &c) { TK_StatesaveMgmt(c.sn(), c.device(), c.i32()); },
    [](auto &c) { TK_ResetLESBPage(c.sn(), c.device(), c.i32()); },
    [](auto &c) { std::uint32_t w[] = {c.u32(), c.u32(), c.u32()}; TK_WriteLIPPage(c.sn(), c.device(), c.i32(), w); },
    [](auto &c) { TK_RegForEventReporting(c.sn()); },
    [](auto &c) { TK_ClearEvents(c.sn()); },
    [](auto &c) {
      const std::int32_t v[6] = {c.i32(), c.i32(), c.i32(), c.i32(), c.i32(), c.i32()};
      TK_SetDateTime(c.sn(), v[0], v[1], v[2], v[3], v[4], v[5]);
    },
    [](auto &c) {  // the page sent is the header and the record whole
      const std::size_t size = c.device() == kRdpVpdDevice ? kRdpVpdRecordSize : kIcVpdRecordSize;
      auto record = Exact(size, &c);
      TK_WriteVpd(c.sn(), c.device(), c.u8(), record.get());
      CHECK(written.size() == kVpdRecordOffset + size &&
            std::equal(record.get(), record.get() + size, written.begin() + kVpdRecordOffset));
    },
    [](auto &c) {
      // Verification accepts exactly the images whose length field is right and whose record
      // XORs to zero (the IC image is the first part of the RDP one). A mode taken out is 0 to 7
      // and what the PCM field says, or none. A new mode then put in is in the PCM field, a PRS
      // field is there (the old one when it was), the checksum is right again, and nothing
      // before or after the fields moved.
      auto was = Exact(kVpdImageSize, &c), ic = Exact(kIcVpdImageSize);
      std::memcpy(ic.get(), was.get(), kIcVpdImageSize);
      CHECK((TK_VerifyRDPVpd(was.get()) == SES_OK) == Sound(was.get(), kRdpVpdImageSize) &&
            (TK_VerifyICVpd(ic.get()) == SES_OK) == Sound(ic.get(), kIcVpdImageSize));
      const std::int32_t mode = ExtractPcmMode(was.get(), c.arg & 1), to = c.arg & 0x80 ? c.device() : c.arg >> 1 & 7;
      CHECK(mode == kModeInvalid || (mode >= 0 && mode <= kHighestMode && was[kPcmFieldOffset + 4] == '0' + mode &&
                                     std::memcmp(&was[kPcmFieldOffset], "PCM=", 4) == 0));
      std::memcpy(VpdBuffer, was.get(), kVpdImageSize);
      CreateNewVpd(to);
      CHECK((to < 0 || to > kHighestMode || ExtractPcmMode(VpdBuffer, 1) == to) &&
            RecordXor(VpdBuffer, kVpdImageSize) == 0 && !std::memcmp(&VpdBuffer[kPrsFieldOffset], "PRS=", 4));
      const auto end = kPrsFieldOffset + (std::memcmp(&was[kPrsFieldOffset], "PRS=", 4) == 0 ? 0 : kVpdFieldSize);
      std::copy(&VpdBuffer[kPcmFieldOffset], &VpdBuffer[end], &was[kPcmFieldOffset]);
      CHECK(std::memcmp(VpdBuffer, was.get(), kRdpVpdChecksumOffset) == 0);
    },
    [](auto &c) {
      // A mode only from an image that passed verification, which an update run keeps in
      // VpdBuffer; a failed read leaves the mode alone.
      std::memset(VpdBuffer, 0xEE, kVpdImageSize);
      std::int32_t mode = 12345;
      const std::int32_t forUpdate = c.arg & 1, rc = ReadVpd(c.sn(), &mode, forUpdate);
      CHECK(rc == 0 && forUpdate ? TK_VerifyRDPVpd(VpdBuffer) == SES_OK && ExtractPcmMode(VpdBuffer, 1) == mode
                                 : VpdBuffer[0] == 0xEE && (rc == 0 || (rc == 1 && mode == 12345)));
    },
    [](auto &c) { std::uint32_t is = 7; CHECK(TK_IsEnclosureIRC(c.sn(), &is) != SES_OK ? is == 0 : is <= 1); },
    [](auto &c) { CHECK(TK_GetFWLevel(c.sn(), c.arg % 4u) == 0 || c.arg % 4 == 1 || c.arg % 4 == 2); },
    [](auto &c) {  // a page read that succeeds holds the page asked for
      auto config = Exact(kConfigPageSize), status = Exact(kStatusPageSize);
      CHECK(TK_ReadConfigPage(c.sn(), config.get()) != SES_OK || config[0] == kConfigPageCode);
      CHECK(TK_ReadStatusPage(c.sn(), status.get()) != SES_OK || status[0] == kStatusPageCode);
    },
    [](auto &c) {
      // The control page selects the two power supplies only, with the mode in their low bits;
      // every other byte but the page header stays zero.
      const PcmParams params{c.sn(), c.arg % (kHighestMode + 1)};
      CHECK(static_cast<std::uint32_t>(UpdateElementControlPage(&params)) <= 1);  // 0 or 1
      if (written.empty()) return;
      for (const std::size_t e : kPowerSupplyElementOffsets) {
        CHECK(written.size() == kStatusPageSize && (written[e] & 0x80) != 0 && (written[e + 1] & 0x07) == params.mode);
        std::fill_n(&written[e], kElementSize, 0);
      }
      CHECK(written[0] == kStatusPageCode && qel::load_be16(&written[2]) == kStatusPageSize - 4 &&
            std::count(written.begin() + 4, written.end(), 0) == kStatusPageSize - 4);
    },
    [](auto &c) {  // any set of up to eight entries (the IRC test has one set only)
      std::vector<std::string> entries(c.arg % 9);
      std::vector<const char *> set;
      for (std::string &e : entries) set.push_back((e = c.text(12)).c_str());
      const int in = StrInSet(c.text(16).c_str(), set.data(), static_cast<std::int32_t>(set.size()));
      CHECK(in == 0 || (in == 1 && !set.empty()));
    },
    [](auto &c) {
      auto control = Exact(kElementSize, &c), status = Exact(kElementSize, &c);
      for (const auto init :
           {TK_InitDevCtl, TK_InitEncServCtl, TK_InitSCSIPortCtl, TK_InitPowrSuppCtl, TK_InitCoolCtl, TK_InitDispCtl})
        init(control.get(), status.get());
    },
    [](auto &c) {
      const std::string title = c.text(16384);
      const std::size_t size = c.left();
      auto data = Exact(size, &c);
      const char *t = title.c_str();
      const int length = (c.arg & 0x04) != 0 ? -c.arg : static_cast<int>(size) / ((c.arg & 0x08) != 0 ? 2 : 1);
      CHECK(OutputData(data.get(), static_cast<std::uint32_t>(size), c.arg & 0x01) == 0 &&
            DumpBinary(t, data.get(), length, c.arg & 0x01, c.arg & 0x02) == 0 &&
            DumpBinaryToStdout(t, data.get(), length) == 0 && DumpBinaryToTrace(t, data.get(), length) == 0);
    },
    [](auto &c) {
      // The words as main receives them: NUL-terminated and writable, in a NULL-terminated vector.
      std::string line(c.data + c.pos, c.data + c.size);
      const std::string after(std::find(line.begin(), line.end(), '\0'), line.end());
      for (unsigned i = 0; i < c.arg; ++i) line += after;
      std::vector<char *> argv;  // the string's own terminator ends the last word
      for (std::size_t i = 0; i <= line.size(); i += std::strlen(&line[i]) + 1) argv.push_back(&line[i]);
      argv.push_back(nullptr);
      SetCommandName(argv[0]);
      optind = 0;  // getopt starts afresh, as in a new process
      PcmParams params{nullptr, kNoMode};
      const std::int32_t rc = ParseParams(static_cast<int>(argv.size()) - 1, argv.data(), &params);
      // The exit code is 0 or the usage one, a mode is one there is, a serial number points into
      // the words, the command name is the program name without its directory, and the trace
      // holds the whole line, the last word included.
      const char *serial = params.serialNumber;
      CHECK((rc == 0 || rc == kExitUsage) && params.mode >= kNoMode && params.mode <= kHighestMode &&
            (serial == nullptr || (serial >= line.data() && serial <= line.data() + line.size())));
      CHECK(ValidateParams(&params) == (serial != nullptr ? 0 : kExitUsage) && std::strchr(szCmdName, '/') == nullptr);
      std::replace(line.begin(), line.end(), '\0', ' ');  // the trace's record: the words, a space after each
      std::ifstream trace(DebugStreamName);
      CHECK(QEL_DebugStream == nullptr ||
            std::string(std::istreambuf_iterator<char>(trace), {}).find(line + " \n") != std::string::npos);
    },
    [](auto &c) {
      // A row's own keys mostly, so lookups match as often as they miss; a row's keys find a name.
      const int which = c.arg % 3, rows[] = {kValueToStringRows, kAdapterServiceTransactionRows, kIaclTransactionRows};
      const CodeNameEntry *tables[] = {ValueToString, AdapterServiceTransactionArray, IaclTransactionArray};
      const CodeNameEntry &row = tables[which][c.u16() % rows[which]];
      const std::uint32_t input1 = (c.arg & 0x10) != 0 ? c.u32() : row.key1;
      const std::uint32_t input2 = which == 2 ? 1 : (c.arg & 0x20) != 0 ? c.u32() : (c.arg & 0x40) != 0 ? 0 : row.key2;
      const char *name = which == 2 ? GetIaclTransactionName(input1)
                         : which == 1 ? GetAdapterTransactionName(input2, input1) : GetDebugErrorString(input1, input2);
      CHECK(std::strlen(name) < static_cast<std::size_t>(kErrorStringSize) &&
            (name[0] != '\0' || input1 != row.key1 || (input2 != 0 && input2 != row.key2)));
    },
    [](auto &c) {
      // Few distinct keys, so many rows match and the names pile up past the result buffer.
      std::vector<std::string> names(c.arg);
      std::vector<CodeNameEntry> made;
      for (std::string &n : names) made.push_back({c.u8() % 4u, c.u8() % kClosingKey2, (n = c.text(300)).c_str()});
      made.push_back({kClosingKey1, kClosingKey2, "endoftable"});
      const std::uint32_t input1 = c.u8() % 4u, input2 = c.u8() % 8u;
      CHECK(std::strlen(TwoInputStringLookup(input1, input2, made.data())) < std::size_t{kErrorStringSize});
    },
};

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  Run run("fuzz_utility", data, size);  // the entry point's arguments come first and the script after them
  written.clear();
  kEntries[run.op % std::size(kEntries)](run);
  return 0;
}

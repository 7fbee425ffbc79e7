// Every vendor StringOut/StringIn exchange of the page library against answers taken from the
// fuzz input: the VPD reads, the diagnostic read pages, the debug command, the controller
// memory read in chunks, and the command pages that only write.
//
// Input: op byte, flags byte (bit 0: no trace; bit 1: a serial number from the input),
// the operation's own arguments, then the transport script (fake_transport.h).
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "byteorder.h"
#include "fake_transport.h"
#include "fuzz_support.h"
#include "talvik.h"

namespace {

using qelfuzz::Reader;

// A heap buffer of exactly the size the library is promised, so any byte past it is caught.
std::unique_ptr<std::uint8_t[]> Exact(std::size_t n) {
  return std::unique_ptr<std::uint8_t[]>(new std::uint8_t[n == 0 ? 1 : n]);
}

// Device numbers: mostly ones a page can echo, sometimes ones it never can.
std::int32_t Device(Reader &r) {
  const std::uint8_t pick = r.u8();
  if ((pick & 0x80) == 0) return pick;
  return static_cast<std::int32_t>(r.u32());
}

// An accepted answer is a StringIn page with status 0 and the expected function code.
void CheckAccepted(std::int32_t rc, const std::uint8_t *page, std::uint8_t function) {
  if (rc != SES_OK) return;
  QELFUZZ_CHECK(page[kVendorPageCodeOffset] == kStringPageCode);
  QELFUZZ_CHECK(page[kVendorStatusOffset] == 0);
  QELFUZZ_CHECK(page[kVendorFunctionOffset] == function);
}

using DiagRead = std::int32_t (*)(const char *, std::int32_t, std::uint8_t *);

struct DiagRow {
  DiagRead read;
  std::size_t size;
  std::uint8_t function;
};

const DiagRow kDeviceReads[] = {
    {TK_ReadErrLog, kErrLogPageSize, TK_FN_READ_LOG},
    {TK_ReadPostLogPage, kPostLogPageSize, TK_FN_READ_LOG},
    {TK_ReadLESBPage, kLESBPageSize, TK_FN_READ_LESB},
    {TK_ReadALPAMapPage, kALPAMapPageSize, TK_FN_READ_ALPA_MAP},
    {TK_ReadConnectorMapPage, kConnectorMapPageSize, TK_FN_READ_CONNECTOR_MAP},
    {TK_ReadLIPPage, kLIPPageSize, TK_FN_READ_LIP},
};

// Longest controller memory read a run asks for (the destination is allocated whole).
constexpr std::uint32_t kMaxCntrlMemLength = 64 * 1024;

void RunOp(std::uint8_t op, const char *serial, Reader &r) {
  switch (op % 20) {
    case 0: {
      auto image = Exact(kRdpVpdImageSize);
      const std::int32_t rc = TK_ReadRDPVpd(serial, image.get());
      CheckAccepted(rc, image.get(), TK_FN_READ_VPD);
      if (rc == SES_OK) {
        QELFUZZ_CHECK(image[kVendorDeviceOffset] == kRdpVpdDevice);
        QELFUZZ_CHECK(TK_VerifyRDPVpd(image.get()) == SES_OK);
      }
      break;
    }
    case 1: {
      const std::int32_t device = Device(r);
      auto image = Exact(kIcVpdImageSize);
      const std::int32_t rc = TK_ReadICVpd(serial, device, image.get());
      CheckAccepted(rc, image.get(), TK_FN_READ_VPD);
      if (rc == SES_OK) {
        QELFUZZ_CHECK(static_cast<std::int32_t>(image[kVendorDeviceOffset]) == device);
        QELFUZZ_CHECK(TK_VerifyICVpd(image.get()) == SES_OK);
      }
      break;
    }
    case 2: case 3: case 4: case 5: case 6: case 7: {
      const DiagRow &row = kDeviceReads[op % 20 - 2];
      const std::int32_t device = Device(r);
      auto page = Exact(row.size);
      const std::int32_t rc = row.read(serial, device, page.get());
      CheckAccepted(rc, page.get(), row.function);
      if (rc == SES_OK) {
        QELFUZZ_CHECK(static_cast<std::int32_t>(page[kVendorDeviceOffset]) == device);
      }
      break;
    }
    case 8: {
      auto page = Exact(kEventsPageSize);
      CheckAccepted(TK_ReadEventsPage(serial, page.get()), page.get(), TK_FN_EVENTS);
      break;
    }
    case 9: {
      auto page = Exact(kDateTimePageSize);
      CheckAccepted(TK_ReadDateTime(serial, page.get()), page.get(), TK_FN_DATE_TIME);
      break;
    }
    case 10: {
      const std::string command = r.text(300);
      auto page = Exact(kDebugPageSize);
      const std::int32_t rc = TK_DebugCommand(serial, command.c_str(), page.get());
      if (command.size() > kDebugCommandMaxLength) {
        QELFUZZ_CHECK(rc == TK_RC_COMMAND_TOO_LONG);
      } else {
        QELFUZZ_CHECK(rc != TK_RC_COMMAND_TOO_LONG);
        CheckAccepted(rc, page.get(), TK_FN_DEBUG_COMMAND);
      }
      break;
    }
    case 11: {
      const std::int32_t device = Device(r);
      const std::uint32_t address = r.u32();
      const std::uint32_t length = r.u32() % (kMaxCntrlMemLength + 1);
      // The caller sizes the destination in whole chunks.
      const std::size_t room =
          (static_cast<std::size_t>(length) + kCntrlMemChunkSize - 1) / kCntrlMemChunkSize *
          kCntrlMemChunkSize;
      auto destination = Exact(room);
      const std::int32_t rc = TK_ReadCntrlMem(serial, device, address, length, destination.get());
      if (length == 0) QELFUZZ_CHECK(rc == SES_OK);
      break;
    }
    case 12:
      TK_ControllerReset(serial, Device(r));
      break;
    case 13: {
      const std::int32_t device = Device(r);
      TK_StatesaveMgmt(serial, device, static_cast<std::int32_t>(r.u32()));
      break;
    }
    case 14: {
      const std::int32_t device = Device(r);
      TK_ResetLESBPage(serial, device, static_cast<std::int32_t>(r.u32()));
      break;
    }
    case 15: {
      const std::int32_t device = Device(r);
      const auto port = static_cast<std::int32_t>(r.u32());
      std::uint32_t words[kLIPWordCount];
      for (std::uint32_t &w : words) w = r.u32();
      TK_WriteLIPPage(serial, device, port, words);
      break;
    }
    case 16:
      TK_RegForEventReporting(serial);
      break;
    case 17:
      TK_ClearEvents(serial);
      break;
    case 18: {
      std::int32_t v[6];
      for (std::int32_t &x : v) x = static_cast<std::int32_t>(r.u32());
      TK_SetDateTime(serial, v[0], v[1], v[2], v[3], v[4], v[5]);
      break;
    }
    default: {
      // A VPD write of a fuzzed record: the page sent must carry the record bytes it promises.
      const std::int32_t device = Device(r);
      const auto parameter = static_cast<std::int32_t>(r.u8());
      const bool rdp = device == kRdpVpdDevice;
      const std::size_t recordSize = rdp ? kRdpVpdRecordSize : kIcVpdRecordSize;
      std::vector<std::uint8_t> record = r.bytes(recordSize);
      record.resize(recordSize, 0);
      auto exact = Exact(recordSize);
      std::memcpy(exact.get(), record.data(), recordSize);
      TK_WriteVpd(serial, device, parameter, exact.get());
      const auto &sent = qelfuzz::transport.lastWritten;
      QELFUZZ_CHECK(sent.size() == (rdp ? kRdpVpdImageSize : kIcVpdImageSize));
      QELFUZZ_CHECK(std::memcmp(sent.data() + kVpdRecordOffset, record.data(),
                                std::min(recordSize, sent.size() - kVpdRecordOffset)) == 0);
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  qelfuzz::Setup("fuzz_string_pages");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  Reader r(data, size);
  const std::uint8_t op = r.u8();
  const std::uint8_t flags = r.u8();
  const std::string serial = (flags & 0x02) != 0 ? r.text(48) : std::string("IRC0001");
  qelfuzz::Run run((flags & 0x01) == 0);
  qelfuzz::transport = {};
  // The operation's arguments come first and the script after them, from the same reader.
  qelfuzz::transport.reader = &r;
  RunOp(op, serial.c_str(), r);
  qelfuzz::transport.reader = nullptr;
  return 0;
}

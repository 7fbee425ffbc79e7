// The standard page reads against pages taken from the fuzz input: the IRC test and firmware
// levels on the configuration page, the configuration and status page reads with their page
// code check, the power-supply control update built from a status page, the element-control
// initialisers on status elements, and the type-code set test.
//
// Input: op byte, flags byte (bit 0: no trace), the operation's arguments, then the transport
// script (fake_transport.h).
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "byteorder.h"
#include "fake_transport.h"
#include "fuzz_support.h"
#include "qelses_pcm.h"
#include "talvik.h"

namespace {

using qelfuzz::Reader;

std::unique_ptr<std::uint8_t[]> Exact(std::size_t n) {
  return std::unique_ptr<std::uint8_t[]>(new std::uint8_t[n]);
}

using Init = void (*)(std::uint8_t *, const std::uint8_t *);
const Init kInits[] = {TK_InitDevCtl,      TK_InitEncServCtl, TK_InitSCSIPortCtl,
                       TK_InitPowrSuppCtl, TK_InitCoolCtl,    TK_InitDispCtl};

void RunOp(std::uint8_t op, Reader &r) {
  const char *serial = "IRC0001";
  switch (op % 7) {
    case 0: {
      std::uint32_t isIRC = 0xA5A5A5A5u;
      const std::int32_t rc = TK_IsEnclosureIRC(serial, &isIRC);
      QELFUZZ_CHECK(isIRC == 0 || isIRC == 1);
      if (rc != SES_OK) QELFUZZ_CHECK(isIRC == 0);
      break;
    }
    case 1: {
      const std::uint32_t record = r.u8() % 4;
      const std::uint32_t level = TK_GetFWLevel(serial, record);
      if (record != 1 && record != 2) QELFUZZ_CHECK(level == 0);
      break;
    }
    case 2: {
      auto page = Exact(kConfigPageSize);
      if (TK_ReadConfigPage(serial, page.get()) == SES_OK) QELFUZZ_CHECK(page[0] == kConfigPageCode);
      break;
    }
    case 3: {
      auto page = Exact(kStatusPageSize);
      if (TK_ReadStatusPage(serial, page.get()) == SES_OK) QELFUZZ_CHECK(page[0] == kStatusPageCode);
      break;
    }
    case 4: {
      // The control page selects the two power supplies only, with the mode in their low bits;
      // every other byte but the page header stays zero.
      const PcmParams params{serial, static_cast<std::int32_t>(r.u8() % (kHighestMode + 1))};
      qelfuzz::transport.lastWritten.clear();
      const std::int32_t rc = UpdateElementControlPage(&params);
      QELFUZZ_CHECK(rc == 0 || rc == 1);
      const auto &page = qelfuzz::transport.lastWritten;
      if (page.empty()) break;
      QELFUZZ_CHECK(page.size() == kStatusPageSize);
      QELFUZZ_CHECK(page[0] == kStatusPageCode);
      QELFUZZ_CHECK(qel::load_be16(page.data() + 2) == kStatusPageSize - 4);
      for (std::size_t i = 4; i < page.size(); ++i) {
        const bool element = (i >= 184 && i < 188) || (i >= 188 && i < 192);
        if (!element) QELFUZZ_CHECK(page[i] == 0);
      }
      for (const std::size_t e : kPowerSupplyElementOffsets) {
        QELFUZZ_CHECK((page[e] & 0x80) != 0);
        QELFUZZ_CHECK((page[e + 1] & 0x07) == params.mode);
      }
      break;
    }
    case 5: {
      // A set of up to eight entries and a text, all from the input.
      std::vector<std::string> entries(r.u8() % 9);
      for (std::string &e : entries) e = r.text(12);
      const std::string text = r.text(16);
      std::vector<const char *> set;
      for (const std::string &e : entries) set.push_back(e.c_str());
      const int in = StrInSet(text.c_str(), set.data(), static_cast<std::int32_t>(set.size()));
      bool expected = false;
      for (const std::string &e : entries) expected = expected || text.compare(0, e.size(), e) == 0;
      QELFUZZ_CHECK(in == (expected ? 1 : 0));
      break;
    }
    default: {
      const Init init = kInits[r.u8() % 6];
      std::vector<std::uint8_t> in = r.bytes(8);
      in.resize(8, 0);
      auto control = Exact(kElementSize);
      auto status = Exact(kElementSize);
      std::memcpy(control.get(), in.data(), kElementSize);
      std::memcpy(status.get(), in.data() + kElementSize, kElementSize);
      init(control.get(), status.get());
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  qelfuzz::Setup("fuzz_config_irc");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  Reader r(data, size);
  const std::uint8_t op = r.u8();
  const std::uint8_t flags = r.u8();
  qelfuzz::Run run((flags & 0x01) == 0);
  qelfuzz::transport = {};
  qelfuzz::transport.reader = &r;
  RunOp(op, r);
  qelfuzz::transport.reader = nullptr;
  return 0;
}

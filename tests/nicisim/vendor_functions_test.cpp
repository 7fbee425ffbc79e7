// The vendor functions beyond VPD, driven with hand-built StringOut pages: what each answers,
// what it leaves in the lab, the firmware download sequence, the LIP round trip, a fault on
// one chunk of a controller-memory read, and the state file keeping all of it.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "byteorder.h"
#include "cirequest.h"
#include "niciClient.h"
#include "simstate.h"

using citest::Exchange;
using citest::ReadPage;
using citest::SendMessage;
using citest::StringOut;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr const char *kSerial = "IRC0001";

Bytes Page(std::uint8_t function, std::uint8_t device, std::uint8_t parameter, std::size_t size,
           std::size_t at = 12, const Bytes &data = {}) {
  Bytes page = StringOut(function, device, size);
  if (parameter != 0) page.at(9) = parameter;  // firmware pages end before byte 9
  std::copy(data.begin(), data.end(), page.begin() + static_cast<std::ptrdiff_t>(at));
  return page;
}

Bytes Slice(const Bytes &b, std::size_t at, std::size_t n) {
  return at + n <= b.size() ? Bytes(b.begin() + static_cast<std::ptrdiff_t>(at), b.begin() + static_cast<std::ptrdiff_t>(at + n))
                            : Bytes{};
}

// Sends a page and returns the short enclosure status that follows it, as a writer sees it.
int Write(const Bytes &page) {
  if (Exchange(SendMessage(kSerial, page)).resultWord() != 0) return -1;
  const Bytes status = ReadPage(kSerial, 8, 4);
  return status.empty() ? -1 : status[1];
}

Bytes Ask(const Bytes &page, std::uint32_t length) {
  Exchange(SendMessage(kSerial, page));
  return ReadPage(kSerial, 4, length);
}

std::uint32_t BitwiseCrc32(const Bytes &data) {
  std::uint32_t c = 0xFFFFFFFFu;
  for (std::uint8_t b : data) {
    c ^= b;
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
  }
  return ~c;
}

class VendorFunctions : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(niCIOpen(), 0); }
  void TearDown() override { niCIClose(); }
  nicisim::Enclosure Stored() const {
    nicisim::Lab lab = lab_.Load();
    return *nicisim::FindEnclosure(lab, kSerial);
  }
  citest::ScratchLab lab_{"nicisim-vendor"};
};

struct Row {
  const char *name;
  std::function<void(nicisim::Enclosure &)> prepare;  // lab before the request, or none
  Bytes request;
  std::uint32_t answerLength;  // 0: a command page, judged by the short status after it
  bool refused;
  std::vector<std::pair<std::size_t, Bytes>> answer;   // expected answer bytes at offsets
  std::function<void(const nicisim::Enclosure &)> state;  // the lab afterwards, or none
};

TEST_F(VendorFunctions, EachFunctionAnswersAndKeepsItsEffect) {
  using E = const nicisim::Enclosure &;
  const Bytes ff(32, 0xFF);
  const Row rows[] = {
      // Memory words hold their address XOR device << 24; 0x12346 is two bytes into a word.
      {"controller memory", nullptr, Page(0x4B, 1, 0, 16, 12, {0x00, 0x01, 0x23, 0x46}), 266, false,
       {{8, {1, 0, 0x23, 0x44, 0x01, 0x01, 0x23, 0x48}}, {262, {0x24, 0x40, 0x01, 0x01}}}, nullptr},
      {"error log", nullptr, Page(0x92, 0, 2, 12), 496, false,
       {{12, {0, 69}}, {14, Bytes{'0', '0', '0', '1', ' ', 'E'}}, {82, {'\n', 0}}}, nullptr},
      {"POST log", nullptr, Page(0x92, 0, 1, 12), 266, false, {{12, {0, 42}}, {14, Bytes{'E', 'S', 'M', ' ', 'A'}}}, nullptr},
      {"log 3 does not exist", nullptr, Page(0x92, 0, 3, 12), 496, true, {}, nullptr},
      {"LESB counters", nullptr, Page(0xB0, 2, 0, 12), 252, false,
       {{12, {0, 0, 0x0B, 0xB8}}, {248, {0, 0, 0x0C, 0x17}}}, nullptr},
      {"LESB reset port 9", nullptr, Page(0xB1, 2, 9, 12), 0, false, {},
       [](E e) {
         const Bytes block = e.lesb.at(2);
         EXPECT_EQ(Slice(block, 9 * 24, 24), Bytes(24, 0));
         EXPECT_EQ(Slice(block, 8 * 24, 4), (Bytes{0, 0, 0x0C, 0x08}));  // 3080 untouched
       }},
      {"LESB reset port 10", nullptr, Page(0xB1, 2, 10, 12), 0, true, {}, [](E e) { EXPECT_TRUE(e.lesb.empty()); }},
      {"ALPA map", nullptr, Page(0xB2, 1, 0, 12), 36, false, {{12, {23, 0x02, 0x04}}, {35, {0x01}}}, nullptr},
      {"connector map", nullptr, Page(0xB4, 0, 0, 12), 28, false,
       {{12, {0, 1, 0, 1, 1, 1, 1, 1, 2, 2, 2, 1, 3, 2, 3, 0}}}, nullptr},
      {"LIP write", nullptr, Page(0xB9, 3, 0, 24, 12, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}), 0, false, {},
       [](E e) {
         EXPECT_EQ(e.lip.at(3).words, (std::array<std::uint32_t, 3>{0x01020304, 0x05060708, 0x090A0B0C}));
       }},
      {"LIP write too short", nullptr, Page(0xB9, 3, 0, 20), 0, true, {}, [](E e) { EXPECT_TRUE(e.lip.empty()); }},
      {"events register", nullptr, Page(0xC0, 2, 0, 44, 12, ff), 0, false, {},
       [](E e) { EXPECT_EQ(e.events.registered[31], 0xFF); EXPECT_EQ(e.events.registrations, 1u); }},
      {"events read: occurred and registered only",
       [](nicisim::Enclosure &e) { e.events.pending[0] = 0x05; e.events.pending[31] = 0x80; e.events.registered[0] = 0x04; },
       Page(0xC0, 0x82, 0, 44), 44, false, {{12, {0x04, 0}}, {43, {0}}}, nullptr},
      {"events clear", [](nicisim::Enclosure &e) { e.events.pending[7] = 0x11; }, Page(0xC0, 3, 0, 44, 12, ff), 0, false,
       {}, [](E e) { EXPECT_EQ(e.events.pending[7], 0); EXPECT_EQ(e.events.clears, 1u); }},
      {"events sub-function 4", nullptr, Page(0xC0, 4, 0, 44, 12, ff), 0, true, {}, nullptr},
      {"date and time set", nullptr, Page(0xD0, 26, 12, 16, 10, {6, 10, 30, 59}), 0, false, {},
       [](E e) { EXPECT_EQ(e.clock.fields, (std::array<std::uint8_t, 6>{26, 12, 6, 10, 30, 59})); }},
      {"date and time read", [](nicisim::Enclosure &e) { e.clock.fields = {44, 13, 2, 3, 4, 5}; },
       Page(0xD0, 0, 0, 16), 16, false, {{8, {44, 13, 2, 3, 4, 5, 0, 0}}}, [](E e) { EXPECT_EQ(e.clock.sets, 0u); }},
      {"debug command", nullptr, Page(0xFF, 0, 0, 204, 12, {'v', 'e', 'r', 0}), 204, false,
       {{12, {'>', ' ', 'v', 'e', 'r', '\n', 'o', 'k', '\n', 0}}},
       [](E e) { EXPECT_EQ(e.lastDebugCommand, "ver"); EXPECT_EQ(e.debugCommands, 1u); }},
      {"debug command without its NUL", nullptr, Page(0xFF, 0, 0, 16, 12, {'a', 'b', 'c', 'd'}), 204, true, {},
       [](E e) { EXPECT_EQ(e.debugCommands, 0u); }},
      {"controller reset", nullptr, Page(0x2D, 1, 0, 12), 0, false, {},
       [](E e) { ASSERT_EQ(e.commands.size(), 1u); EXPECT_EQ(e.commands[0].function, 0x2D); EXPECT_EQ(e.commands[0].device, 1); }},
      {"statesave", nullptr, Page(0x99, 0, 3, 12), 0, false, {},
       [](E e) { ASSERT_EQ(e.commands.size(), 1u); EXPECT_EQ(e.commands[0].function, 0x99); EXPECT_EQ(e.commands[0].parameter, 3); }},
      {"firmware data without a start", nullptr, Page(0x3C, 2, 0, 12), 0, true, {},
       [](E e) { EXPECT_EQ(e.firmware.state, nicisim::FirmwareState::None); }},
      {"firmware commit without an image", nullptr, Page(0x3C, 0x82, 0, 9), 0, true, {}, nullptr},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    nicisim::Lab lab = nicisim::DefaultLab();
    if (r.prepare) r.prepare(*nicisim::FindEnclosure(lab, kSerial));
    lab_.Save(lab);
    if (r.answerLength == 0) {
      const int status = Write(r.request);
      EXPECT_EQ(status != 0, r.refused) << "short status " << status;
    } else {
      const Bytes in = Ask(r.request, r.answerLength);
      ASSERT_EQ(in.size(), r.answerLength);
      EXPECT_EQ(in[0], 4);
      EXPECT_EQ(in[4], r.request[4]);
      EXPECT_EQ(in[5] != 0, r.refused);
      for (const auto &[at, bytes] : r.answer) EXPECT_EQ(Slice(in, at, bytes.size()), bytes) << "at " << at;
    }
    if (r.state) r.state(Stored());
  }
}

TEST_F(VendorFunctions, FirmwareImageIsReassembledInOrderAndCommitted) {
  EXPECT_EQ(BitwiseCrc32({'1', '2', '3', '4', '5', '6', '7', '8', '9'}), 0xCBF43926u);  // the helper itself
  Bytes image(603);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
  auto data = [&](std::size_t from, std::size_t n) { return Page(0x3C, 2, 0, 9 + n, 9, Slice(image, from, n)); };
  Bytes start = Page(0x3C, 2 | 0x40, 0, 9);
  qel::store_be16(start.data() + 2, 5);
  const Bytes commit = [&] { Bytes c = Page(0x3C, 2 | 0x80, 0, 9); qel::store_be16(c.data() + 2, 5); return c; }();
  Bytes lying = data(0, 10);
  qel::store_be16(lying.data() + 2, 16);  // says 11 data bytes, carries 10

  EXPECT_EQ(Write(start), 0);
  EXPECT_EQ(Write(data(0, 503)), 0);
  EXPECT_NE(Write(lying), 0) << "a data page whose length field disagrees is refused";
  EXPECT_NE(Write(Page(0x3C, 3, 0, 20)), 0) << "a data page for another device is refused";
  EXPECT_EQ(Write(data(503, 100)), 0);
  nicisim::FirmwareDownload fw = Stored().firmware;
  EXPECT_EQ(fw.state, nicisim::FirmwareState::Receiving);
  EXPECT_NE(Write(Page(0x3C, 1 | 0x80, 0, 9)), 0) << "a commit for another device is refused";
  EXPECT_EQ(Write(commit), 0);

  fw = Stored().firmware;
  EXPECT_EQ(fw.state, nicisim::FirmwareState::Committed);
  EXPECT_EQ(fw.device, 2);
  EXPECT_EQ(fw.size, 603u);
  EXPECT_EQ(fw.pages, 2u);
  EXPECT_EQ(fw.crc, BitwiseCrc32(image));
  char line[96];
  std::snprintf(line, sizeof line, "firmware device=2 size=603 crc32=%08x pages=2 committed=yes\n", BitwiseCrc32(image));
  EXPECT_NE(lab_.Encsim({"show", kSerial}).out.find(line), std::string::npos) << line;
  // A second commit has nothing new to install.
  EXPECT_NE(Write(commit), 0);
}

TEST_F(VendorFunctions, LipPageWrittenIsReadBackPerDeviceAcrossProcesses) {
  ASSERT_EQ(Write(Page(0xB9, 3, 0, 24, 12, {0xA0, 0xB0, 0xC0, 0xD0, 0, 0, 0, 1, 0xFF, 0xFF, 0xFF, 0xFE})), 0);
  niCIClose();
  ASSERT_EQ(niCIOpen(), 0);
  const Bytes in = Ask(Page(0xB8, 3, 0, 12), 172);
  ASSERT_EQ(in.size(), 172u);
  EXPECT_EQ(in[8], 3);
  EXPECT_EQ(Slice(in, 12, 16), (Bytes{0xA0, 0xB0, 0xC0, 0xD0, 0, 0, 0, 1, 0xFF, 0xFF, 0xFF, 0xFE, 0, 0, 0, 1}));
  EXPECT_EQ(Slice(Ask(Page(0xB8, 4, 0, 12), 172), 12, 16), Bytes(16, 0)) << "device 4 was never written";
  EXPECT_NE(lab_.Encsim({"show", kSerial}).out.find("lip device=3 words=a0b0c0d0 00000001 fffffffe writes=1\n"),
            std::string::npos);
}

TEST_F(VendorFunctions, FaultHitsOnlyTheThirdControllerMemoryChunk) {
  ASSERT_EQ(lab_.Encsim({"fault", kSerial, "strstatus", "--func", "0x4B", "--skip", "2", "--scope", "receive"}).status, 0);
  const std::uint32_t chunks[] = {0x1000, 0x1100, 0x1200, 0x1200};
  const bool hit[] = {false, false, true, false};
  for (std::size_t i = 0; i < std::size(chunks); ++i) {
    SCOPED_TRACE(i);
    Bytes request = Page(0x4B, 0, 0, 16);
    qel::store_be32(request.data() + 12, chunks[i]);
    const Bytes in = Ask(request, 266);
    ASSERT_EQ(in.size(), 266u);
    EXPECT_EQ(in[5] != 0, hit[i]);
    if (!hit[i]) {
      EXPECT_EQ(qel::load_be32(in.data() + 10), chunks[i]);
      EXPECT_EQ(qel::load_be32(in.data() + 262), chunks[i] + 252);
    }
  }
  EXPECT_TRUE(Stored().faults.empty());
}

TEST(VendorState, StateFileKeepsControllerStateAndOldFilesStillLoad) {
  nicisim::Lab lab = nicisim::DefaultLab();
  nicisim::Enclosure &e = lab.enclosures.front();
  for (const char *s : {"errlog=disk 4 gone", "lesb=7:2:99", "event=200"}) ASSERT_EQ(nicisim::ApplySetting(e, s), "");
  e.lip[5] = {{1, 0xFFFFFFFF, 3}, 2};
  e.events.registered[3] = 0x40;
  e.events.registrations = 4;
  e.clock = {{26, 2, 29, 23, 59, 58}, 3};
  e.lastDebugCommand = "set x=1";
  e.debugCommands = 9;
  e.commands = {{0x2D, 1, 0}, {0x99, 0, 3}};
  e.firmware = {nicisim::FirmwareState::Receiving, 2, 1006, 0x89ABCDEF, 2};
  nicisim::Fault f;
  f.skip = 2;
  e.faults.push_back(f);
  const std::string text = nicisim::FormatLab(lab);
  nicisim::Lab back;
  std::string error;
  ASSERT_TRUE(nicisim::ParseLab(text, back, error)) << error;
  EXPECT_EQ(nicisim::FormatLab(back), text);
  EXPECT_EQ(back.enclosures.front().firmware.crc, 0x89ABCDEFu);
  EXPECT_EQ(back.enclosures.front().faults.at(0).skip, 2);

  // A file from before the controller state was kept: no such lines, no skip word.
  std::string old = "nicisim-lab 1\nenclosure OLD1\nfault busy scope=any page=* func=* count=1 value=*\n";
  const nicisim::Enclosure fresh = nicisim::MakeEnclosure("OLD1", nicisim::EnclosureKind::Irc);
  old += "config " + std::to_string(fresh.config.size()) + "\n" + nicisim::HexLines(fresh.config, "  ");
  old += "status 224\n" + nicisim::HexLines(fresh.status, "  ") + "end\n";
  ASSERT_TRUE(nicisim::ParseLab(old, back, error)) << error;
  EXPECT_TRUE(back.enclosures.front().errorLog.empty());
  EXPECT_EQ(back.enclosures.front().firmware.state, nicisim::FirmwareState::None);
  EXPECT_EQ(back.enclosures.front().faults.at(0).skip, 0);
  EXPECT_FALSE(nicisim::ParseLab(old + "enclosure X2\nfirmware sideways 2 1 0x1 1\nend\n", back, error));
}

}  // namespace

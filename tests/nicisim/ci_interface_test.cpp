// The client interface driven with hand-built messages: pages, the control page as sg_ses
// decodes it, unknown serials, malformed messages, calls out of order, faults, and the vendor
// functions.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>

#include "cirequest.h"
#include "niciClient.h"

using namespace citest;
using namespace std::string_literals;

namespace {

constexpr const char *kSerial = "IRC0001";

class CiInterface : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(niCIOpen(), 0); }
  void TearDown() override { niCIClose(); }
  ScratchLab lab_{"nicisim-ci"};
};

TEST_F(CiInterface, PagesAreServedPaddedOrCutAtTheAllocationLength) {
  const struct { const char *serial; std::uint8_t page; std::uint32_t length; Spots expected; } cases[] = {
      {kSerial, 1, 296,
       {{0, "\x01\0\0\xF6"s}, {28, "5284"}, {34, "11"}, {68, "0310"}, {90, "000C"}, {100, "0310"}, {122, "000C"}}},
      {"JBOD0003", 1, 296, {{68, "0320"}, {90, "0007"}}},
      {kSerial, 2, 224, {{0, "\x02\0\0\xDC"s}, {184, "\x01\x03\0\x20"s}, {188, "\x01\x03\0\x20"s}}},
      {kSerial, 8, 4, {{0, "\x08\0\0\0"s}}},
      {kSerial, 1, 9, {{0, "\x01"}, {8, "\x11"}}},
      {kSerial, 0, 16, {{0, "\0\0\0\x05\0\x01\x02\x04\x08\0"s}}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.serial) + " page " + std::to_string(c.page) + " length " + std::to_string(c.length));
    const Bytes p = ReadPage(c.serial, c.page, c.length, 12);
    ASSERT_EQ(p.size(), c.length);
    ExpectSpots(p, c.expected);
    const std::size_t used = std::min<std::size_t>(qel::load_be16(p.data() + 2) + 4u, p.size());
    EXPECT_EQ(Text(p, used, p.size() - used), std::string(p.size() - used, '\0')) << "padding";
  }
}

TEST_F(CiInterface, UnknownSerialGetsApplicationResult500) {
  for (const char *serial : {"NOSUCH", "", "irc0001"}) {
    const Answer a = Exchange(ReceiveMessage(serial, 2, 224));
    ASSERT_EQ(a.rc, 0);
    EXPECT_EQ(a.directive(), 0);
    EXPECT_EQ(a.appResult(), -500) << serial;
  }
}

TEST_F(CiInterface, ControlPageSelectedElementsShowInStatusAsSgSesDecodesThem) {
  Bytes control(224, 0);
  // Power supply 1 selected and asked to fail (low bits of byte 0 are no control); 2 not selected.
  Patch(control, {{0, "\x02\0\0\xDC"s}, {184, "\x8F\x85\x70\x40"}, {188, "\0\x86\0\x40"s}});
  ASSERT_EQ(Exchange(SendMessage(kSerial, control)).resultWord(), 0u);
  const Bytes status = ReadPage(kSerial, 2, 224);
  EXPECT_EQ(Text(status, 184, 4), "\x01\x85\x70\x60");
  EXPECT_EQ(Text(status, 188, 4), "\x01\x03\0\x20"s);
  control.resize(200);
  control[185] = 0x82;
  EXPECT_NE(Exchange(SendMessage(kSerial, control)).resultWord(), 0u) << "wrong size";
  EXPECT_EQ(ReadPage(kSerial, 2, 224), status);

  if (std::strlen(QEL_TEST_EMULATOR) != 0 || std::system("command -v sg_ses >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "sg_ses runs on the host only, and must be installed";
  }
  const std::string hex = lab_.dir() + "/pages.hex";
  std::ofstream(hex) << lab_.Encsim({"page", kSerial, "config"}).out << lab_.Encsim({"page", kSerial, "status"}).out;
  auto count = [](const std::string &text, const std::string &what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  };
  const qeltest::ProcResult cf = qeltest::RunProcess({"sg_ses", "--inhex=" + hex, "--status", "--page=cf"});
  ASSERT_EQ(cf.status, 0) << cf.err;
  for (const char *text : {"number of type descriptor headers: 10", "product: 5284-E11-IRC",
                           "Element type: Power supply, subenclosure id: 0\n      number of possible elements: 2\n"
                           "      text: Power Supply"}) {
    EXPECT_TRUE(Has(cf.out, text)) << cf.out;
  }
  const qeltest::ProcResult es = qeltest::RunProcess({"sg_ses", "--inhex=" + hex, "--status", "--page=es"});
  ASSERT_EQ(es.status, 0) << es.err;
  EXPECT_EQ(count(es.out, "Element type:"), 10u);
  EXPECT_EQ(count(es.out, "status: OK"), 44u);  // every individual element, no overall one
  const std::size_t psu = es.out.find("Element type: Power supply");
  ASSERT_NE(psu, std::string::npos);
  const std::string psuText = es.out.substr(psu, es.out.find("Element type:", psu + 1) - psu);
  EXPECT_EQ(count(psuText, "Fail=1"), 1u) << psuText;
  EXPECT_EQ(count(psuText, "Requested on=1"), 2u);
}

TEST_F(CiInterface, MalformedMessagesGetANonzeroDirectiveStatus) {
  const struct { const char *name; Spots spoil; bool resultWordInstead; } cases[] = {
      {"header word", {{1, "\x03"}}, false},
      {"total length", {{4, "\0\0\x03\xE8"s}}, false},
      {"function code", {{153, "\x3A"}}, false},
      {"function qualifier", {{155, "\0"s}}, false},
      {"serial not terminated", {{10, std::string(38, 'A')}}, false},
      {"command count", {{191, "\x02"}}, false},
      {"data-in region absent", {{104, "\x01"}}, false},
      {"data-out region present", {{80, "\x08"}}, false},
      {"status region start", {{144, "\0\0\0\x07"s}}, false},
      {"data region longer than message", {{124, "\0\0\x13\x88"s}, {144, "\0\0\x13\x9C"s}}, false},
      {"cdb length", {{196, "\x07"}}, false},
      {"opcode", {{192, "\x12"}}, true},
      {"pcv bit", {{193, "\0"s}}, true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    Bytes m = ReceiveMessage(kSerial, 2, 224);
    Patch(m, c.spoil);
    const Answer a = Exchange(m);
    ASSERT_EQ(a.rc, 0);
    EXPECT_NE(c.resultWordInstead ? a.resultWord() : a.directive(), 0u);
    EXPECT_EQ(a.data(224), Bytes(224, 0)) << "a refused message carries no page";
  }
  EXPECT_NE(Exchange(Bytes(40, 0)).rc, 0) << "too short to hold the directive status";
  EXPECT_GE(lab_.LogLines().size(), std::size(cases));
}

TEST(CiCallOrder, ViolationsFailAndAreLogged) {
  ScratchLab lab("nicisim-order");
  std::uint8_t options[12] = {}, result[64] = {}, response[24] = {};
  Bytes req = ReceiveMessage(kSerial, 8, 4), buffer(req.size(), 0);
  void *address = buffer.data();
  std::memcpy(response + 24 - sizeof address, &address, sizeof address);
  auto send = [&](std::initializer_list<int> set) {
    std::memset(options, 0, sizeof options);
    for (int option : set) niCISetOptions(options, option, 1);
    return niCISendSyncRequest(req.data(), static_cast<std::uint32_t>(req.size()), options, result, response);
  };
  // violates: true when the call failed as it should; logged: in the line it left, if any.
  const struct { const char *name; std::function<bool()> violates; const char *logged; } steps[] = {
      {"close without open", [] { return niCIClose() != 0 && errno == ENOTCONN; }, "niCIClose"},
      {"request before open", [&] { return send({2, 0}) != 0; }, "before niCIOpen"},
      {"open", [] { return niCIOpen() == 0; }, nullptr},
      {"status of a block never answered", [&] { return niCIBGetRequestStatus(response) != 0; }, "holds no answer"},
      {"option 2 not set", [&] { return send({0}) != 0 && errno == EINVAL; }, "options 2 and 0"},
      {"option 0 not set", [&] { return send({2}) != 0; }, "options 2 and 0"},
      {"proper request", [&] { return send({2, 0}) == 0 && niCIBGetRequestStatus(response) == 0; }, nullptr},
      {"body before size", [&] { return niCIBGetRequest(response) == nullptr; }, "before niCIBGetRequestSize"},
      {"size then body", [&] {
         return niCIBGetRequestSize(response) == std::ssize(buffer) && niCIBGetRequest(response) == buffer.data();
       }, nullptr},
      {"option number out of range", [&] { return niCISetOptions(options, 3, 1) != 0; }, "niCISetOptions"},
      {"open twice", [] { return niCIOpen() != 0; }, "while the connection is open"},
      {"close", [] { return niCIClose() == 0; }, nullptr},
      {"close twice", [] { return niCIClose() != 0; }, "niCIClose"},
  };
  for (const auto &s : steps) {
    SCOPED_TRACE(s.name);
    const std::size_t linesBefore = lab.LogLines().size();
    EXPECT_TRUE(s.violates());
    const std::vector<std::string> lines = lab.LogLines();
    ASSERT_EQ(lines.size(), linesBefore + (s.logged != nullptr ? 1 : 0));
    EXPECT_TRUE(s.logged == nullptr || Has(lines.back(), s.logged)) << lines.back();
  }
}

std::uint8_t At(const Answer &a, std::size_t i) { return a.body.at(204 + i); }
Answer ReadStatus() { return Exchange(ReceiveMessage(kSerial, 2, 224)); }
Answer ReadShortStatus() { return Exchange(ReceiveMessage(kSerial, 8, 4)); }
Answer ReadRdp() {
  Exchange(SendMessage(kSerial, StringOut(0x69, 16, 12)));
  return Exchange(ReceiveMessage(kSerial, 4, 512));
}
Answer WriteThenRead() {
  Exchange(SendMessage(kSerial, StringOut(0x5A, 16, 512, {{12, "\x01\xF1"s}, {406, "PCM=7"}})));
  return ReadRdp();
}

TEST_F(CiInterface, EachFaultKindHitsWhileItsCountLastsThenStops) {
  const struct { const char *kind, *value; Answer (*command)(); bool (*hit)(const Answer &); } cases[] = {
      {"busy", nullptr, ReadStatus, [](const Answer &a) { return a.rc != 0 && a.error == EBUSY; }},
      {"sendfail", nullptr, ReadStatus, [](const Answer &a) { return a.rc != 0 && a.error != EBUSY && a.error != 0; }},
      {"reqstatus", nullptr, ReadStatus, [](const Answer &a) { return a.rc == 0 && a.status != 0; }},
      {"directive", "-1", ReadStatus, [](const Answer &a) { return a.directive() == 0xFF && At(a, 0) == 0; }},
      {"result", nullptr, ReadStatus, [](const Answer &a) { return a.appResult() < 0 && a.directive() == 0; }},
      {"result", "0x01000000", ReadStatus, [](const Answer &a) { return a.resultWord() == 0x01000000u; }},
      {"pagecode", "1", ReadStatus, [](const Answer &a) { return At(a, 0) == 1; }},
      {"shortstatus", "5", ReadShortStatus, [](const Answer &a) { return At(a, 1) == 5; }},
      {"strstatus", nullptr, ReadRdp, [](const Answer &a) { return At(a, 5) != 0; }},
      {"function", nullptr, ReadRdp, [](const Answer &a) { return At(a, 4) == 0x5A; }},
      {"device", nullptr, ReadRdp, [](const Answer &a) { return At(a, 8) == 17; }},
      {"vpdlength", nullptr, ReadRdp, [](const Answer &a) { return Text(a.data(512), 12, 2) == "\x01\xF0"; }},
      {"vpdchecksum", nullptr, ReadRdp, [](const Answer &a) { return XorFrom12(a.data(512)) != 0; }},
      {"nostore", nullptr, WriteThenRead, [](const Answer &a) { return At(a, 410) != '7'; }},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.kind) + " " + (c.value != nullptr ? c.value : ""));
    lab_.Encsim({"reset"});
    std::vector<std::string> args{"fault", kSerial, c.kind, "--count", "2"};
    if (c.value != nullptr) args.insert(args.end(), {"--value", c.value});
    lab_.Encsim(args);
    for (int i = 1; i <= 3; ++i) {
      EXPECT_EQ(c.hit(c.command()), i <= 2) << "command " << i;
      EXPECT_EQ(Has(lab_.Encsim({"show", kSerial}).out, " count=1 value="), i == 1) << "after command " << i;
    }
  }
}

TEST_F(CiInterface, AlwaysFaultsStayAndScopesPickTheirCommands) {
  lab_.Encsim({"fault", kSerial, "shortstatus", "--always", "--value", "5"});
  for (int i = 0; i < 4; ++i) EXPECT_EQ(ReadShortStatus().body.at(205), 5);
  EXPECT_TRUE(Has(lab_.Encsim({"show", kSerial}).out, "\nfault shortstatus scope=any page=* func=* count=always"));
  EXPECT_EQ(ReadPage("IRC0002", 8, 4).at(1), 0) << "other enclosures are untouched";
  lab_.Encsim({"fault", kSerial, "clear"});
  lab_.Encsim({"fault", kSerial, "busy", "--always", "--scope", "send", "--page", "4", "--func", "0x69"});
  lab_.Encsim({"fault", kSerial, "pagecode", "--always", "--value", "9", "--scope", "receive", "--page", "1"});
  EXPECT_EQ(ReadStatus().rc, 0);
  EXPECT_EQ(Exchange(SendMessage(kSerial, StringOut(0x2D, 1, 12))).rc, 0);
  EXPECT_EQ(Exchange(SendMessage(kSerial, StringOut(0x69, 16, 12))).error, EBUSY);
  EXPECT_EQ(ReadPage(kSerial, 2, 224).at(0), 2);
  EXPECT_EQ(ReadPage(kSerial, 1, 296).at(0), 9);
  EXPECT_EQ(ReadShortStatus().body.at(205), 0);
}

// The vendor functions one after another on one enclosure: what each answers and what encsim
// shows it left in the lab, VPD checksums and the firmware download sequence included.
TEST_F(CiInterface, EachVendorFunctionAnswersAndKeepsItsEffect) {
  const Bytes vpd = StringOut(0x5A, 16, 512, {{12, "\x01\xF1"s}, {406, "PCM=6PRS=2"}, {511, "\x42"}});  // bad checksum
  const std::string lip = "\xA0\xB0\xC0\xD0\0\0\0\x01\xFF\xFF\xFF\xFE"s;
  // length 0: a command page, judged by the short status after it; shown: in encsim show afterwards.
  const struct { const char *name; Bytes page; unsigned length; bool refused; Spots in; const char *shown; } rows[] = {
      // VPD images end in a checksum byte that makes their record (from byte 12) XOR to 0.
      {"RDP VPD", StringOut(0x69, 16, 12), 512, false,
       {{0, "\x04\0\x01\xFC\x69\0\0\0\x10\0\0\0\x01\xF1"s}, {406, "PCM=3PRS=1"}, {511, "\xE7"}}, nullptr},
      {"IC VPD", StringOut(0x69, 2, 12), 268, false, {{0, "\x04\0\x01\x08\x69\0\0\0\x02\0\0\0\0\xFD"s}, {267, "\xAB"}},
       nullptr},
      // Memory words hold their address XOR device << 24; 0x12346 is two bytes into a word.
      {"controller memory", StringOut(0x4B, 1, 16, {{12, "\0\x01\x23\x46"s}}), 266, false,
       {{8, "\x01\0\x23\x44\x01\x01\x23\x48"s}, {262, "\x24\x40\x01\x01"}}, nullptr},
      {"error log", StringOut(0x92, 0, 12, {{9, "\x02"}}), 496, false, {{12, "\0\x45" "0001 E"s}, {82, "\n\0"s}},
       nullptr},
      {"POST log", StringOut(0x92, 0, 12, {{9, "\x01"}}), 266, false, {{12, "\0\x2A" "ESM A"s}}, nullptr},
      {"log 3", StringOut(0x92, 0, 12, {{9, "\x03"}}), 496, true, {}, nullptr},
      {"LESB counters", StringOut(0xB0, 2, 12), 252, false, {{12, "\0\0\x0B\xB8"s}, {248, "\0\0\x0C\x17"s}}, nullptr},
      {"LESB reset port 9", StringOut(0xB1, 2, 12, {{9, "\x09"}}), 0, false, {}, "lesb device=2 port=9 0 0 0 0 0 0\n"},
      {"LESB after reset", StringOut(0xB0, 2, 12), 252, false, {{204, "\0\0\x0C\x08"s}, {228, std::string(24, '\0')}},
       nullptr},
      {"LESB reset port 10", StringOut(0xB1, 2, 12, {{9, "\x0A"}}), 0, true, {}, nullptr},
      {"ALPA map", StringOut(0xB2, 1, 12), 36, false, {{12, "\x17\x02\x04"}, {35, "\x01"}}, nullptr},
      {"connector map", StringOut(0xB4, 0, 12), 28, false,
       {{12, "\0\x01\0\x01\x01\x01\x01\x01\x02\x02\x02\x01\x03\x02\x03\0"s}}, nullptr},
      {"LIP write too short", StringOut(0xB9, 3, 20), 0, true, {}, nullptr},
      {"LIP write", StringOut(0xB9, 3, 24, {{12, lip}}), 0, false, {},
       "lip device=3 words=a0b0c0d0 00000001 fffffffe writes=1\n"},
      {"LIP read", StringOut(0xB8, 3, 12), 172, false, {{8, "\x03"}, {12, lip + "\0\0\0\x01"s}}, nullptr},
      {"LIP read, device never written", StringOut(0xB8, 4, 12), 172, false, {{12, std::string(16, '\0')}}, nullptr},
      {"events register", StringOut(0xC0, 2, 44, {{12, "\x04"}}), 0, false, {}, " registrations=1 clears=0\n"},
      {"events read", StringOut(0xC0, 0x82, 44), 44, false, {{12, "\x04\0"s}, {43, "\0"s}}, nullptr},
      {"events clear", StringOut(0xC0, 3, 44, {{12, std::string(32, '\xFF')}}), 0, false, {}, " clears=1\n"},
      {"events read after clear", StringOut(0xC0, 0x82, 44), 44, false, {{12, "\0"s}}, nullptr},
      {"events sub-function 4", StringOut(0xC0, 4, 44), 0, true, {}, nullptr},
      {"date and time set", StringOut(0xD0, 26, 16, {{9, "\x0C\x06\x0A\x1E\x3B"}}), 0, false, {},
       "datetime year=26 month=12 day=6 time=10:30:59 sets=1\n"},
      {"date and time read", StringOut(0xD0, 0, 16), 16, false, {{8, "\x1A\x0C\x06\x0A\x1E\x3B\0\0"s}}, " sets=1\n"},
      {"debug command without its NUL", StringOut(0xFF, 0, 16, {{12, "abcd"}}), 204, true, {}, "debug none\n"},
      {"debug command", StringOut(0xFF, 0, 204, {{12, "ver"}}), 204, false, {{12, "> ver\nok\n\0"s}},
       "debug count=1 last=\"ver\"\n"},
      {"controller reset", StringOut(0x2D, 1, 12), 0, false, {}, "reset device=1\n"},
      {"statesave", StringOut(0x99, 0, 12, {{9, "\x03"}}), 0, false, {}, "device=1\nstatesave device=0 action=3\n"},
      {"unmodelled function", StringOut(0x77, 0, 12), 12, true, {}, nullptr},
      {"VPD write is kept as sent", vpd, 0, false, {}, "pcm 6\nprs 2\nvpd 16 length 497 ok checksum BAD\n"},
      {"VPD read", StringOut(0x69, 16, 12), 512, false, {{12, Text(vpd, 12, 500)}}, nullptr},
      {"firmware data without a start", StringOut(0x3C, 2, 12), 0, true, {}, "firmware none\n"},
      {"firmware commit without an image", StringOut(0x3C, 0x82, 9), 0, true, {}, nullptr},
      {"firmware start", StringOut(0x3C, 0x40 | 2, 9), 0, false, {}, "firmware device=2 size=0 crc32=00000000 pages=0"},
      {"firmware data 1", StringOut(0x3C, 2, 512, {{9, std::string(503, 'A')}}), 0, false, {}, nullptr},
      {"firmware data whose length field disagrees", StringOut(0x3C, 2, 19, {{2, "\0\x10"s}}), 0, true, {}, nullptr},
      {"firmware data for another device", StringOut(0x3C, 3, 20), 0, true, {}, nullptr},
      {"firmware data 2", StringOut(0x3C, 2, 109, {{9, std::string(100, 'B')}}), 0, false, {}, "pages=2 committed=no"},
      {"firmware commit for another device", StringOut(0x3C, 0x80 | 1, 9), 0, true, {}, nullptr},
      {"firmware commit", StringOut(0x3C, 0x80 | 2, 9), 0, false, {},
       "firmware device=2 size=603 crc32=3037cf8a pages=2 committed=yes\n"},  // zlib.crc32 of 503 'A', 100 'B'
      {"firmware commit again", StringOut(0x3C, 0x80 | 2, 9), 0, true, {}, nullptr},
  };
  lab_.Encsim({"set", kSerial, "event=0", "event=2", "event=255"});
  for (const auto &r : rows) {
    SCOPED_TRACE(r.name);
    ASSERT_EQ(Exchange(SendMessage(kSerial, r.page)).resultWord(), 0u);
    if (r.length == 0) {
      EXPECT_EQ(ReadPage(kSerial, 8, 4).at(1) != 0, r.refused);
    } else {
      const Bytes in = ReadPage(kSerial, 4, r.length);
      ASSERT_EQ(in.size(), r.length);
      EXPECT_EQ(Text(in, 0, 1) + Text(in, 4, 1), "\x04"s + static_cast<char>(r.page[4]));
      EXPECT_EQ(in[5] != 0, r.refused);
      ExpectSpots(in, r.in);
      EXPECT_NE(ReadPage(kSerial, 4, 12).at(5), 0) << "a second read finds nothing pending";
    }
    EXPECT_TRUE(r.shown == nullptr || Has(lab_.Encsim({"show", kSerial}).out, r.shown)) << r.shown;
  }
}

TEST_F(CiInterface, FaultHitsOnlyTheThirdControllerMemoryChunk) {
  lab_.Encsim({"fault", kSerial, "strstatus", "--func", "0x4B", "--skip", "2", "--scope", "receive"});
  const std::string chunks[] = {"\0\0\x10\0"s, "\0\0\x11\0"s, "\0\0\x12\0"s, "\0\0\x12\0"s};
  for (std::size_t i = 0; i < std::size(chunks); ++i) {
    SCOPED_TRACE(i);
    Exchange(SendMessage(kSerial, StringOut(0x4B, 0, 16, {{12, chunks[i]}})));
    const Bytes in = ReadPage(kSerial, 4, 266);
    ASSERT_EQ(in.size(), 266u);
    EXPECT_EQ(in[5] != 0, i == 2);
    EXPECT_TRUE(i == 2 || Text(in, 10, 4) == chunks[i]) << "the chunk read";
  }
  EXPECT_FALSE(Has(lab_.Encsim({"show", kSerial}).out, "\nfault "));
}

}  // namespace

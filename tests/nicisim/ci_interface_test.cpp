// The client interface driven with hand-built messages: pages, the StringOut/StringIn
// protocol, VPD images, unknown serials, malformed messages and calls out of order.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>

#include "byteorder.h"
#include "cirequest.h"
#include "niciClient.h"

using citest::Answer;
using citest::Exchange;
using citest::ReadPage;
using citest::ReceiveMessage;
using citest::SendMessage;
using citest::StringOut;

namespace {

std::string Text(const std::vector<std::uint8_t> &p, std::size_t at, std::size_t n) {
  return std::string(p.begin() + static_cast<std::ptrdiff_t>(at), p.begin() + static_cast<std::ptrdiff_t>(at + n));
}

class CiInterface : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(niCIOpen(), 0); }
  void TearDown() override { niCIClose(); }
  citest::ScratchLab lab_{"nicisim-ci"};
};

TEST_F(CiInterface, PagesAreServedPaddedOrCutAtTheAllocationLength) {
  struct Case {
    std::uint8_t page;
    std::uint32_t length;
    std::function<void(const std::vector<std::uint8_t> &)> check;
  };
  const Case cases[] = {
      {1, 296,
       [](const std::vector<std::uint8_t> &p) {
         EXPECT_EQ(p[0], 1);
         const std::size_t used = qel::load_be16(p.data() + 2) + 4u;
         EXPECT_LE(used, 296u);
         EXPECT_EQ(Text(p, 28, 4), "5284");
         EXPECT_EQ(Text(p, 34, 2), "11");
         EXPECT_EQ(Text(p, 68, 4), "0310");
         EXPECT_EQ(Text(p, 90, 4), "000C");
         EXPECT_EQ(Text(p, 100, 4), "0310");
         EXPECT_EQ(Text(p, 122, 4), "000C");
         for (std::size_t i = used; i < p.size(); ++i) ASSERT_EQ(p[i], 0) << "padding at " << i;
       }},
      {2, 224,
       [](const std::vector<std::uint8_t> &p) {
         EXPECT_EQ(p[0], 2);
         EXPECT_EQ(qel::load_be16(p.data() + 2), 220);
         EXPECT_EQ(p[184], 0x01);  // status OK
         EXPECT_EQ(p[185] & 7, 3);
         EXPECT_EQ(p[189] & 7, 3);
       }},
      {8, 4, [](const std::vector<std::uint8_t> &p) { EXPECT_EQ(p, (std::vector<std::uint8_t>{8, 0, 0, 0})); }},
      {1, 9, [](const std::vector<std::uint8_t> &p) { EXPECT_EQ(p[0], 1); EXPECT_EQ(p[8], 0x11); }},
      {0, 16,
       [](const std::vector<std::uint8_t> &p) {
         EXPECT_EQ(std::vector<std::uint8_t>(p.begin() + 4, p.begin() + 10), (std::vector<std::uint8_t>{0, 1, 2, 4, 8, 0}));
       }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE("page " + std::to_string(c.page) + " length " + std::to_string(c.length));
    const Answer a = Exchange(ReceiveMessage("IRC0001", c.page, c.length), 12);
    ASSERT_EQ(a.rc, 0);
    ASSERT_EQ(a.status, 0);
    EXPECT_EQ(a.directive(), 0);
    EXPECT_EQ(a.resultWord(), 0u);
    ASSERT_EQ(a.body.size(), ReceiveMessage("IRC0001", c.page, c.length).size());
    // Nothing outside the data region changes except the answer fields.
    for (std::size_t i = 204 + c.length; i < a.body.size(); ++i) ASSERT_EQ(a.body[i], 0) << i;
    c.check(a.data(c.length));
  }
}

TEST_F(CiInterface, UnknownSerialGetsBadSerialNumberInTheResultWord) {
  for (const std::string serial : {"NOSUCH", "", "irc0001"}) {
    const Answer a = Exchange(ReceiveMessage(serial, 2, 224));
    ASSERT_EQ(a.rc, 0);
    EXPECT_EQ(a.directive(), 0);
    EXPECT_NE(a.resultWord(), 0u);
    EXPECT_EQ(a.appResult(), -500) << serial;
  }
}

TEST_F(CiInterface, StringExchangesAnswerThePendingRequestOnce) {
  struct Case {
    const char *name;
    std::uint8_t function, device;
    std::size_t inLength;
    std::vector<std::uint8_t> header;  // expected first 12 bytes of the StringIn page
    bool statusNonzero;
  };
  const Case cases[] = {
      {"rdp vpd", 0x69, 16, 512, {4, 0, 1, 0xFC, 0x69, 0, 0, 0, 16, 0, 0, 0}, false},
      {"ic vpd", 0x69, 2, 268, {4, 0, 1, 0x08, 0x69, 0, 0, 0, 2, 0, 0, 0}, false},
      {"unmodelled function", 0x77, 0, 12, {}, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(Exchange(SendMessage("IRC0001", StringOut(c.function, c.device, 12))).resultWord(), 0u);
    const std::vector<std::uint8_t> in = ReadPage("IRC0001", 4, static_cast<std::uint32_t>(c.inLength));
    ASSERT_EQ(in.size(), c.inLength);
    EXPECT_EQ(in[0], 4);
    EXPECT_EQ(in[4], c.function);
    EXPECT_EQ(in[5] != 0, c.statusNonzero);
    if (!c.header.empty()) {
      EXPECT_EQ(std::vector<std::uint8_t>(in.begin(), in.begin() + 12), c.header);
      EXPECT_EQ(qel::load_be16(in.data() + 12), c.device == 16 ? 497 : 253);
      EXPECT_EQ(citest::XorFrom12(in), 0);
    }
    // The answer is taken by the read: a second read finds nothing pending.
    const std::vector<std::uint8_t> again = ReadPage("IRC0001", 4, 12);
    ASSERT_EQ(again.size(), 12u);
    EXPECT_NE(again[5], 0);
  }
}

TEST_F(CiInterface, DefaultLabHoldsPcmAndPrsAndTheNonIrc) {
  struct Case {
    const char *serial;
    const char *pcm;
    const char *prs;
  };
  const Case cases[] = {{"IRC0001", "PCM=3", "PRS=1"}, {"IRC0002", "", ""}, {"JBOD0003", "", ""}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.serial);
    Exchange(SendMessage(c.serial, StringOut(0x69, 16, 12)));
    const std::vector<std::uint8_t> in = ReadPage(c.serial, 4, 512);
    ASSERT_EQ(in.size(), 512u);
    EXPECT_EQ(citest::XorFrom12(in), 0);
    const std::string pcm = Text(in, 406, 5), prs = Text(in, 411, 5);
    EXPECT_EQ(pcm.rfind("PCM=", 0) == 0 ? pcm : "", c.pcm);
    EXPECT_EQ(prs.rfind("PRS=", 0) == 0 ? prs : "", c.prs);
  }
  const std::vector<std::uint8_t> cfg = ReadPage("JBOD0003", 1, 296);
  ASSERT_FALSE(cfg.empty());
  EXPECT_GE(std::stoi(Text(cfg, 68, 4)), 300);
  EXPECT_NE(Text(cfg, 90, 4), "000C");
}

TEST_F(CiInterface, VpdWriteIsStoredAsGivenEvenWithABadChecksum) {
  std::vector<std::uint8_t> page = StringOut(0x5A, 16, 512);
  qel::store_be16(page.data() + 2, 508);
  qel::store_be16(page.data() + 12, 497);
  std::memcpy(page.data() + 406, "PCM=6PRS=2", 10);
  page[511] = 0x42;  // wrong on purpose
  const Answer w = Exchange(SendMessage("IRC0002", page));
  ASSERT_EQ(w.rc, 0);
  EXPECT_EQ(w.resultWord(), 0u);
  EXPECT_EQ(ReadPage("IRC0002", 8, 4)[1], 0);
  Exchange(SendMessage("IRC0002", StringOut(0x69, 16, 12)));
  const std::vector<std::uint8_t> in = ReadPage("IRC0002", 4, 512);
  ASSERT_EQ(in.size(), 512u);
  EXPECT_EQ(std::vector<std::uint8_t>(in.begin() + 12, in.end()), std::vector<std::uint8_t>(page.begin() + 12, page.end()));
  EXPECT_EQ(in[4], 0x69);
  const qeltest::ProcResult show = lab_.Encsim({"show", "IRC0002"});
  EXPECT_NE(show.out.find("vpd 16 length 497 ok checksum BAD"), std::string::npos) << show.out;
  EXPECT_NE(show.out.find("pcm 6\n"), std::string::npos);
}

TEST_F(CiInterface, ControlPageSelectedElementsShowInLaterStatus) {
  const std::vector<std::uint8_t> before = ReadPage("IRC0001", 2, 224);
  std::vector<std::uint8_t> control(224, 0);
  control[0] = 2;
  qel::store_be16(control.data() + 2, 220);
  const std::uint8_t psu1[4] = {0x80 | 0x0F, 0x85, 0x70, 0x40};  // select; low bits of byte 0 are no control
  std::memcpy(control.data() + 184, psu1, 4);
  const std::uint8_t unselected[4] = {0x00, 0x86, 0x00, 0x40};
  std::memcpy(control.data() + 188, unselected, 4);
  ASSERT_EQ(Exchange(SendMessage("IRC0001", control)).resultWord(), 0u);
  const std::vector<std::uint8_t> after = ReadPage("IRC0001", 2, 224);
  EXPECT_EQ(std::vector<std::uint8_t>(after.begin() + 184, after.begin() + 188),
            (std::vector<std::uint8_t>{0x01, 0x85, 0x70, 0x60}));
  EXPECT_EQ(std::vector<std::uint8_t>(after.begin() + 188, after.begin() + 192),
            std::vector<std::uint8_t>(before.begin() + 188, before.begin() + 192));
  // A control page of the wrong size is refused and changes nothing.
  control.resize(200);
  control[185] = 0x82;
  EXPECT_NE(Exchange(SendMessage("IRC0001", control)).resultWord(), 0u);
  EXPECT_EQ(ReadPage("IRC0001", 2, 224), after);
}

TEST_F(CiInterface, MalformedMessagesGetANonzeroDirectiveStatus) {
  struct Case {
    const char *name;
    std::function<void(std::vector<std::uint8_t> &)> spoil;
    bool resultWordInstead;
  };
  const Case cases[] = {
      {"header word", [](auto &m) { m[1] = 3; }, false},
      {"total length", [](auto &m) { qel::store_be32(m.data() + 4, 1000); }, false},
      {"function code", [](auto &m) { m[153] = 58; }, false},
      {"function qualifier", [](auto &m) { m[155] = 0; }, false},
      {"serial not terminated", [](auto &m) { std::memset(m.data() + 10, 'A', 38); }, false},
      {"command count", [](auto &m) { m[191] = 2; }, false},
      {"data-in region absent", [](auto &m) { m[104] = 1; }, false},
      {"data-out region present", [](auto &m) { m[80] = 8; }, false},
      {"status region start", [](auto &m) { qel::store_be32(m.data() + 128 + 16, 7); }, false},
      {"data region longer than message", [](auto &m) {
         qel::store_be32(m.data() + 104 + 20, 5000);
         qel::store_be32(m.data() + 128 + 16, 5020);
       }, false},
      {"cdb length", [](auto &m) { m[196] = 7; }, false},
      {"opcode", [](auto &m) { m[192] = 0x12; }, true},
      {"pcv bit", [](auto &m) { m[193] = 0; }, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> m = ReceiveMessage("IRC0001", 2, 224);
    c.spoil(m);
    const Answer a = Exchange(m);
    ASSERT_EQ(a.rc, 0);
    if (c.resultWordInstead) {
      EXPECT_NE(a.resultWord(), 0u);
    } else {
      EXPECT_NE(a.directive(), 0);
    }
    EXPECT_EQ(a.data(224), std::vector<std::uint8_t>(224, 0)) << "a refused message carries no page";
  }
  // Too short to hold the directive status at all: the send itself fails.
  std::vector<std::uint8_t> tiny(40, 0);
  EXPECT_NE(Exchange(tiny).rc, 0);
  EXPECT_GE(lab_.LogLines().size(), std::size(cases));
}

// Calls out of order fail and leave a line in the log.
TEST(CiCallOrder, ViolationsFailAndAreLogged) {
  citest::ScratchLab lab("nicisim-order");
  const std::vector<std::uint8_t> msg = ReceiveMessage("IRC0001", 8, 4);
  std::uint8_t options[12] = {}, result[64] = {}, response[24] = {};
  std::vector<std::uint8_t> buffer(msg.size(), 0);
  void *address = buffer.data();
  std::memcpy(response + 24 - sizeof address, &address, sizeof address);
  std::vector<std::uint8_t> req = msg;
  auto send = [&] { return niCISendSyncRequest(req.data(), static_cast<std::uint32_t>(req.size()), options, result, response); };

  struct Step {
    const char *name;
    std::function<bool()> violates;  // true when the call failed as it should
    const char *logged;
  };
  const Step steps[] = {
      {"close without open", [] { return niCIClose() != 0 && errno == ENOTCONN; }, "niCIClose"},
      {"request before open", [&] { niCISetOptions(options, 2, 1); niCISetOptions(options, 0, 1); return send() != 0; },
       "before niCIOpen"},
      {"open", [] { return niCIOpen() == 0; }, nullptr},
      {"status of a block never answered", [&] { return niCIBGetRequestStatus(response) != 0; }, "holds no answer"},
      {"option 2 not set", [&] { std::memset(options, 0, 12); niCISetOptions(options, 0, 1); return send() != 0 && errno == EINVAL; },
       "options 2 and 0"},
      {"option 0 not set", [&] { std::memset(options, 0, 12); niCISetOptions(options, 2, 1); return send() != 0; },
       "options 2 and 0"},
      {"proper request", [&] { niCISetOptions(options, 0, 1); return send() == 0 && niCIBGetRequestStatus(response) == 0; }, nullptr},
      {"body before size", [&] { return niCIBGetRequest(response) == nullptr; }, "before niCIBGetRequestSize"},
      {"size then body", [&] { return niCIBGetRequestSize(response) == static_cast<std::int32_t>(msg.size()) &&
                                      niCIBGetRequest(response) == buffer.data(); }, nullptr},
      {"option number out of range", [&] { return niCISetOptions(options, 3, 1) != 0; }, "niCISetOptions"},
      {"open twice", [] { return niCIOpen() != 0; }, "while the connection is open"},
      {"close", [] { return niCIClose() == 0; }, nullptr},
      {"close twice", [] { return niCIClose() != 0; }, "niCIClose"},
  };
  for (const Step &s : steps) {
    const std::size_t linesBefore = lab.LogLines().size();
    EXPECT_TRUE(s.violates()) << s.name;
    const std::vector<std::string> lines = lab.LogLines();
    if (s.logged == nullptr) {
      EXPECT_EQ(lines.size(), linesBefore) << s.name;
    } else {
      ASSERT_EQ(lines.size(), linesBefore + 1) << s.name;
      EXPECT_NE(lines.back().find(s.logged), std::string::npos) << s.name << ": " << lines.back();
    }
  }
}

}  // namespace

// Request messages byte by byte, and how the adapter's answer is checked.
#include <cerrno>
#include <cstring>

#include "byteorder.h"
#include "qelses.h"
#include "ses_fixture.h"

namespace sestest {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The message as the adapter expects it, written from the wire layout: offsets are the
// adapter's, spelled out here apart from the transport's own constants.
Bytes ExpectedMessage(bool send, const std::string &serial, std::uint8_t pageCode,
                      const Bytes &page, std::uint32_t length) {
  const std::uint32_t total = (length + 240 + 3) / 4 * 4;
  Bytes m(total, 0);
  qel::store_be16(m.data() + 0, 2);
  qel::store_be32(m.data() + 4, total);
  std::memcpy(m.data() + 10, serial.c_str(), serial.size());
  auto region = [&m](std::size_t at, std::uint8_t type, std::uint32_t start, std::uint32_t len) {
    m[at] = type;
    qel::store_be32(m.data() + at + 16, start);
    qel::store_be32(m.data() + at + 20, len);
  };
  region(56, 8, 0, 20);
  region(80, send ? 8 : 1, send ? 20 : 0, send ? length : 0);
  region(104, send ? 1 : 8, send ? 0 : 20, send ? 0 : length);
  region(128, 8, length + 20, 36);
  qel::store_be16(m.data() + 152, 59);
  qel::store_be16(m.data() + 154, 2);
  qel::store_be16(m.data() + 190, 1);
  m[192] = send ? 0x1D : 0x1C;
  m[193] = send ? 0x10 : 0x01;
  m[194] = send ? 0 : pageCode;
  m[195] = static_cast<std::uint8_t>(length >> 8);
  m[196] = static_cast<std::uint8_t>(length);
  if (send) std::copy(page.begin(), page.end(), m.begin() + 204);
  return m;
}

// The address field is the sender's memory address; everything else must match exactly.
Bytes Masked(Bytes b) {
  if (b.size() >= 180) std::fill(b.begin() + 176, b.begin() + 180, 0);
  return b;
}

Bytes Pattern(std::size_t n, std::uint8_t seed) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(seed + i * 7);
  return b;
}

struct SizeCase {
  std::uint32_t length;
  std::uint32_t total;
};

class RequestLayout : public SesTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(RequestLayout, SendDiagnosticCarriesThePageByteForByte) {
  const SizeCase c = GetParam();
  const Bytes page = Pattern(c.length, 0x31);
  ASSERT_EQ(SES_WritePage(kSerial, c.length, page.data()), SES_OK);
  ASSERT_GE(adapter.requests.size(), 1u);
  const Bytes &sent = adapter.requests[0].bytes;
  EXPECT_EQ(sent.size(), c.total);
  EXPECT_EQ(Hex(Masked(sent)), Hex(ExpectedMessage(true, kSerial, 0, page, c.length)));
}

TEST_P(RequestLayout, ReceiveDiagnosticAsksForTheLowByteOfThePageCode) {
  const SizeCase c = GetParam();
  adapter.pages[0xA5] = Pattern(c.length, 0x55);
  Bytes buffer(c.length, 0xEE);
  ASSERT_EQ(SES_ReadPage(kSerial, 0x1A5, c.length, buffer.data()), SES_OK);
  ASSERT_GE(adapter.requests.size(), 1u);
  const Bytes &sent = adapter.requests[0].bytes;
  EXPECT_EQ(sent.size(), c.total);
  EXPECT_EQ(Hex(Masked(sent)), Hex(ExpectedMessage(false, kSerial, 0xA5, {}, c.length)));
  EXPECT_EQ(buffer, adapter.pages[0xA5]);
}

INSTANTIATE_TEST_SUITE_P(Sizes, RequestLayout,
                         ::testing::Values(SizeCase{4, 244}, SizeCase{9, 252}, SizeCase{266, 508},
                                           SizeCase{296, 536}, SizeCase{512, 752}));

// The short enclosure status read of the same write, as literal bytes (address masked).
constexpr char kStatusReadHex[] = R"(00 02 00 00 00 00 00 f4 00 00 49 52 43 30 30 31
32 33 34 35 00 00 00 00 00 00 00 00 00 00 00 00
00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
00 00 00 00 00 00 00 00 08 00 00 00 00 00 00 00
00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 14
01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
00 00 00 00 00 00 00 00 08 00 00 00 00 00 00 00
00 00 00 00 00 00 00 00 00 00 00 14 00 00 00 04
08 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
00 00 00 18 00 00 00 24 00 3b 00 02 00 00 00 00
00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01
1c 01 08 00 04 00 00 00 00 00 00 00 00 00 00 00
00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
00 00 00 00)";

TEST_F(SesTest, ShortEnclosureStatusReadMatchesLiteralBytes) {
  const Bytes page = Pattern(12, 1);
  ASSERT_EQ(SES_WritePage(kSerial, 12, page.data()), SES_OK);
  ASSERT_EQ(adapter.requests.size(), 2u);
  EXPECT_EQ(Hex(Masked(adapter.requests[1].bytes)), kStatusReadHex);
}

TEST_F(SesTest, OnlyTheLow16BitsOfTheLengthReachTheCdb) {
  constexpr std::uint32_t kLength = 0x10004;
  const Bytes page = Pattern(kLength, 9);
  ASSERT_EQ(SES_WritePage(kSerial, kLength, page.data()), SES_OK);
  const Bytes &sent = adapter.requests.at(0).bytes;
  ASSERT_EQ(sent.size(), kLength + 240);
  EXPECT_EQ(sent[195], 0x00);
  EXPECT_EQ(sent[196], 0x04);
  EXPECT_EQ(qel::load_be32(sent.data() + 80 + 20), kLength);
  EXPECT_EQ(qel::load_be32(sent.data() + 128 + 16), kLength + 20);
  EXPECT_EQ(Hex(Masked(sent)), Hex(ExpectedMessage(true, kSerial, 0, page, kLength)));
}

TEST_F(SesTest, SerialOfThirtySevenCharactersFillsTheFieldWithItsNul) {
  const std::string serial(37, 'S');
  Bytes buffer(4);
  ASSERT_EQ(SES_ReadPage(serial.c_str(), 2, 4, buffer.data()), SES_OK);
  const Bytes &sent = adapter.requests.at(0).bytes;
  EXPECT_EQ(std::string(sent.begin() + 10, sent.begin() + 47), serial);
  EXPECT_EQ(sent[47], 0);
  EXPECT_EQ(Hex(Masked(sent)), Hex(ExpectedMessage(false, serial, 2, {}, 4)));
}

TEST_F(SesTest, OneRequestMakesTheLibraryCallsInOrder) {
  Bytes buffer(4);
  ASSERT_EQ(SES_ReadPage(kSerial, 2, 4, buffer.data()), SES_OK);
  const std::vector<std::string> one = {"setopt 2 1", "setopt 0 1", "setopt 1 0", "send 244",
                                        "status",     "size",       "get"};
  std::vector<std::string> two = one;
  two.insert(two.end(), one.begin(), one.end());
  EXPECT_EQ(adapter.calls.front(), "open");
  EXPECT_EQ(CallsAfterOpen(), two);
}

// Answers that fail the first command of a read (the page RECEIVE); the retry then succeeds.
struct AnswerCase {
  const char *name;
  fakeci::Reply reply;
  std::vector<std::string> trace;  // between the first and the second Trying line
  std::vector<std::string> calls;  // library calls of the failed request
};

fakeci::Reply Edited(std::function<void(Bytes &)> edit) {
  fakeci::Reply r;
  r.edit = std::move(edit);
  return r;
}

fakeci::Reply Status(std::int32_t status) {
  fakeci::Reply r;
  r.requestStatus = status;
  return r;
}

fakeci::Reply Sized(std::int32_t size, bool nullBody = false) {
  fakeci::Reply r;
  r.reportedSize = size;
  r.nullBody = nullBody;
  return r;
}

const std::vector<std::string> kFullCalls = {"setopt 2 1", "setopt 0 1", "setopt 1 0", "send 244",
                                             "status", "size", "get"};

const AnswerCase kAnswerCases[] = {
    {"DirectiveFailedIsSigned",
     Edited([](Bytes &b) { b[48] = 0xFF; }),
     {"qelses:160 Directive failed : -1", "qelses:178 SES_SendCIRequest: Exit, rc = 4101",
      "qelses:336 SES_RecvDiagnosticResult: Exit rc = 4101"},
     kFullCalls},
    {"DirectiveWinsOverResultWord",
     Edited([](Bytes &b) { b[48] = 0x05; b[53] = 0x07; }),
     {"qelses:160 Directive failed : 5", "qelses:178 SES_SendCIRequest: Exit, rc = 4101",
      "qelses:336 SES_RecvDiagnosticResult: Exit rc = 4101"},
     kFullCalls},
    {"OnlyByte52SetGivesZeroResults",
     Edited([](Bytes &b) { b[52] = 0x80; }),
     {"qelses:164 Network result    : 0", "qelses:165 Application result: 0",
      "qelses:178 SES_SendCIRequest: Exit, rc = 4101",
      "qelses:336 SES_RecvDiagnosticResult: Exit rc = 4101"},
     kFullCalls},
    {"NetworkUnsignedApplicationSigned",
     Edited([](Bytes &b) { b[53] = 0xC8; b[54] = 0xFF; b[55] = 0xFE; }),
     {"qelses:164 Network result    : 200", "qelses:165 Application result: -2",
      "qelses:178 SES_SendCIRequest: Exit, rc = 4101",
      "qelses:336 SES_RecvDiagnosticResult: Exit rc = 4101"},
     kFullCalls},
    {"BusyAdapter",
     fakeci::SendFails(EBUSY),
     {"qelses:173 SES_SendCIRequest: CI ERROR conRC = -1",
      "qelses:178 SES_SendCIRequest: Exit, rc = 4107",
      "qelses:336 SES_RecvDiagnosticResult: Exit rc = 4107"},
     {"setopt 2 1", "setopt 0 1", "setopt 1 0", "send 244"}},
    {"OtherSendFailure",
     fakeci::SendFails(EIO),
     {"qelses:173 SES_SendCIRequest: CI ERROR conRC = -1",
      "qelses:178 SES_SendCIRequest: Exit, rc = 4101",
      "qelses:336 SES_RecvDiagnosticResult: Exit rc = 4101"},
     {"setopt 2 1", "setopt 0 1", "setopt 1 0", "send 244"}},
    {"SendFailureWithoutErrno",
     fakeci::SendFails(0),
     {"qelses:173 SES_SendCIRequest: CI ERROR conRC = -1",
      "qelses:178 SES_SendCIRequest: Exit, rc = 4101",
      "qelses:336 SES_RecvDiagnosticResult: Exit rc = 4101"},
     {"setopt 2 1", "setopt 0 1", "setopt 1 0", "send 244"}},
    {"RequestStatusHasNoExitTrace",
     Status(5),
     {"qelses:147 SES_SendCIRequest: CI ERROR responseStatus = 5",
      "qelses:336 SES_RecvDiagnosticResult: Exit rc = 4101"},
     {"setopt 2 1", "setopt 0 1", "setopt 1 0", "send 244", "status"}},
    {"NegativeBodySize",
     Sized(-1),
     {"SES_SendCIRequest: unusable answer body (size -1)",
      "qelses:178 SES_SendCIRequest: Exit, rc = 4101",
      "qelses:336 SES_RecvDiagnosticResult: Exit rc = 4101"},
     kFullCalls},
    {"MissingBody",
     Sized(244, true),
     {"SES_SendCIRequest: unusable answer body (size 244)",
      "qelses:178 SES_SendCIRequest: Exit, rc = 4101",
      "qelses:336 SES_RecvDiagnosticResult: Exit rc = 4101"},
     kFullCalls},
};

class AnswerChecks : public SesTest, public ::testing::WithParamInterface<AnswerCase> {};

// The leading "qelses:N " of a product trace line, so cases can name lines whose numbers are
// the source's own.
std::string WithoutPrefix(const std::string &line) {
  const std::size_t space = line.find(' ');
  return space == std::string::npos ? line : line.substr(space + 1);
}

TEST_P(AnswerChecks, FailedAnswerLeavesTheDestinationAndIsRetried) {
  const AnswerCase &c = GetParam();
  adapter.pages[2] = Pattern(4, 0x10);
  adapter.responder = [&c](const fakeci::Request &, std::size_t index) {
    return index == 0 ? c.reply : fakeci::Reply{};
  };
  Bytes buffer(4, 0xEE);
  ASSERT_EQ(SES_ReadPage(kSerial, 2, 4, buffer.data()), SES_OK);
  EXPECT_EQ(buffer, adapter.pages[2]);

  const std::vector<std::string> lines = Trace();
  ASSERT_GE(lines.size(), c.trace.size() + 2);
  EXPECT_EQ(lines.front(), "qelses:467 SES_ReadPage: Trying 0 0");
  EXPECT_EQ(lines[c.trace.size() + 1], "qelses:467 SES_ReadPage: Trying 25000 0");
  for (std::size_t i = 0; i < c.trace.size(); ++i) {
    const std::string &want = c.trace[i];
    const std::string &got = lines[i + 1];
    // Lines without a "qelses:" prefix in the table are this transport's own additions, whose
    // line number is wherever the source has them.
    EXPECT_EQ(want.rfind("qelses:", 0) == 0 ? got : WithoutPrefix(got), want) << i;
  }
  const std::vector<std::string> calls = CallsAfterOpen();
  EXPECT_EQ(std::vector<std::string>(calls.begin(),
                                     calls.begin() + static_cast<std::ptrdiff_t>(c.calls.size())),
            c.calls);
}

INSTANTIATE_TEST_SUITE_P(Answers, AnswerChecks, ::testing::ValuesIn(kAnswerCases),
                         [](const auto &p) { return std::string(p.param.name); });

TEST_F(SesTest, FailedReceiveLeavesTheDestinationUntouched) {
  adapter.pages[2] = Pattern(4, 0x10);
  adapter.responder = [](const fakeci::Request &, std::size_t) {
    return Edited([](Bytes &b) { b[48] = 1; });
  };
  Bytes buffer(4, 0xEE);
  EXPECT_EQ(SES_ReadPage(kSerial, 2, 4, buffer.data()), SES_RC_CI_FAILED);
  EXPECT_EQ(buffer, Bytes(4, 0xEE));
  EXPECT_EQ(adapter.requests.size(), 9u);
}

TEST_F(SesTest, AnswerBodyLongerThanTheMessageIsCutToTheMessage) {
  adapter.pages[2] = Pattern(8, 0x40);
  adapter.responder = [](const fakeci::Request &, std::size_t index) {
    fakeci::Reply r;
    if (index == 0) r.trailer = Bytes(4096, 0xFF);  // would set every check field if it landed
    return r;
  };
  Bytes buffer(8, 0);
  EXPECT_EQ(SES_ReadPage(kSerial, 2, 8, buffer.data()), SES_OK);
  EXPECT_EQ(buffer, adapter.pages[2]);
  const std::vector<std::string> lines = Trace();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(WithoutPrefix(lines[1]),
            "SES_SendCIRequest: answer body of 4344 bytes longer than the message, 248 kept");
}

TEST_F(SesTest, CloseOnlyAfterASuccessfulOpen) {
  SES_CloseCIConnection();
  EXPECT_TRUE(adapter.calls.empty());
  EXPECT_TRUE(Trace().empty());

  adapter.openRc = 4;
  Bytes buffer(4);
  EXPECT_EQ(SES_ReadPage(kSerial, 2, 4, buffer.data()), SES_RC_OPEN_FAILED);
  SES_CloseCIConnection();
  EXPECT_EQ(adapter.calls, std::vector<std::string>{"open"});

  adapter.openRc = 0;
  EXPECT_EQ(SES_ReadPage(kSerial, 2, 4, buffer.data()), SES_OK);
  SES_CloseCIConnection();
  EXPECT_EQ(adapter.calls.back(), "close");
  EXPECT_EQ(Trace().back(), "qelses:98 SES_CloseCIConnection: Closing CI Connection");
}

}  // namespace
}  // namespace sestest

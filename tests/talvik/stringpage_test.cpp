// The string-page exchange as the VPD reads run it: attempts, pauses, checks and traces.
#include <algorithm>
#include <array>

#include "fake_ses.h"
#include "stringpage.h"
#include "talvik.h"

namespace {
using fakeses::Answer;

// A valid RDP VPD answer: header echoing the request, all-zero record with its length field
// and checksum.
std::vector<std::uint8_t> RdpImage() {
  auto p = Page(kRdpVpdImageSize, {4, 0, 0x01, 0xFC, 0x69, 0, 0, 0, 16, 0, 0, 0, 0x01, 0xF1});
  p[kRdpVpdChecksumOffset] = 0xF0;
  return p;
}
std::vector<std::uint8_t> With(std::vector<std::uint8_t> p, std::size_t at, std::uint8_t v) {
  p[at] = v;
  return p;
}
const Answer kGood{0, RdpImage()};
const Answer kStatus3{0, With(RdpImage(), 5, 3)};
const Answer kWriteFn{0, With(RdpImage(), 4, 0x5A)};
const Answer kDevice17{0, With(RdpImage(), 8, 17)};
const Answer kWrongPageCode{0, With(RdpImage(), 0, 2)};
const Answer kTransport{SES_RC_CI_FAILED, {}};
const Answer kBadLength{0, With(RdpImage(), 13, 0xF0)};

std::vector<Answer> Times(int n, const Answer &a) { return std::vector<Answer>(static_cast<std::size_t>(n), a); }
std::vector<std::string> Usleeps(int n, unsigned us) {
  return std::vector<std::string>(static_cast<std::size_t>(n), "usleep " + std::to_string(us));
}
template <typename T>
std::vector<T> Cat(std::vector<T> a, const std::vector<T> &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct ExchangeCase {
  const char *name;
  std::vector<Answer> script;
  std::int32_t rc;
  std::vector<std::string> pauses;
  bool verified;  // the image test ran
};
void PrintTo(const ExchangeCase &c, std::ostream *os) { *os << c.name; }

class ExchangeRules : public TalvikTest, public ::testing::WithParamInterface<ExchangeCase> {};

TEST_P(ExchangeRules, AttemptsPausesAndResult) {
  const ExchangeCase &c = GetParam();
  fakeses::answers.assign(c.script.begin(), c.script.end());
  std::array<std::uint8_t, kRdpVpdImageSize> image{};
  testing::internal::CaptureStderr();
  EXPECT_EQ(TK_ReadRDPVpd("SN1", image.data()), c.rc);
  // Only a rejected image speaks to the operator.
  EXPECT_EQ(testing::internal::GetCapturedStderr().empty(), c.rc != SES_RC_STRING_PAGE);
  EXPECT_EQ(fakeses::calls.size(), c.script.size());
  EXPECT_EQ(Pauses(), c.pauses);
  const auto msgs = Messages();
  EXPECT_EQ(std::count(msgs.begin(), msgs.end(), "171 TK_VerifyRDPVpd: Entry"), c.verified ? 1 : 0);
  EXPECT_EQ(msgs.back(), "801 TK_ReadRDPVpd: Exit, rc = " + std::to_string(c.rc));
  // The buffer holds the last answer received (zeroes where none came).
  auto last = c.script.back().bytes;
  last.resize(kRdpVpdImageSize);
  EXPECT_TRUE(std::equal(last.begin(), last.end(), image.begin()));
}

INSTANTIATE_TEST_SUITE_P(
    Talvik, ExchangeRules,
    ::testing::Values(
        ExchangeCase{"FirstGood", {kGood}, 0, {}, true},
        ExchangeCase{"GoodOnThird", {kStatus3, kWriteFn, kGood}, 0, {"usleep 25000", "usleep 50000"}, true},
        ExchangeCase{"Status3Always", Times(10, kStatus3), 86, Usleeps(10, 25000), false},
        ExchangeCase{"WriteFunctionCode", Times(10, kWriteFn), 86, Usleeps(10, 50000), false},
        ExchangeCase{"Device17", Times(10, kDevice17), 86, Usleeps(10, 50000), false},
        ExchangeCase{"WrongPageCode", Times(10, kWrongPageCode), 86, Usleeps(10, 50000), false},
        ExchangeCase{"TransportAlways", Times(10, kTransport), SES_RC_CI_FAILED, Usleeps(10, 25000), false},
        ExchangeCase{"LastAttemptDecides", Cat(Times(9, kTransport), {kWriteFn}), 86,
                     Cat(Usleeps(9, 25000), Usleeps(1, 50000)), false},
        ExchangeCase{"GoodOnTenth", Cat(Times(9, kStatus3), {kGood}), 0, Usleeps(9, 25000), true},
        ExchangeCase{"AcceptedButBadImage", {kBadLength}, SES_RC_STRING_PAGE, {}, true}),
    CaseName());

TEST_F(TalvikTest, RdpReadTracesEveryStepAtItsLine) {
  fakeses::answers = {kStatus3, kDevice17, kTransport, kGood};
  std::array<std::uint8_t, kRdpVpdImageSize> image{};
  ASSERT_EQ(TK_ReadRDPVpd("SN1", image.data()), 0);
  const std::vector<std::string> expected{
      "727 TK_ReadRDPVpd: Enclosure SN = SN1",
      "737 <--- StringOut Page to write --->",
      "750 <--- RDP VPD Page read --->",
      "762 TK_ReadRDPVpd: StringIn Status = 0x3!!!!",
      "750 <--- RDP VPD Page read --->",
      "781 TK_ReadRDPVpd: Wrong StringIn Page!!!!",
      "782 PageCode = 4",
      "783 FuncCode = 0x69",
      "784 Device = 17",
      "750 <--- RDP VPD Page read --->",
      "792 TK_ReadRDPVpd: SES_ReadStringPageViaDisk rc = 4101",
      "750 <--- RDP VPD Page read --->",
      "171 TK_VerifyRDPVpd: Entry",
      "205 TK_VerifyRDPVpd: Exit, rc = 0",
      "801 TK_ReadRDPVpd: Exit, rc = 0"};
  EXPECT_EQ(Messages(), expected);
  // The request dump comes right after its title; each answer is dumped whole.
  const auto lines = TraceLines();
  EXPECT_EQ(lines[2], "2275 Output Data, Size = 12");
  EXPECT_EQ(lines[3], "2410 000: 04 00 00 04 69 00 00 00 - 10 00 00 00               '....i.......'");
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "2275 Output Data, Size = 512"), 4);
  // Every attempt sends the same 12-byte request and asks for 512 bytes without a delay.
  const std::vector<std::uint8_t> request{4, 0, 0, 4, 0x69, 0, 0, 0, 16, 0, 0, 0};
  for (const auto &call : fakeses::calls) {
    EXPECT_EQ(call.op, "ReadStringPage");
    EXPECT_EQ(call.serial, "SN1");
    EXPECT_EQ(call.sent, request);
    EXPECT_EQ(call.inLength, kRdpVpdImageSize);
    EXPECT_EQ(call.delayMs, 0u);
  }
}

// The IC read addresses the caller's device, compares the answer with the whole number and
// traces at its own lines.
TEST_F(TalvikTest, IcReadUsesDeviceAndItsOwnLines) {
  auto ic = Page(kIcVpdImageSize, {4, 0, 0, 0, 0x69, 0, 0, 0, 5, 0, 0, 0, 0x00, 0xFD});
  ic[kIcVpdChecksumOffset] = 0xFD;
  auto wrongDevice = ic;
  wrongDevice[8] = 6;
  fakeses::answers = {{0, wrongDevice}, {0, ic}};
  std::array<std::uint8_t, kIcVpdImageSize> image{};
  ASSERT_EQ(TK_ReadICVpd("SN2", 5, image.data()), 0);
  EXPECT_EQ(fakeses::calls[0].sent, (std::vector<std::uint8_t>{4, 0, 0, 4, 0x69, 0, 0, 0, 5, 0, 0, 0}));
  EXPECT_EQ(fakeses::calls[0].inLength, kIcVpdImageSize);
  const std::vector<std::string> expected{
      "629 TK_ReadICVpd: Enclosure SN = SN2, Device = 5",
      "639 <--- StringOut Page to write --->",
      "652 <--- ENC VPD Page read ---->",
      "683 TK_ReadICVpd: Wrong StringIn Page!!!!",
      "684 PageCode = 4",
      "685 FuncCode = 0x69",
      "686 Device = 6",
      "652 <--- ENC VPD Page read ---->",
      "113 TK_VerifyICVpd: Entry",
      "149 TK_VerifyICVpd: Exit, rc = 0",
      "703 TK_ReadICVpd: Exit, rc = 0"};
  EXPECT_EQ(Messages(), expected);
}

TEST_F(TalvikTest, DeviceAboveByteRangeNeverMatches) {
  // 261 goes out as its low byte 5; an answer echoing 5 is still the wrong device.
  auto ic = Page(kIcVpdImageSize, {4, 0, 0, 0, 0x69, 0, 0, 0, 5});
  fakeses::answers.assign(10, Answer{0, ic});
  std::array<std::uint8_t, kIcVpdImageSize> image{};
  EXPECT_EQ(TK_ReadICVpd("SN2", 261, image.data()), 86);
  EXPECT_EQ(fakeses::calls[0].sent[8], 5);
  EXPECT_EQ(Pauses(), Usleeps(10, 50000));
}
}  // namespace

// The exchange as the further vendor reads use it: no device test (two detail lines), and a
// quiet exchange that dumps nothing while it polls.
TEST_F(TalvikTest, QuietExchangeWithoutDeviceTest) {
  std::array<std::uint8_t, 16> request{};
  TK_BuildStringOutHeader(request, 12, TK_FN_DATE_TIME, 0x1234, 0x0207);
  EXPECT_EQ(std::vector<std::uint8_t>(request.begin(), request.begin() + 12),
            (std::vector<std::uint8_t>{4, 0, 0, 12, 0xD0, 0, 0, 0, 0x34, 0x07, 0, 0}));
  std::array<std::uint8_t, 16> response{};
  const TK_StringExchange x{"TK_Probe", request, response, TK_FN_DATE_TIME, false, 0,
                            "<--- Probe --->\n", {10, 20, 30, 40, 50, 60}, TK_ExchangeDumps::Quiet};
  // Any device byte is accepted once the function code matches.
  fakeses::answers = {{0, Page(16, {4, 0, 0, 0, 0x5A})}, {0, Page(16, {4, 0, 0, 0, 0xD0, 0, 0, 0, 99})}};
  EXPECT_EQ(TK_StringPageRead("SN9", x), 0);
  const std::vector<std::string> expected{"40 TK_Probe: Wrong StringIn Page!!!!", "41 PageCode = 4",
                                          "42 FuncCode = 0x5a", "60 TK_Probe: Exit, rc = 0"};
  EXPECT_EQ(TraceLines(), expected);
  EXPECT_EQ(fakeses::calls[0].sent.size(), 16u);
  EXPECT_EQ(fakeses::calls[0].inLength, 16u);
}

// The string-page exchange as the VPD reads run it, VPD verification and the VPD write page.
#include <numeric>

#include "fake_ses.h"

namespace {
// The all-zero images with their length field and checksum, and one byte set (by default
// byte 0 to the 4 it holds).
Bytes RdpImage(std::size_t at = 0, std::uint8_t value = 4) {
  Bytes p = Page(kRdpVpdImageSize, {4, 0, 0x01, 0xFC, 0x69, 0, 0, 0, 16, 0, 0, 0, 0x01, 0xF1});
  p[511] = 0xF0;
  p[at] = value;
  return p;
}
Bytes IcImage(std::size_t at = 0, std::uint8_t value = 4) {
  Bytes p = Page(kIcVpdImageSize, {4, 0, 0, 0, 0x69, 0, 0, 0, 5, 0, 0, 0, 0x00, 0xFD});
  p[267] = 0xFD;
  p[at] = value;
  return p;
}

TEST_F(TalvikTest, VpdReadAttemptsPausesAndVerification) {
  // G good, S status 3, F function code 0x5A, P page code 2, T transport failure, L accepted
  // but with VPD length 0x1F0: verified, and its failure is the result.
  const std::map<char, Answer> legend{{'G', {0, RdpImage()}}, {'S', {0, RdpImage(5, 3)}}, {'F', {0, RdpImage(4, 0x5A)}},
                                      {'P', {0, RdpImage(0, 2)}}, {'T', {SES_RC_CI_FAILED, {}}}, {'L', {0, RdpImage(13, 0xF0)}}};
  const struct { const char *script; std::int32_t rc; const char *pauses; } cases[] = {
      {"SFG", 0, "25000 50000"}, {"PPPPPPPPPP", 86, "50000x10"}, {"TTTTTTTTTT", SES_RC_CI_FAILED, "25000x10"},
      {"TTTTTTTTTF", 86, "25000x9 50000"}, {"L", SES_RC_STRING_PAGE, ""}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.script);
    Start(c.script, legend);
    Bytes image(kRdpVpdImageSize);
    testing::internal::CaptureStderr();
    EXPECT_EQ(TK_ReadRDPVpd("SN1", image.data()), c.rc);
    EXPECT_EQ(testing::internal::GetCapturedStderr().empty(), c.rc != SES_RC_STRING_PAGE);
    EXPECT_EQ(calls, std::vector<Call>(std::strlen(c.script), {'S', {4, 0, 0, 4, 0x69, 0, 0, 0, 16, 0, 0, 0}, 0, 512}));
    EXPECT_EQ(Pauses(), c.pauses);
    const Strings m = Messages();
    EXPECT_EQ(m.front(), "727 TK_ReadRDPVpd: Enclosure SN = SN1");
    EXPECT_EQ(m.back(), qeltest::Cat("801 TK_ReadRDPVpd: Exit, rc = ", std::to_string(c.rc)));
    const char last = std::string(c.script).back();
    EXPECT_EQ(image, last == 'T' ? Bytes(kRdpVpdImageSize) : legend.at(last).bytes);  // the last answer received
  }
}

TEST_F(TalvikTest, IcVpdReadTestsTheWholeDeviceNumber) {
  const std::map<char, Answer> ic{{'G', {0, IcImage()}}, {'6', {0, IcImage(8, 6)}}};
  Start("6G", ic);
  Bytes image(kIcVpdImageSize);
  ASSERT_EQ(TK_ReadICVpd("SN1", 5, image.data()), 0);
  EXPECT_EQ(calls, std::vector<Call>(2, {'S', {4, 0, 0, 4, 0x69, 0, 0, 0, 5, 0, 0, 0}, 0, 268}));
  EXPECT_EQ(Messages(), (Strings{"629 TK_ReadICVpd: Enclosure SN = SN1, Device = 5", "639 <--- StringOut Page to write --->",
                                 "652 <--- ENC VPD Page read ---->", "683 TK_ReadICVpd: Wrong StringIn Page!!!!",
                                 "684 PageCode = 4", "685 FuncCode = 0x69", "686 Device = 6", "652 <--- ENC VPD Page read ---->",
                                 "113 TK_VerifyICVpd: Entry", "149 TK_VerifyICVpd: Exit, rc = 0", "703 TK_ReadICVpd: Exit, rc = 0"}));
  // 261 goes out as its low byte 5; an answer echoing 5 is still the wrong device.
  Start("GGGGGGGGGG", ic);
  EXPECT_EQ(TK_ReadICVpd("SN1", 261, image.data()), 86);
  EXPECT_EQ(calls[0].sent[8], 5);
}

TEST_F(TalvikTest, VpdVerifyLengthThenChecksum) {
  // trace: the line between entry and exit. A wrong length alone is reported; the checksum
  // (wrong too in that row) is not computed. Byte 11 is not part of the record.
  const struct { Bytes image; std::int32_t rc; const char *err, *trace; } cases[] = {
      {RdpImage(), 0, "", nullptr}, {RdpImage(11, 0x77), 0, "", nullptr}, {IcImage(), 0, "", nullptr},
      {RdpImage(13, 0xF0), 4098, "Length field in VPD data is incorrect: found(1f0), expected(1f1)\n",
       "180 TK_VerifyRDPVpd: Error - VPD Length = 496!!!"},
      {RdpImage(14, 0x5A), 4098, "Checksum is invalid\n", "199 TK_VerifyRDPVpd: checksum: f0 !=  5a!!!"},
      {IcImage(12, 0x01), 4098, "Length field in VPD data is incorrect: found(1fd), expected(fd)\n",
       "122 TK_VerifyICVpd: Error - VPD Length = 509!!!"},
      {IcImage(266, 0x10), 4098, "Checksum is invalid\n", "141 TK_VerifyICVpd: checksum: fd !=  10!!!"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(&c - cases);
    Start();
    testing::internal::CaptureStderr();
    const bool rdp = c.image.size() == kRdpVpdImageSize;
    EXPECT_EQ(rdp ? TK_VerifyRDPVpd(c.image.data()) : TK_VerifyICVpd(c.image.data()), c.rc);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err);
    const Strings m = Messages();
    EXPECT_EQ(m.size(), c.trace == nullptr ? 2u : 3u);
    if (c.trace != nullptr) { EXPECT_EQ(m[1], c.trace); }
  }
}

TEST_F(TalvikTest, VpdWritePageSizeHeaderAndRecord) {
  // Device 2 gets a 268-byte page carrying the first 256 record bytes, all it may be given.
  const struct { std::int32_t device, parameter, rc; Bytes header; std::size_t recordSize; } cases[] = {
      {16, 0, 0, {4, 0, 0x01, 0xFC, 0x5A, 0, 0, 0, 16, 0, 0, 0}, 500}, {2, 7, 86, {4, 0, 0x01, 0x08, 0x5A, 0, 0, 0, 2, 7, 0, 0}, 256}};
  for (const auto &c : cases) {
    Start("A", {{'A', {c.rc, {}}}});
    Bytes record(c.recordSize);
    std::iota(record.begin(), record.end(), std::uint8_t{2});  // last byte of 256 nonzero
    EXPECT_EQ(TK_WriteVpd("SN1", c.device, c.parameter, record.data()), c.rc);
    Bytes page = c.header;
    page.insert(page.end(), record.begin(), record.end());
    EXPECT_EQ(calls, (std::vector<Call>{{'W', page, 0, 0}}));
    EXPECT_EQ(Messages(), (Strings{qeltest::Cat("572 TK_WriteVpd: Enclosure SN = SN1, Device = ", std::to_string(c.device)),
                                   "591 <--- Write VPD StringOut Page ------>",
                                   qeltest::Cat("598 TK_WriteVpd: Exit, rc = ", std::to_string(c.rc))}));
    EXPECT_EQ(TraceLines()[2], "2275 Output Data, Size = 512");
  }
}
}  // namespace

// VPD image verification and the VPD write page.
#include <array>
#include <numeric>

#include "fake_ses.h"
#include "talvik.h"

namespace {
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

enum class Kind { Rdp, Ic };

// The all-zero image with its length field and checksum: the smallest valid image.
std::vector<std::uint8_t> ZeroImage(Kind k) {
  if (k == Kind::Rdp) {
    auto p = Page(kRdpVpdImageSize, {4, 0, 0, 0, 0x69, 0, 0, 0, 16, 0, 0, 0, 0x01, 0xF1});
    p[kRdpVpdChecksumOffset] = 0xF0;
    return p;
  }
  auto p = Page(kIcVpdImageSize, {4, 0, 0, 0, 0x69, 0, 0, 0, 3, 0, 0, 0, 0x00, 0xFD});
  p[kIcVpdChecksumOffset] = 0xFD;
  return p;
}

struct VerifyCase {
  const char *name;
  Kind kind;
  std::size_t at;  // byte to change (0: none)
  std::uint8_t value;
  std::int32_t rc;
  const char *stderrText;
  const char *traceLine;  // the error's trace line ("" when none)
};
void PrintTo(const VerifyCase &c, std::ostream *os) { *os << c.name; }

class VerifyVpd : public TalvikTest, public ::testing::WithParamInterface<VerifyCase> {};

TEST_P(VerifyVpd, LengthAndChecksum) {
  const VerifyCase &c = GetParam();
  auto image = ZeroImage(c.kind);
  if (c.at != 0) image[c.at] = c.value;
  CaptureStderr();
  const std::int32_t rc = c.kind == Kind::Rdp ? TK_VerifyRDPVpd(image.data()) : TK_VerifyICVpd(image.data());
  EXPECT_EQ(GetCapturedStderr(), c.stderrText);
  EXPECT_EQ(rc, c.rc);
  const auto msgs = Messages();
  const std::string name = c.kind == Kind::Rdp ? "TK_VerifyRDPVpd" : "TK_VerifyICVpd";
  std::vector<std::string> expected{(c.kind == Kind::Rdp ? "171 " : "113 ") + name + ": Entry"};
  if (*c.traceLine != '\0') expected.push_back(c.traceLine);
  expected.push_back((c.kind == Kind::Rdp ? "205 " : "149 ") + name + ": Exit, rc = " + std::to_string(c.rc));
  EXPECT_EQ(msgs, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Talvik, VerifyVpd,
    ::testing::Values(
        VerifyCase{"RdpZeroImage", Kind::Rdp, 0, 0, 0, "", ""},
        VerifyCase{"RdpLength1F0", Kind::Rdp, 13, 0xF0, 4098,
                   "Length field in VPD data is incorrect: found(1f0), expected(1f1)\n",
                   "180 TK_VerifyRDPVpd: Error - VPD Length = 496!!!"},
        VerifyCase{"RdpFirstDataByte", Kind::Rdp, 14, 0x5A, 4098, "Checksum is invalid\n",
                   "199 TK_VerifyRDPVpd: checksum: f0 !=  5a!!!"},
        VerifyCase{"RdpLastDataByte", Kind::Rdp, 510, 0x01, 4098, "Checksum is invalid\n",
                   "199 TK_VerifyRDPVpd: checksum: f0 !=  01!!!"},
        VerifyCase{"RdpChecksumByte", Kind::Rdp, 511, 0xF1, 4098, "Checksum is invalid\n",
                   "199 TK_VerifyRDPVpd: checksum: f1 !=  01!!!"},
        VerifyCase{"RdpHeaderNotInRecord", Kind::Rdp, 11, 0x77, 0, "", ""},
        VerifyCase{"IcZeroImage", Kind::Ic, 0, 0, 0, "", ""},
        VerifyCase{"IcLengthOfRdp", Kind::Ic, 12, 0x01, 4098,
                   "Length field in VPD data is incorrect: found(1fd), expected(fd)\n",
                   "122 TK_VerifyICVpd: Error - VPD Length = 509!!!"},
        VerifyCase{"IcLastDataByte", Kind::Ic, 266, 0x10, 4098, "Checksum is invalid\n",
                   "141 TK_VerifyICVpd: checksum: fd !=  10!!!"}),
    CaseName());

struct WriteCase {
  const char *name;
  std::int32_t device;
  std::int32_t parameter;
  std::size_t recordSize;  // what the caller provides
  std::vector<std::uint8_t> header;
  std::size_t sent;
  std::int32_t rc;
  const char *lastDumpRow;  // page bytes 496..511 as dumped
};
void PrintTo(const WriteCase &c, std::ostream *os) { *os << c.name; }

class WriteVpd : public TalvikTest, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(WriteVpd, PageSizeHeaderAndRecord) {
  const WriteCase &c = GetParam();
  std::vector<std::uint8_t> record(c.recordSize);
  std::iota(record.begin(), record.end(), std::uint8_t{1});
  fakeses::answers = {{c.rc, {}}};
  EXPECT_EQ(TK_WriteVpd("SN3", c.device, c.parameter, record.data()), c.rc);
  ASSERT_EQ(fakeses::calls.size(), 1u);
  const auto &page = fakeses::calls[0].sent;
  EXPECT_EQ(fakeses::calls[0].op, "WritePage");
  ASSERT_EQ(page.size(), c.sent);
  EXPECT_EQ(std::vector<std::uint8_t>(page.begin(), page.begin() + 12), c.header);
  EXPECT_TRUE(std::equal(page.begin() + 12, page.end(), record.begin()));
  const std::vector<std::string> expected{
      "572 TK_WriteVpd: Enclosure SN = SN3, Device = " + std::to_string(c.device),
      "591 <--- Write VPD StringOut Page ------>", "2275 Output Data, Size = 512"};
  const auto lines = TraceLines();
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 3), expected);
  EXPECT_EQ(lines.back(), "598 TK_WriteVpd: Exit, rc = " + std::to_string(c.rc));
  EXPECT_EQ(lines[lines.size() - 2], std::string("2410 496: ") + c.lastDumpRow);
  EXPECT_TRUE(Pauses().empty());
}

constexpr const char *kRecordTailRow = "e5 e6 e7 e8 e9 ea eb ec - ed ee ef f0 f1 f2 f3 f4   '................'";
constexpr const char *kZeroRow = "00 00 00 00 00 00 00 00 - 00 00 00 00 00 00 00 00   '................'";

INSTANTIATE_TEST_SUITE_P(
    Talvik, WriteVpd,
    ::testing::Values(
        WriteCase{"RdpDevice16", 16, 0, 500, {4, 0, 0x01, 0xFC, 0x5A, 0, 0, 0, 16, 0, 0, 0}, 512, 0, kRecordTailRow},
        // Another device takes only the 256 record bytes that are sent.
        WriteCase{"Device2", 2, 7, 256, {4, 0, 0x01, 0x08, 0x5A, 0, 0, 0, 2, 7, 0, 0}, 268, 0, kZeroRow},
        WriteCase{"RefusedPassesCodeUp", 16, 0, 500, {4, 0, 0x01, 0xFC, 0x5A, 0, 0, 0, 16, 0, 0, 0}, 512, 86, kRecordTailRow}),
    CaseName());
}  // namespace

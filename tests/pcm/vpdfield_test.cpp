// The PCM and PRS fields of the RDP VPD, five bytes each at 406 and 411: reading the mode out
// of an image, and preparing the image that an update writes back.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <tuple>

#include "qelses_pcm.h"
#include "talvik.h"

namespace {

using Image = std::array<std::uint8_t, 512>;

// An RDP image with length field 497, some data and the given field bytes; its checksum is
// left for the update to make.
Image MakeImage(const std::string &pcm, const std::string &prs) {
  Image img{};
  for (std::size_t i = 14; i < 400; ++i) img[i] = static_cast<std::uint8_t>(i * 7);
  std::memcpy(img.data() + 12, "\x01\xF1", 2);
  std::memcpy(img.data() + 406, pcm.data(), pcm.size());
  std::memcpy(img.data() + 411, prs.data(), prs.size());
  return img;
}

TEST(VpdFields, ModeReadAndUpdate) {
  const std::string absent = "RDP VPD does not contain valid PCM field (not yet set?)\n", none(5, '\0');
  // An update run (forUpdate 1) reports nothing on standard error.
  const struct { std::string field; std::int32_t forUpdate, mode; std::string err; } modes[] = {
      {"PCM=7", 0, 7, ""}, {"PCM=0", 0, 0, ""}, {"PCM=8", 0, -99, "RDP VPD contains bad PCM value (PCM=8)\n"},
      {"PCM=9", 1, -99, ""}, {std::string("PCM=\0", 5), 0, -99, "RDP VPD contains bad PCM value (PCM=)\n"},
      {"pcm=3", 0, -99, absent}, {none, 0, -99, absent}, {none, 1, -99, ""}, {std::string("PC\0=3", 5), 0, -99, absent}};
  for (const auto &c : modes) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(ExtractPcmMode(MakeImage(c.field, "PRS=1").data(), c.forUpdate), c.mode) << c.field;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err) << c.field;
  }
  // An update changes the PCM field and the checksum only, and writes PRS=0 beside it when the
  // image has no PRS field; the image verifies again.
  for (const auto &[pcm, prs, fields] : {std::tuple<std::string, std::string, std::string>{"PCM=3", "PRS=2", "PCM=4PRS=2"},
           {none, none, "PCM=4PRS=0"}, {"PCM=3", "prs=1", "PCM=4PRS=0"}, {none, "XXXXX", "PCM=4PRS=0"}}) {
    Image want = MakeImage(pcm, prs);
    std::memcpy(VpdBuffer, want.data(), want.size());
    CreateNewVpd(4);
    std::memcpy(want.data() + 406, fields.data(), fields.size());
    EXPECT_EQ(std::memcmp(want.data(), VpdBuffer, want.size() - 1), 0) << prs;  // all but the checksum
    EXPECT_EQ(TK_VerifyRDPVpd(VpdBuffer), 0);
  }
}

}  // namespace

// The PCM and PRS fields of the RDP VPD: reading the mode out of an image, and preparing the
// image that an update writes back.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "qelses_pcm.h"
#include "talvik.h"

namespace {

using Image = std::array<std::uint8_t, kVpdImageSize>;

// A verified-looking RDP image: header, length 497, some data, the given field bytes, checksum.
Image MakeImage(const std::string &pcmField, const std::string &prsField) {
  Image img{};
  img[0] = 4;
  img[4] = 0x69;
  img[8] = 16;
  img[12] = 0x01;
  img[13] = 0xF1;
  for (std::size_t i = 14; i < 400; ++i) img[i] = static_cast<std::uint8_t>(i * 7);
  std::memcpy(img.data() + kPcmFieldOffset, pcmField.data(), std::min(pcmField.size(), kVpdFieldSize));
  std::memcpy(img.data() + kPrsFieldOffset, prsField.data(), std::min(prsField.size(), kVpdFieldSize));
  std::uint8_t sum = 0;
  for (std::size_t i = 12; i < 511; ++i) sum ^= img[i];
  img[511] = sum;
  return img;
}

struct ModeCase {
  std::string field;  // five bytes at 406..410
  std::int32_t forUpdate;
  std::int32_t mode;
  std::string err;
};

TEST(ExtractPcmMode, FieldRules) {
  const std::string absent = "RDP VPD does not contain valid PCM field (not yet set?)\n";
  const ModeCase cases[] = {
      {"PCM=7", 0, 7, ""},
      {"PCM=0", 0, 0, ""},
      {"PCM=8", 0, -99, "RDP VPD contains bad PCM value (PCM=8)\n"},
      {"PCM=9", 1, -99, ""},  // update run: trace only
      {std::string("PCM=\0", 5), 0, -99, "RDP VPD contains bad PCM value (PCM=)\n"},
      {"pcm=3", 0, -99, absent},
      {std::string(5, '\0'), 0, -99, absent},
      {std::string(5, '\0'), 1, -99, ""},
      {std::string("PC\0=3", 5), 0, -99, absent},
  };
  for (const ModeCase &c : cases) {
    const Image img = MakeImage(c.field, "PRS=1");
    testing::internal::CaptureStderr();
    EXPECT_EQ(ExtractPcmMode(img.data(), c.forUpdate), c.mode) << c.field;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err) << c.field;
  }
}

// An update changes the PCM field and the checksum only, and writes PRS=0 beside it when the
// image has no PRS field; the image verifies again and reads back the new mode.
TEST(CreateNewVpd, WritesTheModeAndADefaultPrsOnlyWhenAbsent) {
  const struct {
    std::string pcm, prs, fields;
  } cases[] = {{"PCM=3", "PRS=2", "PCM=4PRS=2"},
               {std::string(5, '\0'), std::string(5, '\0'), "PCM=4PRS=0"},
               {"PCM=3", "prs=1", "PCM=4PRS=0"},
               {std::string(5, '\0'), "XXXXX", "PCM=4PRS=0"}};
  for (const auto &c : cases) {
    const Image before = MakeImage(c.pcm, c.prs);
    std::memcpy(VpdBuffer, before.data(), before.size());
    CreateNewVpd(4);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(VpdBuffer + kPcmFieldOffset), 10), c.fields) << c.prs;
    for (std::size_t i = 0; i < kVpdImageSize; ++i) {
      const bool field = i >= kPcmFieldOffset && i < kPrsFieldOffset + kVpdFieldSize;
      if (!field && i != kVpdImageSize - 1) {
        ASSERT_EQ(VpdBuffer[i], before[i]) << "byte " << i;
      }
    }
    EXPECT_EQ(TK_VerifyRDPVpd(VpdBuffer), 0);
    EXPECT_EQ(ExtractPcmMode(VpdBuffer, 0), 4);
  }
}

}  // namespace

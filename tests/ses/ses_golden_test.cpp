// The request bytes of a fixed set of operations, compared with a golden file that is checked
// in once: the same file must pass on the development host and on the big-endian target, so
// no field can depend on the host's byte order or word size (the address field is masked).
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "qelses.h"
#include "ses_fixture.h"

namespace sestest {
namespace {

constexpr std::size_t kAddressField = 176;
constexpr std::size_t kAddressWidth = 4;

std::string GoldenPath() { return std::string(QEL_SOURCE_DIR) + "/tests/ses/golden/requests.hex"; }

TEST_F(SesTest, RequestBytesMatchTheGoldenFile) {
  adapter.pages[1] = std::vector<std::uint8_t>(296, 0x01);
  const std::uint8_t stringOut[16] = {0x04, 0x00, 0x00, 0x0C, 0x69, 0x00, 0x00, 0x00, 0x10,
                                      0x00, 0x00, 0x00, 0xA1, 0xB2, 0xC3, 0xD4};
  std::uint8_t page[296];
  std::uint8_t in[204];
  std::uint8_t image[20];
  for (std::size_t i = 0; i < sizeof image; ++i) image[i] = static_cast<std::uint8_t>(0xF0 - i);

  ASSERT_EQ(SES_WritePage("SER-GOLDEN-0001", 16, stringOut), SES_OK);
  ASSERT_EQ(SES_ReadPage("SER-GOLDEN-0001", 0x101, 296, page), SES_OK);
  ASSERT_EQ(SES_ReadStringPage("SER-GOLDEN-0001", 16, stringOut, 204, in, 0), SES_OK);
  ASSERT_EQ(SES_DownloadFwTransfer("SER-GOLDEN-0001", 0x1234, image, sizeof image), SES_OK);
  ASSERT_EQ(SES_DownloadFwCommit("SER-GOLDEN-0001", 0x1234), SES_OK);

  std::string text;
  for (std::size_t i = 0; i < adapter.requests.size(); ++i) {
    std::vector<std::uint8_t> bytes = adapter.requests[i].bytes;
    std::fill_n(bytes.begin() + kAddressField, kAddressWidth, 0);
    text += "# request " + std::to_string(i) + ", " + std::to_string(bytes.size()) + " bytes\n";
    text += Hex(bytes) + "\n";
  }
  // QEL_SES_WRITE_GOLDEN=1 rewrites the file (on the host) after a deliberate format change.
  const char *write = std::getenv("QEL_SES_WRITE_GOLDEN");
  if (write != nullptr && std::string(write) == "1") {
    std::ofstream(GoldenPath(), std::ios::binary) << text;
  }
  EXPECT_EQ(text, qeltest::ReadFile(GoldenPath()));
}

}  // namespace
}  // namespace sestest

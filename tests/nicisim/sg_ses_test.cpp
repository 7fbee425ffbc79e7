// The simulated pages checked by an independent SES decoder: sg_ses reading hex files.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "byteorder.h"
#include "cirequest.h"
#include "niciClient.h"

namespace {

void WriteHex(FILE *f, const std::vector<std::uint8_t> &page) {
  for (std::size_t i = 0; i < page.size(); ++i) std::fprintf(f, "%02x%c", page[i], i % 16 == 15 ? '\n' : ' ');
  std::fputc('\n', f);
}

std::size_t Count(const std::string &text, const std::string &what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(SgSes, ConfigurationAndStatusPagesDecodeAsSes) {
  if (std::strlen(QEL_TEST_EMULATOR) != 0) GTEST_SKIP() << "sg_ses is a host tool";
  if (std::system("command -v sg_ses >/dev/null 2>&1") != 0) GTEST_SKIP() << "sg_ses not installed";
  citest::ScratchLab lab("nicisim-sgses");
  ASSERT_EQ(niCIOpen(), 0);
  // Power supply 2 asked to fail, so the decoder must find it in the status page.
  std::vector<std::uint8_t> control(224, 0);
  control[0] = 2;
  qel::store_be16(control.data() + 2, 220);
  control[188] = 0x80;
  control[191] = 0x40;
  ASSERT_EQ(citest::Exchange(citest::SendMessage("IRC0001", control)).resultWord(), 0u);
  std::vector<std::uint8_t> config = citest::ReadPage("IRC0001", 1, 296);
  const std::vector<std::uint8_t> status = citest::ReadPage("IRC0001", 2, 224);
  niCIClose();
  ASSERT_EQ(config.size(), 296u);
  config.resize(qel::load_be16(config.data() + 2) + 4u);  // the page without the read's padding

  const std::string hex = lab.dir() + "/pages.hex";
  FILE *f = std::fopen(hex.c_str(), "w");
  ASSERT_NE(f, nullptr);
  WriteHex(f, config);
  WriteHex(f, status);
  std::fclose(f);
  const qeltest::ProcResult cf = qeltest::RunProcess({"sg_ses", "--inhex=" + hex, "--status", "--page=cf"});
  ASSERT_EQ(cf.status, 0) << cf.err;
  EXPECT_TRUE(cf.out.find("number of type descriptor headers: 10") != std::string::npos) << cf.out;
  EXPECT_TRUE(cf.out.find("product: 5284-E11-IRC") != std::string::npos);
  EXPECT_TRUE(cf.out.find("Element type: Power supply, subenclosure id: 0\n      number of possible elements: 2\n"
                          "      text: Power Supply") != std::string::npos);

  const qeltest::ProcResult es = qeltest::RunProcess({"sg_ses", "--inhex=" + hex, "--status", "--page=es"});
  ASSERT_EQ(es.status, 0) << es.err;
  EXPECT_EQ(Count(es.out, "Element type:"), 10u);
  EXPECT_EQ(Count(es.out, "status: OK"), 44u);  // every individual element, no overall one
  const std::size_t psu = es.out.find("Element type: Power supply");
  ASSERT_NE(psu, std::string::npos);
  const std::string psuText = es.out.substr(psu, es.out.find("Element type:", psu + 1) - psu);
  EXPECT_EQ(Count(psuText, "Fail=1"), 1u) << psuText;
  EXPECT_EQ(Count(psuText, "Requested on=1"), 2u);
}

}  // namespace

// DumpBinary: titled hex dump to standard output and the trace.
#include <gtest/gtest.h>

#include <cstdio>

#include "tracehelp.h"

namespace {

std::string Bytes(int n, int first = 0x41) {
  std::string s;
  for (int i = 0; i < n; ++i) s.push_back(static_cast<char>(first + i));
  return s;
}

std::string AddressLine(const void *p, int length) {
  char buf[128];
  std::snprintf(buf, sizeof buf, "Address: 0x%p Length: 0x%x\n\n", p, static_cast<unsigned>(length));
  return buf;
}

TEST(DumpBinary, TwentyBytesToStdout) {
  const std::string data = Bytes(20);
  testing::internal::CaptureStdout();
  DumpBinary("Title", data.data(), 20, 1, 0);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "\nTitle\n" + AddressLine(data.data(), 20) +
                     "000:41 42 43 44 45 46 47 48 49 4a 4b 4c 4d 4e 4f 50      ABCDEFGHIJKLMNOP\n"
                     "010:51 52 53 54 " + std::string(41, ' ') + "QRST\n");
}

TEST(DumpBinary, UnprintableBytesAndLongOffsets) {
  std::string data(0x1010, '\0');
  data[0x1000] = '\x7f';
  data[0x1001] = '~';
  data[0x1002] = ' ';
  data[0x1003] = '\x1f';
  testing::internal::CaptureStdout();
  DumpBinary("T", data.data(), static_cast<int>(data.size()), 1, 0);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("\nFF0:00 00"), std::string::npos);
  EXPECT_NE(out.find("\n1000:7f 7e 20 1f 00 00 00 00 00 00 00 00 00 00 00 00      .~ .............\n"),
            std::string::npos);
}

TEST(DumpBinary, EmptyOrNegativeLengthGivesTitleAndAddressOnly) {
  for (int length : {0, -5}) {
    const char byte = 'x';
    testing::internal::CaptureStdout();
    DumpBinaryToStdout("Empty", &byte, length);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nEmpty\n" + AddressLine(&byte, length));
  }
}

TEST(DumpBinary, TraceCarriesEachPieceWithItsPrefix) {
  qeltest::TraceFixture t;
  ASSERT_EQ(t.Open(), 0);
  const std::string data = Bytes(17, 0x30);
  testing::internal::CaptureStdout();
  DumpBinaryToTrace("Page", data.data(), 17);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");  // trace only
  EXPECT_EQ(t.Body(), "0.000\nqeldebug:1957 \nPage\n"
                      "qeldebug:1961 " + AddressLine(data.data(), 17) +
                      "qeldebug:2007 000:30 31 32 33 34 35 36 37 38 39 3a 3b 3c 3d 3e 3f      0123456789:;<=>?\n"
                      "qeldebug:2056 010:40 " + std::string(50, ' ') + "@\n");
}

TEST(DumpBinary, LongTitleWrittenWhole) {
  const std::string title(10000, 'T');
  testing::internal::CaptureStdout();
  DumpBinary(title.c_str(), "", 0, 1, 0);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.substr(0, title.size() + 2), "\n" + title + "\n");
}

}  // namespace

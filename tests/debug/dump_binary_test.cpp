// DumpBinary: titled hex dump to standard output and the trace.
#include <gtest/gtest.h>

#include <cstdio>

#include "tracehelp.h"

using qeltest::Cat;

namespace {

std::string AddressLine(const void *p, int length) {
  char buf[128];
  std::snprintf(buf, sizeof buf, "Address: 0x%p Length: 0x%x\n\n", p, static_cast<unsigned>(length));
  return buf;
}

std::string ToStdout(const std::string &title, const std::string &data, int length) {
  testing::internal::CaptureStdout();
  DumpBinary(title.c_str(), data.data(), length, 1, 0);
  return testing::internal::GetCapturedStdout();
}

TEST(DumpBinary, TwentyBytesToStdout) {
  const std::string data = "ABCDEFGHIJKLMNOPQRST";
  EXPECT_EQ(ToStdout("Title", data, 20), Cat("\nTitle\n", AddressLine(data.data(), 20),
                                             "000:41 42 43 44 45 46 47 48 49 4a 4b 4c 4d 4e 4f 50      ABCDEFGHIJKLMNOP\n"
                                             "010:51 52 53 54 ", std::string(41, ' '), "QRST\n"));
  // Nothing but title and address for no bytes; a long title is written whole.
  for (int length : {0, -5}) EXPECT_EQ(ToStdout("Empty", data, length), Cat("\nEmpty\n", AddressLine(data.data(), length)));
  const std::string title(10000, 'T');
  EXPECT_EQ(ToStdout(title, data, 0).substr(0, title.size() + 2), Cat("\n", title, "\n"));
  // Offsets take more digits from 0x1000; unprintable bytes show as dots.
  std::string big(0x1010, '\0');
  big.replace(0x1000, 4, "\x7f~ \x1f");
  const std::string out = ToStdout("T", big, 0x1010);
  EXPECT_NE(out.find("\nFF0:00 00"), std::string::npos);
  EXPECT_NE(out.find("\n1000:7f 7e 20 1f 00 00 00 00 00 00 00 00 00 00 00 00      .~ .............\n"), std::string::npos);
}

TEST(DumpBinary, TraceCarriesEachPieceWithItsPrefix) {
  TraceFixture t;
  ASSERT_EQ(t.Open(), 0);
  const std::string data = "0123456789:;<=>?@";
  testing::internal::CaptureStdout();
  DumpBinaryToTrace("Page", data.data(), 17);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");  // trace only
  EXPECT_EQ(qeltest::ReadFile(DebugStreamName),
            Cat("Program qelses_pcm started.\nFri Dec  4 02:16:06 2026\n\n0.000\nqeldebug:1957 \nPage\nqeldebug:1961 ",
                AddressLine(data.data(), 17),
                "qeldebug:2007 000:30 31 32 33 34 35 36 37 38 39 3a 3b 3c 3d 3e 3f      0123456789:;<=>?\n"
                "qeldebug:2056 010:40 ", std::string(50, ' '), "@\n"));
}

}  // namespace

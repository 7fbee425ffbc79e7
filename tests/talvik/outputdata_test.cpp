// Page dump layout, in the trace and on standard output.
#include <numeric>

#include "fake_ses.h"
#include "talvik.h"

namespace {
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

std::vector<std::uint8_t> Letters(std::size_t n) {
  std::vector<std::uint8_t> v(n);
  std::iota(v.begin(), v.end(), std::uint8_t{'A'});
  return v;
}

struct DumpCase {
  const char *name;
  std::vector<std::uint8_t> data;
  std::vector<std::string> rows;  // trace messages after the header, at line 2410
};
void PrintTo(const DumpCase &c, std::ostream *os) { *os << c.name; }

class Dump : public TalvikTest, public ::testing::WithParamInterface<DumpCase> {};

TEST_P(Dump, TraceLines) {
  const DumpCase &c = GetParam();
  OutputData(c.data.data(), static_cast<std::uint32_t>(c.data.size()), 1);
  std::vector<std::string> expected{"2275 Output Data, Size = " + std::to_string(c.data.size())};
  for (const auto &r : c.rows) expected.push_back("2410 " + r);
  EXPECT_EQ(TraceLines(), expected);
}

std::vector<std::uint8_t> Mixed() {
  auto v = Letters(16);
  v.insert(v.end(), {0x00, 0x7F, 0x1F, 0x20});
  return v;
}

INSTANTIATE_TEST_SUITE_P(
    Talvik, Dump,
    ::testing::Values(
        DumpCase{"Empty", {}, {}},
        DumpCase{"FullLine", Letters(16),
                 {"000: 41 42 43 44 45 46 47 48 - 49 4a 4b 4c 4d 4e 4f 50   'ABCDEFGHIJKLMNOP'"}},
        // No ninth byte: two blanks instead of the separator.
        DumpCase{"EightBytes", Letters(8),
                 {"000: 41 42 43 44 45 46 47 48                             'ABCDEFGH'"}},
        DumpCase{"NineBytes", Letters(9),
                 {"000: 41 42 43 44 45 46 47 48 - 49                        'ABCDEFGHI'"}},
        // The short last line keeps the apostrophe in the column of full lines.
        DumpCase{"ShortLastLineAndUnprintables", Mixed(),
                 {"000: 41 42 43 44 45 46 47 48 - 49 4a 4b 4c 4d 4e 4f 50   'ABCDEFGHIJKLMNOP'",
                  "016: 00 7f 1f 20                                         '... '"}}),
    CaseName());

TEST_F(TalvikTest, OffsetsFromThousandTakeFourDigits) {
  const std::vector<std::uint8_t> data(1010, 'Z');
  OutputData(data.data(), static_cast<std::uint32_t>(data.size()), 1);
  const auto lines = TraceLines();
  ASSERT_EQ(lines.size(), 1u + 64u);
  EXPECT_EQ(lines[63], "2410 992: 5a 5a 5a 5a 5a 5a 5a 5a - 5a 5a 5a 5a 5a 5a 5a 5a   'ZZZZZZZZZZZZZZZZ'");
  EXPECT_EQ(lines[64], "2410 1008: 5a 5a                                               'ZZ'");
}

TEST_F(TalvikTest, StandardOutputModeKeepsOnlyHeaderInTrace) {
  const auto data = Letters(9);
  CaptureStdout();
  OutputData(data.data(), 9, 0);
  OutputData(data.data(), 0, 0);
  EXPECT_EQ(GetCapturedStdout(),
            "000: 41 42 43 44 45 46 47 48 - 49                        'ABCDEFGHI'\n\n"
            "\n");
  const std::vector<std::string> expected{"2275 Output Data, Size = 9", "2275 Output Data, Size = 0"};
  EXPECT_EQ(TraceLines(), expected);
}
}  // namespace

// Standard page reads with their page-code check, and the control page write.
#include <array>

#include "fake_ses.h"
#include "talvik.h"

namespace {
using fakeses::Answer;

enum class Which { Config, Status };

struct PageReadCase {
  const char *name;
  Which which;
  std::vector<Answer> script;
  std::int32_t rc;
  int pauses;      // of 400000 us each
  int wrongLines;  // wrong-page trace lines
};
void PrintTo(const PageReadCase &c, std::ostream *os) { *os << c.name; }

class PageRead : public TalvikTest, public ::testing::WithParamInterface<PageReadCase> {};

TEST_P(PageRead, PageCodeCheckAndRetries) {
  const PageReadCase &c = GetParam();
  const bool config = c.which == Which::Config;
  const std::string name = config ? "TK_ReadConfigPage" : "TK_ReadStatusPage";
  const std::uint32_t size = config ? kConfigPageSize : kStatusPageSize;
  fakeses::answers.assign(c.script.begin(), c.script.end());
  std::vector<std::uint8_t> buffer(size, 0xEE);
  EXPECT_EQ(config ? TK_ReadConfigPage("SN4", buffer.data()) : TK_ReadStatusPage("SN4", buffer.data()), c.rc);

  ASSERT_EQ(fakeses::calls.size(), c.script.size());
  for (const auto &call : fakeses::calls) {
    EXPECT_EQ(call.op, "ReadPage");
    EXPECT_EQ(call.pageCode, config ? kConfigPageCode : kStatusPageCode);
    EXPECT_EQ(call.inLength, size);
  }
  EXPECT_EQ(Pauses(), std::vector<std::string>(static_cast<std::size_t>(c.pauses), "usleep 400000"));

  // Per read: title, dump, exit line with that read's code; a wrong page adds its line.
  std::vector<std::string> expected{(config ? "228 " : "290 ") + name + ": Enclosure SN = SN4"};
  for (std::size_t i = 0; i < c.script.size(); ++i) {
    expected.push_back(config ? "239 <--- Config Page read --->" : "301 <--- Status Page read --->");
    expected.push_back((config ? "241 " : "303 ") + name + ": Exit, rc = " + std::to_string(c.script[i].rc));
    if (c.script[i].rc == 0 && static_cast<int>(i) < c.wrongLines) {
      expected.push_back((config ? "251 " : "313 ") + name + ": Wrong PageCode (" +
                         std::to_string(c.script[i].bytes[0]) + ")!!!!");
    }
  }
  EXPECT_EQ(Messages(), expected);
  // The buffer was zeroed before the last read filled what it had.
  EXPECT_EQ(buffer[size - 1], 0);
}

const Answer kStatusPage{0, Page(kStatusPageSize, {2, 0, 0, 0xDC})};
const Answer kConfigAsStatus{0, Page(kStatusPageSize, {1})};
const Answer kConfigPage{0, Page(kConfigPageSize, {1})};
const Answer kTransport{SES_RC_BUSY, {}};

INSTANTIATE_TEST_SUITE_P(
    Talvik, PageRead,
    ::testing::Values(
        PageReadCase{"StatusGood", Which::Status, {kStatusPage}, 0, 0, 0},
        PageReadCase{"StatusWrongFiveTimes", Which::Status, std::vector<Answer>(5, kConfigAsStatus), 86, 5, 5},
        PageReadCase{"StatusWrongThenGood", Which::Status, {kConfigAsStatus, kStatusPage}, 0, 1, 1},
        PageReadCase{"StatusTransportFailsAtOnce", Which::Status, {kTransport}, SES_RC_BUSY, 0, 0},
        PageReadCase{"StatusWrongThenTransport", Which::Status, {kConfigAsStatus, kTransport}, SES_RC_BUSY, 1, 1},
        PageReadCase{"ConfigGood", Which::Config, {kConfigPage}, 0, 0, 0},
        PageReadCase{"ConfigWrongFiveTimes", Which::Config, std::vector<Answer>(5, {0, Page(kConfigPageSize, {2})}), 86, 5, 5}),
    CaseName());

TEST_F(TalvikTest, ControlPageGoesOutWholeAndUnchanged) {
  std::array<std::uint8_t, kStatusPageSize> page{};
  for (std::size_t i = 0; i < page.size(); ++i) page[i] = static_cast<std::uint8_t>(i * 7);
  fakeses::answers = {{86, {}}};
  EXPECT_EQ(TK_WriteControlPage("SN5", page.data()), 86);
  ASSERT_EQ(fakeses::calls.size(), 1u);
  EXPECT_EQ(fakeses::calls[0].op, "WritePage");
  EXPECT_EQ(fakeses::calls[0].sent, std::vector<std::uint8_t>(page.begin(), page.end()));
  const std::vector<std::string> expected{"351 TK_WriteControlPage: Entry",
                                          "353 <--- Control Page to write --->",
                                          "360 TK_WriteControlPage: Exit = 86"};
  EXPECT_EQ(Messages(), expected);
  EXPECT_EQ(TraceLines()[2], "2275 Output Data, Size = 224");
}
}  // namespace

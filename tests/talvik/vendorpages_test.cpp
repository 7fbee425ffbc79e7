// Diagnostic read pages and command pages: the bytes each sends, the answer each accepts, and
// their traces; the debug command's quiet success and its over-long text.
#include <algorithm>
#include <array>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "fake_ses.h"
#include "talvik.h"

namespace {
using fakeses::Answer;

// Trace messages without their source line numbers; a further prefix inside a line (a trace
// call that did not end its line) shows as "|".
std::vector<std::string> Texts(const std::vector<std::string> &lines) {
  static const std::regex innerPrefix("talvik:[0-9]+ ");
  std::vector<std::string> out;
  for (const auto &l : lines) out.push_back(std::regex_replace(l.substr(l.find(' ') + 1), innerPrefix, "|"));
  return out;
}

constexpr std::int32_t kDev = 7;
using Bytes = std::vector<std::uint8_t>;

struct ReadCase {
  const char *name;
  std::function<std::int32_t(std::uint8_t *)> run;
  Bytes request;  // whole request page
  std::size_t responseSize;
  bool deviceTested;
  std::string entry, title, op;
};
void PrintTo(const ReadCase &c, std::ostream *os) { *os << c.name; }

class ReadPage : public TalvikTest, public ::testing::WithParamInterface<ReadCase> {};

// First answer has the right function code but device 8: a wrong page only where the device
// is tested. Then a good answer.
TEST_P(ReadPage, RequestSizesAndDeviceTest) {
  const ReadCase &c = GetParam();
  const std::uint8_t fn = c.request[4];
  const Answer other{0, Page(c.responseSize, {4, 0, 0, 0, fn, 0, 0, 0, 8, 0x55})};
  const Answer good{0, Page(c.responseSize, {4, 0, 0, 0, fn, 0, 0, 0, kDev, 0x66})};
  fakeses::answers = {other};
  if (c.deviceTested) fakeses::answers.push_back(good);
  std::vector<std::uint8_t> buffer(c.responseSize + 4, 0xEE);
  ASSERT_EQ(c.run(buffer.data()), 0);

  for (const auto &call : fakeses::calls) {
    EXPECT_EQ(call.sent, c.request);
    EXPECT_EQ(call.inLength, c.responseSize);
  }
  const Bytes &last = (c.deviceTested ? good : other).bytes;
  EXPECT_TRUE(std::equal(last.begin(), last.end(), buffer.begin()));
  EXPECT_EQ(buffer[c.responseSize], 0xEE);  // nothing past the page
  std::vector<std::string> expected{c.entry, "<--- StringOut Page to write --->", c.title};
  if (c.deviceTested) {
    char fnText[8];
    std::snprintf(fnText, sizeof fnText, "0x%x", fn);
    for (std::string s : {c.op + ": Wrong StringIn Page!!!!", std::string("PageCode = 4"),
                          "FuncCode = " + std::string(fnText), std::string("Device = 8"), c.title})
      expected.push_back(s);
  }
  expected.push_back(c.op + ": Exit, rc = 0");
  EXPECT_EQ(Texts(Messages()), expected);
  EXPECT_EQ(Pauses(), std::vector<std::string>(c.deviceTested ? 1 : 0, "usleep 50000"));
}

Bytes Header(std::size_t size, std::uint8_t len, std::uint8_t fn, std::uint8_t dev, std::uint8_t par) {
  return Page(size, {4, 0, 0, len, fn, 0, 0, 0, dev, par});
}
std::string DevEntry(const char *op) { return std::string(op) + ": Enclosure SN = SN3, Device = 7"; }

INSTANTIATE_TEST_SUITE_P(
    Talvik, ReadPage,
    ::testing::Values(
        ReadCase{"ErrLog", [](std::uint8_t *b) { return TK_ReadErrLog("SN3", kDev, b); },
                 Header(12, 8, 0x92, 7, 2), 496, true, DevEntry("TK_ReadErrLog"), "<--- Errlog Page read --->", "TK_ReadErrLog"},
        ReadCase{"PostLog", [](std::uint8_t *b) { return TK_ReadPostLogPage("SN3", kDev, b); },
                 Header(12, 8, 0x92, 7, 1), 266, true, DevEntry("TK_ReadPostLog") + ",", "<--- PostLog Page read --->", "TK_ReadPostLogPage"},
        ReadCase{"LESB", [](std::uint8_t *b) { return TK_ReadLESBPage("SN3", kDev, b); },
                 Header(12, 8, 0xB0, 7, 0), 252, true, DevEntry("TK_ReadLESBPage"), "<--- LESB Page read --->", "TK_ReadLESBPage"},
        ReadCase{"ALPAMap", [](std::uint8_t *b) { return TK_ReadALPAMapPage("SN3", kDev, b); },
                 Header(12, 8, 0xB2, 7, 0), 36, true, DevEntry("TK_ReadALPAMapPage"), "<--- ALPA Map Page read --->", "TK_ReadALPAMapPage"},
        ReadCase{"ConnectorMap", [](std::uint8_t *b) { return TK_ReadConnectorMapPage("SN3", kDev, b); },
                 Header(12, 8, 0xB4, 7, 0), 28, true, DevEntry("TK_ReadConnectorMapPage"), "<--- ConnMap Page read --->", "TK_ReadConnectorMapPage"},
        ReadCase{"LIP", [](std::uint8_t *b) { return TK_ReadLIPPage("SN3", kDev, b); },
                 Header(12, 8, 0xB8, 7, 0), 172, true, DevEntry("TK_ReadLIPPage"), "<--- LIP Page read --->", "TK_ReadLIPPage"},
        ReadCase{"Events", [](std::uint8_t *b) { return TK_ReadEventsPage("SN3", b); },
                 Header(44, 8, 0xC0, 0x82, 0), 44, false, "TK_ReadEventsPage: Enclosure SN = SN3", "<--- Events Page read --->", "TK_ReadEventsPage"},
        ReadCase{"DateTime", [](std::uint8_t *b) { return TK_ReadDateTime("SN3", b); },
                 Header(16, 12, 0xD0, 0, 0), 16, false, "TK_ReadDateTime: Enclosure SN = SN3", "<--- DateTime Page read --->", "TK_ReadDateTime"}),
    CaseName());

// ---- Debug command ------------------------------------------------------------------------------
const Answer kDebugGood{0, Page(kDebugPageSize, {4, 0, 0, 0, 0xFF})};

struct DebugCase {
  const char *name;
  std::size_t textLength;
  std::int32_t rc;  // transport never called when refused
};
void PrintTo(const DebugCase &c, std::ostream *os) { *os << c.name; }
class DebugText : public TalvikTest, public ::testing::WithParamInterface<DebugCase> {};

TEST_P(DebugText, FitsOrIsRefusedWithoutOverrun) {
  const DebugCase &c = GetParam();
  // Exactly the text, no room after it: an over-long text must not be read to its end either.
  std::vector<char> text(c.textLength + 1, 'q');
  text.back() = '\0';
  if (c.rc == 0) fakeses::answers = {kDebugGood};
  std::vector<std::uint8_t> buffer(kDebugPageSize, 0xEE);
  EXPECT_EQ(TK_DebugCommand("SN3", text.data(), buffer.data()), c.rc);
  if (c.rc != 0) {
    EXPECT_TRUE(fakeses::calls.empty());
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](std::uint8_t b) { return b == 0; }));
    EXPECT_EQ(Texts(Messages()).back(), "TK_DebugCommand: Exit, rc = " + std::to_string(c.rc));
    return;
  }
  Bytes want = Page(204, {4, 0, 0, 200, 0xFF});
  std::fill_n(want.begin() + 12, c.textLength, 'q');
  EXPECT_EQ(fakeses::calls.at(0).sent, want);
  EXPECT_EQ(fakeses::calls.at(0).inLength, 204u);
  EXPECT_TRUE(TraceLines().empty());  // a working command leaves no trace
}

INSTANTIATE_TEST_SUITE_P(Talvik, DebugText,
                         ::testing::Values(DebugCase{"Empty", 0, 0}, DebugCase{"Short", 5, 0},
                                           DebugCase{"Longest", 191, 0},
                                           DebugCase{"OneTooLong", 192, TK_RC_COMMAND_TOO_LONG},
                                           DebugCase{"FarTooLong", 4000, TK_RC_COMMAND_TOO_LONG}),
                         CaseName());

TEST_F(TalvikTest, DebugCommandTracesPagesOnlyAfterTenFailures) {
  fakeses::answers.assign(10, Answer{0, Page(kDebugPageSize, {4, 0, 0, 0, 0xFF, 9})});
  std::array<std::uint8_t, kDebugPageSize> buffer{};
  ASSERT_EQ(TK_DebugCommand("SN3", "ver", buffer.data()), 86);
  auto expected = std::vector<std::string>(10, "TK_DebugCommand: StringIn Status = 0x9!!!!");
  for (const char *s : {"<--- StringOut Page written --->", "Output Data, Size = 204",
                        "<--- Debug Page read --->", "Output Data, Size = 204"})
    expected.push_back(s);
  expected.push_back("TK_DebugCommand: Exit, rc = 86");
  auto texts = Texts(TraceLines());
  std::erase_if(texts, [](const std::string &t) { return t.size() > 3 && t[3] == ':'; });  // dump rows
  EXPECT_EQ(texts, expected);
  EXPECT_EQ(buffer[5], 9);
}

// ---- Command pages ----------------------------------------------------------------------------
struct CommandCase {
  const char *name;
  std::function<std::int32_t()> run;
  Bytes page;
  std::vector<std::string> entry;  // trace lines before the page title
  std::string exitName;
  std::int32_t rc;  // the transport's answer, passed back unchanged
};
void PrintTo(const CommandCase &c, std::ostream *os) { *os << c.name; }
class CommandPage : public TalvikTest, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(CommandPage, SendsItsPageOnce) {
  const CommandCase &c = GetParam();
  fakeses::answers = {{c.rc, {}}};
  EXPECT_EQ(c.run(), c.rc);
  ASSERT_EQ(fakeses::calls.size(), 1u);
  EXPECT_EQ(fakeses::calls[0].op, "WritePage");
  EXPECT_EQ(fakeses::calls[0].serial, "SN6");
  EXPECT_EQ(fakeses::calls[0].sent, c.page);
  auto expected = c.entry;
  expected.push_back("<--- StringOut Page to write --->");
  expected.push_back("Output Data, Size = " + std::to_string(c.page.size()));
  expected.push_back(c.exitName + ": Exit, rc = " + std::to_string(c.rc));
  auto texts = Texts(TraceLines());
  std::erase_if(texts, [](const std::string &t) { return t.size() > 3 && t[3] == ':'; });
  EXPECT_EQ(texts, expected);
}

Bytes EventsPage(std::uint8_t sub) {
  Bytes p = Page(44, {4, 0, 0, 40, 0xC0, 0, 0, 0, sub, 0, 0, 0});
  std::fill(p.begin() + 12, p.end(), 0xFF);
  return p;
}
constexpr std::uint32_t kLipWords[kLIPWordCount] = {0x01020304, 0xA0B0C0D0, 0x000000FF};

INSTANTIATE_TEST_SUITE_P(
    Talvik, CommandPage,
    ::testing::Values(
        CommandCase{"ControllerResetDevice1", [] { return TK_ControllerReset("SN6", 1); },
                    {0x04, 0, 0, 0x08, 0x2D, 0, 0, 0, 0x01, 0, 0, 0},
                    {"TK_ControllerReset: Enclosure SN = SN6, Device = 1"}, "TK_ControllerReset", 0},
        CommandCase{"StatesaveNoEntryLine", [] { return TK_StatesaveMgmt("SN6", 0x104, 0x203); },
                    {0x04, 0, 0, 0x08, 0x99, 0, 0, 0, 0x04, 0x03, 0, 0}, {}, "JQ9_ForceStatesave", 86},
        CommandCase{"ResetLESBDevice0Port3", [] { return TK_ResetLESBPage("SN6", 0, 3); },
                    {0x04, 0, 0, 0x08, 0xB1, 0, 0, 0, 0x00, 0x03, 0, 0},
                    {"TK_ResetLESBPage: Enclosure SN = SN6, Device = 0, Port = 3"}, "TK_ResetLESBPage", 0},
        CommandCase{"WriteLIPWordsBigEndian", [] { return TK_WriteLIPPage("SN6", 2, 5, kLipWords); },
                    {0x04, 0, 0, 20, 0xB9, 0, 0, 0, 2, 0, 0, 0, 0x01, 0x02, 0x03, 0x04, 0xA0, 0xB0, 0xC0, 0xD0, 0, 0, 0, 0xFF},
                    {"TK_WriteLIPPage: Enclosure SN = SN6, Device = 2, Port = 5"}, "TK_WriteLIPPage", 0},
        CommandCase{"RegisterEvents", [] { return TK_RegForEventReporting("SN6"); }, EventsPage(2),
                    {"TK_RegForEventReporting: Enclosure SN = SN6"}, "TK_RegForEventReporting", 0},
        CommandCase{"ClearEventsOpenFails", [] { return TK_ClearEvents("SN6"); }, EventsPage(3),
                    {"TK_ClearEvents: Enclosure SN = SN6"}, "TK_ClearEvents", SES_RC_OPEN_FAILED},
        // Three prefixed traces on one line: the first two have no line end.
        CommandCase{"DateMonth13Year300", [] { return TK_SetDateTime("SN6", 300, 13, 31, 23, 59, 58); },
                    {0x04, 0, 0, 12, 0xD0, 0, 0, 0, 44, 13, 31, 23, 59, 58, 0, 0},
                    {"TK_SetDateTime: Enclosure SN = SN6 |Date (mm/dd/yy) = 13/31/300 |Time (hh:mm:ss) = 23:59:58"}, "TK_SetDateTime", 0}),
    CaseName());
}  // namespace

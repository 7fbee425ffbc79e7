// Standard page reads and the control page, the element-control initialisers, enclosure
// identification and the page dump.
#include <array>
#include <numeric>

#include "fake_ses.h"

namespace {
TEST_F(TalvikTest, StatusReadRetriesAWrongPageFiveTimes) {
  // S status page, C configuration page, T transport failure. Each row: the read, its answers,
  // result, pauses, trace line count and its last lines.
  const std::map<char, Answer> legend{
      {'S', {0, Page(kConfigPageSize, {2})}}, {'C', {0, Page(kConfigPageSize, {1})}}, {'T', {SES_RC_BUSY, {}}}};
  const struct { bool status; const char *script; std::int32_t rc; const char *pauses; std::size_t lines; Strings tail; }
      cases[] = {{true, "CCCCC", 86, "400000x5", 16, {"303 TK_ReadStatusPage: Exit, rc = 0", "313 TK_ReadStatusPage: Wrong PageCode (1)!!!!"}},
                 {true, "CS", 0, "400000", 6, {"290 TK_ReadStatusPage: Enclosure SN = SN1", "301 <--- Status Page read --->",
                  "303 TK_ReadStatusPage: Exit, rc = 0", "313 TK_ReadStatusPage: Wrong PageCode (1)!!!!",
                  "301 <--- Status Page read --->", "303 TK_ReadStatusPage: Exit, rc = 0"}},
                 {true, "T", SES_RC_BUSY, "", 3, {"303 TK_ReadStatusPage: Exit, rc = 4107"}},
                 {false, "SC", 0, "400000", 6, {"228 TK_ReadConfigPage: Enclosure SN = SN1", "239 <--- Config Page read --->",
                  "241 TK_ReadConfigPage: Exit, rc = 0", "251 TK_ReadConfigPage: Wrong PageCode (2)!!!!",
                  "239 <--- Config Page read --->", "241 TK_ReadConfigPage: Exit, rc = 0"}}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.script);
    Start(c.script, legend);
    Bytes buffer(kConfigPageSize, 0xEE);
    EXPECT_EQ((c.status ? TK_ReadStatusPage : TK_ReadConfigPage)("SN1", buffer.data()), c.rc);
    EXPECT_EQ(buffer[1], 0);  // zeroed before each read
    EXPECT_EQ(calls, std::vector<Call>(std::strlen(c.script), {'R', {}, c.status ? 2u : 1u, c.status ? 224u : 296u}));
    EXPECT_EQ(Pauses(), c.pauses);
    const Strings m = Messages();
    ASSERT_EQ(m.size(), c.lines);
    EXPECT_EQ(Strings(m.end() - std::ssize(c.tail), m.end()), c.tail);
  }
  // The control page goes out whole and unchanged; the transport's code comes back.
  Start("F", {{'F', {86, {}}}});
  Bytes page(kStatusPageSize);
  std::iota(page.begin(), page.end(), std::uint8_t{7});
  EXPECT_EQ(TK_WriteControlPage("SN1", page.data()), 86);
  EXPECT_EQ(calls, (std::vector<Call>{{'W', page, 0, 0}}));
  EXPECT_EQ(Messages(), (Strings{"351 TK_WriteControlPage: Entry", "353 <--- Control Page to write --->",
                                 "360 TK_WriteControlPage: Exit = 86"}));
}

TEST(ElementInit, SetsControlBitsFromStatus) {
  using Element = std::array<std::uint8_t, kElementSize>;
  constexpr Element kAll{0xFF, 0xFF, 0xFF, 0xFF};
  // Device: S 3.3 needs S 2.7, or neither S 3.1 nor S 2.5; S 3.2 needs S 3.7, or neither S 3.0
  // nor S 2.4. The all-set rows show that no initialiser sets control bit 0.7 (select).
  const struct { void (*init)(std::uint8_t *, const std::uint8_t *); Element status, before, after; } cases[] = {
      {TK_InitPowrSuppCtl, {0x00, 0x85, 0x70, 0x40}, {}, {0x00, 0x85, 0x70, 0x40}},
      {TK_InitPowrSuppCtl, kAll, {}, {0x00, 0x87, 0x70, 0x40}},
      {TK_InitPowrSuppCtl, {}, {0x80, 0x08, 0x01, 0x02}, {0x80, 0x08, 0x01, 0x02}},  // bits are only added
      {TK_InitDevCtl, {0x00, 0x00, 0x00, 0x0A}, {}, {}}, {TK_InitDevCtl, {0x00, 0x00, 0x80, 0x0A}, {}, {0x00, 0x00, 0x00, 0x08}},
      {TK_InitDevCtl, {0x00, 0x00, 0x00, 0x0C}, {}, {0x00, 0x00, 0x00, 0x0C}}, {TK_InitDevCtl, {0x00, 0x00, 0x30, 0x0C}, {}, {}},
      {TK_InitDevCtl, {0x00, 0x00, 0x10, 0x85}, {}, {0x00, 0x00, 0x00, 0x04}}, {TK_InitDevCtl, kAll, {}, {0x40, 0x00, 0x0E, 0x2C}},
      {TK_InitEncServCtl, kAll, {}, {0x00, 0x80, 0x00, 0x30}}, {TK_InitEncServCtl, {0x00, 0x80, 0x00, 0x3C}, {}, {0x00, 0x80, 0x00, 0x3C}},
      {TK_InitSCSIPortCtl, kAll, {}, {0x00, 0x00, 0x00, 0x10}}, {TK_InitCoolCtl, {0x00, 0x80, 0x00, 0x00}, {}, {0x00, 0x00, 0x02, 0x00}},
      {TK_InitCoolCtl, kAll, {}, {0x00, 0x00, 0x02, 0x40}}, {TK_InitDispCtl, kAll, {}, {0x00, 0xF0, 0x3F, 0xFF}},
      {TK_InitDispCtl, {0x00, 0x00, 0x00, 0x01}, {0x00, 0x00, 0x00, 0xFF}, {0x00, 0x00, 0x00, 0x01}}};  // copied
  for (const auto &c : cases) {
    Element control = c.before;
    c.init(control.data(), c.status.data());
    EXPECT_EQ(control, c.after) << "case " << &c - cases;
  }
}

// A configuration page with the product id (bytes 28..35), the level and type code of the two
// firmware records and a third level where a record 3 would be; empty texts leave bytes zero.
Bytes ConfigPage(const char *product, const char *levelA, const char *typeA, const char *levelB, const char *typeB) {
  Bytes p = Page(kConfigPageSize, {1});
  const std::pair<std::size_t, const char *> fields[] = {
      {28, product}, {68, levelA}, {90, typeA}, {100, levelB}, {122, typeB}, {132, "0333"}, {36, "0036"}};
  for (const auto &[at, text] : fields) std::memcpy(p.data() + at, text, std::strlen(text));
  return p;
}

TEST_F(TalvikTest, IrcDecision) {
  // Type codes count above level 0299 only; the product id decides when no record is that recent.
  // product id, then level and type code of records A and B; a failed read clears the flag.
  const struct { std::int32_t rc; const char *id, *levelA, *typeA, *levelB, *typeB; std::uint32_t irc; } cases[] = {
      {0, "", "0300", "000C", "", "", 1},          {0, "5284xx11", "0300", "0007", "0250", "", 0},
      {0, "", "0250", "", "0300", "000A", 1},      {0, "", "0299", "000C", "0299", "000C", 0},
      {0, "5284xx11", "0299", "", "0299", "", 1},  {0, "5284xx12", "0299", "", "0299", "", 0},
      {0, "5285xx11", "    ", "000C", "    ", "", 0}, {SES_RC_OPEN_FAILED, "", "", "", "", "", 0}};
  for (const auto &c : cases) {
    SCOPED_TRACE(&c - cases);
    Start("A", {{'A', {c.rc, ConfigPage(c.id, c.levelA, c.typeA, c.levelB, c.typeB)}}});
    std::uint32_t flag = 7;
    EXPECT_EQ(TK_IsEnclosureIRC("SN1", &flag), c.rc);
    EXPECT_EQ(flag, c.irc);
    EXPECT_EQ(calls, (std::vector<Call>{{'R', {}, 1, 296}}));
    EXPECT_EQ(Messages(), (Strings{"2520 TK_IsEnclosureIRC: SN=SN1", "2529 <--- Config Page read --->"}));
  }
  // Record 2's level " 12a" reads as 12; selectors 3 and 0 find no record.
  const struct { std::int32_t rc; std::uint32_t selector, level; const char *levelText; } levels[] = {
      {0, 1, 312, "0312"}, {0, 2, 12, "0012"}, {0, 3, 0, "0000"}, {0, 0, 0, "0000"}, {4101, 1, 0, "0000"}};
  for (const auto &c : levels) {
    Start("A", {{'A', {c.rc, ConfigPage("", "0312", "", " 12a", "")}}});
    EXPECT_EQ(TK_GetFWLevel("SN1", c.selector), c.level);
    EXPECT_EQ(Messages(), (Strings{"2446 TK_GetFWLevel: Enclosure SN = SN1", "2455 <--- Config Page read --->",
                                   qeltest::Cat("2457 TK_GetFWLevel: Exit, rc = ", std::to_string(c.rc)),
                                   qeltest::Cat("2475 TK_GetFWLevel: FWLevel = ", c.levelText)}));
  }
}

TEST(StrInSet, PrefixOfAnyCountedEntry) {
  const char *const set[] = {"0008", "000C", "0009"};
  const struct { const char *text; std::int32_t count; int found; } cases[] = {
      {"000C", 3, 1}, {"000Cxyz", 3, 1}, {"0009", 3, 1}, {"0007", 3, 0}, {"000", 3, 0}, {"0009", 2, 0}, {"0008", -1, 0}};
  for (const auto &c : cases) EXPECT_EQ(StrInSet(c.text, set, c.count), c.found) << c.text << " " << c.count;
}

TEST_F(TalvikTest, DumpLayout) {
  // Without a ninth byte two blanks stand for the separator; a short last line keeps its
  // apostrophe in the column of full lines; offsets from 1000 take four digits.
  const struct { std::string data; std::size_t lines; Strings tail; } cases[] = {
      {"", 1, {"2275 Output Data, Size = 0"}},
      {"ABCDEFGH", 2, {"2410 000: 41 42 43 44 45 46 47 48                             'ABCDEFGH'"}},
      {"ABCDEFGHI", 2, {"2410 000: 41 42 43 44 45 46 47 48 - 49                        'ABCDEFGHI'"}},
      {std::string("ABCDEFGHIJKLMNOP\0\x7f\x1f ", 20), 3,
       {"2410 000: 41 42 43 44 45 46 47 48 - 49 4a 4b 4c 4d 4e 4f 50   'ABCDEFGHIJKLMNOP'",
        "2410 016: 00 7f 1f 20                                         '... '"}},
      {std::string(1010, 'Z'), 65, {"2410 992: 5a 5a 5a 5a 5a 5a 5a 5a - 5a 5a 5a 5a 5a 5a 5a 5a   'ZZZZZZZZZZZZZZZZ'",
                                    "2410 1008: 5a 5a                                               'ZZ'"}}};
  for (const auto &c : cases) {
    Start();
    OutputData(reinterpret_cast<const std::uint8_t *>(c.data.data()), static_cast<std::uint32_t>(c.data.size()), 1);
    const Strings lines = TraceLines();
    ASSERT_EQ(lines.size(), c.lines);
    EXPECT_EQ(lines[0], qeltest::Cat("2275 Output Data, Size = ", std::to_string(c.data.size())));
    EXPECT_EQ(Strings(lines.end() - std::ssize(c.tail), lines.end()), c.tail);
  }
  // Standard output mode: the header in the trace; the rows and a blank line on stdout.
  Start();
  testing::internal::CaptureStdout();
  OutputData(reinterpret_cast<const std::uint8_t *>("ZZZZZZZZZ"), 9, 0);
  OutputData(nullptr, 0, 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "000: 5a 5a 5a 5a 5a 5a 5a 5a - 5a                        'ZZZZZZZZZ'\n\n\n");
  EXPECT_EQ(TraceLines(), (Strings{"2275 Output Data, Size = 9", "2275 Output Data, Size = 0"}));
}
}  // namespace

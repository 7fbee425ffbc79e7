// Standard page reads and the control page, the element-control initialisers, enclosure
// identification and the page dump.
#include <array>
#include <cstring>
#include <numeric>

#include "fake_ses.h"

namespace {
TEST_F(TalvikTest, StatusReadRetriesAWrongPageFiveTimes) {
  // G status page, W configuration page, T transport failure.
  const std::map<char, Answer> legend{
      {'G', {0, Page(kStatusPageSize, {2})}}, {'W', {0, Page(kStatusPageSize, {1})}}, {'T', {SES_RC_BUSY, {}}}};
  const struct { const char *script; std::int32_t rc; const char *pauses; int wrongLines, goodExits; const char *last; }
      cases[] = {{"WWWWW", 86, "400000x5", 5, 5, "313 TK_ReadStatusPage: Wrong PageCode (1)!!!!"},
                 {"WG", 0, "400000", 1, 2, "303 TK_ReadStatusPage: Exit, rc = 0"},
                 {"T", SES_RC_BUSY, "", 0, 0, "303 TK_ReadStatusPage: Exit, rc = 4107"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.script);
    Start(c.script, legend);
    Bytes buffer(kStatusPageSize, 0xEE);
    EXPECT_EQ(TK_ReadStatusPage("SN1", buffer.data()), c.rc);
    EXPECT_EQ(buffer[1], 0);  // zeroed before each read
    const auto reads = std::ssize(std::string(c.script));
    EXPECT_EQ(calls, std::vector<Call>(static_cast<std::size_t>(reads), {'R', {}, 2, 224}));
    EXPECT_EQ(Pauses(), c.pauses);
    const Strings m = Messages();
    EXPECT_EQ(m[0], "290 TK_ReadStatusPage: Enclosure SN = SN1");
    EXPECT_EQ(std::count(m.begin(), m.end(), "301 <--- Status Page read --->"), reads);
    EXPECT_EQ(std::count(m.begin(), m.end(), "303 TK_ReadStatusPage: Exit, rc = 0"), c.goodExits);
    EXPECT_EQ(std::count(m.begin(), m.end(), "313 TK_ReadStatusPage: Wrong PageCode (1)!!!!"), c.wrongLines);
    EXPECT_EQ(m.back(), c.last);
  }
}

TEST_F(TalvikTest, ConfigReadAndControlWrite) {
  Start({{0, Page(kConfigPageSize, {2})}, {0, Page(kConfigPageSize, {1})}});
  Bytes page(kConfigPageSize);
  EXPECT_EQ(TK_ReadConfigPage("SN1", page.data()), 0);
  EXPECT_EQ(calls, std::vector<Call>(2, {'R', {}, 1, 296}));
  EXPECT_EQ(Messages(), (Strings{"228 TK_ReadConfigPage: Enclosure SN = SN1", "239 <--- Config Page read --->",
                                 "241 TK_ReadConfigPage: Exit, rc = 0", "251 TK_ReadConfigPage: Wrong PageCode (2)!!!!",
                                 "239 <--- Config Page read --->", "241 TK_ReadConfigPage: Exit, rc = 0"}));
  // The control page goes out whole and unchanged; the transport's code comes back.
  Start({{86, {}}});
  page.resize(kStatusPageSize);
  std::iota(page.begin(), page.end(), std::uint8_t{7});
  EXPECT_EQ(TK_WriteControlPage("SN1", page.data()), 86);
  EXPECT_EQ(calls, (std::vector<Call>{{'W', page, 0, 0}}));
  EXPECT_EQ(Messages(), (Strings{"351 TK_WriteControlPage: Entry", "353 <--- Control Page to write --->",
                                 "360 TK_WriteControlPage: Exit = 86"}));
  EXPECT_EQ(TraceLines()[2], "2275 Output Data, Size = 224");
}

TEST(ElementInit, SetsControlBitsFromStatus) {
  using Element = std::array<std::uint8_t, kElementSize>;
  constexpr Element kAll{0xFF, 0xFF, 0xFF, 0xFF};
  // Device: S 3.3 needs S 2.7, or neither S 3.1 nor S 2.5; S 3.2 needs S 3.7, or neither S 3.0
  // nor S 2.4. The all-set rows show that no initialiser sets control bit 0.7 (select).
  const struct { void (*init)(std::uint8_t *, const std::uint8_t *); Element status, before, after; } cases[] = {
      {TK_InitPowrSuppCtl, {0x00, 0x85, 0x70, 0x40}, {}, {0x00, 0x85, 0x70, 0x40}},
      {TK_InitPowrSuppCtl, {0x00, 0x03, 0x00, 0x00}, {}, {0x00, 0x03, 0x00, 0x00}},
      {TK_InitPowrSuppCtl, kAll, {}, {0x00, 0x87, 0x70, 0x40}},
      {TK_InitPowrSuppCtl, {}, {0x80, 0x08, 0x01, 0x02}, {0x80, 0x08, 0x01, 0x02}},  // bits are only added
      {TK_InitDevCtl, {0x00, 0x00, 0x00, 0x0A}, {}, {}},
      {TK_InitDevCtl, {0x00, 0x00, 0x80, 0x0A}, {}, {0x00, 0x00, 0x00, 0x08}},
      {TK_InitDevCtl, {0x00, 0x00, 0x00, 0x0C}, {}, {0x00, 0x00, 0x00, 0x0C}},
      {TK_InitDevCtl, {0x00, 0x00, 0x30, 0x0C}, {}, {}},
      {TK_InitDevCtl, {0x00, 0x00, 0x10, 0x85}, {}, {0x00, 0x00, 0x00, 0x04}},
      {TK_InitDevCtl, kAll, {}, {0x40, 0x00, 0x0E, 0x2C}},
      {TK_InitEncServCtl, kAll, {}, {0x00, 0x80, 0x00, 0x30}},
      {TK_InitEncServCtl, {0x00, 0x80, 0x00, 0x3C}, {}, {0x00, 0x80, 0x00, 0x3C}},
      {TK_InitSCSIPortCtl, kAll, {}, {0x00, 0x00, 0x00, 0x10}},
      {TK_InitCoolCtl, {0x00, 0x80, 0x00, 0x00}, {}, {0x00, 0x00, 0x02, 0x00}},
      {TK_InitCoolCtl, kAll, {}, {0x00, 0x00, 0x02, 0x40}},
      {TK_InitDispCtl, kAll, {}, {0x00, 0xF0, 0x3F, 0xFF}},
      {TK_InitDispCtl, {0x00, 0x00, 0x00, 0x01}, {0x00, 0x00, 0x00, 0xFF}, {0x00, 0x00, 0x00, 0x01}}};  // copied
  for (const auto &c : cases) {
    Element control = c.before;
    c.init(control.data(), c.status.data());
    EXPECT_EQ(control, c.after) << "case " << &c - cases;
  }
}

// A configuration page with the product id (bytes 28..35) and the level and type code of the
// two firmware records; empty texts leave the bytes zero.
Bytes ConfigPage(const char *product, const char *levelA, const char *typeA, const char *levelB, const char *typeB) {
  Bytes p = Page(kConfigPageSize, {1});
  const std::pair<std::size_t, const char *> fields[] = {
      {28, product}, {68, levelA}, {90, typeA}, {100, levelB}, {122, typeB}};
  for (const auto &[at, text] : fields) std::memcpy(p.data() + at, text, std::strlen(text));
  return p;
}

TEST_F(TalvikTest, IrcDecision) {
  // Type codes count above level 0299 only; the product id decides when no record is that recent.
  // product id, then level and type code of records A and B; a failed read clears the flag.
  const struct { std::int32_t rc; const char *id, *levelA, *typeA, *levelB, *typeB; std::uint32_t irc; } cases[] = {
      {0, "", "0300", "000C", "", "", 1},          {0, "5284xx11", "0300", "0007", "0250", "", 0},
      {0, "", "0250", "", "0300", "000A", 1},      {0, "", "0400", "0007", "0301", "0008", 1},
      {0, "", "0299", "000C", "0299", "000C", 0},  {0, "5284xx11", "0299", "", "0299", "", 1},
      {0, "5284xx12", "0299", "", "0299", "", 0},  {0, "5284xx11", "    ", "000C", "    ", "", 1},
      {0, "5285xx11", "    ", "000C", "    ", "", 0}, {0, "", "0300", "000Cxyz", "", "", 1},
      {SES_RC_OPEN_FAILED, "", "", "", "", "", 0}};
  for (const auto &c : cases) {
    SCOPED_TRACE(&c - cases);
    Start({{c.rc, c.rc == 0 ? ConfigPage(c.id, c.levelA, c.typeA, c.levelB, c.typeB) : Bytes{}}});
    std::uint32_t flag = 7;
    EXPECT_EQ(TK_IsEnclosureIRC("SN1", &flag), c.rc);
    EXPECT_EQ(flag, c.irc);
    EXPECT_EQ(calls, (std::vector<Call>{{'R', {}, 1, 296}}));
    EXPECT_EQ(Messages(), (Strings{"2520 TK_IsEnclosureIRC: SN=SN1", "2529 <--- Config Page read --->"}));
  }
}

TEST(StrInSet, PrefixOfAnyCountedEntry) {
  const char *const set[] = {"0008", "000C", "0009"};
  const struct { const char *text; std::int32_t count; int found; } cases[] = {
      {"000C", 3, 1}, {"000Cxyz", 3, 1}, {"0009", 3, 1}, {"0007", 3, 0},
      {"000", 3, 0},  {"0009", 2, 0},    {"0008", 0, 0}, {"0008", -1, 0}};
  for (const auto &c : cases) EXPECT_EQ(StrInSet(c.text, set, c.count), c.found) << c.text << " " << c.count;
}

TEST_F(TalvikTest, FirmwareLevelOfSelectedRecord) {
  // Record 2's level " 12a" reads as 12; selectors 3 and 0 would find levels where records
  // 3 and 0 would be.
  const struct { std::int32_t rc; std::uint32_t selector, level; const char *levelText; } cases[] = {
      {0, 1, 312, "0312"}, {0, 2, 12, "0012"}, {0, 3, 0, "0000"}, {0, 0, 0, "0000"}, {4101, 1, 0, "0000"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(&c - cases);
    Bytes page = ConfigPage("", "0312", "", " 12a", "");
    std::memcpy(page.data() + 132, "0333", 4);
    std::memcpy(page.data() + 36, "0036", 4);
    Start({{c.rc, page}});
    EXPECT_EQ(TK_GetFWLevel("SN1", c.selector), c.level);
    EXPECT_EQ(Messages(), (Strings{"2446 TK_GetFWLevel: Enclosure SN = SN1", "2455 <--- Config Page read --->",
                                   "2457 TK_GetFWLevel: Exit, rc = " + std::to_string(c.rc),
                                   std::string("2475 TK_GetFWLevel: FWLevel = ") + c.levelText}));
  }
}

TEST_F(TalvikTest, DumpLayout) {
  // Without a ninth byte two blanks stand for the separator; a short last line keeps its
  // apostrophe in the column of full lines.
  const struct { std::string data; Strings lines; } cases[] = {
      {"", {"2275 Output Data, Size = 0"}},
      {"ABCDEFGH",
       {"2275 Output Data, Size = 8", "2410 000: 41 42 43 44 45 46 47 48                             'ABCDEFGH'"}},
      {"ABCDEFGHI",
       {"2275 Output Data, Size = 9", "2410 000: 41 42 43 44 45 46 47 48 - 49                        'ABCDEFGHI'"}},
      {std::string("ABCDEFGHIJKLMNOP\0\x7f\x1f ", 20),
       {"2275 Output Data, Size = 20",
        "2410 000: 41 42 43 44 45 46 47 48 - 49 4a 4b 4c 4d 4e 4f 50   'ABCDEFGHIJKLMNOP'",
        "2410 016: 00 7f 1f 20                                         '... '"}}};
  for (const auto &c : cases) {
    Start();
    OutputData(reinterpret_cast<const std::uint8_t *>(c.data.data()), static_cast<std::uint32_t>(c.data.size()), 1);
    EXPECT_EQ(TraceLines(), c.lines);
  }
  // Offsets from 1000 take four digits.
  Start();
  const Bytes z(1010, 'Z');
  OutputData(z.data(), 1010, 1);
  const Strings lines = TraceLines();
  ASSERT_EQ(lines.size(), 65u);
  EXPECT_EQ(lines[63], "2410 992: 5a 5a 5a 5a 5a 5a 5a 5a - 5a 5a 5a 5a 5a 5a 5a 5a   'ZZZZZZZZZZZZZZZZ'");
  EXPECT_EQ(lines[64], "2410 1008: 5a 5a                                               'ZZ'");
  // Standard output mode: the header in the trace; the rows and a blank line on stdout.
  Start();
  testing::internal::CaptureStdout();
  OutputData(z.data(), 9, 0);
  OutputData(z.data(), 0, 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "000: 5a 5a 5a 5a 5a 5a 5a 5a - 5a                        'ZZZZZZZZZ'\n\n\n");
  EXPECT_EQ(TraceLines(), (Strings{"2275 Output Data, Size = 9", "2275 Output Data, Size = 0"}));
}
}  // namespace

// The IRC decision, the type-code matcher and the firmware level.
#include <array>
#include <cstring>

#include "fake_ses.h"
#include "talvik.h"

namespace {
// A configuration page with the given product id (bytes 28..35), firmware levels and type
// codes of the two firmware records. Empty texts leave the bytes zero.
std::vector<std::uint8_t> ConfigPage(const char *product, const char *levelA, const char *typeA,
                                     const char *levelB, const char *typeB) {
  auto p = Page(kConfigPageSize, {1});
  const auto put = [&p](std::size_t at, const char *text) { std::memcpy(p.data() + at, text, std::strlen(text)); };
  put(28, product);
  put(68, levelA);
  put(90, typeA);
  put(100, levelB);
  put(122, typeB);
  return p;
}

struct IrcCase {
  const char *name;
  std::vector<std::uint8_t> page;
  std::uint32_t irc;
};
void PrintTo(const IrcCase &c, std::ostream *os) { *os << c.name; }

class IsIrc : public TalvikTest, public ::testing::WithParamInterface<IrcCase> {};

TEST_P(IsIrc, Decision) {
  fakeses::answers = {{0, GetParam().page}};
  std::uint32_t flag = 7;
  EXPECT_EQ(TK_IsEnclosureIRC("SN6", &flag), 0);
  EXPECT_EQ(flag, GetParam().irc);
  ASSERT_EQ(fakeses::calls.size(), 1u);
  EXPECT_EQ(fakeses::calls[0].pageCode, kConfigPageCode);
  EXPECT_EQ(fakeses::calls[0].inLength, kConfigPageSize);
  const std::vector<std::string> expected{"2520 TK_IsEnclosureIRC: SN=SN6", "2529 <--- Config Page read --->"};
  EXPECT_EQ(Messages(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Talvik, IsIrc,
    ::testing::Values(
        IrcCase{"RecentFirstRecordIrcType", ConfigPage("", "0300", "000C", "", ""), 1},
        // A recent record with a foreign type rules out the product-id test.
        IrcCase{"RecentFirstRecordOtherType", ConfigPage("5284xx11", "0300", "0007", "0250", ""), 0},
        IrcCase{"RecentSecondRecordIrcType", ConfigPage("", "0250", "", "0300", "000A"), 1},
        IrcCase{"BothRecentSecondMatches", ConfigPage("", "0400", "0007", "0301", "0008"), 1},
        IrcCase{"OldFirmwareIrcTypeIgnored", ConfigPage("", "0299", "000C", "0299", "000C"), 0},
        IrcCase{"OldFirmwareProductId", ConfigPage("5284xx11", "0299", "", "0299", ""), 1},
        IrcCase{"OldFirmwareOtherProductTail", ConfigPage("5284xx12", "0299", "", "0299", ""), 0},
        IrcCase{"BlankLevelsProductId", ConfigPage("5284xx11", "    ", "000C", "    ", ""), 1},
        IrcCase{"BlankLevelsOtherProduct", ConfigPage("5285xx11", "    ", "000C", "    ", ""), 0},
        IrcCase{"LongerTypeText", ConfigPage("", "0300", "000Cxyz", "", ""), 1}),
    CaseName());

TEST_F(TalvikTest, FailedReadClearsIrcFlag) {
  fakeses::answers = {{SES_RC_OPEN_FAILED, {}}};
  std::uint32_t flag = 1;
  EXPECT_EQ(TK_IsEnclosureIRC("SN6", &flag), SES_RC_OPEN_FAILED);
  EXPECT_EQ(flag, 0u);
  EXPECT_EQ(Messages().back(), "2529 <--- Config Page read --->");  // dumped even so
}

TEST(StrInSet, PrefixOfAnyCountedEntry) {
  const char *const set[] = {"0008", "000C", "0009"};
  struct {
    const char *text;
    std::int32_t count;
    int found;
  } const cases[] = {{"000C", 3, 1}, {"000Cxyz", 3, 1}, {"0007", 3, 0}, {"000", 3, 0},
                     {"0009", 2, 0}, {"0008", 0, 0},    {"0008", -1, 0}, {"0009", 3, 1}};
  for (const auto &c : cases) EXPECT_EQ(StrInSet(c.text, set, c.count), c.found) << c.text << " " << c.count;
}

struct FwCase {
  const char *name;
  std::int32_t rc;
  std::uint32_t selector;
  std::uint32_t level;
};
void PrintTo(const FwCase &c, std::ostream *os) { *os << c.name; }

class FwLevel : public TalvikTest, public ::testing::WithParamInterface<FwCase> {};

TEST_P(FwLevel, ReadsSelectedRecord) {
  const FwCase &c = GetParam();
  fakeses::answers = {{c.rc, ConfigPage("", "0312", "", " 12a", "")}};
  EXPECT_EQ(TK_GetFWLevel("SN7", c.selector), c.level);
  ASSERT_EQ(fakeses::calls.size(), 1u);
  char level[16];
  std::snprintf(level, sizeof level, "%04u", static_cast<unsigned>(c.level));
  const std::vector<std::string> expected{
      "2446 TK_GetFWLevel: Enclosure SN = SN7", "2455 <--- Config Page read --->",
      "2457 TK_GetFWLevel: Exit, rc = " + std::to_string(c.rc), std::string("2475 TK_GetFWLevel: FWLevel = ") + level};
  EXPECT_EQ(Messages(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Talvik, FwLevel,
    ::testing::Values(FwCase{"First", 0, 1, 312}, FwCase{"SecondStopsAtLetter", 0, 2, 12},
                      FwCase{"SelectorThree", 0, 3, 0}, FwCase{"SelectorZero", 0, 0, 0},
                      FwCase{"ReadFailed", SES_RC_CI_FAILED, 1, 0}),
    CaseName());
}  // namespace

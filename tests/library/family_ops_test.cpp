// The family's operations that change an enclosure, run through the page library and the
// transport against the simulated adapter: each returns 0 and leaves the effect a sibling
// utility expects; the reads hand back what was set. (The reads' decoding is tested against
// scripted answers in tests/talvik.)
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "qelses.h"
#include "talvik.h"
#include "testsupport.h"

namespace {

constexpr char kSerial[] = "IRC0001";

struct FamilyCase {
  const char *name;
  std::function<std::int32_t()> op;
  const char *shownAfter;  // a line encsim show prints afterwards
};

std::string Show(const std::string &stateDir) {
  return qeltest::RunProcess({qeltest::BuildPath("nicisim/encsim"), "show", kSerial},
                             {"NICISIM_STATE_DIR=" + stateDir}).out;
}

TEST(FamilyOperations, EachRunsAgainstTheSimulatedAdapter) {
  qeltest::ScratchDir state("family");
  setenv("NICISIM_STATE_DIR", state.path().c_str(), 1);
  qeltest::FakeSystem pauses;
  std::vector<std::uint8_t> buf(1024);
  const std::uint32_t lip[3] = {0x11223344, 0x55667788, 0x99AABBCC};
  std::vector<std::uint8_t> image(1006);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 13);

  const FamilyCase cases[] = {
      {"LESB reset", [&] { return TK_ResetLESBPage(kSerial, 0, 3); }, "lesb device=0 port=3 0 0 0 0 0 0"},
      {"LIP write", [&] { return TK_WriteLIPPage(kSerial, 1, 0, lip); }, "lip device=1 words=11223344 55667788 99aabbcc"},
      {"register events", [&] { return TK_RegForEventReporting(kSerial); }, "registrations=1"},
      {"clear events", [&] { return TK_ClearEvents(kSerial); }, "clears=1"},
      {"set date", [&] { return TK_SetDateTime(kSerial, 26, 12, 6, 1, 2, 3); }, "datetime year=26 month=12 day=6 time=01:02:03"},
      {"debug command", [&] { return TK_DebugCommand(kSerial, "show version", buf.data()); }, "debug count=1 last=\"show version\""},
      {"controller reset", [&] { return TK_ControllerReset(kSerial, 1); }, "reset device=1"},
      {"statesave", [&] { return TK_StatesaveMgmt(kSerial, 0, 2); }, "statesave device=0 action=2"},
      {"firmware transfer", [&] { return SES_DownloadFwTransfer(kSerial, 5, image.data(), 1006); }, "firmware device=5 size=1006"},
      {"firmware commit", [&] { return SES_DownloadFwCommit(kSerial, 5); }, "committed=yes"},
  };
  for (const FamilyCase &c : cases) {
    EXPECT_EQ(c.op(), 0) << c.name;
    const std::string shown = Show(state.path());
    EXPECT_NE(shown.find(c.shownAfter), std::string::npos) << c.name << "\n" << shown;
  }
  // The reads hand back what the enclosure holds: the date just set, the LIP words written.
  ASSERT_EQ(TK_ReadDateTime(kSerial, buf.data()), 0);
  EXPECT_EQ(buf[8], 26);
  EXPECT_EQ(buf[9], 12);
  ASSERT_EQ(TK_ReadLIPPage(kSerial, 1, buf.data()), 0);
  const std::uint8_t firstWord[] = {0x11, 0x22, 0x33, 0x44};
  EXPECT_NE(std::search(buf.begin(), buf.begin() + 172, std::begin(firstWord), std::end(firstWord)),
            buf.begin() + 172);
  // Only the firmware waits are whole seconds: 10 after the start page, 20 and 5 around the commit.
  std::vector<std::string> seconds;
  for (const std::string &p : pauses.pauses) {
    if (p.rfind("sleep ", 0) == 0) seconds.push_back(p);
  }
  EXPECT_EQ(seconds, (std::vector<std::string>{"sleep 10", "sleep 20", "sleep 5"}));
}

}  // namespace

// The family's operations that change an enclosure, run through the page library and the
// transport against the simulated adapter: each returns 0 and leaves the effect a sibling
// utility expects. (Their pages are tested byte for byte against scripted answers in
// tests/talvik, the firmware download's pauses in tests/ses.)
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "qelses.h"
#include "talvik.h"
#include "testsupport.h"

namespace {

constexpr char kSerial[] = "IRC0001";

TEST(FamilyOperations, EachRunsAgainstTheSimulatedAdapter) {
  qeltest::ScratchDir state("family");
  setenv("NICISIM_STATE_DIR", state.path().c_str(), 1);  // the adapter stand-in and encsim both read it
  qeltest::FakeSystem pauses;
  std::vector<std::uint8_t> buf(1024), image(1006, 0x5A);
  const std::uint32_t lip[3] = {0x11223344, 0x55667788, 0x99AABBCC};
  // Each operation and a line encsim show prints afterwards.
  const std::pair<std::function<std::int32_t()>, const char *> cases[] = {
      {[&] { return TK_ResetLESBPage(kSerial, 0, 3); }, "lesb device=0 port=3 0 0 0 0 0 0"},
      {[&] { return TK_WriteLIPPage(kSerial, 1, 0, lip); }, "lip device=1 words=11223344 55667788 99aabbcc"},
      {[] { return TK_RegForEventReporting(kSerial); }, "registrations=1"}, {[] { return TK_ClearEvents(kSerial); }, "clears=1"},
      {[&] { return TK_SetDateTime(kSerial, 26, 12, 6, 1, 2, 3); }, "datetime year=26 month=12 day=6 time=01:02:03"},
      {[&] { return TK_DebugCommand(kSerial, "show version", buf.data()); }, "debug count=1 last=\"show version\""},
      {[&] { return TK_ControllerReset(kSerial, 1); }, "reset device=1"},
      {[&] { return TK_StatesaveMgmt(kSerial, 0, 2); }, "statesave device=0 action=2"},
      {[&] { return SES_DownloadFwTransfer(kSerial, 5, image.data(), 1006); }, "firmware device=5 size=1006"},
      {[&] { return SES_DownloadFwCommit(kSerial, 5); }, "committed=yes"}};
  for (const auto &[op, shown] : cases) {
    EXPECT_EQ(op(), 0) << shown;
    const std::string out = qeltest::RunProcess({qeltest::BuildPath("nicisim/encsim"), "show", kSerial}).out;
    EXPECT_NE(out.find(shown), std::string::npos) << shown << "\n" << out;
  }
}

}  // namespace

// An update killed (SIGKILL) right after each command it sends in turn, then run again: the
// second run must reach the requested mode in the VPD and both power supplies, the VPD must
// verify at every point, and the simulator's state must never be torn.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hardening.h"

namespace {

using qelhard::Rig;

constexpr int kKilled = 128 + 9;  // SIGKILL
constexpr int kUpdateCommands = 12;
constexpr int kVpdWriteCommand = 5;  // SEND of the VPD write; the enclosure keeps it at once

struct Enclosure {
  const char *serial;
  int before;  // mode shown before the update (-1: no PCM field)
  int requested;
};

TEST(Interruption, KilledAtEachCommandThenRunAgain) {
  const Enclosure enclosures[] = {{"IRC0001", 3, 5}, {"IRC0002", -1, 6}};
  for (const Enclosure &e : enclosures) {
    for (int n = 1; n <= kUpdateCommands + 1; ++n) {
      SCOPED_TRACE(std::string(e.serial) + " killed after command " + std::to_string(n));
      Rig rig;
      const std::string mode = std::to_string(e.requested);
      const qelhard::Run killed = rig.Pcm({"-l", e.serial, "-m", mode}, {"NICISIM_KILL_AT=" + std::to_string(n)});
      // Past the last command nothing is killed: the run completes.
      EXPECT_EQ(killed.proc.status, n <= kUpdateCommands ? kKilled : 0);

      // Whatever the moment, the lab reads back whole and the VPD verifies.
      const std::string between = rig.Show(e.serial);
      EXPECT_TRUE(qelhard::VpdVerifies(between)) << between;
      EXPECT_EQ(qelhard::ShownMode(between), n >= kVpdWriteCommand ? e.requested : e.before) << between;
      EXPECT_EQ(qeltest::ListDir(rig.stateDir()), (std::vector<std::string>{"lab.lock", "lab.state"}));

      const qelhard::Run again = rig.Pcm({"-l", e.serial, "-m", mode});
      EXPECT_EQ(again.proc.status, 0) << again.proc.err;
      EXPECT_EQ(again.proc.out, mode + "\n");
      const std::string after = rig.Show(e.serial);
      EXPECT_TRUE(qelhard::VpdVerifies(after)) << after;
      EXPECT_EQ(qelhard::ShownMode(after), e.requested);
      EXPECT_NE(after.find("\npsu1 mode=" + mode + " "), std::string::npos) << after;
      EXPECT_NE(after.find("\npsu2 mode=" + mode + " "), std::string::npos) << after;

      // The killed run's trace is left as it was cut off: plain text, no trailer, and too
      // recent for the next run to compress.
      const std::string cut = rig.TraceOf(killed);
      EXPECT_EQ(cut.rfind("Program qelses_pcm started.\n", 0), 0u);
      EXPECT_EQ(cut.find("Completed at") == std::string::npos, n <= kUpdateCommands);
      bool plain = false;
      for (const std::string &name : qeltest::ListDir(rig.traceDir)) {
        if (name.size() > 4 && name.ends_with("." + std::to_string(killed.proc.pid))) plain = true;
      }
      EXPECT_EQ(plain, n <= kUpdateCommands);
    }
  }
}

// A query killed at any of its four commands changes nothing.
TEST(Interruption, KilledQueryChangesNothing) {
  for (int n = 1; n <= 4; ++n) {
    SCOPED_TRACE("query killed after command " + std::to_string(n));
    Rig rig;
    const std::string before = rig.Encsim({"page", "IRC0001", "vpd"});
    EXPECT_EQ(rig.Pcm({"-l", "IRC0001"}, {"NICISIM_KILL_AT=" + std::to_string(n)}).proc.status, kKilled);
    EXPECT_EQ(rig.Encsim({"page", "IRC0001", "vpd"}), before);
    EXPECT_EQ(rig.Pcm({"-l", "IRC0001"}).proc.out, "3\n");
  }
}

}  // namespace

// A run killed (SIGKILL) right after each command it sends in turn, then run again: the rerun
// converges, the VPD verifies at every point, and the simulator's state is never torn.
#include <algorithm>
#include <csignal>

#include "hardening.h"

namespace {

TEST(Interruption, KilledAtEachCommandThenRunAgain) {
  struct Case {
    const char *serial;
    int before, mode;  // mode -1: a query
    int commands;
  };
  constexpr int kVpdWriteCommand = 5;  // the enclosure keeps the VPD write at once
  // IRC0002 has no PCM field yet.
  for (const Case &c : {Case{"IRC0001", 3, 5, 12}, Case{"IRC0002", -1, 6, 12}, Case{"IRC0001", 3, -1, 4}}) {
    const int mode = c.mode < 0 ? c.before : c.mode;
    std::vector<std::string> args{"-l", c.serial};
    if (c.mode >= 0) args.insert(args.end(), {"-m", std::to_string(c.mode)});
    for (int n = 1; n <= c.commands + 1; ++n) {  // past the last command nothing is killed
      SCOPED_TRACE(std::string(c.serial) + (c.mode < 0 ? " query" : " update") + " killed after command " +
                   std::to_string(n));
      qelhard::Rig rig;
      const std::string vpd = rig.Encsim({"page", c.serial, "vpd"});
      const qelhard::Run killed = rig.Pcm(args, {"NICISIM_KILL_AT=" + std::to_string(n)});
      const bool cut = n <= c.commands;
      EXPECT_EQ(killed.proc.status, cut ? 128 + SIGKILL : 0);
      const bool written = c.mode >= 0 && n >= kVpdWriteCommand;
      rig.ExpectEnclosure(c.serial, written ? c.mode : c.before);
      EXPECT_EQ(rig.Encsim({"page", c.serial, "vpd"}) == vpd, !written);
      EXPECT_EQ(qeltest::ListDir(rig.state.path()), (std::vector<std::string>{"lab.lock", "lab.state"}));

      const qelhard::Run again = rig.Pcm(args);
      EXPECT_EQ(again.proc.status, 0) << again.proc.err;
      EXPECT_EQ(again.proc.out, std::to_string(mode) + "\n");
      const std::string after = rig.ExpectEnclosure(c.serial, mode);
      for (const char *psu : {"\npsu1 mode=", "\npsu2 mode="}) {
        EXPECT_NE(after.find(psu + std::to_string(mode) + " "), std::string::npos) << psu;
      }

      // The killed run's trace stays as it was cut off: plain text without the trailer, too
      // recent for the rerun to compress.
      const std::string trace = rig.TraceOf(killed);
      EXPECT_EQ(trace.rfind("Program qelses_pcm started.\n", 0), 0u);
      EXPECT_EQ(trace.find("Completed at") == std::string::npos, cut);
      const std::string plain = qeltest::Cat(".", std::to_string(killed.proc.pid));
      const auto plainName = [&](const std::string &name) { return name.ends_with(plain); };
      EXPECT_EQ(std::ranges::any_of(qeltest::ListDir(rig.traceDir), plainName), cut);
    }
  }
}

}  // namespace

// Shared rig of the hardening suites: a simulated lab and a trace directory of the case's own,
// the utility run as a process against them, and checks of what a run leaves behind.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "testsupport.h"

namespace qelhard {

struct Run {
  qeltest::ProcResult proc;
  std::vector<std::string> pauses;  // "usleep N" / "sleep N" in order
  unsigned long long pausedMicros = 0;
};

class Rig {
 public:
  Rig();
  // Runs encsim on the rig's lab; fails the test when its status differs from expectStatus.
  std::string Encsim(const std::vector<std::string> &args, int expectStatus = 0);
  // Runs qelses_pcm (the build that traces into traceDir) with args after the program name.
  // extraEnv entries are "NAME=VALUE". Safe to call from several threads at once.
  Run Pcm(const std::vector<std::string> &args, const std::vector<std::string> &extraEnv = {});
  // Trace of a run (decompressed), "" when none.
  std::string TraceOf(const Run &run) const { return qeltest::TraceOfProcess(traceDir, run.proc.pid); }
  // The lab's enclosure as encsim shows it.
  std::string Show(const std::string &serial) { return Encsim({"show", serial}); }

  std::string traceDir;  // where the utility traces; a case may point it elsewhere
  const std::string &stateDir() const { return state_.path(); }
  const std::string &workDir() const { return work_.path(); }

 private:
  qeltest::ScratchDir state_;
  qeltest::ScratchDir trace_;
  qeltest::ScratchDir work_;
  std::atomic<int> runs_{0};  // names the pause logs; runs may start from several threads
};

// Path of the utility build whose trace directory comes from QEL_HARDENING_TRACE_DIR.
std::string PcmPath();
// True under the cross build's emulator.
bool Emulated();

// The mode "encsim show" reports ("pcm N"), -1 when it shows none.
int ShownMode(const std::string &shown);
// "encsim show" says the RDP VPD has the right length and a good checksum.
bool VpdVerifies(const std::string &shown);

// Runs a host program (never under the emulator) and returns its exit status.
int HostRun(const std::vector<std::string> &argv);
// gzip -t on a file.
bool GzipIntact(const std::string &path);

struct DirTotals {
  std::uint64_t bytes = 0;
  std::uint64_t files = 0;
};
// Regular files of a directory (links followed, as the retention counts them).
DirTotals Totals(const std::string &dir);

constexpr std::uint64_t kTraceBudgetBytes = 6000000;
constexpr std::uint64_t kTraceBudgetFiles = 50000;

}  // namespace qelhard

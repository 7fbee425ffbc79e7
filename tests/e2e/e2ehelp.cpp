#include "e2ehelp.h"

#include <gtest/gtest.h>

namespace qeltest {

Lab::Lab() : state_("simstate"), work_("e2e") {}

std::vector<std::string> Lab::Env() const { return {"NICISIM_STATE_DIR=" + state_.path()}; }

std::string Lab::Encsim(const std::vector<std::string> &args, int expectStatus) {
  std::vector<std::string> argv{BuildPath("nicisim/encsim")};
  argv.insert(argv.end(), args.begin(), args.end());
  const ProcResult r = RunProcess(argv, Env());
  std::string shown;
  for (const std::string &a : args) shown += a + " ";
  EXPECT_EQ(r.status, expectStatus) << "encsim " << shown << "\n" << r.err;
  return r.out;
}

PcmRun Lab::Pcm(const std::vector<std::string> &args) {
  PcmRun run;
  const std::string pauseLog = work_.file("pauses." + std::to_string(runs_++));
  std::vector<std::string> argv{BuildPath("pcm/qelses_pcm")};
  argv.insert(argv.end(), args.begin(), args.end());
  run.proc = RunProcess(argv, Env(), pauseLog);
  run.trace = TraceOfProcess(QEL_TRACE_DIR_FOR_TESTS, run.proc.pid);
  run.pauses = ReadLines(pauseLog);
  for (const std::string &p : run.pauses) {
    if (p.rfind("usleep ", 0) == 0) run.pausedMicros += std::stoull(p.substr(7));
    if (p.rfind("sleep ", 0) == 0) run.pausedMicros += std::stoull(p.substr(6)) * 1000000ull;
  }
  return run;
}

int Count(const std::string &haystack, const std::string &text) {
  int n = 0;
  for (std::size_t pos = haystack.find(text); pos != std::string::npos; pos = haystack.find(text, pos + 1)) ++n;
  return n;
}

}  // namespace qeltest

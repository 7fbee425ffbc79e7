// The rig of the process suites: a simulated lab and a trace directory of the case's own, and
// the utility run as a process against them, its pauses recorded by the preloaded shim.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "testsupport.h"

namespace qelhard {

constexpr int kNoField = -1;  // ExpectEnclosure: the VPD holds no PCM field

struct Run { qeltest::ProcResult proc; unsigned long long pausedMicros = 0; };  // pausedMicros: all the shim recorded

class Rig {
 public:
  qeltest::ScratchDir state{"hard-state"}, trace{"hard-trace"}, work{"hard-work"};
  std::string traceDir = trace.path();  // where the utility traces; a case may point it elsewhere
  // The shipped utility traces where the build put it; the default is the same program with
  // its trace directory taken from the environment (tests/hardening/pcm_tracedir.cpp).
  std::string binary = qeltest::BuildPath("tests/hardening/bin/qelses_pcm");

  std::string Encsim(const std::vector<std::string> &args) {
    std::vector<std::string> argv{qeltest::BuildPath("nicisim/encsim")};
    argv.insert(argv.end(), args.begin(), args.end());
    const qeltest::ProcResult r = qeltest::RunProcess(argv, {"NICISIM_STATE_DIR=" + state.path()});
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
  }

  // Runs the utility; extraEnv holds "NAME=VALUE". Thread-safe.
  Run Pcm(const std::vector<std::string> &args, const std::vector<std::string> &extraEnv = {}) {
    const std::string pauseLog = work.file("pauses." + std::to_string(runs_++));
    std::vector<std::string> argv{binary};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env{"NICISIM_STATE_DIR=" + state.path(), "QEL_HARDENING_TRACE_DIR=" + traceDir};
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    Run run;
    run.proc = qeltest::RunProcess(argv, env, pauseLog);
    for (const std::string &p : qeltest::ReadLines(pauseLog)) {  // "usleep N" or "sleep N"
      run.pausedMicros += std::stoull(p.substr(p.find(' ') + 1)) * (p[0] == 's' ? 1000000ull : 1ull);
    }
    return run;
  }

  // Trace of a run (decompressed), "" when none.
  std::string TraceOf(const Run &run) const { return qeltest::TraceOfProcess(traceDir, run.proc.pid); }

  // The enclosure's VPD verifies and holds `mode` (kNoField: none). Returns "encsim show".
  std::string ExpectEnclosure(const std::string &serial, int mode) {
    const std::string shown = Encsim({"show", serial});
    const std::string pcm = mode == kNoField ? "none" : std::to_string(mode);
    EXPECT_NE(shown.find("\nvpd 16 length 497 ok checksum ok\n"), std::string::npos) << shown;
    EXPECT_NE(shown.find("\npcm " + pcm + "\n"), std::string::npos) << serial << " should hold " << pcm;
    return shown;
  }

 private:
  std::atomic<int> runs_{0};  // names the pause logs
};

using qeltest::HostSh;

}  // namespace qelhard

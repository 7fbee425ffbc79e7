// Running qelses_pcm and encsim as processes against a simulated lab of the test's own.
#pragma once

#include <string>
#include <vector>

#include "testsupport.h"

namespace qeltest {

struct PcmRun {
  ProcResult proc;
  std::string trace;                // the run's trace file, decompressed
  std::vector<std::string> pauses;  // "usleep N" / "sleep N" in order
  unsigned long long pausedMicros = 0;
};

class Lab {
 public:
  Lab();
  // Runs encsim with the lab's state; fails the test when encsim fails.
  std::string Encsim(const std::vector<std::string> &args, int expectStatus = 0);
  // Runs qelses_pcm with the given arguments (after the program name).
  PcmRun Pcm(const std::vector<std::string> &args);
  std::vector<std::string> Env() const;
  const std::string &stateDir() const { return state_.path(); }

 private:
  ScratchDir state_;
  ScratchDir work_;
  int runs_ = 0;
};

// Number of times text occurs in haystack.
int Count(const std::string &haystack, const std::string &text);

}  // namespace qeltest

#include "hardening.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>
#include <sstream>

#include <gtest/gtest.h>

extern char **environ;

namespace qelhard {

Rig::Rig() : state_("hard-state"), trace_("hard-trace"), work_("hard-work") { traceDir = trace_.path(); }

std::string PcmPath() { return qeltest::BuildPath("tests/hardening/bin/qelses_pcm"); }

bool Emulated() { return std::strlen(QEL_TEST_EMULATOR) != 0; }

std::string Rig::Encsim(const std::vector<std::string> &args, int expectStatus) {
  std::vector<std::string> argv{qeltest::BuildPath("nicisim/encsim")};
  argv.insert(argv.end(), args.begin(), args.end());
  const qeltest::ProcResult r = qeltest::RunProcess(argv, {"NICISIM_STATE_DIR=" + state_.path()});
  std::string shown;
  for (const std::string &a : args) shown += a + " ";
  EXPECT_EQ(r.status, expectStatus) << "encsim " << shown << "\n" << r.err;
  return r.out;
}

Run Rig::Pcm(const std::vector<std::string> &args, const std::vector<std::string> &extraEnv) {
  Run run;
  const std::string pauseLog = work_.file("pauses." + std::to_string(runs_++));
  std::vector<std::string> argv{PcmPath()};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> env{"NICISIM_STATE_DIR=" + state_.path(), "QEL_HARDENING_TRACE_DIR=" + traceDir};
  env.insert(env.end(), extraEnv.begin(), extraEnv.end());
  run.proc = qeltest::RunProcess(argv, env, pauseLog);
  run.pauses = qeltest::ReadLines(pauseLog);
  for (const std::string &p : run.pauses) {
    if (p.rfind("usleep ", 0) == 0) run.pausedMicros += std::stoull(p.substr(7));
    if (p.rfind("sleep ", 0) == 0) run.pausedMicros += std::stoull(p.substr(6)) * 1000000ull;
  }
  return run;
}

int ShownMode(const std::string &shown) {
  std::istringstream in(shown);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("pcm ", 0) == 0) {
      const std::string v = line.substr(4);
      return v.size() == 1 && v[0] >= '0' && v[0] <= '9' ? v[0] - '0' : -1;
    }
  }
  return -1;
}

bool VpdVerifies(const std::string &shown) {
  return shown.find("\nvpd 16 length 497 ok checksum ok\n") != std::string::npos;
}

int HostRun(const std::vector<std::string> &argv) {
  std::vector<char *> cargs;
  std::vector<std::string> copy = argv;
  for (std::string &a : copy) cargs.push_back(a.data());
  cargs.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, cargs[0], &fa, nullptr, cargs.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool GzipIntact(const std::string &path) { return HostRun({"gzip", "-t", "--", path}) == 0; }

DirTotals Totals(const std::string &dir) {
  DirTotals t;
  for (const std::string &name : qeltest::ListDir(dir)) {
    struct stat st {};
    if (::stat((dir + "/" + name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      t.bytes += static_cast<std::uint64_t>(st.st_size);
      ++t.files;
    }
  }
  return t;
}

}  // namespace qelhard

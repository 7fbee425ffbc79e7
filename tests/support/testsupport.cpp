#include "testsupport.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "qelsys.h"

extern char **environ;

namespace qeltest {

namespace fs = std::filesystem;

ScratchDir::ScratchDir(const std::string &tag) {
  static std::atomic<unsigned> counter{0};
  path_ = Cat(QEL_TEST_SCRATCH "/", tag, ".", std::to_string(getpid()), ".", std::to_string(counter++));
  fs::remove_all(path_);
  fs::create_directories(path_);
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

FakeSystem *FakeSystem::current = nullptr;

// Records a pause and moves the fake clock on by its length.
static void Pause(const char *what, unsigned value, std::uint64_t micros) {
  FakeSystem *f = FakeSystem::current;
  if (f == nullptr) return;
  f->pauses.push_back(Cat(what, " ", std::to_string(value)));
  const std::uint64_t total = static_cast<std::uint64_t>(f->nowUsec) + micros;
  f->nowSec += static_cast<std::int64_t>(total / 1000000);
  f->nowUsec = static_cast<std::int64_t>(total % 1000000);
}

static int FakeUSleep(unsigned int usec) {
  Pause("usleep", usec, usec);
  return 0;
}

static unsigned int FakeSleep(unsigned int seconds) {
  Pause("sleep", seconds, seconds * 1000000ull);
  return 0;
}

static time_t FakeTime(time_t *out) {
  time_t t = FakeSystem::current != nullptr ? static_cast<time_t>(FakeSystem::current->nowSec) : 0;
  if (out != nullptr) *out = t;
  return t;
}

static int FakeGetTimeOfDay(struct timeval *tv) {
  if (FakeSystem::current != nullptr) {
    tv->tv_sec = static_cast<time_t>(FakeSystem::current->nowSec);
    tv->tv_usec = static_cast<suseconds_t>(FakeSystem::current->nowUsec);
  }
  return 0;
}

FakeSystem::FakeSystem() {
  current = this;
  QEL_Sys = QEL_SysCalls{FakeUSleep, FakeSleep, FakeTime, FakeGetTimeOfDay};
}

FakeSystem::~FakeSystem() {
  QEL_Sys = QEL_SysDefaults;
  current = nullptr;
}

std::uint64_t FakeSystem::totalMicros() const {
  std::uint64_t total = 0;
  for (const std::string &p : pauses) total += std::stoull(p.substr(p.find(' ') + 1)) * (p[0] == 's' ? 1000000u : 1u);
  return total;
}

std::string BuildPath(const std::string &relative) { return Cat(QEL_BINARY_DIR "/", relative); }

ProcResult RunProcess(const std::vector<std::string> &argv, const std::vector<std::string> &env,
                      const std::string &pauseLog) {
  std::vector<std::string> args, envList;
  std::istringstream emulator(QEL_TEST_EMULATOR);
  for (std::string w; emulator >> w;) args.push_back(w);
  for (char **e = environ; *e != nullptr; ++e) envList.emplace_back(*e);
  auto setEnv = [&envList](const std::string &entry) {
    const std::string key = entry.substr(0, entry.find('=') + 1);
    std::erase_if(envList, [&key](const std::string &s) { return s.starts_with(key); });
    envList.push_back(entry);
  };
  for (const std::string &e : env) setEnv(e);
  // A preloaded shim must not be refused by the sanitizer's check of the library order.
  setEnv("ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=1");
  if (!pauseLog.empty()) {
    const std::string shim = "LD_PRELOAD=" + BuildPath("tests/support/libqel_pauseshim.so");
    if (args.empty()) {
      setEnv(shim);
    } else {  // only the emulated program gets the shim, not the emulator itself
      args.insert(args.end(), {"-E", shim});
    }
    setEnv("QEL_PAUSE_LOG=" + pauseLog);
  }
  args.insert(args.end(), argv.begin(), argv.end());
  std::vector<char *> cargs, cenv;
  for (std::string &a : args) cargs.push_back(a.data());
  for (std::string &e : envList) cenv.push_back(e.data());
  cargs.push_back(nullptr);
  cenv.push_back(nullptr);

  // Both outputs go to files of the run's own, read back once it has ended.
  const ScratchDir io("proc");
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, io.file("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&fa, 2, io.file("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ProcResult result;
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, cargs[0], &fa, nullptr, cargs.data(), cenv.data());
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) {
    result.err = Cat("spawn failed: ", std::strerror(rc));
    return result;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.pid = static_cast<int>(pid);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
  result.out = ReadFile(io.file("out"));
  result.err = ReadFile(io.file("err"));
  return result;
}

std::string TraceOfProcess(const std::string &dir, int pid) {
  // Process ids come round again, so an older run's trace may carry the same one: the most
  // recently written is taken. gzip -f passes a plain trace through as it is.
  const std::string pidText = std::to_string(pid);
  return HostSh(Cat("f=$(ls -t -- \"$F\"/*.", pidText, " \"$F\"/*.", pidText,
                    ".gz 2>/dev/null | head -n 1); [ -n \"$f\" ] && gzip -dcf -- \"$f\""), dir);
}

std::string HostSh(const std::string &command, const std::string &file) {
  setenv("F", file.c_str(), 1);
  std::string out;
  if (FILE *p = popen(command.c_str(), "r")) {
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    pclose(p);
  }
  return out;
}

std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> ReadLines(const std::string &path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> ListDir(const std::string &path) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto &e : fs::directory_iterator(path, ec)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace qeltest

#include "testsupport.h"

#include <fcntl.h>
#include <poll.h>
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

static std::string ScratchRoot() {
  const char *env = std::getenv("QEL_TEST_SCRATCH");
  if (env != nullptr && *env != '\0') return env;
#ifdef QEL_TEST_SCRATCH
  return QEL_TEST_SCRATCH;
#else
  return "/tmp/qel-test-scratch";
#endif
}

ScratchDir::ScratchDir(const std::string &tag) {
  static std::atomic<unsigned> counter{0};
  fs::create_directories(ScratchRoot());
  std::string base = ScratchRoot() + "/" + tag + "." + std::to_string(getpid()) + "." +
                     std::to_string(counter++);
  fs::remove_all(base);
  fs::create_directories(base);
  path_ = base;
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  // Make everything removable again: tests may have taken permissions away.
  for (auto it = fs::recursive_directory_iterator(path_, fs::directory_options::skip_permission_denied, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
  }
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

FakeSystem *FakeSystem::current = nullptr;

static void Advance(std::uint64_t micros) {
  FakeSystem *f = FakeSystem::current;
  if (f == nullptr || !f->pausesAdvanceClock) return;
  std::uint64_t total = static_cast<std::uint64_t>(f->nowUsec) + micros;
  f->nowSec += static_cast<std::int64_t>(total / 1000000);
  f->nowUsec = static_cast<std::int64_t>(total % 1000000);
}

static int FakeUSleep(unsigned int usec) {
  if (FakeSystem::current != nullptr) {
    FakeSystem::current->pauses.push_back("usleep " + std::to_string(usec));
    Advance(usec);
  }
  return 0;
}

static unsigned int FakeSleep(unsigned int seconds) {
  if (FakeSystem::current != nullptr) {
    FakeSystem::current->pauses.push_back("sleep " + std::to_string(seconds));
    Advance(static_cast<std::uint64_t>(seconds) * 1000000u);
  }
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
  for (const std::string &p : pauses) {
    if (p.rfind("usleep ", 0) == 0) total += std::stoull(p.substr(7));
    if (p.rfind("sleep ", 0) == 0) total += std::stoull(p.substr(6)) * 1000000u;
  }
  return total;
}

std::string BuildPath(const std::string &relative) {
#ifdef QEL_BINARY_DIR
  return std::string(QEL_BINARY_DIR) + "/" + relative;
#else
  return relative;
#endif
}

[[maybe_unused]] static std::vector<std::string> SplitWords(const std::string &text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

ProcResult RunProcess(const std::vector<std::string> &argv, const std::vector<std::string> &env,
                      const std::string &pauseLog, const std::string &stdinText) {
  ProcResult result;
  std::vector<std::string> args;
#ifdef QEL_TEST_EMULATOR
  const std::vector<std::string> emulator = SplitWords(QEL_TEST_EMULATOR);
#else
  const std::vector<std::string> emulator;
#endif
  std::vector<std::string> envList;
  for (char **e = environ; *e != nullptr; ++e) envList.emplace_back(*e);
  auto setEnv = [&envList](const std::string &entry) {
    const std::string key = entry.substr(0, entry.find('=') + 1);
    envList.erase(std::remove_if(envList.begin(), envList.end(),
                                 [&key](const std::string &s) { return s.rfind(key, 0) == 0; }),
                  envList.end());
    envList.push_back(entry);
  };
  for (const std::string &e : env) setEnv(e);
  // A preloaded shim must not be refused by the sanitizer's check of the library order.
  setEnv("ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=1");
  if (!emulator.empty()) {
    args = emulator;
    if (!pauseLog.empty()) {
      // Only the emulated program gets the shim, not the emulator itself.
      args.push_back("-E");
      args.push_back("LD_PRELOAD=" + BuildPath("tests/support/libqel_pauseshim.so"));
    }
  } else if (!pauseLog.empty()) {
    setEnv("LD_PRELOAD=" + BuildPath("tests/support/libqel_pauseshim.so"));
  }
  if (!pauseLog.empty()) setEnv("QEL_PAUSE_LOG=" + pauseLog);
  args.insert(args.end(), argv.begin(), argv.end());

  std::vector<char *> cargs;
  for (std::string &a : args) cargs.push_back(a.data());
  cargs.push_back(nullptr);
  std::vector<char *> cenv;
  for (std::string &e : envList) cenv.push_back(e.data());
  cenv.push_back(nullptr);

  int inPipe[2], outPipe[2], errPipe[2];
  if (pipe2(inPipe, O_CLOEXEC) != 0 || pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
    result.err = "pipe failed";
    return result;
  }
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, inPipe[0], 0);
  posix_spawn_file_actions_adddup2(&fa, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&fa, errPipe[1], 2);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, cargs[0], &fa, nullptr, cargs.data(), cenv.data());
  posix_spawn_file_actions_destroy(&fa);
  close(inPipe[0]);
  close(outPipe[1]);
  close(errPipe[1]);
  if (rc != 0) {
    close(inPipe[1]);
    close(outPipe[0]);
    close(errPipe[0]);
    result.err = std::string("spawn failed: ") + std::strerror(rc);
    return result;
  }
  // Feed standard input, then read both outputs until the child closes them.
  size_t written = 0;
  while (written < stdinText.size()) {
    ssize_t w = write(inPipe[1], stdinText.data() + written, stdinText.size() - written);
    if (w <= 0) break;
    written += static_cast<size_t>(w);
  }
  close(inPipe[1]);
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  std::string *sinks[2] = {&result.out, &result.err};
  int open = 2;
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buf[4096];
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  result.pid = static_cast<int>(pid);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  else if (WIFSIGNALED(status)) result.status = 128 + WTERMSIG(status);
  return result;
}

std::string TraceOfProcess(const std::string &dir, int pid) {
  const std::string plain = Cat(".", std::to_string(pid));
  const std::string packed = plain + ".gz";
  auto endsWith = [](const std::string &s, const std::string &tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
  };
  // Process ids come round again, so an older run's trace may carry the same one: take the
  // most recently written.
  std::string best;
  std::error_code ec;
  fs::file_time_type bestTime{};
  for (const std::string &name : ListDir(dir)) {
    if (!endsWith(name, plain) && !endsWith(name, packed)) continue;
    const fs::file_time_type t = fs::last_write_time(dir + "/" + name, ec);
    if (!ec && (best.empty() || t > bestTime)) {
      best = name;
      bestTime = t;
    }
  }
  if (best.empty()) return "";
  if (!endsWith(best, packed)) return ReadFile(dir + "/" + best);
  std::string text;
  const std::string cmd = "gzip -dc -- '" + dir + "/" + best + "'";
  if (FILE *p = popen(cmd.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
    pclose(p);
  }
  return text;
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

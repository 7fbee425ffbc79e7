// The utility in hostile surroundings: a trace directory it cannot use, a link planted where
// its trace goes, file names a shell would act on, a trace that cannot grow, no gzip. (Serial
// numbers that do not fit a request and a huge command line are rows of runs_test.cpp.) The
// enclosure work and its result must not change, and nothing outside the trace may be touched.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>

#include "hardening.h"

namespace {

using qelhard::Rig;

const std::vector<std::string> kQuery{"-l", "IRC0001"};

void ExpectPlainQuery(const qelhard::Run &run) {
  EXPECT_EQ(run.proc.status, 0);
  EXPECT_EQ(run.proc.out, "3\n");
  EXPECT_EQ(run.proc.err, "");
  EXPECT_EQ(run.pausedMicros, 0u);
}

// A file an hour old, old enough for the trace retention to act on.
void WriteOld(const std::string &path, const std::string &text, mode_t mode = 0644) {
  std::ofstream(path, std::ios::binary) << text;
  ASSERT_EQ(chmod(path.c_str(), mode), 0);
  std::filesystem::last_write_time(path, std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
}

void ExpectUntouched(const std::string &path, const std::string &text, mode_t mode) {
  EXPECT_EQ(qeltest::ReadFile(path), text);
  struct stat st {};
  ASSERT_EQ(lstat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, mode);
  EXPECT_EQ(st.st_nlink, 1u);
}

// Root writes through permission bits, so the kernel itself must refuse these paths: one under
// a regular file, and a regular file in the directory's place.
TEST(HostileEnv, TraceDirectoryUnusable) {
  for (const char *traceDir : {"plain/traces", "plain"}) {
    SCOPED_TRACE(traceDir);
    Rig rig;
    WriteOld(rig.work.file("plain"), "keep me\n", 0600);
    rig.traceDir = rig.work.file(traceDir);
    ExpectPlainQuery(rig.Pcm(kQuery));
    ExpectUntouched(rig.work.file("plain"), "keep me\n", 0600);
  }
}

// A symbolic link at every name this run's trace can take: the trace is not opened through it.
TEST(HostileEnv, LinkPlantedAtTheTraceName) {
  Rig rig;
  const std::string victim = rig.work.file("victim");
  WriteOld(victim, "victim data\n", 0600);
  ExpectPlainQuery(rig.Pcm(kQuery, {"QEL_HARDENING_PLANT_LINK=" + victim}));
  ExpectUntouched(victim, "victim data\n", 0600);
  for (const std::string &name : qeltest::ListDir(rig.traceDir)) {
    const std::string text = qelhard::HostSh("gzip -dcf \"$F\"", rig.traceDir + "/" + name);
    EXPECT_EQ(text.find("Program qelses_pcm started."), std::string::npos) << name;
  }
}

// Old files whose names a shell would act on, or gzip would take for options: each is
// compressed under its own name and nothing else runs.
TEST(HostileEnv, ShellMetacharactersAndDashesInFileNames) {
  const std::vector<std::string> names{
      "-rf", "--help", "-", "--suffix=.zz", "-S.x", "a;touch PWNED", "$(touch PWNED)", "`touch PWNED`",
      "x|touch PWNED", "x&&touch PWNED", ">PWNED", "a b", "*", "'", "\"", "new\nline", "&", "\\"};
  Rig rig;
  for (const std::string &n : names) WriteOld(rig.traceDir + "/" + n, "payload " + n + "\n");
  const std::filesystem::path cwd = std::filesystem::current_path();
  std::filesystem::current_path(rig.work.path());  // where whatever a shell ran would leave PWNED
  const qelhard::Run run = rig.Pcm(kQuery);
  std::filesystem::current_path(cwd);
  ExpectPlainQuery(run);
  EXPECT_NE(rig.TraceOf(run).find(" main rc=0\n"), std::string::npos);

  // Each old file is compressed under its own name, beside the run's own trace, and nothing else.
  EXPECT_EQ(qeltest::ListDir(rig.traceDir).size(), names.size() + 1);
  for (const std::string &n : names) {
    EXPECT_EQ(qelhard::HostSh("gzip -dc \"$F\"", rig.traceDir + "/" + n + ".gz"), "payload " + n + "\n") << n;
  }
  for (const std::string &name : qeltest::ListDir(rig.work.path())) {
    EXPECT_EQ(name.find("PWNED"), std::string::npos) << name;
  }
}

// RLIMIT_FSIZE, with SIGXFSZ ignored, fails every write past 4096 bytes (EFBIG) as a full disk
// would (ENOSPC). It is set on the test only around the run, which inherits it.
TEST(HostileEnv, TraceCannotGrow) {
  Rig rig;
  rig.Encsim({"list"});  // the lab's state file is written now, not under the limit
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const rlimit tight{4096, saved.rlim_max};
  const auto handler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tight), 0);
  const qelhard::Run run = rig.Pcm(kQuery);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
  std::signal(SIGXFSZ, handler);
  ExpectPlainQuery(run);
  const std::string trace = rig.TraceOf(run);
  EXPECT_EQ(trace.size(), 4096u);
  EXPECT_EQ(trace.rfind("Program qelses_pcm started.\n", 0), 0u);
}

// Without gzip the traces stay as they are.
TEST(HostileEnv, GzipMissingFromPath) {
  Rig rig;
  WriteOld(rig.traceDir + "/other.trace", "old trace\n");
  const qelhard::Run run = rig.Pcm(kQuery, {"PATH=" + rig.work.path()});
  ExpectPlainQuery(run);
  ExpectUntouched(rig.traceDir + "/other.trace", "old trace\n", 0644);
  const std::vector<std::string> listed = qeltest::ListDir(rig.traceDir);
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_TRUE(listed[1].ends_with(qeltest::Cat(".", std::to_string(run.proc.pid)))) << listed[1];
  EXPECT_NE(rig.TraceOf(run).find("\nCompleted at "), std::string::npos);
}

}  // namespace

// The utility in hostile surroundings, as a process: a trace directory it cannot use, a link
// planted where its trace goes, file names that a shell would act on, a trace that cannot
// grow, no gzip, serial numbers that do not fit a request, and a huge command line. The
// enclosure work and its result must not change; nothing outside the trace may be touched.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <vector>

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

void WriteFile(const std::string &path, const std::string &text, mode_t mode = 0644) {
  std::ofstream(path, std::ios::binary) << text;
  ASSERT_EQ(chmod(path.c_str(), mode), 0);
}

void MakeOld(const std::string &path) {
  const timespec old[2] = {{0, UTIME_OMIT}, {time(nullptr) - 3600, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), old, AT_SYMLINK_NOFOLLOW), 0);
}

// Content of a gzip file, whatever its name (read through a copy under a plain name).
std::string Gunzipped(const std::string &path) {
  const qeltest::ScratchDir tmp("hard-gunzip");
  std::filesystem::copy_file(path, tmp.file("copy.gz"));
  std::string text;
  if (FILE *p = popen(("gzip -dc < '" + tmp.file("copy.gz") + "'").c_str(), "r")) {
    char buf[4096];
    for (std::size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) text.append(buf, n);
    pclose(p);
  }
  return text;
}

// The trace directory cannot be used. Root ignores permission bits, so the unusable
// directories are made of paths the kernel itself refuses: one under a regular file, and a
// regular file in the directory's place. Both must leave the run untraced, its result alone,
// and the file in the way untouched.
TEST(HostileEnv, TraceDirectoryUnusable) {
  struct Case {
    const char *name;
    std::string blocker;    // regular file put in the way (relative to the work directory)
    std::string traceDir;   // relative to the work directory
  };
  const Case cases[] = {
      {"directory path under a regular file", "plain", "plain/traces"},
      {"regular file in the directory's place", "notadir", "notadir"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    const std::string blocker = rig.workDir() + "/" + c.blocker;
    WriteFile(blocker, "keep me\n", 0600);
    rig.traceDir = rig.workDir() + "/" + c.traceDir;
    ExpectPlainQuery(rig.Pcm(kQuery));
    EXPECT_EQ(qeltest::ReadFile(blocker), "keep me\n");
    struct stat st {};
    ASSERT_EQ(stat(blocker.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0600u);
  }
}

// Only meaningful for a user the permission bits stop.
TEST(HostileEnv, TraceDirectoryNotWritable) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes into a read-only directory; covered by TraceDirectoryUnusable";
  Rig rig;
  ASSERT_EQ(chmod(rig.traceDir.c_str(), 0555), 0);
  ExpectPlainQuery(rig.Pcm(kQuery));
  EXPECT_TRUE(qeltest::ListDir(rig.traceDir).empty());
}

// A symbolic link planted at every name this run's trace can take: the trace is not opened
// through it, the link's target keeps its content and mode, and the run's result stands.
TEST(HostileEnv, LinkPlantedAtTheTraceName) {
  Rig rig;
  const std::string victim = rig.workDir() + "/victim";
  WriteFile(victim, "victim data\n", 0600);
  MakeOld(victim);  // old enough for the compression pass to pick up whatever points at it
  const qelhard::Run run = rig.Pcm(kQuery, {"QEL_HARDENING_PLANT_LINK=" + victim});
  ExpectPlainQuery(run);
  EXPECT_EQ(qeltest::ReadFile(victim), "victim data\n");
  struct stat st {};
  ASSERT_EQ(lstat(victim.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(st.st_nlink, 1u);
  // Nothing in the directory carries the run's trace through the link.
  for (const std::string &name : qeltest::ListDir(rig.traceDir)) {
    const std::string path = rig.traceDir + "/" + name;
    const std::string text = name.ends_with(".gz") ? Gunzipped(path) : qeltest::ReadFile(path);
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
  for (const std::string &n : names) {
    WriteFile(rig.traceDir + "/" + n, "payload " + n + "\n");
    MakeOld(rig.traceDir + "/" + n);
  }
  // Whatever a shell would run starts in the working directory: make it one we watch.
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(rig.workDir().c_str()), 0);
  const qelhard::Run run = rig.Pcm(kQuery);
  ASSERT_EQ(chdir(cwd), 0);
  ExpectPlainQuery(run);

  std::vector<std::string> expected;
  for (const std::string &n : names) expected.push_back(n + ".gz");
  std::vector<std::string> listed;
  for (const std::string &name : qeltest::ListDir(rig.traceDir)) {
    if (name.rfind("qelses_pcm.", 0) != 0) listed.push_back(name);
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(listed, expected);
  for (const std::string &n : names) {
    EXPECT_EQ(Gunzipped(rig.traceDir + "/" + n + ".gz"), "payload " + n + "\n") << n;
  }
  for (const std::string &name : qeltest::ListDir(rig.workDir())) {
    EXPECT_EQ(name.find("PWNED"), std::string::npos) << name;
  }
  EXPECT_NE(rig.TraceOf(run).find(" main rc=0\n"), std::string::npos);
}

// The trace file cannot grow past a few kilobytes: RLIMIT_FSIZE, with SIGXFSZ ignored, makes
// every write beyond it fail (EFBIG) as a full disk would (ENOSPC); an unprivileged test has
// no small file system to fill. The limit is set on the test process only for the run, and
// the child inherits it.
TEST(HostileEnv, TraceCannotGrow) {
  constexpr rlim_t kLimit = 4096;
  Rig rig;
  rig.Encsim({"list"});  // the lab's state file is written now, not under the limit
  rlimit saved {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit tight = saved;
  tight.rlim_cur = kLimit;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tight), 0);
  const qelhard::Run run = rig.Pcm(kQuery);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
  std::signal(SIGXFSZ, oldHandler);
  ExpectPlainQuery(run);
  const std::string trace = rig.TraceOf(run);
  EXPECT_EQ(trace.size(), kLimit);
  EXPECT_EQ(trace.rfind("Program qelses_pcm started.\n", 0), 0u);
}

// Without gzip the traces stay as they are and the result does not change.
TEST(HostileEnv, GzipMissingFromPath) {
  Rig rig;
  const std::string old = rig.traceDir + "/other.trace";
  WriteFile(old, "old trace\n");
  MakeOld(old);
  const qelhard::Run run = rig.Pcm(kQuery, {"PATH=" + rig.workDir()});
  ExpectPlainQuery(run);
  std::vector<std::string> listed = qeltest::ListDir(rig.traceDir);
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(listed[0], "other.trace");
  EXPECT_TRUE(listed[1].ends_with("." + std::to_string(run.proc.pid))) << listed[1];
  EXPECT_NE(rig.TraceOf(run).find("\nCompleted at "), std::string::npos);
  EXPECT_EQ(qeltest::ReadFile(old), "old trace\n");
}

// A serial number the 38-byte request field cannot hold is refused by the transport (4110)
// before anything is sent; 37 characters still reach the enclosure.
TEST(HostileEnv, SerialNumberLengths) {
  Rig rig;
  const std::string fits(37, 'S');
  rig.Encsim({"create", fits, "--kind", "irc", "pcm=3"});
  ExpectPlainQuery(rig.Pcm({"-l", fits}));
  for (const std::size_t length : {std::size_t{38}, std::size_t{10000}}) {
    SCOPED_TRACE(length);
    const qelhard::Run run = rig.Pcm({"-l", std::string(length, 'S'), "-m", "4"});
    EXPECT_EQ(run.proc.status, 1);
    EXPECT_EQ(run.proc.out, "");
    EXPECT_EQ(run.proc.err, "SES failure reading config page, rc = 4110\n");
    EXPECT_EQ(run.pausedMicros, 0u);
    const std::string trace = rig.TraceOf(run);
    EXPECT_NE(trace.find("longer than 37 characters, refused\n"), std::string::npos);
    EXPECT_NE(trace.find(" main rc=1\n"), std::string::npos);
  }
  EXPECT_EQ(qelhard::ShownMode(rig.Show(fits)), 3);
}

// A command line of 100,000 arguments: every stray word is reported, the usage follows, and
// no enclosure is touched.
TEST(HostileEnv, HundredThousandArguments) {
  constexpr int kArgs = 100000;
  Rig rig;
  std::vector<std::string> args{"-l", "IRC0001"};
  std::string words;
  while (args.size() < static_cast<std::size_t>(kArgs)) {
    args.push_back("w" + std::to_string(args.size()));
    words += args.back() + " ";
  }
  const qelhard::Run run = rig.Pcm(args);
  EXPECT_EQ(run.proc.status, 11);
  EXPECT_EQ(run.proc.out, "");
  EXPECT_EQ(run.proc.err, "qelses_pcm: Unprocessed parameters at end of command line: " + words +
                              "\nIncorrect Options\nUsage:\n# qelses_pcm -l <enclosure> [-m <mode>]\n\n"
                              "   -l = IRC enclosure IPN serial number\n   -m = mode (0-7)\n");
  const std::string trace = rig.TraceOf(run);
  EXPECT_NE(trace.find("Usage: Incorrect Options\n"), std::string::npos);
  EXPECT_NE(trace.find(" main rc=11\n"), std::string::npos);
  EXPECT_EQ(trace.find("TK_IsEnclosureIRC"), std::string::npos);
}

}  // namespace

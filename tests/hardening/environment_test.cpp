// The utility in hostile surroundings: a trace directory it cannot use, a link planted where
// its trace goes, file names a shell would act on, a trace that cannot grow, no gzip. (Serial
// numbers that do not fit a request and a huge command line are rows of runs_test.cpp.) The
// enclosure work and its result must not change, and nothing outside the trace may be touched.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "hardening.h"

namespace {

using qelhard::Rig;

// A query whose result must not change, whatever the surroundings.
qelhard::Run PlainQuery(Rig &rig, const std::vector<std::string> &env = {}) {
  const qelhard::Run run = rig.Pcm({"-l", "IRC0001"}, env);
  EXPECT_EQ(run.proc.status, 0);
  EXPECT_EQ(run.proc.out, "3\n");
  EXPECT_EQ(run.proc.err, "");
  EXPECT_EQ(run.pausedMicros, 0u);
  return run;
}

// A file an hour old by default, old enough for the trace retention to act on.
void WriteOld(const std::string &path, const std::string &text, mode_t mode = 0644, int hoursOld = 1) {
  std::ofstream(path, std::ios::binary) << text;
  ASSERT_EQ(chmod(path.c_str(), mode), 0);
  std::filesystem::last_write_time(path, std::filesystem::file_time_type::clock::now() - std::chrono::hours(hoursOld));
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
    PlainQuery(rig);
    ExpectUntouched(rig.work.file("plain"), "keep me\n", 0600);
  }
}

// A symbolic link at every name this run's trace can take: the trace is not opened through it.
TEST(HostileEnv, LinkPlantedAtTheTraceName) {
  for (const int hoursOld : {1, 0}) {  // a fresh target must not be taken for this run's trace either
    Rig rig;
    const std::string victim = rig.work.file("victim");
    WriteOld(victim, "victim data\n", 0600, hoursOld);
    PlainQuery(rig, {"QEL_HARDENING_PLANT_LINK=" + victim});
    ExpectUntouched(victim, "victim data\n", 0600);
    for (const std::string &name : qeltest::ListDir(rig.traceDir)) {
      const std::string text = qelhard::HostSh("gzip -dcf \"$F\"", rig.traceDir + "/" + name);
      EXPECT_EQ(text.find("Program qelses_pcm started."), std::string::npos) << name;
      EXPECT_TRUE(hoursOld > 0 || !name.ends_with(".gz")) << name;
    }
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
  const qelhard::Run run = PlainQuery(rig);
  std::filesystem::current_path(cwd);
  EXPECT_NE(rig.TraceOf(run).find(" main rc=0\n"), std::string::npos);

  // Each old file is compressed under its own name, beside the run's own trace, and nothing else.
  EXPECT_EQ(qeltest::ListDir(rig.traceDir).size(), names.size() + 1);
  for (const std::string &n : names) {
    EXPECT_EQ(qelhard::HostSh("gzip -dc \"$F\"", rig.traceDir + "/" + n + ".gz"), "payload " + n + "\n") << n;
  }
  EXPECT_FALSE(std::filesystem::exists(rig.work.file("PWNED")));
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
  const qelhard::Run run = PlainQuery(rig);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
  std::signal(SIGXFSZ, handler);
  const std::string trace = rig.TraceOf(run);
  EXPECT_EQ(trace.size(), 4096u);
  EXPECT_EQ(trace.rfind("Program qelses_pcm started.\n", 0), 0u);
}

// Without gzip the traces stay as they are.
TEST(HostileEnv, GzipMissingFromPath) {
  Rig rig;
  WriteOld(rig.traceDir + "/other.trace", "old trace\n");
  const qelhard::Run run = PlainQuery(rig, {"PATH=" + rig.work.path()});
  ExpectUntouched(rig.traceDir + "/other.trace", "old trace\n", 0644);
  const std::vector<std::string> listed = qeltest::ListDir(rig.traceDir);
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_TRUE(listed[1].ends_with(qeltest::Cat(".", std::to_string(run.proc.pid)))) << listed[1];
  EXPECT_NE(rig.TraceOf(run).find("\nCompleted at "), std::string::npos);
}

// Many runs at once over one simulated lab and one trace directory: queries and updates over
// several enclosures, while their exit handlers compress and prune the directory they share.
constexpr int kEnclosures = 24;
constexpr int kQueriesEach = 3;  // besides the one update of each enclosure
// Old compressed traces that already push the directory over its byte budget, so that the
// runs' exit handlers have to delete while they race each other.
constexpr int kFillers = 13;
constexpr unsigned long long kBudgetBytes = 6000000;
static_assert(kFillers * 470000ull > kBudgetBytes);

std::string Serial(int i) { return "IRCC" + std::to_string(1000 + i); }
int Requested(int i) { return (4 + i) % 8; }  // never the initial 3

TEST(Concurrency, ManyRunsShareOneLabAndOneTraceDirectory) {
  qelhard::Rig rig;
  for (int i = 0; i < kEnclosures; ++i) rig.Encsim({"create", Serial(i), "--kind", "irc", "pcm=3"});
  for (int i = 0; i < kFillers; ++i) {  // 470 kB that do not compress, from 1970, oldest first
    qelhard::HostSh("head -c 470000 /dev/urandom | gzip > \"$F\" && touch -d @" + std::to_string(3600 + i) + " \"$F\"",
                    rig.traceDir + "/qelses_pcm.000101000000." + std::to_string(i) + ".gz");
  }

  struct Job { int enclosure; bool update; qelhard::Run run; };
  std::vector<Job> jobs;
  for (int j = 0; j < kEnclosures * (kQueriesEach + 1); ++j) jobs.push_back({j % kEnclosures, j < kEnclosures, {}});
  std::shuffle(jobs.begin(), jobs.end(), std::mt19937(7));  // updates and queries overlap
  std::vector<std::thread> threads;
  for (Job &job : jobs) {
    threads.emplace_back([&rig, &job] {
      std::vector<std::string> args{"-l", Serial(job.enclosure)};
      if (job.update) args.insert(args.end(), {"-m", std::to_string(Requested(job.enclosure))});
      job.run = rig.Pcm(args);
    });
  }
  for (std::thread &t : threads) t.join();

  for (const Job &job : jobs) {
    SCOPED_TRACE(Serial(job.enclosure) + (job.update ? " update" : " query"));
    const std::string &out = job.run.proc.out;
    EXPECT_EQ(job.run.proc.status, 0) << job.run.proc.err;
    EXPECT_EQ(job.run.pausedMicros, 0u);
    // An update prints its mode; a query that overlaps it, the mode before or after.
    EXPECT_TRUE(out == std::to_string(Requested(job.enclosure)) + "\n" || (!job.update && out == "3\n")) << out;
    // Every run's own trace survives (the old fillers go first), complete.
    EXPECT_NE(rig.TraceOf(job.run).find(" main rc=0\n"), std::string::npos);
  }
  for (int i = 0; i < kEnclosures; ++i) rig.ExpectEnclosure(Serial(i), Requested(i));  // none lost
  const std::vector<std::string> names = qeltest::ListDir(rig.traceDir);
  unsigned long long bytes = 0, fillersLeft = 0;
  for (const std::string &name : names) {
    EXPECT_EQ(qelhard::HostSh("gzip -t \"$F\" && echo intact", rig.traceDir + "/" + name), "intact\n") << name;
    EXPECT_TRUE(name.ends_with(".gz")) << name;
    bytes += std::filesystem::file_size(rig.traceDir + "/" + name);
    fillersLeft += name.starts_with("qelses_pcm.000101000000.");
  }
  std::printf("concurrency: %zu runs at once; the directory ends at %llu bytes in %zu files, %llu of %d fillers left\n",
              jobs.size(), bytes, names.size(), fillersLeft, kFillers);
  EXPECT_LE(bytes, kBudgetBytes);
  EXPECT_LT(fillersLeft, static_cast<unsigned long long>(kFillers));
  EXPECT_EQ(names.size(), jobs.size() + static_cast<std::size_t>(fillersLeft));
}

}  // namespace

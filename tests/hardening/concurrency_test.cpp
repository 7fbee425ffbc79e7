// Many runs at once over one simulated lab and one trace directory: queries and updates over
// several enclosures, while the exit handlers compress and prune the directory they share.
#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "hardening.h"

namespace {

using qelhard::Rig;

constexpr int kEnclosures = 24;
constexpr int kQueriesEach = 3;  // besides the one update of each enclosure
constexpr int kInitial = 3;
// Old compressed traces that already fill the directory beyond its byte budget, so that the
// exit handlers of the runs have to delete while they race each other.
constexpr int kFillers = 13;
constexpr std::size_t kFillerBytes = 470000;

std::string Serial(int i) { return "IRCC" + std::to_string(1000 + i); }
int Requested(int i) { return (kInitial + 1 + i) % 8; }  // never the initial mode

void MakeOldGzip(const std::string &dir, int i) {
  const std::string path = dir + "/qelses_pcm.000101000000." + std::to_string(i);
  std::mt19937 random(static_cast<unsigned>(i));
  std::string noise(kFillerBytes, '\0');
  for (char &c : noise) c = static_cast<char>(random());
  std::ofstream(path, std::ios::binary) << noise;
  ASSERT_EQ(qelhard::HostRun({"gzip", "-f", "--", path}), 0);
  const timespec old[2] = {{3600 + i, 0}, {3600 + i, 0}};  // 1970, oldest first
  ASSERT_EQ(utimensat(AT_FDCWD, (path + ".gz").c_str(), old, 0), 0);
}

struct Job {
  std::string serial;
  int mode;  // -1: query
  qelhard::Run run;
};

TEST(Concurrency, ManyRunsShareOneLabAndOneTraceDirectory) {
  Rig rig;
  for (int i = 0; i < kEnclosures; ++i) rig.Encsim({"create", Serial(i), "--kind", "irc", "pcm=3"});
  for (int i = 0; i < kFillers; ++i) MakeOldGzip(rig.traceDir, i);
  ASSERT_GT(qelhard::Totals(rig.traceDir).bytes, qelhard::kTraceBudgetBytes);

  std::vector<Job> jobs;
  for (int i = 0; i < kEnclosures; ++i) {
    jobs.push_back({Serial(i), Requested(i), {}});
    for (int q = 0; q < kQueriesEach; ++q) jobs.push_back({Serial(i), -1, {}});
  }
  // Interleave updates and queries so that they overlap on the same enclosures.
  std::shuffle(jobs.begin(), jobs.end(), std::mt19937(7));
  std::vector<std::thread> threads;
  for (Job &job : jobs) {
    threads.emplace_back([&rig, &job] {
      std::vector<std::string> args{"-l", job.serial};
      if (job.mode >= 0) args.insert(args.end(), {"-m", std::to_string(job.mode)});
      job.run = rig.Pcm(args);
    });
  }
  for (std::thread &t : threads) t.join();
  std::printf("concurrency: %zu runs at once\n", jobs.size());

  for (const Job &job : jobs) {
    SCOPED_TRACE(job.serial + (job.mode >= 0 ? " -m " + std::to_string(job.mode) : std::string(" query")));
    EXPECT_EQ(job.run.proc.status, 0) << job.run.proc.err;
    EXPECT_EQ(job.run.pausedMicros, 0u);
    if (job.mode >= 0) {
      EXPECT_EQ(job.run.proc.out, std::to_string(job.mode) + "\n");
    } else {
      // A query that overlaps the update sees the mode before or after it.
      const std::string updated = std::to_string(Requested(std::stoi(job.serial.substr(4)) - 1000)) + "\n";
      EXPECT_TRUE(job.run.proc.out == "3\n" || job.run.proc.out == updated) << job.run.proc.out;
    }
    // Every run's own trace survives (the old fillers go first), compressed and complete.
    const std::string trace = rig.TraceOf(job.run);
    EXPECT_NE(trace.find(" main rc=0\n"), std::string::npos);
  }
  // No update is lost in the shared state file.
  for (int i = 0; i < kEnclosures; ++i) {
    const std::string shown = rig.Show(Serial(i));
    EXPECT_EQ(qelhard::ShownMode(shown), Requested(i)) << shown;
    EXPECT_TRUE(qelhard::VpdVerifies(shown)) << shown;
  }
  // The directory: every file a whole gzip stream, and within its budget.
  int fillersLeft = 0;
  for (const std::string &name : qeltest::ListDir(rig.traceDir)) {
    EXPECT_TRUE(name.ends_with(".gz")) << name;
    EXPECT_TRUE(qelhard::GzipIntact(rig.traceDir + "/" + name)) << name;
    if (name.rfind("qelses_pcm.000101000000.", 0) == 0) ++fillersLeft;
  }
  const qelhard::DirTotals totals = qelhard::Totals(rig.traceDir);
  std::printf("concurrency: directory ends at %llu bytes in %llu files, %d of %d fillers left\n",
              static_cast<unsigned long long>(totals.bytes), static_cast<unsigned long long>(totals.files),
              fillersLeft, kFillers);
  EXPECT_LE(totals.bytes, qelhard::kTraceBudgetBytes);
  EXPECT_LT(fillersLeft, kFillers);
  EXPECT_EQ(totals.files, jobs.size() + static_cast<std::size_t>(fillersLeft));
}

}  // namespace

// Many runs at once over one simulated lab and one trace directory: queries and updates over
// several enclosures, while their exit handlers compress and prune the directory they share.
#include <algorithm>
#include <filesystem>
#include <random>
#include <thread>

#include "hardening.h"

namespace {

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

  struct Job {
    int enclosure;
    bool update;
    qelhard::Run run;
  };
  std::vector<Job> jobs;
  for (int i = 0; i < kEnclosures; ++i) {
    for (int q = 0; q <= kQueriesEach; ++q) jobs.push_back({i, q == 0, {}});
  }
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
  unsigned long long bytes = 0;
  int fillersLeft = 0;
  for (const std::string &name : names) {
    EXPECT_EQ(qelhard::HostSh("gzip -t \"$F\" && echo intact", rig.traceDir + "/" + name), "intact\n") << name;
    EXPECT_TRUE(name.ends_with(".gz")) << name;
    bytes += std::filesystem::file_size(rig.traceDir + "/" + name);
    fillersLeft += name.starts_with("qelses_pcm.000101000000.");
  }
  std::printf("concurrency: %zu runs at once; the directory ends at %llu bytes in %zu files, %d of %d fillers left\n",
              jobs.size(), bytes, names.size(), fillersLeft, kFillers);
  EXPECT_LE(bytes, kBudgetBytes);
  EXPECT_LT(fillersLeft, kFillers);
  EXPECT_EQ(names.size(), jobs.size() + static_cast<std::size_t>(fillersLeft));
}

}  // namespace

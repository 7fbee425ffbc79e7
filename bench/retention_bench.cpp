// Trace retention at exit on crowded directories: how long one exit takes, how often the
// directory is listed, how many gzip processes start and how many files go. Beside it, the
// rescan-per-deletion reference loop on a reduced case, and the ratio of the two; and one
// `find` scan of the crowded directory (names, sizes and times of every file), the yardstick
// for the exit's own cost.
//   qel_retention_bench [scratch-directory]
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <span>
#include <string>

#include "retention.h"

extern char **environ;

namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kAge = 7200;  // old enough to be past the quiet time

struct Figures {
  double seconds = 0;
  int scans = 0;
  int gzips = 0;
  int deleted = 0;
};

void MakeFile(const std::string &path, std::int64_t size, std::int64_t mtime) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return;
  if (ftruncate(fd, static_cast<off_t>(size)) != 0) std::perror("ftruncate");
  close(fd);
  struct timespec times[2];
  times[0].tv_sec = static_cast<time_t>(mtime);
  times[0].tv_nsec = 0;
  times[1] = times[0];
  utimensat(AT_FDCWD, path.c_str(), times, 0);
}

// files - 1 old compressed traces of the given size (ages spread, with ties), and this run's
// own fresh trace, which is compressed at exit. Returns the own trace's path.
std::string Populate(const std::string &dir, int files, std::int64_t size) {
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::int64_t now = static_cast<std::int64_t>(time(nullptr));
  for (int i = 0; i < files - 1; ++i) {
    MakeFile(dir + "/qelutil." + std::to_string(i) + ".gz", size, now - kAge - (i * 7919) % 50000);
  }
  const std::string own = dir + "/qelbench.own";
  MakeFile(own, size, now);
  return own;
}

double Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

Figures RunProduct(const std::string &dir, const std::string &own, const QEL_RetentionLimits &limits) {
  QEL_RetentionReport report{};
  const auto start = std::chrono::steady_clock::now();
  QEL_TidyTraceDirectory(dir.c_str(), own.c_str(), limits, &report);
  return Figures{Since(start), report.directoryScans, report.compressProcesses, report.filesDeleted};
}

int GzipProcesses = 0;
int CountingCompress(std::span<const char *const> paths) {
  ++GzipProcesses;
  return QEL_RetentionSysDefaults.compressFn(paths);
}

// The rescan-per-deletion loop: the product's per-file walk, which starts one gzip per file.
Figures RunReference(const std::string &dir, const std::string &own, const QEL_RetentionLimits &limits) {
  GzipProcesses = 0;
  QEL_RetentionSys.compressFn = CountingCompress;
  QEL_RetentionReport report{};
  const auto start = std::chrono::steady_clock::now();
  QEL_RetainByRescanning(dir.c_str(), own.c_str(), limits, &report);
  const double seconds = Since(start);
  QEL_RetentionSys = QEL_RetentionSysDefaults;
  return Figures{seconds, report.directoryScans, GzipProcesses, report.filesDeleted};
}

// One `find` scan that reads every file's status, its output discarded: seconds, or -1.
double FindScan(const std::string &dir) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  std::string program = "find", type = "-type", f = "f", printf = "-printf", format = "%p %s %T@\\n";
  std::string where = dir;
  char *argv[] = {program.data(), where.data(), type.data(), f.data(), printf.data(), format.data(), nullptr};
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = -1;
  int status = -1;
  if (posix_spawnp(&pid, "find", &actions, nullptr, argv, environ) == 0) waitpid(pid, &status, 0);
  posix_spawn_file_actions_destroy(&actions);
  return status == 0 ? Since(start) : -1.0;
}

void Print(const char *what, const Figures &f) {
  std::printf("%-48s %9.3f s  %6d scans  %4d gzip  %6d deleted\n", what, f.seconds, f.scans, f.gzips,
              f.deleted);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char **argv) {
  const std::string root = argc > 1 ? argv[1] : QEL_BENCH_SCRATCH;
  const std::string dir = root + "/traces";

  std::string own = Populate(dir, 60000, 64);
  const double find = FindScan(dir);
  const Figures crowded = RunProduct(dir, own, kTraceRetentionLimits);
  Print("60,000 small files, 10,000 over the count", crowded);
  std::printf("%-48s %9.3f s  (exit / find: %.1fx)\n", "one find scan of the 60,000 files", find,
              find > 0 ? crowded.seconds / find : 0.0);

  own = Populate(dir, 1000, 12000);
  Print("1,000 files, 12,000,000 bytes", RunProduct(dir, own, kTraceRetentionLimits));

  own = Populate(dir, 50000, 100);
  Print("50,000 files within budget (everyday)", RunProduct(dir, own, kTraceRetentionLimits));

  // Reduced case: 6,000 files against a limit of 5,000.
  const QEL_RetentionLimits reduced{kTraceSpaceBudget, 5000};
  own = Populate(dir, 6000, 64);
  const Figures product = RunProduct(dir, own, reduced);
  Print("reduced: 6,000 files, 1,000 over, product", product);
  own = Populate(dir, 6000, 64);
  const Figures reference = RunReference(dir, own, reduced);
  Print("reduced: 6,000 files, 1,000 over, reference", reference);
  std::printf("reference / product: %.0fx\n", product.seconds > 0 ? reference.seconds / product.seconds : 0.0);

  fs::remove_all(root);
  return 0;
}

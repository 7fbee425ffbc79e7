// The exit handler at a real process exit: file names a shell would read as commands are
// compressed like any other and run nothing; a link planted at the trace's name makes root
// neither write nor change the file it points at.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "retention_helpers.h"
#include "testsupport.h"

namespace {

const std::string kProbe = RETENTION_PROBE;

// A command of the given name, first on the search path, that leaves a marker if it ever runs.
void PlantCommand(const std::string &bin, const std::string &name, const std::string &marker) {
  const std::string path = bin + "/" + name;
  if (FILE *f = fopen(path.c_str(), "w")) {
    fprintf(f, "#!/bin/sh\n: > '%s'\n", marker.c_str());
    fclose(f);
  }
  chmod(path.c_str(), 0755);
}

TEST(RetentionProcess, ShellWordsInFileNamesRunNothing) {
  qeltest::ScratchDir dir("ret-shell"), bin("ret-bin"), marks("ret-marks");
  const std::string marker = marks.file("ran");
  for (const char *command : {"reboot", "id"}) PlantCommand(bin.path(), command, marker);
  const std::vector<std::string> names = {"a;reboot", "$(id)", "`id`", "b|id", "c&&id", "d'e\"f",
                                          "sp ace", "new\nline", "*", "-rf", "x>y", "$HOME"};
  const std::int64_t old = static_cast<std::int64_t>(time(nullptr)) - 3600;
  for (const std::string &name : names) {
    if (FILE *f = fopen(dir.file(name).c_str(), "w")) {
      fprintf(f, "content of %s\n", name.c_str());
      fclose(f);
    }
    rettest::SetMtime(dir.file(name), old);
  }
  const char *path = getenv("PATH");
  const qeltest::ProcResult r = qeltest::RunProcess(
      {kProbe, dir.path()}, {"PATH=" + bin.path() + ":" + (path ? path : "/usr/bin:/bin")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "0\n");
  EXPECT_FALSE(rettest::Exists(marker)) << "a file name was run as a command";
  std::vector<std::string> expected;
  for (const std::string &name : names) {
    EXPECT_FALSE(rettest::Exists(dir.file(name))) << name;
    EXPECT_EQ(qeltest::ReadFile(dir.file(name + ".gz")).substr(0, 2), "\x1f\x8b") << name;
  }
  // The probe's own trace went the same way.
  int traces = 0;
  for (const std::string &name : qeltest::ListDir(dir.path())) traces += name.rfind("qelprobe.", 0) == 0 ? 1 : 0;
  EXPECT_EQ(traces, 1);
  EXPECT_EQ(qeltest::ListDir(dir.path()).size(), names.size() + 1);
}

TEST(RetentionProcess, PlantedLinkAtTheTraceNameLeavesItsTargetAlone) {
  struct Row {
    const char *what;
    std::int64_t victimAge;
  };
  for (const Row &row : {Row{"fresh target", 0}, Row{"old target", 3600}}) {
    SCOPED_TRACE(row.what);
    qeltest::ScratchDir dir("ret-link"), outside("ret-victim");
    const std::string victim = outside.file("shadow");
    if (FILE *f = fopen(victim.c_str(), "w")) {
      fputs("secret\n", f);
      fclose(f);
    }
    chmod(victim.c_str(), 0600);
    const std::int64_t when = static_cast<std::int64_t>(time(nullptr)) - row.victimAge;
    rettest::SetMtime(victim, when);
    const qeltest::ProcResult r =
        qeltest::RunProcess({kProbe, dir.path(), "plant", victim});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "1\n");  // the trace was refused, not written through the link
    struct stat st {};
    ASSERT_EQ(lstat(victim.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(qeltest::ReadFile(victim), "secret\n");
    if (row.victimAge == 0) {
      // The link is not this run's trace, so it is not compressed at once: no copy of the
      // target's content turns up in the trace directory.
      for (const std::string &name : qeltest::ListDir(dir.path())) {
        ASSERT_EQ(lstat(dir.file(name).c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode)) << name;
      }
    }
  }
}

}  // namespace

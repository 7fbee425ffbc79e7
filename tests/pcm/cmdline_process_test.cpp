// The utility's command-line errors as a user sees them: exact standard error, nothing on
// standard output, status 11, and the usage line in the trace.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testsupport.h"

namespace {

const std::string kBinary = qeltest::BuildPath("pcm/qelses_pcm");

std::string UsageText(const std::string &message) {
  return message + "\nUsage:\n# qelses_pcm -l <enclosure> [-m <mode>]\n\n"
                   "   -l = IRC enclosure IPN serial number\n   -m = mode (0-7)\n";
}

struct CmdCase {
  std::vector<std::string> args;
  std::string expectedErr;  // "%0" stands for the program path as invoked
};

std::string Expand(std::string text) {
  for (std::size_t pos; (pos = text.find("%0")) != std::string::npos;) text.replace(pos, 2, kBinary);
  return text;
}

TEST(CommandLineProcess, EveryErrorPrintsUsageAndExits11) {
  const std::string noSerial = UsageText("Enclosure IPN Serial Number must be specified");
  const std::string incorrect = UsageText("Incorrect Options");
  const CmdCase cases[] = {
      {{}, noSerial},
      {{"-m", "5"}, noSerial},
      {{"-l", "SN", "-m", "8"}, incorrect},
      {{"-l", "SN", "-m", "x"}, incorrect},
      {{"-l", "SN", "-m", "-1"}, incorrect},
      {{"-l", "A", "-l", "B"}, incorrect},
      {{"-l", "A", "-m", "1", "-m", "2"}, incorrect},
      {{"-l", "A", "-q"}, "%0: invalid option -- 'q'\n" + incorrect},
      {{"-l"}, "%0: option requires an argument -- 'l'\n" + incorrect},
      {{"-l", "A", "extra"},
       "qelses_pcm: Unprocessed parameters at end of command line: extra \n" + incorrect},
      {{"one", "-l", "A", "two"},
       "qelses_pcm: Unprocessed parameters at end of command line: one two \n" + incorrect},
  };
  for (const CmdCase &c : cases) {
    std::vector<std::string> argv{kBinary};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const qeltest::ProcResult r = qeltest::RunProcess(argv);
    std::string shown;
    for (const std::string &a : c.args) shown += a + " ";
    EXPECT_EQ(r.status, 11) << shown;
    EXPECT_EQ(r.out, "") << shown;
    EXPECT_EQ(r.err, Expand(c.expectedErr)) << shown;
  }
}

TEST(CommandLineProcess, UsageAndResultAreTraced) {
  const qeltest::ProcResult r = qeltest::RunProcess({kBinary, "-m", "5"});
  ASSERT_EQ(r.status, 11);
  const std::string trace = qeltest::TraceOfProcess(QEL_TRACE_DIR_FOR_TESTS, r.pid);
  ASSERT_FALSE(trace.empty());
  EXPECT_EQ(trace.rfind("Program qelses_pcm started.\n", 0), 0u);
  EXPECT_NE(trace.find("qeldebug:1906 " + kBinary + " -m 5 \n"), std::string::npos);
  EXPECT_NE(trace.find("qelses_pcm:113 Usage: Enclosure IPN Serial Number must be specified\n"),
            std::string::npos);
  EXPECT_NE(trace.find("qelses_pcm:591 main rc=11\n"), std::string::npos);
  EXPECT_NE(trace.find("\nCompleted at "), std::string::npos);
}

}  // namespace

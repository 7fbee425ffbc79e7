// ParseParams and ValidateParams on argument vectors: what is accepted and what is an error.
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qelses_pcm.h"

namespace {

struct ParseCase {
  std::vector<std::string> args;  // after the program name
  std::int32_t rc;                // ParseParams, then ValidateParams when ParseParams gave 0
  const char *serial;             // nullptr: none taken
  std::int32_t mode;
};

class ParseTable : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseTable, ParsesAsTheUtilityDoes) {
  const ParseCase &c = GetParam();
  std::vector<std::string> words{"qelses_pcm"};
  words.insert(words.end(), c.args.begin(), c.args.end());
  std::vector<char *> argv;
  for (std::string &w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  optind = 0;  // a fresh getopt scan for every case
  SetCommandName(argv[0]);
  PcmParams p{nullptr, kNoMode};
  testing::internal::CaptureStderr();
  std::int32_t rc = ParseParams(static_cast<int>(words.size()), argv.data(), &p);
  if (rc == 0) rc = ValidateParams(&p);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(rc, c.rc);
  EXPECT_EQ(err.empty(), rc == 0) << err;
  if (c.serial == nullptr) {
    if (rc == 0) ADD_FAILURE() << "accepted without a serial number";
  } else {
    ASSERT_NE(p.serialNumber, nullptr);
    EXPECT_STREQ(p.serialNumber, c.serial);
  }
  EXPECT_EQ(p.mode, c.mode);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, ParseTable,
    testing::Values(
        ParseCase{{"-l", "SN1"}, 0, "SN1", kNoMode},
        ParseCase{{"-l", "SN1", "-m", "0"}, 0, "SN1", 0},
        ParseCase{{"-m", "7", "-l", "SN1"}, 0, "SN1", 7},
        ParseCase{{"-l", "SN1", "-m", "3abc"}, 0, "SN1", 3},  // atoi stops at the letters
        ParseCase{{"-l", "SN1", "-m", "07"}, 0, "SN1", 7},
        ParseCase{{"-lSN1", "-m5"}, 0, "SN1", 5},
        ParseCase{{}, kExitUsage, nullptr, kNoMode},
        ParseCase{{"-m", "5"}, kExitUsage, nullptr, 5},  // parsed, then refused for no -l
        ParseCase{{"-l", "SN1", "-m", "8"}, kExitUsage, "SN1", kNoMode},
        ParseCase{{"-l", "SN1", "-m", "x"}, kExitUsage, "SN1", kNoMode},
        ParseCase{{"-l", "SN1", "-m", "-1"}, kExitUsage, "SN1", kNoMode},
        ParseCase{{"-l", "SN1", "-m", " 3"}, kExitUsage, "SN1", kNoMode},  // first char must be a digit
        ParseCase{{"-l", "SN1", "-m", "4294967295"}, kExitUsage, "SN1", kNoMode},
        ParseCase{{"-l", "SN1", "-m", "4294967299"}, kExitUsage, "SN1", kNoMode},  // no wrap to 3
        ParseCase{{"-l", "SN1", "-l", "SN2"}, kExitUsage, "SN1", kNoMode},  // first -l stands
        ParseCase{{"-l", "SN1", "-m", "1", "-m", "2"}, kExitUsage, "SN1", 1},
        ParseCase{{"-l", "SN1", "-m", "9", "-m", "2"}, kExitUsage, "SN1", 2},  // later valid -m taken
        ParseCase{{"-l", "SN1", "-x"}, kExitUsage, "SN1", kNoMode},
        ParseCase{{"-l"}, kExitUsage, nullptr, kNoMode},
        ParseCase{{"-l", "SN1", "extra"}, kExitUsage, "SN1", kNoMode},
        ParseCase{{"extra", "-l", "SN1"}, kExitUsage, "SN1", kNoMode}));

TEST(CommandName, LastPathComponent) {
  const struct {
    const char *argv0;
    const char *name;
  } cases[] = {{"/usr/sbin/qelses_pcm", "qelses_pcm"}, {"qelses_pcm", "qelses_pcm"},
               {"./bin/x", "x"}, {"dir/", ""}};
  for (const auto &c : cases) {
    SetCommandName(c.argv0);
    EXPECT_STREQ(szCmdName, c.name) << c.argv0;
  }
}

}  // namespace

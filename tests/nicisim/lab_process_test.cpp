// The lab across processes: encsim edits and fault scripts seen by the client library,
// counts kept between processes, concurrent writers, and encsim's command line.
#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

#include "cirequest.h"
#include "niciClient.h"

using citest::Exchange;
using citest::ReceiveMessage;
using citest::SendMessage;
using citest::StringOut;

namespace {

bool Has(const std::string &text, const std::string &what) { return text.find(what) != std::string::npos; }

TEST(LabProcess, EncsimEditsAndFaultScriptsReachTheLibrary) {
  citest::ScratchLab lab("nicisim-proc");
  ASSERT_EQ(lab.Encsim({"create", "ENC9", "--kind", "irc", "pcm=5", "prs=2"}).status, 0);
  ASSERT_EQ(lab.Encsim({"fault", "ENC9", "busy", "--count", "2", "--scope", "receive", "--page", "2"}).status, 0);
  ASSERT_EQ(niCIOpen(), 0);
  Exchange(SendMessage("ENC9", StringOut(0x69, 16, 12)));
  const std::vector<std::uint8_t> vpd = citest::ReadPage("ENC9", 4, 512);
  ASSERT_EQ(vpd.size(), 512u);
  EXPECT_EQ(std::string(vpd.begin() + 406, vpd.begin() + 416), "PCM=5PRS=2");
  EXPECT_EQ(citest::XorFrom12(vpd), 0);

  EXPECT_EQ(Exchange(ReceiveMessage("ENC9", 2, 224)).error, EBUSY);
  EXPECT_TRUE(Has(lab.Encsim({"show", "ENC9"}).out, "fault busy scope=receive page=2 func=* count=1 value=*"));
  EXPECT_EQ(Exchange(ReceiveMessage("ENC9", 2, 224)).error, EBUSY);
  EXPECT_EQ(Exchange(ReceiveMessage("ENC9", 2, 224)).rc, 0);
  EXPECT_FALSE(Has(lab.Encsim({"show", "ENC9"}).out, "fault "));
  niCIClose();

  // The lab-wide open fault and removal, then reset back to the default lab.
  ASSERT_EQ(lab.Encsim({"fault", "lab", "open", "--always"}).status, 0);
  EXPECT_NE(niCIOpen(), 0);
  ASSERT_EQ(lab.Encsim({"fault", "lab", "clear"}).status, 0);
  EXPECT_EQ(niCIOpen(), 0);
  ASSERT_EQ(lab.Encsim({"remove", "ENC9"}).status, 0);
  EXPECT_EQ(Exchange(ReceiveMessage("ENC9", 2, 224)).appResult(), -500);
  ASSERT_EQ(lab.Encsim({"reset"}).status, 0);
  const qeltest::ProcResult list = lab.Encsim({"list"});
  EXPECT_EQ(list.out, "IRC0001 irc=yes pcm=3 faults=0\nIRC0002 irc=yes pcm=none faults=0\n"
                      "JBOD0003 irc=no pcm=none faults=0\n");
  niCIClose();
}

TEST(LabProcess, ShowDecodesTheEnclosure) {
  citest::ScratchLab lab("nicisim-show");
  ASSERT_EQ(lab.Encsim({"set", "IRC0001", "psmode=6", "fw1=0250", "fw2=0250", "product=5300-X"}).status, 0);
  const qeltest::ProcResult show = lab.Encsim({"show", "IRC0001"});
  for (const char *line : {"irc no\n", "pcm 3\n", "prs 1\n", "vpd 16 length 497 ok checksum ok\n",
                           "psu1 mode=6 element=01 06 00 20\n", "firmware1 level=0250 type=000C\n"}) {
    EXPECT_TRUE(Has(show.out, line)) << line << show.out;
  }
  ASSERT_EQ(lab.Encsim({"set", "IRC0001", "pcm=9"}).status, 0);
  EXPECT_TRUE(Has(lab.Encsim({"show", "IRC0001"}).out, "pcm bad(PCM=9)\n"));
  ASSERT_EQ(lab.Encsim({"set", "IRC0001", "nopcm"}).status, 0);
  EXPECT_TRUE(Has(lab.Encsim({"show", "IRC0001"}).out, "pcm none\n"));
}

TEST(LabProcess, ConcurrentWritersLoseNothing) {
  citest::ScratchLab lab("nicisim-conc");
  constexpr int kWriters = 4;
  for (int i = 0; i < kWriters; ++i) ASSERT_EQ(lab.Encsim({"create", "C" + std::to_string(i)}).status, 0);
  std::vector<std::thread> threads;
  std::vector<int> status(2 * kWriters, -1);
  for (int i = 0; i < kWriters; ++i) {
    const std::string serial = "C" + std::to_string(i);
    threads.emplace_back([&, i, serial] { status[2 * i] = lab.Encsim({"set", serial, "pcm=" + std::to_string(i)}).status; });
    threads.emplace_back([&, i, serial] {
      status[2 * i + 1] = lab.Encsim({"fault", serial, "busy", "--count", std::to_string(i + 1)}).status;
    });
  }
  for (std::thread &t : threads) t.join();
  for (int s : status) EXPECT_EQ(s, 0);
  const std::string list = lab.Encsim({"list"}).out;
  for (int i = 0; i < kWriters; ++i) {
    EXPECT_TRUE(Has(list, "C" + std::to_string(i) + " irc=yes pcm=" + std::to_string(i) + " faults=1\n")) << list;
  }
}

TEST(LabProcess, UsageErrorsExitNonzeroWithAMessage) {
  citest::ScratchLab lab("nicisim-usage");
  struct Case {
    std::vector<std::string> args;
    int status;
    const char *message;
  };
  const Case cases[] = {
      {{}, 2, "no command given"},
      {{"frobnicate"}, 2, "unknown command"},
      {{"show"}, 2, "wrong arguments for 'show'"},
      {{"show", "NOSUCH"}, 1, "no enclosure 'NOSUCH'"},
      {{"fault", "IRC0001", "meltdown"}, 2, "unknown fault kind"},
      {{"fault", "IRC0001", "busy", "--count", "0"}, 2, "--count takes"},
      {{"fault", "IRC0001", "busy", "--count", "2", "--always"}, 2, "either --count or --always"},
      {{"fault", "IRC0001", "busy", "--page", "300"}, 2, "--page takes"},
      {{"fault", "IRC0001", "busy", "--scope", "sideways"}, 2, "--scope takes"},
      {{"fault", "IRC0001", "busy", "--count"}, 2, "needs a value"},
      {{"set", "IRC0001", "pcm=12"}, 2, "exactly one character"},
      {{"set", "IRC0001", "colour=red"}, 2, "unknown setting"},
      {{"create", "IRC0001"}, 1, "already exists"},
      {{"create", "bad serial!"}, 2, "serial numbers are"},
      {{"create", "X1", "--kind", "toaster"}, 2, "unknown kind"},
      {{"page", "IRC0001", "vpd=999"}, 2, "unknown page"},
  };
  for (const Case &c : cases) {
    const qeltest::ProcResult r = lab.Encsim(c.args);
    EXPECT_EQ(r.status, c.status) << c.message;
    EXPECT_TRUE(Has(r.err, c.message)) << r.err;
    EXPECT_EQ(r.out, "");
  }
  // Nothing above changed the lab.
  EXPECT_EQ(lab.Encsim({"list"}).out.find("X1"), std::string::npos);
  for (const char *command : {"list", "show", "page", "create", "remove", "reset", "set", "fault", "log", "dir"}) {
    const qeltest::ProcResult r = lab.Encsim({command, "--help"});
    EXPECT_EQ(r.status, 0) << command;
    EXPECT_TRUE(Has(r.out, std::string("usage: encsim ") + command)) << command;
  }
  EXPECT_EQ(lab.Encsim({"--help"}).status, 0);
}

TEST(LabProcess, DamagedStateFileIsRefusedNotGuessed) {
  citest::ScratchLab lab("nicisim-damaged");
  ASSERT_EQ(lab.Encsim({"list"}).status, 0);
  FILE *f = std::fopen((lab.dir() + "/lab.state").c_str(), "a");
  ASSERT_NE(f, nullptr);
  std::fputs("enclosure OOPS\nconfig 4\n  0000: 01 zz\n", f);
  std::fclose(f);
  const qeltest::ProcResult r = lab.Encsim({"list"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r.err, "lab.state")) << r.err;
  ASSERT_EQ(niCIOpen(), -1);
}

}  // namespace

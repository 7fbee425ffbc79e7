// The lab across processes: encsim edits and fault scripts seen by the client library,
// concurrent writers, encsim's command line, and state files old and damaged.
#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <thread>

#include "cirequest.h"
#include "niciClient.h"
#include "simlab.h"
#include "simstate.h"

using namespace citest;

namespace {

TEST(LabProcess, EncsimEditsAndFaultScriptsReachTheLibrary) {
  ScratchLab lab("nicisim-proc");
  lab.Encsim({"create", "ENC9", "--kind", "irc", "pcm=5", "prs=2"});
  lab.Encsim({"fault", "ENC9", "busy", "--count", "2", "--scope", "receive", "--page", "2"});
  lab.Encsim({"fault", "lab", "open", "--count", "1"});
  EXPECT_NE(niCIOpen(), 0);
  ASSERT_EQ(niCIOpen(), 0);
  Exchange(SendMessage("ENC9", StringOut(0x69, 16, 12)));
  const Bytes vpd = ReadPage("ENC9", 4, 512);
  EXPECT_EQ(Text(vpd, 406, 10), "PCM=5PRS=2");
  EXPECT_EQ(XorFrom12(vpd), 0);
  EXPECT_EQ(Exchange(ReceiveMessage("ENC9", 2, 224)).error, EBUSY);
  EXPECT_TRUE(Has(lab.Encsim({"show", "ENC9"}).out, "fault busy scope=receive page=2 func=* count=1 value=*\n"));
  EXPECT_EQ(Exchange(ReceiveMessage("ENC9", 2, 224)).error, EBUSY);
  EXPECT_EQ(Exchange(ReceiveMessage("ENC9", 2, 224)).rc, 0);
  EXPECT_FALSE(Has(lab.Encsim({"show", "ENC9"}).out, "fault "));
  niCIClose();

  lab.Encsim({"fault", "lab", "open", "--always"});
  EXPECT_NE(niCIOpen(), 0);
  EXPECT_NE(niCIOpen(), 0);
  lab.Encsim({"fault", "lab", "clear"});
  ASSERT_EQ(niCIOpen(), 0);
  lab.Encsim({"remove", "ENC9"});
  EXPECT_EQ(Exchange(ReceiveMessage("ENC9", 2, 224)).appResult(), -500);
  lab.Encsim({"reset"});
  EXPECT_EQ(lab.Encsim({"list"}).out, "IRC0001 irc=yes pcm=3 faults=0\nIRC0002 irc=yes pcm=none faults=0\n"
                                      "JBOD0003 irc=no pcm=none faults=0\n");
  niCIClose();
}

TEST(LabProcess, ConcurrentWritersLoseNothing) {
  ScratchLab lab("nicisim-conc");
  constexpr int kWriters = 4;
  for (int i = 0; i < kWriters; ++i) lab.Encsim({"create", qeltest::Cat("C", std::to_string(i))});
  std::vector<std::thread> threads;
  for (int i = 0; i < kWriters; ++i) {
    const std::string serial = qeltest::Cat("C", std::to_string(i));
    threads.emplace_back([&, serial, i] { lab.Encsim({"set", serial, qeltest::Cat("pcm=", std::to_string(i))}); });
    threads.emplace_back([&, serial, i] { lab.Encsim({"fault", serial, "busy", "--count", std::to_string(1 + i)}); });
  }
  for (std::thread &t : threads) t.join();
  const std::string list = lab.Encsim({"list"}).out;
  for (int i = 0; i < kWriters; ++i) {
    EXPECT_TRUE(Has(list, qeltest::Cat("C", std::to_string(i), " irc=yes pcm=", std::to_string(i), " faults=1\n"))) << list;
  }
}

// In order: edits and what show decodes from them, usage errors (which change nothing, as list
// shows), help.
TEST(LabProcess, EncsimCommandLine) {
  ScratchLab lab("nicisim-cli");
  // text: in standard output on success, else in standard error with nothing on standard output.
  const struct { std::vector<std::string> args; int status; const char *text; } cases[] = {
      {{"set", "IRC0001", "psmode=6", "fw1=0250", "fw2=0250", "product=5300-X", "pcm=9"}, 0, ""},
      {{"show", "IRC0001"}, 0,
       "product 5300-X\nfirmware1 level=0250 type=000C\nfirmware2 level=0250 type=000C\nirc no\npcm bad(PCM=9)\nprs 1\n"
       "vpd 16 length 497 ok checksum ok\npsu1 mode=6 element=01 06 00 20\n"},
      {{"set", "IRC0001", "nopcm"}, 0, ""},
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
      {{"show", "X1"}, 1, "no enclosure 'X1'"},
      {{"page", "IRC0001", "vpd=999"}, 2, "unknown page"},
      {{"list"}, 0, "IRC0001 irc=no pcm=none faults=0\n"},
      {{"--help"}, 0, "usage: encsim COMMAND"},
      {{"list", "--help"}, 0, "usage: encsim list"}, {{"show", "--help"}, 0, "usage: encsim show"},
      {{"page", "--help"}, 0, "usage: encsim page"}, {{"create", "--help"}, 0, "usage: encsim create"},
      {{"remove", "--help"}, 0, "usage: encsim remove"}, {{"reset", "--help"}, 0, "usage: encsim reset"},
      {{"set", "--help"}, 0, "usage: encsim set"}, {{"fault", "--help"}, 0, "usage: encsim fault"},
      {{"log", "--help"}, 0, "usage: encsim log"}, {{"dir", "--help"}, 0, "usage: encsim dir"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    const qeltest::ProcResult r = lab.Encsim(c.args, c.status);
    EXPECT_TRUE(Has(c.status == 0 ? r.out : r.err, c.text)) << r.out << r.err;
    EXPECT_EQ(c.status == 0 ? "" : r.out, "");
  }
}

TEST(LabProcess, OldStateFilesLoadAndDamagedOnesAreRefused) {
  ScratchLab lab("nicisim-state");
  // Written before the controller state was kept: no such lines, and no skip word on the fault.
  const nicisim::Enclosure fresh = nicisim::MakeEnclosure("OLD1", nicisim::EnclosureKind::Irc);
  const std::string old = "nicisim-lab 1\nenclosure OLD1\nfault busy scope=any page=* func=* count=1 value=*\nconfig " +
                          std::to_string(fresh.config.size()) + "\n" + nicisim::HexLines(fresh.config, "  ") +
                          "status 224\n" + nicisim::HexLines(fresh.status, "  ") + "end\n";
  const struct { std::string text; int status; const char *shown; } cases[] = {
      {old, 0, "firmware none\nfault busy scope=any page=* func=* count=1 value=*\n"},
      {old + "enclosure X2\nfirmware sideways 2 1 0x1 1\nend\n", 1, "lab.state"},
      {nicisim::FormatLab(nicisim::DefaultLab()) + "enclosure OOPS\nconfig 4\n  0000: 01 zz\n", 1, "lab.state"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.shown);
    std::ofstream(lab.dir() + "/lab.state") << c.text;
    const qeltest::ProcResult r = lab.Encsim({"show", "OLD1"}, c.status);
    EXPECT_TRUE(Has(c.status == 0 ? r.out : r.err, c.shown)) << r.out << r.err;
    const bool opened = niCIOpen() == 0;
    EXPECT_EQ(opened, c.status == 0);
    if (opened) niCIClose();
  }
}

}  // namespace

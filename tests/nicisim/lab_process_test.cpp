// The simulated adapter's lab across processes: encsim's edits and fault scripts seen by the client
// library in this process, the counts it uses up going down in the state file, concurrent writers,
// state files old and damaged, and encsim's command line. What the adapter serves is pinned by the
// utility's own process runs against it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <thread>

#include "niciClient.h"
#include "qelses.h"
#include "simlab.h"
#include "simstate.h"
#include "testsupport.h"

namespace {

using qeltest::Cat;

bool Has(const std::string &text, const std::string &what) { return text.find(what) != std::string::npos; }

// Runs encsim on the lab kept in `lab` (a scratch directory), expecting the exit status given.
qeltest::ProcResult Encsim(const qeltest::ScratchDir &lab, std::vector<std::string> args, int status = 0) {
  args.insert(args.begin(), qeltest::BuildPath("nicisim/encsim"));
  const qeltest::ProcResult r = qeltest::RunProcess(args, {"NICISIM_STATE_DIR=" + lab.path()});
  EXPECT_EQ(r.status, status) << r.err;
  return r;
}

// Writers that start at once on a lab not yet made lose nothing. Then one string exchange at a
// time (no retries) through the transport: a fault hits it once per count.
TEST(LabProcess, EncsimEditsAndFaultScriptsReachTheLibrary) {
  const qeltest::ScratchDir lab("nicisim-proc");
  setenv("NICISIM_STATE_DIR", lab.path().c_str(), 1);  // the library's lab
  qeltest::FakeSystem sys;
  const char *const serials[] = {"ENC9", "C1", "C2", "C3"};
  std::vector<std::thread> writers;
  for (const char *sn : serials) writers.emplace_back([&, sn] { Encsim(lab, {"create", sn, "--kind", "irc", "pcm=5", "prs=2"}); });
  for (std::thread &t : writers) t.join();
  const std::uint8_t readVpd[12] = {0x04, 0x00, 0x00, 0x08, 0x69, 0x00, 0x00, 0x00, 0x10};  // of device 16
  std::uint8_t vpd[512] = {};
  const auto read = [&] { return SES_ReadStringPage("ENC9", sizeof readVpd, readVpd, sizeof vpd, vpd, 0); };
  Encsim(lab, {"fault", "ENC9", "busy", "--count", "2", "--scope", "receive", "--page", "4"});
  Encsim(lab, {"fault", "lab", "open", "--count", "1"});
  EXPECT_EQ(read(), SES_RC_OPEN_FAILED);
  EXPECT_EQ(read(), SES_RC_BUSY);
  EXPECT_TRUE(Has(Encsim(lab, {"show", "ENC9"}).out, "\nfault busy scope=receive page=4 func=* count=1 value=*\n"));
  EXPECT_EQ(read(), SES_RC_BUSY);
  EXPECT_EQ(read(), SES_OK);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(vpd) + 406, 10), "PCM=5PRS=2");
  const std::string list = Encsim(lab, {"list"}).out;  // the faults used up
  for (const char *sn : serials) EXPECT_TRUE(Has(list, Cat(sn, " irc=yes pcm=5 faults=0\n"))) << list;
  Encsim(lab, {"remove", "ENC9"});
  EXPECT_EQ(read(), SES_RC_STRING_PAGE);  // no such enclosure any more
  EXPECT_TRUE(Has(Encsim(lab, {"log"}).out, "fault busy hit on ENC9"));  // the hits, each with its fault
  SES_CloseCIConnection();
}

// Each command's help; then in order on one lab: edits and what show, list and page print of them;
// usage errors, which change nothing; then lab files written in its place, which encsim and the
// library load or refuse alike: one from before the controllers' state was kept (no such lines, no
// skip word on the fault) loads, damaged ones do not. text: in standard output on success, else in
// standard error with nothing on standard output.
TEST(LabProcess, EncsimCommandLineAndLabFiles) {
  const qeltest::ScratchDir lab("nicisim-cli");
  setenv("NICISIM_STATE_DIR", lab.path().c_str(), 1);
  for (const char *command : {"list", "show", "page", "create", "remove", "reset", "set", "fault", "log", "dir"})
    EXPECT_TRUE(Has(Encsim(lab, {command, "--help"}).out, Cat("usage: encsim ", command))) << command;
  const nicisim::Enclosure fresh = nicisim::MakeEnclosure("OLD1", nicisim::EnclosureKind::Irc);
  const std::string old = Cat("nicisim-lab 1\nenclosure OLD1\nfault busy scope=any page=* func=* count=1 value=*\nconfig ",
                              std::to_string(fresh.config.size()), "\n", nicisim::HexLines(fresh.config, "  "), "status 224\n",
                              nicisim::HexLines(fresh.status, "  "), "end\n");
  const struct { std::vector<std::string> args; int status; std::string text, file = ""; } cases[] = {
      {{"set", "IRC0001", "psmode=6", "fw1=0250", "fw2=0250", "product=5300-X", "pcm=9"}, 0, ""},
      {{"show", "IRC0001"}, 0,
       "product 5300-X\nfirmware1 level=0250 type=000C\nfirmware2 level=0250 type=000C\nirc no\npcm bad(PCM=9)\nprs 1\n"
       "vpd 16 length 497 ok checksum ok\npsu1 mode=6 element=01 06 00 20\n"},
      {{"set", "IRC0001", "nopcm"}, 0, ""},
      {{"page", "IRC0002", "status"}, 0, "02 00 00 dc 00 00 00 00 00 00 00 00 01 00 00 00\n01 00 00 00"},
      {{"remove", "JBOD0003"}, 0, ""},
      {{"dir"}, 0, lab.path() + "\n"},
      {{}, 2, "no command given"}, {{"frobnicate"}, 2, "unknown command"},
      {{"show"}, 2, "wrong arguments for 'show'"}, {{"show", "NOSUCH"}, 1, "no enclosure 'NOSUCH'"},
      {{"remove", "JBOD0003"}, 1, "no enclosure 'JBOD0003'"},
      {{"fault", "IRC0001", "meltdown"}, 2, "unknown fault kind"}, {{"fault", "IRC0001", "busy", "--count", "0"}, 2, "--count takes"},
      {{"fault", "IRC0001", "busy", "--count", "2", "--always"}, 2, "either --count or --always"},
      {{"fault", "IRC0001", "busy", "--page", "300"}, 2, "--page takes"}, {{"fault", "IRC0001", "busy", "--scope", "sideways"}, 2, "--scope takes"},
      {{"fault", "IRC0001", "busy", "--count"}, 2, "needs a value"},
      {{"set", "IRC0001", "pcm=12"}, 2, "exactly one character"}, {{"set", "IRC0001", "colour=red"}, 2, "unknown setting"},
      {{"create", "IRC0001"}, 1, "already exists"},
      {{"create", "bad serial!"}, 2, "serial numbers are"}, {{"create", "X1", "--kind", "toaster"}, 2, "unknown kind"},
      {{"page", "IRC0001", "vpd=999"}, 2, "unknown page"},
      {{"import"}, 2, "import needs a trace file"}, {{"import", "/nonexistent/t"}, 1, "cannot open"},
      {{"import", lab.file("lab.state")}, 1, "not a trace of this family"},
      {{"list"}, 0, "IRC0001 irc=no pcm=none faults=0\nIRC0002 irc=yes pcm=none faults=0\n"},
      {{"reset"}, 0, ""},
      {{"list"}, 0, "IRC0001 irc=yes pcm=3 faults=0\nIRC0002 irc=yes pcm=none faults=0\nJBOD0003 irc=no pcm=none faults=0\n"},
      {{"--help"}, 0, "usage: encsim COMMAND"},
      {{"show", "OLD1"}, 0, "firmware none\nfault busy scope=any page=* func=* count=1 value=*\n", old},
      {{"show", "OLD1"}, 1, "lab.state", old + "enclosure X2\nfirmware sideways 2 1 0x1 1\nend\n"},
      {{"list"}, 1, "lab.state", nicisim::FormatLab(nicisim::DefaultLab()) + "enclosure OOPS\nconfig 4\n  0000: 01 zz\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    if (!c.file.empty()) std::ofstream(lab.file("lab.state")) << c.file;
    const qeltest::ProcResult r = Encsim(lab, c.args, c.status);
    EXPECT_TRUE(Has(c.status == 0 ? r.out : r.err, c.text)) << r.out << r.err;
    EXPECT_EQ(c.status == 0 ? "" : r.out, "");
    if (c.file.empty()) continue;
    EXPECT_EQ(niCIOpen() == 0 && niCIClose() == 0, c.status == 0);  // the library's open loads the lab
  }
}

// The pages as sg_ses decodes them, where it is installed (on the host only).
TEST(LabProcess, PagesAsSgSesDecodesThem) {
  if (*QEL_TEST_EMULATOR != '\0' || std::system("command -v sg_ses >/dev/null 2>&1") != 0) GTEST_SKIP() << "no sg_ses here";
  const qeltest::ScratchDir lab("nicisim-sgses");
  const std::string hex = lab.file("pages.hex");
  std::ofstream(hex) << Encsim(lab, {"page", "IRC0001", "config"}).out << Encsim(lab, {"page", "IRC0001", "status"}).out;
  const auto sgSes = [&](const char *page) { return qeltest::RunProcess({"sg_ses", "--inhex=" + hex, "--status", page}).out; };
  const std::string cf = sgSes("--page=cf");
  EXPECT_TRUE(Has(cf, "number of type descriptor headers: 10") && Has(cf, "product: 5284-E11-IRC")) << cf;
  EXPECT_TRUE(Has(sgSes("--page=es"), "Element type: Power supply"));
}

}  // namespace

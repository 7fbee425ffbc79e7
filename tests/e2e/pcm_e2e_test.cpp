// qelses_pcm end to end against the simulated adapter: exit status, standard output and error,
// the trace's key lines, the pauses taken, and the enclosure's state afterwards.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2ehelp.h"

namespace {

using qeltest::Count;
using qeltest::Lab;
using qeltest::PcmRun;

constexpr unsigned long long kPageRetryBudget = 3000000;  // pauses of one exhausted page operation

struct E2ECase {
  const char *name;
  std::vector<std::vector<std::string>> setup;  // encsim commands before the run
  std::vector<std::string> args;
  int status;
  std::string out;
  std::string err;
  std::vector<std::string> traceHas;
  std::vector<std::string> traceLacks;
  unsigned long long pausedMicros;
  const char *modeAfter;  // what a plain query prints afterwards ("" to skip)
};

void RunCase(const E2ECase &c) {
  SCOPED_TRACE(c.name);
  Lab lab;
  for (const auto &cmd : c.setup) lab.Encsim(cmd);
  const PcmRun run = lab.Pcm(c.args);
  EXPECT_EQ(run.proc.status, c.status);
  EXPECT_EQ(run.proc.out, c.out);
  EXPECT_EQ(run.proc.err, c.err);
  ASSERT_FALSE(run.trace.empty());
  for (const std::string &line : c.traceHas) EXPECT_NE(run.trace.find(line), std::string::npos) << line;
  for (const std::string &line : c.traceLacks) EXPECT_EQ(run.trace.find(line), std::string::npos) << line;
  EXPECT_NE(run.trace.find("qelses_pcm:591 main rc=" + std::to_string(c.status) + "\n"), std::string::npos);
  EXPECT_EQ(run.pausedMicros, c.pausedMicros);
  if (*c.modeAfter != '\0') {
    lab.Encsim({"fault", c.args[1], "clear"});
    const PcmRun after = lab.Pcm({"-l", c.args[1]});
    EXPECT_EQ(after.proc.out, std::string(c.modeAfter) + "\n");
  }
}

const std::string kNoField = "RDP VPD does not contain valid PCM field (not yet set?)\n";

TEST(PcmEndToEnd, QueriesAndUpdates) {
  const E2ECase cases[] = {
      {"query", {}, {"-l", "IRC0001"}, 0, "3\n", "",
       {"qelses_pcm:539 Mode=3\n", "talvik:727 TK_ReadRDPVpd: Enclosure SN = IRC0001\n",
        "talvik:2520 TK_IsEnclosureIRC: SN=IRC0001\n"},
       {"TK_WriteVpd"}, 0, "3"},
      {"update", {}, {"-l", "IRC0001", "-m", "5"}, 0, "5\n", "",
       {"talvik:572 TK_WriteVpd: Enclosure SN = IRC0001, Device = 16\n",
        "talvik:351 TK_WriteControlPage: Entry\n", "qelses_pcm:560 Update successful. Mode=5\n"},
       {"PRS not yet supported"}, 0, "5"},
      {"not an IRC", {}, {"-l", "JBOD0003", "-m", "2"}, 13, "", "Enclosure is not an IRC, rc = 13\n",
       {"qelses_pcm:511 IRC=FALSE rc=13\n"}, {"TK_ReadRDPVpd"}, 0, ""},
      {"no PCM field yet", {}, {"-l", "IRC0002"}, 0, "-99\n", kNoField,
       {"qelses_pcm:296 RDP VPD does not contain valid PCM field"}, {}, 0, "-99"},
      {"first PCM field written", {}, {"-l", "IRC0002", "-m", "6"}, 0, "6\n", "",
       {"qelses_pcm:372 PRS not yet supported. Set to default PRS=0\n"}, {}, 0, "6"},
      {"bad PCM value", {{"set", "IRC0001", "pcm=9"}}, {"-l", "IRC0001"}, 0, "-99\n",
       "RDP VPD contains bad PCM value (PCM=9)\n", {"qelses_pcm:307 RDP VPD contains bad PCM value (PCM=9)\n"},
       {}, 0, "-99"},
      {"bad VPD length", {{"fault", "IRC0001", "vpdlength", "--always"}}, {"-l", "IRC0001", "-m", "1"}, 1, "",
       "Length field in VPD data is incorrect: found(1f0), expected(1f1)\nSES failure reading VPD, rc = 4098\n",
       {"talvik:180 TK_VerifyRDPVpd: Error - VPD Length = 496!!!\n"}, {"TK_WriteVpd"}, 0, "3"},
      {"bad VPD checksum", {{"fault", "IRC0001", "vpdchecksum", "--always"}}, {"-l", "IRC0001", "-m", "1"}, 1,
       "", "Checksum is invalid\nSES failure reading VPD, rc = 4098\n", {"talvik:199 TK_VerifyRDPVpd: checksum: "},
       {"TK_WriteVpd"}, 0, "3"},
      {"StringIn status", {{"fault", "IRC0001", "strstatus", "--always", "--value", "3"}}, {"-l", "IRC0001"}, 1,
       "", "SES failure reading VPD, rc = 86\n", {"talvik:762 TK_ReadRDPVpd: StringIn Status = 0x3!!!!\n"}, {},
       10 * 25000, "3"},
      {"status page wrong page code",
       {{"fault", "IRC0001", "pagecode", "--always", "--scope", "receive", "--page", "2"}},
       {"-l", "IRC0001", "-m", "4"}, 1, "", "SES page read failure rc=86\n",
       {"talvik:313 TK_ReadStatusPage: Wrong PageCode", "qelses_pcm:445 SES page read failure rc=86\n"},
       {"TK_WriteControlPage"}, 5 * 400000, "4"},
      {"control page write fails",
       {{"fault", "IRC0001", "busy", "--always", "--scope", "send", "--page", "2"}},
       {"-l", "IRC0001", "-m", "4"}, 1, "", "SES failure writing control page, rc = 4107\n",
       {"qelses:417 SES_WritePage: Exit, rc = 4107\n", "qelses_pcm:438 SES failure writing control page rc=4107\n"},
       {"Update successful"}, kPageRetryBudget, "4"},
      // The short status read after the configuration page is ignored; the nine after the VPD
      // write attempts each report status 5.
      {"VPD write refused by short status",
       {{"fault", "IRC0001", "shortstatus", "--count", "10", "--scope", "receive", "--page", "8", "--value", "5"}},
       {"-l", "IRC0001", "-m", "4"}, 1, "", "VPD write failure, result = 86\n",
       {"qelses:409 SES_WritePage: ShortEnc Status = 5!!!!\n", "talvik:598 TK_WriteVpd: Exit, rc = 86\n",
        "qelses_pcm:584 VPD write failed rc=86\n"},
       {"TK_WriteControlPage"}, kPageRetryBudget, ""},
      {"read-back mismatch", {{"fault", "IRC0001", "nostore", "--always"}}, {"-l", "IRC0001", "-m", "5"}, 15, "",
       "Update unsuccessful. Supplied=5 New=3\n", {"qelses_pcm:566 Update unsuccessful. Supplied=5 New=3\n"}, {},
       0, "3"},
      {"busy adapter recovers", {{"fault", "IRC0001", "busy", "--count", "2"}}, {"-l", "IRC0001"}, 0, "3\n", "",
       {"qelses:173 SES_SendCIRequest: CI ERROR conRC = ", "qelses:467 SES_ReadPage: Trying 50000 25000\n"}, {},
       25000 + 75000, ""},
      {"open failure", {{"fault", "IRC0001", "open", "--count", "1"}}, {"-l", "IRC0001"}, 1, "",
       "SES failure reading config page, rc = 4097\n",
       {"qelses:456 SES_WritePage: Connection Failed (RC = ", "qelses_pcm:517 SES failure reading config page rc=4097\n"},
       {"SES_ReadPage: Trying"}, 0, "3"},
      {"unknown serial", {}, {"-l", "NOSUCH9"}, 1, "", "SES failure reading config page, rc = 4101\n",
       {"qelses:165 Application result: -500\n", "qelses:498 SES_ReadPage: Exit, rc = 4101\n"}, {},
       kPageRetryBudget, ""},
  };
  for (const E2ECase &c : cases) RunCase(c);
}

TEST(PcmEndToEnd, UpdateReachesVpdAndBothPowerSupplies) {
  Lab lab;
  const PcmRun run = lab.Pcm({"-l", "IRC0001", "-m", "5"});
  ASSERT_EQ(run.proc.status, 0);
  const std::string shown = lab.Encsim({"show", "IRC0001"});
  EXPECT_NE(shown.find("\npcm 5\n"), std::string::npos) << shown;
  EXPECT_NE(shown.find("\npsu1 mode=5 "), std::string::npos) << shown;
  EXPECT_NE(shown.find("\npsu2 mode=5 "), std::string::npos) << shown;
  EXPECT_NE(shown.find("checksum ok"), std::string::npos) << shown;
  // The record written verifies: a plain query reads it without complaint.
  const PcmRun query = lab.Pcm({"-l", "IRC0001"});
  EXPECT_EQ(query.proc.out, "5\n");
  EXPECT_EQ(query.proc.err, "");
}

TEST(PcmEndToEnd, TraceHeaderCommandLineAndTrailer) {
  Lab lab;
  const PcmRun run = lab.Pcm({"-l", "IRC0001"});
  ASSERT_EQ(run.proc.status, 0);
  EXPECT_EQ(run.trace.rfind("Program qelses_pcm started.\n", 0), 0u);
  EXPECT_NE(run.trace.find("qeldebug:1906 " + qeltest::BuildPath("pcm/qelses_pcm") + " -l IRC0001 \n"),
            std::string::npos);
  EXPECT_NE(run.trace.find("\nCompleted at "), std::string::npos);
  // The close at exit runs after the trace is finished, so it leaves no line.
  EXPECT_EQ(run.trace.find("Closing CI Connection"), std::string::npos);
}

}  // namespace

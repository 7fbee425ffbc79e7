// The utility end to end against the simulated adapter, one row per run: the lab's setup, the
// command line, and what the run owes: exit status, standard output and error, the trace's key
// lines, the pauses taken, and what the enclosure holds afterwards. The fault matrix makes its
// rows from every fault the adapter injects at every step of a query and of an update, with
// --always and with counts the step's retries absorb.
#include <algorithm>
#include <csignal>
#include <fstream>
#include <regex>
#include <tuple>
#include <sstream>
#include <string>
#include <vector>

#include "hardening.h"

namespace {

using qelhard::kNoField;
constexpr int kUntouched = -2;                       // the row does not look at the enclosure
constexpr unsigned long long kPageRetries = 3000000;  // pauses of one exhausted page operation

// setup: encsim commands before the run; trace: lines the trace holds (a leading '!': must
// not hold); after: the mode the enclosure holds afterwards, its faults cleared.
struct Row {
  std::string name;
  std::vector<std::vector<std::string>> setup;
  std::vector<std::string> args;
  int status;
  std::string out, err;
  std::vector<std::string> trace;
  unsigned long long paused;
  int after;
  bool replay = true;  // the run's trace, imported into a fresh lab, replays it
};

// A trace as a replay must repeat it: without stamp lines, the start date and the trailer.
std::string Replayed(const std::string &trace) {
  std::istringstream in(trace);
  std::string out;
  int n = 0;
  for (std::string l; std::getline(in, l);) {
    if (++n != 2 && !std::regex_match(l, std::regex("[0-9]+\\.[0-9]{3}|Completed at .*"))) out += l + "\n";
  }
  return out;
}

std::string Usage(const std::string &message) {
  return message + "\nUsage:\n# qelses_pcm -l <enclosure> [-m <mode>]\n\n"
                   "   -l = IRC enclosure IPN serial number\n   -m = mode (0-7)\n";
}

void Check(const Row &row, qelhard::Rig &rig) {
  SCOPED_TRACE(row.name);
  for (const auto &cmd : row.setup) rig.Encsim(cmd);
  const qelhard::Run run = rig.Pcm(row.args);
  EXPECT_EQ(run.proc.status, row.status);
  EXPECT_EQ(run.proc.out, row.out);
  EXPECT_EQ(run.proc.err, row.err);
  EXPECT_EQ(run.pausedMicros, row.paused);
  const std::string trace = rig.TraceOf(run);
  EXPECT_EQ(trace.rfind("Program qelses_pcm started.\n", 0), 0u);
  EXPECT_NE(trace.find("qelses_pcm:591 main rc=" + std::to_string(row.status) + "\n"), std::string::npos);
  EXPECT_NE(trace.find("\nCompleted at "), std::string::npos);
  std::string commandLine = "qeldebug:1906 " + rig.binary + " ";
  for (const std::string &a : row.args) commandLine += a + " ";
  EXPECT_TRUE(row.args.size() >= 10 || trace.find(commandLine + "\n") != std::string::npos) << commandLine;
  for (const std::string &line : row.trace) {
    const bool absent = line[0] == '!';
    EXPECT_EQ(trace.find(line.substr(absent ? 1 : 0)) == std::string::npos, absent) << line;
  }
  // Under the emulator the replays would double the slowest suites' time: host and asan run them.
  if (row.replay && std::string(QEL_TEST_EMULATOR).empty()) {
    qelhard::Rig lab;
    lab.binary = rig.binary;
    lab.traceDir = rig.traceDir;
    std::ofstream(lab.work.file("run.trace")) << trace;
    lab.Encsim({"import", lab.work.file("run.trace")});
    const qelhard::Run again = lab.Pcm(row.args);
    EXPECT_EQ(std::tie(again.proc.status, again.proc.out, again.proc.err), std::tie(run.proc.status, run.proc.out, run.proc.err));
    EXPECT_EQ(Replayed(lab.TraceOf(again)), Replayed(trace)) << "replay";
  }
  if (row.after == kUntouched) return;
  const auto l = std::find(row.args.begin(), row.args.end(), "-l");
  const std::string serial = l != row.args.end() ? l[1] : row.args[0].substr(2);  // "-l SN" or "-lSN"
  rig.Encsim({"fault", serial, "clear"});
  const std::string shown = rig.ExpectEnclosure(serial, row.after), mode = std::to_string(row.after) + " ";
  for (const char *psu : {"\npsu1 mode=", "\npsu2 mode="}) {  // an update sets both power supplies too
    EXPECT_TRUE(row.status != 0 || row.args.size() <= 2 || shown.find(psu + mode) != std::string::npos) << psu;
  }
}

TEST(Runs, EndToEnd) {
  const std::string noSerial = Usage("Enclosure IPN Serial Number must be specified");
  const std::string incorrect = Usage("Incorrect Options");
  // The shipped program where the build lets it trace, else the one tracing where the rig says.
  const bool shipped = *QEL_TRACE_DIR_FOR_TESTS != '\0';
  const std::string binary = qeltest::BuildPath(shipped ? "pcm/qelses_pcm" : "tests/hardening/bin/qelses_pcm");
  const std::string fits(37, 'S');  // the longest serial number a request field holds
  std::vector<std::string> many{"-l", "IRC0001"};
  std::string words;
  for (std::size_t i = many.size(); i < 100000; ++i) words += many.emplace_back(qeltest::Cat("w", std::to_string(i))) + " ";
  const Row rows[] = {
      {"query", {}, {"-l", "IRC0001"}, 0, "3\n", "", {"qelses_pcm:539 Mode=3\n", "!TK_WriteVpd", "!Closing CI Connection",
        "talvik:727 TK_ReadRDPVpd: Enclosure SN = IRC0001\n", "talvik:2520 TK_IsEnclosureIRC: SN=IRC0001\n"}, 0, 3},
      {"update", {}, {"-l", "IRC0001", "-m", "5"}, 0, "5\n", "", {"talvik:572 TK_WriteVpd: Enclosure SN = IRC0001, Device = 16\n",
        "talvik:351 TK_WriteControlPage: Entry\n", "qelses_pcm:560 Update successful. Mode=5\n", "!PRS not yet supported"}, 0, 5},
      {"not an IRC", {}, {"-l", "JBOD0003", "-m", "2"}, 13, "", "Enclosure is not an IRC, rc = 13\n",
       {"qelses_pcm:511 IRC=FALSE rc=13\n", "!TK_ReadRDPVpd"}, 0, kUntouched},
      {"no PCM field yet", {}, {"-l", "IRC0002"}, 0, "-99\n", "RDP VPD does not contain valid PCM field (not yet set?)\n",
       {"qelses_pcm:296 RDP VPD does not contain valid PCM field"}, 0, kNoField},
      {"first PCM field written", {}, {"-l", "IRC0002", "-m", "6"}, 0, "6\n", "",
       {"qelses_pcm:372 PRS not yet supported. Set to default PRS=0\n"}, 0, 6},
      {"bad PCM value", {{"set", "IRC0001", "pcm=9"}}, {"-l", "IRC0001"}, 0, "-99\n",
       "RDP VPD contains bad PCM value (PCM=9)\n", {"qelses_pcm:307 RDP VPD contains bad PCM value (PCM=9)\n"}, 0, kUntouched},
      {"bad VPD length", {{"fault", "IRC0001", "vpdlength", "--always"}}, {"-l", "IRC0001", "-m", "1"}, 1, "",
       "Length field in VPD data is incorrect: found(1f0), expected(1f1)\nSES failure reading VPD, rc = 4098\n",
       {"talvik:180 TK_VerifyRDPVpd: Error - VPD Length = 496!!!\n", "!TK_WriteVpd"}, 0, 3},
      {"bad VPD checksum", {{"fault", "IRC0001", "vpdchecksum", "--always"}}, {"-l", "IRC0001", "-m", "1"}, 1, "",
       "Checksum is invalid\nSES failure reading VPD, rc = 4098\n", {"talvik:199 TK_VerifyRDPVpd: checksum: ",
       "qelses_pcm:329 SES failure reading VPD rc=4098\n"}, 0, 3},
      {"StringIn status", {{"fault", "IRC0001", "strstatus", "--always", "--value", "3"}}, {"-l", "IRC0001"}, 1, "",
       "SES failure reading VPD, rc = 86\n", {"talvik:762 TK_ReadRDPVpd: StringIn Status = 0x3!!!!\n"}, 10 * 25000, 3},
      {"status page wrong page code", {{"fault", "IRC0001", "pagecode", "--always", "--scope", "receive", "--page", "2"}},
       {"-l", "IRC0001", "-m", "4"}, 1, "", "SES page read failure rc=86\n",
       {"talvik:313 TK_ReadStatusPage: Wrong PageCode", "qelses_pcm:445 SES page read failure rc=86\n", "!TK_WriteControlPage"},
       5 * 400000, 4},
      {"control page write fails", {{"fault", "IRC0001", "busy", "--always", "--scope", "send", "--page", "2"}},
       {"-l", "IRC0001", "-m", "4"}, 1, "", "SES failure writing control page, rc = 4107\n",
       {"qelses:417 SES_WritePage: Exit, rc = 4107\n", "qelses_pcm:438 SES failure writing control page rc=4107\n"},
       kPageRetries, 4},
      // The short status read after the configuration page is ignored; the nine after the VPD
      // write attempts each report status 5.
      {"VPD write refused by short status",
       {{"fault", "IRC0001", "shortstatus", "--count", "10", "--scope", "receive", "--page", "8", "--value", "5"}},
       {"-l", "IRC0001", "-m", "4"}, 1, "", "VPD write failure, result = 86\n",
       {"qelses:409 SES_WritePage: ShortEnc Status = 5!!!!\n", "talvik:598 TK_WriteVpd: Exit, rc = 86\n",
        "qelses_pcm:584 VPD write failed rc=86\n", "!TK_WriteControlPage"}, kPageRetries, kUntouched},
      {"read-back mismatch", {{"fault", "IRC0001", "nostore", "--always"}}, {"-l", "IRC0001", "-m", "5"}, 15, "",
       "Update unsuccessful. Supplied=5 New=3\n", {"qelses_pcm:566 Update unsuccessful. Supplied=5 New=3\n"}, 0, 3},
      {"busy adapter recovers", {{"fault", "IRC0001", "busy", "--count", "2"}}, {"-l", "IRC0001"}, 0, "3\n", "",
       {"qelses:173 SES_SendCIRequest: CI ERROR conRC = ", "qelses:467 SES_ReadPage: Trying 50000 25000\n"}, 25000 + 75000, 3},
      {"open failure", {{"fault", "IRC0001", "open", "--count", "1"}}, {"-l", "IRC0001"}, 1, "",
       "SES failure reading config page, rc = 4097\n", {"qelses:456 SES_WritePage: Connection Failed (RC = ",
        "qelses_pcm:517 SES failure reading config page rc=4097\n", "!SES_ReadPage: Trying"}, 0, 3},
      {"unknown serial", {}, {"-l", "NOSUCH9"}, 1, "", "SES failure reading config page, rc = 4101\n",
       {"qelses:165 Application result: -500\n", "qelses:498 SES_ReadPage: Exit, rc = 4101\n"}, kPageRetries, kUntouched},
      {"37-character serial", {{"create", fits, "--kind", "irc", "pcm=3"}}, {"-l", fits}, 0, "3\n", "", {}, 0, 3},
      // A serial number the request field cannot hold is refused before anything is sent.
      {"38-character serial", {}, {"-l", std::string(38, 'S'), "-m", "4"}, 1, "",
       "SES failure reading config page, rc = 4110\n", {"longer than 37 characters, refused\n"}, 0, kUntouched},
      {"10000-character serial", {}, {"-l", std::string(10000, 'S')}, 1, "",
       "SES failure reading config page, rc = 4110\n", {"longer than 37 characters, refused\n"}, 0, kUntouched},
      // The command line as the utility reads it: getopt's forms, atoi on the mode, one of each.
      {"mode first", {}, {"-m", "7", "-l", "IRC0001"}, 0, "7\n", "", {}, 0, 7},
      {"joined options", {}, {"-lIRC0001", "-m0"}, 0, "0\n", "", {}, 0, 0},
      {"mode with a leading zero", {}, {"-l", "IRC0001", "-m", "07"}, 0, "7\n", "", {}, 0, 7},
      {"mode read up to its letters", {}, {"-l", "IRC0001", "-m", "3abc"}, 0, "3\n", "", {"Update successful. Mode=3\n"}, 0, 3},
      {"no arguments", {}, {}, 11, "", noSerial, {"qelses_pcm:113 Usage: Enclosure IPN Serial Number must be specified\n"}, 0, kUntouched},
      {"mode without serial", {}, {"-m", "5"}, 11, "", noSerial, {}, 0, kUntouched},
      {"mode 8", {}, {"-l", "IRC0001", "-m", "8"}, 11, "", incorrect, {"Usage: Incorrect Options\n"}, 0, 3},
      {"mode x", {}, {"-l", "IRC0001", "-m", "x"}, 11, "", incorrect, {}, 0, 3}, {"mode -1", {}, {"-l", "IRC0001", "-m", "-1"}, 11, "", incorrect, {}, 0, 3},
      {"mode after a blank", {}, {"-l", "IRC0001", "-m", " 3"}, 11, "", incorrect, {}, 0, 3}, {"mode 2^32+3 does not wrap", {}, {"-l", "IRC0001", "-m", "4294967299"}, 11, "", incorrect, {}, 0, 3},
      {"two serials", {}, {"-l", "IRC0001", "-l", "B"}, 11, "", incorrect, {}, 0, 3}, {"two modes", {}, {"-l", "IRC0001", "-m", "1", "-m", "2"}, 11, "", incorrect, {}, 0, 3},
      {"unknown option", {}, {"-l", "IRC0001", "-q"}, 11, "", binary + ": invalid option -- 'q'\n" + incorrect, {}, 0, 3},
      {"serial missing", {}, {"-l"}, 11, "", binary + ": option requires an argument -- 'l'\n" + incorrect, {}, 0, kUntouched},
      {"stray words", {}, {"one", "-l", "IRC0001", "two"}, 11, "",
       "qelses_pcm: Unprocessed parameters at end of command line: one two \n" + incorrect, {"!TK_IsEnclosureIRC"}, 0, 3},
      {"100,000 arguments", {}, many, 11, "", "qelses_pcm: Unprocessed parameters at end of command line: " + words + "\n" +
       incorrect, {"!TK_IsEnclosureIRC"}, 0, 3},
  };
  for (const Row &row : rows) {
    qelhard::Rig rig;
    rig.binary = binary;
    if (shipped) rig.traceDir = QEL_TRACE_DIR_FOR_TESTS;
    Check(row, rig);
  }
}

// The steps of an update in order; a query ends after the VPD read.
enum Step { Config, VpdRead, VpdWrite, Status, Control, ReadBack };
const char *const kFailureOf[] = {"SES failure reading config page, rc = ", "SES failure reading VPD, rc = ",
                                  "VPD write failure, result = ",           "SES page read failure rc=",
                                  "SES failure writing control page, rc = ", "SES failure reading VPD, rc = "};

// How a fault disturbs a step: the attempts it makes, the code it fails with, and the pauses
// taken after one failure, after attempts-1 (the most the retries absorb) and after all.
struct Effect { int attempts, code; unsigned long long once, absorbed, exhausted; };
const Effect kIgnored{1, 0, 0, 0, 0};                      // the step does not look at it
const Effect kPageOp{9, 4101, 25000, 3000000, 3000000};    // pauses grow: 0, 1, 3, 6 ... 36 x 25000
const Effect kExchange{10, 4098, 25000, 225000, 250000};   // a failed string exchange attempt
const Effect kWrongString{10, 86, 50000, 450000, 500000};  // a wrong StringIn page
const Effect kWrongPage{5, 86, 400000, 1600000, 2000000};  // a wrong status page code
const Effect kVerify{1, 4098, 0, 0, 0};                    // no retry around VPD verification
const Effect kOpen{1, 4097, 0, 0, 0};                      // nor around opening the connection
const Effect kNoStore{1, 15, 0, 0, 0};                     // the write is acknowledged, not kept

// An update sends RECEIVE 1, RECEIVE 8 (config); SEND 4/0x69, RECEIVE 4 (VPD read); SEND
// 4/0x5A, RECEIVE 8 (VPD write); RECEIVE 2, RECEIVE 8 (status); SEND 2, RECEIVE 8 (control);
// SEND 4/0x69, RECEIVE 4 (read-back). A row's filter singles out its step's command: --skip
// counts the commands the fault kind looks at before it.
struct MatrixRow { std::string kinds; Step step; const Effect *effect; std::string filter; };
const std::string kTransport = "busy sendfail reqstatus directive result";
const std::string kVpdIn = "--scope receive --page 4 --func 0x69";
const std::string kShort = "--scope receive --page 8";
const MatrixRow kRows[] = {
    {kTransport, Config, &kPageOp, "--scope receive --page 1"},
    {kTransport, VpdRead, &kExchange, "--page 4 --func 0x69"},
    {kTransport, VpdWrite, &kPageOp, "--scope send --page 4 --func 0x5A"},
    {kTransport, Status, &kPageOp, "--scope receive --page 2"},
    {kTransport, Control, &kPageOp, "--scope send --page 2"},
    {kTransport, ReadBack, &kExchange, "--page 4 --func 0x69 --skip 2"},
    {"open", Config, &kOpen, ""},
    // The IRC test does not check the config page's code, nor writes the status page's.
    {"pagecode", Config, &kIgnored, "--scope receive --page 1"},
    {"pagecode", VpdRead, &kWrongString, kVpdIn},
    {"pagecode", VpdWrite, &kIgnored, kShort + " --skip 1"},
    {"pagecode", Status, &kWrongPage, "--scope receive --page 2"},
    {"pagecode", Control, &kIgnored, kShort + " --skip 3"},
    {"pagecode", ReadBack, &kWrongString, kVpdIn + " --skip 1"},
    {"strstatus", VpdRead, &kExchange, kVpdIn},
    {"strstatus", ReadBack, &kExchange, kVpdIn + " --skip 1"},
    {"function device", VpdRead, &kWrongString, kVpdIn},
    {"function device", ReadBack, &kWrongString, kVpdIn + " --skip 1"},
    {"vpdlength vpdchecksum", VpdRead, &kVerify, kVpdIn},
    {"vpdlength vpdchecksum", ReadBack, &kVerify, kVpdIn + " --skip 1"},
    // Reads ignore the short enclosure status; writes fail on it.
    {"shortstatus", Config, &kIgnored, kShort},
    {"shortstatus", VpdWrite, &kPageOp, kShort + " --skip 1"},
    {"shortstatus", Status, &kIgnored, kShort + " --skip 2"},
    {"shortstatus", Control, &kPageOp, kShort + " --skip 3"},
    {"nostore", VpdWrite, &kNoStore, ""},
};

void RunCase(const std::string &kind, const MatrixRow &row, bool query, int count) {  // count 0: --always
  const Effect &e = *row.effect;
  const std::string target = kind == "open" ? "lab" : "IRC0001";
  std::vector<std::string> fault{"fault", target, kind, count == 0 ? "--always" : "--count"};
  if (count != 0) fault.push_back(std::to_string(count));
  std::istringstream filter(row.filter);
  for (std::string word; filter >> word;) fault.push_back(word);
  std::string name = query ? "query," : "update,";
  for (const std::string &word : fault) name += " " + word;

  const bool noStore = &e == &kNoStore, fails = &e != &kIgnored && (count == 0 || e.attempts == 1);
  const int status = noStore ? 15 : fails ? 1 : 0;
  const int code = kind == "busy" ? 4107 : kind == "shortstatus" || kind == "strstatus" ? 86 : e.code;
  const std::string verify =
      kind == "vpdlength"     ? "Length field in VPD data is incorrect: found(1f0), expected(1f1)\n"
      : kind == "vpdchecksum" ? "Checksum is invalid\n"
                              : "";
  const std::string err = noStore ? "Update unsuccessful. Supplied=5 New=3\n"
                          : fails ? verify + kFailureOf[row.step] + std::to_string(code) + "\n"
                                  : "";
  // The VPD holds the new mode once the write was carried out: whatever fails after it, and
  // when only the write's short status was bad. An open fault is on the lab, not the enclosure.
  const bool written = !query && !noStore &&
                       (!fails || row.step > VpdWrite || (row.step == VpdWrite && kind == "shortstatus"));
  std::vector<std::string> args{"-l", "IRC0001"};
  if (!query) args.insert(args.end(), {"-m", "5"});
  qelhard::Rig rig;
  Check({name, {fault}, args, status, status != 0 ? "" : query ? "3\n" : "5\n", err, {},
         count == 0 ? e.exhausted : count == 1 ? e.once : e.absorbed, kind == "open" ? kUntouched : written ? 5 : 3},
        rig);
}

TEST(FaultMatrix, EveryKindAtEveryStep) {
  // Under the emulator each process costs a second or more: only the --always column runs.
  const bool emulated = !std::string(QEL_TEST_EMULATOR).empty();
  int runs = 0;
  for (const MatrixRow &row : kRows) {
    const int absorbed = row.effect->attempts > 2 ? row.effect->attempts - 1 : -1;
    std::istringstream kinds(row.kinds);
    for (std::string kind; kinds >> kind;) {
      for (const bool query : {false, true}) {
        for (const int count : {0, 1, absorbed}) {
          if ((query && row.step > VpdRead) || count < 0 || (emulated && count != 0)) continue;
          // A short status fault left on for good would also hit the writes that follow.
          if (kind == "shortstatus" && row.effect == &kIgnored && !query && count == 0) continue;
          RunCase(kind, row, query, count);
          ++runs;
        }
      }
    }
  }
  std::printf("fault matrix: %d runs\n", runs);
  EXPECT_EQ(runs, emulated ? 69 : 195);
}

// A run killed (SIGKILL) right after each command it sends in turn, then run again: the rerun
// converges, the VPD verifies at every point, and the simulator's state is never torn.
TEST(Interruption, KilledAtEachCommandThenRunAgain) {
  constexpr int kVpdWriteCommand = 5;  // the enclosure keeps the VPD write at once
  // The mode before and the one asked for (-1: a query), and the commands the run sends.
  // IRC0002 has no PCM field yet.
  const struct { const char *serial; int before, mode, commands; } cases[] = {
      {"IRC0001", 3, 5, 12}, {"IRC0002", kNoField, 6, 12}, {"IRC0001", 3, -1, 4}};
  for (const auto &c : cases) {
    const int mode = c.mode < 0 ? c.before : c.mode;
    std::vector<std::string> args{"-l", c.serial};
    if (c.mode >= 0) args.insert(args.end(), {"-m", std::to_string(c.mode)});
    for (int n = 1; n <= c.commands + 1; ++n) {  // past the last command nothing is killed
      const std::string name = qeltest::Cat(c.serial, c.mode < 0 ? " query" : " update", " killed after ", std::to_string(n));
      SCOPED_TRACE(name);
      qelhard::Rig rig;
      const std::string vpd = rig.Encsim({"page", c.serial, "vpd"});
      const qelhard::Run killed = rig.Pcm(args, {"NICISIM_KILL_AT=" + std::to_string(n)});
      const bool cut = n <= c.commands, written = c.mode >= 0 && n >= kVpdWriteCommand;
      EXPECT_EQ(killed.proc.status, cut ? 128 + SIGKILL : 0);
      rig.ExpectEnclosure(c.serial, written ? c.mode : c.before);
      EXPECT_EQ(rig.Encsim({"page", c.serial, "vpd"}) == vpd, !written);
      EXPECT_EQ(qeltest::ListDir(rig.state.path()), (std::vector<std::string>{"lab.lock", "lab.state"}));
      // The killed run's trace stays as it was cut off: plain text without the trailer, too
      // recent for the rerun to compress.
      const std::string trace = rig.TraceOf(killed), plain = qeltest::Cat(".", std::to_string(killed.proc.pid));
      EXPECT_EQ(trace.rfind("Program qelses_pcm started.\n", 0), 0u);
      EXPECT_EQ(trace.find("Completed at") == std::string::npos, cut);
      Check({name + ", run again", {}, args, 0, std::to_string(mode) + "\n", "", {}, 0, mode, false}, rig);
      const auto plainName = [&](const std::string &file) { return file.ends_with(plain); };
      EXPECT_EQ(std::ranges::any_of(qeltest::ListDir(rig.traceDir), plainName), cut);
    }
  }
}

}  // namespace

// Every fault the simulated adapter injects, at every step of a query and of an update, with
// --always and with counts the step's retries absorb. Each run must end with the status,
// message and pauses its step owes, and leave the enclosure's VPD verifiable.
#include <sstream>

#include "hardening.h"

namespace {

// The steps of an update in order; a query ends after the VPD read.
enum Step { Config, VpdRead, VpdWrite, Status, Control, ReadBack };
const char *const kFailureOf[] = {"SES failure reading config page, rc = ", "SES failure reading VPD, rc = ",
                                  "VPD write failure, result = ",           "SES page read failure rc=",
                                  "SES failure writing control page, rc = ", "SES failure reading VPD, rc = "};

// How a fault disturbs a step: the attempts it makes, the code it fails with, and the pauses
// taken after one failure, after attempts-1 (the most the retries absorb) and after all.
struct Effect {
  int attempts, code;
  unsigned long long once, absorbed, exhausted;
};
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
struct Row {
  std::string kinds;
  Step step;
  const Effect *effect;
  std::string filter;
};
const std::string kTransport = "busy sendfail reqstatus directive result";
const std::string kVpdIn = "--scope receive --page 4 --func 0x69";
const std::string kShort = "--scope receive --page 8";
const Row kRows[] = {
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

void RunCase(const std::string &kind, const Row &row, bool query, int count) {  // count 0: --always
  const Effect &e = *row.effect;
  const std::string target = kind == "open" ? "lab" : "IRC0001";
  std::vector<std::string> fault{"fault", target, kind, count == 0 ? "--always" : "--count"};
  if (count != 0) fault.push_back(std::to_string(count));
  std::istringstream filter(row.filter);
  for (std::string word; filter >> word;) fault.push_back(word);
  std::string shown = query ? "query," : "update,";
  for (const std::string &word : fault) shown += " " + word;
  SCOPED_TRACE(shown);

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
  // when only the write's short status was bad.
  const bool written = !query && !noStore &&
                       (!fails || row.step > VpdWrite || (row.step == VpdWrite && kind == "shortstatus"));

  qelhard::Rig rig;
  rig.Encsim(fault);
  std::vector<std::string> args{"-l", "IRC0001"};
  if (!query) args.insert(args.end(), {"-m", "5"});
  const qelhard::Run run = rig.Pcm(args);
  EXPECT_EQ(run.proc.status, status);
  EXPECT_EQ(run.proc.out, status != 0 ? "" : query ? "3\n" : "5\n");
  EXPECT_EQ(run.proc.err, err);
  EXPECT_EQ(run.pausedMicros, count == 0 ? e.exhausted : count == 1 ? e.once : e.absorbed);
  const std::string trace = rig.TraceOf(run);
  EXPECT_NE(trace.find(" main rc=" + std::to_string(status) + "\n"), std::string::npos);
  EXPECT_NE(trace.find("\nCompleted at "), std::string::npos);
  rig.Encsim({"fault", target, "clear"});
  rig.ExpectEnclosure("IRC0001", written ? 5 : 3);
}

TEST(FaultMatrix, EveryKindAtEveryStep) {
  // Under the emulator each process costs a second or more: only the --always column runs.
  const bool emulated = !std::string(QEL_TEST_EMULATOR).empty();
  int runs = 0;
  for (const Row &row : kRows) {
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

}  // namespace

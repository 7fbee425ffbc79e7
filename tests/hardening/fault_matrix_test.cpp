// Every fault the simulated adapter injects, at every step of a query and of an update, with
// --always and with counts the step's retries absorb. Each run must end with the status and
// message its step owes, take exactly the pauses its retry rule allows, not crash, and leave
// the enclosure's VPD verifiable.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "hardening.h"

namespace {

using qelhard::Rig;

enum class Step { Config, VpdRead, VpdWrite, Status, Control, ReadBack };
const char *Name(Step s) {
  switch (s) {
    case Step::Config: return "config page read";
    case Step::VpdRead: return "VPD read exchange";
    case Step::VpdWrite: return "VPD write";
    case Step::Status: return "status page read";
    case Step::Control: return "control page write";
    case Step::ReadBack: return "read-back";
  }
  return "?";
}

// How a fault kind disturbs a step.
enum class Effect {
  None,         // the step does not look at what the fault changes
  PageOp,       // a transport failure inside a page read or write: 9 attempts, growing pauses
  Exchange,     // a failed string exchange attempt: 10 attempts, 25000 us each
  WrongString,  // a wrong StringIn page: 10 attempts, 50000 us each
  WrongPage,    // a wrong status page code: 5 reads, 400000 us each
  Verify,       // the VPD image fails its check: no retry
  Open,         // the connection does not open: no retry
  NoStore,      // the write is acknowledged but not kept
};

constexpr unsigned long long kStep = 25000;   // growth step of the page retries
constexpr int kPageAttempts = 9;              // pauses 0, 1, 3, 6, ... 36 steps: 3 s in all
constexpr int kExchangeAttempts = 10;
constexpr int kStatusReads = 5;
constexpr unsigned long long kWrongPagePause = 400000;
constexpr int kRequested = 5;
constexpr int kInitial = 3;

struct Target {
  Effect effect;
  std::vector<std::string> filter;  // encsim fault options that single out the step's command
};

const std::vector<std::string> kTransportKinds{"busy", "sendfail", "reqstatus", "directive", "result"};

bool IsTransport(const std::string &kind) {
  for (const std::string &k : kTransportKinds) {
    if (k == kind) return true;
  }
  return false;
}

// Commands of an update, in order: RECEIVE 1, RECEIVE 8 (config); SEND 4/0x69, RECEIVE 4
// (VPD read); SEND 4/0x5A, RECEIVE 8 (VPD write); RECEIVE 2, RECEIVE 8 (status); SEND 2,
// RECEIVE 8 (control); SEND 4/0x69, RECEIVE 4 (read-back). --skip counts the commands the fault
// kind looks at before the one it should hit.
bool TargetOf(const std::string &kind, Step step, Target *t) {
  const std::vector<std::string> vpdRead{"--page", "4", "--func", "0x69"};
  const std::vector<std::string> vpdReadIn{"--scope", "receive", "--page", "4", "--func", "0x69"};
  auto withSkip = [](std::vector<std::string> f, int n) {
    f.insert(f.end(), {"--skip", std::to_string(n)});
    return f;
  };
  const bool readStep = step == Step::VpdRead || step == Step::ReadBack;
  if (IsTransport(kind)) {
    switch (step) {
      case Step::Config: *t = {Effect::PageOp, {"--scope", "receive", "--page", "1"}}; return true;
      case Step::VpdRead: *t = {Effect::Exchange, vpdRead}; return true;
      case Step::VpdWrite: *t = {Effect::PageOp, {"--scope", "send", "--page", "4", "--func", "0x5A"}}; return true;
      case Step::Status: *t = {Effect::PageOp, {"--scope", "receive", "--page", "2"}}; return true;
      case Step::Control: *t = {Effect::PageOp, {"--scope", "send", "--page", "2"}}; return true;
      case Step::ReadBack: *t = {Effect::Exchange, withSkip(vpdRead, 2)}; return true;
    }
  }
  if (kind == "open") {
    if (step != Step::Config) return false;  // the connection opens once, at the first step
    *t = {Effect::Open, {}};
    return true;
  }
  if (kind == "pagecode") {
    switch (step) {
      // The IRC test does not check the configuration page's code; writes check only the
      // short status byte, not the status page's code.
      case Step::Config: *t = {Effect::None, {"--scope", "receive", "--page", "1"}}; return true;
      case Step::VpdWrite: *t = {Effect::None, {"--scope", "receive", "--page", "8", "--skip", "1"}}; return true;
      case Step::Control: *t = {Effect::None, {"--scope", "receive", "--page", "8", "--skip", "3"}}; return true;
      case Step::Status: *t = {Effect::WrongPage, {"--scope", "receive", "--page", "2"}}; return true;
      case Step::VpdRead: *t = {Effect::WrongString, vpdReadIn}; return true;
      case Step::ReadBack: *t = {Effect::WrongString, withSkip(vpdReadIn, 1)}; return true;
    }
  }
  if (kind == "strstatus" || kind == "function" || kind == "device" || kind == "vpdlength" ||
      kind == "vpdchecksum") {
    if (!readStep) return false;  // only StringIn answers of a VPD read carry these
    const Effect e = kind == "strstatus"  ? Effect::Exchange
                     : kind[0] == 'v'     ? Effect::Verify
                                          : Effect::WrongString;
    *t = {e, step == Step::VpdRead ? vpdReadIn : withSkip(vpdReadIn, 1)};
    return true;
  }
  if (kind == "shortstatus") {
    // Reads ignore the short enclosure status; writes fail on it.
    const std::vector<std::string> shortStatus{"--scope", "receive", "--page", "8"};
    switch (step) {
      case Step::Config: *t = {Effect::None, shortStatus}; return true;
      case Step::VpdWrite: *t = {Effect::PageOp, withSkip(shortStatus, 1)}; return true;
      case Step::Status: *t = {Effect::None, withSkip(shortStatus, 2)}; return true;
      case Step::Control: *t = {Effect::PageOp, withSkip(shortStatus, 3)}; return true;
      default: return false;
    }
  }
  if (kind == "nostore") {
    if (step != Step::VpdWrite) return false;
    *t = {Effect::NoStore, {}};
    return true;
  }
  return false;
}

int Attempts(Effect e) {
  switch (e) {
    case Effect::PageOp: return kPageAttempts;
    case Effect::Exchange:
    case Effect::WrongString: return kExchangeAttempts;
    case Effect::WrongPage: return kStatusReads;
    default: return 1;
  }
}

// Pauses taken when the first `failed` attempts of the step fail.
unsigned long long Pauses(Effect e, int failed) {
  const auto k = static_cast<unsigned long long>(failed);
  switch (e) {
    // The pause before attempt j is j(j-1)/2 steps; attempt failed+1 is the last one paused for.
    case Effect::PageOp: {
      const unsigned long long n = failed < kPageAttempts ? k + 1 : k;
      return (n + 1) * n * (n - 1) / 6 * kStep;
    }
    case Effect::Exchange: return k * 25000;
    case Effect::WrongString: return k * 50000;
    case Effect::WrongPage: return k * kWrongPagePause;
    default: return 0;
  }
}

struct Case {
  std::string kind;
  Step step;
  bool query;
  int count;  // 0: --always
  Target target;
};

std::string Describe(const Case &c) {
  std::string s = c.kind + " at " + Name(c.step) + (c.query ? " (query)" : " (update)") + " with " +
                  (c.count == 0 ? std::string("--always") : "--count " + std::to_string(c.count));
  for (const std::string &f : c.target.filter) s += " " + f;
  return s;
}

// The code the step fails with, as its caller reports it.
int FailureCode(const std::string &kind, Effect e) {
  switch (e) {
    case Effect::PageOp: return kind == "busy" ? 4107 : kind == "shortstatus" ? 86 : 4101;
    case Effect::Exchange: return kind == "busy" ? 4107 : kind == "strstatus" ? 86 : 4098;
    case Effect::WrongString:
    case Effect::WrongPage: return 86;
    case Effect::Verify: return 4098;
    case Effect::Open: return 4097;
    default: return 0;
  }
}

std::string FailureMessage(const Case &c, int code) {
  const std::string rc = std::to_string(code);
  switch (c.step) {
    case Step::Config: return "SES failure reading config page, rc = " + rc + "\n";
    case Step::VpdRead:
    case Step::ReadBack: {
      std::string verify;
      if (c.kind == "vpdlength") verify = "Length field in VPD data is incorrect: found(1f0), expected(1f1)\n";
      if (c.kind == "vpdchecksum") verify = "Checksum is invalid\n";
      return verify + "SES failure reading VPD, rc = " + rc + "\n";
    }
    case Step::VpdWrite: return "VPD write failure, result = " + rc + "\n";
    case Step::Status: return "SES page read failure rc=" + rc + "\n";
    case Step::Control: return "SES failure writing control page, rc = " + rc + "\n";
  }
  return "";
}

struct Expect {
  int status = 0;
  std::string out, err;
  unsigned long long pauses = 0;
  int modeAfter = kInitial;
};

Expect Expected(const Case &c) {
  Expect x;
  const Effect e = c.target.effect;
  const bool fails = e == Effect::Open || e == Effect::Verify || e == Effect::NoStore ||
                     (e != Effect::None && (c.count == 0 || c.count >= Attempts(e)));
  const int failed = e == Effect::None ? 0 : c.count == 0 ? Attempts(e) : std::min(c.count, Attempts(e));
  x.pauses = Pauses(e, failed);
  // The VPD holds the new mode once a write has been carried out: every step after the VPD
  // write, and the VPD write itself when only its short status was bad.
  const bool written = !c.query && e != Effect::NoStore &&
                       (!fails || c.step == Step::Status || c.step == Step::Control || c.step == Step::ReadBack ||
                        (c.step == Step::VpdWrite && c.kind == "shortstatus"));
  x.modeAfter = written ? kRequested : kInitial;
  if (e == Effect::NoStore) {
    x.status = 15;
    x.err = "Update unsuccessful. Supplied=5 New=3\n";
  } else if (fails) {
    x.status = 1;
    x.err = FailureMessage(c, FailureCode(c.kind, e));
  } else {
    x.out = std::to_string(c.query ? kInitial : kRequested) + "\n";
  }
  return x;
}

std::vector<Case> Matrix() {
  const std::vector<std::string> kinds{"open",     "busy",      "sendfail", "reqstatus",   "directive",
                                       "result",   "pagecode",  "strstatus", "function",   "device",
                                       "shortstatus", "vpdlength", "vpdchecksum", "nostore"};
  const Step steps[] = {Step::Config, Step::VpdRead, Step::VpdWrite, Step::Status, Step::Control, Step::ReadBack};
  std::vector<Case> cases;
  for (const std::string &kind : kinds) {
    for (const Step step : steps) {
      Target t;
      if (!TargetOf(kind, step, &t)) continue;
      // --always; one hit; and the most hits the step's retries still absorb.
      std::vector<int> counts{0, 1};
      if (Attempts(t.effect) > 2) counts.push_back(Attempts(t.effect) - 1);
      for (const bool query : {false, true}) {
        if (query && step != Step::Config && step != Step::VpdRead) continue;
        for (const int count : counts) {
          // A short status fault left on for good would also hit the writes that follow.
          if (kind == "shortstatus" && t.effect == Effect::None && !query && count == 0) continue;
          cases.push_back({kind, step, query, count, t});
        }
      }
    }
  }
  return cases;
}

void RunCase(const Case &c) {
  SCOPED_TRACE(Describe(c));
  Rig rig;
  std::vector<std::string> fault{"fault", c.kind == "open" ? "lab" : "IRC0001", c.kind};
  if (c.count == 0) {
    fault.push_back("--always");
  } else {
    fault.insert(fault.end(), {"--count", std::to_string(c.count)});
  }
  fault.insert(fault.end(), c.target.filter.begin(), c.target.filter.end());
  rig.Encsim(fault);

  std::vector<std::string> args{"-l", "IRC0001"};
  if (!c.query) args.insert(args.end(), {"-m", std::to_string(kRequested)});
  const qelhard::Run run = rig.Pcm(args);
  const Expect x = Expected(c);
  EXPECT_LT(run.proc.status, 128);
  EXPECT_EQ(run.proc.status, x.status);
  EXPECT_EQ(run.proc.out, x.out);
  EXPECT_EQ(run.proc.err, x.err);
  EXPECT_EQ(run.pausedMicros, x.pauses);
  const std::string trace = rig.TraceOf(run);
  EXPECT_NE(trace.find(" main rc=" + std::to_string(x.status) + "\n"), std::string::npos);
  EXPECT_NE(trace.find("\nCompleted at "), std::string::npos);

  rig.Encsim({"fault", "lab", "clear"});
  rig.Encsim({"fault", "IRC0001", "clear"});
  const std::string shown = rig.Show("IRC0001");
  EXPECT_TRUE(qelhard::VpdVerifies(shown)) << shown;
  EXPECT_EQ(qelhard::ShownMode(shown), x.modeAfter) << shown;
}

TEST(FaultMatrix, EveryKindAtEveryStep) {
  const std::vector<Case> cases = Matrix();
  // Under the emulator each process costs a second or more: the --always column holds every
  // kind at every step and is the one kept there.
  int ran = 0;
  for (const Case &c : cases) {
    if (qelhard::Emulated() && c.count != 0) continue;
    RunCase(c);
    ++ran;
  }
  RecordProperty("cases", ran);
  std::printf("fault matrix: %d runs\n", ran);
  EXPECT_GE(ran, qelhard::Emulated() ? 40 : 120);
}

// The budgets themselves, from the retry rules: the last absorbed failure of a page operation
// already spends the whole 3 s, and the exhausted exchange spends half a second at most.
TEST(FaultMatrix, BudgetsFromTheRetryRules) {
  EXPECT_EQ(Pauses(Effect::PageOp, kPageAttempts), 3000000u);
  EXPECT_EQ(Pauses(Effect::PageOp, kPageAttempts - 1), 3000000u);
  EXPECT_EQ(Pauses(Effect::PageOp, 2), 100000u);
  EXPECT_EQ(Pauses(Effect::WrongString, kExchangeAttempts), 500000u);
  EXPECT_EQ(Pauses(Effect::WrongPage, kStatusReads), 2000000u);
}

}  // namespace

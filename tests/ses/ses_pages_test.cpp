// Page read and write with the growing-pause retry, the opening step, the string exchange and
// the refusal of over-long serial numbers.
#include <cerrno>

#include "qelses.h"
#include "ses_fixture.h"

namespace sestest {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Trying values and pauses of the nine attempts a page operation makes at most.
const std::vector<std::string> kNineTrying = {"0 0",           "25000 0",       "50000 25000",
                                              "75000 100000",  "100000 250000", "125000 500000",
                                              "150000 875000", "175000 1400000",
                                              "200000 2100000"};
const std::vector<std::string> kNinePauses = {
    "usleep 0",      "usleep 25000",  "usleep 75000",  "usleep 150000", "usleep 250000",
    "usleep 375000", "usleep 525000", "usleep 700000", "usleep 900000"};

fakeci::Reply Directive(std::uint8_t value) {
  fakeci::Reply r;
  r.edit = [value](Bytes &b) { b[48] = value; };
  return r;
}

enum class Op { Write, Read };

struct RetryCase {
  const char *name;
  Op op;
  std::uint8_t shortStatus;
  // Which requests fail: by their index in the run, whether they are the status read.
  std::function<fakeci::Reply(const fakeci::Request &, std::size_t)> responder;
  std::int32_t rc;
  std::size_t attempts;
  std::size_t shortEncLines;
  bool pageDelivered;  // the read's buffer ends up holding the page
};

fakeci::Reply Ok(const fakeci::Request &, std::size_t) { return {}; }

const RetryCase kRetryCases[] = {
    {"WriteFirstTry", Op::Write, 0, Ok, SES_OK, 1, 0, false},
    {"WriteShortStatusFive", Op::Write, 5, Ok, SES_RC_ENCLOSURE_STATUS, 9, 9, false},
    {"WriteAlwaysBusy", Op::Write, 0,
     [](const fakeci::Request &, std::size_t) { return fakeci::SendFails(EBUSY); }, SES_RC_BUSY,
     9, 0, false},
    {"WriteStatusReadFailsThenBusyLast", Op::Write, 0,
     [](const fakeci::Request &r, std::size_t i) {
       // Every status read fails; the last attempt's send is busy, so its code is returned.
       if (i >= 16) return fakeci::SendFails(EBUSY);
       return r.isReceive() ? Directive(3) : fakeci::Reply{};
     },
     SES_RC_BUSY, 9, 0, false},
    {"WriteThirdAttemptSucceeds", Op::Write, 0,
     [](const fakeci::Request &, std::size_t i) {
       return i < 2 ? fakeci::SendFails(EIO) : fakeci::Reply{};
     },
     SES_OK, 3, 0, false},
    {"ReadIgnoresShortStatus", Op::Read, 7, Ok, SES_OK, 1, 0, true},
    {"ReadStatusKeepsFailing", Op::Read, 0,
     [](const fakeci::Request &r, std::size_t) {
       return r.pageCode() == 0x08 ? fakeci::SendFails(EIO) : fakeci::Reply{};
     },
     SES_RC_CI_FAILED, 9, 0, true},
    {"ReadPageKeepsFailing", Op::Read, 0,
     [](const fakeci::Request &r, std::size_t) {
       return r.pageCode() == 0x02 ? Directive(1) : fakeci::Reply{};
     },
     SES_RC_CI_FAILED, 9, 0, false},
};

class PageRetry : public SesTest, public ::testing::WithParamInterface<RetryCase> {};

TEST_P(PageRetry, AttemptsPausesAndTrace) {
  const RetryCase &c = GetParam();
  adapter.shortEncStatus = c.shortStatus;
  adapter.responder = c.responder;
  adapter.pages[2] = Bytes{0x02, 0x00, 0x00, 0xDC, 0x11, 0x22};
  Bytes buffer(6, 0xEE);
  const bool write = c.op == Op::Write;
  const std::string name = write ? "SES_WritePage" : "SES_ReadPage";
  const std::string tryingPrefix = write ? "qelses:386 " : "qelses:467 ";
  const std::string exitLine = write ? "qelses:417 SES_WritePage: Exit, rc = "
                                     : "qelses:498 SES_ReadPage: Exit, rc = ";

  const std::int32_t rc = write ? SES_WritePage(kSerial, 6, adapter.pages[2].data())
                                : SES_ReadPage(kSerial, 2, 6, buffer.data());
  EXPECT_EQ(rc, c.rc);

  const std::vector<std::string> lines = Trace();
  std::vector<std::string> wantTrying;
  for (std::size_t i = 0; i < c.attempts; ++i)
    wantTrying.push_back(tryingPrefix + name + ": Trying " + kNineTrying[i]);
  EXPECT_EQ(Matching(lines, tryingPrefix), wantTrying);
  EXPECT_EQ(sys.pauses, std::vector<std::string>(kNinePauses.begin(),
                                                 kNinePauses.begin() +
                                                     static_cast<std::ptrdiff_t>(c.attempts)));
  const std::vector<std::string> shortEnc = Matching(lines, "qelses:409 ");
  EXPECT_EQ(shortEnc.size(), c.shortEncLines);
  for (const std::string &l : shortEnc) EXPECT_EQ(l, "qelses:409 SES_WritePage: ShortEnc Status = 5!!!!");
  if (rc == SES_OK) {
    EXPECT_TRUE(Matching(lines, exitLine).empty());
  } else {
    EXPECT_EQ(lines.back(), exitLine + std::to_string(c.rc));
  }
  if (!write) {
    EXPECT_EQ(buffer == adapter.pages[2], c.pageDelivered);
  }
  EXPECT_EQ(adapter.calls.front(), "open");
}

INSTANTIATE_TEST_SUITE_P(Cases, PageRetry, ::testing::ValuesIn(kRetryCases),
                         [](const auto &p) { return std::string(p.param.name); });

TEST_F(SesTest, PauseBudgetIsThreeSecondsOverNineAttempts) {
  adapter.shortEncStatus = 5;
  const Bytes page(12, 4);
  EXPECT_EQ(SES_WritePage(kSerial, 12, page.data()), SES_RC_ENCLOSURE_STATUS);
  EXPECT_EQ(sys.totalMicros(), 3000000u);
  EXPECT_EQ(adapter.sends().size(), 9u);
}

// The opening step of every operation: its trace line, and that a failure is retried by the
// next operation.
struct OpenCase {
  const char *name;
  std::function<std::int32_t(const char *serial)> run;
  std::vector<std::string> trace;
};

const std::uint8_t kOutPage[16] = {0x04, 0, 0, 12, 0x69, 0, 0, 0, 16};
std::uint8_t gInPage[64];
const std::uint8_t kImage[3] = {1, 2, 3};

const OpenCase kOpenCases[] = {
    {"WritePage", [](const char *sn) { return SES_WritePage(sn, 16, kOutPage); },
     {"qelses:375 SES_WritePage: Connection Failed (RC = -7)"}},
    {"ReadPage", [](const char *sn) { return SES_ReadPage(sn, 1, 64, gInPage); },
     {"qelses:456 SES_WritePage: Connection Failed (RC = -7)"}},
    {"ReadStringPage", [](const char *sn) { return SES_ReadStringPage(sn, 16, kOutPage, 64, gInPage, 0); },
     {"qelses:544 SES_WritePage: Connection Failed (RC = -7)"}},
    {"DownloadFwTransfer", [](const char *sn) { return SES_DownloadFwTransfer(sn, 3, kImage, 3); },
     {"qelses:620 SES_DownloadFwTransfer: Entry SN:IRC0012345, Dev:3",
      "qelses:629 SES_WritePage: Connection Failed (RC = -7)"}},
    {"DownloadFwCommit", [](const char *sn) { return SES_DownloadFwCommit(sn, 3); },
     {"qelses:744 SES_DownloadFwCommit: Entry SN:IRC0012345, Dev:3",
      "qelses:753 SES_WritePage: Connection Failed (RC = -7)"}},
};

class OpeningStep : public SesTest, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(OpeningStep, FailureIsTracedAndRetriedNextTime) {
  const OpenCase &c = GetParam();
  adapter.openRc = -7;
  EXPECT_EQ(c.run(kSerial), SES_RC_OPEN_FAILED);
  EXPECT_EQ(Trace(), c.trace);
  EXPECT_EQ(adapter.calls, std::vector<std::string>{"open"});
  EXPECT_TRUE(sys.pauses.empty());
  EXPECT_EQ(isConnOpen, 0);

  adapter.openRc = 0;
  c.run(kSerial);
  c.run(kSerial);
  EXPECT_EQ(isConnOpen, 1);
  std::size_t opens = 0;
  for (const std::string &call : adapter.calls) opens += call == "open" ? 1 : 0;
  EXPECT_EQ(opens, 2u);
}

// An over-long serial number is refused before anything reaches the adapter.
TEST_P(OpeningStep, OverlongSerialIsRefusedUntried) {
  const OpenCase &c = GetParam();
  const std::string serial(38, 'X');
  EXPECT_EQ(c.run(serial.c_str()), SES_RC_SERIAL_TOO_LONG);
  EXPECT_TRUE(adapter.calls.empty());
  EXPECT_TRUE(sys.pauses.empty());
  const std::vector<std::string> lines = Trace();
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find(std::string(c.name) + ": Serial number missing or longer than 37"),
            std::string::npos)
      << lines.back();
}

INSTANTIATE_TEST_SUITE_P(Operations, OpeningStep, ::testing::ValuesIn(kOpenCases),
                         [](const auto &p) { return std::string(p.param.name); });

// One string exchange: send, pause, fetch page 4; failures become 4098 except a busy adapter.
struct StringCase {
  const char *name;
  std::function<fakeci::Reply(const fakeci::Request &, std::size_t)> responder;
  std::uint32_t delayMs;
  std::int32_t rc;
  std::size_t requests;
  std::string pause;
};

const StringCase kStringCases[] = {
    {"Succeeds", Ok, 0, SES_OK, 2, "usleep 0"},
    {"DelayInMilliseconds", Ok, 7, SES_OK, 2, "usleep 7000"},
    {"SendFailsStillPauses",
     [](const fakeci::Request &, std::size_t i) {
       return i == 0 ? fakeci::SendFails(EIO) : fakeci::Reply{};
     },
     25, SES_RC_STRING_PAGE, 1, "usleep 25000"},
    {"SendBusy",
     [](const fakeci::Request &, std::size_t i) {
       return i == 0 ? fakeci::SendFails(EBUSY) : fakeci::Reply{};
     },
     0, SES_RC_BUSY, 1, "usleep 0"},
    {"FetchBusy",
     [](const fakeci::Request &, std::size_t i) {
       return i == 1 ? fakeci::SendFails(EBUSY) : fakeci::Reply{};
     },
     0, SES_RC_BUSY, 2, "usleep 0"},
    {"FetchDirectiveFails",
     [](const fakeci::Request &, std::size_t i) { return i == 1 ? Directive(2) : fakeci::Reply{}; },
     0, SES_RC_STRING_PAGE, 2, "usleep 0"},
};

class StringExchange : public SesTest, public ::testing::WithParamInterface<StringCase> {};

TEST_P(StringExchange, CodesPauseAndPages) {
  const StringCase &c = GetParam();
  adapter.responder = c.responder;
  adapter.pages[4] = Bytes{0x04, 0x00, 0x00, 0x10, 0x69, 0x00, 0x00, 0x00, 0x10, 0xAB};
  Bytes in(10, 0xEE);
  EXPECT_EQ(SES_ReadStringPage(kSerial, 16, kOutPage, 10, in.data(), c.delayMs), c.rc);
  EXPECT_EQ(sys.pauses, std::vector<std::string>{c.pause});
  ASSERT_EQ(adapter.requests.size(), c.requests);
  EXPECT_EQ(adapter.requests[0].sentPage(), Bytes(kOutPage, kOutPage + 16));
  if (c.requests > 1) {
    EXPECT_EQ(adapter.requests[1].pageCode(), 0x04);
    EXPECT_EQ(adapter.requests[1].dataLength(), 10u);
  }
  EXPECT_EQ(in == adapter.pages[4], c.rc == SES_OK);
  if (c.rc != SES_OK) {
    EXPECT_EQ(in, Bytes(10, 0xEE));
  }
  const std::vector<std::string> exits = Matching(Trace(), "qelses:574 ");
  if (c.rc == SES_OK) {
    EXPECT_TRUE(exits.empty());
  } else {
    EXPECT_EQ(exits, std::vector<std::string>{"qelses:574 SES_ReadStringPage: Exit, rc = " +
                                              std::to_string(c.rc)});
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, StringExchange, ::testing::ValuesIn(kStringCases),
                         [](const auto &p) { return std::string(p.param.name); });

}  // namespace
}  // namespace sestest

// The SES transport against the scripted adapter: request messages byte by byte, how the
// adapter's answer is checked, the page retry loop, the connection, the string exchange and the
// firmware download.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

#include "byteorder.h"
#include "fake_adapter.h"
#include "qeldebug.h"
#include "qelses.h"
#include "testsupport.h"

namespace {

using fakeci::Bytes;
using fakeci::Reply;
using Responder = decltype(fakeci::Adapter::responder);

constexpr char kSerial[] = "IRC0012345";

Reply SendFails(int err) { return {.sendRc = -1, .sendErrno = err}; }
Reply Directive(std::uint8_t value) { return {.edit = [value](Bytes &b) { b[48] = value; }}; }
// Requests from..to-1 (counted from 0) get `reply`, the others succeed.
Responder Fail(std::size_t from, std::size_t to, const Reply &reply) {
  return [=](std::size_t i, const Bytes &) { return i >= from && i < to ? reply : Reply{}; };
}

std::string Hex(std::uint8_t b) { return {"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 15]}; }

// "xx xx ..." with 16 bytes a line.
std::string Hex(const Bytes &bytes) {
  std::string s;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    s += i == 0 ? "" : i % 16 == 0 ? "\n" : " ";
    s += Hex(bytes[i]);
  }
  return s;
}

// One trace per test process, in a scratch directory that outlives it, opened on the fixture's
// fake clock.
const std::string &TracePath() {
  static qeltest::ScratchDir dir("ses-trace");
  static std::string path = [] {
    QEL_DebugDir = dir.path().c_str();
    QEL_OpenTraceFile("qelses_test");
    return std::string(DebugStreamName);
  }();
  return path;
}

class SesTest : public ::testing::Test {
 protected:
  SesTest() { Fresh(); }
  ~SesTest() override {
    Fresh();
    fakeci::current = nullptr;
  }

  // Fails on the breaches the adapter noted, then starts over: a new adapter, no pauses, the
  // connection closed, the trace read from here on.
  void Fresh() {
    EXPECT_TRUE(adapter.violations.empty()) << ::testing::PrintToString(adapter.violations);
    adapter = fakeci::Adapter{};
    fakeci::current = &adapter;
    sys.pauses.clear();
    isConnOpen = 0;
    traceStart_ = qeltest::ReadFile(TracePath()).size();
  }

  // Trace lines since Fresh() that match `pattern` from their start, without time stamps. A
  // line that `want` holds with "qelses:*" for its line number is given that way.
  std::string Trace(const std::string &pattern = "", const std::string &want = "") const {
    static const std::regex stamp("[0-9]+\\.[0-9]{3}");
    const std::regex keep(pattern);
    const std::string text = qeltest::ReadFile(TracePath());
    std::istringstream in(text.substr(std::min(traceStart_, text.size())));
    std::string out;
    for (std::string line; std::getline(in, line);) {
      const std::string anyLine = "qelses:*" + line.substr(std::min(line.find(' '), line.size()));
      if (!std::regex_match(line, stamp) &&
          std::regex_search(line, keep, std::regex_constants::match_continuous))
        out += (want.find(anyLine + '\n') != std::string::npos ? anyLine : line) + '\n';
    }
    return out;
  }

  qeltest::FakeSystem sys;
  fakeci::Adapter adapter;
  std::size_t traceStart_ = 0;
};

// A message's nonzero bytes as runs "offset:hex", offsets in decimal. The address field (176 to
// 179) holds the sender's memory address and is left out.
std::string NonZero(Bytes m) {
  std::fill_n(m.begin() + 176, 4, 0);
  std::string s;
  for (std::size_t i = 0; i < m.size(); ++i) {
    if (m[i] == 0) continue;
    if (i == 0 || m[i - 1] == 0) s += qeltest::Cat(" ", std::to_string(i), ":");
    s += Hex(m[i]);
  }
  return s.substr(s.empty() ? 0 : 1);
}

// The first request of SES_WritePage of a page A1 00 ... 00 D4, or of SES_ReadPage of page 0x1A5
// (0xA5 asked for). The SEND of 9 bytes and the RECEIVEs of 4 and 296 are in the golden file.
struct LayoutCase { bool send; std::uint32_t length, total; const char *nonzero; };

const LayoutCase kLayouts[] = {
    {true, 4, 244, "1:02 7:f4 10:5331 56:08 79:1408 99:14 103:0401 128:08 147:18 151:24 153:3b "
                   "155:02 191:011d10 196:04 204:a1 207:d4"},
    {true, 266, 508, "1:02 6:01fc 10:5331 56:08 79:1408 99:14 102:010a01 128:08 146:011e 151:24 "
                     "153:3b 155:02 191:011d10 195:010a 204:a1 469:d4"},
    {true, 296, 536, "1:02 6:0218 10:5331 56:08 79:1408 99:14 102:012801 128:08 146:013c 151:24 "
                     "153:3b 155:02 191:011d10 195:0128 204:a1 499:d4"},
    {true, 512, 752, "1:02 6:02f0 10:5331 56:08 79:1408 99:14 102:02 104:01 128:08 146:0214 "
                     "151:24 153:3b 155:02 191:011d10 195:02 204:a1 715:d4"},
    // The CDB holds only the low 16 bits of the length, the descriptors all of it.
    {true, 0x10004, 0x100F4, "1:02 5:01 7:f4 10:5331 56:08 79:1408 99:14 101:01 103:0401 128:08 "
                             "145:01 147:18 151:24 153:3b 155:02 191:011d10 196:04 204:a1 "
                             "65743:d4"},
    {false, 9, 252, "1:02 7:fc 10:5331 56:08 79:1401 104:08 123:14 127:0908 147:1d 151:24 153:3b "
                    "155:02 191:011c01a5 196:09"},
    {false, 266, 508, "1:02 6:01fc 10:5331 56:08 79:1401 104:08 123:14 126:010a08 146:011e 151:24 "
                      "153:3b 155:02 191:011c01a5010a"},
    {false, 512, 752, "1:02 6:02f0 10:5331 56:08 79:1401 104:08 123:14 126:02 128:08 146:0214 "
                      "151:24 153:3b 155:02 191:011c01a502"},
};

TEST_F(SesTest, RequestMessagesByteForByte) {
  for (const LayoutCase &c : kLayouts) {
    SCOPED_TRACE(c.length);
    Fresh();
    Bytes page(c.length, 0), buffer(c.length, 0xEE);
    page.front() = 0xA1;
    page.back() = 0xD4;
    adapter.pages[0xA5] = page;
    ASSERT_EQ(c.send ? SES_WritePage("S1", c.length, page.data())
                     : SES_ReadPage("S1", 0x1A5, c.length, buffer.data()),
              SES_OK);
    EXPECT_EQ(adapter.requests.at(0).size(), c.total);
    EXPECT_EQ(NonZero(adapter.requests.at(0)), c.nonzero);
    EXPECT_EQ(buffer, c.send ? Bytes(c.length, 0xEE) : page);
  }
}

// The requests of a fixed set of operations against a golden file: the same file must pass on
// the development host and on the big-endian target, so no field may depend on the host's byte
// order or word size (the address field is masked).
TEST_F(SesTest, RequestBytesMatchTheGoldenFile) {
  const std::uint8_t stringOut[16] = {0x04, 0x00, 0x00, 0x0C, 0x69, 0x00, 0x00, 0x00, 0x10,
                                      0x00, 0x00, 0x00, 0xA1, 0xB2, 0xC3, 0xD4};
  std::uint8_t page[296], in[204], image[20];
  for (std::size_t i = 0; i < sizeof image; ++i) image[i] = static_cast<std::uint8_t>(0xF0 - i);

  ASSERT_EQ(SES_WritePage("SER-GOLDEN-0001", 16, stringOut), SES_OK);
  ASSERT_EQ(SES_ReadPage("SER-GOLDEN-0001", 0x101, 296, page), SES_OK);
  ASSERT_EQ(SES_ReadStringPage("SER-GOLDEN-0001", 16, stringOut, 204, in, 0), SES_OK);
  ASSERT_EQ(SES_DownloadFwTransfer("SER-GOLDEN-0001", 0x1234, image, sizeof image), SES_OK);
  ASSERT_EQ(SES_DownloadFwCommit("SER-GOLDEN-0001", 0x1234), SES_OK);

  std::string text;
  for (std::size_t i = 0; i < adapter.requests.size(); ++i) {
    Bytes bytes = adapter.requests[i];
    std::fill_n(bytes.begin() + 176, 4, 0);
    text += "# request " + std::to_string(i) + ", " + std::to_string(bytes.size()) + " bytes\n";
    text += Hex(bytes) + "\n";
  }
  // QEL_SES_WRITE_GOLDEN=1 rewrites the file (on the host) after a deliberate format change.
  const std::string path = QEL_SOURCE_DIR "/tests/ses/golden/requests.hex";
  const char *write = std::getenv("QEL_SES_WRITE_GOLDEN");
  if (write != nullptr && std::string(write) == "1") std::ofstream(path, std::ios::binary) << text;
  EXPECT_EQ(text, qeltest::ReadFile(path));
}

// Answers that fail the first request of a read (the page RECEIVE) with `rc`, after which the
// second attempt reads the page. `trace` leaves out the read's Trying lines and the RECEIVE's
// exit line, which carries `rc`.
struct AnswerCase { const char *name; Reply reply; std::int32_t rc; const char *trace; };

const AnswerCase kAnswers[] = {
    {"DirectiveIsSigned", Directive(0xFF), SES_RC_CI_FAILED,
     "qelses:160 Directive failed : -1\n"
     "qelses:178 SES_SendCIRequest: Exit, rc = 4101\n"},
    {"OnlyByte52Set", {.edit = [](Bytes &b) { b[52] = 0x80; }}, SES_RC_CI_FAILED,
     "qelses:164 Network result    : 0\n"
     "qelses:165 Application result: 0\n"
     "qelses:178 SES_SendCIRequest: Exit, rc = 4101\n"},
    {"ResultFieldSigns", {.edit = [](Bytes &b) { b[53] = 0xC8; b[54] = 0xFF; }}, SES_RC_CI_FAILED,
     "qelses:164 Network result    : 200\n"
     "qelses:165 Application result: -256\n"
     "qelses:178 SES_SendCIRequest: Exit, rc = 4101\n"},
    {"Busy", SendFails(EBUSY), SES_RC_BUSY,
     "qelses:173 SES_SendCIRequest: CI ERROR conRC = -1\n"
     "qelses:178 SES_SendCIRequest: Exit, rc = 4107\n"},
    {"OtherSendFailure", SendFails(EIO), SES_RC_CI_FAILED,
     "qelses:173 SES_SendCIRequest: CI ERROR conRC = -1\n"
     "qelses:178 SES_SendCIRequest: Exit, rc = 4101\n"},
    {"RequestStatusWithoutExitTrace", {.requestStatus = 5}, SES_RC_CI_FAILED,
     "qelses:147 SES_SendCIRequest: CI ERROR responseStatus = 5\n"},
    {"NegativeBodySize", {.reportedSize = -1}, SES_RC_CI_FAILED,
     "qelses:* SES_SendCIRequest: unusable answer body (size -1)\n"
     "qelses:178 SES_SendCIRequest: Exit, rc = 4101\n"},
    {"MissingBody", {.reportedSize = 244, .nullBody = true}, SES_RC_CI_FAILED,
     "qelses:* SES_SendCIRequest: unusable answer body (size 244)\n"
     "qelses:178 SES_SendCIRequest: Exit, rc = 4101\n"},
    // Were they kept, the FF bytes past the message would fail every check.
    {"BodyLongerThanTheMessage", {.edit = [](Bytes &b) { b.resize(b.size() + 4096, 0xFF); }},
     SES_OK,
     "qelses:* SES_SendCIRequest: answer body of 4340 bytes longer than the message, 244 kept\n"},
};

TEST_F(SesTest, AnswerChecks) {
  for (const AnswerCase &c : kAnswers) {
    SCOPED_TRACE(c.name);
    Fresh();
    adapter.pages[2] = {0x02, 0x00, 0x00, 0x10};
    adapter.responder = Fail(0, 1, c.reply);
    Bytes buffer(4, 0xEE);
    EXPECT_EQ(SES_ReadPage(kSerial, 2, 4, buffer.data()), SES_OK);
    EXPECT_EQ(buffer, adapter.pages[2]);
    EXPECT_EQ(Trace("qelses:(?!467 |336 )", c.trace), c.trace);
    const std::string exit = "qelses:336 SES_RecvDiagnosticResult: Exit rc = ";
    EXPECT_EQ(Trace("qelses:336 "), c.rc == SES_OK ? "" : exit + std::to_string(c.rc) + "\n");
  }
}

// Trying values and pauses (3,000,000 us in all) of the nine attempts a page operation makes.
const char *const kTrying[9] = {"0 0",           "25000 0",       "50000 25000",
                                "75000 100000",  "100000 250000", "125000 500000",
                                "150000 875000", "175000 1400000", "200000 2100000"};
const char *const kPauses[9] = {"usleep 0",      "usleep 25000",  "usleep 75000",
                                "usleep 150000", "usleep 250000", "usleep 375000",
                                "usleep 525000", "usleep 700000", "usleep 900000"};

struct RetryCase {
  const char *name;
  bool write;  // SES_WritePage of the page, else SES_ReadPage of it
  std::uint8_t shortStatus;
  Responder responder;
  std::int32_t rc;
  std::size_t attempts;
  bool delivered;  // the read's buffer holds the page
};

const RetryCase kRetries[] = {
    {"WriteFirstTry", true, 0, nullptr, SES_OK, 1, false},
    {"WriteShortStatusFive", true, 5, nullptr, SES_RC_ENCLOSURE_STATUS, 9, false},
    // A failed status read fails the attempt; busy is retried; the last attempt's code counts.
    {"WriteStatusReadFailsThenBusy", true, 0,
     [](std::size_t i, const Bytes &) {
       return i == 0 ? Reply{} : i == 1 ? Directive(3) : SendFails(EBUSY);
     },
     SES_RC_BUSY, 9, false},
    {"WriteThirdAttemptSucceeds", true, 0, Fail(0, 2, SendFails(EIO)), SES_OK, 3, false},
    {"ReadWhateverTheShortStatus", false, 7, nullptr, SES_OK, 1, true},
    {"ReadStatusKeepsFailing", false, 0,
     [](std::size_t, const Bytes &r) { return r[194] == 0x08 ? SendFails(EIO) : Reply{}; },
     SES_RC_CI_FAILED, 9, true},
    {"ReadPageKeepsFailing", false, 0, Fail(0, 99, Directive(1)), SES_RC_CI_FAILED, 9, false},
};

TEST_F(SesTest, PageRetry) {
  const Bytes page = {0x02, 0x00, 0x00, 0xDC, 0x11, 0x22};
  for (const RetryCase &c : kRetries) {
    SCOPED_TRACE(c.name);
    Fresh();
    adapter.shortEncStatus = c.shortStatus;
    adapter.responder = c.responder;
    adapter.pages[2] = page;
    Bytes buffer(6, 0xEE);
    EXPECT_EQ(c.write ? SES_WritePage(kSerial, 6, page.data())
                      : SES_ReadPage(kSerial, 2, 6, buffer.data()),
              c.rc);
    std::string want;
    for (std::size_t i = 0; i < c.attempts; ++i) {
      want += (c.write ? "qelses:386 SES_WritePage: Trying " : "qelses:467 SES_ReadPage: Trying ") +
              std::string(kTrying[i]) + "\n";
      if (c.shortStatus == 5) want += "qelses:409 SES_WritePage: ShortEnc Status = 5!!!!\n";
    }
    if (c.rc != SES_OK)
      want += std::string(c.write ? "qelses:417 SES_WritePage" : "qelses:498 SES_ReadPage") +
              ": Exit, rc = " + std::to_string(c.rc) + "\n";
    EXPECT_EQ(Trace("qelses:(386|409|417|467|498) "), want);
    EXPECT_EQ(sys.pauses, std::vector<std::string>(kPauses, kPauses + c.attempts));
    EXPECT_EQ(buffer, c.delivered ? page : Bytes(6, 0xEE));
  }
}

const std::uint8_t kOutPage[16] = {0x04, 0, 0, 12, 0x69, 0, 0, 0, 16};
std::uint8_t gInPage[64];

struct OpCase { std::string name; std::int32_t (*run)(const char *serial); const char *trace; };

const OpCase kOps[] = {
    {"SES_WritePage", [](const char *sn) { return SES_WritePage(sn, 16, kOutPage); },
     "qelses:375 SES_WritePage: Connection Failed (RC = -7)\n"},
    {"SES_ReadPage", [](const char *sn) { return SES_ReadPage(sn, 1, 64, gInPage); },
     "qelses:456 SES_WritePage: Connection Failed (RC = -7)\n"},
    {"SES_ReadStringPage",
     [](const char *sn) { return SES_ReadStringPage(sn, 16, kOutPage, 64, gInPage, 0); },
     "qelses:544 SES_WritePage: Connection Failed (RC = -7)\n"},
    {"SES_DownloadFwTransfer",
     [](const char *sn) { return SES_DownloadFwTransfer(sn, 3, kOutPage, 3); },
     "qelses:620 SES_DownloadFwTransfer: Entry SN:IRC0012345, Dev:3\n"
     "qelses:629 SES_WritePage: Connection Failed (RC = -7)\n"},
    {"SES_DownloadFwCommit", [](const char *sn) { return SES_DownloadFwCommit(sn, 3); },
     "qelses:744 SES_DownloadFwCommit: Entry SN:IRC0012345, Dev:3\n"
     "qelses:753 SES_WritePage: Connection Failed (RC = -7)\n"},
};

// Every operation opens the connection while it is not open; a failed open is tried again by
// the next operation, not by the retry loop. The exit handler closes only an open connection.
// Serial numbers over 37 characters are refused untried.
TEST_F(SesTest, ConnectionAndSerialNumber) {
  for (const OpCase &c : kOps) {
    SCOPED_TRACE(c.name);
    Fresh();
    adapter.openRc = -7;
    SES_CloseCIConnection();
    EXPECT_EQ(c.run(kSerial), SES_RC_OPEN_FAILED);
    SES_CloseCIConnection();
    EXPECT_EQ(Trace(), c.trace);
    EXPECT_EQ(adapter.log, "open");
    adapter.openRc = 0;
    c.run(kSerial);
    EXPECT_TRUE(adapter.log.starts_with("open open ")) << adapter.log;
    adapter.log.clear();
    EXPECT_NE(c.run(std::string(37, 'S').c_str()), SES_RC_SERIAL_TOO_LONG);
    const Bytes &last = adapter.requests.back();  // the field holds the serial and its NUL
    EXPECT_EQ(std::string(last.begin() + 10, last.begin() + 48), std::string(37, 'S') + '\0');
    SES_CloseCIConnection();
    EXPECT_TRUE(adapter.log.find("open") == std::string::npos && adapter.log.ends_with(" close"))
        << adapter.log;
    EXPECT_EQ(Trace("qelses:98 "), "qelses:98 SES_CloseCIConnection: Closing CI Connection\n");

    Fresh();
    EXPECT_EQ(c.run(std::string(38, 'X').c_str()), SES_RC_SERIAL_TOO_LONG);
    EXPECT_EQ(adapter.log, "");
    EXPECT_TRUE(sys.pauses.empty());
    const std::string refusal = "qelses:* " + c.name + ": Serial number missing or longer than 37 "
                                "characters, refused\n";
    EXPECT_EQ(Trace("qelses:\\d+ SES_\\w+: Serial", refusal), refusal);
  }
}

// One string exchange: send, pause, fetch page 4; failures give 4098 except a busy adapter.
struct StringCase {
  const char *name;
  Responder responder;
  std::uint32_t delayMs;
  std::int32_t rc;
  const char *log;
  const char *pause;
};

const StringCase kStrings[] = {
    {"Succeeds", nullptr, 7, SES_OK, "open S16 R04:10", "usleep 7000"},
    {"SendFailsStillPauses", Fail(0, 1, SendFails(EIO)), 25, SES_RC_STRING_PAGE, "open S16",
     "usleep 25000"},
    {"SendBusy", Fail(0, 1, SendFails(EBUSY)), 0, SES_RC_BUSY, "open S16", "usleep 0"},
    {"FetchBusy", Fail(1, 2, SendFails(EBUSY)), 0, SES_RC_BUSY, "open S16 R04:10", "usleep 0"},
    {"FetchFails", Fail(1, 2, Directive(2)), 0, SES_RC_STRING_PAGE, "open S16 R04:10", "usleep 0"},
};

TEST_F(SesTest, StringExchange) {
  const Bytes page = {0x04, 0x00, 0x00, 0x10, 0x69, 0x00, 0x00, 0x00, 0x10, 0xAB};
  for (const StringCase &c : kStrings) {
    SCOPED_TRACE(c.name);
    Fresh();
    adapter.responder = c.responder;
    adapter.pages[4] = page;
    Bytes in(10, 0xEE);
    EXPECT_EQ(SES_ReadStringPage(kSerial, 16, kOutPage, 10, in.data(), c.delayMs), c.rc);
    EXPECT_EQ(sys.pauses, std::vector<std::string>{c.pause});
    EXPECT_EQ(adapter.log, c.log);
    EXPECT_EQ(in, c.rc == SES_OK ? page : Bytes(10, 0xEE));
    const std::string exit = "qelses:574 SES_ReadStringPage: Exit, rc = " + std::to_string(c.rc);
    EXPECT_EQ(Trace("qelses:574 "), c.rc == SES_OK ? "" : exit + "\n");
  }
}

// A progress line of the firmware transfer.
std::string Progress(const char *rc, const char *sentOfTotal) {
  return std::string("qelses:699 SES_DownloadFwTransfer: SendDiag Data rc=") + rc +
         ", qelses:703 (Sent/Total): " + sentOfTotal + "\n";
}

// Device 0x112: its low byte, with the start flag 0x40 on the start page (nine bytes sent), then
// on each data page, whose image bytes follow its header.
struct TransferCase {
  const char *name;
  std::uint32_t imageLength;
  Responder responder;
  std::uint8_t shortStatus;
  std::int32_t rc;
  const char *log;
  std::vector<std::string> headers;  // first 9 bytes of each page sent
  std::string trace;                 // the transfer's own lines
};

const TransferCase kTransfers[] = {
    {"EmptyImage", 0, nullptr, 0, SES_OK, "open S9", {"04 00 00 05 3c 00 00 00 52"},
     "qelses:651 SES_DownloadFwTransfer: SendDiag Start rc = 0\n"
     "qelses:707 SES_DownloadFwTransfer: Exit, rc = 0\n"},
    {"OneByteOverAPage", 504, nullptr, 0, SES_OK, "open S9 S512 R08:4 S10 R08:4",
     {"04 00 00 05 3c 00 00 00 52", "04 00 01 fc 3c 00 00 00 12", "04 00 00 06 3c 00 00 00 12"},
     "qelses:651 SES_DownloadFwTransfer: SendDiag Start rc = 0\n" +
         Progress("0", "503 / 504 (99.801587%)") + Progress("0", "504 / 504 (100.000000%)") +
         "qelses:707 SES_DownloadFwTransfer: Exit, rc = 0\n"},
    {"TwoFullPages", 1006, nullptr, 0, SES_OK, "open S9 S512 R08:4 S512 R08:4",
     {"04 00 00 05 3c 00 00 00 52", "04 00 01 fc 3c 00 00 00 12", "04 00 01 fc 3c 00 00 00 12"},
     "qelses:651 SES_DownloadFwTransfer: SendDiag Start rc = 0\n" +
         Progress("0", "503 / 1006 (50.000000%)") + Progress("0", "1006 / 1006 (100.000000%)") +
         "qelses:707 SES_DownloadFwTransfer: Exit, rc = 0\n"},
    {"SecondDataPageFails", 1509, Fail(3, 4, SendFails(EIO)), 0, SES_RC_CI_FAILED,
     "open S9 S512 R08:4 S512",
     {"04 00 00 05 3c 00 00 00 52", "04 00 01 fc 3c 00 00 00 12", "04 00 01 fc 3c 00 00 00 12"},
     "qelses:651 SES_DownloadFwTransfer: SendDiag Start rc = 0\n" +
         Progress("0", "503 / 1509 (33.333333%)") + Progress("4101", "1006 / 1509 (66.666667%)") +
         "qelses:707 SES_DownloadFwTransfer: Exit, rc = 4101\n"},
    {"NonzeroShortStatus", 600, nullptr, 2, SES_RC_ENCLOSURE_STATUS, "open S9 S512 R08:4",
     {"04 00 00 05 3c 00 00 00 52", "04 00 01 fc 3c 00 00 00 12"},
     "qelses:651 SES_DownloadFwTransfer: SendDiag Start rc = 0\n"
     "qelses:693 SES_DownloadFwTransfer: ShortEnc Status = 2!!!!\n" +
         Progress("86", "503 / 600 (83.833333%)") +
         "qelses:707 SES_DownloadFwTransfer: Exit, rc = 86\n"},
    // No wait after a failed start page.
    {"StartPageFails", 10, Fail(0, 99, SendFails(EBUSY)), 0, SES_RC_BUSY, "open S9",
     {"04 00 00 05 3c 00 00 00 52"},
     "qelses:651 SES_DownloadFwTransfer: SendDiag Start rc = 4107\n"
     "qelses:707 SES_DownloadFwTransfer: Exit, rc = 4107\n"},
};

TEST_F(SesTest, FwTransfer) {
  for (const TransferCase &c : kTransfers) {
    SCOPED_TRACE(c.name);
    Fresh();
    adapter.responder = c.responder;
    adapter.shortEncStatus = c.shortStatus;
    Bytes image(c.imageLength);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 13 + 5);
    EXPECT_EQ(SES_DownloadFwTransfer(kSerial, 0x112, image.data(), c.imageLength), c.rc);
    EXPECT_EQ(adapter.log, c.log);
    std::vector<std::string> headers;
    auto next = image.begin();
    for (const Bytes &r : adapter.requests) {
      if (r[192] != 0x1D) continue;
      const auto data = r.begin() + 204, end = data + qel::load_be32(&r[100]);
      headers.push_back(Hex(Bytes(data, data + 9)));
      EXPECT_TRUE(std::equal(data + 9, end, next)) << headers.size();
      next += end - data - 9;
    }
    EXPECT_EQ(headers, c.headers);
    EXPECT_EQ(sys.pauses, std::vector<std::string>(c.rc == SES_RC_BUSY ? 0 : 1, "sleep 10"));
    EXPECT_EQ(Trace("qelses:(651|693|699|707) "), c.trace);
  }
}

// The commit page's bytes are in the golden file.
struct CommitCase {
  const char *name;
  Responder responder;
  std::uint8_t shortStatus;
  std::int32_t rc;
  const char *log;
  std::vector<std::string> pauses;
  const char *reads;  // the code of each status read, as traced
  const char *trace;  // the commit's other lines
};

const CommitCase kCommits[] = {
    {"ThirdStatusReadAnswers", Fail(1, 3, SendFails(EIO)), 0, SES_OK, "open S9 R08:4 R08:4 R08:4",
     {"sleep 20", "sleep 5"}, "4101 4101 0",
     "qelses:775 SES_DownloadFwCommit: SendDiag Commit rc = 0\n"
     "qelses:803 SES_DownloadFwCommit: Exit, rc = 0\n"},
    // The tenth status read is busy, the others fail otherwise: the last read's code counts.
    {"AllTenStatusReadsFail",
     [](std::size_t i, const Bytes &) {
       return i == 0 ? Reply{} : SendFails(i == 10 ? EBUSY : EIO);
     },
     0, SES_RC_BUSY, "open S9 R08:4 R08:4 R08:4 R08:4 R08:4 R08:4 R08:4 R08:4 R08:4 R08:4",
     {"sleep 20"}, "4101 4101 4101 4101 4101 4101 4101 4101 4101 4107",
     "qelses:775 SES_DownloadFwCommit: SendDiag Commit rc = 0\n"
     "qelses:803 SES_DownloadFwCommit: Exit, rc = 4107\n"},
    {"NonzeroShortStatus", nullptr, 9, SES_RC_ENCLOSURE_STATUS, "open S9 R08:4",
     {"sleep 20", "sleep 5"}, "0",
     "qelses:775 SES_DownloadFwCommit: SendDiag Commit rc = 0\n"
     "qelses:799 SES_DownloadFwCommit: ShortEnc Status = 9!!!!\n"
     "qelses:803 SES_DownloadFwCommit: Exit, rc = 86\n"},
    {"CommitPageFails", Fail(0, 99, SendFails(EIO)), 0, SES_RC_CI_FAILED, "open S9", {}, "",
     "qelses:775 SES_DownloadFwCommit: SendDiag Commit rc = 4101\n"
     "qelses:803 SES_DownloadFwCommit: Exit, rc = 4101\n"},
};

TEST_F(SesTest, FwCommit) {
  for (const CommitCase &c : kCommits) {
    SCOPED_TRACE(c.name);
    Fresh();
    adapter.responder = c.responder;
    adapter.shortEncStatus = c.shortStatus;
    EXPECT_EQ(SES_DownloadFwCommit(kSerial, 0x143), c.rc);
    EXPECT_EQ(adapter.log, c.log);
    EXPECT_EQ(sys.pauses, c.pauses);
    EXPECT_EQ(Trace("qelses:(775|799|803) "), c.trace);
    std::string reads;
    std::istringstream codes(c.reads);
    for (std::string rc; codes >> rc;)
      reads += "qelses:786 SES_DownloadFwCommit: RecvDiag ShortEncStatus rc = " + rc + "\n";
    EXPECT_EQ(Trace("qelses:786 "), reads);
  }
}

}  // namespace

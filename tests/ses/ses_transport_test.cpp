// The SES transport against a scripted stand-in for the command-interface client library, bound
// in place of libniciClient.so: the request bytes, how an answer is checked, the page retry loop,
// the connection and serial numbers, the string exchange and the firmware download.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <regex>
#include <sstream>

#include "byteorder.h"
#include "niciClient.h"
#include "qeldebug.h"
#include "qelses.h"
#include "testsupport.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using qeltest::Cat;

// A scripted answer: the send fails (-1) with sendErrno when that is set; else the request status
// and an edit of the answer body.
struct Reply { int sendErrno = 0; std::int32_t requestStatus = 0; std::function<void(Bytes &)> edit{}; };

// Keeps every request and answers request i (from 0) with script(i): the message echoed, with
// shortStatus in the answer to a RECEIVE of page 8. `log` reads "open S9 R08:4 close": a request
// as S<data length> or R<page>:<length>.
struct Adapter {
  std::int32_t openRc = 0;
  std::uint8_t shortStatus = 0;
  std::function<Reply(std::size_t)> script = [](std::size_t) { return Reply{}; };
  std::string log{};
  std::vector<Bytes> requests{};
  Bytes body{};  // the answer to the last request
} ci;

constexpr char kSerial[] = "IRC0012345";
std::string Hex(std::uint8_t b) { return {"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 15]}; }
std::string Repeat(const std::string &s, int n) { return n > 0 ? s + Repeat(s, n - 1) : ""; }
// Requests from..to-1 get `r`, the others succeed.
auto Fail(std::size_t from, std::size_t to, Reply r) { return [=](std::size_t i) { return i >= from && i < to ? r : Reply{}; }; }

// Runs `op` on the adapter `setup` with the connection closed: "calls | rc | pauses", then a line
// for each trace line it wrote whose text after "qelses:" starts with `keep`; one that `want` holds
// with "*" for its line number is given that way. Pauses return at once; the trace is a scratch file.
std::string Drive(Adapter setup, const std::function<std::int32_t()> &op, const std::string &keep, const std::string &want = "") {
  static qeltest::FakeSystem sys;
  static qeltest::ScratchDir dir("ses-trace");
  static const std::string trace = (QEL_DebugDir = dir.path().c_str(), QEL_OpenTraceFile("qelses_test"), DebugStreamName);
  ci = std::move(setup);
  isConnOpen = 0;
  sys.pauses.clear();
  const std::size_t start = qeltest::ReadFile(trace).size();
  std::string out = Cat(" | ", std::to_string(op()), " |");
  for (const std::string &p : sys.pauses) out += Cat(" ", p);
  std::istringstream lines(qeltest::ReadFile(trace).substr(start));
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with("qelses:") || !std::regex_match(line.substr(7), std::regex(Cat("(", keep, ").*")))) continue;
    const std::string any = Cat("*", line.substr(line.find(' ')));
    out += Cat("\n", want.find(any) != std::string::npos ? any : line.substr(7));
  }
  return ci.log + out;
}

// Nonzero bytes from..to-1 as runs "offset:hex", offsets in decimal from `from`.
std::string NonZero(const Bytes &m, std::size_t from, std::size_t to) {
  std::string s;
  for (std::size_t i = from; i < to; ++i) {
    if (m[i] != 0) s += Cat(i == from || m[i - 1] == 0 ? Cat(" ", std::to_string(i - from), ":") : "", Hex(m[i]));
  }
  return s.substr(1);
}

// A StringOut page that asks for the VPD of device 16, the buffer (64 bytes) operations read into,
// and the firmware image.
const std::uint8_t out[16] = {0x04, 0, 0, 12, 0x69, 0, 0, 0, 16};
std::uint8_t in[64];
Bytes image(1509);

struct Row { const char *name; Adapter setup; std::function<std::int32_t()> op; std::string want; };

// Drives each row and compares what it did; after the trace lines come the first nine bytes of each
// StringOut page sent. Firmware data pages must carry the image in order.
void Check(const std::vector<Row> &rows, const std::string &keep) {
  for (const Row &c : rows) {
    SCOPED_TRACE(c.name);
    std::string got = Drive(c.setup, c.op, keep, c.want);
    Bytes sent;
    for (const Bytes &r : ci.requests) {
      if (r[192] == 0x1D && r[204] == 0x04) got += Cat("\n", NonZero(r, 204, 213));
      if (r[192] == 0x1D && r[212] == 0x12) sent.insert(sent.end(), r.begin() + 213, r.begin() + 204 + qel::load_be32(&r[100]));
    }
    EXPECT_EQ(got, c.want);
    EXPECT_TRUE(std::equal(sent.begin(), sent.end(), image.begin()));
  }
}

// The first request of SES_WritePage of a page A1 00 ... 00 D4, or of SES_ReadPage of page 0x1A5,
// for an empty serial number. The address field (176 to 179) holds the sender's memory address and
// is left out: the same bytes on every host.
TEST(SesTest, RequestMessagesByteForByte) {
  const struct { bool send; std::uint32_t length; const char *nonzero; } cases[] = {
      {true, 4, "1:02 7:f4 56:08 79:1408 99:14 103:0401 128:08 147:18 151:24 153:3b 155:02 191:011d10 196:04 204:a1 207:d4"},
      // The CDB holds only the low 16 bits of the length, the descriptors all of it.
      {true, 0x10004, "1:02 5:01 7:f4 56:08 79:1408 99:14 101:01 103:0401 128:08 145:01 147:18 151:24 153:3b 155:02 "
                      "191:011d10 196:04 204:a1 65743:d4"},
      {false, 266, "1:02 6:01fc 56:08 79:1401 104:08 123:14 126:010a08 146:011e 151:24 153:3b 155:02 191:011c01a5010a"},
  };
  for (const auto &[send, length, nonzero] : cases) {
    SCOPED_TRACE(length);
    Bytes page(length), buf(length, 0xEE);
    page.front() = 0xA1;
    page.back() = 0xD4;
    const auto op = [&] { return send ? SES_WritePage("", length, page.data()) : SES_ReadPage("", 0x1A5, length, buf.data()); };
    Drive({.script = Fail(0, 1, {.edit = [&](Bytes &b) { std::copy(page.begin(), page.end(), b.begin() + 204); }})}, op, "");
    Bytes &m = ci.requests.at(0);
    std::fill_n(m.begin() + 176, 4, 0);
    EXPECT_EQ(NonZero(m, 0, m.size()), nonzero);
    EXPECT_EQ(buf, send ? Bytes(length, 0xEE) : page);
  }
}

// Answers that fail the first request of a read (the page RECEIVE), which the second attempt then
// reads, with the read's Trying lines left out. Then the nine attempts of a page operation: Trying
// step and total so far, then the pause, 25000 us times 0, 1, 3, 6, ... (3,000,000 us in all); the
// last attempt's code counts, and a failed status read fails the attempt.
TEST(SesTest, AnswerChecksAndPageRetry) {
  const auto exit = [](auto rc) { return Cat("\n178 SES_SendCIRequest: Exit, rc = ", rc,
                                             "\n336 SES_RecvDiagnosticResult: Exit rc = ", rc); };
  const auto edit = [](std::function<void(Bytes &)> e) { return Adapter{.script = Fail(0, 1, {.edit = std::move(e)})}; };
  const auto read = [] { return SES_ReadPage(kSerial, 2, 4, in); };
  const std::string retried = "open R02:4 R02:4 R08:4 | 0 | usleep 0 usleep 25000\n";
  Check({{"DirectiveIsSigned", edit([](Bytes &b) { b[48] = 0xFF; }), read, retried + "160 Directive failed : -1" + exit("4101")},
         {"OnlyByte52Set", edit([](Bytes &b) { b[52] = 0x80; }), read,
          retried + "164 Network result    : 0\n165 Application result: 0" + exit("4101")},
         {"ResultFieldSigns", edit([](Bytes &b) { b[53] = 0xC8; b[54] = 0xFF; }), read,
          retried + "164 Network result    : 200\n165 Application result: -256" + exit("4101")},
         {"SendFails", {.script = Fail(0, 1, {.sendErrno = EIO})}, read,
          retried + "173 SES_SendCIRequest: CI ERROR conRC = -1" + exit("4101")},
         {"RequestStatusWithoutExitTrace", {.script = Fail(0, 1, {.requestStatus = 5})}, read,
          retried + "147 SES_SendCIRequest: CI ERROR responseStatus = 5\n336 SES_RecvDiagnosticResult: Exit rc = 4101"},
         // Were they kept, the FF bytes past the message would fail every check.
         {"BodyLongerThanTheMessage", edit([](Bytes &b) { b.resize(b.size() + 4096, 0xFF); }), read,
          "open R02:4 R08:4 | 0 | usleep 0\n* SES_SendCIRequest: answer body of 4340 bytes longer than the message, 244 kept"}},
        "(?!467 )");
  const auto nine = [](bool write) {  // the nine attempts of a write or a read, all failed
    const std::string op = write ? "SES_WritePage" : "SES_ReadPage";
    std::string want = Cat("open", Repeat(write ? " S6 R08:4" : " R02:6 R08:4", 9), " | 4101 |"), trace;
    for (std::int32_t i = 0, total = 0; i < 9; total += 12500 * i * (i + 1), ++i) {
      want += Cat(" usleep ", std::to_string(12500 * i * (i + 1)));
      trace += Cat(write ? "\n386 " : "\n467 ", op, ": Trying ", std::to_string(25000 * i), " ", std::to_string(total));
    }
    return Cat(want, trace, write ? "\n417 " : "\n498 ", op, ": Exit, rc = 4101");
  };
  // The sends succeed, so no 255 (a send's exit) line appears.
  const Adapter failing{.script = [](std::size_t i) { return Reply{.sendErrno = i == 1 ? EBUSY : i % 2 ? EIO : 0}; }};
  Check({{"Write", failing, [] { return SES_WritePage(kSerial, 6, in); }, nine(true)},
         {"Read", failing, [] { return SES_ReadPage(kSerial, 2, 6, in); }, nine(false)}}, "(255|386|417|467|498) ");
}

// Each operation opens the connection while it is not open: after a failed open (-7) the next call
// opens; the exit handler closes only an open connection. The request's field holds a 37-character
// serial number and its NUL; a longer one is refused untried.
TEST(SesTest, ConnectionAndSerialNumber) {
  const struct { std::string name; std::int32_t (*run)(const char *); const char *calls, *wait; } cases[] = {
      {"SES_WritePage", [](auto sn) { return SES_WritePage(sn, 16, out); }, "S16 R08:4", "usleep 0\n375"},
      {"SES_ReadPage", [](auto sn) { return SES_ReadPage(sn, 1, 64, in); }, "R01:64 R08:4", "usleep 0\n456"},
      {"SES_ReadStringPage", [](auto sn) { return SES_ReadStringPage(sn, 16, out, 64, in, 0); }, "S16 R04:64", "usleep 0\n544"},
      {"SES_DownloadFwTransfer", [](auto sn) { return SES_DownloadFwTransfer(sn, 3, out, 3); }, "S9 S12 R08:4", "sleep 10\n629"},
      {"SES_DownloadFwCommit", [](auto sn) { return SES_DownloadFwCommit(sn, 3); }, "S9 R08:4", "sleep 20 sleep 5\n753"},
  };
  const std::string fits(37, 'S'), tooLong(38, 'X');
  for (const auto &c : cases) {
    const std::string want = Cat("open open ", c.calls, " close | 4097 | ", c.wait, " SES_WritePage: Connection Failed (RC = -7)",
                                 "\n98 SES_CloseCIConnection: Closing CI Connection\n* ", c.name,
                                 ": Serial number missing or longer than 37 characters, refused");
    EXPECT_EQ(Drive({.openRc = -7}, [&] {
      SES_CloseCIConnection();
      const std::int32_t rc = c.run(kSerial);
      ci.openRc = 0;
      EXPECT_EQ(c.run(fits.c_str()), SES_OK);
      SES_CloseCIConnection();
      EXPECT_EQ(c.run(tooLong.c_str()), SES_RC_SERIAL_TOO_LONG);  // the connection is still taken as open
      return rc;
    }, "(98|375|456|544|629|753|\\d+ SES_\\w+: Serial) ", want), want);
    EXPECT_EQ(std::string(ci.requests.back().begin() + 10, ci.requests.back().begin() + 48), fits + '\0');
  }
}

// The string exchange: send, pause, fetch page 4, failures 4098. The firmware download of device
// 0x112: a start page of nine bytes (its low byte with the flag 0x40), then pages of its low byte and
// the image; the commit of device 0x143 (flag 0x80), then up to ten status reads.
TEST(SesTest, StringExchangeAndFirmware) {
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 13 + 5);
  const auto exchange = [](unsigned ms) { return [ms] { return SES_ReadStringPage(kSerial, 16, out, 8, in, ms); }; };
  const auto transfer = [](std::uint32_t n) { return [n] { return SES_DownloadFwTransfer(kSerial, 0x112, image.data(), n); }; };
  const auto commit = [] { return SES_DownloadFwCommit(kSerial, 0x143); };
  const auto data = [](auto rc, auto n) {  // a progress line: the code, then sent / total
    return Cat("\n699 SES_DownloadFwTransfer: SendDiag Data rc=", rc, ", qelses:703 (Sent/Total): ", n); };
  const std::string start = "\n651 SES_DownloadFwTransfer: SendDiag Start rc = ", end = "\n707 SES_DownloadFwTransfer: Exit, rc = ";
  const std::string sent = "\n775 SES_DownloadFwCommit: SendDiag Commit rc = ", done = "\n803 SES_DownloadFwCommit: Exit, rc = ";
  const std::string status = "\n786 SES_DownloadFwCommit: RecvDiag ShortEncStatus rc = ";
  const std::string startPage = "\n0:04 3:053c 8:52", fullPage = "\n0:04 2:01fc3c 8:12", commitPage = "\n0:04 3:053c 8:c3";
  Check({{"StringSucceeds", {}, exchange(7), "open S16 R04:8 | 0 | usleep 7000\n0:04 3:0c69 8:10"},
         {"StringSendFailsStillPauses", {.script = Fail(0, 1, {.sendErrno = EIO})}, exchange(25),
          "open S16 | 4098 | usleep 25000\n574 SES_ReadStringPage: Exit, rc = 4098\n0:04 3:0c69 8:10"},
         {"OneByteOverAPage", {}, transfer(504), "open S9 S512 R08:4 S10 R08:4 | 0 | sleep 10" + start + "0" +
          data("0", "503 / 504 (99.801587%)") + data("0", "504 / 504 (100.000000%)") + end + "0" + startPage + fullPage +
          "\n0:04 3:063c 8:12"},
         {"TransferShortStatus", {.shortStatus = 2}, transfer(600), "open S9 S512 R08:4 | 86 | sleep 10" + start +
          "0\n693 SES_DownloadFwTransfer: ShortEnc Status = 2!!!!" + data("86", "503 / 600 (83.833333%)") + end + "86" +
          startPage + fullPage},
         // No wait after a failed start page.
         {"StartPageFails", {.script = Fail(0, 99, {.sendErrno = EBUSY})}, transfer(10),
          "open S9 | 4107 |" + start + "4107" + end + "4107" + startPage},
         // The tenth status read is busy, the others fail otherwise: the last read's code counts.
         {"AllTenStatusReadsFail", {.script = [](std::size_t i) { return Reply{.sendErrno = i == 10 ? EBUSY : i ? EIO : 0}; }},
          commit, "open S9" + Repeat(" R08:4", 10) + " | 4107 | sleep 20" + sent + "0" + Repeat(status + "4101", 9) + status +
          "4107" + done + "4107" + commitPage},
         {"CommitShortStatus", {.shortStatus = 9}, commit, "open S9 R08:4 | 86 | sleep 20 sleep 5" + sent + "0" +
          status + "0\n799 SES_DownloadFwCommit: ShortEnc Status = 9!!!!" + done + "86" + commitPage},
         {"CommitPageFails", {.script = Fail(0, 99, {.sendErrno = EIO})}, commit,
          "open S9 | 4101 |" + sent + "4101" + done + "4101" + commitPage}},
        "(574|651|693|699|707|775|786|799|803) ");
}

}  // namespace

// The options, the result area, the response block's buffer address and the order of the calls are
// checked by the simulated adapter's library, which every process run of the utility goes through.
extern "C" {
int32_t niCIOpen(void) { return ci.log += ci.log.empty() ? "open" : " open", ci.openRc; }
int32_t niCISetOptions(void *, int32_t, int32_t) { return 0; }
int32_t niCIClose(void) { return ci.log += " close", 0; }
int32_t niCIBGetRequestStatus(void *) { return ci.script(ci.requests.size() - 1).requestStatus; }
int32_t niCIBGetRequestSize(void *) { return static_cast<int32_t>(ci.body.size()); }
void *niCIBGetRequest(void *) { return ci.body.data(); }

int32_t niCISendSyncRequest(void *request, uint32_t length, void *, void *, void *) {
  const auto *req = static_cast<const std::uint8_t *>(request);
  const Bytes &r = ci.requests.emplace_back(req, req + length);
  const bool send = r.at(192) == 0x1D;
  const std::uint32_t dataLength = qel::load_be32(&r[send ? 100 : 124]);
  ci.log += Cat(send ? " S" : Cat(" R", Hex(r[194]), ":"), std::to_string(dataLength));
  // The command block's address as the adapter's 32-bit sender sees it.
  EXPECT_EQ(qel::load_be32(&r[176]), static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(req + 184)));
  const Reply reply = ci.script(ci.requests.size() - 1);
  if ((errno = reply.sendErrno) != 0) return -1;
  ci.body = r;
  if (r[194] == 8) ci.body[205] = ci.shortStatus;
  if (reply.edit) reply.edit(ci.body);
  return 0;
}
}  // extern "C"

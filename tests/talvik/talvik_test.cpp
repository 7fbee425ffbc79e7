// Page library tests against a scripted SES transport: this program defines every transport
// function the library calls, so the linker never takes the real transport's object out of
// libqelses and no adapter or simulator is needed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "qeldebug_internal.h"
#include "talvik.h"
#include "testsupport.h"

namespace {
using Bytes = std::vector<std::uint8_t>;
using Strings = std::vector<std::string>;
// One scripted answer: the code the call returns and the bytes it stores (at most the length).
using Answer = std::pair<std::int32_t, Bytes>;

// One transport call: 'S' ReadStringPage, 'R' ReadPage or 'W' WritePage; the request or the page
// written; the page code read (for a string page the fetch delay asked for, always 0); the
// answer length. Every test uses serial "SN1", which the transport checks.
using Call = std::tuple<char, Bytes, std::uint32_t, std::uint32_t>;

std::vector<Answer> script;  // taken in order; an unscripted call fails the test
std::vector<Call> calls;

std::int32_t Serve(Call call, const char *serial, std::uint8_t *buffer) {
  EXPECT_STREQ(serial, "SN1");
  calls.push_back(std::move(call));
  if (script.empty()) { ADD_FAILURE() << "unscripted transport call"; return SES_RC_CI_FAILED; }
  const auto [rc, bytes] = script.front();
  script.erase(script.begin());
  if (buffer != nullptr) std::copy_n(bytes.begin(), std::min<std::size_t>(bytes.size(), std::get<3>(calls.back())), buffer);
  return rc;
}
}  // namespace

std::int32_t SES_ReadStringPage(const char *serial, std::uint32_t outLength, const std::uint8_t *outPage,
                                std::uint32_t inLength, std::uint8_t *inBuffer, std::uint32_t delayMs) {
  return Serve({'S', {outPage, outPage + outLength}, delayMs, inLength}, serial, inBuffer);
}

std::int32_t SES_ReadPage(const char *serial, std::uint32_t pageCode, std::uint32_t length, std::uint8_t *buffer) {
  return Serve({'R', {}, pageCode, length}, serial, buffer);
}

std::int32_t SES_WritePage(const char *serial, std::uint32_t length, const std::uint8_t *page) {
  return Serve({'W', {page, page + length}, 0, 0}, serial, nullptr);
}

namespace {
// A page of n bytes, zero except for the given leading bytes.
Bytes Page(std::size_t n, std::initializer_list<std::uint8_t> head) {
  Bytes p(n, 0);
  std::copy(head.begin(), head.end(), p.begin());
  return p;
}

// Each case starts with its answers, no calls or pauses yet and an empty trace held in memory.
class TalvikTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (QEL_DebugStream != nullptr) std::fclose(std::exchange(QEL_DebugStream, nullptr));
    std::free(std::exchange(text_, nullptr));
  }
  // Starts a case: the answers to give, one letter each looked up in legend (blanks ignored), no
  // calls or pauses yet, an empty trace. Then runs op and checks its result, the pauses taken in
  // microseconds and, when each is given, that every transport call was that one.
  void Run(const std::string &letters, const std::map<char, Answer> &legend, const std::function<std::int32_t()> &op,
           std::int32_t rc, std::uint64_t paused, const Call &each = {}) {
    TearDown();
    for (const char l : letters) if (l != ' ') script.push_back(legend.at(l));
    calls.clear();
    sys_.pauses.clear();
    QEL_DebugStream = open_memstream(&text_, &size_);
    EXPECT_EQ(op(), rc);
    EXPECT_TRUE(script.empty()) << "scripted answers left over";
    EXPECT_EQ(sys_.totalMicros(), paused);
    if (std::get<0>(each) != 0) { EXPECT_EQ(calls, std::vector<Call>(calls.size(), each)); }
  }
  // This case's trace lines as "line message": page dumps only when asked for, and without the
  // line when unnumbered (trace points at __LINE__ move with the code).
  Strings Trace(bool dumps = false, bool numbered = true) {
    std::fflush(QEL_DebugStream);  // sets the text even when nothing was written
    std::istringstream in(std::string(text_, size_));
    Strings out;
    for (std::string l; std::getline(in, l);) {
      const bool dump = l.starts_with("talvik:2275 ") || l.starts_with("talvik:2410 ");
      if (l.starts_with("talvik:") && (dumps || !dump)) out.push_back(l.substr(numbered ? 7 : l.find(' ') + 1));
    }
    return out;
  }
  // The source lines of Trace(), blank-separated: which trace points ran, in order.
  std::string Shape() {
    std::string out;
    for (const std::string &l : Trace()) out += qeltest::Cat(out.empty() ? "" : " ", l.substr(0, l.find(' ')));
    return out;
  }

  qeltest::FakeSystem sys_;
  char *text_ = nullptr;
  std::size_t size_ = 0;
};

// ---- Standard pages, element control, identification, page dump ----------------------------
TEST(ElementInit, SetsControlBitsFromStatus) {
  // Elements as 0xB0B1B2B3, byte 0 first. Device: S 3.3 needs S 2.7, or neither S 3.1 nor S 2.5;
  // S 3.2 needs S 3.7, or neither S 3.0 nor S 2.4. The all-set rows show that no initialiser sets
  // control bit 0.7 (select); bits are only ever added; the display copies its byte 3.
  const struct { void (*init)(std::uint8_t *, const std::uint8_t *); std::uint32_t status, before, after; } cases[] = {
      {TK_InitPowrSuppCtl, ~0u, 0, 0x00877040}, {TK_InitPowrSuppCtl, 0x00004000, 0x80080102, 0x80084102},
      {TK_InitDevCtl, 0x0000000A, 0, 0}, {TK_InitDevCtl, 0x0000800A, 0, 0x00000008}, {TK_InitDevCtl, 0x0000000C, 0, 0x0000000C},
      {TK_InitDevCtl, 0x0000300C, 0, 0}, {TK_InitDevCtl, 0x00001085, 0, 0x00000004}, {TK_InitDevCtl, ~0u, 0, 0x40000E2C},
      {TK_InitEncServCtl, ~0u, 0, 0x00800030}, {TK_InitEncServCtl, 0x0080003C, 0, 0x0080003C},
      {TK_InitSCSIPortCtl, ~0u, 0, 0x00000010}, {TK_InitCoolCtl, 0x00800000, 0, 0x00000200}, {TK_InitCoolCtl, ~0u, 0, 0x00000240},
      {TK_InitDispCtl, ~0u, 0, 0x00F03FFF}, {TK_InitDispCtl, 0x00000801, 0x000000FF, 0x00000801}};
  const auto bytes = [](std::uint32_t v) { Bytes b; for (int s : {24, 16, 8, 0}) b.push_back(std::uint8_t(v >> s)); return b; };
  for (const auto &c : cases) {
    auto control = bytes(c.before);
    c.init(control.data(), bytes(c.status).data());
    EXPECT_EQ(control, bytes(c.after)) << "case " << &c - cases;
  }
}

// A configuration page with the product id (bytes 28..35), the level and type code of the two
// firmware records and a third level where a record 3 would be; empty texts leave bytes zero.
Bytes ConfigPage(const char *product, const char *levelA, const char *typeA, const char *levelB, const char *typeB) {
  Bytes p = Page(kConfigPageSize, {1});
  for (const auto &[at, text] : {std::pair<std::size_t, const char *>{28, product}, {68, levelA}, {90, typeA}, {100, levelB},
                                 {122, typeB}, {132, "0333"}, {36, "0036"}}) std::memcpy(p.data() + at, text, std::strlen(text));
  return p;
}

// (A status read meeting five wrong pages is pinned by the utility's runs against the simulated
// adapter in tests/hardening/runs_test.cpp, as are the control page's effect and result.)
TEST_F(TalvikTest, ConfigurationAndStatusPagesIrcDecisionAndFirmwareLevel) {
  // S status page, C configuration page, T transport failure. Each wrong page costs a pause;
  // shape: the trace's source lines.
  const std::map<char, Answer> legend{
      {'S', {0, Page(kConfigPageSize, {2})}}, {'C', {0, Page(kConfigPageSize, {1})}}, {'T', {SES_RC_BUSY, {}}}};
  const struct { bool status; const char *script; std::int32_t rc; std::uint64_t paused; const char *shape; } reads[] = {
      {true, "T", SES_RC_BUSY, 0, "290 301 303"}, {false, "SC", 0, 400000, "228 239 241 251 239 241"}};
  for (const auto &c : reads) {
    SCOPED_TRACE(c.script);
    Bytes buffer(kConfigPageSize, 0xEE);
    Run(c.script, legend, [&] { return (c.status ? TK_ReadStatusPage : TK_ReadConfigPage)("SN1", buffer.data()); }, c.rc,
        c.paused, {'R', {}, c.status ? 2u : 1u, c.status ? 224u : 296u});
    EXPECT_EQ(buffer[1], 0);  // zeroed before each read
    EXPECT_EQ(Shape(), c.shape);
  }
  // The control page goes out whole and unchanged, dumped on the way (a header and 14 rows).
  const Bytes page = Page(kStatusPageSize, {7, 8, 9});
  Run("F", {{'F', {86, {}}}}, [&] { return TK_WriteControlPage("SN1", page.data()); }, 86, 0, {'W', page, 0, 0});
  EXPECT_EQ(Shape(), "351 353 360");
  EXPECT_EQ(Trace(true).size(), 3u + 1 + 14);
  // Type codes count above level 0299 only; the product id decides when no record is that recent.
  // product id, then level and type code of records A and B; a failed read clears the flag.
  const struct { std::int32_t rc; const char *id, *levelA, *typeA, *levelB, *typeB; std::uint32_t irc; } cases[] = {
      {0, "", "0300", "000C", "", "", 1}, {0, "5284xx11", "0300", "0007", "0250", "", 0}, {0, "", "0250", "", "0300", "000A", 1},
      {0, "", "0299", "000C", "0299", "000C", 0}, {0, "5284xx11", "0299", "", "0299", "", 1},
      {0, "5284xx12", "0299", "", "0299", "", 0}, {0, "5285xx11", "    ", "000C", "    ", "", 0},
      {SES_RC_OPEN_FAILED, "", "", "", "", "", 0}};
  for (const auto &c : cases) {
    SCOPED_TRACE(&c - cases);
    std::uint32_t flag = 7;
    Run("A", {{'A', {c.rc, ConfigPage(c.id, c.levelA, c.typeA, c.levelB, c.typeB)}}},
        [&] { return TK_IsEnclosureIRC("SN1", &flag); }, c.rc, 0, {'R', {}, 1, 296});
    EXPECT_EQ(flag, c.irc);
    EXPECT_EQ(Trace(), (Strings{"2520 TK_IsEnclosureIRC: SN=SN1", "2529 <--- Config Page read --->"}));
  }
  // Record 2's level " 12a" reads as 12; selectors 3 and 0 find no record.
  const struct { std::int32_t rc; std::uint32_t selector; std::int32_t level; const char *levelText; } levels[] = {
      {0, 1, 312, "0312"}, {0, 2, 12, "0012"}, {0, 3, 0, "0000"}, {0, 0, 0, "0000"}, {4101, 1, 0, "0000"}};
  for (const auto &c : levels) {
    Run("A", {{'A', {c.rc, ConfigPage("", "0312", "", " 12a", "")}}},
        [&] { return static_cast<std::int32_t>(TK_GetFWLevel("SN1", c.selector)); }, c.level, 0);
    EXPECT_EQ(Shape(), "2446 2455 2457 2475");
    EXPECT_EQ(Trace().back(), qeltest::Cat("2475 TK_GetFWLevel: FWLevel = ", c.levelText));
  }
  // The type-code test: a prefix of any of the first count entries.
  const char *const set[] = {"0008", "000C", "0009"};
  for (const auto &[text, count, found] : {std::tuple<const char *, std::int32_t, int>{"000C", 3, 1}, {"000Cxyz", 3, 1},
           {"0009", 3, 1}, {"0007", 3, 0}, {"000", 3, 0}, {"0009", 2, 0}, {"0008", -1, 0}}) {
    EXPECT_EQ(StrInSet(text, set, count), found) << text << " " << count;
  }
}

TEST(OutputData, DumpLayout) {
  // Without a ninth byte two blanks stand for the separator; a short last line keeps its
  // apostrophe in the column of full lines; offsets from 1000 take four digits. On standard
  // output a blank line ends each dump (rows go to the trace instead when asked).
  const std::string twenty("ABCDEFGHIJKLMNOP\0\x7f\x1f ", 20), many(1010, 'Z');
  testing::internal::CaptureStdout();
  for (const std::string &d : {std::string("ABCDEFGH"), twenty, many, std::string()}) {
    OutputData(reinterpret_cast<const std::uint8_t *>(d.data()), static_cast<std::uint32_t>(d.size()), 0);
  }
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(out.starts_with("000: 41 42 43 44 45 46 47 48                             'ABCDEFGH'\n\n"
                              "000: 41 42 43 44 45 46 47 48 - 49 4a 4b 4c 4d 4e 4f 50   'ABCDEFGHIJKLMNOP'\n"
                              "016: 00 7f 1f 20                                         '... '\n\n000: 5a")) << out;
  EXPECT_TRUE(out.ends_with("992: 5a 5a 5a 5a 5a 5a 5a 5a - 5a 5a 5a 5a 5a 5a 5a 5a   'ZZZZZZZZZZZZZZZZ'\n"
                            "1008: 5a 5a                                               'ZZ'\n\n\n")) << out;
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 2 + 3 + 65 + 1);
}

// ---- VPD images ------------------------------------------------------------------------------
// The all-zero RDP (512 bytes) or IC (268 bytes) image with its length field and checksum, and
// one byte set (by default byte 0 to the 4 it holds).
Bytes Image(bool rdp, std::size_t at = 0, std::uint8_t value = 4) {
  Bytes p = rdp ? Page(kRdpVpdImageSize, {4, 0, 0x01, 0xFC, 0x69, 0, 0, 0, 16, 0, 0, 0, 0x01, 0xF1})
                : Page(kIcVpdImageSize, {4, 0, 0, 0, 0x69, 0, 0, 0, 5, 0, 0, 0, 0x00, 0xFD});
  p.back() = rdp ? 0xF0 : 0xFD;
  p[at] = value;
  return p;
}

TEST_F(TalvikTest, VpdReadsRetryThenVerifyAndAWriteSendsItsPage) {
  // T transport failure, S status 3, F function code 0x5A, G good RDP image (byte 11 is not part
  // of the record), I good IC image, 6 the IC image of device 6; L and C IC images with a wrong
  // length or checksum, reported alone (the wrong length row's checksum is wrong too).
  const std::map<char, Answer> legend{
      {'T', {SES_RC_CI_FAILED, {}}}, {'S', {0, Image(true, 5, 3)}}, {'F', {0, Image(true, 4, 0x5A)}},
      {'G', {0, Image(true, 11, 0x77)}}, {'I', {0, Image(false)}}, {'6', {0, Image(false, 8, 6)}},
      {'L', {0, Image(false, 12, 0x01)}}, {'C', {0, Image(false, 266, 0x10)}}};
  // shape: the trace's source lines (the wrong-page detail lines follow their line).
  const struct { std::uint8_t device; const char *script; std::int32_t rc; const char *shape; } cases[] = {
      {16, "TSFG", 0, "727 737 750 792 750 762 750 781 782 783 784 750 171 205 801"},
      {5, "TS6I", 0, "629 639 652 694 652 664 652 683 684 685 686 652 113 149 703"},
      {5, "L", 4098, "629 639 652 113 122 149 703"}, {5, "C", 4098, "629 639 652 113 141 149 703"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.script);
    const bool rdp = c.device == 16;
    Bytes image(rdp ? kRdpVpdImageSize : kIcVpdImageSize);
    Run(c.script, legend, [&] { return rdp ? TK_ReadRDPVpd("SN1", image.data()) : TK_ReadICVpd("SN1", 5, image.data()); },
        c.rc, c.rc == 0 ? 2 * 25000 + 50000 : 0, {'S', {4, 0, 0, 4, 0x69, 0, 0, 0, c.device, 0, 0, 0}, 0, rdp ? 512u : 268u});
    EXPECT_EQ(Shape(), c.shape);
  }
  // 261 goes out as its low byte 5; an answer echoing 5 is still the wrong device.
  Run("IIIIIIIIII", legend, [] { return TK_ReadICVpd("SN1", 261, Bytes(kIcVpdImageSize).data()); }, 86, 10 * 50000);
  EXPECT_EQ(std::get<1>(calls.at(0)).at(8), 5);
  // The RDP VPD (device 16) is written whole; any other device gets a 268-byte page carrying
  // the first 256 record bytes, though the dump shows all 512.
  Bytes record(256), page = Page(12, {4, 0, 0x01, 0x08, 0x5A, 0, 0, 0, 2, 7});
  for (std::size_t i = 0; i < record.size(); ++i) record[i] = std::uint8_t(i + 2);  // the last byte is not zero
  page.insert(page.end(), record.begin(), record.end());
  Run("A", {{'A', {86, {}}}}, [&] { return TK_WriteVpd("SN1", 2, 7, record.data()); }, 86, 0, {'W', page, 0, 0});
  EXPECT_EQ(Shape(), "572 591 598");
  EXPECT_EQ(Trace(true).at(2), "2275 Output Data, Size = 512");
}

// ---- Controller memory, diagnostic read pages, debug command, command pages -------------------
// A good answer for device 9: header bytes the read must neither test nor copy are set too,
// and the data from offset 10 differ per chunk n.
Answer Chunk(int n, std::uint8_t device = 9) {
  Bytes p = Page(266, {4, 0xA1, 0xA2, 0xA3, 0x4B, 0, 0xA6, 0xA7, device, 0xA9});
  for (std::size_t i = 10; i < p.size(); ++i) p[i] = static_cast<std::uint8_t>(n * 31 + static_cast<int>(i));
  return {0, p};
}

TEST_F(TalvikTest, CntrlMemChunksAndFailureBudget) {
  // G good (0, 1 of chunk 0, 1), W wrong device, S status 2, T transport failure. The budget
  // is tested at chunk starts only: 27 failures stop a fourth chunk, but three chunks end well.
  const std::map<char, Answer> legend{{'G', Chunk(0)}, {'0', Chunk(0)}, {'1', Chunk(1)}, {'W', Chunk(0, 8)},
                                      {'T', {SES_RC_BUSY, {}}}, {'S', {0, Page(266, {4, 0, 0, 0, 0x4B, 2, 0, 0, 9})}}};
  const struct { std::uint32_t length; const char *script; std::int32_t rc; std::uint64_t paused; bool quits; } cases[] = {
      {0, "", 0, 0, false}, {300, "01", 0, 0, false}, {1024, "WWWWWWWWWG WWWWWWWWWG WWWWWWWWWG", 86, 27 * 195000, true},
      {768, "WWWWWWWWWG WWWWWWWWWG WWWWWWWWWG", 0, 27 * 195000, false},
      {1024, "WWWWWWWWWG WWWWWWWWWG TTTG", 86, 18 * 195000 + 3 * 25000, true},
      {512, "TTTTTTTTTT", SES_RC_BUSY, 10 * 25000, false}, {768, "G SSSSSSSSSS", 86, 10 * 190000, false}};
  const Strings quit{"(Rcvd/Total): 768 / 1024 (75.000000%)", "Over 20 failures, quitting"};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.script);
    Bytes dest(1024, 0xEE);
    Run(c.script, legend, [&] { return TK_ReadCntrlMem("SN1", 9, 0x12FFFF80, c.length, dest.data()); }, c.rc, c.paused);
    const Strings m = Trace(false, false);
    EXPECT_EQ(m.back(), qeltest::Cat("TK_ReadCntrlMem: Exit, rc = ", std::to_string(c.rc)));
    if (c.quits) { EXPECT_EQ(Strings(m.end() - 3, m.end() - 1), quit); }
    if (c.length != 300) continue;
    EXPECT_EQ(calls, (std::vector<Call>{{'S', {4, 0, 0, 12, 0x4B, 0, 0, 0, 9, 0, 0, 0, 0x12, 0xFF, 0xFF, 0x80}, 0, 266},
                                        {'S', {4, 0, 0, 12, 0x4B, 0, 0, 0, 9, 0, 0, 0, 0x13, 0x00, 0x00, 0x80}, 0, 266}}));
    // Two whole chunks, each from offset 10 of its answer to the end; nothing after them.
    EXPECT_EQ((Bytes{dest[0], dest[255], dest[256], dest[511], dest[512]}), (Bytes{10, 9, 41, 40, 0xEE}));
    EXPECT_EQ(Trace(true).at(3), "2410 000: 04 00 00 0c 4b 00 00 00 - 09 00 00 00 12 ff ff 80   '....K...........'");
    EXPECT_EQ(m, (Strings{"TK_ReadCntrlMem: Enclosure SN = SN1, Device = 9", "<--- StringOut Page to write --->",
                          "(Rcvd/Total): 0 / 300 (0.000000%)", "(Rcvd/Total): 256 / 300 (85.333333%)",
                          "TK_ReadCntrlMem: Exit, rc = 0"}));  // only the first request is dumped
  }
  // Device 265 goes out as 9, but an echo of 9 is never device 265.
  Bytes dest(256);
  Run("GGGGGGGGGG", legend, [&] { return TK_ReadCntrlMem("SN1", 265, 0, 256, dest.data()); }, 86, 10 * 195000);
  EXPECT_EQ(std::get<1>(calls.at(0)).at(8), 9);
}

TEST_F(TalvikTest, DiagnosticReadsAndTheDebugCommand) {
  // The first answer has the right function code and device 8: a wrong page where the device
  // is tested, then a good one. Requests: device 7 and the parameter from byte 8.
  using Read = std::int32_t (*)(const char *, std::int32_t, std::uint8_t *);
  const struct { Read read; Bytes request; std::uint32_t size; const char *name; } cases[] = {
      {TK_ReadErrLog, {4, 0, 0, 8, 0x92, 0, 0, 0, 7, 2, 0, 0}, 496, "TK_ReadErrLog"},
      {TK_ReadPostLogPage, {4, 0, 0, 8, 0x92, 0, 0, 0, 7, 1, 0, 0}, 266, "TK_ReadPostLogPage"},
      {TK_ReadLESBPage, {4, 0, 0, 8, 0xB0, 0, 0, 0, 7, 0, 0, 0}, 252, "TK_ReadLESBPage"},
      {TK_ReadALPAMapPage, {4, 0, 0, 8, 0xB2, 0, 0, 0, 7, 0, 0, 0}, 36, "TK_ReadALPAMapPage"},
      {TK_ReadConnectorMapPage, {4, 0, 0, 8, 0xB4, 0, 0, 0, 7, 0, 0, 0}, 28, "TK_ReadConnectorMapPage"},
      {TK_ReadLIPPage, {4, 0, 0, 8, 0xB8, 0, 0, 0, 7, 0, 0, 0}, 172, "TK_ReadLIPPage"},
      {[](const char *sn, std::int32_t, std::uint8_t *b) { return TK_ReadEventsPage(sn, b); },
       Page(44, {4, 0, 0, 8, 0xC0, 0, 0, 0, 0x82}), 44, "TK_ReadEventsPage"},
      {[](const char *sn, std::int32_t, std::uint8_t *b) { return TK_ReadDateTime(sn, b); }, Page(16, {4, 0, 0, 12, 0xD0}), 16,
       "TK_ReadDateTime"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const bool tested = c.request[8] == 7;  // the events and date pages carry no device
    Bytes buffer(c.size);
    Run(tested ? "OG" : "O", {{'O', {0, Page(c.size, {4, 0, 0, 0, c.request[4], 0, 0, 0, 8, 0x55})}},
                              {'G', {0, Page(c.size, {4, 0, 0, 0, c.request[4], 0, 0, 0, 7, 0x66})}}},
        [&] { return c.read("SN1", 7, buffer.data()); }, 0, tested ? 50000 : 0, {'S', c.request, 0, c.size});
    EXPECT_EQ(buffer[9], tested ? 0x66 : 0x55);
    const Strings m = Trace(false, false);
    EXPECT_EQ(m.size(), tested ? 9u : 4u);  // entry, request title, then a title per answer
    EXPECT_EQ(m.back(), qeltest::Cat(c.name, ": Exit, rc = 0"));
  }
  // The debug command traces only a refusal, or all of it when every attempt failed.
  // A accepted, S status 9, P page code 2, F function code 0x5A, T transport failure.
  const std::map<char, Answer> legend{{'A', {0, Page(204, {4, 0, 0, 0, 0xFF})}}, {'S', {0, Page(204, {4, 0, 0, 0, 0xFF, 9})}},
      {'P', {0, Page(204, {2, 0, 0, 0, 0xFF})}}, {'F', {0, Page(204, {4, 0, 0, 0, 0x5A})}}, {'T', {SES_RC_BUSY, {}}}};
  // 191 characters fit and leave no trace; 192 are refused: nothing is sent, the answer zeroed.
  const std::string text(191, 'q');
  Bytes buffer(204, 0xEE), request = Page(204, {4, 0, 0, 200, 0xFF});
  std::fill_n(request.begin() + 12, 191, 'q');
  Run("A", legend, [&] { return TK_DebugCommand("SN1", text.c_str(), buffer.data()); }, 0, 0, {'S', request, 0, 204});
  EXPECT_TRUE(Trace(true).empty());
  Run("", legend, [&] { return TK_DebugCommand("SN1", (text + "q").c_str(), buffer.data()); }, TK_RC_COMMAND_TOO_LONG, 0);
  EXPECT_EQ(buffer, Bytes(204, 0));
  EXPECT_EQ(Trace(false, false), (Strings{"TK_DebugCommand: command longer than 191 characters refused",
                                          "TK_DebugCommand: Exit, rc = 4111"}));
  // Every kind of failed attempt, each with its pause; the last one's code is the result.
  buffer.assign(204, 0xEE);
  Run("SSSSSSSPFT", legend, [&] { return TK_DebugCommand("SN1", "ver", buffer.data()); }, SES_RC_BUSY, 8 * 25000 + 2 * 50000);
  Strings want(7, "TK_DebugCommand: StringIn Status = 0x9!!!!");
  want.insert(want.end(), {"TK_DebugCommand: Wrong StringIn Page!!!!", "PageCode = 2", "FuncCode = 0xff",
                           "TK_DebugCommand: Wrong StringIn Page!!!!", "PageCode = 4", "FuncCode = 0x5a",
                           "TK_DebugCommand: SES_ReadStringPageViaDisk rc = 4107", "<--- StringOut Page written --->",
                           "<--- Debug Page read --->", "TK_DebugCommand: Exit, rc = 4107"});
  EXPECT_EQ(Trace(false, false), want);
  const Strings lines = Trace(true);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "2275 Output Data, Size = 204"), 2);  // request and answer
  EXPECT_EQ(buffer, Bytes(204, 0));  // zeroed before each attempt
}

TEST_F(TalvikTest, CommandPagesSendTheirPageOnce) {
  Bytes clearEvents = Page(44, {4, 0, 0, 40, 0xC0, 0, 0, 0, 3, 0, 0, 0});
  std::fill(clearEvents.begin() + 12, clearEvents.end(), 0xFF);
  // rc: the transport's, passed back. Values go out as their low bytes. Traces: entry (none for
  // the statesave), request title, exit under name.
  const struct { std::int32_t (*send)(); std::int32_t rc; Bytes page; std::size_t lines; const char *name; } cases[] = {
      {[] { return TK_StatesaveMgmt("SN1", 260, 515); }, 86, {4, 0, 0, 8, 0x99, 0, 0, 0, 4, 3, 0, 0}, 2, "JQ9_ForceStatesave"},
      {[] { return TK_ClearEvents("SN1"); }, SES_RC_OPEN_FAILED, clearEvents, 3, "TK_ClearEvents"},
      {[] { return TK_SetDateTime("SN1", 300, 13, 31, 23, 59, 58); }, 0,
       Page(16, {4, 0, 0, 12, 0xD0, 0, 0, 0, 44, 13, 31, 23, 59, 58}), 3, "TK_SetDateTime"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    Run("A", {{'A', {c.rc, {}}}}, c.send, c.rc, 0, {'W', c.page, 0, 0});
    const Strings m = Trace(false, false);
    EXPECT_EQ(m.size(), c.lines);
    EXPECT_EQ(m.back(), qeltest::Cat(c.name, ": Exit, rc = ", std::to_string(c.rc)));
  }
  // The date's three trace calls make one line.
  EXPECT_TRUE(Trace(false, false).at(0).starts_with("TK_SetDateTime: Enclosure SN = SN1 talvik:")) << Trace().at(0);
}

}  // namespace

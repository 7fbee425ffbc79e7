// Controller memory read, diagnostic read pages, the debug command and the command pages.
#include "fake_ses.h"

namespace {
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
  const struct { std::uint32_t length; const char *script; std::int32_t rc; const char *pauses, *quit; } cases[] = {
      {0, "", 0, "", nullptr}, {300, "01", 0, "", nullptr},
      {1024, "WWWWWWWWWG WWWWWWWWWG WWWWWWWWWG", 86, "195000x27", "(Rcvd/Total): 768 / 1024 (75.000000%)"},
      {768, "WWWWWWWWWG WWWWWWWWWG WWWWWWWWWG", 0, "195000x27", nullptr},
      {1024, "WWWWWWWWWG WWWWWWWWWG TTTG", 86, "195000x18 25000x3", "(Rcvd/Total): 768 / 1024 (75.000000%)"},
      {512, "TTTTTTTTTT", SES_RC_BUSY, "25000x10", nullptr}, {768, "G SSSSSSSSSS", 86, "190000x10", nullptr}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.script);
    Start(c.script, legend);
    Bytes dest(1024, 0xEE);
    EXPECT_EQ(TK_ReadCntrlMem("SN1", 9, 0x12FFFF80, c.length, dest.data()), c.rc);
    EXPECT_EQ(Pauses(), c.pauses);
    const Strings m = Messages(false);
    EXPECT_EQ(m.back(), qeltest::Cat("TK_ReadCntrlMem: Exit, rc = ", std::to_string(c.rc)));
    if (c.quit != nullptr) { EXPECT_EQ(Strings(m.end() - 3, m.end() - 1), (Strings{c.quit, "Over 20 failures, quitting"})); }
    if (c.length != 300) continue;
    EXPECT_EQ(calls, (std::vector<Call>{{'S', {4, 0, 0, 12, 0x4B, 0, 0, 0, 9, 0, 0, 0, 0x12, 0xFF, 0xFF, 0x80}, 0, 266},
                                        {'S', {4, 0, 0, 12, 0x4B, 0, 0, 0, 9, 0, 0, 0, 0x13, 0x00, 0x00, 0x80}, 0, 266}}));
    // Two whole chunks, each from offset 10 of its answer to the end; nothing after them.
    EXPECT_EQ((Bytes{dest[0], dest[255], dest[256], dest[511], dest[512]}), (Bytes{10, 9, 41, 40, 0xEE}));
    EXPECT_EQ(TraceLines()[3].substr(5), "000: 04 00 00 0c 4b 00 00 00 - 09 00 00 00 12 ff ff 80   '....K...........'");
    EXPECT_EQ(m, (Strings{"TK_ReadCntrlMem: Enclosure SN = SN1, Device = 9", "<--- StringOut Page to write --->",
                          "(Rcvd/Total): 0 / 300 (0.000000%)", "(Rcvd/Total): 256 / 300 (85.333333%)",
                          "TK_ReadCntrlMem: Exit, rc = 0"}));  // only the first request is dumped
  }
  // Device 265 goes out as 9, but an echo of 9 is never device 265.
  Start("GGGGGGGGGG", legend);
  EXPECT_EQ(TK_ReadCntrlMem("SN1", 265, 0, 256, Bytes(256).data()), 86);
  EXPECT_EQ(calls[0].sent[8], 9);
}

TEST_F(TalvikTest, ReadPagesRequestSizeAndDeviceTest) {
  // The first answer has the right function code and device 8: a wrong page where the device
  // is tested, then a good one. Requests: device 7 and the parameter from byte 8.
  const struct { std::int32_t (*read)(const char *, std::int32_t, std::uint8_t *); Bytes request; std::uint32_t size;
                 const char *name, *title; } cases[] = {
      {TK_ReadErrLog, {4, 0, 0, 8, 0x92, 0, 0, 0, 7, 2, 0, 0}, 496, "TK_ReadErrLog", "Errlog"},
      {TK_ReadPostLogPage, {4, 0, 0, 8, 0x92, 0, 0, 0, 7, 1, 0, 0}, 266, "TK_ReadPostLogPage", "PostLog"},
      {TK_ReadLESBPage, {4, 0, 0, 8, 0xB0, 0, 0, 0, 7, 0, 0, 0}, 252, "TK_ReadLESBPage", "LESB"},
      {TK_ReadALPAMapPage, {4, 0, 0, 8, 0xB2, 0, 0, 0, 7, 0, 0, 0}, 36, "TK_ReadALPAMapPage", "ALPA Map"},
      {TK_ReadConnectorMapPage, {4, 0, 0, 8, 0xB4, 0, 0, 0, 7, 0, 0, 0}, 28, "TK_ReadConnectorMapPage", "ConnMap"},
      {TK_ReadLIPPage, {4, 0, 0, 8, 0xB8, 0, 0, 0, 7, 0, 0, 0}, 172, "TK_ReadLIPPage", "LIP"},
      {[](const char *sn, std::int32_t, std::uint8_t *b) { return TK_ReadEventsPage(sn, b); },
       Page(44, {4, 0, 0, 8, 0xC0, 0, 0, 0, 0x82}), 44, "TK_ReadEventsPage", "Events"},
      {[](const char *sn, std::int32_t, std::uint8_t *b) { return TK_ReadDateTime(sn, b); }, Page(16, {4, 0, 0, 12, 0xD0}),
       16, "TK_ReadDateTime", "DateTime"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const bool tested = c.request[8] == 7;  // the events and date pages carry no device
    const Answer other{0, Page(c.size, {4, 0, 0, 0, c.request[4], 0, 0, 0, 8, 0x55})};
    Start(tested ? "OG" : "O", {{'O', other}, {'G', {0, Page(c.size, {4, 0, 0, 0, c.request[4], 0, 0, 0, 7, 0x66})}}});
    Bytes buffer(c.size);
    ASSERT_EQ(c.read("SN1", 7, buffer.data()), 0);
    EXPECT_EQ(buffer[9], tested ? 0x66 : 0x55);
    EXPECT_EQ(calls, std::vector<Call>(tested ? 2u : 1u, {'S', c.request, 0, c.size}));
    EXPECT_EQ(Pauses(), tested ? "50000" : "");
    const Strings m = Messages(false);
    EXPECT_EQ(m[2], qeltest::Cat("<--- ", c.title, " Page read --->"));
    EXPECT_EQ(m.size(), tested ? 9u : 4u);
    EXPECT_EQ(m.back(), qeltest::Cat(c.name, ": Exit, rc = 0"));
  }
}

TEST_F(TalvikTest, DebugCommandSilentOrRefused) {
  // 191 characters fit and leave no trace; 192 are refused: nothing is sent, the answer zeroed.
  std::string text(191, 'q');
  Start("A", {{'A', {0, Page(204, {4, 0, 0, 0, 0xFF})}}});
  Bytes buffer(204, 0xEE), request = Page(204, {4, 0, 0, 200, 0xFF});
  EXPECT_EQ(TK_DebugCommand("SN1", text.c_str(), buffer.data()), 0);
  std::fill_n(request.begin() + 12, 191, 'q');
  EXPECT_EQ(calls, (std::vector<Call>{{'S', request, 0, 204}}));
  EXPECT_TRUE(TraceLines().empty());
  Start();
  EXPECT_EQ(TK_DebugCommand("SN1", (text + "q").c_str(), buffer.data()), TK_RC_COMMAND_TOO_LONG);
  EXPECT_EQ(buffer, Bytes(204, 0));
  EXPECT_EQ(Messages(false), (Strings{"TK_DebugCommand: command longer than 191 characters refused",
                                      "TK_DebugCommand: Exit, rc = 4111"}));
}

TEST_F(TalvikTest, DebugCommandTracesOnlyWhenEveryAttemptFailed) {
  // Nine answers with status 9, then one with another function code (no device line).
  Start("SSSSSSSSSF", {{'S', {0, Page(204, {4, 0, 0, 0, 0xFF, 9})}}, {'F', {0, Page(204, {4, 0, 0, 0, 0x5A})}}});
  Bytes buffer(204);
  ASSERT_EQ(TK_DebugCommand("SN1", "ver", buffer.data()), 86);
  EXPECT_EQ(Pauses(), "25000x9 50000");
  Strings want(9, "TK_DebugCommand: StringIn Status = 0x9!!!!");
  want.insert(want.end(), {"TK_DebugCommand: Wrong StringIn Page!!!!", "PageCode = 4", "FuncCode = 0x5a",
                           "<--- StringOut Page written --->", "<--- Debug Page read --->", "TK_DebugCommand: Exit, rc = 86"});
  EXPECT_EQ(Messages(false), want);
  const Strings lines = TraceLines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "2275 Output Data, Size = 204"), 2);
  EXPECT_EQ(buffer[4], 0x5A);
}

TEST_F(TalvikTest, CommandPagesSendTheirPageOnce) {
  Bytes clearEvents = Page(44, {4, 0, 0, 40, 0xC0, 0, 0, 0, 3, 0, 0, 0});
  std::fill(clearEvents.begin() + 12, clearEvents.end(), 0xFF);
  // rc: the transport's, passed back. The date goes out with the year's low byte.
  const struct { std::int32_t (*send)(); std::int32_t rc; Bytes page; const char *entry, *exit; } cases[] = {
      {[] { return TK_ControllerReset("SN1", 1); }, 0, {4, 0, 0, 8, 0x2D, 0, 0, 0, 1, 0, 0, 0},
       "TK_ControllerReset: Enclosure SN = SN1, Device = 1", "TK_ControllerReset: Exit, rc = 0"},
      {[] { return TK_StatesaveMgmt("SN1", 0x104, 0x203); }, 86, {4, 0, 0, 8, 0x99, 0, 0, 0, 4, 3, 0, 0}, nullptr,
       "JQ9_ForceStatesave: Exit, rc = 86"},
      {[] { return TK_ClearEvents("SN1"); }, SES_RC_OPEN_FAILED, clearEvents, "TK_ClearEvents: Enclosure SN = SN1",
       "TK_ClearEvents: Exit, rc = 4097"},
      {[] { return TK_SetDateTime("SN1", 300, 13, 31, 23, 59, 58); }, 0, {4, 0, 0, 12, 0xD0, 0, 0, 0, 44, 13, 31, 23, 59, 58, 0, 0},
       "TK_SetDateTime: Enclosure SN = SN1 ", "TK_SetDateTime: Exit, rc = 0"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.exit);
    Start("A", {{'A', {c.rc, {}}}});
    EXPECT_EQ(c.send(), c.rc);
    EXPECT_EQ(calls, (std::vector<Call>{{'W', c.page, 0, 0}}));
    const Strings m = Messages(false);
    EXPECT_TRUE(m.front().starts_with(c.entry != nullptr ? c.entry : "<--- StringOut Page to write --->")) << m.front();
    EXPECT_EQ(m.back(), c.exit);
  }
}
}  // namespace

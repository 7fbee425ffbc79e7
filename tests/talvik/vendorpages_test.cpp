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
  // G good, W wrong device, F wrong function code, S status 2, T transport failure. The
  // budget is tested at chunk starts only: 27 failures stop a fourth chunk, but a read of
  // three chunks ends well.
  const std::map<char, Answer> legend{{'G', Chunk(0)}, {'W', Chunk(0, 8)}, {'T', {SES_RC_BUSY, {}}},
                                      {'F', {0, Page(266, {4, 0, 0, 0, 0x5A, 0, 0, 0, 9})}},
                                      {'S', {0, Page(266, {4, 0, 0, 0, 0x4B, 2, 0, 0, 9})}}};
  const struct { std::uint32_t length; const char *script; std::int32_t rc; const char *pauses; int starts, quits; }
      cases[] = {{0, "", 0, "", 0, 0}, {256, "G", 0, "", 1, 0}, {300, "GG", 0, "", 2, 0},
                 {1024, "WWWWWWWWWG WWWWWWWWWG WWWWWWWWWG", 86, "195000x27", 4, 1},
                 {768, "WWWWWWWWWG WWWWWWWWWG WWWWWWWWWG", 0, "195000x27", 3, 0},
                 {1024, "WWWWWWWWWG FFFFFFFFFG SSGG", 0, "195000x18 190000x2", 4, 0},
                 {1024, "WWWWWWWWWG WWWWWWWWWG TTTG", 86, "195000x18 25000x3", 4, 1},
                 {512, "TTTTTTTTTT", SES_RC_BUSY, "25000x10", 1, 0},
                 {768, "G SSSSSSSSSS", 86, "190000x10", 2, 0}};
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << c.length << " " << c.script);
    Start(c.script, legend);
    Bytes dest(1024);
    EXPECT_EQ(TK_ReadCntrlMem("SN1", 9, 0, c.length, dest.data()), c.rc);
    EXPECT_EQ(Pauses(), c.pauses);
    const Strings m = Messages(false);
    EXPECT_EQ(std::count_if(m.begin(), m.end(), [](const std::string &l) { return l.starts_with("(Rcvd/Total)"); }),
              c.starts);
    EXPECT_EQ(std::count(m.begin(), m.end(), "Over 20 failures, quitting"), c.quits);
    EXPECT_EQ(m.back(), "TK_ReadCntrlMem: Exit, rc = " + std::to_string(c.rc));
  }
}

TEST_F(TalvikTest, CntrlMemRequestsEachChunkAndCopiesItsData) {
  Start({Chunk(0), Chunk(1)});
  Bytes dest(768, 0xEE);
  ASSERT_EQ(TK_ReadCntrlMem("SN1", 9, 0x12FFFF80, 300, dest.data()), 0);
  EXPECT_EQ(calls, (std::vector<Call>{
                       {'S', {4, 0, 0, 12, 0x4B, 0, 0, 0, 9, 0, 0, 0, 0x12, 0xFF, 0xFF, 0x80}, 0, 266},
                       {'S', {4, 0, 0, 12, 0x4B, 0, 0, 0, 9, 0, 0, 0, 0x13, 0x00, 0x00, 0x80}, 0, 266}}));
  // Two whole chunks, each from offset 10 of its answer to the end; nothing after them.
  EXPECT_EQ((Bytes{dest[0], dest[255], dest[256], dest[511], dest[512]}), (Bytes{10, 9, 41, 40, 0xEE}));
  // Only the first request is dumped.
  const Strings lines = TraceLines();
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[3].substr(5), "000: 04 00 00 0c 4b 00 00 00 - 09 00 00 00 12 ff ff 80   '....K...........'");
  EXPECT_EQ(Messages(false), (Strings{"TK_ReadCntrlMem: Enclosure SN = SN1, Device = 9",
                                      "<--- StringOut Page to write --->", "(Rcvd/Total): 0 / 300 (0.000000%)",
                                      "(Rcvd/Total): 256 / 300 (85.333333%)", "TK_ReadCntrlMem: Exit, rc = 0"}));
  // Device 265 goes out as 9, but an echo of 9 is never device 265.
  Start({10, Chunk(0)});
  EXPECT_EQ(TK_ReadCntrlMem("SN1", 265, 0, 256, dest.data()), 86);
  EXPECT_EQ(calls[0].sent[8], 9);
}

TEST_F(TalvikTest, ReadPagesRequestSizeAndDeviceTest) {
  // The first answer has the right function code and device 8: a wrong page only where the
  // device is tested (funcLine given); then a good one.
  const struct { std::int32_t (*read)(const char *, std::int32_t, std::uint8_t *); Bytes request;
                 std::uint32_t size; const char *entry, *title, *name, *funcLine; } cases[] = {
      {TK_ReadErrLog, {4, 0, 0, 8, 0x92, 0, 0, 0, 7, 2, 0, 0}, 496, "TK_ReadErrLog: Enclosure SN = SN1, Device = 7",
       "<--- Errlog Page read --->", "TK_ReadErrLog", "FuncCode = 0x92"},
      {TK_ReadPostLogPage, {4, 0, 0, 8, 0x92, 0, 0, 0, 7, 1, 0, 0}, 266,
       "TK_ReadPostLog: Enclosure SN = SN1, Device = 7,", "<--- PostLog Page read --->", "TK_ReadPostLogPage",
       "FuncCode = 0x92"},
      {TK_ReadLESBPage, {4, 0, 0, 8, 0xB0, 0, 0, 0, 7, 0, 0, 0}, 252, "TK_ReadLESBPage: Enclosure SN = SN1, Device = 7",
       "<--- LESB Page read --->", "TK_ReadLESBPage", "FuncCode = 0xb0"},
      {TK_ReadALPAMapPage, {4, 0, 0, 8, 0xB2, 0, 0, 0, 7, 0, 0, 0}, 36,
       "TK_ReadALPAMapPage: Enclosure SN = SN1, Device = 7", "<--- ALPA Map Page read --->", "TK_ReadALPAMapPage",
       "FuncCode = 0xb2"},
      {TK_ReadConnectorMapPage, {4, 0, 0, 8, 0xB4, 0, 0, 0, 7, 0, 0, 0}, 28,
       "TK_ReadConnectorMapPage: Enclosure SN = SN1, Device = 7", "<--- ConnMap Page read --->",
       "TK_ReadConnectorMapPage", "FuncCode = 0xb4"},
      {TK_ReadLIPPage, {4, 0, 0, 8, 0xB8, 0, 0, 0, 7, 0, 0, 0}, 172, "TK_ReadLIPPage: Enclosure SN = SN1, Device = 7",
       "<--- LIP Page read --->", "TK_ReadLIPPage", "FuncCode = 0xb8"},
      {[](const char *sn, std::int32_t, std::uint8_t *b) { return TK_ReadEventsPage(sn, b); },
       Page(44, {4, 0, 0, 8, 0xC0, 0, 0, 0, 0x82}), 44, "TK_ReadEventsPage: Enclosure SN = SN1",
       "<--- Events Page read --->", "TK_ReadEventsPage", ""},
      {[](const char *sn, std::int32_t, std::uint8_t *b) { return TK_ReadDateTime(sn, b); },
       Page(16, {4, 0, 0, 12, 0xD0}), 16, "TK_ReadDateTime: Enclosure SN = SN1", "<--- DateTime Page read --->",
       "TK_ReadDateTime", ""}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const bool tested = *c.funcLine != '\0';
    const Answer other{0, Page(c.size, {4, 0, 0, 0, c.request[4], 0, 0, 0, 8, 0x55})};
    const Answer good{0, Page(c.size, {4, 0, 0, 0, c.request[4], 0, 0, 0, 7, 0x66})};
    Start(tested ? std::vector<Answer>{other, good} : std::vector<Answer>{other});
    Bytes buffer(c.size);
    ASSERT_EQ(c.read("SN1", 7, buffer.data()), 0);
    EXPECT_EQ(buffer, (tested ? good : other).bytes);
    EXPECT_EQ(calls, std::vector<Call>(tested ? 2u : 1u, {'S', c.request, 0, c.size}));
    EXPECT_EQ(Pauses(), tested ? "50000" : "");
    Strings want{c.entry, "<--- StringOut Page to write --->", c.title};
    if (tested) {
      want.insert(want.end(), {std::string(c.name) + ": Wrong StringIn Page!!!!", "PageCode = 4", c.funcLine,
                               "Device = 8", c.title});
    }
    want.push_back(std::string(c.name) + ": Exit, rc = 0");
    EXPECT_EQ(Messages(false), want);
  }
}

TEST_F(TalvikTest, DebugCommandSilentOrRefused) {
  // 191 characters fit and leave no trace.
  std::vector<char> text(193, 'q');
  text[191] = '\0';
  Start({{0, Page(204, {4, 0, 0, 0, 0xFF})}});
  Bytes buffer(204, 0xEE);
  EXPECT_EQ(TK_DebugCommand("SN1", text.data(), buffer.data()), 0);
  Bytes request = Page(204, {4, 0, 0, 200, 0xFF});
  std::fill_n(request.begin() + 12, 191, 'q');
  EXPECT_EQ(calls, (std::vector<Call>{{'S', request, 0, 204}}));
  EXPECT_TRUE(TraceLines().empty());
  // 192 are refused: nothing is sent and the answer is zeroed.
  text[191] = 'q';
  text[192] = '\0';
  Start();
  EXPECT_EQ(TK_DebugCommand("SN1", text.data(), buffer.data()), TK_RC_COMMAND_TOO_LONG);
  EXPECT_TRUE(calls.empty());
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
                           "<--- StringOut Page written --->", "<--- Debug Page read --->",
                           "TK_DebugCommand: Exit, rc = 86"});
  EXPECT_EQ(Messages(false), want);
  const Strings lines = TraceLines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "2275 Output Data, Size = 204"), 2);
  EXPECT_EQ(buffer[4], 0x5A);
}

constexpr std::uint32_t kLipWords[kLIPWordCount] = {0x01020304, 0xA0B0C0D0, 0x000000FF};

TEST_F(TalvikTest, CommandPagesSendTheirPageOnce) {
  Bytes events = Page(44, {4, 0, 0, 40, 0xC0, 0, 0, 0, 2, 0, 0, 0});
  std::fill(events.begin() + 12, events.end(), 0xFF);
  Bytes clearEvents = events;
  clearEvents[8] = 3;
  // rc: the transport's, passed back. SetDateTime's three trace calls share one line.
  const struct { std::int32_t (*send)(); std::int32_t rc; Bytes page; const char *entry, *exit; } cases[] = {
      {[] { return TK_ControllerReset("SN1", 1); }, 0, {4, 0, 0, 8, 0x2D, 0, 0, 0, 1, 0, 0, 0},
       "TK_ControllerReset: Enclosure SN = SN1, Device = 1", "TK_ControllerReset: Exit, rc = 0"},
      {[] { return TK_StatesaveMgmt("SN1", 0x104, 0x203); }, 86, {4, 0, 0, 8, 0x99, 0, 0, 0, 4, 3, 0, 0}, nullptr,
       "JQ9_ForceStatesave: Exit, rc = 86"},
      {[] { return TK_ResetLESBPage("SN1", 0, 3); }, 0, {4, 0, 0, 8, 0xB1, 0, 0, 0, 0, 3, 0, 0},
       "TK_ResetLESBPage: Enclosure SN = SN1, Device = 0, Port = 3", "TK_ResetLESBPage: Exit, rc = 0"},
      {[] { return TK_WriteLIPPage("SN1", 2, 5, kLipWords); }, 0,
       {4, 0, 0, 20, 0xB9, 0, 0, 0, 2, 0, 0, 0, 0x01, 0x02, 0x03, 0x04, 0xA0, 0xB0, 0xC0, 0xD0, 0, 0, 0, 0xFF},
       "TK_WriteLIPPage: Enclosure SN = SN1, Device = 2, Port = 5", "TK_WriteLIPPage: Exit, rc = 0"},
      {[] { return TK_RegForEventReporting("SN1"); }, 0, events, "TK_RegForEventReporting: Enclosure SN = SN1",
       "TK_RegForEventReporting: Exit, rc = 0"},
      {[] { return TK_ClearEvents("SN1"); }, SES_RC_OPEN_FAILED, clearEvents, "TK_ClearEvents: Enclosure SN = SN1",
       "TK_ClearEvents: Exit, rc = 4097"},
      {[] { return TK_SetDateTime("SN1", 300, 13, 31, 23, 59, 58); }, 0,
       {4, 0, 0, 12, 0xD0, 0, 0, 0, 44, 13, 31, 23, 59, 58, 0, 0},
       "TK_SetDateTime: Enclosure SN = SN1 |Date (mm/dd/yy) = 13/31/300 |Time (hh:mm:ss) = 23:59:58",
       "TK_SetDateTime: Exit, rc = 0"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.exit);
    Start({{c.rc, {}}});
    EXPECT_EQ(c.send(), c.rc);
    EXPECT_EQ(calls, (std::vector<Call>{{'W', c.page, 0, 0}}));
    Strings want{"<--- StringOut Page to write --->", c.exit};
    if (c.entry != nullptr) want.insert(want.begin(), c.entry);
    EXPECT_EQ(Messages(false), want);
  }
}
}  // namespace

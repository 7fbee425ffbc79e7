// Controller memory read: chunking, where the data comes from, and the failure budget that
// spans the whole read.
#include <algorithm>
#include <vector>

#include "fake_ses.h"
#include "talvik.h"

namespace {
using fakeses::Answer;

enum Kind { Good, Wrong, Status, Transport };

constexpr std::uint32_t kBase = 0x12FFFF80;  // the address carries into its upper bytes
constexpr std::int32_t kDevice = 9;
constexpr std::size_t kChunk = kCntrlMemChunkSize;

// The nth good answer: header bytes the read must not examine or copy are set too, and the
// data (from offset 10) is distinct per chunk.
Answer Chunk(int n, std::uint8_t device = kDevice) {
  auto p = Page(266, {4, 0xA1, 0xA2, 0xA3, 0x4B, 0, 0xA6, 0xA7, device, 0xA9});
  for (std::size_t i = 10; i < p.size(); ++i) p[i] = static_cast<std::uint8_t>(n * 31 + static_cast<int>(i));
  return {0, p};
}

std::vector<Kind> Rep(int n, Kind k) { return std::vector<Kind>(static_cast<std::size_t>(n), k); }
std::vector<Kind> operator+(std::vector<Kind> a, const std::vector<Kind> &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
const std::vector<Kind> kNineWrongThenGood = Rep(9, Wrong) + std::vector<Kind>{Good};
const std::vector<Kind> kBudgetHistory = kNineWrongThenGood + kNineWrongThenGood + kNineWrongThenGood;

struct MemCase {
  const char *name;
  std::uint32_t length;
  std::vector<Kind> script;
  std::int32_t rc;
  int chunkStarts;  // progress lines
  bool overBudget;
};
void PrintTo(const MemCase &c, std::ostream *os) { *os << c.name; }

class CntrlMem : public TalvikTest, public ::testing::WithParamInterface<MemCase> {};

TEST_P(CntrlMem, ChunksBudgetAndPauses) {
  const MemCase &c = GetParam();
  int good = 0;
  std::vector<std::string> pauses;
  for (const Kind k : c.script) {
    if (k == Good) fakeses::answers.push_back(Chunk(good++));
    if (k == Wrong) fakeses::answers.push_back(Chunk(0, 8));
    if (k == Status) fakeses::answers.push_back({0, Page(266, {4, 0, 0, 0, 0x4B, 2, 0, 0, kDevice})});
    if (k == Transport) fakeses::answers.push_back({SES_RC_BUSY, {}});
    if (k != Good) pauses.push_back(k == Transport ? "usleep 25000" : k == Status ? "usleep 190000" : "usleep 195000");
  }
  std::vector<std::uint8_t> dest(5 * kChunk, 0xEE);
  EXPECT_EQ(TK_ReadCntrlMem("SN7", kDevice, kBase, c.length, dest.data()), c.rc);
  EXPECT_EQ(Pauses(), pauses);

  // Each request names the chunk wanted; it moves on only after a chunk arrived.
  ASSERT_EQ(fakeses::calls.size(), c.script.size());
  std::uint32_t address = kBase;
  for (std::size_t i = 0; i < c.script.size(); ++i) {
    auto want = Page(16, {4, 0, 0, 12, 0x4B, 0, 0, 0, kDevice, 0, 0, 0});
    for (int b = 0; b < 4; ++b) want[12 + static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(address >> (24 - 8 * b));
    EXPECT_EQ(fakeses::calls[i].sent, want) << "call " << i;
    EXPECT_EQ(fakeses::calls[i].inLength, 266u);
    if (c.script[i] == Good) address += kChunk;
  }
  // Whole chunks from offset 10 of each good answer; nothing beyond them touched.
  for (int n = 0; n < good; ++n) {
    const auto data = Chunk(n).bytes;
    EXPECT_TRUE(std::equal(data.begin() + 10, data.end(), dest.begin() + n * static_cast<int>(kChunk))) << "chunk " << n;
  }
  EXPECT_TRUE(std::all_of(dest.begin() + good * static_cast<int>(kChunk), dest.end(), [](std::uint8_t b) { return b == 0xEE; }));

  const auto msgs = Messages();
  EXPECT_EQ(std::count_if(msgs.begin(), msgs.end(), [](const std::string &m) { return m.find("(Rcvd/Total)") != std::string::npos; }), c.chunkStarts);
  EXPECT_EQ(std::count_if(msgs.begin(), msgs.end(), [](const std::string &m) { return m.ends_with(" Over 20 failures, quitting"); }), c.overBudget ? 1 : 0);
  EXPECT_TRUE(msgs.back().ends_with(" TK_ReadCntrlMem: Exit, rc = " + std::to_string(c.rc)));
}

INSTANTIATE_TEST_SUITE_P(
    Talvik, CntrlMem,
    ::testing::Values(
        MemCase{"LengthZeroSendsNothing", 0, {}, 0, 0, false},
        MemCase{"Length256OneChunk", 256, {Good}, 0, 1, false},
        MemCase{"Length300TwoWholeChunks", 300, {Good, Good}, 0, 2, false},
        MemCase{"TwentySevenFailuresQuitBeforeFourthChunk", 1024, kBudgetHistory, 86, 4, true},
        MemCase{"SameHistoryOnThreeChunksSucceeds", 768, kBudgetHistory, 0, 3, false},
        MemCase{"ExactlyTwentyDoNotStop", 1024,
                kNineWrongThenGood + kNineWrongThenGood + Rep(2, Status) + std::vector<Kind>{Good, Good}, 0, 4, false},
        MemCase{"TwentyOneStop", 1024,
                kNineWrongThenGood + kNineWrongThenGood + Rep(3, Transport) + std::vector<Kind>{Good}, 86, 4, true},
        MemCase{"TenTransportFailuresEndAtOnce", 512, Rep(10, Transport), SES_RC_BUSY, 1, false},
        MemCase{"FailedChunkEndsReadWhateverTheCount", 768, std::vector<Kind>{Good} + Rep(10, Status), 86, 2, false}),
    CaseName());

TEST_F(TalvikTest, CntrlMemTracesProgressAndDumpsOnlyTheFirstRequest) {
  fakeses::answers = {Chunk(0), Chunk(1)};
  std::vector<std::uint8_t> dest(512);
  ASSERT_EQ(TK_ReadCntrlMem("SN7", kDevice, 0x100, 300, dest.data()), 0);
  std::vector<std::string> texts;
  for (const auto &l : TraceLines()) texts.push_back(l.substr(l.find(' ') + 1));
  const std::vector<std::string> expected{
      "TK_ReadCntrlMem: Enclosure SN = SN7, Device = 9",
      "<--- StringOut Page to write --->",
      "Output Data, Size = 16",
      "000: 04 00 00 0c 4b 00 00 00 - 09 00 00 00 00 00 01 00   '....K...........'",
      "(Rcvd/Total): 0 / 300 (0.000000%)",
      "(Rcvd/Total): 256 / 300 (85.333333%)",
      "TK_ReadCntrlMem: Exit, rc = 0"};
  EXPECT_EQ(texts, expected);
}

// Above 255 the low byte goes out, but the echo of it is never the device asked for.
TEST_F(TalvikTest, CntrlMemDeviceAboveByteRangeNeverMatches) {
  fakeses::answers.assign(10, Chunk(0, 9));
  std::vector<std::uint8_t> dest(256);
  EXPECT_EQ(TK_ReadCntrlMem("SN7", 256 + 9, 0, 256, dest.data()), 86);
  EXPECT_EQ(fakeses::calls[0].sent[8], 9);
  const auto msgs = Messages();
  EXPECT_EQ(std::count_if(msgs.begin(), msgs.end(), [](const std::string &m) { return m.ends_with(" Device = 9"); }), 10);
}
}  // namespace

// Enclosure firmware download: the pages sent, the waits, the progress trace and the codes.
#include <cerrno>

#include "qelses.h"
#include "ses_fixture.h"

namespace sestest {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Image(std::size_t n) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 13 + 5);
  return b;
}

// A data page as the enclosure expects it: header, then the image piece.
Bytes DataPage(const Bytes &image, std::size_t from, std::size_t n, std::uint8_t device) {
  Bytes p(9 + n, 0);
  p[0] = 0x04;
  p[2] = static_cast<std::uint8_t>((n + 5) >> 8);
  p[3] = static_cast<std::uint8_t>(n + 5);
  p[4] = 0x3C;
  p[8] = device;
  for (std::size_t i = 0; i < n; ++i) p[9 + i] = image[from + i];
  return p;
}

std::string Progress(int rc, int sent, int total, const char *percent) {
  return "qelses:699 SES_DownloadFwTransfer: SendDiag Data rc=" + std::to_string(rc) +
         ", qelses:703 (Sent/Total): " + std::to_string(sent) + " / " + std::to_string(total) +
         " (" + percent + "%)";
}

struct TransferCase {
  const char *name;
  std::uint32_t imageLength;
  std::vector<std::size_t> pieces;  // image bytes carried by each data page
  std::vector<std::string> progress;
};

const TransferCase kTransferCases[] = {
    {"EmptyImage", 0, {}, {}},
    {"OneByteOverAPage", 504, {503, 1}, {Progress(0, 503, 504, "99.801587"), Progress(0, 504, 504, "100.000000")}},
    {"TwoFullPages", 1006, {503, 503}, {Progress(0, 503, 1006, "50.000000"), Progress(0, 1006, 1006, "100.000000")}},
};

class FwTransfer : public SesTest, public ::testing::WithParamInterface<TransferCase> {};

TEST_P(FwTransfer, StartPageWaitThenDataPagesInOrder) {
  const TransferCase &c = GetParam();
  const Bytes image = Image(c.imageLength);
  EXPECT_EQ(SES_DownloadFwTransfer(kSerial, 0x112, image.data(), c.imageLength), SES_OK);

  const std::vector<fakeci::Request> sends = adapter.sends();
  ASSERT_EQ(sends.size(), c.pieces.size() + 1);
  // Start page: low byte of the device with the start flag; nine bytes sent.
  EXPECT_EQ(Hex(sends[0].sentPage()), Hex({0x04, 0x00, 0x00, 0x05, 0x3C, 0x00, 0x00, 0x00, 0x52}));
  std::size_t from = 0;
  for (std::size_t i = 0; i < c.pieces.size(); ++i) {
    EXPECT_EQ(Hex(sends[i + 1].sentPage()), Hex(DataPage(image, from, c.pieces[i], 0x12))) << i;
    from += c.pieces[i];
  }
  // Each data page is followed by a short status read; the start page is not.
  const std::vector<fakeci::Request> receives = adapter.receives();
  EXPECT_EQ(receives.size(), c.pieces.size());
  for (const fakeci::Request &r : receives) EXPECT_EQ(r.pageCode(), 0x08);
  EXPECT_EQ(adapter.requests.size(), 1 + 2 * c.pieces.size());

  EXPECT_EQ(sys.pauses, std::vector<std::string>{"sleep 10"});
  std::vector<std::string> want = {"qelses:620 SES_DownloadFwTransfer: Entry SN:IRC0012345, Dev:274",
                                   "qelses:651 SES_DownloadFwTransfer: SendDiag Start rc = 0"};
  want.insert(want.end(), c.progress.begin(), c.progress.end());
  want.push_back("qelses:707 SES_DownloadFwTransfer: Exit, rc = 0");
  EXPECT_EQ(Trace(), want);
}

INSTANTIATE_TEST_SUITE_P(Images, FwTransfer, ::testing::ValuesIn(kTransferCases),
                         [](const auto &p) { return std::string(p.param.name); });

TEST_F(SesTest, FwTransferStopsAtAFailedSecondDataPage) {
  const Bytes image = Image(1509);
  // Requests: start, data 1, status 1, data 2 (fails).
  adapter.responder = [](const fakeci::Request &, std::size_t i) {
    return i == 3 ? fakeci::SendFails(EIO) : fakeci::Reply{};
  };
  EXPECT_EQ(SES_DownloadFwTransfer(kSerial, 2, image.data(), 1509), SES_RC_CI_FAILED);
  EXPECT_EQ(adapter.sends().size(), 3u);
  EXPECT_EQ(adapter.requests.size(), 4u);
  const std::vector<std::string> progress = Matching(Trace(), "qelses:699 ");
  EXPECT_EQ(progress, (std::vector<std::string>{Progress(0, 503, 1509, "33.333333"),
                                                Progress(4101, 1006, 1509, "66.666667")}));
  EXPECT_EQ(Trace().back(), "qelses:707 SES_DownloadFwTransfer: Exit, rc = 4101");
}

TEST_F(SesTest, FwTransferNonzeroShortStatusEndsWith86) {
  const Bytes image = Image(600);
  adapter.shortEncStatus = 2;
  EXPECT_EQ(SES_DownloadFwTransfer(kSerial, 2, image.data(), 600), SES_RC_ENCLOSURE_STATUS);
  EXPECT_EQ(adapter.sends().size(), 2u);
  EXPECT_EQ(Matching(Trace(), "qelses:693 "),
            std::vector<std::string>{"qelses:693 SES_DownloadFwTransfer: ShortEnc Status = 2!!!!"});
  EXPECT_EQ(Matching(Trace(), "qelses:699 "),
            std::vector<std::string>{Progress(86, 503, 600, "83.833333")});
}

TEST_F(SesTest, FwTransferFailedStartPageSkipsTheWait) {
  const Bytes image = Image(10);
  adapter.responder = [](const fakeci::Request &, std::size_t) { return fakeci::SendFails(EBUSY); };
  EXPECT_EQ(SES_DownloadFwTransfer(kSerial, 2, image.data(), 10), SES_RC_BUSY);
  EXPECT_TRUE(sys.pauses.empty());
  const std::vector<std::string> lines = Trace();
  EXPECT_EQ(Matching(lines, "qelses:651 "),
            std::vector<std::string>{"qelses:651 SES_DownloadFwTransfer: SendDiag Start rc = 4107"});
  EXPECT_EQ(lines.back(), "qelses:707 SES_DownloadFwTransfer: Exit, rc = 4107");
}

struct CommitCase {
  const char *name;
  std::function<fakeci::Reply(const fakeci::Request &, std::size_t)> responder;
  std::uint8_t shortStatus;
  std::int32_t rc;
  std::vector<std::string> statusCodes;  // the rc of each traced status read
  std::vector<std::string> pauses;
};

fakeci::Reply StatusReadsFailUntil(std::size_t index, std::size_t goodFrom) {
  // Request 0 is the commit page; 1.. are the status reads. The tenth read is busy, the rest
  // fail otherwise, so the last read's code is what the commit returns.
  if (index == 0 || index >= goodFrom) return {};
  return fakeci::SendFails(index == 10 ? EBUSY : EIO);
}

const CommitCase kCommitCases[] = {
    {"ThirdStatusReadAnswers",
     [](const fakeci::Request &, std::size_t i) { return StatusReadsFailUntil(i, 3); }, 0, SES_OK,
     {"4101", "4101", "0"}, {"sleep 20", "sleep 5"}},
    {"AllTenStatusReadsFail",
     [](const fakeci::Request &, std::size_t i) { return StatusReadsFailUntil(i, 99); }, 0,
     SES_RC_BUSY,
     {"4101", "4101", "4101", "4101", "4101", "4101", "4101", "4101", "4101", "4107"},
     {"sleep 20"}},
    {"NonzeroShortStatus", [](const fakeci::Request &, std::size_t) { return fakeci::Reply{}; }, 9,
     SES_RC_ENCLOSURE_STATUS, {"0"}, {"sleep 20", "sleep 5"}},
    {"CommitPageFails",
     [](const fakeci::Request &, std::size_t) { return fakeci::SendFails(EIO); }, 0,
     SES_RC_CI_FAILED, {}, {}},
};

class FwCommit : public SesTest, public ::testing::WithParamInterface<CommitCase> {};

TEST_P(FwCommit, WaitsPollsAndCodes) {
  const CommitCase &c = GetParam();
  adapter.responder = c.responder;
  adapter.shortEncStatus = c.shortStatus;
  EXPECT_EQ(SES_DownloadFwCommit(kSerial, 0x143), c.rc);

  ASSERT_GE(adapter.requests.size(), 1u);
  EXPECT_EQ(Hex(adapter.requests[0].sentPage()),
            Hex({0x04, 0x00, 0x00, 0x05, 0x3C, 0x00, 0x00, 0x00, 0xC3}));
  EXPECT_EQ(adapter.requests.size(), 1 + c.statusCodes.size());
  EXPECT_EQ(sys.pauses, c.pauses);

  const std::vector<std::string> lines = Trace();
  EXPECT_EQ(lines.front(), "qelses:744 SES_DownloadFwCommit: Entry SN:IRC0012345, Dev:323");
  EXPECT_EQ(Matching(lines, "qelses:775 "),
            std::vector<std::string>{"qelses:775 SES_DownloadFwCommit: SendDiag Commit rc = " +
                                     std::string(c.statusCodes.empty() ? "4101" : "0")});
  std::vector<std::string> want;
  for (const std::string &code : c.statusCodes)
    want.push_back("qelses:786 SES_DownloadFwCommit: RecvDiag ShortEncStatus rc = " + code);
  EXPECT_EQ(Matching(lines, "qelses:786 "), want);
  EXPECT_EQ(Matching(lines, "qelses:799 ").size(), c.shortStatus != 0 ? 1u : 0u);
  EXPECT_EQ(lines.back(), "qelses:803 SES_DownloadFwCommit: Exit, rc = " + std::to_string(c.rc));
}

INSTANTIATE_TEST_SUITE_P(Cases, FwCommit, ::testing::ValuesIn(kCommitCases),
                         [](const auto &p) { return std::string(p.param.name); });

}  // namespace
}  // namespace sestest

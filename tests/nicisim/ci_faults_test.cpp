// Injected faults: each kind shows where the transport would see it, counts down in the
// persistent state, and watches only the commands it was scoped to.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>

#include "byteorder.h"
#include "cirequest.h"
#include "niciClient.h"

using citest::Answer;
using citest::Exchange;
using citest::ReceiveMessage;
using citest::SendMessage;
using citest::StringOut;
using nicisim::Fault;
using nicisim::FaultKind;

namespace {

constexpr const char *kSerial = "IRC0001";

Answer ReadStatus() { return Exchange(ReceiveMessage(kSerial, 2, 224)); }
Answer ReadShortStatus() { return Exchange(ReceiveMessage(kSerial, 8, 4)); }
Answer ReadRdp() {
  Exchange(SendMessage(kSerial, StringOut(0x69, 16, 12)));
  return Exchange(ReceiveMessage(kSerial, 4, 512));
}
std::vector<std::uint8_t> RdpWithPcm(char mode) {
  std::vector<std::uint8_t> page = StringOut(0x5A, 16, 512);
  qel::store_be16(page.data() + 12, 497);
  std::memcpy(page.data() + 406, "PCM=", 4);
  page[410] = static_cast<std::uint8_t>(mode);
  page[511] = 0;
  page[511] = citest::XorFrom12(page);
  return page;
}
Answer WriteThenRead() {
  Exchange(SendMessage(kSerial, RdpWithPcm('7')));
  return ReadRdp();
}

struct Case {
  const char *name;
  Fault fault;
  std::function<Answer()> command;
  std::function<bool(const Answer &)> hit;
};

Fault Make(FaultKind kind, std::int32_t remaining, bool hasValue = false, std::int32_t value = 0) {
  Fault f;
  f.kind = kind;
  f.remaining = remaining;
  f.hasValue = hasValue;
  f.value = value;
  return f;
}

std::vector<Case> Cases() {
  auto data = [](const Answer &a, std::size_t i) { return a.body.at(204 + i); };
  return {
      {"busy", Make(FaultKind::Busy, 2), ReadStatus, [](const Answer &a) { return a.rc != 0 && a.error == EBUSY; }},
      {"sendfail", Make(FaultKind::SendFail, 2), ReadStatus,
       [](const Answer &a) { return a.rc != 0 && a.error != EBUSY && a.error != 0; }},
      {"reqstatus", Make(FaultKind::RequestStatus, 2), ReadStatus, [](const Answer &a) { return a.rc == 0 && a.status != 0; }},
      {"directive -1", Make(FaultKind::Directive, 2, true, -1), ReadStatus,
       [](const Answer &a) { return a.directive() == 0xFF && a.body[204] == 0; }},
      {"result default", Make(FaultKind::Result, 2), ReadStatus,
       [](const Answer &a) { return a.appResult() < 0 && a.directive() == 0; }},
      {"result byte 52 only", Make(FaultKind::Result, 2, true, 0x01000000), ReadStatus,
       [](const Answer &a) { return a.resultWord() == 0x01000000u; }},
      {"pagecode", Make(FaultKind::PageCode, 2, true, 1), ReadStatus, [=](const Answer &a) { return data(a, 0) == 1; }},
      {"shortstatus", Make(FaultKind::ShortStatus, 2, true, 5), ReadShortStatus,
       [=](const Answer &a) { return data(a, 1) == 5; }},
      {"strstatus", Make(FaultKind::StringStatus, 2), ReadRdp, [=](const Answer &a) { return data(a, 5) != 0; }},
      {"function", Make(FaultKind::Function, 2), ReadRdp, [=](const Answer &a) { return data(a, 4) == 0x5A; }},
      {"device", Make(FaultKind::Device, 2), ReadRdp, [=](const Answer &a) { return data(a, 8) == 17; }},
      {"vpdlength", Make(FaultKind::VpdLength, 2), ReadRdp,
       [](const Answer &a) { return qel::load_be16(a.body.data() + 204 + 12) == 0x1F0; }},
      {"vpdchecksum", Make(FaultKind::VpdChecksum, 2), ReadRdp,
       [](const Answer &a) { return citest::XorFrom12(a.data(512)) != 0; }},
      {"nostore", Make(FaultKind::NoStore, 2), WriteThenRead, [=](const Answer &a) { return data(a, 410) != '7'; }},
  };
}

class CiFaults : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(niCIOpen(), 0); }
  void TearDown() override { niCIClose(); }
  citest::ScratchLab lab_{"nicisim-faults"};
};

TEST_F(CiFaults, EachKindHitsTheNextCountCommandsThenStops) {
  for (const Case &c : Cases()) {
    SCOPED_TRACE(c.name);
    lab_.Save(nicisim::DefaultLab());
    lab_.AddFault(kSerial, c.fault);
    const std::vector<bool> expected{true, true, false};
    for (std::size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(c.hit(c.command()), expected[i]) << "command " << i + 1;
      const nicisim::Lab lab = lab_.Load();
      const std::size_t left = lab.enclosures.front().faults.size();
      EXPECT_EQ(left, i == 0 ? 1u : 0u) << "after command " << i + 1;
      if (i == 0 && left == 1) {
        EXPECT_EQ(lab.enclosures.front().faults.front().remaining, 1);
      }
    }
  }
}

TEST_F(CiFaults, AlwaysFaultsStayAndOtherEnclosuresAreUntouched) {
  lab_.AddFault(kSerial, Make(FaultKind::ShortStatus, nicisim::kFaultAlways, true, 5));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(ReadShortStatus().body.at(205), 5);
  EXPECT_EQ(lab_.Load().enclosures.front().faults.size(), 1u);
  EXPECT_EQ(citest::ReadPage("IRC0002", 8, 4)[1], 0);
}

TEST_F(CiFaults, ScopeSelectsSendReceivePageAndFunction) {
  Fault f = Make(FaultKind::Busy, nicisim::kFaultAlways);
  f.scope = nicisim::CommandScope::Send;
  f.page = 4;
  f.function = 0x69;
  lab_.AddFault(kSerial, f);
  EXPECT_EQ(ReadStatus().rc, 0);
  EXPECT_EQ(Exchange(SendMessage(kSerial, RdpWithPcm('1'))).rc, 0);  // function 0x5A
  EXPECT_EQ(Exchange(SendMessage(kSerial, StringOut(0x69, 16, 12))).error, EBUSY);

  Fault r = Make(FaultKind::PageCode, nicisim::kFaultAlways, true, 9);
  r.scope = nicisim::CommandScope::Receive;
  r.page = 1;
  lab_.AddFault(kSerial, r);
  EXPECT_EQ(citest::ReadPage(kSerial, 2, 224).at(0), 2);
  EXPECT_EQ(citest::ReadPage(kSerial, 1, 296).at(0), 9);
}

TEST(CiOpenFault, OpenFailsForItsCountThenSucceeds) {
  citest::ScratchLab lab("nicisim-open");
  lab.AddFault("", Make(FaultKind::Open, 1));
  EXPECT_NE(niCIOpen(), 0);
  EXPECT_TRUE(lab.Load().labFaults.empty());
  EXPECT_EQ(niCIOpen(), 0);
  EXPECT_EQ(niCIClose(), 0);
}

}  // namespace

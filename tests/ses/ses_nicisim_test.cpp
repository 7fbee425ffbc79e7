// The transport against the simulated adapter's libniciClient.so, in process: the default lab
// in a scratch state directory, faults put into the lab's state file between operations.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "qelses.h"
#include "simlab.h"
#include "simstate.h"
#include "testsupport.h"

namespace {

constexpr char kIrc[] = "IRC0001";
// StringOut: read the VPD (function 0x69) of device 16.
constexpr std::uint8_t kReadVpd[12] = {0x04, 0x00, 0x00, 0x08, 0x69, 0x00, 0x00, 0x00, 0x10};

class SesOnSimulator : public ::testing::Test {
 protected:
  SesOnSimulator() : state_("ses-nicisim") {
    setenv("NICISIM_STATE_DIR", state_.path().c_str(), 1);
  }
  ~SesOnSimulator() override {
    // Each test opens the library's connection afresh: close it as the exit handler would,
    // and forget it (the product never clears the flag; a process opens once).
    SES_CloseCIConnection();
    isConnOpen = 0;
    // The simulator logs every breach of the library's calling protocol and every malformed
    // request; only the faults this test injected may show up there.
    std::istringstream log(qeltest::ReadFile(state_.file("nicisim.log")));
    for (std::string line; std::getline(log, line);)
      EXPECT_NE(line.find(" hit on "), std::string::npos) << line;
    unsetenv("NICISIM_STATE_DIR");
  }

  // Adds a fault to the enclosure's state, as encsim would.
  void AddFault(nicisim::FaultKind kind, nicisim::CommandScope scope, std::int32_t value) {
    nicisim::LabLock lock(state_.path());
    ASSERT_EQ(lock.error(), 0);
    nicisim::Lab lab;
    std::string error;
    ASSERT_EQ(nicisim::LoadLab(state_.path(), lab, error), 0) << error;
    nicisim::Enclosure *e = nicisim::FindEnclosure(lab, kIrc);
    ASSERT_NE(e, nullptr);
    nicisim::Fault f;
    f.kind = kind;
    f.scope = scope;
    f.remaining = nicisim::kFaultAlways;
    f.hasValue = true;
    f.value = value;
    e->faults = {f};
    ASSERT_EQ(nicisim::SaveLab(state_.path(), lab, error), 0) << error;
  }

  qeltest::FakeSystem sys;

 private:
  qeltest::ScratchDir state_;
};

TEST_F(SesOnSimulator, ReadsConfigurationAndStatusPages) {
  std::uint8_t config[296] = {};
  std::uint8_t status[224] = {};
  ASSERT_EQ(SES_ReadPage(kIrc, 1, sizeof config, config), SES_OK);
  ASSERT_EQ(SES_ReadPage(kIrc, 2, sizeof status, status), SES_OK);
  EXPECT_EQ(config[0], 1);
  EXPECT_EQ(status[0], 2);
  EXPECT_EQ(sys.pauses, (std::vector<std::string>{"usleep 0", "usleep 0"}));
}

TEST_F(SesOnSimulator, StringExchangeReturnsTheVpdImage) {
  std::uint8_t in[512] = {};
  ASSERT_EQ(SES_ReadStringPage(kIrc, sizeof kReadVpd, kReadVpd, sizeof in, in, 0), SES_OK);
  EXPECT_EQ(in[0], 0x04);
  EXPECT_EQ(in[4], 0x69);
  EXPECT_EQ(in[8], 16);
  const std::string image(reinterpret_cast<const char *>(in), sizeof in);
  EXPECT_NE(image.find("PCM=3"), std::string::npos);
}

TEST_F(SesOnSimulator, UnknownEnclosureFailsEveryAttempt) {
  std::uint8_t config[296];
  std::memset(config, 0xEE, sizeof config);
  EXPECT_EQ(SES_ReadPage("NOSUCH01", 1, sizeof config, config), SES_RC_CI_FAILED);
  EXPECT_EQ(sys.pauses.size(), 9u);
  EXPECT_EQ(config[0], 0xEE);
}

TEST_F(SesOnSimulator, BusyAdapterEndsTheStringExchangeWithBusy) {
  std::uint8_t in[512] = {};
  ASSERT_EQ(SES_ReadStringPage(kIrc, sizeof kReadVpd, kReadVpd, sizeof in, in, 0), SES_OK);
  AddFault(nicisim::FaultKind::Busy, nicisim::CommandScope::Send, 0);
  EXPECT_EQ(SES_ReadStringPage(kIrc, sizeof kReadVpd, kReadVpd, sizeof in, in, 0), SES_RC_BUSY);
}

TEST_F(SesOnSimulator, ShortStatusFailsWritesButNotReads) {
  std::uint8_t config[296] = {};
  ASSERT_EQ(SES_ReadPage(kIrc, 1, sizeof config, config), SES_OK);
  AddFault(nicisim::FaultKind::ShortStatus, nicisim::CommandScope::Receive, 5);
  EXPECT_EQ(SES_ReadPage(kIrc, 1, sizeof config, config), SES_OK);
  EXPECT_EQ(SES_WritePage(kIrc, sizeof kReadVpd, kReadVpd), SES_RC_ENCLOSURE_STATUS);
  EXPECT_EQ(sys.totalMicros(), 3000000u);
}

}  // namespace

// The transport against the simulated adapter's libniciClient.so, in process: the default lab
// in a scratch state directory, faults put into the lab's state file between operations.
#include <gtest/gtest.h>

#include <cstdlib>
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
  SesOnSimulator() { setenv("NICISIM_STATE_DIR", state_.path().c_str(), 1); }
  ~SesOnSimulator() override {
    // Closed as the exit handler would, and forgotten: each test opens afresh.
    SES_CloseCIConnection();
    isConnOpen = 0;
    // The simulator logs every breach of the calling protocol and every malformed request;
    // only the faults a test put in may show up there.
    std::istringstream log(qeltest::ReadFile(state_.file("nicisim.log")));
    for (std::string line; std::getline(log, line);)
      EXPECT_NE(line.find(" hit on "), std::string::npos) << line;
    unsetenv("NICISIM_STATE_DIR");
  }

  // Makes `kind` hit every command of `scope` to the enclosure, as encsim would.
  void SetFault(nicisim::FaultKind kind, nicisim::CommandScope scope, std::int32_t value) {
    nicisim::LabLock lock(state_.path());
    nicisim::Lab lab;
    std::string error;
    ASSERT_EQ(nicisim::LoadLab(state_.path(), lab, error), 0) << error;
    nicisim::FindEnclosure(lab, kIrc)->faults = {
        {.kind = kind, .scope = scope, .remaining = nicisim::kFaultAlways, .hasValue = true,
         .value = value}};
    ASSERT_EQ(nicisim::SaveLab(state_.path(), lab, error), 0) << error;
  }

  qeltest::ScratchDir state_{"ses-nicisim"};
  qeltest::FakeSystem sys;
};

TEST_F(SesOnSimulator, ReadsPagesAndTheVpdImageOfItsEnclosuresOnly) {
  std::uint8_t config[296] = {}, status[224] = {}, in[512] = {};
  ASSERT_EQ(SES_ReadPage(kIrc, 1, sizeof config, config), SES_OK);
  ASSERT_EQ(SES_ReadPage(kIrc, 2, sizeof status, status), SES_OK);
  ASSERT_EQ(SES_ReadStringPage(kIrc, sizeof kReadVpd, kReadVpd, sizeof in, in, 0), SES_OK);
  EXPECT_EQ(sys.pauses, (std::vector<std::string>{"usleep 0", "usleep 0", "usleep 0"}));
  EXPECT_EQ(config[0], 1);
  EXPECT_EQ(status[0], 2);
  EXPECT_EQ(in[0], 0x04);
  EXPECT_EQ(in[4], 0x69);
  EXPECT_EQ(in[8], 16);
  EXPECT_NE(std::string(reinterpret_cast<const char *>(in), sizeof in).find("PCM=3"),
            std::string::npos);
  // An unknown enclosure fails all nine attempts and leaves the buffer as it was.
  std::fill_n(config, sizeof config, 0xEE);
  EXPECT_EQ(SES_ReadPage("NOSUCH01", 1, sizeof config, config), SES_RC_CI_FAILED);
  EXPECT_EQ(sys.pauses.size(), 12u);
  EXPECT_EQ(config[0], 0xEE);
}

TEST_F(SesOnSimulator, ShortStatusFailsWritesNotReadsAndBusyEndsTheStringExchange) {
  std::uint8_t config[296] = {}, in[512] = {};
  SetFault(nicisim::FaultKind::ShortStatus, nicisim::CommandScope::Receive, 5);
  EXPECT_EQ(SES_ReadPage(kIrc, 1, sizeof config, config), SES_OK);
  EXPECT_EQ(SES_WritePage(kIrc, sizeof kReadVpd, kReadVpd), SES_RC_ENCLOSURE_STATUS);
  EXPECT_EQ(sys.totalMicros(), 3000000u);
  SetFault(nicisim::FaultKind::Busy, nicisim::CommandScope::Send, 0);
  EXPECT_EQ(SES_ReadStringPage(kIrc, sizeof kReadVpd, kReadVpd, sizeof in, in, 0), SES_RC_BUSY);
}

}  // namespace

// Element-control initialisers: which status bits carry over into which control bits.
#include <array>

#include "fake_ses.h"

#include "talvik.h"

namespace {
using Element = std::array<std::uint8_t, kElementSize>;
using Init = void (*)(std::uint8_t *, const std::uint8_t *);

struct InitCase {
  const char *name;
  Init init;
  Element status;
  Element controlBefore;
  Element controlAfter;
};
void PrintTo(const InitCase &c, std::ostream *os) { *os << c.name; }

class ElementInit : public ::testing::TestWithParam<InitCase> {};

TEST_P(ElementInit, SetsControlBitsFromStatus) {
  const InitCase &c = GetParam();
  Element control = c.controlBefore;
  const Element status = c.status;
  c.init(control.data(), status.data());
  EXPECT_EQ(control, c.controlAfter);
  EXPECT_EQ(status, c.status);  // the status element is only read
}

constexpr Element kZero{};
constexpr Element kAll{0xFF, 0xFF, 0xFF, 0xFF};

INSTANTIATE_TEST_SUITE_P(
    Talvik, ElementInit,
    ::testing::Values(
        InitCase{"PowerSupplyTypical", TK_InitPowrSuppCtl, {0x00, 0x85, 0x70, 0x40}, kZero, {0x00, 0x85, 0x70, 0x40}},
        InitCase{"PowerSupplyLowBits", TK_InitPowrSuppCtl, {0x00, 0x03, 0x00, 0x00}, kZero, {0x00, 0x03, 0x00, 0x00}},
        InitCase{"PowerSupplyAllSet", TK_InitPowrSuppCtl, kAll, kZero, {0x00, 0x87, 0x70, 0x40}},
        InitCase{"PowerSupplyOnlyAddsBits", TK_InitPowrSuppCtl, kZero, {0x80, 0x08, 0x01, 0x02}, {0x80, 0x08, 0x01, 0x02}},
        // S 3.3 needs S 2.7, or neither S 3.1 nor S 2.5.
        InitCase{"DeviceBypassABlocked", TK_InitDevCtl, {0x00, 0x00, 0x00, 0x0A}, kZero, kZero},
        InitCase{"DeviceBypassAOverride", TK_InitDevCtl, {0x00, 0x00, 0x80, 0x0A}, kZero, {0x00, 0x00, 0x00, 0x08}},
        InitCase{"DeviceBypassABlockedByS25", TK_InitDevCtl, {0x00, 0x00, 0x20, 0x08}, kZero, kZero},
        InitCase{"DeviceBypassAFree", TK_InitDevCtl, {0x00, 0x00, 0x00, 0x08}, kZero, {0x00, 0x00, 0x00, 0x08}},
        // S 3.2 needs S 3.7, or neither S 3.0 nor S 2.4.
        InitCase{"DeviceBypassBFree", TK_InitDevCtl, {0x00, 0x00, 0x00, 0x04}, kZero, {0x00, 0x00, 0x00, 0x04}},
        InitCase{"DeviceBypassBBlocked", TK_InitDevCtl, {0x00, 0x00, 0x10, 0x05}, kZero, kZero},
        InitCase{"DeviceBypassBOverride", TK_InitDevCtl, {0x00, 0x00, 0x10, 0x85}, kZero, {0x00, 0x00, 0x00, 0x04}},
        InitCase{"DeviceAllSet", TK_InitDevCtl, kAll, kZero, {0x40, 0x00, 0x0E, 0x2C}},
        InitCase{"EncServAllSet", TK_InitEncServCtl, kAll, kZero, {0x00, 0x80, 0x00, 0x30}},
        InitCase{"EncServFree", TK_InitEncServCtl, {0x00, 0x80, 0x00, 0x3C}, kZero, {0x00, 0x80, 0x00, 0x3C}},
        InitCase{"ScsiPortAllSet", TK_InitSCSIPortCtl, kAll, kZero, {0x00, 0x00, 0x00, 0x10}},
        // Cooling: S 1.7 lands on C 2.1.
        InitCase{"CoolingMovedBit", TK_InitCoolCtl, {0x00, 0x80, 0x00, 0x00}, kZero, {0x00, 0x00, 0x02, 0x00}},
        InitCase{"CoolingAllSet", TK_InitCoolCtl, kAll, kZero, {0x00, 0x00, 0x02, 0x40}},
        InitCase{"DisplayAllSet", TK_InitDispCtl, kAll, kZero, {0x00, 0xF0, 0x3F, 0xFF}},
        // Byte 3 is copied, not ORed: the one assignment among the initialisers.
        InitCase{"DisplayByte3Copied", TK_InitDispCtl, {0x00, 0x00, 0x00, 0x01}, {0x00, 0x00, 0x00, 0xFF}, {0x00, 0x00, 0x00, 0x01}}),
    CaseName());

TEST(ElementInitSelect, NoInitialiserSetsTheSelectBit) {
  for (Init init : {TK_InitDevCtl, TK_InitEncServCtl, TK_InitSCSIPortCtl, TK_InitPowrSuppCtl,
                    TK_InitCoolCtl, TK_InitDispCtl}) {
    Element control{};
    init(control.data(), kAll.data());
    EXPECT_EQ(control[0] & 0x80, 0);
  }
}
}  // namespace

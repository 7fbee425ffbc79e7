// Element-control initialisers: carry settings of a status element over into the matching
// control element, so a control page built from a fresh status page keeps them. Each
// initialiser is a table of bit rules; the rules only ever set control bits, never clear one.
#include <array>
#include <cstdint>
#include <span>

#include "talvik.h"

namespace {
// Extra test a rule makes on the status element before it sets its control bit. The names
// spell the test: S<byte><bit> is a status bit.
enum class Condition : std::uint8_t {
  Always,
  S27SetOrS31AndS25Clear,  // device element: S 2.7 set, or else neither S 3.1 nor S 2.5
  S37SetOrS30AndS24Clear,  // device element: S 3.7 set, or else neither S 3.0 nor S 2.4
  S31Clear,
  S30Clear,
};

// If the status bit is set and the condition holds, set the control bit.
struct BitRule {
  std::uint8_t statusByte;
  std::uint8_t statusBit;
  Condition condition;
  std::uint8_t controlByte;
  std::uint8_t controlBit;
};

constexpr bool Bit(const std::uint8_t *element, std::uint8_t byte, std::uint8_t bit) {
  return ((element[byte] >> bit) & 1u) != 0;
}

constexpr bool Holds(Condition c, const std::uint8_t *s) {
  switch (c) {
    case Condition::Always:
      return true;
    case Condition::S27SetOrS31AndS25Clear:
      return Bit(s, 2, 7) || (!Bit(s, 3, 1) && !Bit(s, 2, 5));
    case Condition::S37SetOrS30AndS24Clear:
      return Bit(s, 3, 7) || (!Bit(s, 3, 0) && !Bit(s, 2, 4));
    case Condition::S31Clear:
      return !Bit(s, 3, 1);
    case Condition::S30Clear:
      return !Bit(s, 3, 0);
  }
  return false;
}

void Apply(std::span<const BitRule> rules, std::uint8_t *control, const std::uint8_t *status) {
  for (const BitRule &r : rules) {
    if (Bit(status, r.statusByte, r.statusBit) && Holds(r.condition, status)) {
      control[r.controlByte] = static_cast<std::uint8_t>(control[r.controlByte] | (1u << r.controlBit));
    }
  }
}

constexpr auto A = Condition::Always;

constexpr std::array<BitRule, 7> kDeviceRules{{
    {0, 6, A, 0, 6},
    {2, 3, A, 2, 3},
    {2, 2, A, 2, 2},
    {2, 1, A, 2, 1},
    {3, 5, A, 3, 5},
    {3, 3, Condition::S27SetOrS31AndS25Clear, 3, 3},
    {3, 2, Condition::S37SetOrS30AndS24Clear, 3, 2},
}};

constexpr std::array<BitRule, 5> kEncServRules{{
    {1, 7, A, 1, 7},
    {3, 5, A, 3, 5},
    {3, 4, A, 3, 4},
    {3, 3, Condition::S31Clear, 3, 3},
    {3, 2, Condition::S30Clear, 3, 2},
}};

constexpr std::array<BitRule, 1> kScsiPortRules{{
    {3, 4, A, 3, 4},
}};

constexpr std::array<BitRule, 8> kPowerSupplyRules{{
    {1, 7, A, 1, 7},
    {3, 6, A, 3, 6},
    {1, 2, A, 1, 2},
    {1, 1, A, 1, 1},
    {1, 0, A, 1, 0},
    {2, 6, A, 2, 6},
    {2, 5, A, 2, 5},
    {2, 4, A, 2, 4},
}};

// The cooling element's status bit 1.7 lands on control bit 2.1, a different position.
constexpr std::array<BitRule, 2> kCoolingRules{{
    {3, 6, A, 3, 6},
    {1, 7, A, 2, 1},
}};

// Display: the high nibble of byte 1 and the low six bits of byte 2 carry over; byte 3 is
// copied whole (below).
constexpr std::array<BitRule, 10> kDisplayRules{{
    {1, 7, A, 1, 7},
    {1, 6, A, 1, 6},
    {1, 5, A, 1, 5},
    {1, 4, A, 1, 4},
    {2, 5, A, 2, 5},
    {2, 4, A, 2, 4},
    {2, 3, A, 2, 3},
    {2, 2, A, 2, 2},
    {2, 1, A, 2, 1},
    {2, 0, A, 2, 0},
}};
constexpr std::size_t kDisplayCopiedByte = 3;
}  // namespace

void TK_InitDevCtl(std::uint8_t *control, const std::uint8_t *status) {
  Apply(kDeviceRules, control, status);
}

void TK_InitEncServCtl(std::uint8_t *control, const std::uint8_t *status) {
  Apply(kEncServRules, control, status);
}

void TK_InitSCSIPortCtl(std::uint8_t *control, const std::uint8_t *status) {
  Apply(kScsiPortRules, control, status);
}

void TK_InitPowrSuppCtl(std::uint8_t *control, const std::uint8_t *status) {
  Apply(kPowerSupplyRules, control, status);
}

void TK_InitCoolCtl(std::uint8_t *control, const std::uint8_t *status) {
  Apply(kCoolingRules, control, status);
}

void TK_InitDispCtl(std::uint8_t *control, const std::uint8_t *status) {
  Apply(kDisplayRules, control, status);
  control[kDisplayCopiedByte] = status[kDisplayCopiedByte];
}

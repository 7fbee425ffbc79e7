// Code-to-name lookups: the examples operators rely on, every row reachable by its keys, the
// shared result buffer and the failure trace line.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "qelcodes.h"
#include "qeldebug_internal.h"

namespace {

constexpr std::uint32_t Neg(std::int32_t v) { return static_cast<std::uint32_t>(v); }
const char *Iacl(std::uint32_t code, std::uint32_t) { return GetIaclTransactionName(code); }

TEST(CodeTables, LookupExamples) {
  // Names a caller relies on; a miss gives "" (the closing row never matches). Code: a code in
  // its class (0: every class); Fn: a service's function; Iacl: an IACL function code.
  const auto Code = GetDebugErrorString, Fn = GetAdapterTransactionName;
  const struct { const char *(*lookup)(std::uint32_t, std::uint32_t); std::uint32_t a, b; const char *name; } cases[] = {
      {Code, 0xFFFFFFFD, 2, ""},  // a sign-extended status byte
      {Code, Neg(-1), 1, "AE_UnknownFunction"}, {Code, 0xFD, 2, "DE_Failure"}, {Code, 60, 4, "FN_ISAL_Download"},
      {Code, 1, 0, "AS_Warning?DS_Warning?FC_IACLVersion"}, {Code, 60, 3, "FC_AllComponentView"}, {Code, 0xFFFF, 0, ""},
      {Code, Neg(-32768), 1, "AE_Incomplete"}, {Code, Neg(-18), 1, "AE_MediumError"},
      {Code, Neg(-900), 1, "AE_IllReqNoOpenSegment"}, {Fn, 16, 59, "FN_ISAL_SCSI"}, {Fn, 7, 59, ""},
      {Fn, 1, 33, "FN_REGY_TestResrcsReady"}, {Fn, 7, 145, "FN_ADAP_FlashIndicator"}, {Fn, 16, 46, "FN_ISALMgr_VPDInquiry"},
      {Fn, 16, 47, "FN_ISALMgr_Characteristics"}, {Fn, 16, 55, "FN_ISAL_Progress"}, {Iacl, 1, 0, "FC_IACLVersion"},
      {Iacl, 62, 0, "FC_RebuildParity"}, {Iacl, 63, 0, ""}};
  for (const auto &c : cases) EXPECT_STREQ(c.lookup(c.a, c.b), c.name) << c.a << " " << c.b;
  // One result buffer, cleared by each lookup.
  const char *first = GetDebugErrorString(0, 0);
  EXPECT_EQ(first, GetIaclTransactionName(63));
  EXPECT_STREQ(first, "");
  // A miss traces both keys in table order (function first for the adapter table), in hex.
  testing::internal::CaptureStdout();
  QEL_DebugStream = stdout;
  GetAdapterTransactionName(7, 59);
  QEL_DebugStream = nullptr;
  const std::string text = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(text.ends_with("qeldebug:1202 TwoInputStringLookup: Failed to match Input1 0x3b Input2 0x7\n")) << text;
}

// Each row's own keys find it: no duplicate keys shadow a row and no row sits past a stop.
TEST(CodeTables, EveryRowIsFoundByItsKeys) {
  for (const auto &[rows, count] : {std::pair<const CodeNameEntry *, int>{ValueToString, kValueToStringRows},
           {AdapterServiceTransactionArray, kAdapterServiceTransactionRows}, {IaclTransactionArray, kIaclTransactionRows}}) {
    for (int i = 0; i < count; ++i) {
      EXPECT_STREQ(TwoInputStringLookup(rows[i].key1, rows[i].key2, rows), rows[i].name) << i;
      EXPECT_NE(std::string(TwoInputStringLookup(rows[i].key1, 0, rows)).find(rows[i].name), std::string::npos);
    }
  }
}

}  // namespace

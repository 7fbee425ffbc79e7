// Code-to-name lookups: the examples operators rely on, every row reachable by its keys, the
// shared result buffer and the failure trace line.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "qelcodes.h"
#include "qeldebug_internal.h"

namespace {

constexpr std::uint32_t Code(std::int32_t v) { return static_cast<std::uint32_t>(v); }
const char *Iacl(std::uint32_t code, std::uint32_t) { return GetIaclTransactionName(code); }

TEST(CodeTables, LookupExamples) {
  // Names a caller relies on; a miss gives "" (the closing row never matches).
  const struct { const char *(*lookup)(std::uint32_t, std::uint32_t); std::uint32_t a, b; const char *name; } cases[] = {
      {GetDebugErrorString, Code(-1), 1, "AE_UnknownFunction"}, {GetDebugErrorString, 0xFD, 2, "DE_Failure"},
      {GetDebugErrorString, 0xFFFFFFFD, 2, ""},  // a sign-extended status byte
      {GetDebugErrorString, 1, 0, "AS_Warning?DS_Warning?FC_IACLVersion"},  // class 0: every class
      {GetDebugErrorString, 60, 4, "FN_ISAL_Download"}, {GetDebugErrorString, 60, 3, "FC_AllComponentView"},
      {GetDebugErrorString, Code(-32768), 1, "AE_Incomplete"}, {GetDebugErrorString, 0xFFFF, 0, ""},
      {GetAdapterTransactionName, 16, 59, "FN_ISAL_SCSI"}, {GetAdapterTransactionName, 7, 59, ""},
      {Iacl, 1, 0, "FC_IACLVersion"}, {Iacl, 62, 0, "FC_RebuildParity"}, {Iacl, 63, 0, ""}};
  for (const auto &c : cases) EXPECT_STREQ(c.lookup(c.a, c.b), c.name) << c.a << " " << c.b;
  // One result buffer, cleared by each lookup.
  const char *first = GetDebugErrorString(0, 0);
  EXPECT_EQ(first, GetIaclTransactionName(63));
  EXPECT_STREQ(first, "");
  // A miss traces both keys in table order (function first for the adapter table), in hex.
  FILE *trace = QEL_DebugStream = std::tmpfile();
  GetAdapterTransactionName(7, 59);
  QEL_DebugStream = nullptr;
  std::string text(200, '\0');
  std::rewind(trace);
  text.resize(std::fread(text.data(), 1, text.size(), trace));
  std::fclose(trace);
  EXPECT_TRUE(text.ends_with("qeldebug:1202 TwoInputStringLookup: Failed to match Input1 0x3b Input2 0x7\n")) << text;
}

// Each row's own keys find it: no duplicate keys shadow a row and no row sits past a stop.
TEST(CodeTables, EveryRowIsFoundByItsKeys) {
  const std::pair<const CodeNameEntry *, int> tables[] = {{ValueToString, kValueToStringRows},
      {AdapterServiceTransactionArray, kAdapterServiceTransactionRows}, {IaclTransactionArray, kIaclTransactionRows}};
  for (const auto &[rows, count] : tables) {
    for (int i = 0; i < count; ++i) {
      EXPECT_STREQ(TwoInputStringLookup(rows[i].key1, rows[i].key2, rows), rows[i].name) << i;
      EXPECT_NE(std::string(TwoInputStringLookup(rows[i].key1, 0, rows)).find(rows[i].name), std::string::npos);
    }
  }
}

}  // namespace

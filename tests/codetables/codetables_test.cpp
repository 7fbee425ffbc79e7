// Code-to-name lookups: the examples operators rely on, the tables' sizes and order, and the
// failure trace line.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "qelcodes.h"
#include "qeldebug_internal.h"

namespace {

constexpr std::uint32_t Code(std::int32_t v) { return static_cast<std::uint32_t>(v); }

// Captures the trace lines the lookups write while the object lives.
class TraceCapture {
 public:
  TraceCapture() : saved_(QEL_DebugStream), file_(std::tmpfile()) { QEL_DebugStream = file_; }
  ~TraceCapture() {
    QEL_DebugStream = saved_;
    if (file_ != nullptr) std::fclose(file_);
  }
  TraceCapture(const TraceCapture &) = delete;
  TraceCapture &operator=(const TraceCapture &) = delete;

  std::string Text() {
    std::string s;
    std::fflush(file_);
    std::rewind(file_);
    for (int ch = std::fgetc(file_); ch != EOF; ch = std::fgetc(file_)) s += static_cast<char>(ch);
    return s;
  }

 private:
  FILE *saved_;
  FILE *file_;
};

std::string FailureLine(const char *input1, const char *input2) {
  return std::string("qeldebug:1202 TwoInputStringLookup: Failed to match Input1 ") + input1 +
         " Input2 " + input2 + "\n";
}

enum class Entry { Debug, Adapter, Iacl };

struct LookupCase {
  const char *what;
  Entry entry;
  std::uint32_t a;  // value / service / function code
  std::uint32_t b;  // class / function (unused for Iacl)
  const char *expected;
  bool traces;  // no match: the failure line is traced
};

const char *Lookup(Entry e, std::uint32_t a, std::uint32_t b) {
  switch (e) {
    case Entry::Debug: return GetDebugErrorString(a, b);
    case Entry::Adapter: return GetAdapterTransactionName(a, b);
    case Entry::Iacl: return GetIaclTransactionName(a);
  }
  return nullptr;
}

const LookupCase kLookups[] = {
    {"minus one in class 1", Entry::Debug, Code(-1), 1, "AE_UnknownFunction", false},
    {"directive status", Entry::Debug, 0xFD, 2, "DE_Failure", false},
    {"directive status sign-extended", Entry::Debug, 0xFFFFFFFD, 2, "", true},
    {"class 0 collects all", Entry::Debug, 1, 0, "AS_Warning?DS_Warning?FC_IACLVersion", false},
    {"class 0 of zero", Entry::Debug, 0, 0, "AS_Success?DS_Success", false},
    {"class 0 of a FN_ code", Entry::Debug, 101, 0, "FN_IACL_Command", false},
    {"class picks the block", Entry::Debug, 60, 4, "FN_ISAL_Download", false},
    {"class picks the block 3", Entry::Debug, 60, 3, "FC_AllComponentView", false},
    {"lowest code", Entry::Debug, Code(-32768), 1, "AE_Incomplete", false},
    {"gap in a run", Entry::Debug, Code(-5), 1, "", true},
    {"closing class", Entry::Debug, 0xFFFF, 5, "", true},
    {"class 5 of a real code", Entry::Debug, 1, 5, "", true},
    {"closing key any class", Entry::Debug, 0xFFFF, 0, "", true},
    {"ISAL SCSI", Entry::Adapter, 16, 59, "FN_ISAL_SCSI", false},
    {"wrong service", Entry::Adapter, 7, 59, "", true},
    {"peer", Entry::Adapter, 9, 155, "FN_PEER_ToRemote", false},
    {"RALS not a service function", Entry::Adapter, 16, 160, "", true},
    {"IACL first", Entry::Iacl, 1, 0, "FC_IACLVersion", false},
    {"IACL last", Entry::Iacl, 62, 0, "FC_RebuildParity", false},
    {"IACL past the end", Entry::Iacl, 63, 0, "", true},
};

TEST(CodeTables, LookupExamples) {
  for (const LookupCase &c : kLookups) {
    SCOPED_TRACE(c.what);
    TraceCapture trace;
    EXPECT_STREQ(Lookup(c.entry, c.a, c.b), c.expected);
    const std::string text = trace.Text();
    if (!c.traces) {
      EXPECT_EQ(text.find("Failed to match"), std::string::npos) << text;
    } else {
      EXPECT_NE(text.find("qeldebug:1202 TwoInputStringLookup: Failed to match Input1 0x"),
                std::string::npos)
          << text;
    }
  }
}

TEST(CodeTables, FailureTraceCarriesBothKeysInTableOrder) {
  TraceCapture trace;
  // Service 7 offers no function 59: the table is keyed by function first.
  EXPECT_STREQ(GetAdapterTransactionName(7, 59), "");
  EXPECT_NE(trace.Text().find(FailureLine("0x3b", "0x7")), std::string::npos) << trace.Text();
  EXPECT_STREQ(GetDebugErrorString(0xFFFFFFFD, 2), "");
  EXPECT_NE(trace.Text().find(FailureLine("0xfffffffd", "0x2")), std::string::npos);
}

TEST(CodeTables, NoTraceWithoutStream) {
  FILE *saved = QEL_DebugStream;
  QEL_DebugStream = nullptr;
  EXPECT_STREQ(GetIaclTransactionName(63), "");
  QEL_DebugStream = saved;
}

TEST(CodeTables, ResultBufferIsSharedAndCleared) {
  const char *first = GetDebugErrorString(1, 0);
  EXPECT_STREQ(first, "AS_Warning?DS_Warning?FC_IACLVersion");
  const char *second = GetIaclTransactionName(63);
  EXPECT_EQ(first, second);
  EXPECT_STREQ(second, "");
  EXPECT_STREQ(GetIaclTransactionName(2), "FC_ResrcCount");
}

struct SizeCase {
  const CodeNameEntry *table;
  int rows;
};

int RowsBeforeClosing(const CodeNameEntry *t) {
  int n = 0;
  while (t[n].key2 != kClosingKey2) ++n;
  return n;
}

TEST(CodeTables, EveryTableHasItsRowsThenTheClosingRow) {
  const SizeCase kSizes[] = {{ValueToString, 427}, {AdapterServiceTransactionArray, 114},
                             {IaclTransactionArray, 62}};
  for (const SizeCase &s : kSizes) {
    ASSERT_EQ(RowsBeforeClosing(s.table), s.rows);
    const CodeNameEntry &end = s.table[s.rows];
    EXPECT_EQ(end.key1, 0xFFFFu);
    EXPECT_STREQ(end.name, "endoftable");
  }
}

struct RowCase {
  const CodeNameEntry *table;
  int index;
  std::uint32_t key1;
  std::uint32_t key2;
  const char *name;
};

// First and last rows of the tables and of their blocks, and a few rows inside runs.
const RowCase kRows[] = {
    {ValueToString, 0, 1, 1, "AS_Warning"},
    {ValueToString, 5, Code(-4), 1, "AE_HardwareError"},
    {ValueToString, 6, Code(-6), 1, "AE_ParityNotValid"},
    {ValueToString, 49, Code(-90), 1, "AE_IllReqNotSingleBlock"},
    {ValueToString, 57, Code(-82), 1, "AE_IllReqBadLength"},
    {ValueToString, 78, Code(-500), 1, "AE_BadSerialNumber"},
    {ValueToString, 112, Code(-466), 1, "AE_CLNNotHeld"},
    {ValueToString, 156, Code(-980), 1, "AE_DprOther"},
    {ValueToString, 184, Code(-32768), 1, "AE_Incomplete"},
    {ValueToString, 185, Code(-61), 1, "AE_IllegalReqPartitionOpen"},
    {ValueToString, 186, 7, 2, "DS_InterruptNotInUse"},
    {ValueToString, 194, 255, 2, "DP_Pending"},
    {ValueToString, 232, 217, 2, "DE_GatewayDisconnected"},
    {ValueToString, 239, 186, 2, "DE_InjectIoctl"},
    {ValueToString, 240, 1, 3, "FC_IACLVersion"},
    {ValueToString, 301, 62, 3, "FC_RebuildParity"},
    {ValueToString, 309, 108, 3, "FN_IACL_ChangeVersion"},
    {ValueToString, 310, 11, 4, "FN_DBG_LiveDump"},
    {ValueToString, 358, 60, 4, "FN_ISAL_Download"},
    {ValueToString, 359, 62, 4, "FN_ISAL_Fence"},
    {ValueToString, 425, 170, 4, "FN_RALS_ResourceStatistics"},
    {ValueToString, 426, 200, 4, "FN_ADAP_Unslander"},
    {AdapterServiceTransactionArray, 0, 101, 6, "FN_IACL_Command"},
    {AdapterServiceTransactionArray, 8, 11, 17, "FN_DBG_LiveDump"},
    {AdapterServiceTransactionArray, 35, 39, 1, "FN_REGY_ResetErrorFromRegistry"},
    {AdapterServiceTransactionArray, 79, 200, 7, "FN_ADAP_Unslander"},
    {AdapterServiceTransactionArray, 80, 40, 16, "FN_ISALMgr_Inquiry"},
    {AdapterServiceTransactionArray, 97, 73, 16, "FN_ISALMgr_Characteristics64"},
    {AdapterServiceTransactionArray, 98, 51, 16, "FN_ISAL_Close"},
    {AdapterServiceTransactionArray, 113, 74, 16, "FN_ISAL_FlushExtent"},
    {IaclTransactionArray, 0, 1, 1, "FC_IACLVersion"},
    {IaclTransactionArray, 61, 62, 1, "FC_RebuildParity"},
};

TEST(CodeTables, SpotRows) {
  for (const RowCase &r : kRows) {
    SCOPED_TRACE(r.name);
    const CodeNameEntry &row = r.table[r.index];
    EXPECT_EQ(row.key1, r.key1);
    EXPECT_EQ(row.key2, r.key2);
    EXPECT_STREQ(row.name, r.name);
  }
}

TEST(CodeTables, ValueTableBlocksComeInClassOrder) {
  const int kBlock[] = {186, 54, 70, 117};
  int i = 0;
  for (std::uint32_t cls = 1; cls <= 4; ++cls) {
    for (int n = 0; n < kBlock[cls - 1]; ++n, ++i) ASSERT_EQ(ValueToString[i].key2, cls) << i;
  }
  EXPECT_EQ(ValueToString[i].key2, kClosingKey2);
}

TEST(CodeTables, IaclTableCountsUpFromOne) {
  for (std::uint32_t i = 0; i < 62; ++i) {
    EXPECT_EQ(IaclTransactionArray[i].key1, i + 1);
    EXPECT_EQ(IaclTransactionArray[i].key2, 1u);
    EXPECT_STREQ(IaclTransactionArray[i].name, ValueToString[240 + i].name);
  }
}

// Each row's own keys find it: no duplicate keys shadow a row and no row sits past a stop.
TEST(CodeTables, EveryRowIsFoundByItsKeys) {
  struct Table {
    const CodeNameEntry *rows;
    int count;
  } const kTables[] = {{ValueToString, 427}, {AdapterServiceTransactionArray, 114},
                       {IaclTransactionArray, 62}};
  for (const Table &t : kTables) {
    for (int i = 0; i < t.count; ++i) {
      const CodeNameEntry &row = t.rows[i];
      EXPECT_STREQ(TwoInputStringLookup(row.key1, row.key2, t.rows), row.name) << i;
      EXPECT_NE(std::string(TwoInputStringLookup(row.key1, 0, t.rows)).find(row.name),
                std::string::npos);
    }
  }
}

}  // namespace

// The code-to-name lookups with codes from the fuzz input, on the three tables of the adapter's
// codes and on tables made from the input (many matches, long names), against a lookup worked
// out here on its own.
//
// Input: op byte, flags byte (bit 0: no trace), then the keys and, for a made table, its rows.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "qelcodes.h"

namespace {

using qelfuzz::Reader;

// The text the lookup must give: the first match's name, or with input2 0 every match in table
// order joined by "?", cut to the result buffer.
std::string Expected(std::uint32_t input1, std::uint32_t input2, const CodeNameEntry *table) {
  std::string out;
  for (const CodeNameEntry *row = table; row->key2 != kClosingKey2; ++row) {
    if (row->key1 != input1 || (input2 != 0 && row->key2 != input2)) continue;
    if (!out.empty()) out += "?";
    out += row->name;
    if (input2 != 0) break;
  }
  if (out.size() > static_cast<std::size_t>(kErrorStringSize - 1)) out.resize(kErrorStringSize - 1);
  return out;
}

struct Table {
  const CodeNameEntry *rows;
  int count;
};

const Table kTables[] = {{ValueToString, kValueToStringRows},
                         {AdapterServiceTransactionArray, kAdapterServiceTransactionRows},
                         {IaclTransactionArray, kIaclTransactionRows}};

// A key: a table's own key half the time, so lookups match as often as they miss.
std::uint32_t Key(Reader &r, const Table &t, bool first) {
  const std::uint8_t pick = r.u8();
  if ((pick & 0x80) != 0) return r.u32();
  const CodeNameEntry &row = t.rows[r.u16() % t.count];
  if (first) return row.key1;
  return (pick & 0x40) != 0 ? 0 : row.key2;
}

void Check(const char *got, const std::string &expected) {
  QELFUZZ_CHECK(got != nullptr);
  QELFUZZ_CHECK(std::strlen(got) < static_cast<std::size_t>(kErrorStringSize));
  QELFUZZ_CHECK(expected == got);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  qelfuzz::Setup("fuzz_codetables");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  Reader r(data, size);
  const std::uint8_t op = r.u8();
  const std::uint8_t flags = r.u8();
  qelfuzz::Run run((flags & 0x01) == 0);

  switch (op % 5) {
    case 0: {
      const std::uint32_t value = Key(r, kTables[0], true);
      const std::uint32_t valueClass = Key(r, kTables[0], false);
      Check(GetDebugErrorString(value, valueClass), Expected(value, valueClass, ValueToString));
      break;
    }
    case 1: {
      const std::uint32_t function = Key(r, kTables[1], true);
      const std::uint32_t service = Key(r, kTables[1], false);
      Check(GetAdapterTransactionName(service, function),
            Expected(function, service, AdapterServiceTransactionArray));
      break;
    }
    case 2: {
      const std::uint32_t code = Key(r, kTables[2], true);
      Check(GetIaclTransactionName(code), Expected(code, 1, IaclTransactionArray));
      break;
    }
    case 3: {
      const Table &t = kTables[r.u8() % 3];
      const std::uint32_t input1 = Key(r, t, true);
      const std::uint32_t input2 = Key(r, t, false);
      Check(TwoInputStringLookup(input1, input2, t.rows), Expected(input1, input2, t.rows));
      break;
    }
    default: {
      // A table from the input: few distinct keys, so many rows match and names pile up past
      // the result buffer.
      const std::size_t count = r.u8();
      std::vector<std::string> names(count);
      std::vector<CodeNameEntry> rows;
      for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t key1 = r.u8() % 4;
        std::uint32_t key2 = r.u8() % 8;
        if (key2 == kClosingKey2) key2 = 1;
        names[i] = r.text(300);
        rows.push_back({key1, key2, names[i].c_str()});
      }
      rows.push_back({kClosingKey1, kClosingKey2, "endoftable"});
      const std::uint32_t input1 = r.u8() % 4;
      const std::uint32_t input2 = r.u8() % 8;
      Check(TwoInputStringLookup(input1, input2, rows.data()), Expected(input1, input2, rows.data()));
      break;
    }
  }
  return 0;
}

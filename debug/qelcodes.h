// Code-to-name tables of the adapter's service interface: result and status codes, directive
// status codes, IACL function codes and service function numbers, turned into their symbolic
// names for trace and error texts. One two-key lookup serves all three tables.
#pragma once

#include <cstdint>

// One table row. Negative codes are stored as their 32-bit two's-complement pattern.
struct CodeNameEntry {
  std::uint32_t key1;  // the code itself
  std::uint32_t key2;  // its class or service number; kClosingKey2 only in the closing row
  const char *name;
};

// Every table ends with the row {kClosingKey1, kClosingKey2, "endoftable"}. A lookup stops at
// the first row whose key2 is kClosingKey2, so the closing row never matches anything.
inline constexpr std::uint32_t kClosingKey1 = 0xFFFF;
inline constexpr std::uint32_t kClosingKey2 = 5;

// Rows of each table, not counting the closing row.
inline constexpr int kValueToStringRows = 427;
inline constexpr int kAdapterServiceTransactionRows = 114;
inline constexpr int kIaclTransactionRows = 62;

// Size of the shared result text, terminator included.
inline constexpr int kErrorStringSize = 256;

// key2 1: adapter status and error codes; 2: directive status and error codes;
// 3: IACL function codes; 4: service function numbers.
extern const CodeNameEntry ValueToString[kValueToStringRows + 1];
// key1: function number; key2: the number of the service that offers it
// (1 REGY, 6 IACL, 7 ADAP, 8 PROXY, 9 PEER, 16 ISAL and ISALMgr, 17 DBG).
extern const CodeNameEntry AdapterServiceTransactionArray[kAdapterServiceTransactionRows + 1];
// key1: IACL function code; key2: 1 in every row.
extern const CodeNameEntry IaclTransactionArray[kIaclTransactionRows + 1];

// Looks up (input1, input2) in table: key1 must equal input1, and key2 must equal input2 unless
// input2 is 0, which matches any key2 and collects every match in table order, "?" between.
// A nonzero input2 stops at the first match. Without a match the text is empty and a trace line
// tells so. The text lives in one buffer of the module that the next lookup overwrites: copy it
// or use it at once (not reentrant).
const char *TwoInputStringLookup(std::uint32_t input1, std::uint32_t input2,
                                 const CodeNameEntry *table);

// Name of an adapter status, directive status, IACL or function code in its class (0: any class).
const char *GetDebugErrorString(std::uint32_t value, std::uint32_t valueClass);
// Name of a function of an adapter service.
const char *GetAdapterTransactionName(std::uint32_t service, std::uint32_t function);
// Name of an IACL function code.
const char *GetIaclTransactionName(std::uint32_t functionCode);

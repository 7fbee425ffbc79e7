// The two hex dumps on bytes and titles from the fuzz input: the page library's OutputData
// (to the trace or standard output) and the trace module's titled DumpBinary.
//
// Input: op byte, flags byte (bit 0: no trace), then the operation's arguments and the bytes.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "qeldebug.h"
#include "talvik.h"

namespace {

using qelfuzz::Reader;

// Occurrences of needle in text.
std::size_t Count(const std::string &text, const std::string &needle) {
  std::size_t n = 0;
  for (std::size_t at = text.find(needle); at != std::string::npos;
       at = text.find(needle, at + needle.size())) {
    ++n;
  }
  return n;
}

void RunOp(std::uint8_t op, bool traceOn, Reader &r) {
  switch (op % 4) {
    case 0: {
      // The dump to the trace: one row per sixteen bytes, none for an empty page.
      std::vector<std::uint8_t> bytes = r.rest();
      auto data = std::unique_ptr<std::uint8_t[]>(new std::uint8_t[bytes.size() + 1]);
      if (!bytes.empty()) std::memcpy(data.get(), bytes.data(), bytes.size());
      const auto size = static_cast<std::uint32_t>(bytes.size());
      QELFUZZ_CHECK(OutputData(data.get(), size, 1) == 0);
      if (traceOn) {
        const std::string trace = qelfuzz::TraceText();
        // Rows start their lines; a row's characters never hold a newline.
        QELFUZZ_CHECK(Count("\n" + trace, "\ntalvik:2410 ") == (size + 15) / 16);
      }
      break;
    }
    case 1: {
      std::vector<std::uint8_t> bytes = r.rest();
      auto data = std::unique_ptr<std::uint8_t[]>(new std::uint8_t[bytes.size() + 1]);
      if (!bytes.empty()) std::memcpy(data.get(), bytes.data(), bytes.size());
      QELFUZZ_CHECK(OutputData(data.get(), static_cast<std::uint32_t>(bytes.size()), 0) == 0);
      break;
    }
    default: {
      const std::uint8_t where = r.u8();
      const std::string title = r.text(16384);
      std::vector<std::uint8_t> bytes = r.rest();
      // The length as given, or shorter, or negative (which dumps nothing).
      int length = static_cast<int>(bytes.size());
      if ((where & 0x04) != 0) length = -static_cast<int>(where);
      if ((where & 0x08) != 0 && length > 0) length /= 2;
      auto data = std::unique_ptr<std::uint8_t[]>(new std::uint8_t[bytes.size() + 1]);
      if (!bytes.empty()) std::memcpy(data.get(), bytes.data(), bytes.size());
      if (op % 4 == 2) {
        QELFUZZ_CHECK(DumpBinary(title.c_str(), data.get(), length, where & 0x01, where & 0x02) == 0);
        if (traceOn && (where & 0x02) != 0) {
          const std::string trace = qelfuzz::TraceText();
          const std::size_t rows = length > 0 ? (static_cast<std::size_t>(length) + 15) / 16 : 0;
          // The rows follow the address line; the title before it may hold anything.
          const std::size_t address = trace.rfind("qeldebug:1961 Address: ");
          QELFUZZ_CHECK(address != std::string::npos);
          QELFUZZ_CHECK(trace.find(title) < address);
          const std::string dump = trace.substr(address);
          QELFUZZ_CHECK(Count(dump, "\nqeldebug:2007 ") + Count(dump, "\nqeldebug:2056 ") == rows);
        }
      } else if ((where & 0x01) != 0) {
        QELFUZZ_CHECK(DumpBinaryToStdout(title.c_str(), data.get(), length) == 0);
      } else {
        QELFUZZ_CHECK(DumpBinaryToTrace(title.c_str(), data.get(), length) == 0);
      }
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  qelfuzz::Setup("fuzz_dumps");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  Reader r(data, size);
  const std::uint8_t op = r.u8();
  const std::uint8_t flags = r.u8();
  const bool traceOn = (flags & 0x01) == 0;
  qelfuzz::Run run(traceOn);
  RunOp(op, traceOn, r);
  return 0;
}

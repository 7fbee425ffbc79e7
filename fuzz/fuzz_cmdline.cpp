// The command line from the fuzz input: ParseParams and ValidateParams on any argument vector,
// the program name, and the trace's command-line record with very long and very many words.
//
// Input: op byte, flags byte (bit 0: no trace), a repeat count, then the words separated by
// NUL bytes (the first is the program name). The words are repeated to make long vectors.
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "qeldebug.h"
#include "qelses_pcm.h"

namespace {

using qelfuzz::Reader;

// Words as a writable, NULL-terminated vector, as main receives it.
struct ArgVector {
  std::vector<std::vector<char>> storage;
  std::vector<char *> argv;

  explicit ArgVector(const std::vector<std::string> &words) {
    storage.reserve(words.size());
    for (const std::string &w : words) {
      storage.emplace_back(w.begin(), w.end());
      storage.back().push_back('\0');
    }
    for (auto &s : storage) argv.push_back(s.data());
    argv.push_back(nullptr);
  }
  int argc() const { return static_cast<int>(argv.size() - 1); }
  // True when p points into one of the words.
  bool Owns(const char *p) const {
    for (const auto &s : storage) {
      if (p >= s.data() && p < s.data() + s.size()) return true;
    }
    return false;
  }
};

std::vector<std::string> Words(Reader &r, unsigned repeat) {
  std::vector<std::string> words;
  std::string current;
  for (const std::uint8_t b : r.rest()) {
    if (b == 0) {
      words.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(b));
    }
  }
  words.push_back(current);
  std::vector<std::string> all = words;
  for (unsigned i = 1; i < repeat; ++i) all.insert(all.end(), words.begin() + 1, words.end());
  return all;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  qelfuzz::Setup("fuzz_cmdline");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  Reader r(data, size);
  const std::uint8_t op = r.u8();
  const std::uint8_t flags = r.u8();
  // Up to 256 copies of the words after the program name.
  const unsigned repeat = 1u + r.u8();
  const bool traceOn = (flags & 0x01) == 0;
  qelfuzz::Run run(traceOn);
  ArgVector args(Words(r, (op & 0x02) != 0 ? repeat : 1));

  if ((op & 0x01) != 0) {
    // The record alone: every word, each followed by one blank, on one line.
    RecordCommandLine(args.argc(), args.argv.data());
    if (traceOn) {
      std::string expected;
      for (int i = 0; i < args.argc(); ++i) expected += std::string(args.argv[static_cast<std::size_t>(i)]) + " ";
      const std::string trace = qelfuzz::TraceText();
      const std::string marker = "qeldebug:1906 ";
      const std::size_t at = trace.find(marker);
      QELFUZZ_CHECK(at != std::string::npos);
      QELFUZZ_CHECK(trace.compare(at + marker.size(), expected.size() + 1, expected + "\n") == 0);
    }
    return 0;
  }

  SetCommandName(args.argv[0]);
  QELFUZZ_CHECK(szCmdName != nullptr && std::strchr(szCmdName, '/') == nullptr);
  optind = 0;  // getopt starts afresh, as in a new process
  PcmParams params{nullptr, kNoMode};
  const std::int32_t rc = ParseParams(args.argc(), args.argv.data(), &params);
  QELFUZZ_CHECK(rc == 0 || rc == kExitUsage);
  QELFUZZ_CHECK(params.mode >= kNoMode && params.mode <= kHighestMode);
  if (params.serialNumber != nullptr) QELFUZZ_CHECK(args.Owns(params.serialNumber));
  const std::int32_t valid = ValidateParams(&params);
  QELFUZZ_CHECK(valid == (params.serialNumber != nullptr ? 0 : kExitUsage));
  return 0;
}

// qeltrace: prints a service utility's trace file step by step, with every page dump decoded,
// as text or as JSON Lines.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>

#include "decode.h"
#include "tracereader.h"

namespace {

constexpr int kExitDecoded = 0;
constexpr int kExitStoppedShort = 1;
constexpr int kExitUsage = 2;
constexpr int kExitUnreadable = 2;

constexpr char kUsage[] =
    "usage: qeltrace [--json] [FILE|-]\n"
    "  Prints the steps of a trace file (plain or gzip-compressed; standard input when FILE\n"
    "  is - or missing) with every page dump decoded.\n"
    "  --json  one JSON object per step (JSON Lines)\n";

int Usage(FILE *to, int status) {
  std::fputs(kUsage, to);
  return status;
}

int Run(int argc, char *argv[]) {
  bool json = false;
  const char *path = "-";  // standard input unless a file is named
  bool havePath = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") return Usage(stdout, kExitDecoded);
    if (arg == "--json") {
      json = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      std::fprintf(stderr, "qeltrace: unknown option %s\n", argv[i]);
      return Usage(stderr, kExitUsage);
    } else if (havePath) {
      std::fprintf(stderr, "qeltrace: only one trace file at a time\n");
      return Usage(stderr, kExitUsage);
    } else {
      path = argv[i];
      havePath = true;
    }
  }

  std::string text, error;
  if (qeltrace::LoadTraceText(path, text, error) != 0) {
    std::fprintf(stderr, "qeltrace: %s: %s\n", path, error.c_str());
    return kExitUnreadable;
  }
  qeltrace::Trace trace;
  qeltrace::ReadTrace(text, trace);
  const int rc = DecodeTrace(trace, json, stdout);
  std::fflush(stdout);
  if (rc != 0) {
    std::fprintf(stderr, "qeltrace: %s: line %zu: %s\n", path, trace.stopLine, trace.stopNote.c_str());
    return kExitStoppedShort;
  }
  return kExitDecoded;
}

}  // namespace

int main(int argc, char *argv[]) {
  try {
    return Run(argc, argv);
  } catch (const std::exception &e) {
    std::fprintf(stderr, "qeltrace: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "qeltrace: unexpected failure\n");
  }
  return kExitUnreadable;
}

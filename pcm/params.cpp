// Command line of qelses_pcm: -l <enclosure> [-m <mode>].
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "qeldebug.h"
#include "qelses_pcm.h"

const char *szCmdName = "";

namespace {
constexpr int kLineUsage = 113;

// atoi as the controller's 32-bit C library computes it: strtol's result saturated to the int
// range. On a 64-bit host plain atoi would wrap an over-long number (4294967299 would read as
// 3 and be taken as a mode); this way every host accepts exactly what the target accepts.
std::int32_t TargetAtoi(const char *text) {
  const long value = std::strtol(text, nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<std::int32_t>(value);
}
constexpr char kOptions[] = "l:m:";
}  // namespace

void SetCommandName(const char *argv0) {
  if (argv0 == nullptr) {
    szCmdName = "";
    return;
  }
  const char *slash = std::strrchr(argv0, '/');
  szCmdName = slash != nullptr ? slash + 1 : argv0;
}

std::int32_t Usage(const char *message) {
  std::fprintf(stderr,
               "%s\nUsage:\n# %s -l <enclosure> [-m <mode>]\n\n"
               "   -l = IRC enclosure IPN serial number\n   -m = mode (0-7)\n",
               message, szCmdName);
  QEL_Trace(kPcmModule, kLineUsage, "Usage: %s\n", message);
  return kExitUsage;
}

std::int32_t ParseParams(int argc, char *argv[], PcmParams *params) {
  RecordCommandLine(argc, argv);
  int errors = 0;
  std::int32_t result = 0;
  int opt;
  while ((opt = getopt(argc, argv, kOptions)) != -1) {
    switch (opt) {
      case 'l':
        if (params->serialNumber == nullptr) {
          params->serialNumber = optarg;
        } else {
          ++errors;  // a second -l; the first one stands
        }
        break;
      case 'm':
        if (params->mode != kNoMode) {
          ++errors;  // a second valid -m
        } else if (!std::isdigit(static_cast<unsigned char>(optarg[0]))) {
          ++errors;
        } else {
          const unsigned value = static_cast<unsigned>(TargetAtoi(optarg));
          if (value > static_cast<unsigned>(kHighestMode)) {
            ++errors;
          } else {
            params->mode = static_cast<std::int32_t>(value);
          }
        }
        break;
      default:  // unknown letter or missing argument; getopt has said which
        ++errors;
        break;
    }
  }
  if (optind < argc) {
    std::fprintf(stderr, "%s: Unprocessed parameters at end of command line: ", szCmdName);
    for (int i = optind; i < argc; ++i) std::fprintf(stderr, "%s ", argv[i]);
    std::fprintf(stderr, "\n");
    ++errors;
    result = kExitUsage;
  }
  if (errors >= 1) return Usage("Incorrect Options");
  return result;
}

std::int32_t ValidateParams(const PcmParams *params) {
  if (params->serialNumber == nullptr) return Usage("Enclosure IPN Serial Number must be specified");
  return 0;
}

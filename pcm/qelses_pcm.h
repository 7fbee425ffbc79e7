// qelses_pcm: reads, and on request changes, the PCM mode kept in an IRC enclosure's RDP VPD.
#pragma once

#include <cstdint>

// Exit status of the utility.
enum PcmExitStatus : std::int32_t {
  kExitOk = 0,
  kExitEnclosureFailure = 1,
  kExitUsage = 11,
  kExitNotIrc = 13,
  kExitMismatch = 15,
};

// What the command line asked for.
struct PcmParams {
  const char *serialNumber;  // -l text, points into argv; nullptr until seen
  std::int32_t mode;         // -m value 0..7, or -1 when not given
};

constexpr std::int32_t kNoMode = -1;
constexpr std::int32_t kHighestMode = 7;

// Program name used in messages: argv[0] after its last '/'.
extern const char *szCmdName;

// Module name on this utility's trace lines.
inline constexpr char kPcmModule[] = "qelses_pcm";

// Sets szCmdName from argv[0].
void SetCommandName(const char *argv0);
// Writes the usage text headed by message to standard error, traces it; returns 11.
std::int32_t Usage(const char *message);
// Records the command line and parses -l and -m; 0 or 11.
std::int32_t ParseParams(int argc, char *argv[], PcmParams *params);
// 0 when a serial number was given, else the usage exit (11).
std::int32_t ValidateParams(const PcmParams *params);

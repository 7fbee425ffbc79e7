// qelses_pcm: reads, and on request changes, the PCM mode kept in an IRC enclosure's RDP VPD.
#pragma once

#include <cstddef>
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

// ---- RDP VPD PCM and PRS fields ------------------------------------------------------------
constexpr std::size_t kVpdImageSize = 512;
constexpr std::size_t kPcmFieldOffset = 406;   // "PCM=" and one digit, no terminator
constexpr std::size_t kPrsFieldOffset = 411;   // "PRS=" and one character, no terminator
constexpr std::size_t kVpdFieldSize = 5;
constexpr std::int32_t kModeInvalid = -99;     // no valid PCM field in the image
inline constexpr char kPcmTag[] = "PCM=";      // each field: its tag, then one character
inline constexpr char kPrsTag[] = "PRS=";
constexpr std::size_t kTagSize = 4;

// The RDP VPD image of an update run: filled by ReadVpd(forUpdate 1), edited by CreateNewVpd.
extern std::uint8_t VpdBuffer[kVpdImageSize];

// Reads and verifies the RDP VPD and extracts the mode (0..7, or -99 without a valid field).
// 0 when read, 1 when the read failed (mode then unwritten).
std::int32_t ReadVpd(const char *serialNumber, std::int32_t *mode, std::int32_t forUpdate);
// The mode in a verified image: 0..7, or -99 (with its message) when the field is absent or bad.
// Complaints go to standard error too when forUpdate is 0.
std::int32_t ExtractPcmMode(const std::uint8_t *image, std::int32_t forUpdate);
// Puts "PCM=<mode>" into VpdBuffer, a default "PRS=0" when no PRS field is there, and the checksum.
void CreateNewVpd(std::int32_t mode);

// ---- Power-supply element control ----------------------------------------------------------
constexpr std::size_t kPowerSupplyElementOffsets[] = {184, 188};
constexpr std::uint8_t kSelectBit = 0x80;           // element byte 0: this element is controlled
constexpr std::size_t kModeByte = 1;                // element byte carrying the mode bits
constexpr std::uint8_t kModeMask = 0x07;            // bits 2..0

// Reads the status page and writes a control page selecting only the two power supplies, with
// the mode in their low three bits. 0 when written, 1 on any failure.
std::int32_t UpdateElementControlPage(const PcmParams *params);

// The simulated lab: the enclosures behind the adapter, their pages and VPD images, and the
// faults injected into them. Everything here is plain data that the state file holds.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "simwire.h"

namespace nicisim {

// Kinds of injected faults. Names (for encsim and the state file) are in kFaultKindNames.
enum class FaultKind : std::uint8_t {
  Open,           // niCIOpen fails (lab-wide)
  Busy,           // the send fails with EBUSY
  SendFail,       // the send fails with EIO
  RequestStatus,  // niCIBGetRequestStatus reports failure
  Directive,      // nonzero directive status (byte 48)
  Result,         // nonzero result word (application result = value)
  PageCode,       // a RECEIVE answers with another page code
  StringStatus,   // StringIn status byte nonzero
  Function,       // StringIn carries another function code
  Device,         // StringIn carries another device
  ShortStatus,    // short enclosure status byte nonzero
  VpdLength,      // VPD image read with a wrong length field
  VpdChecksum,    // VPD image read with a wrong checksum
  NoStore,        // a VPD write is accepted but not stored
};
constexpr std::size_t kFaultKindCount = 14;

// Which commands a fault watches.
enum class CommandScope : std::uint8_t { Any, Send, Receive };

constexpr std::int32_t kFaultAlways = -1;
constexpr int kAnyCode = -1;

struct Fault {
  FaultKind kind = FaultKind::Busy;
  CommandScope scope = CommandScope::Any;
  int page = kAnyCode;      // SES page code, or any
  int function = kAnyCode;  // StringOut function code, or any
  std::int32_t remaining = 1;  // commands left to hit, or kFaultAlways
  bool hasValue = false;
  std::int32_t value = 0;
  std::int32_t skip = 0;  // matching commands let through before the first hit
};

// What the enclosure's controllers keep besides pages and VPD images. Everything here is
// changed by the vendor functions (or seeded with encsim) and shown by encsim show.
struct LipRecord {
  std::array<std::uint32_t, kLipWords> words{};
  std::uint32_t writes = 0;
};
struct EventState {
  std::array<std::uint8_t, kEventMaskSize> registered{};  // events reported when they occur
  std::array<std::uint8_t, kEventMaskSize> pending{};     // events that occurred, not cleared
  std::uint32_t registrations = 0;
  std::uint32_t clears = 0;
};
struct Clock {
  std::array<std::uint8_t, kDateTimeFields> fields{0, 1, 1, 0, 0, 0};  // y, mo, d, h, mi, s
  std::uint32_t sets = 0;
};
// A controller reset or statesave as received: function, device byte, parameter byte.
struct ControllerCommand {
  std::uint8_t function = 0;
  std::uint8_t device = 0;
  std::uint8_t parameter = 0;
};
enum class FirmwareState : std::uint8_t { None, Receiving, Committed };
// The image of the download in progress (or the last one), kept as its size and CRC-32 only,
// so a large image does not have to live in the state file.
struct FirmwareDownload {
  FirmwareState state = FirmwareState::None;
  int device = 0;
  std::uint32_t size = 0;
  std::uint32_t crc = 0;  // CRC-32 (IEEE, as zlib) of the bytes received so far
  std::uint32_t pages = 0;
};

struct Enclosure {
  std::string serial;
  std::vector<std::uint8_t> config;                      // configuration page as served
  std::vector<std::uint8_t> status;                      // enclosure status page (224 bytes)
  std::map<int, std::vector<std::uint8_t>> vpd;          // device -> whole VPD image
  std::vector<Fault> faults;
  std::string errorLog;  // log text, newest entries last
  std::string postLog;
  std::map<int, std::vector<std::uint8_t>> lesb;  // device -> counters as served (touched devices)
  std::map<int, LipRecord> lip;                   // device -> LIP page written
  EventState events;
  Clock clock;
  std::string lastDebugCommand;
  std::uint32_t debugCommands = 0;
  std::vector<ControllerCommand> commands;  // resets and statesaves, oldest first
  FirmwareDownload firmware;
};

struct Lab {
  std::vector<Enclosure> enclosures;
  std::vector<Fault> labFaults;  // open failures
};

// Longest serial number an enclosure may have (the request field holds 37 and a NUL).
constexpr std::size_t kMaxSerialLength = 37;
// Limits that keep a hand-edited or damaged state file from growing without bound.
constexpr std::size_t kMaxEnclosures = 256;
constexpr std::size_t kMaxFaultsPerEnclosure = 64;
constexpr std::size_t kMaxPageSize = 1024;
constexpr std::size_t kMaxCommandsKept = 16;
// Log text that fits the answers (header and length field taken off).
constexpr std::size_t kErrorLogCapacity = kErrLogAnswerSize - kLogTextOffset;
constexpr std::size_t kPostLogCapacity = kPostLogAnswerSize - kLogTextOffset;
constexpr std::size_t kDebugTextCapacity = kDebugAnswerSize - kDebugTextOffset - 1;

// Default lab serial numbers: an IRC with PCM=3 and a PRS field, an IRC with no PCM field yet,
// and an enclosure that is not an IRC.
constexpr const char *kLabIrc = "IRC0001";
constexpr const char *kLabIrcNoPcm = "IRC0002";
constexpr const char *kLabOther = "JBOD0003";

// Enclosure flavours for creation.
enum class EnclosureKind : std::uint8_t { Irc, IrcOld, Other };

Lab DefaultLab();
Enclosure MakeEnclosure(const std::string &serial, EnclosureKind kind);
Enclosure *FindEnclosure(Lab &lab, const std::string &serial);
bool ValidSerial(const std::string &serial);

// VPD images. DefaultVpdImage gives the image an enclosure serves for a device it holds none for.
std::vector<std::uint8_t> DefaultVpdImage(int device);
std::size_t VpdImageSize(int device);
std::uint16_t ExpectedVpdLength(int device);
std::uint8_t VpdXor(std::span<const std::uint8_t> image);  // XOR of the record (from byte 12)
void FixVpdChecksum(std::vector<std::uint8_t> &image);
// The image the enclosure holds for a device (created from the default when absent).
std::vector<std::uint8_t> &VpdFor(Enclosure &enclosure, int device);

// Decoded views for people and tests.
struct FirmwareRecord {
  std::string level;  // four characters as stored
  std::string type;
};
FirmwareRecord ReadFirmwareRecord(const Enclosure &enclosure, int record /* 1 or 2 */);
std::string ProductId(const Enclosure &enclosure);
// The enclosure's own view of the IRC test the utility makes on its configuration page.
bool LooksLikeIrc(const Enclosure &enclosure);
// Field text at offset (5 characters, NULs shown as '.'), "" when the image is too short.
std::string VpdField(const std::vector<std::uint8_t> &image, std::size_t offset);

// LESB counters of a device as served: the stored ones, else the power-up values.
std::vector<std::uint8_t> LesbFor(const Enclosure &enclosure, int device);
// Appends a log entry (a line), dropping the oldest whole lines that no longer fit capacity.
void AppendLog(std::string &log, const std::string &entry, std::size_t capacity);
// CRC-32 of data continued from the CRC of the bytes before it (0 for none).
std::uint32_t Crc32(std::uint32_t crc, std::span<const std::uint8_t> data);

// Element type of each status page slot (overall elements included), from the type headers.
// A slot past the described elements has type 0.
std::vector<std::uint8_t> SlotTypes(const Enclosure &enclosure);
// Copies the writable bits of each selected control element into the status page.
void ApplyControlPage(Enclosure &enclosure, std::span<const std::uint8_t> control);

// Editing commands shared by encsim create/set: "pcm=N", "prs=C", "nopcm", "noprs",
// "fw1=LLLL", "type1=TTTT", "fw2=", "type2=", "product=TEXT", "psmode=N", "errlog=TEXT",
// "postlog=TEXT" (append an entry), "noerrlog", "nopostlog", "lesb=DEV:PORT:N" (all six
// counters of the port), "event=N" (event N occurs).
// Returns "" on success, else a message.
std::string ApplySetting(Enclosure &enclosure, const std::string &setting);

const char *FaultKindName(FaultKind kind);
bool ParseFaultKind(const std::string &name, FaultKind *kind);
const char *ScopeName(CommandScope scope);
bool ParseScope(const std::string &name, CommandScope *scope);

}  // namespace nicisim

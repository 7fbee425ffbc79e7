// Decoding of a run's trace into its steps. Every field is read only after the dump's length
// has been checked, so a damaged or foreign dump yields a note instead of a bad read.
#include "decode.h"

#include <cstdarg>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "byteorder.h"
#include "qelcodes.h"
#include "qelses.h"
#include "qelses_pcm.h"
#include "talvik.h"

namespace {

using qeltrace::Entry;
using qeltrace::EntryKind;
using qeltrace::Trace;
using Bytes = std::span<const std::uint8_t>;

// Where the command line is traced (the product's is private to debug/qeldebug.cpp).
constexpr std::string_view kCommandLineModule = "qeldebug";
constexpr int kCommandLineSource = 1906;
constexpr std::string_view kTitleStart = "<---";

// Directive status and adapter status classes of the code tables.
constexpr std::uint32_t kAdapterStatusClass = 1;
constexpr std::uint32_t kDirectiveStatusClass = 2;
constexpr std::uint32_t kDirectiveStatusMask = 0xFF;

// SES pages other than the ones talvik.h names.
constexpr std::uint8_t kSupportedPagesCode = 0;

// Configuration page fields.
constexpr std::size_t kTypeHeaderCountOffset = 10;
constexpr std::size_t kVendorIdOffset = 20;
constexpr std::size_t kVendorIdSize = 8;
constexpr std::size_t kProductIdSize = 16;
constexpr std::size_t kProductRevisionOffset = 44;
constexpr std::size_t kProductRevisionSize = 4;
constexpr std::size_t kFirmwareFieldSize = 4;
constexpr std::size_t kFirmwareRecords = 2;
constexpr std::size_t kTypeHeadersOffset = 132;
constexpr std::size_t kTypeHeaderSize = 4;

// Element status code (byte 0, bits 3..0); the select and mode bits are the power-supply control's.
constexpr std::uint8_t kStatusCodeMask = 0x0F;

__attribute__((format(printf, 1, 2))) std::string Fmt(const char *fmt, ...) {
  char buf[512];
  va_list ap;
  va_start(ap, fmt);
  const int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  return n < 0 ? std::string() : std::string(buf, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buf - 1));
}

// A JSON string: quotes, backslashes, control characters and bytes above 0x7e escaped, so the
// output stays valid whatever bytes a trace holds.
std::string JsonString(std::string_view s) {
  std::string out = "\"";
  for (const char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20 || c > 0x7e) {
      out += Fmt("\\u%04x", static_cast<unsigned>(c));
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

class JsonObject {
 public:
  JsonObject &Num(std::string_view key, long long v) { return Raw(key, std::to_string(v)); }
  JsonObject &Str(std::string_view key, std::string_view v) { return Raw(key, JsonString(v)); }
  JsonObject &Bool(std::string_view key, bool v) { return Raw(key, v ? "true" : "false"); }
  JsonObject &Raw(std::string_view key, std::string_view json) {
    if (body_.size() > 1) body_ += ',';
    body_ += JsonString(key);
    body_ += ':';
    body_ += json;
    return *this;
  }
  std::string Close() const { return body_ + "}"; }

 private:
  std::string body_ = "{";
};

std::string JsonArray(const std::vector<std::string> &items) {
  std::string out = "[";
  for (std::size_t i = 0; i < items.size(); ++i) out += (i ? "," : "") + items[i];
  return out + "]";
}

// One step of the run: its JSON object, the text it adds to the step line, and the decoded
// fields shown under it.
struct Step {
  JsonObject json;
  std::string note;
  std::vector<std::string> detail;
};

bool Has(Bytes b, std::size_t offset, std::size_t size) { return offset <= b.size() && size <= b.size() - offset; }

// Bytes as text: printable ASCII as is, anything else as \xNN.
std::string Printable(Bytes b) {
  std::string out;
  for (const std::uint8_t c : b) {
    if (c >= 0x20 && c <= 0x7e) {
      out += static_cast<char>(c);
    } else {
      out += Fmt("\\x%02x", static_cast<unsigned>(c));
    }
  }
  return out;
}

std::string Hex(Bytes b, const char *separator) {
  std::string out;
  for (std::size_t i = 0; i < b.size(); ++i) out += Fmt("%s%02x", i ? separator : "", static_cast<unsigned>(b[i]));
  return out;
}

// The field at offset, or a note that the dump is too short for it.
bool Field(Bytes b, std::size_t offset, std::size_t size, const char *what, Step &s, std::string &value) {
  if (!Has(b, offset, size)) {
    s.detail.push_back(Fmt("%s: dump too short (%zu bytes, needs %zu)", what, b.size(), offset + size));
    s.json.Str(Fmt("%sShort", what), "dump too short");
    return false;
  }
  value = Printable(b.subspan(offset, size));
  return true;
}

// The integer that follows the last `marker` in s and ends it (blanks allowed around it).
bool TrailingInt(std::string_view s, std::string_view marker, long &value) {
  const std::size_t at = s.rfind(marker);
  if (at == std::string_view::npos) return false;
  std::size_t i = at + marker.size();
  while (i < s.size() && s[i] == ' ') ++i;
  const bool negative = i < s.size() && s[i] == '-';
  if (negative) ++i;
  long v = 0;
  const std::size_t first = i;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    if (v > 100000000) return false;
    v = v * 10 + (s[i] - '0');
  }
  if (i == first) return false;
  while (i < s.size() && s[i] == ' ') ++i;
  if (i != s.size()) return false;
  value = negative ? -v : v;
  return true;
}

const char *ResultName(long rc) {
  switch (rc) {
    case SES_OK: return "ok";
    case SES_RC_ENCLOSURE_STATUS: return "enclosure status: short enclosure or StringIn status nonzero, or wrong page";
    case SES_RC_OPEN_FAILED: return "CI connection open failed";
    case SES_RC_STRING_PAGE: return "string-page exchange or VPD check failed";
    case SES_RC_CI_FAILED: return "CI request failed";
    case SES_RC_BUSY: return "adapter busy";
    case SES_RC_SERIAL_TOO_LONG: return "serial number too long";
    case TK_RC_COMMAND_TOO_LONG: return "debug command too long";
    default: return nullptr;
  }
}

const char *PcmExitName(long rc) {
  switch (rc) {
    case kExitOk: return "ok";
    case kExitEnclosureFailure: return "an enclosure operation failed";
    case kExitUsage: return "command-line error";
    case kExitNotIrc: return "not an IRC";
    case kExitMismatch: return "mode read back differs";
    default: return nullptr;
  }
}

// Code-table name of a status, copied at once (the table's text is overwritten by the next lookup).
// Directive statuses are kept in the table as their byte (the trace shows it signed); adapter
// statuses as their 32-bit pattern.
std::string CodeName(long value, std::uint32_t valueClass) {
  std::uint32_t key = static_cast<std::uint32_t>(value);
  if (valueClass == kDirectiveStatusClass) key &= kDirectiveStatusMask;
  const char *name = GetDebugErrorString(key, valueClass);
  return name ? std::string(name) : std::string();
}

void AddStatus(Step &s, std::string_view kind, long value, std::uint32_t valueClass) {
  const std::string name = CodeName(value, valueClass);
  s.note = Fmt("%.*s %ld (%s)", static_cast<int>(kind.size()), kind.data(), value, name.empty() ? "unknown" : name.c_str());
  s.json.Raw(kind, JsonObject().Num("code", value).Str("name", name).Close());
}

void DecodeLine(const Entry &e, Step &s) {
  const std::string_view t = e.text;
  long v = 0;
  if (t.find("Directive failed") != std::string_view::npos && TrailingInt(t, ":", v)) {
    AddStatus(s, "directive", v, kDirectiveStatusClass);
  } else if (t.starts_with("Application result") && TrailingInt(t, ":", v)) {
    AddStatus(s, "application", v, kAdapterStatusClass);
  } else if (t.starts_with("Network result") && TrailingInt(t, ":", v)) {
    s.note = Fmt("network result %ld", v);
    s.json.Num("network", v);
  } else if (t.find("CI ERROR") != std::string_view::npos && TrailingInt(t, "=", v)) {
    s.note = "CI error";
    s.json.Num("ciError", v);
  } else if (t.find("Exit") != std::string_view::npos && TrailingInt(t, "=", v)) {
    const char *name = ResultName(v);
    s.note = Fmt("exit %ld (%s)", v, name ? name : "unknown code");
    s.json.Num("rc", v).Str("meaning", name ? name : "");
  } else if (e.module == kPcmModule && t.starts_with("main rc=") && TrailingInt(t, "=", v)) {
    const char *name = PcmExitName(v);
    s.note = Fmt("exit status %ld (%s)", v, name ? name : "unknown status");
    s.json.Num("exitStatus", v).Str("meaning", name ? name : "");
  } else if (const std::size_t at = t.find(": Trying "); at != std::string_view::npos) {
    unsigned long step = 0, total = 0;
    const std::string rest(t.substr(at + 9));
    if (std::sscanf(rest.c_str(), "%lu %lu", &step, &total) == 2) {
      s.note = step == 0 && total == 0 ? std::string("first attempt")
                                       : Fmt("retry after a %lu us pause (%lu us paused before)", step, total);
      s.json.Raw("attempt", JsonObject().Num("pause", static_cast<long long>(step)).Num("total", static_cast<long long>(total)).Close());
    }
  }
}

const char *PageName(std::uint8_t code, std::string_view title) {
  switch (code) {
    case kSupportedPagesCode: return "supported pages";
    case kConfigPageCode: return "configuration";
    case kStatusPageCode: return title.find("Control") != std::string_view::npos ? "enclosure control" : "enclosure status";
    case kStringPageCode: return "string (vendor)";
    case kShortEncStatusPage: return "short enclosure status";
    default: return "unknown page";
  }
}

const char *ElementTypeName(std::uint8_t type) {
  switch (type) {
    case 0x00: return "unspecified";
    case 0x01: return "device";
    case 0x02: return "power supply";
    case 0x03: return "cooling";
    case 0x04: return "temperature sensor";
    case 0x05: return "door lock";
    case 0x06: return "audible alarm";
    case 0x07: return "enclosure services controller";
    case 0x08: return "SCC controller";
    case 0x09: return "nonvolatile cache";
    case 0x0B: return "uninterruptible power supply";
    case 0x0C: return "display";
    case 0x0D: return "key pad";
    case 0x0E: return "enclosure";
    case 0x0F: return "SCSI port/transceiver";
    case 0x10: return "language";
    case 0x11: return "communication port";
    case 0x12: return "voltage sensor";
    case 0x13: return "current sensor";
    case 0x14: return "SCSI target port";
    case 0x15: return "SCSI initiator port";
    case 0x16: return "simple subenclosure";
    case 0x17: return "array device";
    default: return "unknown type";
  }
}

const char *ElementStatusName(std::uint8_t code) {
  static const char *const kNames[] = {"unsupported", "OK", "critical", "noncritical", "unrecoverable",
                                       "not installed", "unknown", "not available", "no access"};
  return code < std::size(kNames) ? kNames[code] : "reserved";
}

void DecodeConfig(Bytes b, Step &s) {
  std::string v;
  if (Field(b, kVendorIdOffset, kVendorIdSize, "vendor", s, v)) {
    s.detail.push_back("vendor: " + v);
    s.json.Str("vendor", v);
  }
  if (Field(b, kProductIdOffset, kProductIdSize, "product", s, v)) {
    s.detail.push_back("product: " + v);
    s.json.Str("product", v);
  }
  if (Field(b, kProductRevisionOffset, kProductRevisionSize, "revision", s, v)) {
    s.detail.push_back("revision: " + v);
    s.json.Str("revision", v);
  }
  std::vector<std::string> records;
  for (std::size_t r = 0; r < kFirmwareRecords; ++r) {
    const std::size_t record = kFirstFwRecordOffset + r * kFwRecordStride;
    std::string level, type;
    if (!Field(b, record, kFwLevelDigits, "firmware", s, level) ||
        !Field(b, record + kFwTypeCodeInRecord, kFirmwareFieldSize, "firmware", s, type)) {
      break;
    }
    s.detail.push_back(Fmt("firmware record %zu: level %s, type %s", r + 1, level.c_str(), type.c_str()));
    records.push_back(JsonObject().Str("level", level).Str("type", type).Close());
  }
  s.json.Raw("firmware", JsonArray(records));
  if (!Has(b, kTypeHeaderCountOffset, 1)) return;
  const std::size_t count = b[kTypeHeaderCountOffset];
  std::vector<std::string> types;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = kTypeHeadersOffset + i * kTypeHeaderSize;
    if (!Has(b, at, kTypeHeaderSize)) {
      s.detail.push_back(Fmt("type header %zu of %zu: dump too short", i + 1, count));
      s.json.Str("typesShort", "dump too short");
      break;
    }
    const std::uint8_t type = b[at], elements = b[at + 1];
    s.detail.push_back(Fmt("type 0x%02x %s: %u elements", static_cast<unsigned>(type), ElementTypeName(type),
                           static_cast<unsigned>(elements)));
    types.push_back(JsonObject().Num("type", type).Str("name", ElementTypeName(type)).Num("elements", elements).Close());
  }
  s.json.Raw("types", JsonArray(types));
}

void DecodeStatus(Bytes b, Step &s) {
  for (std::size_t i = 0; i < std::size(kPowerSupplyElementOffsets); ++i) {
    const std::size_t at = kPowerSupplyElementOffsets[i];
    const std::string key = Fmt("psu%zu", i + 1);
    if (!Has(b, at, kElementSize)) {
      s.detail.push_back(Fmt("power supply %zu at %zu: dump too short", i + 1, at));
      s.json.Str(key, "dump too short");
      continue;
    }
    const Bytes el = b.subspan(at, kElementSize);
    const std::uint8_t code = el[0] & kStatusCodeMask;
    const bool select = (el[0] & kSelectBit) != 0;
    const unsigned mode = el[kModeByte] & kModeMask;
    s.detail.push_back(Fmt("power supply %zu at %zu: %s, status %u (%s), select %d, mode bits %u", i + 1, at,
                           Hex(el, " ").c_str(), static_cast<unsigned>(code), ElementStatusName(code), select ? 1 : 0,
                           mode));
    s.json.Raw(key, JsonObject()
                        .Num("offset", static_cast<long long>(at))
                        .Str("bytes", Hex(el, ""))
                        .Num("status", code)
                        .Str("statusName", ElementStatusName(code))
                        .Bool("select", select)
                        .Num("mode", mode)
                        .Close());
  }
}

const char *FunctionName(std::uint8_t fn) {
  switch (fn) {
    case TK_FN_READ_VPD: return "read VPD";
    case TK_FN_WRITE_VPD: return "write VPD";
    case TK_FN_CONTROLLER_RESET: return "controller reset";
    case TK_FN_READ_CNTRL_MEM: return "read controller memory";
    case TK_FN_READ_LOG: return "read log";
    case TK_FN_STATESAVE: return "statesave";
    case TK_FN_READ_LESB: return "read LESB";
    case TK_FN_RESET_LESB: return "reset LESB";
    case TK_FN_READ_ALPA_MAP: return "read ALPA map";
    case TK_FN_READ_CONNECTOR_MAP: return "read connector map";
    case TK_FN_READ_LIP: return "read LIP";
    case TK_FN_WRITE_LIP: return "write LIP";
    case TK_FN_EVENTS: return "events";
    case TK_FN_DATE_TIME: return "date and time";
    case TK_FN_DEBUG_COMMAND: return "debug command";
    case 0x3C: return "firmware";
    default: return "unknown function";
  }
}

void DecodeVpd(Bytes b, Step &s) {
  const bool rdp = b.size() == kRdpVpdImageSize;
  const std::uint16_t expected = rdp ? kRdpVpdLength : kIcVpdLength;
  const std::size_t record = rdp ? kRdpVpdRecordSize : kIcVpdRecordSize;
  const std::size_t checksumAt = rdp ? kRdpVpdChecksumOffset : kIcVpdChecksumOffset;
  const std::uint16_t length = qel::load_be16(b.data() + kVpdLengthOffset);
  // The record runs from the length field through the checksum byte; its XOR is 0 when intact.
  std::uint8_t sum = 0;
  for (const std::uint8_t c : b.subspan(kVpdRecordOffset, record)) sum ^= c;
  s.detail.push_back(Fmt("%s VPD: length %u (%s, expected %u), checksum byte %02x, record XOR %02x (%s)",
                         rdp ? "RDP" : "IC", static_cast<unsigned>(length), length == expected ? "ok" : "wrong",
                         static_cast<unsigned>(expected), static_cast<unsigned>(b[checksumAt]),
                         static_cast<unsigned>(sum), sum == 0 ? "checksum holds" : "checksum bad"));
  JsonObject vpd;
  vpd.Str("kind", rdp ? "RDP" : "IC").Num("length", length).Bool("lengthOk", length == expected);
  vpd.Num("checksum", b[checksumAt]).Bool("checksumOk", sum == 0);
  if (rdp) {
    const std::string pcm = Printable(b.subspan(kPcmFieldOffset, kVpdFieldSize));
    const std::string prs = Printable(b.subspan(kPrsFieldOffset, kVpdFieldSize));
    s.detail.push_back(Fmt("PCM field \"%s\", PRS field \"%s\"", pcm.c_str(), prs.c_str()));
    vpd.Str("pcm", pcm).Str("prs", prs);
  }
  s.json.Raw("vpd", vpd.Close());
}

void DecodeVendor(Bytes b, Step &s) {
  if (!Has(b, kVendorHeaderSize - 1, 1)) {
    s.detail.push_back(Fmt("vendor header: dump too short (%zu bytes)", b.size()));
    s.json.Str("vendorShort", "dump too short");
    return;
  }
  const std::uint8_t fn = b[kVendorFunctionOffset];
  s.detail.push_back(Fmt("function 0x%02x %s, status %u, device %u, parameter %u", static_cast<unsigned>(fn),
                         FunctionName(fn), static_cast<unsigned>(b[kVendorStatusOffset]),
                         static_cast<unsigned>(b[kVendorDeviceOffset]), static_cast<unsigned>(b[kVendorParameterOffset])));
  s.json.Num("function", fn).Str("functionName", FunctionName(fn)).Num("status", b[kVendorStatusOffset]);
  s.json.Num("device", b[kVendorDeviceOffset]).Num("parameter", b[kVendorParameterOffset]);
  const bool vpdFunction = fn == TK_FN_READ_VPD || fn == TK_FN_WRITE_VPD;
  if (vpdFunction && (b.size() == kRdpVpdImageSize || b.size() == kIcVpdImageSize)) DecodeVpd(b, s);
}

void DecodeDump(const Entry &e, Step &s) {
  const Bytes b(e.bytes);
  s.json.Str("title", e.title).Num("size", e.declared);
  s.note = e.title.empty() ? std::string("(no title)") : e.title;
  if (b.empty()) {
    s.detail.push_back("empty dump");
    return;
  }
  const std::uint8_t code = b[0];
  const char *name = PageName(code, e.title);
  s.detail.push_back(Fmt("page %u: %s", static_cast<unsigned>(code), name));
  s.json.Num("page", code).Str("name", name);
  if (code == kConfigPageCode) DecodeConfig(b, s);
  if (code == kStatusPageCode) DecodeStatus(b, s);
  if (code == kStringPageCode) DecodeVendor(b, s);
}

std::string TrimRight(std::string_view s) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return std::string(s);
}

}  // namespace

int DecodeTrace(const Trace &trace, bool json, FILE *out) {
  std::string command;
  for (const Entry &e : trace.entries) {
    if (e.kind == EntryKind::Line && e.module == kCommandLineModule && e.source == kCommandLineSource) {
      command = TrimRight(e.text);
      break;
    }
  }
  if (!trace.program.empty()) {
    if (json) {
      std::fprintf(out, "%s\n",
                   JsonObject().Str("program", trace.program).Str("started", trace.started).Str("command", command).Close().c_str());
    } else {
      std::fprintf(out, "program: %s\nstarted: %s\ncommand: %s\n", trace.program.c_str(), trace.started.c_str(),
                   command.c_str());
    }
  }
  for (std::size_t i = 0; i < trace.entries.size(); ++i) {
    const Entry &e = trace.entries[i];
    // A dump's title line is shown with the dump itself.
    const bool isTitle = e.kind == EntryKind::Line && e.text.starts_with(kTitleStart) && i + 1 < trace.entries.size() &&
                         trace.entries[i + 1].kind == EntryKind::Dump && trace.entries[i + 1].title == e.text;
    if (isTitle) continue;
    Step s;
    s.json.Num("line", static_cast<long long>(e.fileLine)).Str("module", e.module).Num("source", e.source).Str("text", e.text);
    if (e.kind == EntryKind::Dump) {
      DecodeDump(e, s);
    } else {
      DecodeLine(e, s);
    }
    if (json) {
      std::fprintf(out, "%s\n", s.json.Close().c_str());
      continue;
    }
    std::fprintf(out, "%5zu %s:%d %s%s%s\n", e.fileLine, e.module.c_str(), e.source, e.text.c_str(),
                 s.note.empty() ? "" : "  -- ", s.note.c_str());
    for (const std::string &d : s.detail) std::fprintf(out, "        %s\n", d.c_str());
  }
  if (trace.completed) {
    if (json) {
      std::fprintf(out, "%s\n", JsonObject().Str("completed", trace.completedAt).Close().c_str());
    } else {
      std::fprintf(out, "completed: %s\n", trace.completedAt.c_str());
    }
  }
  if (trace.stopLine == 0) return 0;
  if (json) {
    const std::string stop =
        JsonObject().Num("line", static_cast<long long>(trace.stopLine)).Str("note", trace.stopNote).Close();
    std::fprintf(out, "%s\n", JsonObject().Raw("stop", stop).Close().c_str());
  }
  return 1;
}

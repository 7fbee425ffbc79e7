// The simulated enclosures: how their configuration and status pages and VPD images look,
// the default lab, and the edits people make with encsim.
#include "simlab.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "byteorder.h"

namespace nicisim {

namespace {

// Element types of every simulated enclosure, in status page order. The counts are chosen so
// that the power-supply overall element is slot 43 and its two elements sit at byte offsets
// 184 and 188 of the status page, where the utility expects them, and the slots fill the
// 224-byte page exactly.
struct TypeSpec {
  ElementType type;
  std::uint8_t count;
  const char *text;
};
constexpr std::array<TypeSpec, 10> kElementTypes{{
    {ET_DeviceSlot, 24, "Drive Slot"},
    {ET_EscElectronics, 2, "Controller"},
    {ET_TempSensor, 6, "Temp Sensor"},
    {ET_Cooling, 4, "Fan"},
    {ET_VoltageSensor, 2, "Voltage"},
    {ET_PowerSupply, 2, "Power Supply"},
    {ET_Enclosure, 1, "Enclosure"},
    {ET_AudibleAlarm, 1, "Alarm"},
    {ET_Display, 1, "Display"},
    {ET_ScsiPort, 1, "Port"},
}};

constexpr std::size_t SlotsBefore(ElementType type) {
  std::size_t slots = 0;
  for (const TypeSpec &t : kElementTypes) {
    if (t.type == type) return slots;
    slots += 1u + t.count;
  }
  return slots;
}
constexpr std::size_t TotalSlots() {
  std::size_t slots = 0;
  for (const TypeSpec &t : kElementTypes) slots += 1u + t.count;
  return slots;
}
static_assert(kStatusElementsOffset + (SlotsBefore(ET_PowerSupply) + 1) * kElementSize ==
              kPowerSupply1Offset);
static_assert(kPowerSupply1Offset + kElementSize == kPowerSupply2Offset);
static_assert(TotalSlots() == kStatusSlots);

// Bits of a selected control element that the enclosure takes over into its status element.
struct WritableMask {
  ElementType type;
  std::array<std::uint8_t, kElementSize> mask;
};
constexpr std::array<std::uint8_t, kElementSize> kDefaultWritable{0x40, 0x80, 0x00, 0x00};
constexpr std::array<WritableMask, 3> kWritable{{
    {ET_PowerSupply, {0x40, 0x87, 0x70, 0x40}},  // ident, mode bits, vendor bits, fail
    {ET_DeviceSlot, {0x40, 0x00, 0x02, 0x00}},   // ident sits in byte 2 for slots
    {ET_Cooling, {0x40, 0x80, 0x00, 0x40}},
}};

// Contents of individual status elements as the enclosure powers up.
constexpr std::uint8_t kPsuRequestedOn = 0x20;     // byte 3
constexpr std::uint8_t kFanSpeedCode = 0x23;       // byte 3: requested on, speed code 3
constexpr std::uint8_t kTempOffset = 20;           // temperature byte = degrees C + 20
constexpr std::uint8_t kDefaultTemperature = 25;
constexpr std::uint16_t kVoltage12V = 1200;        // in 10 mV units
constexpr std::size_t kTemperatureByte = 2;
constexpr std::size_t kVoltageByte = 2;
constexpr std::size_t kElementByte3 = 3;

constexpr std::uint8_t kEnclosureProcess = 0x11;  // process 1 of 1
constexpr std::size_t kCfgVendorSpecificOffset = 48;

struct KindRecipe {
  EnclosureKind kind;
  const char *product;
  const char *revision;
  const char *fw1Level;
  const char *fw1Type;
  const char *fw2Level;
  const char *fw2Type;
};
// An IRC with current firmware (the type code decides), an IRC with old firmware (the product
// identification decides) and an enclosure of another type.
constexpr std::array<KindRecipe, 3> kKinds{{
    {EnclosureKind::Irc, "5284-E11-IRC", "0310", "0310", "000C", "0310", "000C"},
    {EnclosureKind::IrcOld, "5284-E11-IRC", "0250", "0250", "000C", "0250", "000C"},
    {EnclosureKind::Other, "5300-D20-JBOD", "0320", "0320", "0007", "0320", "0007"},
}};

const KindRecipe &RecipeFor(EnclosureKind kind) {
  for (const KindRecipe &k : kKinds) {
    if (k.kind == kind) return k;
  }
  return kKinds[0];
}

// Copies text into a fixed-width field, padded with blanks (longer text is cut at the width).
void PutText(std::vector<std::uint8_t> &page, std::size_t offset, std::size_t width,
             const std::string &text) {
  for (std::size_t i = 0; i < width && offset + i < page.size(); ++i) {
    page[offset + i] = i < text.size() ? static_cast<std::uint8_t>(text[i]) : ' ';
  }
}

std::string GetText(const std::vector<std::uint8_t> &page, std::size_t offset, std::size_t width) {
  std::string text;
  for (std::size_t i = 0; i < width && offset + i < page.size(); ++i) {
    text += static_cast<char>(page[offset + i]);
  }
  return text;
}

std::vector<std::uint8_t> BuildConfigPage(const std::string &serial, const KindRecipe &recipe) {
  std::size_t textBytes = 0;
  for (const TypeSpec &t : kElementTypes) textBytes += std::strlen(t.text);
  const std::size_t size =
      kCfgTypeHeadersOffset + kElementTypes.size() * kCfgTypeHeaderSize + textBytes;
  std::vector<std::uint8_t> page(size, 0);
  page[kPageCodeOffset] = kPageConfig;
  qel::store_be16(page.data() + kPageLengthOffset,
                  static_cast<std::uint16_t>(size - kPageHeaderSize));
  page[kCfgEnclosureDescOffset] = kEnclosureProcess;
  page[kCfgDescTypeCountOffset] = static_cast<std::uint8_t>(kElementTypes.size());
  page[kCfgDescLengthOffset] =
      static_cast<std::uint8_t>(kCfgTypeHeadersOffset - kCfgEnclosureDescOffset - kPageHeaderSize);
  // A logical identifier in NAA 5 form, unique enough per serial number.
  std::uint32_t hash = 2166136261u;
  for (char c : serial) hash = (hash ^ static_cast<std::uint8_t>(c)) * 16777619u;
  constexpr std::array<std::uint8_t, 4> kNaaPrefix{0x50, 0x05, 0x07, 0x63};
  std::copy(kNaaPrefix.begin(), kNaaPrefix.end(), page.begin() + kCfgLogicalIdOffset);
  qel::store_be32(page.data() + kCfgLogicalIdOffset + kNaaPrefix.size(), hash);
  PutText(page, kCfgVendorOffset, kCfgVendorSize, "QELSIM");
  PutText(page, kCfgProductOffset, kCfgProductSize, recipe.product);
  PutText(page, kCfgRevisionOffset, kCfgRevisionSize, recipe.revision);
  PutText(page, kCfgVendorSpecificOffset, kCfgTypeHeadersOffset - kCfgVendorSpecificOffset, "");
  PutText(page, kCfgFirmware1Offset, kCfgFirmwareLevelSize, recipe.fw1Level);
  PutText(page, kCfgFirmware1Offset + kCfgFirmwareTypeOffset, kCfgFirmwareTypeSize, recipe.fw1Type);
  PutText(page, kCfgFirmware2Offset, kCfgFirmwareLevelSize, recipe.fw2Level);
  PutText(page, kCfgFirmware2Offset + kCfgFirmwareTypeOffset, kCfgFirmwareTypeSize, recipe.fw2Type);
  std::size_t header = kCfgTypeHeadersOffset;
  std::size_t text = kCfgTypeHeadersOffset + kElementTypes.size() * kCfgTypeHeaderSize;
  for (const TypeSpec &t : kElementTypes) {
    const std::size_t length = std::strlen(t.text);
    page[header + kTypeHdrElementType] = t.type;
    page[header + kTypeHdrCount] = t.count;
    page[header + kTypeHdrSubenclosure] = 0;
    page[header + kTypeHdrTextLength] = static_cast<std::uint8_t>(length);
    std::memcpy(page.data() + text, t.text, length);
    header += kCfgTypeHeaderSize;
    text += length;
  }
  return page;
}

std::vector<std::uint8_t> BuildStatusPage(std::uint8_t psuMode) {
  std::vector<std::uint8_t> page(kStatusPageSize, 0);
  page[kPageCodeOffset] = kPageStatus;
  qel::store_be16(page.data() + kPageLengthOffset, kStatusPageLength);
  std::size_t offset = kStatusElementsOffset;
  for (const TypeSpec &t : kElementTypes) {
    offset += kElementSize;  // overall element: status not reported
    for (std::uint8_t i = 0; i < t.count; ++i, offset += kElementSize) {
      std::uint8_t *e = page.data() + offset;
      e[0] = kElementStatusOk;
      switch (t.type) {
        case ET_PowerSupply:
          e[kPsuModeByte] = psuMode & kPsuModeMask;
          e[kElementByte3] = kPsuRequestedOn;
          break;
        case ET_Cooling:
          e[kElementByte3] = kFanSpeedCode;
          break;
        case ET_TempSensor:
          e[kTemperatureByte] = kDefaultTemperature + kTempOffset;
          break;
        case ET_VoltageSensor:
          qel::store_be16(e + kVoltageByte, kVoltage12V);
          break;
        default:
          break;
      }
    }
  }
  return page;
}

void PutVpdField(std::vector<std::uint8_t> &image, std::size_t offset, const char *text) {
  for (std::size_t i = 0; i < kVpdFieldSize && offset + i < image.size(); ++i) {
    image[offset + i] = static_cast<std::uint8_t>(text[i]);
  }
}

}  // namespace

std::size_t VpdImageSize(int device) { return device == kRdpDevice ? kRdpImageSize : kIcImageSize; }
std::uint16_t ExpectedVpdLength(int device) {
  return device == kRdpDevice ? kRdpVpdLength : kIcVpdLength;
}

std::uint8_t VpdXor(std::span<const std::uint8_t> image) {
  std::uint8_t x = 0;
  for (std::size_t i = kVpdLengthOffset; i < image.size(); ++i) x ^= image[i];
  return x;
}

void FixVpdChecksum(std::vector<std::uint8_t> &image) {
  if (image.size() <= kVpdDataOffset) return;
  image.back() = 0;
  image.back() = VpdXor(image);
}

std::vector<std::uint8_t> DefaultVpdImage(int device) {
  const std::size_t size = VpdImageSize(device);
  std::vector<std::uint8_t> image(size, 0);
  image[kPageCodeOffset] = kPageString;
  qel::store_be16(image.data() + kPageLengthOffset, static_cast<std::uint16_t>(size - kPageHeaderSize));
  image[kStrFunctionOffset] = FC_ReadVpd;
  image[kStrDeviceOffset] = static_cast<std::uint8_t>(device);
  qel::store_be16(image.data() + kVpdLengthOffset, ExpectedVpdLength(device));
  char text[64];
  std::snprintf(text, sizeof text, "%s VPD DEV=%02d FN=QS%04d EC=H12345", device == kRdpDevice ? "RDP" : "IC",
                device, 1000 + device);
  std::memcpy(image.data() + kVpdDataOffset, text, std::strlen(text));
  FixVpdChecksum(image);
  return image;
}

std::vector<std::uint8_t> &VpdFor(Enclosure &enclosure, int device) {
  auto it = enclosure.vpd.find(device);
  if (it == enclosure.vpd.end()) it = enclosure.vpd.emplace(device, DefaultVpdImage(device)).first;
  return it->second;
}

bool ValidSerial(const std::string &serial) {
  if (serial.empty() || serial.size() > kMaxSerialLength) return false;
  return std::all_of(serial.begin(), serial.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' ||
           c == '_' || c == '.';
  });
}

Enclosure MakeEnclosure(const std::string &serial, EnclosureKind kind) {
  const KindRecipe &recipe = RecipeFor(kind);
  Enclosure e;
  e.serial = serial;
  e.config = BuildConfigPage(serial, recipe);
  e.status = BuildStatusPage(0);
  e.vpd.emplace(kRdpDevice, DefaultVpdImage(kRdpDevice));
  AppendLog(e.errorLog, "0001 ESM A power supply 1 AC input lost", kErrorLogCapacity);
  AppendLog(e.errorLog, "0002 ESM A fan 3 below speed", kErrorLogCapacity);
  AppendLog(e.postLog, std::string("ESM A ") + recipe.fw1Level + " POST pass", kPostLogCapacity);
  AppendLog(e.postLog, std::string("ESM B ") + recipe.fw2Level + " POST pass", kPostLogCapacity);
  return e;
}

Lab DefaultLab() {
  Lab lab;
  Enclosure irc = MakeEnclosure(kLabIrc, EnclosureKind::Irc);
  ApplySetting(irc, "pcm=3");
  ApplySetting(irc, "prs=1");
  ApplySetting(irc, "psmode=3");
  lab.enclosures.push_back(irc);
  lab.enclosures.push_back(MakeEnclosure(kLabIrcNoPcm, EnclosureKind::IrcOld));
  lab.enclosures.push_back(MakeEnclosure(kLabOther, EnclosureKind::Other));
  return lab;
}

Enclosure *FindEnclosure(Lab &lab, const std::string &serial) {
  for (Enclosure &e : lab.enclosures) {
    if (e.serial == serial) return &e;
  }
  return nullptr;
}

FirmwareRecord ReadFirmwareRecord(const Enclosure &enclosure, int record) {
  const std::size_t base = record == 1 ? kCfgFirmware1Offset : kCfgFirmware2Offset;
  return {GetText(enclosure.config, base, kCfgFirmwareLevelSize),
          GetText(enclosure.config, base + kCfgFirmwareTypeOffset, kCfgFirmwareTypeSize)};
}

std::string ProductId(const Enclosure &enclosure) {
  std::string p = GetText(enclosure.config, kCfgProductOffset, kCfgProductSize);
  while (!p.empty() && (p.back() == ' ' || p.back() == '\0')) p.pop_back();
  return p;
}

bool LooksLikeIrc(const Enclosure &enclosure) {
  constexpr int kLevelThreshold = 299;
  constexpr std::array<const char *, 5> kIrcTypes{"0008", "000C", "0009", "000D", "000A"};
  auto level = [](const std::string &text) {
    int v = 0;
    std::sscanf(text.c_str(), "%d", &v);
    return v;
  };
  auto ircType = [&](const std::string &type) {
    return std::any_of(kIrcTypes.begin(), kIrcTypes.end(),
                       [&](const char *t) { return type.compare(0, 4, t) == 0; });
  };
  const FirmwareRecord a = ReadFirmwareRecord(enclosure, 1);
  const FirmwareRecord b = ReadFirmwareRecord(enclosure, 2);
  const int la = level(a.level);
  const int lb = level(b.level);
  if (la > kLevelThreshold && ircType(a.type)) return true;
  if (lb > kLevelThreshold && ircType(b.type)) return true;
  const std::string product = GetText(enclosure.config, kCfgProductOffset, kCfgProductSize);
  constexpr std::size_t kModelPos = 0, kModelLen = 4, kFeaturePos = 6, kFeatureLen = 2;
  return la <= kLevelThreshold && lb <= kLevelThreshold && product.size() >= kFeaturePos + kFeatureLen &&
         product.compare(kModelPos, kModelLen, "5284") == 0 &&
         product.compare(kFeaturePos, kFeatureLen, "11") == 0;
}

std::string VpdField(const std::vector<std::uint8_t> &image, std::size_t offset) {
  if (offset + kVpdFieldSize > image.size()) return "";
  std::string text;
  for (std::size_t i = 0; i < kVpdFieldSize; ++i) {
    const std::uint8_t c = image[offset + i];
    text += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '.';
  }
  return text;
}

std::vector<std::uint8_t> LesbFor(const Enclosure &enclosure, int device) {
  const auto it = enclosure.lesb.find(device);
  if (it != enclosure.lesb.end() && it->second.size() == kLesbBlockSize) return it->second;
  // Power-up counters that tell device, port and counter apart: (device + 1) * 1000 +
  // port * 10 + counter.
  constexpr std::uint32_t kDeviceStep = 1000, kPortStep = 10;
  std::vector<std::uint8_t> block(kLesbBlockSize, 0);
  for (std::size_t port = 0; port < kLesbPorts; ++port) {
    for (std::size_t c = 0; c < kLesbCounters; ++c) {
      const auto value = static_cast<std::uint32_t>((static_cast<std::uint32_t>(device) + 1) * kDeviceStep +
                                                    port * kPortStep + c);
      qel::store_be32(block.data() + port * kLesbPortSize + c * sizeof value, value);
    }
  }
  return block;
}

void AppendLog(std::string &log, const std::string &entry, std::size_t capacity) {
  std::string line = entry.substr(0, capacity > 0 ? capacity - 1 : 0);
  std::replace(line.begin(), line.end(), '\n', ' ');
  log += line + "\n";
  while (log.size() > capacity) {
    const std::size_t end = log.find('\n');
    log.erase(0, end == std::string::npos ? log.size() - capacity : end + 1);
  }
}

namespace {
constexpr std::uint32_t kCrcPolynomial = 0xEDB88320u;  // reflected IEEE 802.3
constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < table.size(); ++i) {
    std::uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1u) != 0 ? kCrcPolynomial ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  return table;
}
constexpr std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();
}  // namespace

std::uint32_t Crc32(std::uint32_t crc, std::span<const std::uint8_t> data) {
  crc = ~crc;
  for (std::uint8_t b : data) crc = kCrcTable[(crc ^ b) & 0xFFu] ^ (crc >> 8);
  return ~crc;
}

std::vector<std::uint8_t> SlotTypes(const Enclosure &enclosure) {
  std::vector<std::uint8_t> types;
  const std::vector<std::uint8_t> &cfg = enclosure.config;
  if (cfg.size() <= kCfgDescLengthOffset) return types;
  const std::size_t headers = cfg[kCfgDescTypeCountOffset];
  const std::size_t first = kCfgEnclosureDescOffset + kPageHeaderSize + cfg[kCfgDescLengthOffset];
  for (std::size_t h = 0; h < headers; ++h) {
    const std::size_t at = first + h * kCfgTypeHeaderSize;
    if (at + kCfgTypeHeaderSize > cfg.size()) break;
    types.insert(types.end(), 1u + cfg[at + kTypeHdrCount], cfg[at + kTypeHdrElementType]);
  }
  return types;
}

void ApplyControlPage(Enclosure &enclosure, std::span<const std::uint8_t> control) {
  const std::vector<std::uint8_t> types = SlotTypes(enclosure);
  for (std::size_t slot = 0; slot < kStatusSlots; ++slot) {
    const std::size_t offset = kStatusElementsOffset + slot * kElementSize;
    if (offset + kElementSize > control.size() || offset + kElementSize > enclosure.status.size()) break;
    if ((control[offset] & kElementSelect) == 0) continue;
    std::array<std::uint8_t, kElementSize> mask = kDefaultWritable;
    const std::uint8_t type = slot < types.size() ? types[slot] : 0;
    for (const WritableMask &w : kWritable) {
      if (w.type == type) mask = w.mask;
    }
    for (std::size_t b = 0; b < kElementSize; ++b) {
      std::uint8_t &s = enclosure.status[offset + b];
      s = static_cast<std::uint8_t>((s & ~mask[b]) | (control[offset + b] & mask[b]));
    }
  }
}

std::string ApplySetting(Enclosure &enclosure, const std::string &setting) {
  const std::size_t eq = setting.find('=');
  const std::string key = setting.substr(0, eq);
  const std::string value = eq == std::string::npos ? "" : setting.substr(eq + 1);
  const bool hasValue = eq != std::string::npos;
  std::vector<std::uint8_t> &rdp = VpdFor(enclosure, kRdpDevice);
  if ((key == "pcm" || key == "prs") && hasValue) {
    if (value.size() != 1) return key + " takes exactly one character (" + key + "=3)";
    const std::string field = (key == "pcm" ? "PCM=" : "PRS=") + value;
    PutVpdField(rdp, key == "pcm" ? kPcmFieldOffset : kPrsFieldOffset, field.c_str());
    FixVpdChecksum(rdp);
    return "";
  }
  if ((key == "nopcm" || key == "noprs") && !hasValue) {
    const char zeros[kVpdFieldSize] = {};
    PutVpdField(rdp, key == "nopcm" ? kPcmFieldOffset : kPrsFieldOffset, zeros);
    FixVpdChecksum(rdp);
    return "";
  }
  struct TextField {
    const char *key;
    std::size_t offset;
    std::size_t width;
  };
  constexpr std::array<TextField, 5> kTextFields{{
      {"fw1", kCfgFirmware1Offset, kCfgFirmwareLevelSize},
      {"type1", kCfgFirmware1Offset + kCfgFirmwareTypeOffset, kCfgFirmwareTypeSize},
      {"fw2", kCfgFirmware2Offset, kCfgFirmwareLevelSize},
      {"type2", kCfgFirmware2Offset + kCfgFirmwareTypeOffset, kCfgFirmwareTypeSize},
      {"product", kCfgProductOffset, kCfgProductSize},
  }};
  for (const TextField &f : kTextFields) {
    if (key != f.key || !hasValue) continue;
    if (value.size() > f.width) {
      return key + " holds at most " + std::to_string(f.width) + " characters";
    }
    PutText(enclosure.config, f.offset, f.width, value);
    return "";
  }
  if (key == "psmode" && hasValue) {
    if (value.size() != 1 || value[0] < '0' || value[0] > '7') return "psmode takes a digit 0 to 7";
    for (std::size_t offset : {kPowerSupply1Offset, kPowerSupply2Offset}) {
      std::uint8_t &b = enclosure.status[offset + kPsuModeByte];
      b = static_cast<std::uint8_t>((b & ~kPsuModeMask) | (value[0] - '0'));
    }
    return "";
  }
  if ((key == "errlog" || key == "postlog") && hasValue) {
    if (key == "errlog") {
      AppendLog(enclosure.errorLog, value, kErrorLogCapacity);
    } else {
      AppendLog(enclosure.postLog, value, kPostLogCapacity);
    }
    return "";
  }
  if ((key == "noerrlog" || key == "nopostlog") && !hasValue) {
    (key == "noerrlog" ? enclosure.errorLog : enclosure.postLog).clear();
    return "";
  }
  if (key == "lesb" && hasValue) {
    unsigned device = 0, port = 0;
    unsigned long long count = 0;
    char tail = 0;
    if (std::sscanf(value.c_str(), "%u:%u:%llu%c", &device, &port, &count, &tail) != 3 || device > UINT8_MAX ||
        port >= kLesbPorts || count > UINT32_MAX) {
      return "lesb takes DEV:PORT:N (device 0 to 255, port 0 to 9, a 32-bit count)";
    }
    std::vector<std::uint8_t> block = LesbFor(enclosure, static_cast<int>(device));
    for (std::size_t c = 0; c < kLesbCounters; ++c) {
      qel::store_be32(block.data() + port * kLesbPortSize + c * sizeof(std::uint32_t),
                      static_cast<std::uint32_t>(count));
    }
    enclosure.lesb[static_cast<int>(device)] = block;
    return "";
  }
  if (key == "event" && hasValue) {
    unsigned bit = 0;
    char tail = 0;
    if (std::sscanf(value.c_str(), "%u%c", &bit, &tail) != 1 || bit >= kEventMaskSize * 8) {
      return "event takes an event number 0 to 255";
    }
    enclosure.events.pending[bit / 8] = static_cast<std::uint8_t>(enclosure.events.pending[bit / 8] | (1u << (bit % 8)));
    return "";
  }
  return "unknown setting '" + setting + "' (try: pcm=N prs=C nopcm noprs fw1=LLLL type1=TTTT " +
         "fw2=LLLL type2=TTTT product=TEXT psmode=N errlog=TEXT postlog=TEXT noerrlog nopostlog " +
         "lesb=DEV:PORT:N event=N)";
}

namespace {
constexpr std::array<const char *, kFaultKindCount> kFaultKindNames{
    "open",      "busy",     "sendfail", "reqstatus",   "directive", "result",      "pagecode",
    "strstatus", "function", "device",   "shortstatus", "vpdlength", "vpdchecksum", "nostore"};
constexpr std::array<const char *, 3> kScopeNames{"any", "send", "receive"};
}  // namespace

const char *FaultKindName(FaultKind kind) { return kFaultKindNames[static_cast<std::size_t>(kind)]; }

bool ParseFaultKind(const std::string &name, FaultKind *kind) {
  for (std::size_t i = 0; i < kFaultKindNames.size(); ++i) {
    if (name == kFaultKindNames[i]) {
      *kind = static_cast<FaultKind>(i);
      return true;
    }
  }
  return false;
}

const char *ScopeName(CommandScope scope) { return kScopeNames[static_cast<std::size_t>(scope)]; }

bool ParseScope(const std::string &name, CommandScope *scope) {
  for (std::size_t i = 0; i < kScopeNames.size(); ++i) {
    if (name == kScopeNames[i]) {
      *scope = static_cast<CommandScope>(i);
      return true;
    }
  }
  return false;
}

}  // namespace nicisim

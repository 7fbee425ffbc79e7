// The lab's state file: a line-oriented text people can read and edit, pages in hex.
//
//   nicisim-lab 1
//   lab-fault open scope=any page=* func=* count=1 value=*
//   enclosure IRC0001
//   fault busy scope=send page=2 func=* count=always value=*
//   config 250
//     0000: 01 00 00 f6 ...
//   status 224
//     ...
//   vpd 16 512
//     ...
//   errlog 70                       (controller state: only what differs from power-up)
//     0000: 30 30 30 31 ...
//   lesb 0 240
//     ...
//   lip 0 0x00000001 0x00000002 0x00000003 1
//   events REGISTERED-HEX PENDING-HEX registrations clears
//   clock 1a0c061e0000 1            (year month day hour minute second, sets)
//   debug 2 9                       (commands received, then the last one's text in hex)
//     0000: ...
//   command 0x2d 1 0                (controller resets and statesaves: function device parameter)
//   firmware committed 2 1006 0x1a2b3c4d 2   (state device size crc32 pages)
//   end
// Files written before the controller state was kept load as enclosures at power-up.
#include "simstate.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <sstream>

namespace nicisim {

namespace {

constexpr const char *kMagic = "nicisim-lab";
constexpr int kFormatVersion = 1;
constexpr std::size_t kHexBytesPerLine = 16;
// Longest line the reader accepts; a longer one marks the file as damaged and is refused.
constexpr std::size_t kMaxLine = 256;
// Largest state file read; a bigger one is refused rather than read without bound.
constexpr long kMaxStateFileSize = 4L * 1024 * 1024;
constexpr mode_t kDirMode = 0755;
constexpr mode_t kFileMode = 0644;
constexpr int kMaxDevice = 255;

std::vector<std::string> Words(const std::string &line) {
  std::vector<std::string> words;
  std::istringstream in(line);
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

bool ParseInt(const std::string &text, long lo, long hi, long *out) {
  if (text.empty()) return false;
  char *end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
  *out = v;
  return true;
}

std::string CodeText(int code) { return code == kAnyCode ? "*" : std::to_string(code); }

bool ParseCode(const std::string &text, int *code) {
  if (text == "*") {
    *code = kAnyCode;
    return true;
  }
  long v = 0;
  if (!ParseInt(text, 0, 255, &v)) return false;
  *code = static_cast<int>(v);
  return true;
}

// "key=value" word; false when the word has another key.
bool KeyValue(const std::string &word, const char *key, std::string *value) {
  const std::string prefix = std::string(key) + "=";
  if (word.rfind(prefix, 0) != 0) return false;
  *value = word.substr(prefix.size());
  return true;
}

bool ParseFaultWords(const std::vector<std::string> &w, Fault &f) {
  constexpr std::size_t kFaultWords = 7;  // "fault" KIND scope page func count value [skip]
  constexpr std::size_t kSkipWord = 7;
  if ((w.size() != kFaultWords && w.size() != kFaultWords + 1) || !ParseFaultKind(w[1], &f.kind)) return false;
  std::string v;
  if (!KeyValue(w[2], "scope", &v) || !ParseScope(v, &f.scope)) return false;
  if (!KeyValue(w[3], "page", &v) || !ParseCode(v, &f.page)) return false;
  if (!KeyValue(w[4], "func", &v) || !ParseCode(v, &f.function)) return false;
  long n = 0;
  if (!KeyValue(w[5], "count", &v)) return false;
  if (v == "always") {
    f.remaining = kFaultAlways;
  } else if (ParseInt(v, 1, INT32_MAX, &n)) {
    f.remaining = static_cast<std::int32_t>(n);
  } else {
    return false;
  }
  if (!KeyValue(w[6], "value", &v)) return false;
  f.hasValue = v != "*";
  if (f.hasValue) {
    if (!ParseInt(v, INT32_MIN, INT32_MAX, &n)) return false;
    f.value = static_cast<std::int32_t>(n);
  }
  if (w.size() > kSkipWord) {
    if (!KeyValue(w[kSkipWord], "skip", &v) || !ParseInt(v, 1, INT32_MAX, &n)) return false;
    f.skip = static_cast<std::int32_t>(n);
  }
  return true;
}


// Reads the hex lines of a block of size bytes starting at line index i.
bool ParseHexBlock(const std::vector<std::string> &lines, std::size_t &i, std::size_t size,
                   std::vector<std::uint8_t> &bytes) {
  bytes.clear();
  while (bytes.size() < size) {
    if (++i >= lines.size()) return false;
    const std::vector<std::string> w = Words(lines[i]);
    if (w.empty() || w[0].back() != ':') return false;
    for (std::size_t k = 1; k < w.size(); ++k) {
      long v = 0;
      if (w[k].size() != 2 || !ParseInt("0x" + w[k], 0, 255, &v) || bytes.size() >= size) return false;
      bytes.push_back(static_cast<std::uint8_t>(v));
    }
  }
  return true;
}

bool ParseHexWord(const std::string &text, std::span<std::uint8_t> bytes) {
  if (text.size() != 2 * bytes.size()) return false;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    long v = 0;
    if (!ParseInt("0x" + text.substr(2 * i, 2), 0, UINT8_MAX, &v)) return false;
    bytes[i] = static_cast<std::uint8_t>(v);
  }
  return true;
}

bool ParseU32(const std::string &text, std::uint32_t *out) {
  long long v = 0;
  char *end = nullptr;
  errno = 0;
  v = std::strtoll(text.c_str(), &end, 0);
  if (text.empty() || errno != 0 || *end != '\0' || v < 0 || v > static_cast<long long>(UINT32_MAX)) return false;
  *out = static_cast<std::uint32_t>(v);
  return true;
}

constexpr std::array<const char *, 3> kFirmwareStateNames{"none", "receiving", "committed"};

// The enclosure's controller state, the lines after its pages; only what differs from an
// enclosure that was never touched is written.
std::string FormatControllerState(const Enclosure &e) {
  std::string out;
  char line[kMaxLine];
  auto text = [&](const char *key, const std::string &value) {
    if (value.empty()) return;
    const std::vector<std::uint8_t> bytes(value.begin(), value.end());
    out += std::string(key) + " " + std::to_string(bytes.size()) + "\n" + HexLines(bytes, "  ");
  };
  text("errlog", e.errorLog);
  text("postlog", e.postLog);
  for (const auto &[device, block] : e.lesb) {
    out += "lesb " + std::to_string(device) + " " + std::to_string(block.size()) + "\n" + HexLines(block, "  ");
  }
  for (const auto &[device, lip] : e.lip) {
    std::snprintf(line, sizeof line, "lip %d 0x%08" PRIx32 " 0x%08" PRIx32 " 0x%08" PRIx32 " %" PRIu32 "\n", device,
                  lip.words[0], lip.words[1], lip.words[2], lip.writes);
    out += line;
  }
  const EventState &ev = e.events;
  if (ev.registrations != 0 || ev.clears != 0 || ev.registered != EventState{}.registered ||
      ev.pending != EventState{}.pending) {
    out += "events " + HexWord(ev.registered) + " " + HexWord(ev.pending) + " " + std::to_string(ev.registrations) +
           " " + std::to_string(ev.clears) + "\n";
  }
  if (e.clock.sets != 0 || e.clock.fields != Clock{}.fields) {
    out += "clock " + HexWord(e.clock.fields) + " " + std::to_string(e.clock.sets) + "\n";
  }
  if (e.debugCommands != 0) {
    const std::vector<std::uint8_t> bytes(e.lastDebugCommand.begin(), e.lastDebugCommand.end());
    out += "debug " + std::to_string(e.debugCommands) + " " + std::to_string(bytes.size()) + "\n" +
           HexLines(bytes, "  ");
  }
  for (const ControllerCommand &c : e.commands) {
    std::snprintf(line, sizeof line, "command 0x%02x %u %u\n", c.function, c.device, c.parameter);
    out += line;
  }
  const FirmwareDownload &fw = e.firmware;
  if (fw.state != FirmwareState::None) {
    std::snprintf(line, sizeof line, "firmware %s %d %" PRIu32 " 0x%08" PRIx32 " %" PRIu32 "\n",
                  kFirmwareStateNames[static_cast<std::size_t>(fw.state)], fw.device, fw.size, fw.crc, fw.pages);
    out += line;
  }
  return out;
}

// Reads one controller-state line (and its hex block) into e. False: not such a line, or bad.
bool ParseControllerState(const std::vector<std::string> &lines, std::size_t &i, Enclosure &e, bool *known) {
  const std::vector<std::string> w = Words(lines[i]);
  *known = true;
  long n = 0;
  long device = 0;
  std::vector<std::uint8_t> bytes;
  const std::string &key = w[0];
  if ((key == "errlog" || key == "postlog") && w.size() == 2) {
    const std::size_t capacity = key == "errlog" ? kErrorLogCapacity : kPostLogCapacity;
    if (!ParseInt(w[1], 1, static_cast<long>(capacity), &n) ||
        !ParseHexBlock(lines, i, static_cast<std::size_t>(n), bytes)) {
      return false;
    }
    (key == "errlog" ? e.errorLog : e.postLog).assign(bytes.begin(), bytes.end());
    return true;
  }
  if (key == "lesb" && w.size() == 3) {
    if (!ParseInt(w[1], 0, kMaxDevice, &device) || !ParseInt(w[2], 0, kMaxPageSize, &n) ||
        static_cast<std::size_t>(n) != kLesbBlockSize || !ParseHexBlock(lines, i, kLesbBlockSize, bytes)) {
      return false;
    }
    e.lesb[static_cast<int>(device)] = bytes;
    return true;
  }
  if (key == "lip" && w.size() == 2 + kLipWords + 1) {
    LipRecord lip;
    if (!ParseInt(w[1], 0, kMaxDevice, &device)) return false;
    for (std::size_t k = 0; k < kLipWords; ++k) {
      if (!ParseU32(w[2 + k], &lip.words[k])) return false;
    }
    if (!ParseU32(w[2 + kLipWords], &lip.writes)) return false;
    e.lip[static_cast<int>(device)] = lip;
    return true;
  }
  if (key == "events" && w.size() == 5) {
    return ParseHexWord(w[1], e.events.registered) && ParseHexWord(w[2], e.events.pending) &&
           ParseU32(w[3], &e.events.registrations) && ParseU32(w[4], &e.events.clears);
  }
  if (key == "clock" && w.size() == 3) return ParseHexWord(w[1], e.clock.fields) && ParseU32(w[2], &e.clock.sets);
  if (key == "debug" && w.size() == 3) {
    if (!ParseU32(w[1], &e.debugCommands) || !ParseInt(w[2], 0, static_cast<long>(kDebugTextCapacity), &n) ||
        !ParseHexBlock(lines, i, static_cast<std::size_t>(n), bytes)) {
      return false;
    }
    e.lastDebugCommand.assign(bytes.begin(), bytes.end());
    return true;
  }
  if (key == "command" && w.size() == 4) {
    long function = 0, parameter = 0;
    if (!ParseInt(w[1], 0, UINT8_MAX, &function) || !ParseInt(w[2], 0, kMaxDevice, &device) ||
        !ParseInt(w[3], 0, UINT8_MAX, &parameter) || e.commands.size() >= kMaxCommandsKept) {
      return false;
    }
    e.commands.push_back({static_cast<std::uint8_t>(function), static_cast<std::uint8_t>(device),
                          static_cast<std::uint8_t>(parameter)});
    return true;
  }
  if (key == "firmware" && w.size() == 6) {
    FirmwareDownload &fw = e.firmware;
    const auto state = std::find(kFirmwareStateNames.begin(), kFirmwareStateNames.end(), w[1]);
    if (state == kFirmwareStateNames.end() || !ParseInt(w[2], 0, kFwDeviceMask, &device)) return false;
    fw.state = static_cast<FirmwareState>(state - kFirmwareStateNames.begin());
    fw.device = static_cast<int>(device);
    return ParseU32(w[3], &fw.size) && ParseU32(w[4], &fw.crc) && ParseU32(w[5], &fw.pages);
  }
  *known = false;
  return false;
}

}  // namespace

std::string StateDirectory() {
  const char *dir = std::getenv("NICISIM_STATE_DIR");
  if (dir != nullptr && *dir != '\0') return dir;
  const char *xdg = std::getenv("XDG_STATE_HOME");
  if (xdg != nullptr && *xdg != '\0') return std::string(xdg) + "/nicisim";
  const char *home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') return std::string(home) + "/.local/state/nicisim";
  return "";
}

int MakeStateDirectory(const std::string &dir) {
  if (dir.empty()) return ENOENT;
  std::string path;
  std::size_t pos = 0;
  while (pos != std::string::npos) {
    pos = dir.find('/', pos + 1);
    path = dir.substr(0, pos);
    if (path.empty()) continue;
    if (mkdir(path.c_str(), kDirMode) != 0 && errno != EEXIST) return errno;
  }
  struct stat st {};
  if (stat(dir.c_str(), &st) != 0) return errno;
  return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

LabLock::LabLock(const std::string &dir) {
  error_ = MakeStateDirectory(dir);
  if (error_ != 0) return;
  const std::string path = dir + "/" + kLockFileName;
  fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kFileMode);
  if (fd_ < 0) {
    error_ = errno;
    return;
  }
  while (flock(fd_, LOCK_EX) != 0) {
    if (errno != EINTR) {
      error_ = errno;
      close(fd_);
      fd_ = -1;
      return;
    }
  }
}

LabLock::~LabLock() {
  if (fd_ >= 0) {
    flock(fd_, LOCK_UN);
    close(fd_);
  }
}

std::string HexLines(const std::vector<std::uint8_t> &bytes, const char *indent) {
  std::string out;
  char cell[64];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i % kHexBytesPerLine == 0) {
      std::snprintf(cell, sizeof cell, "%s%04zx:", indent, i);
      out += cell;
    }
    std::snprintf(cell, sizeof cell, " %02x", bytes[i]);
    out += cell;
    if (i % kHexBytesPerLine == kHexBytesPerLine - 1 || i + 1 == bytes.size()) out += '\n';
  }
  return out;
}

std::string FormatFault(const Fault &f) {
  return std::string(FaultKindName(f.kind)) + " scope=" + ScopeName(f.scope) + " page=" + CodeText(f.page) +
         " func=" + CodeText(f.function) + " count=" +
         (f.remaining == kFaultAlways ? std::string("always") : std::to_string(f.remaining)) +
         " value=" + (f.hasValue ? std::to_string(f.value) : std::string("*")) +
         (f.skip > 0 ? " skip=" + std::to_string(f.skip) : std::string());
}

std::string FormatLab(const Lab &lab) {
  std::string out = std::string(kMagic) + " " + std::to_string(kFormatVersion) + "\n";
  for (const Fault &f : lab.labFaults) out += "lab-fault " + FormatFault(f) + "\n";
  for (const Enclosure &e : lab.enclosures) {
    out += "enclosure " + e.serial + "\n";
    for (const Fault &f : e.faults) out += "fault " + FormatFault(f) + "\n";
    out += "config " + std::to_string(e.config.size()) + "\n" + HexLines(e.config, "  ");
    out += "status " + std::to_string(e.status.size()) + "\n" + HexLines(e.status, "  ");
    for (const auto &[device, image] : e.vpd) {
      out += "vpd " + std::to_string(device) + " " + std::to_string(image.size()) + "\n" +
             HexLines(image, "  ");
    }
    out += FormatControllerState(e);
    out += "end\n";
  }
  return out;
}

bool ParseLab(const std::string &text, Lab &lab, std::string &error) {
  lab = Lab{};
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.size() > kMaxLine) {
      error = "line " + std::to_string(lines.size() + 1) + " is too long";
      return false;
    }
    lines.push_back(line);
  }
  if (lines.empty() || Words(lines[0]) != std::vector<std::string>{kMagic, std::to_string(kFormatVersion)}) {
    error = "not a nicisim state file (first line)";
    return false;
  }
  Enclosure *current = nullptr;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::vector<std::string> w = Words(lines[i]);
    const std::size_t lineNo = i + 1;
    auto fail = [&](const std::string &why) {
      error = "line " + std::to_string(lineNo) + ": " + why;
      return false;
    };
    if (w.empty() || w[0][0] == '#') continue;
    long n = 0;
    long device = 0;
    if (w[0] == "lab-fault") {
      Fault f;
      std::vector<std::string> fw(w.begin(), w.end());
      fw[0] = "fault";
      if (!ParseFaultWords(fw, f) || lab.labFaults.size() >= kMaxFaultsPerEnclosure) return fail("bad lab fault");
      lab.labFaults.push_back(f);
    } else if (w[0] == "enclosure") {
      if (current != nullptr) return fail("enclosure inside enclosure");
      if (w.size() != 2 || !ValidSerial(w[1])) return fail("bad serial number");
      if (lab.enclosures.size() >= kMaxEnclosures) return fail("too many enclosures");
      if (FindEnclosure(lab, w[1]) != nullptr) return fail("serial number given twice");
      lab.enclosures.push_back(Enclosure{});
      current = &lab.enclosures.back();
      current->serial = w[1];
    } else if (current == nullptr) {
      return fail("'" + w[0] + "' outside an enclosure");
    } else if (w[0] == "fault") {
      Fault f;
      if (!ParseFaultWords(w, f) || current->faults.size() >= kMaxFaultsPerEnclosure) return fail("bad fault");
      current->faults.push_back(f);
    } else if ((w[0] == "config" || w[0] == "status") && w.size() == 2 &&
               ParseInt(w[1], 1, static_cast<long>(kMaxPageSize), &n)) {
      std::vector<std::uint8_t> &page = w[0] == "config" ? current->config : current->status;
      if (!ParseHexBlock(lines, i, static_cast<std::size_t>(n), page)) return fail("bad hex block");
    } else if (w[0] == "vpd" && w.size() == 3 && ParseInt(w[1], 0, kMaxDevice, &device) &&
               ParseInt(w[2], 1, static_cast<long>(kMaxPageSize), &n)) {
      std::vector<std::uint8_t> image;
      if (!ParseHexBlock(lines, i, static_cast<std::size_t>(n), image)) return fail("bad hex block");
      current->vpd[static_cast<int>(device)] = image;
    } else if (w[0] == "end" && w.size() == 1) {
      if (current->status.size() != kStatusPageSize) return fail("status page must be 224 bytes");
      if (current->config.size() <= kCfgTypeHeadersOffset) return fail("configuration page too short");
      current = nullptr;
    } else {
      const std::string line = lines[i];
      bool known = false;
      if (ParseControllerState(lines, i, *current, &known)) continue;
      return fail(known ? "bad '" + w[0] + "' entry" : "cannot read '" + line + "'");
    }
  }
  if (current != nullptr) {
    error = "enclosure " + current->serial + " has no end line";
    return false;
  }
  return true;
}

int LoadLab(const std::string &dir, Lab &lab, std::string &error) {
  const std::string path = dir + "/" + kStateFileName;
  FILE *f = std::fopen(path.c_str(), "re");
  if (f == nullptr) {
    if (errno != ENOENT) {
      error = path + ": " + std::strerror(errno);
      return errno;
    }
    lab = DefaultLab();
    return SaveLab(dir, lab, error);
  }
  std::string text;
  char buffer[4096];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
    text.append(buffer, got);
    if (text.size() > static_cast<std::size_t>(kMaxStateFileSize)) break;
  }
  std::fclose(f);
  if (text.size() > static_cast<std::size_t>(kMaxStateFileSize)) {
    error = path + ": state file too large";
    return EFBIG;
  }
  std::string why;
  if (!ParseLab(text, lab, why)) {
    error = path + ": " + why;
    return EINVAL;
  }
  return 0;
}

int SaveLab(const std::string &dir, const Lab &lab, std::string &error) {
  const std::string path = dir + "/" + kStateFileName;
  const std::string temp = path + ".tmp." + std::to_string(getpid());
  const std::string text = FormatLab(lab);
  const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, kFileMode);
  if (fd < 0) {
    error = temp + ": " + std::strerror(errno);
    return errno;
  }
  std::size_t done = 0;
  int rc = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      rc = errno;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (rc == 0 && fsync(fd) != 0) rc = errno;
  if (close(fd) != 0 && rc == 0) rc = errno;
  if (rc == 0 && rename(temp.c_str(), path.c_str()) != 0) rc = errno;
  if (rc != 0) {
    unlink(temp.c_str());
    error = path + ": " + std::strerror(rc);
    return rc;
  }
  // Make the rename itself durable.
  const int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    fsync(dfd);
    close(dfd);
  }
  return 0;
}

void SimLog(const std::string &dir, const char *fmt, ...) {
  char message[512];
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(message, sizeof message, fmt, args);
  va_end(args);
  char line[600];
  const int n = std::snprintf(line, sizeof line, "nicisim[%ld]: %s\n", static_cast<long>(getpid()), message);
  const std::size_t length = n < 0 ? 0 : std::min(static_cast<std::size_t>(n), sizeof line - 1);
  if (MakeStateDirectory(dir) == 0) {
    const std::string path = dir + "/" + kLogFileName;
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, kFileMode);
    if (fd >= 0) {
      // One write per line: O_APPEND keeps lines of concurrent processes whole.
      if (write(fd, line, length) == static_cast<ssize_t>(length)) {
        close(fd);
        return;
      }
      close(fd);
    }
  }
  std::fputs(line, stderr);
}

// "0a1b..." for bytes: the state file's and encsim's compact hex.
std::string HexWord(std::span<const std::uint8_t> bytes) {
  std::string out;
  char cell[3];
  for (std::uint8_t b : bytes) {
    std::snprintf(cell, sizeof cell, "%02x", b);
    out += cell;
  }
  return out;
}

}  // namespace nicisim

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
//   end
#include "simstate.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
  constexpr std::size_t kFaultWords = 7;  // "fault" KIND scope page func count value
  if (w.size() != kFaultWords || !ParseFaultKind(w[1], &f.kind)) return false;
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
         " value=" + (f.hasValue ? std::to_string(f.value) : std::string("*"));
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
      return fail("cannot read '" + lines[i] + "'");
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

}  // namespace nicisim

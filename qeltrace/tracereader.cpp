// Trace reading: one pass over the lines. Stamp lines ("1.234") carry no content and are
// passed over wherever they stand, also between the rows of one dump.
#include "tracereader.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern char **environ;

namespace qeltrace {
namespace {

constexpr std::string_view kHeaderStart = "Program ";
constexpr std::string_view kHeaderEnd = " started.";
constexpr std::string_view kTrailer = "Completed at ";
constexpr std::string_view kDumpHeader = "Output Data, Size = ";
constexpr std::string_view kDumpModule = "talvik";
constexpr int kDumpHeaderLine = 2275;
constexpr int kDumpRowLine = 2410;
constexpr std::string_view kTitleStart = "<---";
constexpr std::size_t kRowBytes = 16;
constexpr std::size_t kRowHalf = 8;
constexpr std::size_t kHexColumn = 3;      // "xx "
constexpr std::size_t kSeparatorWidth = 2;  // "- " or two blanks before column 8
constexpr std::size_t kMaxModuleName = 32;
constexpr unsigned char kGzipMagic0 = 0x1f;
constexpr unsigned char kGzipMagic1 = 0x8b;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "S.mmm": seconds, a point, three digits of milliseconds.
bool IsStamp(std::string_view l) {
  const std::size_t dot = l.find('.');
  if (dot == 0 || dot == std::string_view::npos || l.size() != dot + 4) return false;
  for (std::size_t i = 0; i < l.size(); ++i) {
    if (i != dot && !IsDigit(l[i])) return false;
  }
  return true;
}

int HexDigit(char c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Splits "module:line message" into its parts; false when the line has no such prefix.
bool SplitPrefix(std::string_view l, Entry &e) {
  const std::size_t colon = l.find(':');
  if (colon == 0 || colon == std::string_view::npos || colon > kMaxModuleName) return false;
  for (std::size_t i = 0; i < colon; ++i) {
    const char c = l[i];
    if (!(IsDigit(c) || c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return false;
  }
  std::size_t i = colon + 1;
  long source = 0;
  for (; i < l.size() && IsDigit(l[i]); ++i) {
    source = source * 10 + (l[i] - '0');
    if (source > 1000000) return false;
  }
  if (i == colon + 1 || i >= l.size() || l[i] != ' ') return false;
  e.module.assign(l.substr(0, colon));
  e.source = static_cast<int>(source);
  e.text.assign(l.substr(i + 1));
  return true;
}

// A dump row "OFF: xx xx ... - xx ...  'chars'" at `offset` holding `count` bytes.
bool ReadRow(std::string_view row, std::uint32_t offset, std::size_t count, std::vector<std::uint8_t> &out) {
  char want[16];
  const int n = std::snprintf(want, sizeof want, "%03u: ", offset);
  if (n <= 0 || !row.starts_with(std::string_view(want, static_cast<std::size_t>(n)))) return false;
  row.remove_prefix(static_cast<std::size_t>(n));
  for (std::size_t j = 0; j < count; ++j) {
    const std::size_t at = j * kHexColumn + (j >= kRowHalf ? kSeparatorWidth : 0);
    if (row.size() < at + kHexColumn) return false;
    const int hi = HexDigit(row[at]), lo = HexDigit(row[at + 1]);
    if (hi < 0 || lo < 0 || row[at + 2] != ' ') return false;
    out.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
  }
  return true;
}

struct Reader {
  std::string_view text;
  std::size_t pos = 0;
  std::size_t lineNo = 0;

  bool Next(std::string_view &line) {
    if (pos >= text.size()) return false;
    const std::size_t end = text.find('\n', pos);
    const std::size_t stop = end == std::string_view::npos ? text.size() : end;
    line = text.substr(pos, stop - pos);
    pos = end == std::string_view::npos ? text.size() : end + 1;
    ++lineNo;
    return true;
  }
  // The next line that is not a stamp.
  bool NextContent(std::string_view &line) {
    while (Next(line)) {
      if (!IsStamp(line)) return true;
    }
    return false;
  }
};

int Stop(Trace &trace, std::size_t line, std::string note) {
  trace.stopLine = line;
  trace.stopNote = std::move(note);
  return 1;
}

// Reads the rows of the dump whose header `e` holds; false (with the trace's stop set) when
// the rows break off or do not read as rows.
bool ReadDump(Reader &r, Entry &e, Trace &trace) {
  const std::string_view size = std::string_view(e.text).substr(kDumpHeader.size());
  unsigned long declared = 0;
  for (const char c : size) {
    if (!IsDigit(c) || declared > UINT32_MAX / 10) {
      Stop(trace, e.fileLine, "dump header with a size that is not a number: " + e.text);
      return false;
    }
    declared = declared * 10 + static_cast<unsigned long>(c - '0');
  }
  if (size.empty() || declared > UINT32_MAX || declared > r.text.size()) {
    Stop(trace, e.fileLine, "dump header with an impossible size: " + e.text);
    return false;
  }
  e.declared = static_cast<std::uint32_t>(declared);
  e.bytes.reserve(e.declared);
  for (std::uint32_t offset = 0; offset < e.declared; offset += kRowBytes) {
    std::string_view line;
    Entry row;
    if (!r.NextContent(line)) {
      Stop(trace, r.lineNo, "the trace ends inside a dump, at offset " + std::to_string(offset) + " of " +
                                std::to_string(e.declared));
      return false;
    }
    const std::size_t count = std::min<std::size_t>(kRowBytes, e.declared - offset);
    if (!SplitPrefix(line, row) || row.module != kDumpModule || row.source != kDumpRowLine ||
        !ReadRow(row.text, offset, count, e.bytes)) {
      Stop(trace, r.lineNo, "dump row for offset " + std::to_string(offset) + " expected, found: " +
                                std::string(line.substr(0, 80)));
      return false;
    }
  }
  return true;
}

}  // namespace

int ReadTrace(std::string_view text, Trace &trace) {
  trace = Trace{};
  Reader r{text};
  std::string_view line;
  if (!r.Next(line) || !line.starts_with(kHeaderStart) || !line.ends_with(kHeaderEnd) ||
      line.size() <= kHeaderStart.size() + kHeaderEnd.size()) {
    return Stop(trace, 1, "not a trace of this family: the first line is not \"Program NAME started.\"");
  }
  trace.program.assign(line.substr(kHeaderStart.size(), line.size() - kHeaderStart.size() - kHeaderEnd.size()));
  if (!r.Next(line)) return Stop(trace, 2, "the trace ends after its first line");
  trace.started.assign(line);
  if (!r.Next(line) || !line.empty()) return Stop(trace, 3, "no empty line after the start time");
  while (r.NextContent(line)) {
    if (line.empty()) {  // the trailer: an empty line, then "Completed at ..."
      const std::size_t at = r.lineNo;
      if (!r.Next(line) || !line.starts_with(kTrailer)) return Stop(trace, at, "an empty line that is not the trailer's");
      trace.completed = true;
      trace.completedAt.assign(line.substr(kTrailer.size()));
      while (r.Next(line)) {
        if (!line.empty()) return Stop(trace, r.lineNo, "text after the trailer");
      }
      return 0;
    }
    Entry e;
    e.fileLine = r.lineNo;
    if (!SplitPrefix(line, e)) return Stop(trace, r.lineNo, "not a trace line: " + std::string(line.substr(0, 80)));
    if (e.module == kDumpModule && e.source == kDumpHeaderLine && e.text.starts_with(kDumpHeader)) {
      e.kind = EntryKind::Dump;
      if (!trace.entries.empty() && trace.entries.back().kind == EntryKind::Line &&
          trace.entries.back().text.starts_with(kTitleStart)) {
        e.title = trace.entries.back().text;
      }
      if (!ReadDump(r, e, trace)) return 1;
    }
    trace.entries.push_back(std::move(e));
  }
  return Stop(trace, r.lineNo + 1, "the trace ends without its trailer (the run did not finish)");
}

namespace {

// Reads all of fd into text, refusing more than kMaxTraceBytes.
bool ReadAll(int fd, std::string &text, std::string &error) {
  char buf[65536];
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      error = std::string("read failed: ") + std::strerror(errno);
      return false;
    }
    if (text.size() + static_cast<std::size_t>(n) > kMaxTraceBytes) {
      error = "larger than " + std::to_string(kMaxTraceBytes) + " bytes, refused";
      return false;
    }
    text.append(buf, static_cast<std::size_t>(n));
  }
}

// Runs "gzip -dc -- path" and keeps its output.
bool Gunzip(const std::string &path, std::string &text, std::string &error) {
  int out[2];
  if (pipe(out) != 0) {
    error = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  char gzip[] = "gzip", dc[] = "-dc", end[] = "--";
  std::string file = path;
  char *argv[] = {gzip, dc, end, file.data(), nullptr};
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, gzip, &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  bool ok = spawned == 0 && ReadAll(out[0], text, error);
  close(out[0]);
  int status = -1;
  if (spawned == 0) {
    if (!ok) kill(pid, SIGTERM);
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  if (spawned != 0) error = std::string("cannot run gzip: ") + std::strerror(spawned);
  if (ok && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
    // A cut-off .gz still yields what gzip could decompress; the reader reports where it ends.
    if (text.empty()) {
      error = "gzip could not decompress it";
      ok = false;
    }
  }
  return ok;
}

bool StartsGzip(const std::string &text) {
  return text.size() >= 2 && static_cast<unsigned char>(text[0]) == kGzipMagic0 &&
         static_cast<unsigned char>(text[1]) == kGzipMagic1;
}

}  // namespace

int LoadTraceText(const std::string &path, std::string &text, std::string &error) {
  text.clear();
  const bool fromStdin = path == "-";
  std::string raw;
  if (fromStdin) {
    if (!ReadAll(STDIN_FILENO, raw, error)) return 1;
  } else {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      error = std::string("cannot open: ") + std::strerror(errno);
      return 1;
    }
    const bool ok = ReadAll(fd, raw, error);
    close(fd);
    if (!ok) return 1;
  }
  if (!StartsGzip(raw)) {
    text = std::move(raw);
    return 0;
  }
  if (!fromStdin) return Gunzip(path, text, error) ? 0 : 1;
  // Compressed standard input: gzip reads it back from a private scratch file.
  char scratch[] = "/tmp/qeltrace.XXXXXX";
  const int fd = mkstemp(scratch);
  if (fd < 0) {
    error = std::string("cannot make a scratch file: ") + std::strerror(errno);
    return 1;
  }
  std::size_t done = 0;
  while (done < raw.size()) {
    const ssize_t n = write(fd, raw.data() + done, raw.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  const bool written = done == raw.size();
  close(fd);
  const bool ok = written && Gunzip(scratch, text, error);
  unlink(scratch);
  if (!written) error = "cannot write a scratch file";
  return ok ? 0 : 1;
}

}  // namespace qeltrace

// Reading a trace file as the utilities of this family write it: the header, the trace lines
// with their module and source line, the page dumps turned back into bytes, and the trailer.
// The decoder (qeltrace) and the lab's importer (encsim import) both read traces through this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qeltrace {

// A trace file larger than this is refused before it is read: no run of these utilities
// writes one near it, and the whole text is kept in memory.
constexpr std::size_t kMaxTraceBytes = 256u * 1024u * 1024u;

enum class EntryKind : std::uint8_t { Line, Dump };

struct Entry {
  EntryKind kind = EntryKind::Line;
  std::size_t fileLine = 0;  // where it starts in the file, from 1
  std::string module;        // "qelses_pcm", "talvik", "qelses", "qeldebug", ...
  int source = 0;            // the source line the prefix shows
  std::string text;          // the message without its newline; a dump's header line
  // Dumps only: the title line written just before (e.g. "<--- Status Page read --->", ""
  // when there is none), the size the header declares, and the bytes the rows show.
  std::string title;
  std::uint32_t declared = 0;
  std::vector<std::uint8_t> bytes;
};

struct Trace {
  std::string program;  // from "Program NAME started."
  std::string started;  // the start time as written
  std::vector<Entry> entries;
  bool completed = false;  // the trailer was found
  std::string completedAt;
  // Where reading stopped short, and why; stopLine 0 when the whole text was read.
  std::size_t stopLine = 0;
  std::string stopNote;
};

// Reads trace text. Returns 0 when all of it was understood; else 1, with what was read up to
// the place where reading stopped kept in `trace` and that place in stopLine and stopNote.
// A run that ended without its trailer (killed, or still running) counts as stopped short.
int ReadTrace(std::string_view text, Trace &trace);

// Loads a trace: `path` "-" is standard input. gzip-compressed text (a ".gz" trace, or any
// input that starts with gzip's magic bytes) is decompressed by running gzip, without a
// shell. Returns 0, or 1 with a message in `error`.
int LoadTraceText(const std::string &path, std::string &text, std::string &error);

}  // namespace qeltrace

// Page dump: every page the library sends or receives goes into the trace as lines of sixteen
// bytes, in decimal offsets, hex pairs and characters.
#include <algorithm>
#include <array>
#include <cstdio>

#include "qeldebug.h"
#include "stringpage.h"

namespace {
constexpr int kLineHeader = 2275;
constexpr int kLineDumpRow = 2410;

constexpr std::uint32_t kBytesPerLine = 16;
constexpr std::uint32_t kSeparatorColumn = 8;
constexpr std::uint8_t kFirstPrintable = 0x20;
constexpr std::uint8_t kLastPrintable = 0x7E;

// Longest line: a ten-digit offset and ": ", the separator, sixteen hex columns, "  '",
// sixteen characters, the closing apostrophe and the NUL, with room to spare.
constexpr std::size_t kLineCapacity = 112;

using Line = std::array<char, kLineCapacity>;

bool Printable(std::uint8_t c) { return c >= kFirstPrintable && c <= kLastPrintable; }

// Appends formatted text at pos; the capacity above makes truncation impossible, and the
// position never runs past the buffer even so.
template <typename... Args>
void Append(Line &line, std::size_t &pos, const char *fmt, Args... args) {
  const int n = std::snprintf(line.data() + pos, line.size() - pos, fmt, args...);
  if (n > 0) pos = std::min(pos + static_cast<std::size_t>(n), line.size() - 1);
}

// Builds the line at offset o without its closing apostrophe; returns its length.
std::size_t BuildLine(Line &line, const std::uint8_t *data, std::uint32_t size, std::uint32_t o) {
  std::size_t pos = 0;
  Append(line, pos, "%03u: ", static_cast<unsigned>(o));
  for (std::uint32_t j = 0; j < kBytesPerLine; ++j) {
    if (j == kSeparatorColumn) Append(line, pos, "%s", o + kSeparatorColumn < size ? "- " : "  ");
    if (o + j < size) {
      Append(line, pos, "%02x ", static_cast<unsigned>(data[o + j]));
    } else {
      Append(line, pos, "%s", "   ");
    }
  }
  Append(line, pos, "%s", "  '");
  for (std::uint32_t j = 0; j < kBytesPerLine && o + j < size; ++j) {
    const std::uint8_t c = data[o + j];
    if (pos + 1 < line.size()) line[pos++] = Printable(c) ? static_cast<char>(c) : '.';
  }
  line[pos] = '\0';
  return pos;
}
}  // namespace

int OutputData(const std::uint8_t *data, std::uint32_t size, int toTrace) {
  QEL_Trace(kTalvikModule, kLineHeader, "Output Data, Size = %d\n", static_cast<int>(size));
  Line line{};
  for (std::uint32_t o = 0; o < size; o += kBytesPerLine) {
    BuildLine(line, data, size, o);
    if (toTrace != 0) {
      QEL_Trace(kTalvikModule, kLineDumpRow, "%s'\n", line.data());
    } else {
      std::fputs(line.data(), stdout);
      std::fputs("'\n", stdout);
    }
    // A size near the top of the range must not wrap the offset back to zero.
    if (size - o <= kBytesPerLine) break;
  }
  if (toTrace == 0) std::fputc('\n', stdout);
  return 0;
}

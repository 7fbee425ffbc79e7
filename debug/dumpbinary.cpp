// Titled hex dump to standard output and/or the trace.
#include <cstdio>

#include "qeldebug.h"
#include "qeldebug_internal.h"

namespace {
constexpr int kLineTitle = 1957;
constexpr int kLineAddress = 1961;
constexpr int kLineFullRow = 2007;
constexpr int kLineShortRow = 2056;
constexpr int kBytesPerRow = 16;
// Width of the hex part of a full row ("xx " sixteen times) plus the five-blank gap; a short
// row pads to the same column so the characters line up.
constexpr int kCharColumn = 53;

bool Printable(unsigned char c) { return c >= 0x20 && c <= 0x7E; }

// Writes one piece of the dump to each selected output.
void Emit(int toStdout, int toTrace, int line, const char *text) {
  if (toStdout != 0) std::fputs(text, stdout);
  if (toTrace != 0) QEL_Trace(kQelDebugModule, line, "%s", text);
}

// One row of n (1 to 16) bytes at the given offset; the buffer holds the longest row:
// an offset of up to 8 hex digits, 16 hex pairs, the gap, 16 characters and the newline.
void FormatRow(char (&row)[128], int offset, const unsigned char *bytes, int n) {
  int pos = std::snprintf(row, sizeof row, "%03X:", static_cast<unsigned>(offset));
  for (int j = 0; j < n; ++j) {
    pos += std::snprintf(row + pos, sizeof row - static_cast<std::size_t>(pos), "%02x ", bytes[j]);
  }
  const int pad = n == kBytesPerRow ? 5 : kCharColumn - 3 * n;
  pos += std::snprintf(row + pos, sizeof row - static_cast<std::size_t>(pos), "%*s", pad, "");
  for (int j = 0; j < n; ++j) row[pos++] = Printable(bytes[j]) ? static_cast<char>(bytes[j]) : '.';
  row[pos++] = '\n';
  row[pos] = '\0';
}
}  // namespace

int DumpBinary(const char *title, const void *address, int length, int toStdout, int toTrace) {
  // The title and address lines are formatted straight to the outputs, so a title of any
  // length is written whole without a line buffer to overrun.
  if (toStdout != 0) std::printf("\n%s\n", title);
  if (toTrace != 0) QEL_Trace(kQelDebugModule, kLineTitle, "\n%s\n", title);
  if (toStdout != 0) std::printf("Address: 0x%p Length: 0x%x\n\n", address, static_cast<unsigned>(length));
  if (toTrace != 0) {
    QEL_Trace(kQelDebugModule, kLineAddress, "Address: 0x%p Length: 0x%x\n\n", address,
              static_cast<unsigned>(length));
  }
  const auto *bytes = static_cast<const unsigned char *>(address);
  char row[128];
  int offset = 0;
  for (; length - offset > kBytesPerRow - 1; offset += kBytesPerRow) {
    FormatRow(row, offset, bytes + offset, kBytesPerRow);
    Emit(toStdout, toTrace, kLineFullRow, row);
  }
  if (length - offset > 0) {
    FormatRow(row, offset, bytes + offset, length - offset);
    Emit(toStdout, toTrace, kLineShortRow, row);
  }
  return 0;
}

int DumpBinaryToStdout(const char *title, const void *address, int length) {
  return DumpBinary(title, address, length, 1, 1);
}

int DumpBinaryToTrace(const char *title, const void *address, int length) {
  return DumpBinary(title, address, length, 0, 1);
}

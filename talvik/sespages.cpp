// Standard SES pages: the configuration and enclosure status pages read with a page-code check
// and a few retries of their own, and the enclosure control page written whole.
#include <algorithm>
#include <span>

#include "qeldebug.h"
#include "qelses.h"
#include "qelsys.h"
#include "stringpage.h"

namespace {
// A page read that returns another page is tried again this often in all, with this pause
// after each wrong page (the last one included).
constexpr int kPageReadAttempts = 5;
constexpr unsigned kPauseAfterWrongPage = 400000;

// One standard page read: its page, size, messages and the source lines its traces show.
struct PageRead {
  std::uint32_t pageCode;
  std::uint32_t size;
  const char *name;   // operation name that starts its messages
  const char *title;  // traced before each page dump
  int lineEntry;
  int lineTitle;
  int lineExit;
  int lineWrongPage;
};

constexpr PageRead kConfigRead{kConfigPageCode,
                               kConfigPageSize,
                               "TK_ReadConfigPage",
                               "<--- Config Page read --->\n",
                               228,
                               239,
                               241,
                               251};

constexpr PageRead kStatusRead{kStatusPageCode,
                               kStatusPageSize,
                               "TK_ReadStatusPage",
                               "<--- Status Page read --->\n",
                               290,
                               301,
                               303,
                               313};

constexpr int kLineControlEntry = 351;
constexpr int kLineControlTitle = 353;
constexpr int kLineControlExit = 360;

std::int32_t ReadPage(const PageRead &p, const char *serial, std::uint8_t *buffer) {
  QEL_Trace(kTalvikModule, p.lineEntry, "%s: Enclosure SN = %s\n", p.name, serial);
  const std::span<std::uint8_t> page(buffer, p.size);
  for (int attempt = 0; attempt < kPageReadAttempts; ++attempt) {
    std::fill(page.begin(), page.end(), std::uint8_t{0});
    const std::int32_t rc = SES_ReadPage(serial, p.pageCode, p.size, buffer);
    QEL_Trace(kTalvikModule, p.lineTitle, "%s", p.title);
    OutputData(buffer, p.size, 1);
    QEL_Trace(kTalvikModule, p.lineExit, "%s: Exit, rc = %d\n", p.name, rc);
    if (rc != SES_OK) return rc;
    if (page[kPageCodeOffset] == p.pageCode) return SES_OK;
    QEL_Trace(kTalvikModule, p.lineWrongPage, "%s: Wrong PageCode (%d)!!!!\n", p.name,
              page[kPageCodeOffset]);
    QEL_USleep(kPauseAfterWrongPage);
  }
  return SES_RC_ENCLOSURE_STATUS;
}
}  // namespace

std::int32_t TK_ReadConfigPage(const char *serial, std::uint8_t *buffer) {
  return ReadPage(kConfigRead, serial, buffer);
}

std::int32_t TK_ReadStatusPage(const char *serial, std::uint8_t *buffer) {
  return ReadPage(kStatusRead, serial, buffer);
}

std::int32_t TK_WriteControlPage(const char *serial, const std::uint8_t *page) {
  QEL_Trace(kTalvikModule, kLineControlEntry, "TK_WriteControlPage: Entry\n");
  QEL_Trace(kTalvikModule, kLineControlTitle, "<--- Control Page to write --->\n");
  OutputData(page, kStatusPageSize, 1);
  const std::int32_t rc = SES_WritePage(serial, kStatusPageSize, page);
  QEL_Trace(kTalvikModule, kLineControlExit, "TK_WriteControlPage: Exit = %d\n", rc);
  return rc;
}

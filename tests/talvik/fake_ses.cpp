#include "fake_ses.h"

namespace {
std::int32_t Serve(Call call, const char *serial, std::uint8_t *buffer) {
  EXPECT_STREQ(serial, "SN1");
  calls.push_back(std::move(call));
  if (script.empty()) {
    ADD_FAILURE() << "unscripted transport call";
    return SES_RC_CI_FAILED;
  }
  const Answer a = script.front();
  script.pop_front();
  if (buffer != nullptr) std::copy_n(a.bytes.begin(), std::min<std::size_t>(a.bytes.size(), calls.back().inLength), buffer);
  return a.rc;
}
}  // namespace

std::int32_t SES_ReadStringPage(const char *serial, std::uint32_t outLength, const std::uint8_t *outPage,
                                std::uint32_t inLength, std::uint8_t *inBuffer, std::uint32_t delayMs) {
  EXPECT_EQ(delayMs, 0u);
  return Serve({'S', {outPage, outPage + outLength}, 0, inLength}, serial, inBuffer);
}

std::int32_t SES_ReadPage(const char *serial, std::uint32_t pageCode, std::uint32_t length, std::uint8_t *buffer) {
  return Serve({'R', {}, pageCode, length}, serial, buffer);
}

std::int32_t SES_WritePage(const char *serial, std::uint32_t length, const std::uint8_t *page) {
  return Serve({'W', {page, page + length}, 0, 0}, serial, nullptr);
}

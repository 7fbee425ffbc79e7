#include "cirequest.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "niciClient.h"

namespace citest {

namespace {

constexpr std::size_t kFixed = 240;
constexpr std::size_t kData = 204;
constexpr std::size_t kGuard = 32;

void Region(Bytes &m, std::size_t at, std::uint8_t type, std::uint32_t start, std::uint32_t length) {
  m[at] = type;
  qel::store_be32(m.data() + at + 16, start);
  qel::store_be32(m.data() + at + 20, length);
}

Bytes Message(const std::string &serial, bool send, std::uint8_t pageCode, std::uint32_t length) {
  Bytes m((length + kFixed + 3) / 4 * 4, 0);
  qel::store_be16(m.data(), 2);
  qel::store_be32(m.data() + 4, static_cast<std::uint32_t>(m.size()));
  std::memcpy(m.data() + 10, serial.c_str(), std::min<std::size_t>(serial.size() + 1, 38));
  Region(m, 56, 8, 0, 20);
  Region(m, 80, send ? 8 : 1, send ? 20 : 0, send ? length : 0);
  Region(m, 104, send ? 1 : 8, send ? 0 : 20, send ? 0 : length);
  Region(m, 128, 8, length + 20, 36);
  qel::store_be16(m.data() + 152, 59);
  qel::store_be16(m.data() + 154, 2);
  qel::store_be16(m.data() + 190, 1);
  m[192] = send ? 0x1D : 0x1C;
  m[193] = send ? 0x10 : 0x01;
  m[194] = send ? 0 : pageCode;
  qel::store_be16(m.data() + 195, static_cast<std::uint16_t>(length));
  return m;
}

}  // namespace

Bytes SendMessage(const std::string &serial, const Bytes &page) {
  Bytes m = Message(serial, true, 0, static_cast<std::uint32_t>(page.size()));
  std::copy(page.begin(), page.end(), m.begin() + kData);
  return m;
}

Bytes ReceiveMessage(const std::string &serial, std::uint8_t pageCode, std::uint32_t length) {
  return Message(serial, false, pageCode, length);
}

Bytes StringOut(std::uint8_t function, std::uint8_t device, std::size_t size, const Spots &patches) {
  Bytes page(size, 0);
  page[0] = 4;
  qel::store_be16(page.data() + 2, static_cast<std::uint16_t>(size - 4));
  page[4] = function;
  page[8] = device;
  Patch(page, patches);
  return page;
}

void Patch(Bytes &bytes, const Spots &patches) {
  for (const auto &[at, text] : patches) std::copy(text.begin(), text.end(), &bytes.at(at));
}

std::string Text(const Bytes &bytes, std::size_t at, std::size_t n) {
  return at + n <= bytes.size() ? std::string(reinterpret_cast<const char *>(bytes.data()) + at, n) : std::string();
}

void ExpectSpots(const Bytes &bytes, const Spots &expected) {
  for (const auto &[at, text] : expected) EXPECT_EQ(Text(bytes, at, text.size()), text) << "at " << at;
}

Answer Exchange(Bytes message, std::int32_t extra) {
  Answer a;
  std::uint8_t options[12] = {}, response[24] = {}, result[64] = {};
  niCISetOptions(options, 2, 1);
  niCISetOptions(options, 0, 1);
  niCISetOptions(options, 1, extra);
  const std::size_t room = message.size() + static_cast<std::size_t>(extra);
  Bytes buffer(room + kGuard, 0xEE);
  std::fill_n(buffer.begin(), room, 0);
  void *address = buffer.data();
  std::memcpy(response + sizeof response - sizeof address, &address, sizeof address);
  errno = 0;
  a.rc = niCISendSyncRequest(message.data(), static_cast<std::uint32_t>(message.size()), options, result, response);
  a.error = errno;
  EXPECT_EQ(Text(buffer, room, kGuard), std::string(kGuard, '\xEE')) << "wrote past request length + extra";
  EXPECT_EQ(Text(buffer, message.size(), room - message.size()), std::string(room - message.size(), '\0'));
  if (a.rc != 0) return a;
  a.status = niCIBGetRequestStatus(response);
  const std::int32_t size = niCIBGetRequestSize(response);
  const auto *body = static_cast<const std::uint8_t *>(niCIBGetRequest(response));
  EXPECT_EQ(body, buffer.data());
  if (body != nullptr && size > 0) a.body.assign(body, body + size);
  return a;
}

Bytes ReadPage(const std::string &serial, std::uint8_t pageCode, std::uint32_t length, std::int32_t extra) {
  const Bytes message = ReceiveMessage(serial, pageCode, length);
  const Answer a = Exchange(message, extra);
  if (a.rc != 0 || a.status != 0 || a.body.size() != message.size()) return {};
  if (a.directive() != 0 || a.resultWord() != 0) return {};
  const std::size_t end = kData + length;
  EXPECT_EQ(Text(a.body, end, a.body.size() - end), std::string(a.body.size() - end, '\0')) << "past the page";
  return a.data(length);
}

qeltest::ProcResult ScratchLab::Encsim(const std::vector<std::string> &args, int status) const {
  std::vector<std::string> argv{qeltest::BuildPath("nicisim/encsim")};
  argv.insert(argv.end(), args.begin(), args.end());
  qeltest::ProcResult r = qeltest::RunProcess(argv, {"NICISIM_STATE_DIR=" + dir()});
  EXPECT_EQ(r.status, status) << "encsim " << args.at(0) << ": " << r.err;
  return r;
}

}  // namespace citest

#include "cirequest.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "byteorder.h"
#include "niciClient.h"
#include "simstate.h"

namespace citest {

namespace {

constexpr std::size_t kFixed = 240;
constexpr std::size_t kData = 204;
constexpr std::size_t kGuard = 32;
constexpr std::uint8_t kGuardByte = 0xEE;

void Region(std::vector<std::uint8_t> &m, std::size_t at, std::uint8_t type, std::uint32_t start,
            std::uint32_t length) {
  m[at] = type;
  qel::store_be32(m.data() + at + 16, start);
  qel::store_be32(m.data() + at + 20, length);
}

std::vector<std::uint8_t> Message(const std::string &serial, bool send, std::uint8_t pageCode, std::uint32_t length) {
  const std::size_t total = (length + kFixed + 3) / 4 * 4;
  std::vector<std::uint8_t> m(total, 0);
  qel::store_be16(m.data(), 2);
  qel::store_be32(m.data() + 4, static_cast<std::uint32_t>(total));
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

std::vector<std::uint8_t> SendMessage(const std::string &serial, const std::vector<std::uint8_t> &page) {
  std::vector<std::uint8_t> m = Message(serial, true, 0, static_cast<std::uint32_t>(page.size()));
  std::copy(page.begin(), page.end(), m.begin() + kData);
  return m;
}

std::vector<std::uint8_t> ReceiveMessage(const std::string &serial, std::uint8_t pageCode, std::uint32_t length) {
  return Message(serial, false, pageCode, length);
}

std::uint32_t Answer::resultWord() const { return qel::load_be32(body.data() + 52); }
std::int16_t Answer::appResult() const { return static_cast<std::int16_t>(qel::load_be16(body.data() + 54)); }
std::vector<std::uint8_t> Answer::data(std::size_t length) const {
  if (body.size() < kData + length) return {};
  return {body.begin() + kData, body.begin() + static_cast<std::ptrdiff_t>(kData + length)};
}

Answer Exchange(const std::vector<std::uint8_t> &message, std::int32_t extra) {
  Answer a;
  std::uint8_t options[12] = {};
  niCISetOptions(options, 2, 1);
  niCISetOptions(options, 0, 1);
  niCISetOptions(options, 1, extra);
  const std::size_t room = message.size() + static_cast<std::size_t>(extra);
  std::vector<std::uint8_t> buffer(room + kGuard, 0);
  std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(room), buffer.end(), kGuardByte);
  std::uint8_t response[24] = {};
  void *address = buffer.data();
  std::memcpy(response + sizeof response - sizeof address, &address, sizeof address);
  std::uint8_t result[64] = {};
  std::vector<std::uint8_t> request = message;
  errno = 0;
  a.rc = niCISendSyncRequest(request.data(), static_cast<std::uint32_t>(request.size()), options, result, response);
  a.error = errno;
  for (std::size_t i = room; i < buffer.size(); ++i) {
    EXPECT_EQ(buffer[i], kGuardByte) << "library wrote past request length + extra at " << i;
  }
  for (std::size_t i = message.size(); i < room; ++i) EXPECT_EQ(buffer[i], 0) << "wrote into the extra room";
  if (a.rc != 0) return a;
  a.status = niCIBGetRequestStatus(response);
  const std::int32_t size = niCIBGetRequestSize(response);
  const auto *body = static_cast<const std::uint8_t *>(niCIBGetRequest(response));
  EXPECT_EQ(body, buffer.data());
  if (body != nullptr && size > 0) a.body.assign(body, body + size);
  return a;
}

std::vector<std::uint8_t> ReadPage(const std::string &serial, std::uint8_t pageCode, std::uint32_t length) {
  const Answer a = Exchange(ReceiveMessage(serial, pageCode, length));
  if (a.rc != 0 || a.status != 0 || a.directive() != 0 || a.resultWord() != 0) return {};
  return a.data(length);
}

std::vector<std::uint8_t> StringOut(std::uint8_t function, std::uint8_t device, std::size_t size) {
  std::vector<std::uint8_t> page(size, 0);
  page[0] = 4;
  qel::store_be16(page.data() + 2, static_cast<std::uint16_t>(size - 4));
  page[4] = function;
  page[8] = device;
  return page;
}

ScratchLab::ScratchLab(const std::string &tag) : scratch_(tag) {
  setenv("NICISIM_STATE_DIR", scratch_.path().c_str(), 1);
}

ScratchLab::~ScratchLab() { unsetenv("NICISIM_STATE_DIR"); }

nicisim::Lab ScratchLab::Load() const {
  nicisim::LabLock lock(dir());
  nicisim::Lab lab;
  std::string error;
  EXPECT_EQ(nicisim::LoadLab(dir(), lab, error), 0) << error;
  return lab;
}

void ScratchLab::Save(const nicisim::Lab &lab) const {
  nicisim::LabLock lock(dir());
  std::string error;
  EXPECT_EQ(nicisim::SaveLab(dir(), lab, error), 0) << error;
}

void ScratchLab::AddFault(const std::string &serial, const nicisim::Fault &fault) const {
  nicisim::Lab lab = Load();
  if (fault.kind == nicisim::FaultKind::Open) {
    lab.labFaults.push_back(fault);
  } else {
    nicisim::Enclosure *e = nicisim::FindEnclosure(lab, serial);
    ASSERT_NE(e, nullptr);
    e->faults.push_back(fault);
  }
  Save(lab);
}

std::vector<std::string> ScratchLab::LogLines() const { return qeltest::ReadLines(dir() + "/nicisim.log"); }

qeltest::ProcResult ScratchLab::Encsim(const std::vector<std::string> &args) const {
  std::vector<std::string> argv{qeltest::BuildPath("nicisim/encsim")};
  argv.insert(argv.end(), args.begin(), args.end());
  qeltest::ProcResult r = qeltest::RunProcess(argv, {"NICISIM_STATE_DIR=" + dir()});
  if (r.status < 0) ADD_FAILURE() << "encsim did not run: " << r.err;
  return r;
}

std::uint8_t XorFrom12(const std::vector<std::uint8_t> &image) {
  std::uint8_t x = 0;
  for (std::size_t i = 12; i < image.size(); ++i) x ^= image[i];
  return x;
}

}  // namespace citest

// VPD images from the fuzz input: the RDP and IC verification (length field and XOR checksum),
// the PCM field extraction, the update of an image with a new mode, and the utility's whole VPD
// read through the page library with answers from the input.
//
// Input: op byte, flags byte (bit 0: no trace), then the operation's image or arguments and,
// for the whole read, the transport script (fake_transport.h).
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "byteorder.h"
#include "fake_transport.h"
#include "fuzz_support.h"
#include "qelses_pcm.h"
#include "talvik.h"

namespace {

using qelfuzz::Reader;

std::unique_ptr<std::uint8_t[]> Image(Reader &r, std::size_t n) {
  std::vector<std::uint8_t> bytes = r.bytes(n);
  bytes.resize(n, 0);
  auto image = std::unique_ptr<std::uint8_t[]>(new std::uint8_t[n]);
  std::memcpy(image.get(), bytes.data(), n);
  return image;
}

// What the verification must decide, worked out here on its own.
bool ImageValid(const std::uint8_t *image, std::uint16_t vpdLength, std::size_t size) {
  if (qel::load_be16(image + kVpdLengthOffset) != vpdLength) return false;
  std::uint8_t sum = 0;
  for (std::size_t i = kVpdRecordOffset; i < size; ++i) sum ^= image[i];
  return sum == 0;
}

// The mode a PCM field holds: "PCM=" and a digit 0 to 7, else none.
std::int32_t ExpectedMode(const std::uint8_t *image) {
  if (std::memcmp(image + kPcmFieldOffset, "PCM=", 4) != 0) return kModeInvalid;
  const std::uint8_t digit = image[kPcmFieldOffset + 4];
  if (digit < '0' || digit > '0' + kHighestMode) return kModeInvalid;
  return digit - '0';
}

void RunOp(std::uint8_t op, Reader &r) {
  switch (op % 5) {
    case 0: {
      auto image = Image(r, kRdpVpdImageSize);
      const bool valid = ImageValid(image.get(), kRdpVpdLength, kRdpVpdImageSize);
      QELFUZZ_CHECK((TK_VerifyRDPVpd(image.get()) == SES_OK) == valid);
      break;
    }
    case 1: {
      auto image = Image(r, kIcVpdImageSize);
      const bool valid = ImageValid(image.get(), kIcVpdLength, kIcVpdImageSize);
      QELFUZZ_CHECK((TK_VerifyICVpd(image.get()) == SES_OK) == valid);
      break;
    }
    case 2: {
      const std::int32_t forUpdate = r.u8() & 1;
      auto image = Image(r, kVpdImageSize);
      QELFUZZ_CHECK(ExtractPcmMode(image.get(), forUpdate) == ExpectedMode(image.get()));
      break;
    }
    case 3: {
      // A new mode put into an image: the PCM field holds it, a PRS field is there, the
      // checksum is right again, and nothing else has moved.
      const std::uint8_t pick = r.u8();
      const std::int32_t mode =
          (pick & 0x80) == 0 ? pick % (kHighestMode + 1) : static_cast<std::int32_t>(r.u32());
      auto image = Image(r, kVpdImageSize);
      std::memcpy(VpdBuffer, image.get(), kVpdImageSize);
      const bool hadPrs = std::memcmp(image.get() + kPrsFieldOffset, "PRS=", 4) == 0;
      CreateNewVpd(mode);
      if (mode >= 0 && mode <= kHighestMode) QELFUZZ_CHECK(ExtractPcmMode(VpdBuffer, 1) == mode);
      QELFUZZ_CHECK(std::memcmp(VpdBuffer + kPcmFieldOffset, "PCM=", 4) == 0);
      QELFUZZ_CHECK(std::memcmp(VpdBuffer + kPrsFieldOffset, "PRS=", 4) == 0);
      if (hadPrs) {
        QELFUZZ_CHECK(std::memcmp(VpdBuffer + kPrsFieldOffset, image.get() + kPrsFieldOffset,
                                  kVpdFieldSize) == 0);
      }
      std::uint8_t sum = 0;
      for (std::size_t i = kVpdRecordOffset; i < kVpdImageSize; ++i) sum ^= VpdBuffer[i];
      QELFUZZ_CHECK(sum == 0);
      for (std::size_t i = 0; i < kRdpVpdChecksumOffset; ++i) {
        const bool field = i >= kPcmFieldOffset && i < kPrsFieldOffset + kVpdFieldSize;
        if (!field) QELFUZZ_CHECK(VpdBuffer[i] == image[i]);
      }
      const bool lengthRight = qel::load_be16(VpdBuffer + kVpdLengthOffset) == kRdpVpdLength;
      QELFUZZ_CHECK((TK_VerifyRDPVpd(VpdBuffer) == SES_OK) == lengthRight);
      break;
    }
    default: {
      // The utility's read: a mode only from an image that passed verification.
      const std::int32_t forUpdate = r.u8() & 1;
      std::memset(VpdBuffer, 0xEE, kVpdImageSize);
      std::int32_t mode = 12345;
      qelfuzz::transport = {};
      qelfuzz::transport.reader = &r;
      const std::int32_t rc = ReadVpd("IRC0001", &mode, forUpdate);
      qelfuzz::transport.reader = nullptr;
      QELFUZZ_CHECK(rc == 0 || rc == 1);
      if (rc == 1) {
        QELFUZZ_CHECK(mode == 12345);
      } else {
        QELFUZZ_CHECK(mode == kModeInvalid || (mode >= 0 && mode <= kHighestMode));
        if (forUpdate == 1) {
          QELFUZZ_CHECK(TK_VerifyRDPVpd(VpdBuffer) == SES_OK);
          QELFUZZ_CHECK(ExtractPcmMode(VpdBuffer, 1) == mode);
        }
      }
      if (rc == 1 || forUpdate == 0) QELFUZZ_CHECK(VpdBuffer[0] == 0xEE);
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  qelfuzz::Setup("fuzz_vpd_pcm");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  Reader r(data, size);
  const std::uint8_t op = r.u8();
  const std::uint8_t flags = r.u8();
  qelfuzz::Run run((flags & 0x01) == 0);
  RunOp(op, r);
  return 0;
}

// The vendor StringOut functions an enclosure understands: what each does to the enclosure and
// the StringIn answer it prepares. Pages the page library only writes (resets, LIP write,
// event registration, date and time, firmware download) still get an answer, which carries
// the status a careful client can read back.
#include <algorithm>
#include <array>

#include "byteorder.h"
#include "simadapter.h"

namespace nicisim {

namespace {

using Answer = std::vector<std::uint8_t>;

// ---- VPD -------------------------------------------------------------------------------------

// Serves the device's VPD image after the StringIn header (the enclosure rewrites the header).
std::uint8_t ReadVpdFunction(VendorRequest &request, Answer &answer) {
  const int device = request.page[kStrDeviceOffset];
  const auto it = request.enclosure.vpd.find(device);
  const std::vector<std::uint8_t> image =
      it != request.enclosure.vpd.end() ? it->second : DefaultVpdImage(device);
  answer.insert(answer.end(), image.begin() + static_cast<std::ptrdiff_t>(kStrHeaderSize), image.end());
  return SI_Ok;
}

// Keeps the record exactly as written, good checksum or not, so that a client's mistakes stay
// visible. A page shorter than the image is kept zero-filled, a longer one cut at the image.
std::uint8_t WriteVpdFunction(VendorRequest &request, Answer &) {
  if (request.page.size() <= kVpdLengthOffset) return SI_BadRequest;
  if (!request.store) return SI_Ok;
  const int device = request.page[kStrDeviceOffset];
  std::vector<std::uint8_t> image = DefaultVpdImage(device);
  std::fill(image.begin() + static_cast<std::ptrdiff_t>(kVpdLengthOffset), image.end(), 0);
  const std::size_t copy = std::min(image.size(), request.page.size()) - kVpdLengthOffset;
  std::copy_n(request.page.begin() + static_cast<std::ptrdiff_t>(kVpdLengthOffset), copy,
              image.begin() + static_cast<std::ptrdiff_t>(kVpdLengthOffset));
  request.enclosure.vpd[device] = image;
  request.dirty = true;
  return SI_Ok;
}

// ---- Diagnostic reads ------------------------------------------------------------------------

// Every aligned word of a controller's memory holds its own address, XORed with the device
// number in the top byte, so a chunk fetched from the wrong address, placed at the wrong
// offset or taken from the wrong device shows at once in a dump.
std::uint8_t ReadControllerMemory(VendorRequest &request, Answer &answer) {
  constexpr std::uint32_t kWordMask = ~std::uint32_t{3};
  constexpr unsigned kDeviceShift = 24;
  const std::uint32_t address = qel::load_be32(request.page, kCntrlMemAddressOffset);
  const std::uint32_t tag = std::uint32_t{request.page[kStrDeviceOffset]} << kDeviceShift;
  std::array<std::uint8_t, kCntrlMemChunk + sizeof(std::uint32_t)> words{};
  const std::uint32_t first = address & kWordMask;
  for (std::size_t at = 0; at < words.size(); at += sizeof(std::uint32_t)) {
    qel::store_be32(words, at, (first + static_cast<std::uint32_t>(at)) ^ tag);
  }
  answer.resize(kCntrlMemAnswerSize, 0);
  std::copy_n(words.begin() + (address - first), kCntrlMemChunk,
              answer.begin() + static_cast<std::ptrdiff_t>(kCntrlMemDataOffset));
  return SI_Ok;
}

std::uint8_t ReadLog(VendorRequest &request, Answer &answer) {
  const std::uint8_t which = request.page[kStrParameterOffset];
  if (which != kLogError && which != kLogPost) return SI_BadRequest;
  const std::string &log = which == kLogError ? request.enclosure.errorLog : request.enclosure.postLog;
  answer.resize(which == kLogError ? kErrLogAnswerSize : kPostLogAnswerSize, 0);
  const std::size_t length = std::min(log.size(), answer.size() - kLogTextOffset);
  qel::store_be16(answer.data() + kLogLengthOffset, static_cast<std::uint16_t>(length));
  std::copy_n(log.begin(), length, answer.begin() + static_cast<std::ptrdiff_t>(kLogTextOffset));
  return SI_Ok;
}

std::uint8_t ReadLesb(VendorRequest &request, Answer &answer) {
  const std::vector<std::uint8_t> block = LesbFor(request.enclosure, request.page[kStrDeviceOffset]);
  answer.resize(kLesbDataOffset, 0);
  answer.insert(answer.end(), block.begin(), block.end());
  return SI_Ok;
}

// The first ALPAs of the arbitrated loop's valid set, in loop priority order.
constexpr std::array<std::uint8_t, kAlpaMapAnswerSize - kAlpaListOffset> kAlpas{
    0x01, 0x02, 0x04, 0x08, 0x0F, 0x10, 0x17, 0x18, 0x1B, 0x1D, 0x1E, 0x1F,
    0x23, 0x25, 0x26, 0x27, 0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E, 0x31};

// The loop as each device sees it: all the ALPAs, starting at the device's own.
std::uint8_t ReadAlpaMap(VendorRequest &request, Answer &answer) {
  const std::size_t device = request.page[kStrDeviceOffset];
  answer.resize(kAlpaMapAnswerSize, 0);
  answer[kAlpaCountOffset] = static_cast<std::uint8_t>(kAlpas.size());
  for (std::size_t i = 0; i < kAlpas.size(); ++i) {
    answer[kAlpaListOffset + i] = kAlpas[(device + i) % kAlpas.size()];
  }
  return SI_Ok;
}

// Connector number, type (1 optical, 2 copper), port, state (1 cable present).
constexpr std::array<std::array<std::uint8_t, kConnectorEntrySize>,
                     (kConnectorMapAnswerSize - kConnectorsOffset) / kConnectorEntrySize>
    kConnectors{{{0, 1, 0, 1}, {1, 1, 1, 1}, {2, 2, 2, 1}, {3, 2, 3, 0}}};

std::uint8_t ReadConnectorMap(VendorRequest &, Answer &answer) {
  answer.resize(kConnectorMapAnswerSize, 0);
  for (std::size_t i = 0; i < kConnectors.size(); ++i) {
    std::copy(kConnectors[i].begin(), kConnectors[i].end(),
              answer.begin() + static_cast<std::ptrdiff_t>(kConnectorsOffset + i * kConnectorEntrySize));
  }
  return SI_Ok;
}

std::uint8_t ReadLip(VendorRequest &request, Answer &answer) {
  const auto it = request.enclosure.lip.find(request.page[kStrDeviceOffset]);
  const LipRecord lip = it != request.enclosure.lip.end() ? it->second : LipRecord{};
  answer.resize(kLipAnswerSize, 0);
  for (std::size_t w = 0; w < kLipWords; ++w) {
    qel::store_be32(answer.data() + kLipWordsOffset + w * sizeof(std::uint32_t), lip.words[w]);
  }
  qel::store_be32(answer.data() + kLipWritesOffset, lip.writes);
  return SI_Ok;
}

std::uint8_t WriteLip(VendorRequest &request, Answer &) {
  LipRecord &lip = request.enclosure.lip[request.page[kStrDeviceOffset]];
  for (std::size_t w = 0; w < kLipWords; ++w) {
    lip.words[w] = qel::load_be32(request.page, kLipWordsOffset + w * sizeof(std::uint32_t));
  }
  ++lip.writes;
  request.dirty = true;
  return SI_Ok;
}

std::uint8_t ResetLesb(VendorRequest &request, Answer &) {
  const std::size_t port = request.page[kStrParameterOffset];
  if (port >= kLesbPorts) return SI_BadRequest;
  const int device = request.page[kStrDeviceOffset];
  std::vector<std::uint8_t> block = LesbFor(request.enclosure, device);
  std::fill_n(block.begin() + static_cast<std::ptrdiff_t>(port * kLesbPortSize), kLesbPortSize, 0);
  request.enclosure.lesb[device] = block;
  request.dirty = true;
  return SI_Ok;
}

// ---- Events, clock, debug ----------------------------------------------------------------------

// The device byte carries the sub-function. Registering adds the page's events to those
// reported; clearing forgets the page's events that occurred; a read reports the events that
// occurred and are registered.
std::uint8_t Events(VendorRequest &request, Answer &answer) {
  EventState &events = request.enclosure.events;
  const std::uint8_t sub = request.page[kStrDeviceOffset];
  if (sub == kEventsRead) {
    answer.resize(kEventsAnswerSize, 0);
    for (std::size_t i = 0; i < kEventMaskSize; ++i) {
      answer[kEventMaskOffset + i] = static_cast<std::uint8_t>(events.pending[i] & events.registered[i]);
    }
    return SI_Ok;
  }
  if ((sub != kEventsRegister && sub != kEventsClear) || request.page.size() < kEventPageSize) return SI_BadRequest;
  const auto mask = request.page.subspan(kEventMaskOffset, kEventMaskSize);
  for (std::size_t i = 0; i < kEventMaskSize; ++i) {
    if (sub == kEventsRegister) {
      events.registered[i] = static_cast<std::uint8_t>(events.registered[i] | mask[i]);
    } else {
      events.pending[i] = static_cast<std::uint8_t>(events.pending[i] & ~mask[i]);
    }
  }
  ++(sub == kEventsRegister ? events.registrations : events.clears);
  request.dirty = true;
  return SI_Ok;
}

// Read and set share the function and the page size. A page that names no month names no
// date: it asks for the clock. Any other page sets it, byte for byte, unchecked, as the
// enclosure's clock takes whatever it is given. Either way the answer carries the clock in
// the set page's layout.
std::uint8_t DateTime(VendorRequest &request, Answer &answer) {
  Clock &clock = request.enclosure.clock;
  if (request.page[kDateTimeOffset + kDateTimeMonthIndex] != 0) {
    std::copy_n(request.page.begin() + static_cast<std::ptrdiff_t>(kDateTimeOffset), kDateTimeFields,
                clock.fields.begin());
    ++clock.sets;
    request.dirty = true;
  }
  answer.resize(kDateTimeAnswerSize, 0);
  std::copy(clock.fields.begin(), clock.fields.end(), answer.begin() + static_cast<std::ptrdiff_t>(kDateTimeOffset));
  return SI_Ok;
}

// The enclosure's debug shell: records the command and answers with it echoed and "ok".
std::uint8_t DebugCommand(VendorRequest &request, Answer &answer) {
  const auto text = request.page.subspan(kDebugTextOffset);
  const auto nul = std::find(text.begin(), text.end(), 0);
  if (nul == text.end()) return SI_BadRequest;
  const std::string command(text.begin(), nul);
  request.enclosure.lastDebugCommand = command.substr(0, kDebugTextCapacity);
  ++request.enclosure.debugCommands;
  request.dirty = true;
  const std::string reply = "> " + command + "\nok\n";
  answer.resize(kDebugAnswerSize, 0);
  std::copy_n(reply.begin(), std::min(reply.size(), kDebugTextCapacity),
              answer.begin() + static_cast<std::ptrdiff_t>(kDebugTextOffset));
  return SI_Ok;
}

// ---- Controller commands and firmware ---------------------------------------------------------

std::uint8_t RecordCommand(VendorRequest &request, Answer &) {
  std::vector<ControllerCommand> &commands = request.enclosure.commands;
  commands.push_back({request.page[kStrFunctionOffset], request.page[kStrDeviceOffset],
                      request.page[kStrParameterOffset]});
  if (commands.size() > kMaxCommandsKept) commands.erase(commands.begin());
  request.dirty = true;
  return SI_Ok;
}

// A start page opens a new image for the device, data pages append to it in the order they
// come, and a commit installs it. A page out of that order, for another device, or a data
// page whose length field disagrees with its size is refused and changes nothing.
std::uint8_t FirmwareDownloadPage(VendorRequest &request, Answer &) {
  FirmwareDownload &fw = request.enclosure.firmware;
  const std::uint8_t flags = request.page[kStrDeviceOffset] & static_cast<std::uint8_t>(~kFwDeviceMask);
  const int device = request.page[kStrDeviceOffset] & kFwDeviceMask;
  const bool receiving = fw.state == FirmwareState::Receiving && fw.device == device;
  if (flags == kFwStartFlag) {
    fw = FirmwareDownload{FirmwareState::Receiving, device, 0, 0, 0};
  } else if (flags == kFwCommitFlag) {
    if (!receiving || fw.size == 0) return SI_BadRequest;
    fw.state = FirmwareState::Committed;
  } else if (flags == 0) {
    const auto data = request.page.subspan(kFwDataOffset);
    if (!receiving || data.empty() ||
        qel::load_be16(request.page, kPageLengthOffset) + kPageHeaderSize != request.page.size()) {
      return SI_BadRequest;
    }
    fw.crc = Crc32(fw.crc, data);
    fw.size += static_cast<std::uint32_t>(data.size());
    ++fw.pages;
  } else {
    return SI_BadRequest;
  }
  request.dirty = true;
  return SI_Ok;
}

constexpr std::array<VendorFunction, 16> kVendorFunctions{{
    {FC_ReadVpd, "read VPD", kStrHeaderSize, ReadVpdFunction},
    {FC_WriteVpd, "write VPD", kStrHeaderSize, WriteVpdFunction},
    {FC_ControllerReset, "controller reset", kStrHeaderSize, RecordCommand},
    {FC_FirmwareDownload, "firmware download", kFwHeaderSize, FirmwareDownloadPage},
    {FC_ReadControllerMemory, "read controller memory", kCntrlMemRequestSize, ReadControllerMemory},
    {FC_ReadLog, "read error/POST log", kStrHeaderSize, ReadLog},
    {FC_Statesave, "statesave", kStrHeaderSize, RecordCommand},
    {FC_ReadLesb, "read LESB counters", kStrHeaderSize, ReadLesb},
    {FC_ResetLesb, "reset LESB counters", kStrHeaderSize, ResetLesb},
    {FC_ReadAlpaMap, "read ALPA map", kStrHeaderSize, ReadAlpaMap},
    {FC_ReadConnectorMap, "read connector map", kStrHeaderSize, ReadConnectorMap},
    {FC_ReadLip, "read LIP page", kStrHeaderSize, ReadLip},
    {FC_WriteLip, "write LIP page", kLipWriteSize, WriteLip},
    {FC_Events, "events", kStrHeaderSize, Events},
    {FC_DateTime, "date and time", kDateTimeOffset + kDateTimeFields, DateTime},
    {FC_DebugCommand, "debug command", kDebugTextOffset + 1, DebugCommand},
}};

}  // namespace

std::span<const VendorFunction> VendorFunctions() { return kVendorFunctions; }

std::vector<std::uint8_t> AnswerStringOut(VendorRequest &request) {
  std::vector<std::uint8_t> answer(kStrHeaderSize, 0);
  answer[kPageCodeOffset] = kPageString;
  std::uint8_t status = SI_BadRequest;
  if (request.page.size() > kStrDeviceOffset) {
    answer[kStrFunctionOffset] = request.page[kStrFunctionOffset];
    answer[kStrDeviceOffset] = request.page[kStrDeviceOffset];
    status = SI_UnsupportedFunction;
    for (const VendorFunction &fn : kVendorFunctions) {
      if (fn.code != request.page[kStrFunctionOffset]) continue;
      status = request.page.size() >= fn.minSize ? fn.handler(request, answer) : std::uint8_t{SI_BadRequest};
    }
  }
  // A refused request gets the bare header whatever the handler had prepared.
  if (status != SI_Ok) answer.resize(kStrHeaderSize);
  answer[kStrStatusOffset] = status;
  qel::store_be16(answer.data() + kPageLengthOffset, static_cast<std::uint16_t>(answer.size() - kPageHeaderSize));
  return answer;
}

}  // namespace nicisim

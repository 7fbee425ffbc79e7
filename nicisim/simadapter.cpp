// Decoding of the adapter's request message, the enclosure's answers to SEND DIAGNOSTIC and
// RECEIVE DIAGNOSTIC RESULTS, the vendor StringOut functions, and the injected faults.
#include "simadapter.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "byteorder.h"
#include "simstate.h"

namespace nicisim {

namespace {

// ---- Request message -----------------------------------------------------------------------

struct Region {
  std::uint8_t type;
  std::uint32_t start;
  std::uint32_t length;
};

Region ReadRegion(std::span<const std::uint8_t> msg, std::size_t offset) {
  return {msg[offset + kRegionTypeOffset], qel::load_be32(msg, offset + kRegionStartOffset),
          qel::load_be32(msg, offset + kRegionLengthOffset)};
}

struct Command {
  bool send = false;
  std::uint8_t pageCode = 0;  // RECEIVE: page asked for; SEND: byte 0 of the data
  std::uint32_t length = 0;   // data region length L
  std::string serial;
};

// A refusal of the message: the directive status it gets (or, for a CDB the enclosure does not
// take, the application result), and why, for the log.
struct Refusal {
  std::uint8_t directive = 0;
  std::int16_t appResult = 0;
  const char *why = nullptr;
};

constexpr std::size_t RoundUp(std::size_t n) { return (n + kMsgAlignment - 1) / kMsgAlignment * kMsgAlignment; }

Refusal Decode(std::span<const std::uint8_t> msg, Command &cmd) {
  if (msg.size() < kMsgFixedSize) return {DE_BadParameter, 0, "message shorter than its fixed part"};
  if (qel::load_be16(msg, kMsgHeaderOffset) != kMsgHeaderWord) return {DE_BadParameter, 0, "header word is not 2"};
  if (qel::load_be32(msg, kMsgTotalLengthOffset) != msg.size()) {
    return {DE_BadParameter, 0, "total length differs from the request length"};
  }
  if (qel::load_be16(msg, kMsgFunctionOffset) != kMsgFunctionScsi ||
      qel::load_be16(msg, kMsgFunctionQualOffset) != kMsgFunctionQual) {
    return {DE_InvalidDirective, 0, "function is not the SCSI pass-through (59, 2)"};
  }
  const auto serialField = msg.subspan(kMsgSerialOffset, kMsgSerialSize);
  const auto nul = std::find(serialField.begin(), serialField.end(), 0);
  if (nul == serialField.end()) return {DE_BadParameter, 0, "serial number is not terminated"};
  cmd.serial.assign(serialField.begin(), nul);
  if (qel::load_be16(msg, kMsgCommandCountOffset) != kMsgCommandCount) {
    return {DE_BadParameter, 0, "command count is not 1"};
  }
  const std::uint8_t *cdb = msg.data() + kMsgCdbOffset;
  if (cdb[kCdbOpcode] != kOpSendDiagnostic && cdb[kCdbOpcode] != kOpReceiveDiagnostic) {
    return {0, AE_IllReqNotSupported, "operation code is not SEND/RECEIVE DIAGNOSTIC"};
  }
  cmd.send = cdb[kCdbOpcode] == kOpSendDiagnostic;
  const Region command = ReadRegion(msg, kMsgCommandRegionOffset);
  const Region out = ReadRegion(msg, kMsgDataOutRegionOffset);
  const Region in = ReadRegion(msg, kMsgDataInRegionOffset);
  const Region status = ReadRegion(msg, kMsgStatusRegionOffset);
  const Region &data = cmd.send ? out : in;
  const Region &unused = cmd.send ? in : out;
  if (command.type != kRegionPresent || data.type != kRegionPresent || status.type != kRegionPresent ||
      unused.type != kRegionAbsent) {
    return {DE_InvalidDescriptorType, 0, "region types do not fit the command"};
  }
  cmd.length = data.length;
  if (command.start != 0 || command.length != kMsgCommandBlockSize || data.start != kMsgCommandBlockSize ||
      unused.start != 0 || unused.length != 0 || status.start != kMsgCommandBlockSize + data.length ||
      status.length != kMsgStatusRegionSize) {
    return {DE_BadParameter, 0, "region starts or lengths are inconsistent"};
  }
  // Refuses a data region that does not fit the message before anything reads it.
  if (data.length > msg.size() || RoundUp(std::size_t{data.length} + kMsgFixedSize) != msg.size()) {
    return {DE_DataOverrun, 0, "regions do not fit the total length"};
  }
  if (qel::load_be16(cdb + kCdbLength) != static_cast<std::uint16_t>(data.length)) {
    return {DE_BadParameter, 0, "CDB length differs from the data region"};
  }
  const std::uint8_t flags = cmd.send ? kSendDiagPf : kReceiveDiagPcv;
  if (cdb[kCdbFlags] != flags) return {0, AE_IllegalRequest, "CDB byte 1 is not PF (send) / PCV (receive)"};
  cmd.pageCode = cmd.send ? (data.length > 0 ? msg[kMsgDataOffset] : 0) : cdb[kCdbPageCode];
  return {};
}

void SetResultWord(std::span<std::uint8_t> msg, std::int32_t value) {
  // Values that fit 16 bits are application results; wider ones are the whole result word.
  if (value >= INT16_MIN && value <= INT16_MAX) {
    msg[kMsgNetworkResultOffset] = 0;
    qel::store_be16(msg, kMsgAppResultOffset, static_cast<std::uint16_t>(value));
  } else {
    qel::store_be32(msg, kMsgResultWordOffset, static_cast<std::uint32_t>(value));
  }
}

// ---- Faults --------------------------------------------------------------------------------

struct FaultContext {
  bool send;
  int page;
  int function;  // StringOut function of the command, or kAnyCode when it has none
};

// Finds the first fault of this kind that watches the command and is not still skipping,
// counts it down and returns it.
bool TakeFault(std::vector<Fault> &faults, FaultKind kind, const FaultContext &ctx, Fault *hit, bool &dirty) {
  for (auto it = faults.begin(); it != faults.end(); ++it) {
    const Fault &f = *it;
    if (f.kind != kind) continue;
    if (f.scope == CommandScope::Send && !ctx.send) continue;
    if (f.scope == CommandScope::Receive && ctx.send) continue;
    if (f.page != kAnyCode && f.page != ctx.page) continue;
    if (f.function != kAnyCode && f.function != ctx.function) continue;
    if (it->skip > 0) {
      // Lets this command through, so a fault can wait for, say, the third chunk of a read.
      --it->skip;
      dirty = true;
      continue;
    }
    *hit = f;
    if (it->remaining != kFaultAlways) {
      dirty = true;
      if (--it->remaining <= 0) faults.erase(it);
    }
    return true;
  }
  return false;
}

std::int32_t ValueOr(const Fault &f, std::int32_t fallback) { return f.hasValue ? f.value : fallback; }

// Faults that alter a StringIn answer on its way out.
void FaultStringIn(Enclosure &e, const FaultContext &ctx, std::vector<std::uint8_t> &answer, bool &dirty) {
  Fault f;
  if (answer.size() < kStrHeaderSize) return;
  if (TakeFault(e.faults, FaultKind::StringStatus, ctx, &f, dirty)) {
    answer[kStrStatusOffset] = static_cast<std::uint8_t>(ValueOr(f, SI_BadRequest));
  }
  if (TakeFault(e.faults, FaultKind::Function, ctx, &f, dirty)) {
    const std::uint8_t other = answer[kStrFunctionOffset] == FC_WriteVpd ? FC_ReadVpd : FC_WriteVpd;
    answer[kStrFunctionOffset] = static_cast<std::uint8_t>(ValueOr(f, other));
  }
  if (TakeFault(e.faults, FaultKind::Device, ctx, &f, dirty)) {
    answer[kStrDeviceOffset] = static_cast<std::uint8_t>(ValueOr(f, answer[kStrDeviceOffset] + 1));
  }
  if (ctx.function != FC_ReadVpd || answer.size() <= kVpdDataOffset) return;
  if (TakeFault(e.faults, FaultKind::VpdLength, ctx, &f, dirty)) {
    const std::uint16_t expected = ExpectedVpdLength(answer[kStrDeviceOffset]);
    qel::store_be16(answer.data() + kVpdLengthOffset,
                    static_cast<std::uint16_t>(ValueOr(f, expected - 1)));
  }
  if (TakeFault(e.faults, FaultKind::VpdChecksum, ctx, &f, dirty)) {
    constexpr std::int32_t kFlipAll = 0xFF;
    answer.back() = static_cast<std::uint8_t>(answer.back() ^ ValueOr(f, kFlipAll));
  }
}

}  // namespace

bool ServePage(const Enclosure &enclosure, std::uint8_t pageCode, std::vector<std::uint8_t> &page) {
  switch (pageCode) {
    case kPageSupported: {
      constexpr std::array<std::uint8_t, 5> kPages{kPageSupported, kPageConfig, kPageStatus, kPageString,
                                                   kPageShortStatus};
      page.assign(kPageHeaderSize, 0);
      qel::store_be16(page.data() + kPageLengthOffset, static_cast<std::uint16_t>(kPages.size()));
      page.insert(page.end(), kPages.begin(), kPages.end());
      return true;
    }
    case kPageConfig:
      page = enclosure.config;
      return true;
    case kPageStatus:
      page = enclosure.status;
      return true;
    case kPageShortStatus:
      page.assign(kShortStatusPageSize, 0);
      page[kPageCodeOffset] = kPageShortStatus;
      return true;
    default:
      return false;
  }
}

std::int32_t ServeOpen(const std::string &stateDir) {
  LabLock lock(stateDir);
  if (lock.error() != 0) {
    SimLog(stateDir, "niCIOpen: cannot lock the lab: %s", std::strerror(lock.error()));
    return -1;
  }
  Lab lab;
  std::string error;
  if (LoadLab(stateDir, lab, error) != 0) {
    SimLog(stateDir, "niCIOpen: %s", error.c_str());
    return -1;
  }
  Fault f;
  bool dirty = false;
  const FaultContext any{false, kAnyCode, kAnyCode};
  std::int32_t rc = 0;
  for (auto it = lab.labFaults.begin(); it != lab.labFaults.end(); ++it) {
    if (it->kind != FaultKind::Open) continue;
    std::vector<Fault> one{*it};
    if (TakeFault(one, FaultKind::Open, any, &f, dirty)) {
      rc = ValueOr(f, -1);
      if (rc == 0) rc = -1;
      if (one.empty()) {
        lab.labFaults.erase(it);
      } else {
        *it = one.front();
      }
      SimLog(stateDir, "fault open: niCIOpen fails with %d", rc);
    }
    break;
  }
  if (dirty && SaveLab(stateDir, lab, error) != 0) SimLog(stateDir, "niCIOpen: %s", error.c_str());
  return rc;
}

RequestOutcome ServeRequest(const std::string &stateDir, Session &session, std::span<std::uint8_t> msg) {
  RequestOutcome outcome;
  if (msg.size() <= kMsgDirectiveStatusOffset) {
    SimLog(stateDir, "malformed request: %zu bytes cannot hold a request message", msg.size());
    outcome.sendErrno = EINVAL;
    return outcome;
  }
  Command cmd;
  const Refusal refusal = Decode(msg, cmd);
  if (refusal.why != nullptr) {
    SimLog(stateDir, "malformed request: %s (directive status %u, application result %d)", refusal.why,
           refusal.directive, refusal.appResult);
    if (refusal.directive != 0) {
      msg[kMsgDirectiveStatusOffset] = refusal.directive;
    } else {
      SetResultWord(msg, refusal.appResult);
    }
    return outcome;
  }

  LabLock lock(stateDir);
  Lab lab;
  std::string error;
  if (lock.error() != 0 || LoadLab(stateDir, lab, error) != 0) {
    SimLog(stateDir, "request: lab unavailable: %s", lock.error() != 0 ? std::strerror(lock.error()) : error.c_str());
    outcome.sendErrno = EIO;
    return outcome;
  }
  Enclosure *enclosure = FindEnclosure(lab, cmd.serial);
  if (enclosure == nullptr) {
    SetResultWord(msg, AE_BadSerialNumber);
    return outcome;
  }
  const std::span<std::uint8_t> data = msg.subspan(kMsgDataOffset, cmd.length);
  auto pending = session.pending.find(cmd.serial);
  FaultContext ctx{cmd.send, cmd.pageCode, kAnyCode};
  if (cmd.send && cmd.pageCode == kPageString && data.size() > kStrFunctionOffset) {
    ctx.function = data[kStrFunctionOffset];
  } else if (!cmd.send && cmd.pageCode == kPageString && pending != session.pending.end()) {
    ctx.function = pending->second[kStrFunctionOffset];
  }

  bool dirty = false;
  Fault f;
  std::vector<Fault> &faults = enclosure->faults;
  auto logFault = [&](const Fault &hit) {
    SimLog(stateDir, "fault %s hit on %s %s page %d", FaultKindName(hit.kind), cmd.serial.c_str(),
           cmd.send ? "SEND" : "RECEIVE", cmd.pageCode);
  };
  // Faults on the way to the enclosure: the command is not carried out.
  bool refused = true;
  if (TakeFault(faults, FaultKind::Busy, ctx, &f, dirty)) {
    outcome.sendErrno = EBUSY;
  } else if (TakeFault(faults, FaultKind::SendFail, ctx, &f, dirty)) {
    outcome.sendErrno = EIO;
  } else if (TakeFault(faults, FaultKind::RequestStatus, ctx, &f, dirty)) {
    outcome.requestStatus = ValueOr(f, 1);
  } else if (TakeFault(faults, FaultKind::Directive, ctx, &f, dirty)) {
    msg[kMsgDirectiveStatusOffset] = static_cast<std::uint8_t>(ValueOr(f, DE_Failure));
  } else if (TakeFault(faults, FaultKind::Result, ctx, &f, dirty)) {
    SetResultWord(msg, ValueOr(f, AE_Failure));
  } else {
    refused = false;
  }
  if (refused) logFault(f);

  if (!refused && cmd.send) {
    if (cmd.pageCode == kPageStatus) {
      if (data.size() != kStatusPageSize || qel::load_be16(data, kPageLengthOffset) != kStatusPageLength) {
        SetResultWord(msg, AE_IllReqBadLength);
      } else {
        ApplyControlPage(*enclosure, data);
        session.shortStatus[cmd.serial] = SI_Ok;
        dirty = true;
      }
    } else if (cmd.pageCode == kPageString) {
      const bool noStore =
          ctx.function == FC_WriteVpd && TakeFault(faults, FaultKind::NoStore, ctx, &f, dirty);
      if (noStore) logFault(f);
      VendorRequest request{*enclosure, data, !noStore, false};
      std::vector<std::uint8_t> answer = AnswerStringOut(request);
      session.shortStatus[cmd.serial] = answer[kStrStatusOffset];
      session.pending[cmd.serial] = std::move(answer);
      dirty = dirty || request.dirty;
    } else {
      SetResultWord(msg, AE_IllReqBadPageCode);
    }
  } else if (!refused) {
    std::vector<std::uint8_t> page;
    bool served = true;
    if (cmd.pageCode == kPageString) {
      if (pending != session.pending.end()) {
        page = std::move(pending->second);
        session.pending.erase(pending);
      } else {
        page.assign(kStrHeaderSize, 0);
        page[kPageCodeOffset] = kPageString;
        page[kStrStatusOffset] = SI_NothingPending;
        qel::store_be16(page.data() + kPageLengthOffset, static_cast<std::uint16_t>(kStrHeaderSize - kPageHeaderSize));
      }
      FaultStringIn(*enclosure, ctx, page, dirty);
    } else {
      served = ServePage(*enclosure, cmd.pageCode, page);
      const auto reported = session.shortStatus.find(cmd.serial);
      if (served && cmd.pageCode == kPageShortStatus && reported != session.shortStatus.end()) {
        page[kShortStatusOffset] = reported->second;
      }
      if (served && cmd.pageCode == kPageShortStatus && TakeFault(faults, FaultKind::ShortStatus, ctx, &f, dirty)) {
        page[kShortStatusOffset] = static_cast<std::uint8_t>(ValueOr(f, 1));
        logFault(f);
      }
    }
    if (served && !page.empty() && TakeFault(faults, FaultKind::PageCode, ctx, &f, dirty)) {
      page[kPageCodeOffset] = static_cast<std::uint8_t>(ValueOr(f, cmd.pageCode + 1));
      logFault(f);
    }
    if (served) {
      // The data region gets L bytes: the page zero-padded, or cut at L.
      std::fill(data.begin(), data.end(), 0);
      std::copy_n(page.begin(), std::min(page.size(), data.size()), data.begin());
    } else {
      SetResultWord(msg, AE_IllReqBadPageCode);
    }
  }
  if (dirty && SaveLab(stateDir, lab, error) != 0) {
    SimLog(stateDir, "request: %s", error.c_str());
    outcome.sendErrno = EIO;
  }
  return outcome;
}

}  // namespace nicisim

// The importer retells the run as the adapter saw it: the commands the utility sent, in order,
// and for each whether a fault refused it or altered its answer. It reads the trace the way the
// page library and the transport write it:
//   - a page read attempt ("SES_ReadPage: Trying") is RECEIVE of the page, then RECEIVE 8;
//   - a page write attempt ("SES_WritePage: Trying") is SEND of the page, then RECEIVE 8;
//   - a string exchange attempt (between the StringOut dump and each answer's dump) is SEND 4,
//     then RECEIVE 4.
// A refused command shows as the transport's failure lines closed by the SEND or RECEIVE exit
// line. A refused page read's status RECEIVE leaves the same lines as a refused page RECEIVE;
// the importer takes the page RECEIVE, which the replay then fails the same way.
// Each fault hits once, watching only commands of its own scope and page (and function, for a
// StringOut), and lets through as many of them as the adapter shows it before its hit.
#include "simimport.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "byteorder.h"

namespace nicisim {
namespace {

using qeltrace::Entry;
using qeltrace::EntryKind;
using Bytes = std::vector<std::uint8_t>;

// Trace texts of the transport ("qelses") and the page library ("talvik").
constexpr std::string_view kTransportModule = "qelses";
constexpr std::string_view kLibraryModule = "talvik";
constexpr std::string_view kReadTrying = "SES_ReadPage: Trying";
constexpr std::string_view kWriteTrying = "SES_WritePage: Trying";
constexpr std::string_view kConRc = "SES_SendCIRequest: CI ERROR conRC = ";
constexpr std::string_view kCiExit = "SES_SendCIRequest: Exit, rc = ";
constexpr std::string_view kResponseStatus = "SES_SendCIRequest: CI ERROR responseStatus = ";
constexpr std::string_view kDirective = "Directive failed : ";
constexpr std::string_view kNetworkResult = "Network result    : ";
constexpr std::string_view kAppResult = "Application result: ";
constexpr std::string_view kSendExit = "SES_SendDiagnosticCommand: Exit";
constexpr std::string_view kReceiveExit = "SES_RecvDiagnosticResult: Exit";
constexpr std::string_view kShortEnc = "SES_WritePage: ShortEnc Status = ";
constexpr std::string_view kOpenFailed = "SES_WritePage: Connection Failed (RC = ";
constexpr std::string_view kStringOutTitle = "<--- StringOut Page to write --->";
constexpr std::string_view kConfigTitle = "<--- Config Page read --->";
constexpr std::string_view kStatusTitle = "<--- Status Page read --->";
constexpr std::string_view kVpdWriteTitle = "<--- Write VPD StringOut Page ------>";
constexpr std::string_view kControlTitle = "<--- Control Page to write --->";
constexpr std::string_view kOperationExit = ": Exit";
constexpr std::string_view kVpdWriteExitOk = "TK_WriteVpd: Exit, rc = 0";
constexpr std::string_view kSerialMarks[] = {"SN=", "SN = "};
// Library operations that read the configuration page or the status page through SES_ReadPage.
constexpr std::string_view kConfigReaders[] = {"TK_IsEnclosureIRC:", "TK_ReadConfigPage:", "TK_GetFWLevel:"};
constexpr std::string_view kStatusReaders[] = {"TK_ReadStatusPage:"};
constexpr std::int32_t kBusyCode = 4107;  // the transport's result for an adapter busy answer

constexpr std::array<FaultKind, 5> kTransportChain = {FaultKind::Busy, FaultKind::SendFail, FaultKind::RequestStatus,
                                                      FaultKind::Directive, FaultKind::Result};

struct Hit {
  FaultKind kind;
  std::int32_t value;
};

struct Command {
  bool send = false;
  int page = 0;
  int function = kAnyCode;        // of the StringOut this command sends or answers
  std::optional<Hit> refusal;     // a transport fault: the command was not carried out
  std::vector<Hit> alterations;   // faults that changed its answer
  std::size_t fileLine = 0;
};

bool Refused(const Command &c) { return c.refusal.has_value(); }

bool HitBy(const Command &c, FaultKind k) {
  if (c.refusal && c.refusal->kind == k) return true;
  return std::any_of(c.alterations.begin(), c.alterations.end(), [k](const Hit &h) { return h.kind == k; });
}

// Whether the adapter asks about a fault of kind k for command c (see ServeRequest).
bool Consulted(FaultKind k, const Command &c) {
  const auto chain = std::find(kTransportChain.begin(), kTransportChain.end(), k);
  if (chain != kTransportChain.end()) {
    if (!c.refusal) return true;
    const auto by = std::find(kTransportChain.begin(), kTransportChain.end(), c.refusal->kind);
    return by >= chain;
  }
  if (Refused(c)) return false;
  switch (k) {
    case FaultKind::StringStatus:
    case FaultKind::Function:
    case FaultKind::Device:
      return !c.send && c.page == kPageString;
    case FaultKind::VpdLength:
    case FaultKind::VpdChecksum:
      return !c.send && c.page == kPageString && c.function == FC_ReadVpd;
    case FaultKind::ShortStatus:
      return !c.send && c.page == kPageShortStatus;
    case FaultKind::PageCode:
      return !c.send;
    case FaultKind::NoStore:
      return c.send && c.page == kPageString && c.function == FC_WriteVpd;
    default:
      return false;
  }
}

Fault FilterFor(const Command &c, const Hit &h) {
  Fault f;
  f.kind = h.kind;
  f.scope = c.send ? CommandScope::Send : CommandScope::Receive;
  f.page = c.page;
  f.function = c.send && c.page == kPageString ? c.function : kAnyCode;
  f.remaining = 1;
  // Busy, a failed send and a write not kept have no value to give.
  f.hasValue = h.kind != FaultKind::Busy && h.kind != FaultKind::SendFail && h.kind != FaultKind::NoStore;
  f.value = f.hasValue ? h.value : 0;
  return f;
}

bool Matches(const Fault &f, const Command &c) {
  if ((f.scope == CommandScope::Send) != c.send) return false;
  if (f.page != c.page) return false;
  return f.function == kAnyCode || f.function == c.function;
}

bool ParseInt(std::string_view text, std::int32_t &value) {
  const std::string s(text.substr(0, text.find_first_of(")!, ")));
  if (s.empty()) return false;
  char *end = nullptr;
  const long v = std::strtol(s.c_str(), &end, 0);
  if (end == s.c_str() || *end != '\0' || v < INT32_MIN || v > INT32_MAX) return false;
  value = static_cast<std::int32_t>(v);
  return true;
}

bool StartsWithAny(std::string_view text, std::span<const std::string_view> marks) {
  return std::any_of(marks.begin(), marks.end(), [&](std::string_view m) { return text.starts_with(m); });
}

enum class Attempt { None, Read, Write };

// The walk through the trace, one entry at a time.
struct Walk {
  std::vector<Command> commands;
  std::vector<std::string> notes;
  int readPage = kPageConfig;  // page the current library operation reads
  Attempt attempt = Attempt::None;
  int attemptPage = 0, attemptFunction = kAnyCode;
  Bytes lastWritten;           // the page a write attempt sends
  // A string exchange: its function and device, and how its current attempt went.
  bool inExchange = false;
  int exchangeFunction = kAnyCode, exchangeDevice = -1;
  enum class Closed { None, Send, Receive } closed = Closed::None;
  bool openFailedInAttempt = false;
  // The failure lines seen since the attempt began.
  std::optional<Hit> failure;
  bool conRc = false;
  std::int32_t network = 0;
  // Failed opens and their code.
  std::int32_t openFailures = 0, openCode = -1;
  // Pages as answered, each the first one the trace shows.
  std::optional<Bytes> config, status, vpd;
  std::size_t configLine = 0, statusLine = 0, vpdLine = 0;
  std::optional<Bytes> vpdWritten;        // the record the utility wrote, when the write went through
  std::optional<Bytes> vpdAfterWrite;     // the first image read after it
  std::size_t line = 0;

  Command &Push(bool send, int page, int function) {
    Command c;
    c.send = send;
    c.page = page;
    c.function = function;
    c.fileLine = line;
    commands.push_back(c);
    return commands.back();
  }

  std::optional<Hit> TakeFailure() {
    std::optional<Hit> f = failure;
    if (!f) notes.push_back("line " + std::to_string(line) + ": a failed command whose cause the trace does not name; replayed as a success");
    failure.reset();
    conRc = false;
    return f;
  }

  void BeginAttempt(Attempt a, int page, int function) {
    CloseAttempt();
    attempt = a;
    attemptPage = page;
    attemptFunction = function;
    failure.reset();
    conRc = false;
  }

  // An attempt that met no failure: both of its commands went through.
  void CloseAttempt() {
    if (attempt == Attempt::Read) {
      Push(false, attemptPage, kAnyCode);
      Push(false, kPageShortStatus, kAnyCode);
    } else if (attempt == Attempt::Write) {
      Push(true, attemptPage, attemptFunction);
      Push(false, kPageShortStatus, kAnyCode);
    }
    attempt = Attempt::None;
  }

  void Refuse(bool send, int page, int function) {
    Command &c = Push(send, page, function);
    c.refusal = TakeFailure();
  }

  void TransportLine(std::string_view text) {
    std::int32_t v = 0;
    if (text.starts_with(kConRc)) {
      conRc = true;
    } else if (text.starts_with(kCiExit) && conRc && ParseInt(text.substr(kCiExit.size()), v)) {
      failure = Hit{v == kBusyCode ? FaultKind::Busy : FaultKind::SendFail, 0};
    } else if (text.starts_with(kResponseStatus) && ParseInt(text.substr(kResponseStatus.size()), v)) {
      failure = Hit{FaultKind::RequestStatus, v};
    } else if (text.starts_with(kDirective) && ParseInt(text.substr(kDirective.size()), v)) {
      failure = Hit{FaultKind::Directive, v & 0xFF};
    } else if (text.starts_with(kNetworkResult) && ParseInt(text.substr(kNetworkResult.size()), v)) {
      network = v;
    } else if (text.starts_with(kAppResult) && ParseInt(text.substr(kAppResult.size()), v)) {
      // A 16-bit code stands alone in the answer; anything wider fills the whole result word.
      failure = Hit{FaultKind::Result, network == 0 ? v : (network << 16) | (v & 0xFFFF)};
      network = 0;
    } else if (text.starts_with(kSendExit)) {
      if (attempt == Attempt::Write) {
        Refuse(true, attemptPage, attemptFunction);
        attempt = Attempt::None;
      } else if (inExchange) {
        closed = Closed::Send;
      }
    } else if (text.starts_with(kReceiveExit)) {
      if (attempt == Attempt::Read) {
        Refuse(false, attemptPage, kAnyCode);
        attempt = Attempt::None;
      } else if (attempt == Attempt::Write) {
        Push(true, attemptPage, attemptFunction);
        Refuse(false, kPageShortStatus, kAnyCode);
        attempt = Attempt::None;
      } else if (inExchange) {
        closed = Closed::Receive;
      }
    } else if (text.starts_with(kShortEnc) && attempt == Attempt::Write && ParseInt(text.substr(kShortEnc.size()), v)) {
      Push(true, attemptPage, attemptFunction);
      Push(false, kPageShortStatus, kAnyCode).alterations.push_back({FaultKind::ShortStatus, v});
      attempt = Attempt::None;
    } else if (text.starts_with(kOpenFailed) && ParseInt(text.substr(kOpenFailed.size()), v)) {
      ++openFailures;
      openCode = v;
      attempt = Attempt::None;
      openFailedInAttempt = true;
    }
  }

  // The answer of a page read the library dumped: a wrong page code came from a fault.
  void PageRead(const Entry &e, int page, std::optional<Bytes> &keep, std::size_t &keepLine) {
    CloseAttempt();
    Bytes bytes = e.bytes;
    if (bytes.empty()) return;
    // The library dumps its buffer after a failed read too: only an answer counts.
    const auto it = std::find_if(commands.rbegin(), commands.rend(), [&](const Command &c) { return !c.send && c.page == page; });
    if (it == commands.rend() || Refused(*it)) return;
    if (bytes[kPageCodeOffset] != page) it->alterations.push_back({FaultKind::PageCode, bytes[kPageCodeOffset]});
    bytes[kPageCodeOffset] = static_cast<std::uint8_t>(page);
    if (!keep) {
      const std::size_t length = bytes.size() >= kPageHeaderSize ? qel::load_be16(bytes.data() + kPageLengthOffset) + kPageHeaderSize : 0;
      if (page == kPageConfig && length >= kPageHeaderSize && length < bytes.size()) bytes.resize(length);
      keep = std::move(bytes);
      keepLine = e.fileLine;
    }
  }

  // One attempt of a string exchange ends with the dump of its answer.
  void ExchangeAnswer(const Entry &e) {
    if (openFailedInAttempt) {
      // no command reached the adapter
    } else if (closed == Closed::Send) {
      Refuse(true, kPageString, exchangeFunction);
    } else if (closed == Closed::Receive) {
      Push(true, kPageString, exchangeFunction);
      Refuse(false, kPageString, exchangeFunction);
    } else {
      Push(true, kPageString, exchangeFunction);
      Command &c = Push(false, kPageString, exchangeFunction);
      StringAnswer(c, e.bytes);
    }
    closed = Closed::None;
    openFailedInAttempt = false;
    failure.reset();
    conRc = false;
  }

  void StringAnswer(Command &c, const Bytes &answer) {
    if (answer.size() < kStrHeaderSize) return;
    if (answer[kStrStatusOffset] != 0) c.alterations.push_back({FaultKind::StringStatus, answer[kStrStatusOffset]});
    if (answer[kStrFunctionOffset] != exchangeFunction) c.alterations.push_back({FaultKind::Function, answer[kStrFunctionOffset]});
    if (answer[kStrDeviceOffset] != exchangeDevice) c.alterations.push_back({FaultKind::Device, answer[kStrDeviceOffset]});
    if (exchangeFunction != FC_ReadVpd || answer.size() != VpdImageSize(exchangeDevice) || answer.size() <= kVpdDataOffset) {
      if (answer[kPageCodeOffset] != kPageString) c.alterations.push_back({FaultKind::PageCode, answer[kPageCodeOffset]});
      return;
    }
    // The image as the enclosure keeps it: the header it serves, the right length field and
    // checksum; what differs in the answer was done by a fault on the way out.
    Bytes image = DefaultVpdImage(exchangeDevice);
    std::copy(answer.begin() + static_cast<std::ptrdiff_t>(kStrHeaderSize), answer.end(),
              image.begin() + static_cast<std::ptrdiff_t>(kStrHeaderSize));
    const std::uint16_t length = qel::load_be16(answer.data() + kVpdLengthOffset);
    const std::uint16_t expected = ExpectedVpdLength(exchangeDevice);
    if (length != expected) c.alterations.push_back({FaultKind::VpdLength, length});
    qel::store_be16(image.data() + kVpdLengthOffset, expected);
    FixVpdChecksum(image);
    if (image.back() != answer.back()) c.alterations.push_back({FaultKind::VpdChecksum, image.back() ^ answer.back()});
    if (answer[kPageCodeOffset] != kPageString) c.alterations.push_back({FaultKind::PageCode, answer[kPageCodeOffset]});
    if (exchangeDevice != kRdpDevice) return;
    if (!vpd) {
      vpd = image;
      vpdLine = c.fileLine;
    }
    if (vpdWritten && !vpdAfterWrite) vpdAfterWrite = image;
  }

  void Take(const Entry &e) {
    line = e.fileLine;
    if (e.kind == EntryKind::Dump) {
      if (e.title == kStringOutTitle) {
        CloseAttempt();
        inExchange = e.bytes.size() >= kStrHeaderSize;
        exchangeFunction = inExchange ? e.bytes[kStrFunctionOffset] : kAnyCode;
        exchangeDevice = inExchange ? e.bytes[kStrDeviceOffset] : -1;
        closed = Closed::None;
        openFailedInAttempt = false;
      } else if (e.title == kConfigTitle) {
        PageRead(e, kPageConfig, config, configLine);
      } else if (e.title == kStatusTitle) {
        PageRead(e, kPageStatus, status, statusLine);
      } else if (e.title == kVpdWriteTitle || e.title == kControlTitle) {
        CloseAttempt();
        inExchange = false;
        lastWritten = e.bytes;
      } else if (inExchange) {
        ExchangeAnswer(e);
      }
      return;
    }
    if (e.module == kTransportModule) {
      if (e.text.starts_with(kReadTrying)) {
        BeginAttempt(Attempt::Read, readPage, kAnyCode);
      } else if (e.text.starts_with(kWriteTrying)) {
        const int page = lastWritten.empty() ? kPageStatus : lastWritten[kPageCodeOffset];
        const int function = page == kPageString && lastWritten.size() > kStrFunctionOffset ? lastWritten[kStrFunctionOffset] : kAnyCode;
        BeginAttempt(Attempt::Write, page, function);
      } else {
        TransportLine(e.text);
      }
      return;
    }
    if (e.module != kLibraryModule) {
      CloseAttempt();
      return;
    }
    if (e.text.find(kOperationExit) != std::string::npos) {
      CloseAttempt();
      inExchange = false;
    }
    if (StartsWithAny(e.text, kConfigReaders)) {
      CloseAttempt();
      readPage = kPageConfig;
    } else if (StartsWithAny(e.text, kStatusReaders)) {
      CloseAttempt();
      readPage = kPageStatus;
    } else if (e.text.starts_with(kVpdWriteExitOk) && lastWritten.size() > kStrHeaderSize) {
      vpdWritten = lastWritten;
    }
  }
};

std::string SerialOf(const qeltrace::Trace &trace) {
  for (const Entry &e : trace.entries) {
    if (e.kind != EntryKind::Line || e.module != kLibraryModule) continue;
    for (std::string_view mark : kSerialMarks) {
      const std::size_t at = e.text.find(mark);
      if (at == std::string::npos) continue;
      std::string serial = e.text.substr(at + mark.size());
      return serial.substr(0, serial.find_first_of(", "));
    }
  }
  return "";
}

// One fault per hit, in the order of the hits; each lets through the commands it watches that
// the adapter asks it about before its hit and that no earlier fault of its kind took.
// Neighbours alike in all (their skip too: each hits the next command after the other) become one
// fault with a count.
std::vector<Fault> Script(const std::vector<Command> &commands) {
  std::vector<Fault> faults;
  for (std::size_t i = 0; i < commands.size(); ++i) {
    std::vector<Hit> hits = commands[i].alterations;
    if (commands[i].refusal) hits.insert(hits.begin(), *commands[i].refusal);
    for (const Hit &h : hits) {
      Fault f = FilterFor(commands[i], h);
      for (std::size_t j = 0; j < i; ++j) {
        if (Matches(f, commands[j]) && Consulted(h.kind, commands[j]) && !HitBy(commands[j], h.kind)) ++f.skip;
      }
      Fault *last = faults.empty() ? nullptr : &faults.back();
      if (last != nullptr && f.skip == last->skip && last->kind == f.kind && last->scope == f.scope && last->page == f.page &&
          last->function == f.function && last->value == f.value) {
        ++last->remaining;
      } else {
        faults.push_back(f);
      }
    }
  }
  return faults;
}

}  // namespace

int ImportTrace(const qeltrace::Trace &trace, const std::string &serial, ImportResult &out, std::string &error) {
  out = ImportResult{};
  Walk walk;
  for (const Entry &e : trace.entries) walk.Take(e);
  walk.CloseAttempt();
  if (walk.commands.empty() && walk.openFailures == 0) {
    out.notes.push_back("the run never sent a command to an enclosure: nothing to create");
    return 0;
  }
  const std::string name = serial.empty() ? SerialOf(trace) : serial;
  if (name.empty()) {
    error = "the trace names no enclosure; give --serial";
    return 1;
  }
  if (!ValidSerial(name)) {
    error = "'" + name + "' cannot name an enclosure of the lab";
    return 1;
  }
  out.reachedEnclosure = true;
  Enclosure &e = out.enclosure;
  e = MakeEnclosure(name, EnclosureKind::Irc);
  out.notes = walk.notes;
  const auto page = [&](const std::optional<Bytes> &p, std::size_t line, std::vector<std::uint8_t> &into, const char *what) {
    if (p && p->size() <= kMaxPageSize) {
      into = *p;
      out.notes.push_back(std::string(what) + ": as answered at trace line " + std::to_string(line));
    } else {
      out.notes.push_back(std::string(what) + ": not in the trace, the simulator's default");
    }
  };
  page(walk.config, walk.configLine, e.config, "configuration page");
  page(walk.status, walk.statusLine, e.status, "status page");
  page(walk.vpd, walk.vpdLine, VpdFor(e, kRdpDevice), "RDP VPD");
  // A write that went through but was not kept: the image read back is the old one.
  if (walk.vpdWritten && walk.vpdAfterWrite &&
      !std::equal(walk.vpdWritten->begin() + static_cast<std::ptrdiff_t>(kVpdLengthOffset), walk.vpdWritten->end(),
                  walk.vpdAfterWrite->begin() + static_cast<std::ptrdiff_t>(kVpdLengthOffset),
                  walk.vpdAfterWrite->end())) {
    for (Command &c : walk.commands) {
      if (Consulted(FaultKind::NoStore, c)) c.alterations.push_back({FaultKind::NoStore, 0});
    }
  }
  e.faults = Script(walk.commands);
  if (e.faults.size() > kMaxFaultsPerEnclosure) {
    error = "the run needs " + std::to_string(e.faults.size()) + " faults, more than the " +
            std::to_string(kMaxFaultsPerEnclosure) + " an enclosure holds";
    return 1;
  }
  if (walk.openFailures > 0) {
    Fault f;
    f.kind = FaultKind::Open;
    f.remaining = walk.openFailures;
    f.hasValue = true;
    f.value = walk.openCode;
    out.labFaults.push_back(f);
  }
  return 0;
}

}  // namespace nicisim

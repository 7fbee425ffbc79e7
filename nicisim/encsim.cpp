// encsim: looks after the simulated lab behind libniciClient.so. Lists and shows the
// enclosures, creates and removes them, edits their VPD and configuration, and scripts faults.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "byteorder.h"
#include "simimport.h"
#include "simlab.h"
#include "simstate.h"
#include "tracereader.h"

namespace {

using namespace nicisim;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;  // the lab could not be read or written, or no such enclosure
constexpr int kExitUsage = 2;    // bad command line

constexpr const char *kUsage =
    "usage: encsim COMMAND [ARGS]   (state in $NICISIM_STATE_DIR, $XDG_STATE_HOME/nicisim\n"
    "                                or ~/.local/state/nicisim)\n"
    "  list                          one line per enclosure\n"
    "  show SERIAL                   decoded fields, faults and pages in hex\n"
    "  page SERIAL config|status|vpd[=DEV]   bare hex of one page (for sg_ses --inhex)\n"
    "  create SERIAL [--kind irc|irc-old|other] [SETTING...]\n"
    "  remove SERIAL\n"
    "  reset                         back to the default lab\n"
    "  set SERIAL SETTING...         pcm=N prs=C nopcm noprs fw1=LLLL type1=TTTT fw2=LLLL\n"
    "                                type2=TTTT product=TEXT psmode=N errlog=TEXT\n"
    "                                postlog=TEXT noerrlog nopostlog lesb=DEV:PORT:N event=N\n"
    "  fault SERIAL KIND [--count N|--always] [--value V] [--scope any|send|receive]\n"
    "                    [--page P] [--func F] [--skip N]\n"
    "  fault SERIAL clear            (SERIAL 'lab' for the lab-wide open fault)\n"
    "  import TRACE [--serial S]     an enclosure and fault script that replay a traced run\n"
    "  log                           the simulator's log\n"
    "  dir                           the state directory\n"
    "Run 'encsim COMMAND --help' for more about a command.\n";

struct CommandHelp {
  const char *name;
  const char *text;
};
constexpr CommandHelp kHelp[] = {
    {"list", "usage: encsim list\n  One line per enclosure: SERIAL irc=yes|no pcm=N|none|bad faults=N.\n"},
    {"show", "usage: encsim show SERIAL\n  Decoded fields (product, firmware records, irc, pcm, prs,\n"
             "  VPD length and checksum per device, power-supply elements), the controllers'\n"
             "  state (errlog/postlog entries, lesb counters of touched devices, lip words,\n"
             "  events, datetime, last debug command, resets and statesaves, the firmware\n"
             "  image received with its size and CRC-32), faults, then the pages in hex.\n"},
    {"page", "usage: encsim page SERIAL config|status|vpd[=DEV]\n"
             "  Prints the page as served, in hex, 16 bytes a line (DEV defaults to 16).\n"},
    {"create", "usage: encsim create SERIAL [--kind irc|irc-old|other] [SETTING...]\n"
               "  irc: firmware 0310 with IRC type code 000C; irc-old: firmware 0250, known by\n"
               "  its product identification 5284-E11; other: firmware 0320, type 0007.\n"
               "  The new enclosure's RDP VPD has no PCM field unless a setting adds it.\n"},
    {"remove", "usage: encsim remove SERIAL\n"},
    {"reset", "usage: encsim reset\n  Replaces the lab by the default lab: IRC0001 (IRC, PCM=3,\n"
              "  PRS=1), IRC0002 (IRC, no PCM field), JBOD0003 (not an IRC).\n"},
    {"set", "usage: encsim set SERIAL SETTING...\n"
            "  pcm=C prs=C    write \"PCM=C\" / \"PRS=C\" into the RDP VPD (checksum fixed)\n"
            "  nopcm noprs    clear the field (checksum fixed)\n"
            "  fw1= type1= fw2= type2=   firmware record fields of the configuration page\n"
            "  product=TEXT   product identification; psmode=N  power-supply mode bits\n"
            "  errlog=TEXT postlog=TEXT   append a log entry (oldest entries drop out when full)\n"
            "  noerrlog nopostlog         empty the log\n"
            "  lesb=DEV:PORT:N            set the six LESB counters of a port to N\n"
            "  event=N                    event N (0 to 255) occurs\n"},
    {"fault", "usage: encsim fault SERIAL KIND [--count N|--always] [--value V]\n"
              "                    [--scope any|send|receive] [--page P] [--func F] [--skip N]\n"
              "       encsim fault SERIAL clear\n"
              "  Hits the next N (default 1) matching commands, or every one with --always,\n"
              "  after letting --skip N matching commands through (--func 0x4B --skip 2:\n"
              "  the third controller-memory chunk).\n"
              "  KIND (default value in brackets):\n"
              "    open         niCIOpen fails, lab-wide (SERIAL may be 'lab') [-1]\n"
              "    busy         the send fails with EBUSY\n"
              "    sendfail     the send fails with EIO\n"
              "    reqstatus    niCIBGetRequestStatus is nonzero [1]\n"
              "    directive    directive status byte 48 [253]\n"
              "    result       result word; 16-bit values are the application result [-2]\n"
              "    pagecode     a RECEIVE answers with page code V [the page asked + 1]\n"
              "    strstatus    StringIn status byte [3]\n"
              "    function     StringIn function code [0x5A, or 0x69 for a write]\n"
              "    device       StringIn device [the device + 1]\n"
              "    shortstatus  short enclosure status (page 8) byte 1 [1]\n"
              "    vpdlength    VPD image read with length field V [the right length - 1]\n"
              "    vpdchecksum  VPD image read with its checksum XORed with V [0xFF]\n"
              "    nostore      a VPD write is acknowledged but not kept\n"},
    {"import", "usage: encsim import TRACE [--serial S]\n"
               "  Creates (or replaces) the enclosure a trace of qelses_pcm shows, with its\n"
               "  configuration page, status page and RDP VPD as they were answered, and a\n"
               "  fault script that fails the same commands in the same order (busy adapter,\n"
               "  CI errors, wrong page codes, StringIn status, short status, VPD length and\n"
               "  checksum, a write not kept, failed opens). Running the same command line\n"
               "  then replays the run. TRACE may be plain or .gz, or - for standard input.\n"
               "  Prints what came from the trace and what from the simulator's defaults.\n"},
    {"log", "usage: encsim log\n"},
    {"dir", "usage: encsim dir\n"},
};

int Usage(const char *message) {
  std::fprintf(stderr, "encsim: %s\n%s", message, kUsage);
  return kExitUsage;
}

bool WantsHelp(const std::vector<std::string> &args) {
  for (const std::string &a : args) {
    if (a == "--help" || a == "-h") return true;
  }
  return false;
}

bool ParseNumber(const std::string &text, long lo, long hi, long *out) {
  if (text.empty()) return false;
  char *end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 0);
  if (*end != '\0' || v < lo || v > hi) return false;
  *out = v;
  return true;
}

// Runs fn on the lab under the lock; saves when fn returns kExitOk and asks for it.
template <typename Fn>
int WithLab(bool save, Fn fn) {
  const std::string dir = StateDirectory();
  LabLock lock(dir);
  if (lock.error() != 0) {
    std::fprintf(stderr, "encsim: cannot lock the lab in '%s': %s\n", dir.c_str(), std::strerror(lock.error()));
    return kExitFailure;
  }
  Lab lab;
  std::string error;
  if (LoadLab(dir, lab, error) != 0) {
    std::fprintf(stderr, "encsim: %s\n", error.c_str());
    return kExitFailure;
  }
  const int rc = fn(lab);
  if (rc == kExitOk && save && SaveLab(dir, lab, error) != 0) {
    std::fprintf(stderr, "encsim: %s\n", error.c_str());
    return kExitFailure;
  }
  return rc;
}

Enclosure *Need(Lab &lab, const std::string &serial) {
  Enclosure *e = FindEnclosure(lab, serial);
  if (e == nullptr) std::fprintf(stderr, "encsim: no enclosure '%s' in the lab\n", serial.c_str());
  return e;
}

std::string PcmText(const Enclosure &e) {
  const auto it = e.vpd.find(kRdpDevice);
  if (it == e.vpd.end()) return "none";
  const std::string field = VpdField(it->second, kPcmFieldOffset);
  if (field.compare(0, 4, "PCM=") != 0) return "none";
  if (field[4] >= '0' && field[4] <= '7') return field.substr(4);
  return "bad(" + field + ")";
}

std::string PrsText(const Enclosure &e) {
  const auto it = e.vpd.find(kRdpDevice);
  if (it == e.vpd.end()) return "none";
  const std::string field = VpdField(it->second, kPrsFieldOffset);
  return field.compare(0, 4, "PRS=") == 0 ? field.substr(4) : "none";
}

void ShowLogEntries(const char *name, const std::string &log) {
  std::size_t entries = 0;
  for (std::size_t at = 0; at < log.size(); ++entries) {
    const std::size_t end = std::min(log.find('\n', at), log.size());
    std::printf("%s: %s\n", name, log.substr(at, end - at).c_str());
    at = end + 1;
  }
  std::printf("%s %zu entries %zu bytes\n", name, entries, log.size());
}

// What the vendor functions left behind, one line per fact, for people and scripts.
void ShowControllerState(const Enclosure &e) {
  ShowLogEntries("errlog", e.errorLog);
  ShowLogEntries("postlog", e.postLog);
  for (const auto &[device, block] : e.lesb) {
    for (std::size_t port = 0; port < kLesbPorts && block.size() == kLesbBlockSize; ++port) {
      std::printf("lesb device=%d port=%zu", device, port);
      for (std::size_t c = 0; c < kLesbCounters; ++c) {
        std::printf(" %" PRIu32, qel::load_be32(block.data() + port * kLesbPortSize + c * sizeof(std::uint32_t)));
      }
      std::printf("\n");
    }
  }
  for (const auto &[device, lip] : e.lip) {
    std::printf("lip device=%d words=%08" PRIx32 " %08" PRIx32 " %08" PRIx32 " writes=%" PRIu32 "\n", device,
                lip.words[0], lip.words[1], lip.words[2], lip.writes);
  }
  std::printf("events registered=%s pending=%s registrations=%" PRIu32 " clears=%" PRIu32 "\n",
              HexWord(e.events.registered).c_str(), HexWord(e.events.pending).c_str(), e.events.registrations,
              e.events.clears);
  const auto &t = e.clock.fields;
  std::printf("datetime year=%u month=%u day=%u time=%02u:%02u:%02u sets=%" PRIu32 "\n", t[0], t[1], t[2], t[3],
              t[4], t[5], e.clock.sets);
  if (e.debugCommands == 0) {
    std::printf("debug none\n");
  } else {
    std::printf("debug count=%" PRIu32 " last=\"%s\"\n", e.debugCommands, e.lastDebugCommand.c_str());
  }
  for (const ControllerCommand &c : e.commands) {
    if (c.function == FC_Statesave) {
      std::printf("statesave device=%u action=%u\n", c.device, c.parameter);
    } else {
      std::printf("reset device=%u\n", c.device);
    }
  }
  const FirmwareDownload &fw = e.firmware;
  if (fw.state == FirmwareState::None) {
    std::printf("firmware none\n");
  } else {
    std::printf("firmware device=%d size=%" PRIu32 " crc32=%08" PRIx32 " pages=%" PRIu32 " committed=%s\n",
                fw.device, fw.size, fw.crc, fw.pages, fw.state == FirmwareState::Committed ? "yes" : "no");
  }
}

int List(Lab &lab) {
  for (const Enclosure &e : lab.enclosures) {
    std::printf("%s irc=%s pcm=%s faults=%zu\n", e.serial.c_str(), LooksLikeIrc(e) ? "yes" : "no",
                PcmText(e).c_str(), e.faults.size());
  }
  for (const Fault &f : lab.labFaults) std::printf("lab-fault %s\n", FormatFault(f).c_str());
  return kExitOk;
}

int Show(Lab &lab, const std::string &serial) {
  Enclosure *e = Need(lab, serial);
  if (e == nullptr) return kExitFailure;
  const FirmwareRecord a = ReadFirmwareRecord(*e, 1);
  const FirmwareRecord b = ReadFirmwareRecord(*e, 2);
  std::printf("serial %s\n", e->serial.c_str());
  std::printf("product %s\n", ProductId(*e).c_str());
  std::printf("firmware1 level=%s type=%s\n", a.level.c_str(), a.type.c_str());
  std::printf("firmware2 level=%s type=%s\n", b.level.c_str(), b.type.c_str());
  std::printf("irc %s\n", LooksLikeIrc(*e) ? "yes" : "no");
  std::printf("pcm %s\n", PcmText(*e).c_str());
  std::printf("prs %s\n", PrsText(*e).c_str());
  for (const auto &[device, image] : e->vpd) {
    const std::uint16_t length =
        image.size() > kVpdDataOffset ? qel::load_be16(image.data() + kVpdLengthOffset) : 0;
    const bool lengthOk = length == ExpectedVpdLength(device) && image.size() == VpdImageSize(device);
    std::printf("vpd %d length %u %s checksum %s\n", device, length, lengthOk ? "ok" : "BAD",
                VpdXor(image) == 0 ? "ok" : "BAD");
  }
  int n = 1;
  for (std::size_t offset : {kPowerSupply1Offset, kPowerSupply2Offset}) {
    const std::uint8_t *el = e->status.data() + offset;
    std::printf("psu%d mode=%u element=%02x %02x %02x %02x\n", n++, el[kPsuModeByte] & kPsuModeMask, el[0], el[1],
                el[2], el[3]);
  }
  ShowControllerState(*e);
  for (const Fault &f : e->faults) std::printf("fault %s\n", FormatFault(f).c_str());
  std::printf("page config %zu\n%s", e->config.size(), HexLines(e->config, "  ").c_str());
  std::printf("page status %zu\n%s", e->status.size(), HexLines(e->status, "  ").c_str());
  for (const auto &[device, image] : e->vpd) {
    std::printf("page vpd %d %zu\n%s", device, image.size(), HexLines(image, "  ").c_str());
  }
  return kExitOk;
}

int Page(Lab &lab, const std::string &serial, const std::string &which) {
  Enclosure *e = Need(lab, serial);
  if (e == nullptr) return kExitFailure;
  std::vector<std::uint8_t> page;
  long device = kRdpDevice;
  if (which == "config") {
    page = e->config;
  } else if (which == "status") {
    page = e->status;
  } else if (which == "vpd" || (which.rfind("vpd=", 0) == 0 && ParseNumber(which.substr(4), 0, 255, &device))) {
    const auto it = e->vpd.find(static_cast<int>(device));
    page = it != e->vpd.end() ? it->second : DefaultVpdImage(static_cast<int>(device));
  } else {
    return Usage(("unknown page '" + which + "' (config, status, vpd[=DEV])").c_str());
  }
  for (std::size_t i = 0; i < page.size(); ++i) {
    std::printf("%02x%c", page[i], (i % 16 == 15 || i + 1 == page.size()) ? '\n' : ' ');
  }
  return kExitOk;
}

int ApplySettings(Enclosure &e, const std::vector<std::string> &settings) {
  for (const std::string &s : settings) {
    const std::string error = ApplySetting(e, s);
    if (!error.empty()) {
      std::fprintf(stderr, "encsim: %s\n", error.c_str());
      return kExitUsage;
    }
  }
  return kExitOk;
}

int Create(const std::vector<std::string> &args) {
  if (args.empty()) return Usage("create needs a serial number");
  const std::string serial = args[0];
  if (!ValidSerial(serial)) {
    return Usage("serial numbers are 1 to 37 letters, digits, '-', '_' or '.'");
  }
  EnclosureKind kind = EnclosureKind::Irc;
  std::vector<std::string> settings;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--kind") {
      if (i + 1 >= args.size()) return Usage("--kind needs irc, irc-old or other");
      const std::string k = args[++i];
      if (k == "irc") {
        kind = EnclosureKind::Irc;
      } else if (k == "irc-old") {
        kind = EnclosureKind::IrcOld;
      } else if (k == "other") {
        kind = EnclosureKind::Other;
      } else {
        return Usage(("unknown kind '" + k + "' (irc, irc-old, other)").c_str());
      }
    } else if (args[i].rfind("--", 0) == 0) {
      return Usage(("unknown option '" + args[i] + "'").c_str());
    } else {
      settings.push_back(args[i]);
    }
  }
  return WithLab(true, [&](Lab &lab) {
    if (FindEnclosure(lab, serial) != nullptr) {
      std::fprintf(stderr, "encsim: enclosure '%s' already exists\n", serial.c_str());
      return kExitFailure;
    }
    if (lab.enclosures.size() >= kMaxEnclosures) {
      std::fprintf(stderr, "encsim: the lab holds at most %zu enclosures\n", kMaxEnclosures);
      return kExitFailure;
    }
    Enclosure e = MakeEnclosure(serial, kind);
    const int rc = ApplySettings(e, settings);
    if (rc == kExitOk) lab.enclosures.push_back(e);
    return rc;
  });
}

int FaultCommand(const std::vector<std::string> &args) {
  if (args.size() < 2) return Usage("fault needs SERIAL and KIND (or clear)");
  const std::string serial = args[0];
  if (args[1] == "clear") {
    if (args.size() != 2) return Usage("fault SERIAL clear takes no options");
    return WithLab(true, [&](Lab &lab) {
      if (serial == "lab") {
        lab.labFaults.clear();
        return kExitOk;
      }
      Enclosure *e = Need(lab, serial);
      if (e == nullptr) return kExitFailure;
      e->faults.clear();
      return kExitOk;
    });
  }
  Fault f;
  if (!ParseFaultKind(args[1], &f.kind)) {
    return Usage(("unknown fault kind '" + args[1] + "' (see encsim fault --help)").c_str());
  }
  bool sawCount = false;
  for (std::size_t i = 2; i < args.size(); ++i) {
    const std::string &opt = args[i];
    long v = 0;
    if (opt == "--always") {
      if (sawCount) return Usage("give either --count or --always");
      sawCount = true;
      f.remaining = kFaultAlways;
      continue;
    }
    if (i + 1 >= args.size()) return Usage((opt + " needs a value (or is unknown)").c_str());
    const std::string value = args[++i];
    if (opt == "--count") {
      if (sawCount) return Usage("give either --count or --always");
      if (!ParseNumber(value, 1, INT32_MAX, &v)) return Usage("--count takes a number of 1 or more");
      sawCount = true;
      f.remaining = static_cast<std::int32_t>(v);
    } else if (opt == "--value") {
      if (!ParseNumber(value, INT32_MIN, INT32_MAX, &v)) return Usage("--value takes a 32-bit number");
      f.hasValue = true;
      f.value = static_cast<std::int32_t>(v);
    } else if (opt == "--page") {
      if (!ParseNumber(value, 0, 255, &v)) return Usage("--page takes a page code 0 to 255");
      f.page = static_cast<int>(v);
    } else if (opt == "--skip") {
      if (!ParseNumber(value, 0, INT32_MAX, &v)) return Usage("--skip takes a number of 0 or more");
      f.skip = static_cast<std::int32_t>(v);
    } else if (opt == "--func") {
      if (!ParseNumber(value, 0, 255, &v)) return Usage("--func takes a function code 0 to 255");
      f.function = static_cast<int>(v);
    } else if (opt == "--scope") {
      if (!ParseScope(value, &f.scope)) return Usage("--scope takes any, send or receive");
    } else {
      return Usage(("unknown option '" + opt + "'").c_str());
    }
  }
  return WithLab(true, [&](Lab &lab) {
    std::vector<Fault> *faults = &lab.labFaults;
    if (f.kind != FaultKind::Open) {
      Enclosure *e = Need(lab, serial);
      if (e == nullptr) return kExitFailure;
      faults = &e->faults;
    } else if (serial != "lab" && FindEnclosure(lab, serial) == nullptr) {
      std::fprintf(stderr, "encsim: no enclosure '%s' in the lab (use 'lab' for the open fault)\n",
                   serial.c_str());
      return kExitFailure;
    }
    if (faults->size() >= kMaxFaultsPerEnclosure) {
      std::fprintf(stderr, "encsim: at most %zu faults at a time\n", kMaxFaultsPerEnclosure);
      return kExitFailure;
    }
    faults->push_back(f);
    return kExitOk;
  });
}

int Import(const std::vector<std::string> &args) {
  std::string path, serial;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--serial") {
      if (i + 1 >= args.size()) return Usage("--serial needs a serial number");
      serial = args[++i];
    } else if (path.empty() && (args[i] == "-" || args[i].rfind("--", 0) != 0)) {
      path = args[i];
    } else {
      return Usage(("unexpected argument '" + args[i] + "' for import").c_str());
    }
  }
  if (path.empty()) return Usage("import needs a trace file (or - for standard input)");
  std::string text, error;
  if (qeltrace::LoadTraceText(path, text, error) != 0) {
    std::fprintf(stderr, "encsim: %s: %s\n", path.c_str(), error.c_str());
    return kExitFailure;
  }
  qeltrace::Trace trace;
  if (qeltrace::ReadTrace(text, trace) != 0) {
    if (trace.entries.empty()) {
      std::fprintf(stderr, "encsim: %s: line %zu: %s\n", path.c_str(), trace.stopLine, trace.stopNote.c_str());
      return kExitFailure;
    }
    std::printf("note: the trace stops at line %zu (%s); imported what comes before\n", trace.stopLine,
                trace.stopNote.c_str());
  }
  ImportResult result;
  if (ImportTrace(trace, serial, result, error) != 0) {
    std::fprintf(stderr, "encsim: %s: %s\n", path.c_str(), error.c_str());
    return kExitFailure;
  }
  if (!result.reachedEnclosure) {
    for (const std::string &n : result.notes) std::printf("note: %s\n", n.c_str());
    return kExitOk;
  }
  return WithLab(true, [&](Lab &lab) {
    const std::string &name = result.enclosure.serial;
    const auto same = [&](const Enclosure &e) { return e.serial == name; };
    const bool replaced = std::any_of(lab.enclosures.begin(), lab.enclosures.end(), same);
    std::erase_if(lab.enclosures, same);
    if (lab.enclosures.size() >= kMaxEnclosures) {
      std::fprintf(stderr, "encsim: the lab holds at most %zu enclosures\n", kMaxEnclosures);
      return kExitFailure;
    }
    lab.enclosures.push_back(result.enclosure);
    std::erase_if(lab.labFaults, [](const Fault &f) { return f.kind == FaultKind::Open; });
    lab.labFaults.insert(lab.labFaults.end(), result.labFaults.begin(), result.labFaults.end());
    std::printf("%s %s from %s\n", replaced ? "replaced" : "created", name.c_str(), path.c_str());
    for (const std::string &n : result.notes) std::printf("%s\n", n.c_str());
    for (const Fault &f : result.labFaults) std::printf("lab %s\n", FormatFault(f).c_str());
    for (const Fault &f : result.enclosure.faults) std::printf("%s\n", FormatFault(f).c_str());
    return kExitOk;
  });
}

int ShowLog() {
  const std::string path = StateDirectory() + "/" + kLogFileName;
  FILE *f = std::fopen(path.c_str(), "re");
  if (f == nullptr) return kExitOk;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) std::fwrite(buffer, 1, n, stdout);
  std::fclose(f);
  return kExitOk;
}

int Run(const std::vector<std::string> &argv) {
  if (argv.empty()) return Usage("no command given");
  const std::string command = argv[0];
  const std::vector<std::string> args(argv.begin() + 1, argv.end());
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  if (WantsHelp(args)) {
    for (const CommandHelp &h : kHelp) {
      if (command == h.name) {
        std::fputs(h.text, stdout);
        return kExitOk;
      }
    }
    return Usage(("unknown command '" + command + "'").c_str());
  }
  auto arity = [&](std::size_t n) { return args.size() == n; };
  if (command == "list" && arity(0)) return WithLab(false, [](Lab &lab) { return List(lab); });
  if (command == "show" && arity(1)) return WithLab(false, [&](Lab &lab) { return Show(lab, args[0]); });
  if (command == "page" && arity(2)) return WithLab(false, [&](Lab &lab) { return Page(lab, args[0], args[1]); });
  if (command == "create") return Create(args);
  if (command == "remove" && arity(1)) {
    return WithLab(true, [&](Lab &lab) {
      for (auto it = lab.enclosures.begin(); it != lab.enclosures.end(); ++it) {
        if (it->serial == args[0]) {
          lab.enclosures.erase(it);
          return kExitOk;
        }
      }
      Need(lab, args[0]);
      return kExitFailure;
    });
  }
  if (command == "reset" && arity(0)) {
    return WithLab(true, [](Lab &lab) {
      lab = DefaultLab();
      return kExitOk;
    });
  }
  if (command == "set" && args.size() >= 2) {
    return WithLab(true, [&](Lab &lab) {
      Enclosure *e = Need(lab, args[0]);
      if (e == nullptr) return kExitFailure;
      return ApplySettings(*e, std::vector<std::string>(args.begin() + 1, args.end()));
    });
  }
  if (command == "fault") return FaultCommand(args);
  if (command == "import") return Import(args);
  if (command == "log" && arity(0)) return ShowLog();
  if (command == "dir" && arity(0)) {
    std::printf("%s\n", StateDirectory().c_str());
    return kExitOk;
  }
  for (const CommandHelp &h : kHelp) {
    if (command == h.name) {
      std::fprintf(stderr, "encsim: wrong arguments for '%s'\n%s", command.c_str(), h.text);
      return kExitUsage;
    }
  }
  return Usage(("unknown command '" + command + "'").c_str());
}

}  // namespace

int main(int argc, char **argv) {
  try {
    return Run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (...) {
    std::fprintf(stderr, "encsim: out of memory\n");
    return kExitFailure;
  }
}

// Trace files from the field, read by the trace reader, decoded by qeltrace (as text and as
// JSON) and turned into a lab enclosure by the importer: any text, however cut or damaged.
// Input: the bytes of a trace file.
// Properties: every dump the reader returns holds exactly the bytes its header declares, and the
// importer never asks for more faults than an enclosure may hold without saying so.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "decode.h"
#include "simimport.h"
#include "tracereader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char *>(data), size);
  qeltrace::Trace trace;
  const int rc = qeltrace::ReadTrace(text, trace);
  if ((rc == 0) != (trace.stopLine == 0)) std::abort();
  for (const qeltrace::Entry &e : trace.entries) {
    if (e.kind == qeltrace::EntryKind::Dump && e.bytes.size() != e.declared) std::abort();
  }
  static FILE *const sink = std::fopen("/dev/null", "w");
  if (DecodeTrace(trace, size % 2 == 1, sink) != rc) std::abort();
  nicisim::ImportResult result;
  std::string error;
  if (nicisim::ImportTrace(trace, "", result, error) == 0 && result.enclosure.faults.size() > nicisim::kMaxFaultsPerEnclosure) {
    std::abort();
  }
  return 0;
}

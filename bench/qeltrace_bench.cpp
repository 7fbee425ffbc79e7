// Decoding a large field trace: a trace of about 1 MB (an update run's lines repeated) is read,
// decoded to text and to JSON, and imported into a lab enclosure; prints the time of each.
//
//   qel_qeltrace_bench [TRACE] [MEGABYTES]   (default: a built-in update run, 1 MB)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "decode.h"
#include "simimport.h"
#include "tracereader.h"

namespace {

// A short update run as the utility writes it: entry, dumps of a StringOut and a VPD answer.
std::string SampleBody() {
  std::string body = "0.001\nqeldebug:1906 qelses_pcm -l IRC0001 -m 5 \ntalvik:727 TK_ReadRDPVpd: Enclosure SN = IRC0001\n"
                     "talvik:737 <--- StringOut Page to write --->\ntalvik:2275 Output Data, Size = 12\n"
                     "talvik:2410 000: 04 00 00 04 69 00 00 00 - 10 00 00 00               '....i.......'\n"
                     "qelses:467 SES_ReadPage: Trying 25000 0\ntalvik:750 <--- RDP VPD Page read --->\n"
                     "talvik:2275 Output Data, Size = 512\n";
  for (int off = 0; off < 512; off += 16) {
    char row[96];
    std::snprintf(row, sizeof row, "talvik:2410 %03d: 00 00 00 00 00 00 00 00 - 00 00 00 00 00 00 00 00   '................'\n", off);
    body += row;
  }
  return body + "talvik:801 TK_ReadRDPVpd: Exit, rc = 0\n";
}

double Millis(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char **argv) {
  std::string one;
  if (argc > 1) {
    std::string error;
    if (qeltrace::LoadTraceText(argv[1], one, error) != 0) {
      std::fprintf(stderr, "qel_qeltrace_bench: %s: %s\n", argv[1], error.c_str());
      return 2;
    }
    // The lines between the header and the trailer are repeated.
    const std::size_t begin = one.find("\n\n"), end = one.rfind("\nCompleted at ");
    one = begin != std::string::npos && end != std::string::npos && end > begin ? one.substr(begin + 2, end - begin - 2) : one;
  } else {
    one = SampleBody();
  }
  const double megabytes = argc > 2 ? std::atof(argv[2]) : 1.0;
  std::string text = "Program qelses_pcm started.\nMon Dec  7 04:51:31 2026\n\n";
  while (static_cast<double>(text.size()) < megabytes * 1e6) text += one;
  text += "\nCompleted at Mon Dec  7 04:51:32 2026\n\n";

  FILE *sink = std::fopen("/dev/null", "w");
  if (sink == nullptr) return 2;
  auto t = std::chrono::steady_clock::now();
  qeltrace::Trace trace;
  const int rc = qeltrace::ReadTrace(text, trace);
  const double read = Millis(t);
  t = std::chrono::steady_clock::now();
  DecodeTrace(trace, false, sink);
  const double decoded = Millis(t);
  t = std::chrono::steady_clock::now();
  DecodeTrace(trace, true, sink);
  const double json = Millis(t);
  t = std::chrono::steady_clock::now();
  nicisim::ImportResult result;
  std::string error;
  nicisim::ImportTrace(trace, "", result, error);
  const double imported = Millis(t);
  std::fclose(sink);
  const double mb = static_cast<double>(text.size()) / 1e6;
  std::printf("trace %.2f MB, %zu entries, read rc %d\n", mb, trace.entries.size(), rc);
  std::printf("read %.1f ms, decode to text %.1f ms, to JSON %.1f ms: read and decode %.1f ms (%.0f MB/s)\n", read,
              decoded, json, read + decoded, mb / ((read + decoded) / 1000.0));
  std::printf("import into a lab enclosure %.1f ms\n", imported);
  return 0;
}

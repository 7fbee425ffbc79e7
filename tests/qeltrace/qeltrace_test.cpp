// qeltrace run as a process on small trace texts: the decoded fields it prints, where it says a
// trace stops short, and its exit status.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "testsupport.h"

namespace {

const std::string kHead = "Program qelses_pcm started.\nMon Dec  7 06:10:35 2026\n\n0.000\nqeldebug:1906 qelses_pcm -l IRC0001 \n";
const std::string kTail = "\nCompleted at Mon Dec  7 06:10:35 2026\n";

// A dump as the page library writes it: title, size line, then rows of 16 bytes; only the
// first `rows` rows when given, as a cut-off trace has them.
std::string Dump(const std::string &title, const std::vector<std::uint8_t> &b, std::size_t rows = SIZE_MAX) {
  std::string out = qeltest::Cat("talvik:2529 <--- ", title, " --->\ntalvik:2275 Output Data, Size = ", std::to_string(b.size()), "\n");
  for (std::size_t off = 0; off < b.size() && off / 16 < rows; off += 16) {
    char hex[32];
    std::snprintf(hex, sizeof hex, "%03zu: ", off);
    out += qeltest::Cat("talvik:2410 ", hex);
    for (std::size_t j = off; j < off + 16 && j < b.size(); ++j) {
      std::snprintf(hex, sizeof hex, "%s%02x ", j % 16 == 8 ? "- " : "", b[j]);
      out += hex;
    }
    out += " '................'\n";
  }
  return out;
}

std::vector<std::uint8_t> Config() {
  std::vector<std::uint8_t> b(296, 0x20);
  b[0] = 1, b[10] = 1;  // one type descriptor header: two power supplies
  const std::string product = "5284-E11-IRC";
  std::copy(product.begin(), product.end(), b.begin() + 28);
  b[132] = 2, b[133] = 2, b[134] = 0, b[135] = 0;
  return b;
}

std::vector<std::uint8_t> BadVpd() {
  std::vector<std::uint8_t> b(512, 0);
  b[0] = 4, b[4] = 0x69, b[8] = 16, b[12] = 0x01, b[13] = 0xf1;  // length 497, checksum byte 0
  return b;
}

TEST(Qeltrace, DecodesAndReportsWhereItStops) {
  const struct {
    std::string name, text;
    bool json;
    int status;
    std::vector<std::string> out;
    std::string err;
  } cases[] = {
      {"config", qeltest::Cat(kHead, Dump("Config Page read", Config()), kTail), false, 0,
       {"command: qelses_pcm -l IRC0001\n", "page 1: configuration", "product: 5284-E11-IRC", "type 0x02 power supply: 2 elements"}, ""},
      {"badvpd", qeltest::Cat(kHead, Dump("RDP VPD Page read", BadVpd()), kTail), false, 0,
       {"function 0x69 read VPD, status 0, device 16", "length 497 (ok, expected 497)", "record XOR f0 (checksum bad)"}, ""},
      {"cierror", qeltest::Cat(kHead, "qelses:160 Directive failed : -3\nqelses:165 Application result: -2\n",
                               "qelses:178 SES_SendCIRequest: Exit, rc = 4101\n", kTail), false, 0,
       {"directive -3 (DE_Failure)", "application -2 (AE_Busy)", "exit 4101 (CI request failed)"}, ""},
      {"truncated", qeltest::Cat(kHead, Dump("Config Page read", Config(), 2)), false, 1,
       {"program: qelses_pcm"}, "cut.txt: line 9: the trace ends inside a dump, at offset 32 of 296\n"},
      {"foreign", "hello\n", false, 1, {}, "foreign.txt: line 1: not a trace of this family"},
      {"json", qeltest::Cat(kHead, "qelses_pcm:1 say \"hi\" C:\\x \x01\n", kTail), true, 0,
       {R"({"line":6,"module":"qelses_pcm","source":1,"text":"say \"hi\" C:\\x \u0001"})", R"({"completed":")"}, ""},
      {"jsonstop", qeltest::Cat(kHead, Dump("Config Page read", Config(), 2)), true, 1,
       {R"({"stop":{"line":9,"note":"the trace ends inside a dump)"}, "line 9:"},
  };
  qeltest::ScratchDir dir("qeltrace");
  const std::string tool = qeltest::BuildPath("qeltrace/qeltrace");
  for (const auto &c : cases) {
    const std::string file = dir.file(c.name == "truncated" ? "cut.txt" : c.name == "foreign" ? "foreign.txt" : c.name);
    std::ofstream(file) << c.text;
    const qeltest::ProcResult r = qeltest::RunProcess(c.json ? std::vector<std::string>{tool, "--json", file}
                                                             : std::vector<std::string>{tool, file});
    EXPECT_EQ(r.status, c.status) << c.name << "\n" << r.err;
    for (const std::string &want : c.out) EXPECT_NE(r.out.find(want), std::string::npos) << c.name << ": " << want << "\n" << r.out;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << c.name << "\n" << r.err;
    if (c.err.empty()) {
      EXPECT_EQ(r.err, "") << c.name;
    }
  }
  // An unreadable file, --help and a usage error.
  const qeltest::ProcResult missing = qeltest::RunProcess({tool, dir.file("none")});
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("cannot open"), std::string::npos) << missing.err;
  EXPECT_EQ(qeltest::RunProcess({tool, "--help"}).status * 10 + qeltest::RunProcess({tool, "--bogus"}).status, 2);
}

}  // namespace

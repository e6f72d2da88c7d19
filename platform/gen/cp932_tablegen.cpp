// cp932_tablegen: writes the C++ source of the code page 932 tables of
// platform/cp932_tables.h, taken from glibc iconv's "CP932" at build time,
// so that the program converts its default code page exactly as iconv does
// without loading iconv's modules in every process.
//
//   cp932_tablegen OUTPUT.cpp
//
// Fails (exit status 1) when iconv lacks CP932 or behaves in a way the
// tables cannot express: a byte sequence of more than two bytes, or a
// character that is not exactly one UTF-16 unit.
#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr uint16_t kInvalid = 0xFFFF;
constexpr uint16_t kLead = 0xFFFE;

[[noreturn]] void fail(const std::string& why) {
  std::fprintf(stderr, "cp932_tablegen: %s\n", why.c_str());
  std::exit(1);
}

// Decodes `n` bytes: the UTF-16 unit, kLead when iconv wants more bytes,
// kInvalid when it rejects them.
uint16_t decode(iconv_t cd, const unsigned char* bytes, size_t n) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* in = reinterpret_cast<char*>(const_cast<unsigned char*>(bytes));
  size_t in_left = n;
  char16_t out[4];
  char* dst = reinterpret_cast<char*>(out);
  size_t dst_left = sizeof(out);
  if (iconv(cd, &in, &in_left, &dst, &dst_left) == static_cast<size_t>(-1)) {
    if (errno == EINVAL) return kLead;
    if (errno == EILSEQ) return kInvalid;
    fail("unexpected iconv failure while decoding");
  }
  if (in_left != 0 || sizeof(out) - dst_left != sizeof(char16_t))
    fail("a CP932 sequence that is not exactly one UTF-16 unit");
  const uint16_t unit = static_cast<uint16_t>(out[0]);
  if (unit == kLead || unit == kInvalid) fail("CP932 decodes to U+FFFE or U+FFFF");
  return unit;
}

// Encodes one UTF-16 unit: kInvalid when CP932 has no such character, the
// byte for a single byte, lead << 8 | trail for a pair.
uint16_t encode(iconv_t cd, char16_t unit) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* in = reinterpret_cast<char*>(&unit);
  size_t in_left = sizeof(unit);
  unsigned char out[8];
  char* dst = reinterpret_cast<char*>(out);
  size_t dst_left = sizeof(out);
  if (iconv(cd, &in, &in_left, &dst, &dst_left) == static_cast<size_t>(-1)) {
    if (errno == EILSEQ) return kInvalid;
    fail("unexpected iconv failure while encoding");
  }
  const size_t n = sizeof(out) - dst_left;
  if (n == 1) return out[0];
  if (n == 2 && out[0] >= 0x80) return static_cast<uint16_t>(out[0] << 8 | out[1]);
  fail("a UTF-16 unit that is not one or two CP932 bytes");
}

void write_array(FILE* f, const std::vector<uint16_t>& v) {
  for (size_t i = 0; i < v.size(); ++i)
    std::fprintf(f, "%s0x%04X,%s", i % 12 == 0 ? "    " : " ", v[i], i % 12 == 11 ? "\n" : "");
  if (v.size() % 12 != 0) std::fputc('\n', f);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) fail("usage: cp932_tablegen OUTPUT.cpp");
  iconv_t dec = iconv_open("UTF-16LE", "CP932");
  iconv_t enc = iconv_open("CP932", "UTF-16LE");
  if (dec == reinterpret_cast<iconv_t>(-1) || enc == reinterpret_cast<iconv_t>(-1))
    fail("iconv has no CP932");

  std::vector<uint16_t> single(256);
  std::vector<uint16_t> lead_index(256, 0);
  std::vector<uint16_t> pairs;
  int leads = 0;
  for (int b = 0; b < 256; ++b) {
    const unsigned char byte = static_cast<unsigned char>(b);
    single[b] = decode(dec, &byte, 1);
    if (single[b] != kLead) continue;
    lead_index[b] = static_cast<uint16_t>(++leads);
    for (int t = 0; t < 256; ++t) {
      const unsigned char two[2] = {byte, static_cast<unsigned char>(t)};
      const uint16_t unit = decode(dec, two, 2);
      if (unit == kLead) fail("a CP932 sequence longer than two bytes");
      pairs.push_back(unit);
    }
  }

  // Encoding, in blocks of 256 units by high byte; block 0 maps nothing.
  std::vector<uint16_t> block_of(256, 0);
  std::vector<uint16_t> blocks(256, kInvalid);
  for (int hi = 0; hi < 256; ++hi) {
    std::vector<uint16_t> block(256, kInvalid);
    bool any = false;
    for (int lo = 0; lo < 256; ++lo) {
      const char16_t unit = static_cast<char16_t>(hi << 8 | lo);
      if (unit >= 0xD800 && unit <= 0xDFFF) continue;  // surrogates: never one character
      block[lo] = encode(enc, unit);
      any = any || block[lo] != kInvalid;
    }
    if (!any) continue;
    block_of[hi] = static_cast<uint16_t>(blocks.size() / 256);
    blocks.insert(blocks.end(), block.begin(), block.end());
  }

  iconv_close(dec);
  iconv_close(enc);

  FILE* f = std::fopen(argv[1], "w");
  if (f == nullptr) fail(std::string("cannot write ") + argv[1]);
  std::fprintf(f,
               "// Generated at build time by platform/gen/cp932_tablegen from glibc iconv's\n"
               "// CP932. Do not edit.\n"
               "#include \"platform/cp932_tables.h\"\n\n"
               "namespace Mirel::detail {\n\n");
  std::fprintf(f, "const uint16_t kCp932Single[256] = {\n");
  write_array(f, single);
  std::fprintf(f, "};\n\nconst uint16_t kCp932LeadIndex[256] = {\n");
  write_array(f, lead_index);
  std::fprintf(f, "};\n\nconst uint16_t kCp932Pairs[%d * 256] = {\n", leads);
  write_array(f, pairs);
  std::fprintf(f, "};\n\nconst uint16_t kCp932EncodeBlock[256] = {\n");
  write_array(f, block_of);
  std::fprintf(f, "};\n\nconst uint16_t kCp932Encode[%zu * 256] = {\n", blocks.size() / 256);
  write_array(f, blocks);
  std::fprintf(f, "};\n\n}  // namespace Mirel::detail\n");
  if (std::fclose(f) != 0) fail(std::string("cannot write ") + argv[1]);
  return 0;
}

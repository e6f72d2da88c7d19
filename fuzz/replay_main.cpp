// A plain driver for the fuzz targets, without libFuzzer: calls
// LLVMFuzzerTestOneInput once for every file named on the command line, or
// for every file in a directory named there. The ordinary test run uses it to
// replay each target's seed corpus, so an input that once crashed a parser
// keeps being tried by every build, with or without the sanitizers.
//
// Exit status: 0 when every input ran, 1 when an argument cannot be read or
// names no input at all (an empty corpus would make the test pass vacuously).
// A crash or a broken invariant aborts the process, naming the input first.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  std::vector<fs::path> inputs;
  for (int a = 1; a < argc; ++a) {
    std::error_code error;
    const fs::path arg = argv[a];
    if (fs::is_directory(arg, error)) {
      for (const auto& entry : fs::directory_iterator(arg, error))
        if (entry.is_regular_file()) inputs.push_back(entry.path());
    } else if (fs::is_regular_file(arg, error)) {
      inputs.push_back(arg);
    } else {
      std::fprintf(stderr, "%s: no such file or directory\n", argv[a]);
      return 1;
    }
    if (error) {
      std::fprintf(stderr, "%s: %s\n", argv[a], error.message().c_str());
      return 1;
    }
  }
  if (inputs.empty()) {
    std::fprintf(stderr, "usage: %s <corpus directory or file>... (no inputs found)\n", argv[0]);
    return 1;
  }
  std::sort(inputs.begin(), inputs.end());

  for (const auto& path : inputs) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "%s: cannot be read\n", path.c_str());
      return 1;
    }
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::fprintf(stderr, "replaying %s (%zu bytes)\n", path.c_str(), bytes.size());
    // A copy of exactly the input's size, so that AddressSanitizer sees any
    // read past its end; never a null pointer, as with libFuzzer.
    static uint8_t empty_input[1];
    std::vector<uint8_t> data(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(data.empty() ? empty_input : data.data(), data.size());
  }
  std::fprintf(stderr, "%zu inputs replayed\n", inputs.size());
  return 0;
}

// Corpus replay: runs one fuzz target's LLVMFuzzerTestOneInput over every
// file of the folders (or files) given on the command line, so that every
// input the fuzzer ever found interesting, and every crash it found, is
// checked again by the ordinary and the sanitizer builds, with any compiler.
//
// A target that breaks its promise aborts, and so fails the test. An empty or
// missing folder fails too: a corpus that silently vanished must not pass.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

// The regular files under `path`, in a stable order, or `path` itself.
std::vector<fs::path> InputsUnder(const fs::path& path) {
  std::vector<fs::path> inputs;
  std::error_code error;
  if (fs::is_regular_file(path, error)) {
    inputs.push_back(path);
    return inputs;
  }
  for (fs::recursive_directory_iterator it(path, error), end; !error && it != end;
       it.increment(error)) {
    if (it->is_regular_file(error)) inputs.push_back(it->path());
  }
  std::sort(inputs.begin(), inputs.end());
  return inputs;
}

bool ReadAll(const fs::path& path, std::vector<std::uint8_t>& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR_OR_FILE...\n", argv[0]);
    return 2;
  }
  std::size_t replayed = 0;
  for (int i = 1; i < argc; ++i) {
    const std::vector<fs::path> inputs = InputsUnder(argv[i]);
    if (inputs.empty()) {
      std::fprintf(stderr, "error: no input files in %s\n", argv[i]);
      return 1;
    }
    for (const fs::path& input : inputs) {
      std::vector<std::uint8_t> bytes;
      if (!ReadAll(input, bytes)) {
        std::fprintf(stderr, "error: cannot read %s\n", input.c_str());
        return 1;
      }
      // Printed before the run, so the input that crashes is the last named.
      std::fprintf(stderr, "replay %s (%zu bytes)\n", input.c_str(), bytes.size());
      // A copy of exactly the input's size, as libFuzzer hands it, so that
      // reading one byte too far is caught by AddressSanitizer.
      std::vector<std::uint8_t> exact(bytes);
      LLVMFuzzerTestOneInput(exact.empty() ? nullptr : exact.data(), exact.size());
      ++replayed;
    }
  }
  std::printf("%zu inputs replayed, 0 failed\n", replayed);
  return 0;
}

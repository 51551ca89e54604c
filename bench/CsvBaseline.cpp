// bench_csv_baseline: the least any program that prints these cases as CSV
// can do, against which dravrun's text outputs are measured. It formats the
// values that `dravfeed --generate N` serves for 10 numeric variables (case
// i holds i + j/4 in column j, odd columns missing when i % 7 == 6) with
// std::to_chars(fixed, decimals), separated by commas, into a 64 KiB buffer
// written with one `write` per buffer: no record to read, no width to fit,
// no quoting. Prints {"rows": N, "seconds": S} on standard output, S being
// the loop's time; bench/endtoend.py times the whole process, as it does
// dravrun.
//
//   bench_csv_baseline CASES DECIMALS OUTPUT_FILE
#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kColumns = 10;
constexpr std::size_t kBlock = 64 * 1024;
// The longest row: ten values below 10^7 with their decimals and commas.
constexpr std::size_t kLongestRow = kColumns * 48;

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fputs("usage: bench_csv_baseline CASES DECIMALS OUTPUT_FILE\n", stderr);
    return 2;
  }
  const long long cases = std::atoll(argv[1]);
  const int decimals = std::atoi(argv[2]);
  const int fd = open(argv[3], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    std::perror(argv[3]);
    return 1;
  }
  static char block[kBlock];
  std::size_t used = 0;
  const auto start = std::chrono::steady_clock::now();
  for (long long i = 0; i < cases; ++i) {
    if (used + kLongestRow > kBlock) {
      if (!WriteAll(fd, block, used)) return 1;
      used = 0;
    }
    char* out = block + used;
    const bool oddMissing = i % 7 == 6;
    for (int j = 0; j < kColumns; ++j) {
      if (j > 0) *out++ = ',';
      if (oddMissing && j % 2 == 1) continue;
      const double value = static_cast<double>(i) + j / 4.0;
      out = std::to_chars(out, block + kBlock, value, std::chars_format::fixed, decimals).ptr;
    }
    *out++ = '\n';
    used = static_cast<std::size_t>(out - block);
  }
  if (!WriteAll(fd, block, used) || close(fd) != 0) return 1;
  const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
  std::printf("{\"rows\": %lld, \"seconds\": %.6f}\n", cases, seconds.count());
  return 0;
}

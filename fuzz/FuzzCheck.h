#pragma once
// What every fuzz target shares: a check that turns a broken promise into a
// crash the fuzzer (or the corpus replay) reports with the input that broke
// it. A plain abort, so it fires in every build type, NDEBUG or not.
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                      \
  do {                                                                             \
    if (!(condition)) {                                                            \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                \
    }                                                                              \
  } while (0)

// Reads every byte of a C string, so that a dangling or unterminated one is
// caught by AddressSanitizer here rather than later and far away.
inline std::size_t FuzzTouch(const char* text) {
  std::size_t length = 0;
  if (text != nullptr) {
    while (text[length] != '\0') ++length;
  }
  return length;
}

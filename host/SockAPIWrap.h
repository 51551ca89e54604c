#pragma once
// Host-name lookups.
#include <string>

class SockAPIWrap {
 public:
  enum SSL_OPTIONS { kNoSsl = 0 };
  explicit SockAPIWrap(SSL_OPTIONS options);

  // Writes the canonical name of `host` into `out` (getaddrinfo with
  // AI_CANONNAME, so "localhost" stays a loopback name). Returns 0 on
  // success; on failure returns the getaddrinfo error code and writes `host`
  // itself into `out`.
  int GetCanonicalHostByName(const char* host, std::string& out);

 private:
  SSL_OPTIONS options_;
};

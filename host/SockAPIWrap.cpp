#include "host/SockAPIWrap.h"

#include <netdb.h>
#include <sys/socket.h>
#include <sys/types.h>

SockAPIWrap::SockAPIWrap(SSL_OPTIONS options) : options_(options) {}

int SockAPIWrap::GetCanonicalHostByName(const char* host, std::string& out) {
  const char* name = host ? host : "";
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_CANONNAME;
  addrinfo* found = nullptr;
  int rc = getaddrinfo(name, nullptr, &hints, &found);
  if (rc != 0 || found == nullptr) {
    out = name;
    return rc != 0 ? rc : EAI_NONAME;
  }
  out = (found->ai_canonname && *found->ai_canonname) ? found->ai_canonname : name;
  freeaddrinfo(found);
  return 0;
}

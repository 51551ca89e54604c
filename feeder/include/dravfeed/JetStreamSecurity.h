#pragma once
// How a JetStream client proves who it is and whom it trusts, beside what the
// stream address holds (see docs/SCALING.md). Every secret here is either
// a file the client reads or a text the caller took from somewhere private
// (an environment variable), never from a command line, which `ps` shows.
#include <string>

namespace drav {
namespace feed {
namespace jetstream {

struct NatsSecurity {
  // For the address's user when the address gives no password.
  std::string password;
  // When the address gives neither a user nor a token.
  std::string token;
  // A file holding a user NKey seed ("SU..."): the client signs the server's
  // challenge with it.
  std::string nkeySeedFile;
  // A credentials file (a user JWT and its NKey seed), as an operator's
  // account setup hands out.
  std::string credentialsFile;
  // TLS: the certificate authorities to trust (PEM) instead of the system's,
  // and the client's own certificate chain and key for servers that verify
  // their clients. Any of them asks for TLS even with a nats:// address.
  std::string caFile;
  std::string certFile, keyFile;
};

}  // namespace jetstream
}  // namespace feed
}  // namespace drav

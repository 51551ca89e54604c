// Credentials and TLS against real nats-servers configured for them: each way of
// signing in works, and each refusal ends with status 3, names its cause and
// never shows the secret.
#include <dirent.h>
#include <stdlib.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/jetstream/NatsServer.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"
#include "tests/support/Watchdog.h"
#include "tests/support/WireReader.h"

namespace drav {
namespace test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// Keys and tokens made with Python's cryptography, independently of ours: a user NKey
// (seed, public key), and an operator setup as an account administrator makes it
// (the server's configuration and a user's credentials file).
struct Keys {
  std::string seed, user, operatorConfig, credentials;
};

Keys MakeKeys() {
  const ProcessResult made = RunProcess({"/usr/bin/python3", "-c", R"(
import base64, binascii, json, os, time
from cryptography.hazmat.primitives.asymmetric.ed25519 import Ed25519PrivateKey
from cryptography.hazmat.primitives.serialization import Encoding, PublicFormat
def nkey(b): return base64.b32encode(b + binascii.crc_hqx(b, 0).to_bytes(2, 'little')).decode().rstrip('=')
def b64(b): return base64.urlsafe_b64encode(b).decode().rstrip('=')
def key(kind):
    seed = os.urandom(32)
    signer = Ed25519PrivateKey.from_private_bytes(seed)
    public = nkey(bytes([kind]) + signer.public_key().public_bytes(Encoding.Raw, PublicFormat.Raw))
    return signer, public, nkey(bytes([18 << 3 | kind >> 5, (kind & 31) << 3]) + seed)
def jwt(signer, issuer, subject, nats):
    claims = {"jti": subject, "iat": int(time.time()), "iss": issuer, "sub": subject, "nats": dict(nats, version=2)}
    text = b64(b'{"typ":"JWT","alg":"ed25519-nkey"}') + "." + b64(json.dumps(claims).encode())
    return text + "." + b64(signer.sign(text.encode()))
OPERATOR, ACCOUNT, USER = 14 << 3, 0, 20 << 3
unlimited = dict({k: -1 for k in "subs data payload imports exports conn leaf mem_storage disk_storage streams consumer".split()}, wildcards=True)
op, opub, _ = key(OPERATOR); acc, apub, _ = key(ACCOUNT); sys, spub, _ = key(ACCOUNT); usr, upub, useed = key(USER)
print(useed, upub)
print("operator: %s\nsystem_account: %s\nresolver: MEMORY\nresolver_preload: { %s: %s, %s: %s }" % (
    jwt(op, opub, opub, {"type": "operator"}), spub, apub, jwt(op, opub, apub, {"type": "account", "limits": unlimited}),
    spub, jwt(op, opub, spub, {"type": "account", "limits": dict(unlimited, mem_storage=0, disk_storage=0)})))
print("-----BEGIN NATS USER JWT-----\n%s\n------END NATS USER JWT------\n\n-----BEGIN USER NKEY SEED-----\n%s\n"
      "------END USER NKEY SEED------" % (jwt(acc, apub, upub, {"type": "user", "subs": -1, "data": -1, "payload": -1}), useed))
)"});
  EXPECT_EQ(made.exitCode, 0) << made.err;
  Keys keys;
  std::istringstream lines(made.out);
  lines >> keys.seed >> keys.user;
  lines.ignore();
  for (std::string line; std::getline(lines, line);)
    (line.rfind("-----", 0) == 0 || !keys.credentials.empty() ? keys.credentials : keys.operatorConfig) += line + "\n";
  return keys;
}

// A certificate authority, a server certificate for 127.0.0.1 and a client one signed by it,
// and a second authority that signed nothing of the server's.
void MakeCertificates(const TempDir& dir) {
  const ProcessResult made = RunProcess({"/bin/sh", "-ec", R"(cd "$0"
for ca in ca other; do openssl req -x509 -newkey rsa:2048 -nodes -keyout $ca.key -out $ca.pem -days 1 -subj /CN=$ca; done
for who in server client; do
  openssl req -newkey rsa:2048 -nodes -keyout $who.key -out $who.csr -subj /CN=$who
  printf 'subjectAltName=IP:127.0.0.1\n' > san
  openssl x509 -req -in $who.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out $who.pem -days 1 -extfile san
done)", dir.Path()});
  ASSERT_EQ(made.exitCode, 0) << made.err;
}

struct Row {
  const char* server;   // which server: users, token or tls
  const char* address;  // SCHEME://CREDENTIALS@ before HOST:PORT/cases
  std::vector<std::string> more;
  const char* password;  // in the environment, or null
  int exitCode;
  const char* says;
};

TEST(JetStreamSecurity, EachWayOfSigningInWorksAndEachRefusalNamesItsCause) {
  Watchdog watchdog(110, "a JetStream security test");
  TempDir dir;
  MakeCertificates(dir);
  const Keys keys = MakeKeys();
  const std::string seedFile = dir.WriteFile("user.nk", keys.seed + "\n");
  NatsServer users("authorization { users = [\n"
                   "  {user: alice, password: pw-alice-7}\n"
                   "  {user: bob, password: pw-bob-7, permissions: {publish: {deny: [\"drav.>\"]}}}\n"
                   "  {user: carol, password: pw-carol-7, permissions: {subscribe: {deny: [\"_INBOX.>\"]}}}\n"
                   "  {nkey: " + keys.user + "}\n] }");
  NatsServer token("authorization { token: tok-4711 }");
  NatsServer accounts(keys.operatorConfig);
  NatsServer tls("tls { cert_file: " + dir.File("server.pem") + ", key_file: " + dir.File("server.key") +
                 ", ca_file: " + dir.File("ca.pem") + ", verify: true }");
  const std::vector<std::string> client = {"--nats-ca", dir.File("ca.pem"), "--nats-cert", dir.File("client.pem"),
                                           "--nats-key", dir.File("client.key")};
  const std::vector<Row> rows = {
      {"users", "nats://alice:pw-alice-7@", {}, nullptr, 0, "published 600 cases"},
      {"users", "nats://alice@", {}, "pw-alice-7", 0, "published 600 cases"},
      {"users", "nats://", {"--nats-nkey", seedFile}, nullptr, 0, "published 600 cases"},
      {"token", "nats://tok-4711@", {}, nullptr, 0, "published 600 cases"},
      {"accounts", "nats://", {"--nats-creds", dir.WriteFile("user.creds", keys.credentials)}, nullptr, 0,
       "published 600 cases"},
      {"accounts", "nats://", {}, nullptr, 3, "Authorization Violation"},
      {"tls", "tls://", client, nullptr, 0, "published 600 cases"},
      {"users", "nats://alice:pw-wrong-7@", {}, nullptr, 3, "Authorization Violation"},
      {"token", "nats://tok-wrong-7@", {}, nullptr, 3, "Authorization Violation"},
      {"users", "nats://bob:pw-bob-7@", {}, nullptr, 3, "Permissions Violation for Publish to \"drav.cases\""},
      {"users", "nats://carol:pw-carol-7@", {}, nullptr, 3, "Permissions Violation for Subscription to \"_INBOX."},
      {"tls", "tls://", {"--nats-ca", dir.File("ca.pem")}, nullptr, 3, "give --nats-cert and --nats-key"},
      {"tls", "tls://", {"--nats-ca", dir.File("other.pem"), "--nats-cert", dir.File("client.pem"), "--nats-key",
                         dir.File("client.key")}, nullptr, 3, "unable to get local issuer certificate"},
  };
  const std::map<std::string, NatsServer*> servers = {{"users", &users}, {"token", &token}, {"accounts", &accounts}, {"tls", &tls}};
  for (const Row& row : rows) {
    NatsServer& server = *servers.at(row.server);
    std::vector<std::string> arguments = {"--publish", row.address + server.Address("") + "/cases", "--create",
                                          "--variables", "x F8", "--generate", "600"};
    arguments.insert(arguments.end(), row.more.begin(), row.more.end());
    if (row.password) setenv("DRAV_NATS_PASSWORD", row.password, 1);
    const ProcessResult run = RunProcess(Dravfeed(arguments));
    unsetenv("DRAV_NATS_PASSWORD");
    EXPECT_EQ(run.exitCode, row.exitCode) << row.address << " " << row.says << ": " << run.err;
    EXPECT_THAT(run.err, HasSubstr(row.says)) << row.address;
    EXPECT_THAT(run.err, Not(HasSubstr("pw-"))) << row.address;
    EXPECT_THAT(run.err, Not(HasSubstr("tok-"))) << row.address;
  }
  // The reading side signs in the same way, and the command line others see hides the password.
  ChildProcess feed(Dravfeed({"--socket", "0", "--from=tls://alice:pw-alice-7@" + tls.Address("") + "/cases",
                              "--variables", "x F8", client[0], client[1], client[2], client[3], client[4], client[5]}));
  WireReader reader(feed.DravfeedPort());
  reader.Begin();
  EXPECT_EQ(reader.ReadToEnd().size(), 600u * 8);
  int seen = 0;
  DIR* processes = opendir("/proc");
  while (dirent* entry = readdir(processes)) {
    std::ifstream file(std::string("/proc/") + entry->d_name + "/cmdline");
    std::string line((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (line.find(tls.Address("") + "/cases") == std::string::npos) continue;
    ++seen;
    EXPECT_THAT(line, HasSubstr("alice:**********@"));
  }
  closedir(processes);
  EXPECT_EQ(seen, 1);
}

}  // namespace
}  // namespace test
}  // namespace drav

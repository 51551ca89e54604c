#pragma once
// How cases sit in a NATS JetStream stream. The stream is the durable,
// replicated case log: producers anywhere append to it, and a feeder serves
// it to readers from any case. Each message is a batch of whole records back
// to back (about kCasesPerMessage of them; one case per message would cost
// the broker a message per case), with headers that make every message
// stand on its own:
//
//   Drav-First-Case   the stream's case number of the first record ("0", "512", ...)
//   Drav-Case-Count   how many records the message holds
//   Drav-Byte-Order   "little" or "big": the order of the numbers in the records
//   Drav-Variables    the variable list, one blank between words ("id F8 name A20")
//
// Case n of the stream is the n-th record across the messages in stream
// order, so the first case of each message is the sum of the counts before
// it; a message whose first case is not that (or a stream sequence that
// skips one) is a break in the log, never renumbered. Producers publish with
// the expected last sequence, so two of them can never write the same case
// numbers or leave a hole. docs/SCALING.md describes the same in prose.
#include <cstdint>
#include <string>
#include <vector>

#include "dravfeed/ByteOrder.h"
#include "dravfeed/JetStreamAdmin.h"
#include "dravfeed/VariableList.h"

namespace drav {
namespace feed {
namespace jetstream {

constexpr char kFirstCaseHeader[] = "Drav-First-Case";
constexpr char kCaseCountHeader[] = "Drav-Case-Count";
constexpr char kByteOrderHeader[] = "Drav-Byte-Order";
constexpr char kVariablesHeader[] = "Drav-Variables";
// The subject a stream made by dravfeed --create takes its messages on.
constexpr char kSubjectPrefix[] = "drav.";

// "nats://[USER[:PASSWORD]@|TOKEN@]HOST:PORT[,HOST:PORT...]/STREAM" taken
// apart; "tls://" instead of "nats://" asks for TLS. Several servers are one
// cluster: the client connects to any of them and moves to another when its
// server goes away. Throws InputError naming what is wrong (with the
// password or token hidden).
struct StreamAddress {
  std::vector<std::string> servers;  // "nats://HOST:PORT" (or tls://) each, for the client
  std::string user, password, token;
  bool tls = false;
  std::string stream;  // the stream's name
  // The servers as messages name them: never a password or a token.
  std::string Servers() const;
  static StreamAddress Parse(const std::string& url);
};

// `url` with its password or token replaced by "***", for messages.
std::string RedactedUrl(const std::string& url);

// The variable list as the headers carry it and as two lists are compared:
// the words as given, one blank between them.
std::string VariablesText(const VariableList& list);

// "little" or "big": the order of the numbers in records built for `order`
// on this machine.
const char* ByteOrderName(ByteOrder order);

}  // namespace jetstream
}  // namespace feed
}  // namespace drav

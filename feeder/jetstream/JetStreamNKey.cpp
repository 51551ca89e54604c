#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <vector>

#include "dravfeed/FeederError.h"
#include "feeder/jetstream/JetStreamClient.h"

namespace drav {
namespace feed {
namespace jetstream {
namespace {

// An NKey is base32 (RFC 4648, unpadded) of a prefix, an Ed25519 key and a
// CRC-16/XMODEM of both, little-endian. A seed's two prefix bytes hold the
// seed mark and the kind of key it makes (user, account, ...).
const char kBase32[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
constexpr unsigned char kSeedMark = 18 << 3;
constexpr unsigned char kUserKind = 20 << 3;
constexpr std::size_t kKeyBytes = 32;
constexpr std::size_t kSeedChars = 58;  // base32 of 2 + 32 + 2 bytes

std::uint16_t Crc16(const unsigned char* bytes, std::size_t size) {
  std::uint16_t crc = 0;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= static_cast<std::uint16_t>(bytes[i] << 8);
    for (int bit = 0; bit < 8; ++bit)
      crc = static_cast<std::uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc;
}

bool Base32Decode(const std::string& text, std::vector<unsigned char>& bytes) {
  unsigned int buffer = 0;
  int bits = 0;
  for (char c : text) {
    const char* at = std::char_traits<char>::find(kBase32, 32, c);
    if (!at) return false;
    buffer = (buffer << 5) | static_cast<unsigned int>(at - kBase32);
    bits += 5;
    if (bits >= 8) {
      bits -= 8;
      bytes.push_back(static_cast<unsigned char>(buffer >> bits));
    }
  }
  return true;
}

std::string Base32Encode(const std::vector<unsigned char>& bytes) {
  std::string text;
  unsigned int buffer = 0;
  int bits = 0;
  for (unsigned char byte : bytes) {
    buffer = (buffer << 8) | byte;
    bits += 8;
    while (bits >= 5) {
      bits -= 5;
      text += kBase32[(buffer >> bits) & 31];
    }
  }
  if (bits > 0) text += kBase32[(buffer << (5 - bits)) & 31];
  return text;
}

// The first word of the file that looks like a user seed ("SU" and 56 more).
std::string SeedIn(const std::string& file) {
  std::ifstream in(file);
  if (!in) throw FeederError("cannot read the NKey seed file " + file);
  std::string word;
  while (in >> word)
    if (word.size() == kSeedChars && word.compare(0, 2, "SU") == 0) return word;
  throw FeederError("the file " + file + " holds no user NKey seed (a word of " +
                    std::to_string(kSeedChars) + " letters and digits starting with SU)");
}

}  // namespace

std::string NKeyPublicKey(const std::string& seedFile) {
  std::string seed = SeedIn(seedFile);
  std::vector<unsigned char> raw;
  const bool decoded = Base32Decode(seed, raw);
  OPENSSL_cleanse(&seed[0], seed.size());
  const std::size_t body = 2 + kKeyBytes;
  bool good = decoded && raw.size() == body + 2 && (raw[0] & 0xf8) == kSeedMark &&
              Crc16(raw.data(), body) == (raw[body] | raw[body + 1] << 8);
  const unsigned char kind = static_cast<unsigned char>((raw.size() > 1 ? (raw[0] & 7) << 5 | raw[1] >> 3 : 0));
  good = good && kind == kUserKind;
  EVP_PKEY* key = good ? EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, raw.data() + 2, kKeyBytes)
                       : nullptr;
  OPENSSL_cleanse(raw.data(), raw.size());
  std::vector<unsigned char> pub(1 + kKeyBytes);
  std::size_t size = kKeyBytes;
  good = key && EVP_PKEY_get_raw_public_key(key, pub.data() + 1, &size) == 1 && size == kKeyBytes;
  EVP_PKEY_free(key);
  if (!good) throw FeederError("the NKey seed in " + seedFile + " is damaged or not a user's");
  pub[0] = kUserKind;
  const std::uint16_t crc = Crc16(pub.data(), pub.size());
  pub.push_back(static_cast<unsigned char>(crc & 0xff));
  pub.push_back(static_cast<unsigned char>(crc >> 8));
  return Base32Encode(pub);
}

}  // namespace jetstream
}  // namespace feed
}  // namespace drav

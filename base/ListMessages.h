#pragma once
// The messages a variable list can give, and how their texts are formed: the
// catalog's text ("[" id "] " first), its integer conversions filled with
// the limit it reports, then a blank and the token. The plug-in reads the
// texts from the catalogs at run time; a side without the host runtime (the
// feeder library) gets the same catalog files compiled in at build time.
#include <string>
#include <vector>

namespace drav {
namespace messages {

// Errors.
constexpr unsigned int kBadFormat = 2265;      // token: the variable name
constexpr unsigned int kDuplicateName = 2272;  // token: the variable name
constexpr unsigned int kReservedName = 2277;   // token: the variable name
constexpr unsigned int kInvalidName = 2278;    // token: the variable name
// Warnings.
constexpr unsigned int kStringWidthCut = 2271;   // token: the variable name
constexpr unsigned int kNameCut = 2273;          // token: the name before the cut
constexpr unsigned int kNumericWidthCut = 2274;  // token: the variable name

// The limits a message's text reports, in the order of its conversions.
std::vector<long> LimitsOf(unsigned int id, bool warning);

// Puts `args`, in order, in place of the text's integer conversions (%d or
// %i, with optional flags, width and an l length); "%%" becomes "%". Any
// other conversion, or one beyond the arguments, is left as written: a
// catalog text can never make the formatting read what is not there.
std::string FillIntegers(const std::string& text, const std::vector<long>& args);

// The message as a user sees it, with the texts of the catalogs this build
// was made with: "[" id "] ", the text with its limits, " " and the token.
std::string CompiledMessage(unsigned int id, bool warning, const std::string& token);

}  // namespace messages
}  // namespace drav

#pragma once
// Identifiers of every message the command can give. Errors are looked up in
// "korvel.err", warnings in "talvex.err". Those of the variable list are
// shared with every other reader of a list.
#include "base/ListMessages.h"

namespace message_id {

// Errors.
constexpr unsigned int kEmptySubcommand = 2254;  // token "/"
constexpr unsigned int kNoVariables = 2255;      // token "/VARIABLES"
constexpr unsigned int kBadSubcommand = 2256;    // token: the subcommand name
constexpr unsigned int kRepeatedStream = 2257;   // "/PIPE", "/SOCKET" or "/REWINDABLE"
constexpr unsigned int kNotGetData = 2263;       // also: the stream could not be built
constexpr unsigned int kNotTypeStream = 2264;
constexpr unsigned int kBadFormat = drav::messages::kBadFormat;  // token: the variable name
constexpr unsigned int kExpected = 2267;   // token "/" or "="
constexpr unsigned int kNoSubcommandName = 2268;
constexpr unsigned int kNoDictionarySource = 2270;   // thrown, never shown
constexpr unsigned int kDuplicateName = drav::messages::kDuplicateName;  // token: the variable name
constexpr unsigned int kReservedName = drav::messages::kReservedName;  // token: the variable name
constexpr unsigned int kInvalidName = drav::messages::kInvalidName;  // token: the variable name
constexpr unsigned int kPipeNotOpened = 2279;        // token: the stream name
constexpr unsigned int kRewindPipeNotOpened = 2280;  // token: the rewind name
constexpr unsigned int kSocketNotConnected = 2281;   // token: the stream name

// Warnings.
constexpr unsigned int kStringWidthCut = drav::messages::kStringWidthCut;  // token: the variable name
constexpr unsigned int kNameCut = drav::messages::kNameCut;  // token: the name before the cut
constexpr unsigned int kNumericWidthCut = drav::messages::kNumericWidthCut;  // token: the variable name

// The identifier a parser holds from construction.
constexpr unsigned int kInitial = 2251;

}  // namespace message_id

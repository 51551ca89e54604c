#pragma once
// The command-line grammar both tools share: "--name value", "--name=value"
// and "-x value" for an option that takes a value, "--name" alone for a flag,
// "--" to end the options. Each tool lists its options; the reader walks
// argv by that list, so a misspelt or misused option is reported the same
// way by every tool, and the tool only judges the values.
#include <cstddef>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace drav {
namespace tools {

struct OptionSpec {
  enum Kind { kFlag, kValue, kOptionalValue };
  const char* name;  // as written: "--output", "-f"
  Kind kind;
  // kOptionalValue: whether the next argument is the option's value (when
  // it was not given as "--name=value"). Null: never.
  bool (*takesNext)(const std::string& next) = nullptr;
};

// A misused option: unknown, missing its value, or given a value it does
// not take. what() is one line that names the option and points to --help.
class UsageError : public std::invalid_argument {
 public:
  UsageError(const std::string& tool, const std::string& problem)
      : std::invalid_argument(problem + "; see " + tool + " --help") {}
};

struct ReadOption {
  std::string name;   // as the tool's option table writes it
  std::string value;  // empty for a flag or an optional value left out
  bool hasValue = false;
};

// Borrows `args` (argv without the program name) and `specs`, which must
// outlive the reader.
class OptionReader {
 public:
  OptionReader(std::string tool, const std::vector<OptionSpec>& specs, const std::vector<std::string>& args)
      : tool_(std::move(tool)), specs_(specs), args_(args) {}

  // The next option into `option`; false once the options end (at the first
  // argument that is no option, or after "--"). Throws UsageError.
  bool Next(ReadOption& option);
  // The arguments after the options.
  std::vector<std::string> Rest() const;

 private:
  const OptionSpec* Find(const std::string& name) const;

  std::string tool_;
  const std::vector<OptionSpec>& specs_;
  const std::vector<std::string>& args_;
  std::size_t next_ = 0;
  bool ended_ = false;  // past "--" or the first word that is no option
};

}  // namespace tools
}  // namespace drav

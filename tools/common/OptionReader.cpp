#include "tools/common/OptionReader.h"

namespace drav {
namespace tools {

const OptionSpec* OptionReader::Find(const std::string& name) const {
  for (const OptionSpec& spec : specs_) {
    if (name == spec.name) return &spec;
  }
  return nullptr;
}

bool OptionReader::Next(ReadOption& option) {
  if (ended_ || next_ >= args_.size()) return false;
  const std::string& arg = args_[next_];
  // "-" alone, like any word, is no option.
  ended_ = arg == "--" || arg.size() < 2 || arg[0] != '-';
  if (arg == "--") ++next_;
  if (ended_) return false;
  ++next_;
  // Only a long option carries its value after "=": "-f=x" would be ambiguous.
  const std::size_t equals = arg.compare(0, 2, "--") == 0 ? arg.find('=') : std::string::npos;
  const std::string name = arg.substr(0, equals);
  const OptionSpec* spec = Find(name);
  if (!spec) throw UsageError(tool_, "unknown option '" + name + "'");
  option = ReadOption{name, std::string(), false};
  if (equals != std::string::npos) {
    if (spec->kind == OptionSpec::kFlag) throw UsageError(tool_, "option '" + name + "' takes no value");
    option.value = arg.substr(equals + 1);
    option.hasValue = true;
  } else if (spec->kind == OptionSpec::kValue) {
    if (next_ >= args_.size()) throw UsageError(tool_, "option '" + name + "' needs a value");
    option.value = args_[next_++];
    option.hasValue = true;
  } else if (spec->kind == OptionSpec::kOptionalValue && spec->takesNext && next_ < args_.size() &&
             spec->takesNext(args_[next_])) {
    option.value = args_[next_++];
    option.hasValue = true;
  }
  return true;
}

std::vector<std::string> OptionReader::Rest() const {
  return std::vector<std::string>(args_.begin() + static_cast<std::ptrdiff_t>(next_), args_.end());
}

}  // namespace tools
}  // namespace drav

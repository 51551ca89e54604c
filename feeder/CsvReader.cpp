#include "feeder/CsvReader.h"

#include "feeder/FeederError.h"

namespace drav {
namespace feed {
namespace {

constexpr int kEnd = std::char_traits<char>::eof();

}  // namespace

CsvReader::CsvReader(std::istream& in) : in_(in.rdbuf()) {}

// Bytes taken from the stream but not used yet (a lone CR, the start of what
// looked like a byte-order mark) are kept here rather than put back into the
// stream: a stream buffer need not take back more than it has at hand.
int CsvReader::Peek() {
  if (!held_.empty()) return static_cast<unsigned char>(held_.front());
  return in_ ? in_->sgetc() : kEnd;
}

int CsvReader::Take() {
  if (!held_.empty()) {
    int c = static_cast<unsigned char>(held_.front());
    held_.erase(0, 1);
    return c;
  }
  return in_ ? in_->sbumpc() : kEnd;
}

bool CsvReader::TakeLineEnd() {
  if (Peek() == '\n') {
    Take();
    ++line_;
    return true;
  }
  if (Peek() != '\r') return false;
  Take();
  if (Peek() != '\n') {
    // A lone CR ends nothing: it stays part of the data.
    held_.insert(held_.begin(), '\r');
    return false;
  }
  Take();
  ++line_;
  return true;
}

void CsvReader::Refuse(long line, long column, const std::string& why) const {
  throw InputError("line " + std::to_string(line) + ", column " + std::to_string(column) + ": " +
                   why);
}

bool CsvReader::Next(std::vector<std::string>& fields) {
  fields.clear();
  fieldLines_.clear();
  if (!started_) {
    started_ = true;
    static const char kBom[] = "\xEF\xBB\xBF";
    if (Peek() == static_cast<unsigned char>(kBom[0])) {
      std::string head;
      for (int i = 0; i < 3 && Peek() == static_cast<unsigned char>(kBom[i]); ++i)
        head += static_cast<char>(Take());
      // Not a byte-order mark after all: its bytes begin the first field.
      if (head != kBom) held_ = head;
    }
  }
  while (TakeLineEnd()) {
  }
  if (Peek() == kEnd) return false;
  int ended;
  do {
    fields.emplace_back();
    fieldLines_.push_back(line_);
    ended = ReadField(fields.back(), static_cast<long>(fields.size()));
  } while (ended == ',');
  cutByEnd_ = ended == kEnd;
  return true;
}

int CsvReader::ReadField(std::string& field, long column) {
  if (Peek() == '"') return ReadQuoted(field, column);
  return ReadPlain(field, column);
}

int CsvReader::ReadQuoted(std::string& field, long column) {
  long startLine = line_;
  Take();  // the opening quote
  for (;;) {
    int c = Take();
    if (c == kEnd) Refuse(startLine, column, "a quoted field is never closed");
    if (c == '\n') ++line_;
    if (c != '"') {
      field += static_cast<char>(c);
      continue;
    }
    if (Peek() == '"') {
      field += static_cast<char>(Take());
      continue;
    }
    break;  // the closing quote
  }
  if (Peek() == ',') return Take();
  if (Peek() == kEnd) return kEnd;
  if (TakeLineEnd()) return '\n';
  Refuse(line_, column, "unexpected character after the closing quote of a field");
}

int CsvReader::ReadPlain(std::string& field, long column) {
  for (;;) {
    int c = Peek();
    if (c == kEnd) return kEnd;
    if (c == ',') return Take();
    if (TakeLineEnd()) return '\n';
    if (c == '"') Refuse(line_, column, "a quote inside a field that does not start with one");
    field += static_cast<char>(Take());
  }
}

}  // namespace feed
}  // namespace drav

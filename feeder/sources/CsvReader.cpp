#include "feeder/sources/CsvReader.h"

#include "dravfeed/FeederError.h"

namespace drav {
namespace feed {
namespace {

constexpr int kEnd = std::char_traits<char>::eof();

int Byte(char c) { return static_cast<unsigned char>(c); }

}  // namespace

CsvReader::CsvReader(std::istream& in, const CsvOptions& options)
    : in_(in.rdbuf()),
      delimiter_(Byte(options.delimiter)),
      comment_(options.comment == '\0' ? kEnd : Byte(options.comment)),
      skipLines_(options.skipLines) {
  const auto isSpecial = [](char c) { return c == '"' || c == '\r' || c == '\n' || c == '\0'; };
  if (isSpecial(options.delimiter))
    throw InputError("the delimiter cannot be a quote, a line end or NUL");
  if (options.comment == options.delimiter || (options.comment != '\0' && isSpecial(options.comment)))
    throw InputError("the comment character cannot be the delimiter, a quote or a line end");
}

void CsvReader::SetRecordLimit(std::size_t bytes, std::size_t fields, std::string why) {
  limit_ = bytes;
  fieldLimit_ = fields;
  limitWhy_ = std::move(why);
}

// Bytes taken from the stream but not used yet (a lone CR, the start of what
// looked like a byte-order mark) are kept here rather than put back into the
// stream: a stream buffer need not take back more than it has at hand.
int CsvReader::Peek() {
  if (!held_.empty()) return Byte(held_.front());
  return in_ ? in_->sgetc() : kEnd;
}

int CsvReader::Take() {
  ++taken_;
  if (!held_.empty()) {
    int c = Byte(held_.front());
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
    --taken_;
    return false;
  }
  Take();
  ++line_;
  return true;
}

// Whatever the line holds (quotes included) is dropped, byte by byte, so a
// long one costs no memory.
void CsvReader::SkipLine() {
  for (int c = Take(); c != kEnd; c = Take()) {
    if (c == '\n') {
      ++line_;
      return;
    }
  }
}

void CsvReader::Refuse(long line, long column, const std::string& why) const {
  throw InputError("line " + std::to_string(line) + ", column " + std::to_string(column) + ": " +
                   why);
}

void CsvReader::RefuseLongRecord() const {
  const long line = fieldLines_.front();
  throw InputError("line " + std::to_string(line) + ": the line is longer than " +
                   std::to_string(limit_) + " bytes" + limitWhy_);
}

void CsvReader::Start() {
  started_ = true;
  static const char kBom[] = "\xEF\xBB\xBF";
  if (Peek() == Byte(kBom[0])) {
    std::string head;
    for (int i = 0; i < 3 && Peek() == Byte(kBom[i]); ++i) head += static_cast<char>(Take());
    // Not a byte-order mark after all: its bytes begin the first field.
    if (head != kBom) held_ = head;
  }
  for (long i = 0; i < skipLines_ && Peek() != kEnd; ++i) SkipLine();
}

bool CsvReader::Next(std::vector<std::string>& fields) {
  fields.clear();
  fieldLines_.clear();
  fieldQuoted_.clear();
  if (!started_) Start();
  for (;;) {
    while (TakeLineEnd()) {
    }
    if (comment_ == kEnd || Peek() != comment_) break;
    SkipLine();
  }
  if (Peek() == kEnd) return false;
  recordEnd_ = limit_ > static_cast<std::size_t>(-1) - taken_ ? static_cast<std::size_t>(-1) : taken_ + limit_;
  int ended;
  do {
    if (fields.size() == fieldLimit_)
      throw InputError("line " + std::to_string(fieldLines_.front()) + ": more than " +
                       std::to_string(fieldLimit_) + " fields" + limitWhy_);
    fields.emplace_back();
    fieldLines_.push_back(line_);
    fieldQuoted_.push_back(Peek() == '"');
    ended = ReadField(fields.back(), static_cast<long>(fields.size()));
  } while (ended == delimiter_);
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
    CheckLimit();
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
  if (Peek() == delimiter_) return Take();
  if (Peek() == kEnd) return kEnd;
  if (TakeLineEnd()) return '\n';
  Refuse(line_, column, "unexpected character after the closing quote of a field");
}

int CsvReader::ReadPlain(std::string& field, long column) {
  for (;;) {
    int c = Peek();
    if (c == kEnd) return kEnd;
    if (c == delimiter_) return Take();
    if (TakeLineEnd()) return '\n';
    if (c == '"') Refuse(line_, column, "a quote inside a field that does not start with one");
    field += static_cast<char>(Take());
    CheckLimit();
  }
}

}  // namespace feed
}  // namespace drav

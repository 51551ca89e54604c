#include "tools/dravrun/ColumnSelection.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace dravrun {
namespace {

// One item of the list: a single variable (`last` empty) or a range.
struct Item {
  std::string first;
  std::string last;
  std::string text;  // as written, for messages
};

std::string Trimmed(const std::string& text) {
  const std::size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return std::string();
  return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

bool IsPosition(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

bool IsZeroPosition(const std::string& text) {
  return IsPosition(text) && text.find_first_not_of('0') == std::string::npos;
}

// Splits the list at commas and each item at its hyphen; empty with the
// message in `error` when an item is malformed.
std::vector<Item> Items(const std::string& list, std::string& error) {
  std::vector<Item> items;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = list.find(',', start);
    Item item;
    item.text = Trimmed(list.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    const std::size_t hyphen = item.text.find('-');
    item.first = Trimmed(item.text.substr(0, hyphen));
    if (hyphen != std::string::npos) item.last = Trimmed(item.text.substr(hyphen + 1));
    if (item.text.empty()) {
      error = "--columns: an empty item in '" + list + "'";
    } else if (item.first.empty() || (hyphen != std::string::npos && item.last.empty()) ||
               item.last.find('-') != std::string::npos) {
      error = "--columns: '" + item.text + "' is neither a name, a position nor a range like 3-5";
    } else if (IsZeroPosition(item.first) || IsZeroPosition(item.last)) {
      error = "--columns: positions count from 1, not 0 ('" + item.text + "')";
    }
    if (!error.empty()) return {};
    items.push_back(item);
    if (comma == std::string::npos) return items;
    start = comma + 1;
  }
}

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

std::string VariableList(const std::vector<Column>& all) {
  std::string names;
  for (const Column& c : all) names += (names.empty() ? "" : ", ") + c.name;
  return names;
}

// The index in `all` of a name (ASCII letters in any case, as the command
// language reads names) or a position; false with the message in `error`.
bool IndexOf(const std::string& word, const std::vector<Column>& all, std::size_t& index, std::string& error) {
  if (IsPosition(word)) {
    errno = 0;
    const unsigned long long position = std::strtoull(word.c_str(), nullptr, 10);
    if (errno == 0 && position >= 1 && position <= all.size()) {
      index = static_cast<std::size_t>(position - 1);
      return true;
    }
    error = "--columns: position " + word + " is beyond the last variable (there are " +
            std::to_string(all.size()) + ")";
    return false;
  }
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (SameName(all[i].name, word)) {
      index = i;
      return true;
    }
  }
  error = "--columns: no variable is named '" + word + "'; the variables are " + VariableList(all);
  return false;
}

}  // namespace

std::string CheckColumnList(const std::string& list) {
  std::string error;
  Items(list, error);
  return error;
}

bool SelectColumns(const std::string& list, const std::vector<Column>& all, std::vector<Column>& chosen,
                   std::string& error) {
  chosen.clear();
  for (const Item& item : Items(list, error)) {
    std::size_t first = 0, last = 0;
    if (!IndexOf(item.first, all, first, error)) return false;
    last = first;
    if (!item.last.empty() && !IndexOf(item.last, all, last, error)) return false;
    if (last < first) {
      error = "--columns: the range '" + item.text + "' runs backwards";
      return false;
    }
    for (std::size_t i = first; i <= last; ++i) chosen.push_back(all[i]);
  }
  return error.empty();
}

}  // namespace dravrun

// --columns against a dictionary: names, positions and ranges, and the
// messages for what is not there.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/DravFormat.h"
#include "tools/dravrun/ColumnSelection.h"

namespace dravrun {
namespace {

std::vector<Column> Dictionary() {
  std::vector<Column> columns;
  for (const char* name : {"id", "name", "a", "b", "c", "d"}) {
    Column c;
    c.name = name;
    c.position = static_cast<int>(columns.size());
    columns.push_back(c);
  }
  return columns;
}

TEST(ColumnSelection, ChoosesNamesPositionsAndRangesInTheOrderGivenOrSaysWhatIsNotThere) {
  const struct {
    const char* list;
    const char* chosen;  // the names joined by blanks, or the message
  } cases[] = {
      {"id,3-5", "id a b c"},
      {"NAME, B", "name b"},  // letters in any case, blanks around items
      {"a-d,2", "a b c d name"},
      {"b-5", "b c"},  // a range may mix a name and a position
      {"c,c", "c c"},
      {"6", "d"},
      {"id,zz", "--columns: no variable is named 'zz'; the variables are id, name, a, b, c, d"},
      {"7", "--columns: position 7 is beyond the last variable (there are 6)"},
      {"99999999999999999999999", "--columns: position 99999999999999999999999 is beyond the last variable (there are 6)"},
      {"c-a", "--columns: the range 'c-a' runs backwards"},
      {"a-zz", "--columns: no variable is named 'zz'; the variables are id, name, a, b, c, d"},
  };
  for (const auto& c : cases) {
    std::vector<Column> chosen;
    std::string names;
    if (SelectColumns(c.list, Dictionary(), chosen, names))
      for (const Column& column : chosen) names += (names.empty() ? "" : " ") + column.name;
    EXPECT_EQ(names, c.chosen) << c.list;
  }
}

}  // namespace
}  // namespace dravrun

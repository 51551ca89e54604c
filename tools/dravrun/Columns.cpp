#include "tools/dravrun/Columns.h"

#include "host/DravDataSource.h"
#include "host/DravVariable.h"

namespace dravrun {

std::vector<Column> ColumnsOf(const DRAV_DataSource& source) {
  std::vector<Column> columns;
  const drav::wire::CaseLayout& layout = source.Layout();
  for (int i = 0; i < source.ColumnCount(); ++i) {
    const DRAV_Variable* variable = source.GetVariable(i);
    Column column;
    DRAV_Variable::FormatType type;
    variable->GetFormat(type, column.format.width, column.format.decimals);
    column.format.type = type;
    column.name = variable->GetName();
    column.position = i;
    // The layout decides how many bytes a string takes in the record; a
    // string format on a numeric slot (a plug-in may set one) reads the
    // slot's 8 bytes.
    const std::size_t index = static_cast<std::size_t>(i);
    if (index < layout.VariableCount() && layout.IsString(index)) {
      column.stringWidth = layout.StringWidth(index);
    } else if (IsStringFormat(type)) {
      column.stringWidth = 8;
    }
    columns.push_back(column);
  }
  return columns;
}

}  // namespace dravrun

// Turns raw case records (doubles, `columns` a record, this machine's byte
// order) into an Arrow IPC stream of Float64 columns v1..vN in batches of
// 65536 rows; NaN becomes null, as a missing value.
// Usage: node arrow_make_stream.js RECORDS COLUMNS OUT
'use strict';
const fs = require('fs');
const arrow = require('apache-arrow');

const [input, columnsText, output] = process.argv.slice(2);
const columns = Number(columnsText);
const bytes = fs.readFileSync(input);
const values = new Float64Array(bytes.buffer, bytes.byteOffset, Math.floor(bytes.length / 8));
const rows = Math.floor(values.length / columns);
const batchRows = 65536;
const batches = [];
for (let first = 0; first < rows; first += batchRows) {
  const count = Math.min(batchRows, rows - first);
  const data = {};
  for (let j = 0; j < columns; ++j) {
    const column = new Array(count);
    for (let i = 0; i < count; ++i) {
      const v = values[(first + i) * columns + j];
      column[i] = Number.isNaN(v) ? null : v;
    }
    data['v' + (j + 1)] = arrow.vectorFromArray(column, new arrow.Float64());
  }
  batches.push(...new arrow.Table(data).batches);
}
fs.writeFileSync(output, arrow.tableToIPC(new arrow.Table(batches), 'stream'));

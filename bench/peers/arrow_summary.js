// Peer reader: the apache-arrow package reading an IPC stream from the given
// file or named pipe batch by batch, computing per column the valid count,
// mean, standard deviation, minimum and maximum. Prints {"seconds", "rows"}.
'use strict';
const fs = require('fs');
const arrow = require('apache-arrow');

async function main() {
  const start = process.hrtime.bigint();
  const reader = await arrow.RecordBatchReader.from(fs.createReadStream(process.argv[2]));
  let stats = null;
  let rows = 0;
  for await (const batch of reader) {
    if (!stats) stats = batch.schema.fields.map(() => ({ n: 0, sum: 0, squares: 0, low: Infinity, high: -Infinity }));
    rows += batch.numRows;
    for (let j = 0; j < stats.length; ++j) {
      const s = stats[j];
      // Straight over each chunk's value buffer and validity bitmap, as a
      // user who cares for speed writes it (Vector.get per value is slower).
      for (const data of batch.getChildAt(j).data) {
        const values = data.values;
        const bitmap = data.nullCount > 0 ? data.nullBitmap : null;
        for (let i = 0; i < data.length; ++i) {
          if (bitmap) {
            const bit = data.offset + i;
            if (((bitmap[bit >> 3] >> (bit & 7)) & 1) === 0) continue;
          }
          const v = values[i];
          s.n += 1; s.sum += v; s.squares += v * v;
          if (v < s.low) s.low = v;
          if (v > s.high) s.high = v;
        }
      }
    }
  }
  const summary = (stats || []).map((s) => ({
    mean: s.sum / s.n,
    sd: Math.sqrt(Math.max(s.squares - s.n * (s.sum / s.n) ** 2, 0) / (s.n - 1)),
    min: s.low, max: s.high, n: s.n,
  }));
  const seconds = Number(process.hrtime.bigint() - start) / 1e9;
  console.log(JSON.stringify({ seconds, rows, columns: summary.length }));
}
main().catch((e) => { console.error(e.message); process.exit(1); });

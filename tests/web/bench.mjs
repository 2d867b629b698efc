// The page's speed and weight in Debian's Chromium, headless: the first
// conversion of a transfer into a DEM from the moment the page is opened,
// then the same conversion once the page is loaded (the median of RUNS),
// and what the page weighs gzipped.
//   node bench.mjs WEB_DIR TRANSFER_DIR [RUNS]
import fs from 'node:fs';
import path from 'node:path';
import zlib from 'node:zlib';

import { convertOnPage, openPage } from './serve.mjs';

const [webDir, transfer, runs = '5'] = process.argv.slice(2);
const files = fs.readdirSync(transfer).filter((f) => /\.ddf$/i.test(f)).map((f) => path.join(transfer, f));
const weight = fs.readdirSync(webDir).reduce((sum, f) => sum + zlib.gzipSync(fs.readFileSync(path.join(webDir, f)), { level: 9 }).length, 0);

const { origin, page, close } = await openPage(webDir);
let start = performance.now();
await page.goto(origin + '/');
await page.waitForFunction(() => document.getElementById('format').options.length > 0, { timeout: 60000 });
await convertOnPage(page, files, 'dem', 1);
const first = performance.now() - start;
const times = [];
for (let run = 2; run <= Number(runs) + 1; run++) {
  start = performance.now();
  await convertOnPage(page, files, 'dem', run);
  times.push(performance.now() - start);
}
await close();
times.sort((a, b) => a - b);
console.log(`the page, gzipped (gzip -9): ${weight} bytes`);
console.log(`${path.basename(transfer)} to a DEM, from opening the page: ${first.toFixed(0)} ms`);
console.log(`${path.basename(transfer)} to a DEM, page loaded, median of ${runs}: ${times[times.length >> 1].toFixed(0)} ms`);

// The web page in Debian's Chromium (headless, driven by puppeteer-core),
// served from build/web on a loopback port: the real transfers in every
// format give files that GDAL reads as the native program's, an archive
// converts, a truncated cell module is refused by name with no link, and
// no request leaves the page once it is loaded.
//   node page_test.mjs WEB_DIR VELORAN_CONVERT DATA_DIR WORK_DIR
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';

import { convertOnPage as choose, openPage } from './serve.mjs';

const [webDir, convert, dataDir, work] = process.argv.slice(2);
const here = path.dirname(new URL(import.meta.url).pathname);
fs.rmSync(work, { recursive: true, force: true });
fs.mkdirSync(work, { recursive: true });
let failures = 0;
const check = (ok, what) => {
  console.log((ok ? 'ok     ' : 'FAILED ') + what);
  if (!ok) failures++;
};

const { origin, page, close } = await openPage(webDir);
const requests = [];
page.on('request', (r) => requests.push(r.url()));
page.on('console', (m) => console.log('page: ' + m.text()));
page.on('pageerror', (e) => console.log('page error: ' + e.message));
page.on('workercreated', (w) => w.on('console', (m) => console.log('worker: ' + m.text())));
await page.goto(origin + '/', { waitUntil: 'load' });
await page.waitForFunction(() => document.getElementById('format').options.length > 0, { timeout: 20000 });
const loaded = requests.length;

// Converts `files` in `format`; the links' files saved into WORK_DIR, and
// what the page listed.
let runs = 0;
async function convertOnPage(files, format) {
  await choose(page, files, format, ++runs);
  const shown = await page.evaluate(async () => {
    const links = [];
    for (const a of document.querySelectorAll('#results a')) {
      const bytes = new Uint8Array(await (await fetch(a.href)).arrayBuffer());
      let text = '';
      for (let i = 0; i < bytes.length; i += 0x8000) text += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
      links.push({ name: a.download, data: btoa(text) });
    }
    const failed = [...document.querySelectorAll('#results .failed')].map((li) => li.textContent);
    return { links, failed, pane: document.getElementById('pane').textContent };
  });
  for (const link of shown.links) fs.writeFileSync(path.join(work, 'web-' + link.name), Buffer.from(link.data, 'base64'));
  return shown;
}

const transfers = fs.readdirSync(dataDir).filter((d) => fs.statSync(path.join(dataDir, d)).isDirectory()).sort();
for (const transfer of transfers) {
  const folder = path.join(dataDir, transfer);
  const files = fs.readdirSync(folder).filter((f) => /\.ddf$/i.test(f)).map((f) => path.join(folder, f));
  for (const format of ['dem', 'gtiff', 'cog']) {
    const shown = await convertOnPage(files, format);
    check(shown.links.length === 1 && shown.failed.length === 0, `${transfer} ${format}: one link ${shown.failed.join(" ")}`);
    if (shown.links.length !== 1) continue;
    const name = shown.links[0].name;
    const native = path.join(work, 'native-' + name);
    execFileSync(convert, ['-q', '--no-sync', '--format=' + format, '-o', native, files[0]]);
    const same = execFileSync('/usr/bin/python3', [path.join(here, 'same_raster.py'), native, path.join(work, 'web-' + name)],
                              { encoding: 'utf8' }).trim();
    check(same === 'same', `${transfer} ${format}: ${name} reads as the native program's (${same})`);
    // A DEM dates itself by the day: the same bytes as the native program's.
    if (format === 'dem')
      check(fs.readFileSync(native).equals(fs.readFileSync(path.join(work, 'web-' + name))), `${transfer} dem: the same bytes`);
    check(shown.pane.includes('Row Count:'), `${transfer} ${format}: the report is shown`);
  }
}

// An archive of one transfer.
const oregon = path.join(dataDir, transfers.find((t) => t.startsWith('oregon')));
execFileSync('tar', ['czf', path.join(work, 'oregon.tar.gz'), '-C', path.dirname(oregon), path.basename(oregon)]);
const archived = await convertOnPage([path.join(work, 'oregon.tar.gz')], 'dem');
check(archived.links.length === 1 && archived.links[0].name.endsWith('.dem'), 'an archive converts');

// The same archive dropped onto the drop zone.
const tarball = fs.readFileSync(path.join(work, 'oregon.tar.gz')).toString('base64');
await page.select('#format', 'gtiff');
await page.evaluate((data) => {
  const bytes = Uint8Array.from(atob(data), (c) => c.charCodeAt(0));
  const dropped = new DataTransfer();
  dropped.items.add(new File([bytes], 'oregon.tar.gz'));
  document.getElementById('drop').dispatchEvent(new DragEvent('drop', { dataTransfer: dropped, bubbles: true }));
}, tarball);
await page.waitForFunction((n) => Number(document.body.dataset.runs || 0) >= n, { timeout: 60000 }, ++runs);
const dropped = await page.$$eval('#results a', (links) => links.map((a) => a.download));
check(dropped.length === 1 && dropped[0].endsWith('.tif'), `a dropped archive converts (${dropped.join(' ')})`);

// A truncated cell module: refused by name, no link.
fs.mkdirSync(path.join(work, 'cut'));
for (const f of fs.readdirSync(oregon).filter((f) => /\.ddf$/i.test(f))) fs.copyFileSync(path.join(oregon, f), path.join(work, 'cut', f));
const cell = fs.readdirSync(path.join(work, 'cut')).find((f) => /cel0\.ddf$/i.test(f));
const bytes = fs.readFileSync(path.join(work, 'cut', cell));
fs.writeFileSync(path.join(work, 'cut', cell), bytes.subarray(0, bytes.length - 500));
const cut = await convertOnPage(fs.readdirSync(path.join(work, 'cut')).map((f) => path.join(work, 'cut', f)), 'dem');
check(cut.links.length === 0 && cut.failed.some((t) => t.includes(cell)), `a truncated cell module is refused by name: ${cut.failed[0]}`);

const later = requests.slice(loaded).filter((u) => /^https?:/.test(u));
check(later.length === 0, `no request after load (${later.join(' ') || 'none'})`);
check(requests.every((u) => !/^https?:/.test(u) || u.startsWith(origin)), 'every request is the page\'s own');

await close();
console.log(failures ? `${failures} failed` : 'all passed');
process.exit(failures ? 1 : 0);

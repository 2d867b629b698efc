// The page served from its folder on a loopback port, and Debian's
// Chromium, headless, opened on it: what the page's tests and benchmark
// share.
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import puppeteer from 'puppeteer-core';

const types = { '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm' };

export async function openPage(webDir) {
  const root = path.resolve(webDir);
  const server = http.createServer((request, response) => {
    const wanted = path.normalize(decodeURIComponent(request.url.split('?')[0]));
    const file = path.join(root, wanted === '/' ? 'index.html' : wanted);
    if (!file.startsWith(root + path.sep) || !fs.existsSync(file)) return response.writeHead(404).end();
    response.writeHead(200, { 'Content-Type': types[path.extname(file)] || 'application/octet-stream' });
    fs.createReadStream(file).pipe(response);
  });
  await new Promise((ok) => server.listen(0, '127.0.0.1', ok));
  const origin = `http://127.0.0.1:${server.address().port}`;
  const browser = await puppeteer.launch({ executablePath: '/usr/bin/chromium', headless: true,
                                           args: ['--no-sandbox', '--disable-gpu'] });
  const page = await browser.newPage();
  const close = async () => {
    await browser.close();
    server.close();
  };
  return { origin, page, close };
}

// Chooses `files` in the page's file input in `format` and waits until the
// page has shown its `run`th conversion.
export async function convertOnPage(page, files, format, run) {
  await page.select('#format', format);
  await (await page.$('#files')).uploadFile(...files);
  await page.waitForFunction((n) => Number(document.body.dataset.runs || 0) >= n, { timeout: 60000 }, run);
}

// The page's worker: the core in WebAssembly. The page sends the files a
// user gave; they are written into the module's memory file system, the
// batch engine converts every transfer they hold, and the results go back
// as bytes with the report of each. Nothing is fetched but veloran.wasm.
'use strict';

let ready = false;
const waiting = [];
var Module = {
  onProgress: (percent) => postMessage({ progress: percent }),
  onRuntimeInitialized: () => {
    ready = true;
    postMessage({ formats: JSON.parse(Module.ccall('VeloranFormats', 'string', [], [])) });
    while (waiting.length) convert(waiting.shift());
  },
};
importScripts('veloran.js');

onmessage = (event) => (ready ? convert(event.data) : waiting.push(event.data));

const kArchive = /\.(tar\.gz|tgz|tar\.z|tar\.bz2|tbz2?|tar\.xz|txz|tar|zip)$/i;
let runs = 0;

function makeFolders(path) {
  let at = '';
  for (const part of path.split('/').slice(1, -1)) {
    at += '/' + part;
    if (!FS.analyzePath(at).exists) FS.mkdir(at);
  }
}

function remove(path) {
  if (!FS.analyzePath(path).exists) return;
  if (FS.isDir(FS.stat(path).mode)) {
    for (const name of FS.readdir(path)) if (name !== '.' && name !== '..') remove(path + '/' + name);
    FS.rmdir(path);
  } else {
    FS.unlink(path);
  }
}

// { files: [{ path, data }], format, newLines }: every transfer the files
// hold (archives, and the folders of the loose files) converted.
function convert({ files, format, newLines }) {
  const root = '/run' + ++runs;
  const inputs = new Set();
  for (const { path, data } of files) {
    const at = root + '/in/' + path.replace(/^\/+/, '');
    makeFolders(at);
    FS.writeFile(at, new Uint8Array(data));
    inputs.add(kArchive.test(at) ? at : at.slice(0, at.lastIndexOf('/')));
  }
  for (const folder of ['/out', '/pictures']) makeFolders(root + folder + '/x');
  let result;
  try {
    result = JSON.parse(Module.ccall('VeloranConvert', 'string', ['string', 'string', 'number', 'string', 'string'],
                                     [[...inputs].join('\n'), format, newLines ? 1 : 0, root + '/out',
                                      root + '/pictures']));
  } catch (error) {
    result = { items: [], error: String(error) };
  }
  const buffers = [];
  for (const item of result.items) {
    for (const key of ['output', 'picture']) {
      if (!item[key]) continue;
      const bytes = FS.readFile(item[key]);
      item[key + 'Bytes'] = bytes.buffer;
      item[key] = item[key].slice(item[key].lastIndexOf('/') + 1);
      buffers.push(bytes.buffer);
    }
    item.label = item.label.startsWith(root + '/in/') ? item.label.slice(root.length + 4) : item.label;
    item.error = item.error.split(root + '/in/').join('').split(root + '/out/').join('');
  }
  remove(root);
  postMessage({ done: true, items: result.items, error: result.error }, buffers);
}

// The page: the files a user chose or dropped go to the worker, which
// converts them; each result becomes a download link named as the programs
// name it, with the report and the shaded relief of the last one.
'use strict';

const $ = (id) => document.getElementById(id);
const worker = new Worker('worker.js');
const pending = [];
let busy = false;
let links = [];

worker.onmessage = ({ data }) => {
  if (data.formats) {
    for (const format of data.formats) $('format').add(new Option(format.longName, format.name));
    newLinesFollowFormat(data.formats);
  } else if (data.progress !== undefined) {
    $('gauge').value = data.progress;
  } else if (data.done) {
    show(data);
    busy = false;
    if (pending.length) send(pending.shift());
  }
};

// Add New Lines is the DEM's own option: offered only with it.
function newLinesFollowFormat(formats) {
  const update = () => {
    const format = formats.find((f) => f.name === $('format').value);
    $('newlines').disabled = !format || !format.options.includes('add-new-lines');
  };
  $('format').addEventListener('change', update);
  update();
}

function show({ items, error }) {
  for (const url of links) URL.revokeObjectURL(url);
  links = [];
  $('results').replaceChildren();
  const lines = [];
  let picture = null;
  for (const item of items) {
    const li = document.createElement('li');
    if (item.ok) {
      const a = document.createElement('a');
      a.href = URL.createObjectURL(new Blob([item.outputBytes]));
      a.download = item.output;
      a.textContent = item.output;
      links.push(a.href);
      li.append(a);
      if (item.pictureBytes) picture = item.pictureBytes;
    } else {
      li.className = 'failed';
      li.textContent = item.label + ': ' + item.error;
    }
    $('results').append(li);
    if (items.length > 1) lines.push('==> ' + item.label + ' <==');
    if (item.notice) lines.push(item.notice);
    lines.push(...item.report);
  }
  if (error) {
    const li = document.createElement('li');
    li.className = 'failed';
    li.textContent = error;
    $('results').append(li);
  }
  $('pane').textContent = lines.join('\n');
  if (picture) {
    const url = URL.createObjectURL(new Blob([picture], { type: 'image/png' }));
    links.push(url);
    $('relief').src = url;
    $('relief').alt = 'Shaded relief of ' + items.filter((i) => i.ok).pop().output;
  } else {
    $('relief').removeAttribute('src');
  }
  $('gauge').value = items.some((i) => i.ok) ? 100 : 0;
  document.body.dataset.runs = Number(document.body.dataset.runs || 0) + 1;  // conversions shown
}

function send(files) {
  busy = true;
  $('gauge').value = 0;
  worker.postMessage({ files, format: $('format').value, newLines: $('newlines').checked && !$('newlines').disabled },
                     files.map((f) => f.data));
}

async function convert(entries) {
  const files = await Promise.all(entries.map(async ({ path, file }) => ({ path, data: await file.arrayBuffer() })));
  if (!files.length) return;
  if (busy) pending.push(files);
  else send(files);
}

// A dropped folder's files, with their paths inside it.
async function walk(entry, into) {
  if (entry.isFile) {
    into.push({ path: entry.fullPath, file: await new Promise((ok, fail) => entry.file(ok, fail)) });
  } else if (entry.isDirectory) {
    const reader = entry.createReader();
    for (let batch; (batch = await new Promise((ok, fail) => reader.readEntries(ok, fail))).length;)
      for (const child of batch) await walk(child, into);
  }
}

const drop = $('drop');
drop.addEventListener('dragover', (e) => {
  e.preventDefault();
  drop.classList.add('over');
});
drop.addEventListener('dragleave', () => drop.classList.remove('over'));
drop.addEventListener('drop', async (e) => {
  e.preventDefault();
  drop.classList.remove('over');
  const entries = [];
  const roots = [...e.dataTransfer.items].map((item) => item.webkitGetAsEntry && item.webkitGetAsEntry());
  if (roots.every(Boolean)) {
    for (const root of roots) await walk(root, entries);
  } else {
    for (const file of e.dataTransfer.files) entries.push({ path: file.name, file });
  }
  convert(entries);
});
for (const input of [$('files'), $('folder')])
  input.addEventListener('change', () => {
    convert([...input.files].map((file) => ({ path: file.webkitRelativePath || file.name, file })));
    input.value = '';
  });

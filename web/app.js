// The page: make a dictionary from dropped or picked images, open one and look at every texture,
// change, rename, remove and download them. All the work is done by quillpack.js in a worker; this
// file only shows it. Everything a dictionary holds is untrusted, so it reaches the page as text
// (textContent) and as pixels, never as markup.
import { createQuillpack } from './quillpack.js';

const THUMBNAIL = 128;
const $ = (id) => document.getElementById(id);
const qp = createQuillpack();

const state = {
  bytes: null,          // the dictionary shown, as a Uint8Array
  fileName: 'textures.txd',
  entries: [],          // qp.list's objects
  originals: new Map(), // lower-cased texture name -> the image files it was made from
  shown: -1,            // index in the detail view
  pixels: null,         // its level 0
};

function say(message) {
  $('status').textContent = message;
}

function problem(message) {
  $('problem').hidden = !message;
  $('problem').textContent = message || '';
}

// Runs one piece of work with the page's controls held, and shows its reason if it fails.
async function work(message, job) {
  say(message);
  problem('');
  document.body.setAttribute('aria-busy', 'true');
  for (const control of document.querySelectorAll('button, input, select')) control.disabled = true;
  try {
    await job();
  } catch (error) {
    problem(error?.message || String(error));
    say('');
  } finally {
    for (const control of document.querySelectorAll('button, input, select')) control.disabled = false;
    document.body.removeAttribute('aria-busy');
  }
}

const stemOf = (name) => name.replace(/\.[^.]*$/, '');

// Images and their alpha images: "<x>_alpha.*" or "<x>_mask.*" goes with "<x>.*" when both are here.
function pairImages(files) {
  const byStem = new Map(files.map((file) => [stemOf(file.name).toLowerCase(), file]));
  const alphaOf = new Map();
  for (const file of files) {
    const match = /^(.*)_(alpha|mask)$/i.exec(stemOf(file.name));
    if (match && byStem.has(match[1].toLowerCase())) alphaOf.set(byStem.get(match[1].toLowerCase()), file);
  }
  const alphas = new Set(alphaOf.values());
  return files.filter((file) => !alphas.has(file)).map((image) => ({ image, alpha: alphaOf.get(image) ?? null }));
}

const bytesOf = async (file) => new Uint8Array(await file.arrayBuffer());

async function addImages(files) {
  const pairs = pairImages(files);
  const failures = [];
  await work(`Packing ${pairs.length} image${pairs.length === 1 ? '' : 's'}…`, async () => {
    let bytes = state.bytes;
    for (const [done, { image, alpha }] of pairs.entries()) {
      say(`Packing ${image.name} (${done + 1} of ${pairs.length})…`);
      const source = { image: await bytesOf(image), alpha: alpha ? await bytesOf(alpha) : null,
        fileName: image.name, alphaFileName: alpha?.name };
      const options = { fileName: source.fileName, alpha: source.alpha, alphaFileName: source.alphaFileName,
        format: $('format').value || undefined, mipmaps: $('mipmaps').checked };
      try {
        bytes = bytes ? await (await qp).add(bytes, source.image, options) : await (await qp).pack(source.image, options);
        state.originals.set(stemOf(image.name).toLowerCase(), source);
      } catch (error) {
        failures.push(`${image.name}: ${error.message}`);
      }
    }
    if (bytes && bytes !== state.bytes) await show(bytes, state.bytes ? state.fileName : 'textures.txd');
    if (failures.length) throw new Error(failures.join('\n\n'));
  });
}

async function openDictionary(file) {
  await work(`Opening ${file.name}…`, async () => {
    const bytes = await bytesOf(file);
    state.originals.clear();
    await show(bytes, file.name);
  });
}

// Lists the dictionary first, so that one that cannot be read leaves the page as it was.
async function show(bytes, fileName) {
  const entries = await (await qp).list(bytes);
  Object.assign(state, { bytes, fileName, entries });
  $('dictionary').hidden = false;
  $('dictionary-title').textContent = fileName;
  $('summary').textContent = `${entries.length} texture${entries.length === 1 ? '' : 's'}, ${bytes.length.toLocaleString()} bytes`;
  const list = $('textures');
  list.replaceChildren(...entries.map(card));
  say(`${fileName}: ${entries.length} texture${entries.length === 1 ? '' : 's'}.`);
  for (const entry of entries) {
    const { width, height, rgba } = await (await qp).thumbnail(bytes, entry.index, THUMBNAIL);
    if (state.bytes !== bytes) return;  // another dictionary took its place meanwhile
    const canvas = list.children[entry.index].querySelector('canvas');
    canvas.width = width;
    canvas.height = height;
    canvas.getContext('2d').putImageData(new ImageData(new Uint8ClampedArray(rgba.buffer), width, height), 0, 0);
    canvas.dataset.ready = 'true';
  }
  list.dataset.ready = 'true';
}

function facts(entry) {
  const levels = `${entry.levels} level${entry.levels === 1 ? '' : 's'}`;
  const format = { dxt1: 'DXT1', dxt3: 'DXT3', 32: '32-bit', 8: '8-bit palette' }[entry.format] ?? entry.format;
  return [format, `${entry.width}×${entry.height}`, levels, entry.alpha ? 'alpha' : 'no alpha',
    `${entry.bytes.toLocaleString()} bytes`, entry.mask ? `mask ${entry.mask}` : ''].filter(Boolean).join(' · ');
}

function card(entry) {
  const item = document.createElement('li');
  const button = document.createElement('button');
  button.type = 'button';
  button.className = 'texture';
  const thumb = document.createElement('span');
  thumb.className = 'thumb checker';
  const canvas = document.createElement('canvas');
  canvas.width = canvas.height = 1;
  canvas.setAttribute('role', 'img');
  canvas.setAttribute('aria-label', `Texture ${entry.name}`);
  thumb.append(canvas);
  const name = document.createElement('span');
  name.className = 'name';
  name.textContent = entry.name || '(no name)';
  const details = document.createElement('span');
  details.className = 'facts';
  details.textContent = facts(entry);
  button.append(thumb, name, details);
  button.addEventListener('click', () => openDetail(entry.index));
  item.append(button);
  return item;
}

async function openDetail(index) {
  const entry = state.entries[index];
  await work(`Decoding ${entry.name}…`, async () => {
    const { width, height, rgba } = await (await qp).extract(state.bytes, index, 0);
    state.shown = index;
    state.pixels = new ImageData(new Uint8ClampedArray(rgba.buffer), width, height);
    $('detail-title').textContent = entry.name || '(no name)';
    $('detail-facts').textContent = facts(entry);
    $('detail-format').value = entry.format;
    $('detail-mipmaps').checked = entry.levels > 1;
    $('new-name').value = entry.name;
    document.querySelector('input[name=channel][value=colour]').checked = true;
    draw();
    if (!$('detail').open) $('detail').showModal();
    say(`${entry.name}: ${width}×${height}.`);
  });
}

// The colour over the checkerboard, or the alpha as grey.
function draw() {
  const canvas = $('full');
  const { width, height, data } = state.pixels;
  canvas.width = width;
  canvas.height = height;
  let image = state.pixels;
  if (document.querySelector('input[name=channel]:checked').value === 'alpha') {
    image = new ImageData(width, height);
    for (let at = 0; at < data.length; at += 4) {
      image.data[at] = image.data[at + 1] = image.data[at + 2] = data[at + 3];
      image.data[at + 3] = 255;
    }
  }
  canvas.getContext('2d').putImageData(image, 0, 0);
  zoom();
}

function zoom() {
  const canvas = $('full');
  const value = $('zoom').value;
  $('viewport').classList.toggle('fit', value === 'fit');
  canvas.style.width = value === 'fit' ? '' : `${canvas.width * Number(value)}px`;
  canvas.style.height = value === 'fit' ? '' : `${canvas.height * Number(value)}px`;
}

async function afterChange(bytes, message, keepOpen) {
  await show(bytes, state.fileName);
  say(message);
  if (keepOpen && state.shown < state.entries.length) {
    await openDetail(state.shown);
    say(message);
  } else {
    $('detail').close();
  }
}

// A new format or mip chain: the texture is added again under its name, from the image it was made
// from when the page still has it, else from its decoded pixels (with their alpha when it has one).
async function changeFormat(event) {
  event.preventDefault();
  const entry = state.entries[state.shown];
  await work(`Re-packing ${entry.name}…`, async () => {
    const api = await qp;
    let source = state.originals.get(entry.name.toLowerCase());
    if (!source) {
      const { png } = await api.png(state.bytes, entry.index);
      source = { image: png, alpha: entry.alpha ? png : null, fileName: `${entry.name}.png`, alphaFileName: `${entry.name}_alpha.png` };
    }
    const bytes = await api.add(state.bytes, source.image, {
      name: entry.name, fileName: source.fileName, alpha: source.alpha, alphaFileName: source.alphaFileName,
      alphaName: entry.mask || undefined, format: $('detail-format').value, mipmaps: $('detail-mipmaps').checked,
    });
    await afterChange(bytes, `${entry.name} re-packed.`, true);
  });
}

async function rename(event) {
  event.preventDefault();
  const entry = state.entries[state.shown];
  const newName = $('new-name').value;
  await work(`Renaming ${entry.name}…`, async () => {
    const bytes = await (await qp).rename(state.bytes, entry.index, newName);
    const original = state.originals.get(entry.name.toLowerCase());
    if (original) state.originals.set(newName.toLowerCase(), original);
    await afterChange(bytes, `${entry.name} is now ${newName}.`, true);
  });
}

async function remove() {
  const entry = state.entries[state.shown];
  await work(`Removing ${entry.name}…`, async () => {
    const bytes = await (await qp).remove(state.bytes, entry.index);
    await afterChange(bytes, `${entry.name} removed.`, false);
  });
}

function download(bytes, fileName, type) {
  const url = URL.createObjectURL(new Blob([bytes], { type }));
  const link = document.createElement('a');
  link.href = url;
  link.download = fileName;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(url), 10000);
}

async function downloadPng() {
  const entry = state.entries[state.shown];
  await work(`Writing ${entry.name} as PNG…`, async () => {
    const { png, fileName } = await (await qp).png(state.bytes, entry.index);
    download(png, fileName, 'image/png');
    say(`${fileName} downloaded.`);
  });
}

function closeDictionary() {
  Object.assign(state, { bytes: null, entries: [], shown: -1, pixels: null });
  state.originals.clear();
  $('textures').replaceChildren();
  $('dictionary').hidden = true;
  say('Closed.');
}

async function take(files) {
  const dictionaries = files.filter((file) => /\.txd$/i.test(file.name));
  const images = files.filter((file) => !/\.txd$/i.test(file.name));
  if (dictionaries.length) await openDictionary(dictionaries[0]);
  if (images.length) await addImages(images);
}

$('images').addEventListener('change', async (event) => {
  await take([...event.target.files]);
  event.target.value = '';
});
$('dictionary-file').addEventListener('change', async (event) => {
  await take([...event.target.files]);
  event.target.value = '';
});
for (const name of ['dragenter', 'dragover']) {
  document.addEventListener(name, (event) => {
    event.preventDefault();
    $('drop').classList.add('over');
  });
}
document.addEventListener('dragleave', () => $('drop').classList.remove('over'));
document.addEventListener('drop', (event) => {
  event.preventDefault();
  $('drop').classList.remove('over');
  take([...(event.dataTransfer?.files ?? [])]);
});
$('download').addEventListener('click', () => download(state.bytes, state.fileName, 'application/octet-stream'));
$('close').addEventListener('click', closeDictionary);
$('detail-close').addEventListener('click', () => $('detail').close());
$('zoom').addEventListener('change', zoom);
for (const radio of document.querySelectorAll('input[name=channel]')) radio.addEventListener('change', draw);
$('change').addEventListener('submit', changeFormat);
$('rename').addEventListener('submit', rename);
$('remove').addEventListener('click', remove);
$('png').addEventListener('click', downloadPng);
qp.then(() => say('Ready.'), (error) => problem(`Quillpack could not start: ${error.message}`));

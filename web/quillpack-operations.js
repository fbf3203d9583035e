// The module's operations on one running WebAssembly engine: dictionaries and images are written into
// the engine's in-memory file system, the functions of src/Web/Exports.h run on them as the command
// line's modes would, and the results are read back. Used inside the worker (quillpack-worker.js) and,
// where there is no worker, by quillpack.js directly; requests and results are plain data either way.

const FORMATS = { dxt1: 0, dxt3: 1, 32: 2, 8: 3 };
const ROOT = '/quillpack';
const DICTIONARY = 'dictionary.txd';

// Starts an engine from the compiled module. `createEngine` is the factory of quillpack-engine.js;
// `wasm` is a WebAssembly.Module. Lines the engine prints are collected per call.
export async function startEngine(createEngine, wasm) {
  const output = { out: [], err: [], aborted: null };
  const engine = await createEngine({
    print: (line) => output.out.push(line),
    printErr: (line) => output.err.push(line),
    onAbort: (what) => { output.aborted = String(what); },
    instantiateWasm: (imports, receive) => {
      WebAssembly.instantiate(wasm, imports).then((instance) => receive(instance));
      return {};
    },
  });
  engine.FS.mkdir(ROOT);
  return new Operations(engine, output);
}

// A file name of the caller's, kept only as the label the reasons and default names are made from:
// no folders, never the dictionary's own name or the other input's.
function label(fileName, fallback, taken) {
  let name = String(fileName ?? '').split(/[\\/]/).pop();
  if (!name || name === '.' || name === '..') name = fallback;
  while (name === DICTIONARY || name === taken) name = `_${name}`;
  return name;
}

function reduced({ width, height, rgba }, size) {
  const step = Math.max(1, Math.ceil(Math.max(width, height) / size));
  if (step === 1) return { width, height, rgba };
  const w = Math.max(1, Math.floor(width / step));
  const h = Math.max(1, Math.floor(height / step));
  const out = new Uint8Array(w * h * 4);
  const area = step * step;
  for (let y = 0; y < h; y++) {
    for (let x = 0; x < w; x++) {
      const sums = [0, 0, 0, 0];
      for (let dy = 0; dy < step; dy++) {
        let at = ((y * step + dy) * width + x * step) * 4;
        for (let dx = 0; dx < step; dx++, at += 4) {
          sums[0] += rgba[at]; sums[1] += rgba[at + 1]; sums[2] += rgba[at + 2]; sums[3] += rgba[at + 3];
        }
      }
      const to = (y * w + x) * 4;
      for (let c = 0; c < 4; c++) out[to + c] = Math.round(sums[c] / area);
    }
  }
  return { width: w, height: h, rgba: out };
}

function formatCode(format) {
  if (format === undefined || format === null || format === '') return -1;
  const code = FORMATS[String(format).toLowerCase()];
  if (code === undefined) throw new Error(`format takes dxt1, dxt3, 32 or 8, not ${format}`);
  return code;
}

export class Operations {
  constructor(engine, output) {
    this.engine = engine;
    this.FS = engine.FS;
    this.output = output;
  }

  // True once a failed allocation or a fault has stopped the engine; it must be started again.
  get stopped() { return this.output.aborted !== null; }

  folder(id) { return `${ROOT}/${id}`; }

  has(id) { return this.FS.analyzePath(this.folder(id)).exists; }

  forget(ids) {
    for (const id of ids) {
      const folder = this.folder(id);
      if (!this.FS.analyzePath(folder).exists) continue;
      for (const name of this.FS.readdir(folder)) if (name !== '.' && name !== '..') this.FS.unlink(`${folder}/${name}`);
      this.FS.rmdir(folder);
    }
    this.engine.ccall('quillpack_close', null, [], []);
  }

  // Makes the dictionary `{id, bytes}` present; bytes are needed only the first time an id is seen.
  hold(dictionary) {
    if (this.has(dictionary.id)) return;
    if (!dictionary.bytes) {
      throw Object.assign(new Error(`dictionary ${dictionary.id} is no longer held; send its bytes again`), { unheld: true });
    }
    this.FS.mkdir(this.folder(dictionary.id));
    this.FS.writeFile(`${this.folder(dictionary.id)}/${DICTIONARY}`, dictionary.bytes);
  }

  // Calls an export with the dictionary's folder as the working folder, so that reasons name files as
  // the caller knows them; throws the printed reason when it fails.
  call(folder, name, types, args, returns = 'number') {
    this.output.out = [];
    this.output.err = [];
    this.FS.chdir(folder);
    let status;
    try {
      status = this.engine.ccall(name, returns, types, args);
    } catch (fault) {
      throw new Error(this.stopped ? `the module stopped (${this.output.aborted}); it starts again for the next call`
        : String(fault && fault.message || fault));
    } finally {
      if (!this.stopped) this.FS.chdir('/');
    }
    if (returns === 'number' && status !== 0) throw new Error(this.output.err.join('\n') || `${name} failed`);
    return status;
  }

  // Runs a change on a copy of the dictionary (or on no dictionary, for pack) under the result's id;
  // the result is held under that id for later calls, and nothing is left of a failed one.
  change(request, run) {
    const source = request.dictionary;
    if (source) this.hold(source);
    const folder = this.folder(request.result);
    this.FS.mkdir(folder);
    try {
      if (source) this.FS.writeFile(`${folder}/${DICTIONARY}`, this.FS.readFile(`${this.folder(source.id)}/${DICTIONARY}`));
      run(folder);
      return this.FS.readFile(`${folder}/${DICTIONARY}`);
    } catch (error) {
      if (!this.stopped) this.forget([request.result]);
      throw error;
    }
  }

  add(request) {
    const { image, alpha, options = {} } = request;
    return this.change(request, (folder) => {
      const imageName = label(options.fileName, 'image');
      const alphaName = alpha ? label(options.alphaFileName, 'alpha', imageName) : '';
      this.FS.writeFile(`${folder}/${imageName}`, image);
      if (alpha) this.FS.writeFile(`${folder}/${alphaName}`, alpha);
      try {
        this.call(folder, 'quillpack_add',
          ['string', 'string', 'string', 'string', 'string', 'number', 'number', 'number'],
          [DICTIONARY, imageName, options.name ?? '', alphaName, options.alphaName ?? '', formatCode(options.format),
            options.mipmaps ? 1 : 0, options.dither ? 1 : 0]);
      } finally {
        if (!this.stopped) {
          this.FS.unlink(`${folder}/${imageName}`);
          if (alpha) this.FS.unlink(`${folder}/${alphaName}`);
        }
      }
    });
  }

  // `texture` is a name or an index.
  remove(request) {
    const byIndex = typeof request.texture === 'number';
    return this.change(request, (folder) => this.call(folder, 'quillpack_remove', ['string', 'string', 'number'],
      [DICTIONARY, byIndex ? '' : String(request.texture), byIndex ? request.texture : -1]));
  }

  rename(request) {
    const byIndex = typeof request.texture === 'number';
    return this.change(request, (folder) => this.call(folder, 'quillpack_rename', ['string', 'string', 'number', 'string'],
      [DICTIONARY, byIndex ? '' : String(request.texture), byIndex ? request.texture : -1, String(request.newName)]));
  }

  list(request) {
    this.hold(request.dictionary);
    this.call(this.folder(request.dictionary.id), 'quillpack_list', ['string'], [DICTIONARY]);
    const [header, ...rows] = this.output.out;
    const columns = header.split('\t');
    const entries = rows.map((row) => {
      const cells = row.split('\t');
      const entry = Object.fromEntries(columns.map((column, i) => [column, cells[i]]));
      for (const number of ['index', 'width', 'height', 'levels', 'bytes']) entry[number] = Number(entry[number]);
      entry.alpha = entry.alpha === 'yes';
      return entry;
    });
    this.listed = { id: request.dictionary.id, entries };
    return entries.map((entry) => ({ ...entry }));
  }

  extract(request) {
    this.hold(request.dictionary);
    const { engine } = this;
    this.call(this.folder(request.dictionary.id), 'quillpack_extract', ['string', 'number', 'number'],
      [DICTIONARY, request.index, request.level ?? 0]);
    const width = engine.ccall('quillpack_pixels_width', 'number', [], []);
    const height = engine.ccall('quillpack_pixels_height', 'number', [], []);
    const at = engine.ccall('quillpack_pixels', 'number', [], []);
    return { width, height, rgba: engine.HEAPU8.slice(at, at + width * height * 4) };
  }

  // Level 0 as the PNG file --extract writes, and the file name it gives it (before any "-1").
  png(request) {
    this.extract({ ...request, level: 0 });
    const folder = this.folder(request.dictionary.id);
    this.call(folder, 'quillpack_write_png', ['string'], ['texture.png']);
    const png = this.FS.readFile(`${folder}/texture.png`);
    this.FS.unlink(`${folder}/texture.png`);
    return { png, fileName: `${this.engine.ccall('quillpack_pixels_stem', 'string', [], [])}.png` };
  }

  // A picture of at most `size` pixels a side: the smallest level that is still as large, reduced by
  // averaging whole squares of pixels; a texture that is small enough comes as extract gives it.
  thumbnail(request) {
    const size = Math.max(1, request.size | 0);
    const entry = this.entries(request.dictionary).find((listed) => listed.index === request.index);
    let level = 0;
    if (entry) {
      while (level + 1 < entry.levels && Math.max(entry.width, entry.height) >> (level + 1) >= size) level += 1;
    }
    return reduced(this.extract({ ...request, level }), size);
  }

  // The list of the dictionary last listed, kept for the thumbnails that follow it.
  entries(dictionary) {
    if (this.listed?.id !== dictionary.id) this.list({ dictionary });
    return this.listed.entries;
  }

  // The engine's WebAssembly memory in bytes: its high-water mark, as it never shrinks.
  memory() {
    return this.engine.HEAPU8.length;
  }

  safeFileStem(request) {
    return this.engine.ccall('quillpack_safe_file_stem', 'string', ['string'], [String(request.name)]);
  }

  // One request: {op, forget, ...}. Returns the result and the buffers that may be moved, not copied.
  run(request) {
    if (request.forget?.length) this.forget(request.forget);
    const result = this[request.op](request);
    const moved = result instanceof Uint8Array ? result : result?.rgba ?? result?.png;
    const transfer = moved ? [moved.buffer] : [];
    return { result, transfer };
  }
}

// Quillpack in the browser (and node): pack images into TXD texture dictionaries, list, extract,
// rename and remove their textures, with the same bytes and reasons as the command line.
//
//   import { createQuillpack } from './quillpack.js';
//   const qp = await createQuillpack();
//   const txd = await qp.pack(pngBytes, { name: 'brick' });
//
// Every input and output is a Uint8Array; a failure rejects with an Error whose message is what the
// command line prints. In a page the work runs in a worker (quillpack-worker.js), so the page never
// freezes; in node, or with { worker: false }, it runs in this thread. Dictionaries are treated as
// values: a call never changes the array it is given, and an array once passed must not be changed
// afterwards (the module keeps a copy of the last few to spare sending them again).

const HELD_DICTIONARIES = 2;
const isNode = typeof process === 'object' && Boolean(process.versions?.node);

async function wasmModule(url) {
  if (isNode && url.protocol === 'file:') {
    const { readFile } = await import('node:fs/promises');
    return WebAssembly.compile(await readFile(url));
  }
  const response = await fetch(url);
  if (!response.ok) throw new Error(`quillpack.wasm could not be loaded (HTTP ${response.status})`);
  return WebAssembly.compile(await response.arrayBuffer());
}

// Runs requests in this thread, with the same restart after a stopped engine as the worker.
async function inThisThread(base) {
  const [{ default: createEngine }, { startEngine }, wasm] = await Promise.all([
    import(new URL('./quillpack-engine.js', base)),
    import(new URL('./quillpack-operations.js', base)),
    wasmModule(new URL('./quillpack.wasm', base)),
  ]);
  let operations = await startEngine(createEngine, wasm);
  let queue = Promise.resolve();
  return (request) => {
    const answer = queue.then(async () => {
      try {
        return operations.run(request).result;
      } catch (error) {
        const restarted = operations.stopped;
        if (restarted) operations = await startEngine(createEngine, wasm);
        throw Object.assign(new Error(error.message), { restarted, unheld: Boolean(error.unheld) });
      }
    });
    queue = answer.catch(() => {});
    return answer;
  };
}

function inWorker(base) {
  const worker = new Worker(new URL('./quillpack-worker.js', base), { type: 'module' });
  const waiting = new Map();
  let calls = 0;
  const failAll = (message) => {
    for (const { reject } of waiting.values()) reject(new Error(message));
    waiting.clear();
  };
  worker.onmessage = ({ data }) => {
    const { resolve, reject } = waiting.get(data.call);
    waiting.delete(data.call);
    if ('error' in data) reject(Object.assign(new Error(data.error), { restarted: data.restarted, unheld: data.unheld }));
    else resolve(data.result);
  };
  worker.onerror = (event) => {
    event.preventDefault();
    failAll(`the Quillpack worker failed: ${event.message || 'it could not be started'}`);
  };
  return (request) => new Promise((resolve, reject) => {
    waiting.set(++calls, { resolve, reject });
    // The caller's arrays are copied, never moved: they stay theirs.
    worker.postMessage({ call: calls, request });
  });
}

function bytesOf(value, what) {
  if (value instanceof Uint8Array) return value;
  if (value instanceof ArrayBuffer) return new Uint8Array(value);
  throw new TypeError(`${what} must be a Uint8Array`);
}

export async function createQuillpack({ worker = typeof Worker === 'function' && !isNode, base = import.meta.url } = {}) {
  const send = worker ? inWorker(base) : await inThisThread(base);

  // Which dictionaries the engine holds: each array gets an id the first time it is seen, and its
  // bytes travel only while the engine does not hold that id. The engine holds the last few.
  const ids = new WeakMap();
  let held = [];
  let nextId = 0;
  const idOf = (bytes) => {
    if (!ids.has(bytes)) ids.set(bytes, ++nextId);
    return ids.get(bytes);
  };
  const hold = (id) => {
    held = [id, ...held.filter((other) => other !== id)];
    return held.splice(HELD_DICTIONARIES);
  };
  // `resend`: the engine was started again after a call queued before it learnt so, and no longer
  // holds the dictionary this one counted on.
  const request = async (fields, dictionary, resend = false) => {
    const message = { ...fields, forget: [] };
    if (dictionary) {
      const bytes = bytesOf(dictionary, 'the dictionary');
      const id = idOf(bytes);
      message.dictionary = held.includes(id) && !resend ? { id } : { id, bytes };
      message.forget.push(...hold(id));
    }
    const changes = ['add', 'remove', 'rename'].includes(fields.op);
    if (changes) {
      message.result = ++nextId;
      message.forget.push(...hold(message.result));
    }
    try {
      const result = await send(message);
      if (changes) ids.set(result, message.result);
      return result;
    } catch (error) {
      if (changes) held = held.filter((id) => id !== message.result);
      if (error.restarted) held = [];
      if (error.unheld && !resend) return request(fields, dictionary, true);
      throw error;
    }
  };

  return {
    pack: (image, options = {}) => request(imageFields(image, options)),
    add: (dictionary, image, options = {}) => request(imageFields(image, options), dictionary),
    remove: (dictionary, texture) => request({ op: 'remove', texture }, dictionary),
    rename: (dictionary, texture, newName) => request({ op: 'rename', texture, newName }, dictionary),
    list: (dictionary) => request({ op: 'list' }, dictionary),
    extract: (dictionary, index, level = 0) => request({ op: 'extract', index, level }, dictionary),
    safeFileStem: (name) => request({ op: 'safeFileStem', name }),
    // Beyond the command line: level 0 as the PNG file --extract writes ({png, fileName}), and a
    // picture of at most `size` pixels a side ({width, height, rgba}).
    png: (dictionary, index) => request({ op: 'png', index }, dictionary),
    thumbnail: (dictionary, index, size = 128) => request({ op: 'thumbnail', index, size }, dictionary),
    // The engine's WebAssembly memory in bytes (its high-water mark: it never shrinks).
    memory: () => request({ op: 'memory' }),
  };
}

// `options.alpha` is the alpha image's bytes; `fileName` and `alphaFileName` (the files' names) give
// the default texture and mask names as the command line makes them from paths.
function imageFields(image, { alpha, ...options }) {
  return {
    op: 'add',
    image: bytesOf(image, 'the image'),
    alpha: alpha === undefined || alpha === null ? null : bytesOf(alpha, 'the alpha image'),
    options,
  };
}

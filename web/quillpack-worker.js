// The worker the page's encoding runs in, so that the page never waits on it. It compiles
// quillpack.wasm once, answers each request of quillpack.js in order, and starts a fresh engine from
// the same compiled module when a call has stopped the last one (a failed allocation aborts it).
import createEngine from './quillpack-engine.js';
import { startEngine } from './quillpack-operations.js';

const compiled = fetch(new URL('./quillpack.wasm', import.meta.url))
  .then((response) => {
    if (!response.ok) throw new Error(`quillpack.wasm could not be loaded (HTTP ${response.status})`);
    return response.arrayBuffer();
  })
  .then((bytes) => WebAssembly.compile(bytes));
let operations = compiled.then((wasm) => startEngine(createEngine, wasm));

// Requests are answered one after another, each against the engine the last one left.
let queue = Promise.resolve();

self.onmessage = ({ data: { call, request } }) => {
  queue = queue.then(async () => {
    let engine;
    try {
      engine = await operations;
      const { result, transfer } = engine.run(request);
      self.postMessage({ call, result }, transfer);
    } catch (error) {
      const restarted = Boolean(engine?.stopped);
      if (restarted) operations = compiled.then((wasm) => startEngine(createEngine, wasm));
      self.postMessage({ call, error: String(error?.message ?? error), restarted, unheld: Boolean(error?.unheld) });
    }
  });
};

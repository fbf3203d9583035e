// The browser module (quillpack.js, here in node) against the native tool, case by case where their
// modes overlap: the same dictionary bytes for the same --add, the same --list columns, the same PNG
// files as --extract, and the same reasons for the same failures. Run by scripts/test as
//   node tests/web/module-test.mjs <build-web/site> <native quillpack>
import { execFileSync, spawnSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, writeFileSync, copyFileSync, readdirSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { pathToFileURL } from 'node:url';
import assert from 'node:assert/strict';

const [site, tool] = process.argv.slice(2).map((path) => resolve(path));
const data = resolve(new URL('../data', import.meta.url).pathname);
const sample = resolve(new URL('../../samples/brick.png', import.meta.url).pathname);
const { createQuillpack } = await import(pathToFileURL(join(site, 'quillpack.js')));
const qp = await createQuillpack();

// The native tool in a folder of its own holding the inputs under the names the module is given, so
// that both name the same files in their reasons.
function native(args, inputs, dictionary) {
  const folder = mkdtempSync(join(tmpdir(), 'quillpack-web-'));
  try {
    for (const [name, path] of Object.entries(inputs)) copyFileSync(path, join(folder, name));
    if (dictionary) writeFileSync(join(folder, 'dictionary.txd'), dictionary);
    const run = spawnSync(tool, args, { cwd: folder });
    const read = (name) => readFileSync(join(folder, name));
    const files = Object.fromEntries(readdirSync(folder).map((name) => [name, name]));
    return { status: run.status, stdout: run.stdout.toString(), stderr: run.stderr.toString(), read, files };
  } finally {
    process.on('exit', () => rmSync(folder, { recursive: true, force: true }));
  }
}

const png = (name) => join(data, 'pngsuite', name);
const files = (inputs) => Object.fromEntries(Object.entries(inputs).map(([name, path]) => [name, readFileSync(path)]));

// --add cases: inputs under their names, the command line's options, and the module's options.
const addCases = [
  { title: 'default format is DXT1', inputs: { 'brick.png': sample }, args: [], options: {} },
  { title: 'an alpha image makes DXT3 with its mask name', inputs: { 'leaf.png': png('basn6a08.png'), 'leaf_alpha.png': png('basn4a08.png') },
    args: [], options: {} },
  { title: '32-bit with alpha', inputs: { 'glass.png': png('basn2c08.png'), 'glass_a.png': png('basn6a08.png') },
    args: ['--format', '32'], options: { format: '32' } },
  { title: 'palettised', inputs: { 'sign.png': png('basn3p08.png') }, args: ['--format', '8'], options: { format: '8' } },
  { title: 'DXT1 with its mip chain', inputs: { 'brick.png': sample }, args: ['--mipmaps'], options: { mipmaps: true } },
  { title: 'DXT3 without alpha image', inputs: { 'Wall.Brick.png': sample }, args: ['--format', 'dxt3'], options: { format: 'dxt3' } },
];

let passed = 0;
let failed = 0;
async function check(title, body) {
  try {
    await body();
    passed += 1;
  } catch (error) {
    failed += 1;
    console.log(`FAILED ${title}\n${error.stack}`);
  }
}

function moduleOptions(inputs, options) {
  const [imageName, alphaName] = Object.keys(inputs);
  const bytes = files(inputs);
  return [bytes[imageName], { ...options, fileName: imageName, alphaFileName: alphaName, alpha: alphaName ? bytes[alphaName] : undefined }];
}

let mixed = null;  // the dictionary of every case in turn, for the list and extract cases
for (const { title, inputs, args, options } of addCases) {
  await check(`pack: ${title}`, async () => {
    const made = native(['--add', ...args, 'dictionary.txd', ...Object.keys(inputs)], inputs);
    assert.equal(made.status, 0, made.stderr);
    const [image, moduleOpts] = moduleOptions(inputs, options);
    assert.deepEqual(Buffer.from(await qp.pack(image, moduleOpts)), made.read('dictionary.txd'));
  });
  await check(`add: ${title}`, async () => {
    const before = mixed ?? await qp.pack(readFileSync(sample), { name: 'first' });
    const made = native(['--add', ...args, 'dictionary.txd', ...Object.keys(inputs)], inputs, before);
    assert.equal(made.status, 0, made.stderr);
    const [image, moduleOpts] = moduleOptions(inputs, options);
    mixed = await qp.add(before, image, moduleOpts);
    assert.deepEqual(Buffer.from(mixed), made.read('dictionary.txd'));
  });
}

await check('list gives --list columns', async () => {
  const listed = native(['--list', 'dictionary.txd'], {}, mixed);
  const [header, ...rows] = listed.stdout.trimEnd().split('\n').map((line) => line.split('\t'));
  const expected = rows.map((cells) => Object.fromEntries(header.map((column, i) => {
    const cell = cells[i];
    if (['index', 'width', 'height', 'levels', 'bytes'].includes(column)) return [column, Number(cell)];
    return [column, column === 'alpha' ? cell === 'yes' : cell];
  })));
  assert.deepEqual(await qp.list(mixed), expected);
});

await check('extract and png give the pixels and files of --extract', async () => {
  const extracted = native(['--extract', 'dictionary.txd', 'out'], {}, mixed);
  assert.equal(extracted.status, 0, extracted.stderr);
  const written = extracted.stdout.trimEnd().split('\n');
  for (const [index, path] of written.entries()) {
    const { png: file, fileName } = await qp.png(mixed, index);
    assert.deepEqual(Buffer.from(file), extracted.read(path), path);
    assert.equal(`out/${fileName}`, path);
    const { width, height, rgba } = await qp.extract(mixed, index);
    const entry = (await qp.list(mixed))[index];
    assert.deepEqual([width, height, rgba.length], [entry.width, entry.height, entry.width * entry.height * 4]);
  }
});

await check('a mip level is the level, not level 0', async () => {
  const withMips = await qp.pack(readFileSync(sample), { mipmaps: true });
  const level = await qp.extract(withMips, 0, 2);
  assert.deepEqual([level.width, level.height, level.rgba.length], [16, 16, 16 * 16 * 4]);
  await assert.rejects(qp.extract(withMips, 0, 7), /texture 0 has no level 7/);
});

await check('extract reads the dictionary it is given, not the one it read last', async () => {
  // A module of its own: nothing done before may have dropped what it keeps between calls.
  const qp = await createQuillpack();
  const one = await qp.pack(readFileSync(sample), { name: 'one' });
  await qp.extract(one, 0);
  const two = await qp.add(one, readFileSync(png('basn6a08.png')), { name: 'two' });
  const second = await qp.extract(two, 1);
  assert.deepEqual([second.width, second.height], [32, 32]);
  const removed = await qp.remove(two, 'one');
  assert.deepEqual([(await qp.extract(removed, 0)).width, (await qp.extract(one, 0)).width], [32, 64]);
});

await check('remove and rename keep the other records in order', async () => {
  const names = async (bytes) => (await qp.list(bytes)).map((entry) => entry.name);
  const before = await names(mixed);
  const renamed = await qp.rename(mixed, 'sign', 'board');
  assert.deepEqual(await names(renamed), before.map((name) => (name === 'sign' ? 'board' : name)));
  const removed = await qp.remove(renamed, 0);
  assert.deepEqual(await names(removed), before.slice(1).map((name) => (name === 'sign' ? 'board' : name)));
  assert.deepEqual(await names(mixed), before, 'the dictionary given is left as it was');
  await assert.rejects(qp.rename(mixed, 'sign', 'GLASS'), /a texture named glass is already in the archive/);
  await assert.rejects(qp.remove(mixed, 'nothing'), /no texture named nothing in the archive/);
});

await check('safeFileStem follows --extract', async () => {
  for (const [name, stem] of [['../x', '_._x'], ['CON', '_CON'], ['', 'unnamed'], ['a/b\\c:d', 'a_b_c_d'], ['Brick.01', 'Brick.01']]) {
    assert.equal(await qp.safeFileStem(name), stem, name);
  }
});

// Failures: the module's message is what the command line prints on standard error.
const failureCases = [
  { title: 'a damaged PNG', inputs: { 'bad.png': png('xcrn0g04.png') } },
  { title: 'a file that is no image', inputs: { 'notes.png': join(data, 'pngsuite', 'PngSuite.README') } },
  { title: 'a side that is not a power of two', inputs: { 'odd.png': png('s03n3p01.png') } },
  { title: 'alpha image of another size', inputs: { 'tex.png': sample, 'tex_alpha.png': png('basn6a08.png') } },
];
for (const { title, inputs } of failureCases) {
  await check(`failure: ${title}`, async () => {
    const made = native(['--add', 'dictionary.txd', ...Object.keys(inputs)], inputs);
    assert.equal(made.status, 1);
    const [image, options] = moduleOptions(inputs, {});
    await assert.rejects(qp.pack(image, options), (error) => error.message === made.stderr.trimEnd());
  });
}
for (const [title, bytes] of [['an empty file', new Uint8Array()], ['a truncated dictionary', (await qp.pack(readFileSync(sample))).slice(0, 100)]]) {
  await check(`failure: list of ${title}`, async () => {
    const listed = native(['--list', 'dictionary.txd'], {}, bytes);
    assert.equal(listed.status, 1);
    await assert.rejects(qp.list(bytes), (error) => error.message === listed.stderr.trimEnd());
    const rows = native(['--list', 'dictionary.txd'], {}, mixed).stdout.trimEnd().split('\n').length - 1;
    assert.equal((await qp.list(mixed)).length, rows, 'the module goes on working');
  });
}

console.log(`module: ${passed} passed, ${failed} failed`);
process.exit(failed ? 1 : 0);

// The WebAssembly build in Node.js: the first 30 s of every corpus song give
// the native digest table's values, and vinto-render.mjs behaves and writes
// byte for byte as the native vinto-render.
//   node wasm.mjs WEB_OUTDIR NATIVE_VINTO_RENDER HASHES_TXT [CORPUS_DIR]
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

const [web, nativeRender, hashes, corpus] = process.argv.slice(2).map((a) => path.resolve(a));
const { Vinto } = await import(path.join(web, 'vinto.js'));

// 64-bit FNV-1a as perf_render_hash_test.cpp takes it, in two 32-bit halves:
// the prime is 2^40 + 0x1b3.
function fnv(state, bytes) {
  let [hi, lo] = state;
  for (const byte of bytes) {
    lo = (lo ^ byte) >>> 0;
    const low = lo * 0x1b3;
    hi = (Math.imul(hi, 0x1b3) + Math.floor(low / 2 ** 32) + (lo << 8)) >>> 0;
    lo = low >>> 0;
  }
  state.splice(0, 2, hi, lo);
  return state;
}
const basis = () => [0xcbf29ce4, 0x84222325];
const hex = ([hi, lo]) => hi.toString(16).padStart(8, '0') + lo.toString(16).padStart(8, '0');

const table = new Map(fs.readFileSync(hashes, 'utf8').split('\n').filter((l) => l && l[0] !== '#')
  .map((l) => l.split(/\s+/)).map(([, size, digest, pcm, positions]) => [`${size} ${digest}`, `${pcm} ${positions}`]));
const vinto = Vinto.createSync(fs.readFileSync(path.join(web, 'vinto.wasm')));
const songs = corpus ? fs.readdirSync(corpus).filter((n) => /\.xm$/i.test(n)).sort() : [];
let checked = 0;
for (const name of songs) {
  const bytes = fs.readFileSync(path.join(corpus, name));
  const expected = table.get(`${bytes.length} ${hex(fnv(basis(), bytes))}`);
  try {
    vinto.load(bytes);
  } catch {
    continue;  // the loader's own tests judge refusals
  }
  const pcm = basis(), positions = basis(), record = new DataView(new ArrayBuffer(6));
  for (let block = 0; block < Math.ceil(30 * 44100 / 884); block++) {
    const frames = vinto.renderBlock();
    assert.equal(frames.length, 884 * 2, name);
    fnv(pcm, new Uint8Array(frames.buffer, frames.byteOffset, frames.byteLength));
    const { order, row, time } = vinto.position;
    record.setUint8(0, order);
    record.setUint8(1, row);
    record.setUint32(2, time, true);
    fnv(positions, new Uint8Array(record.buffer));
  }
  if (!expected) console.log(`not in the table: ${name}`);
  else assert.equal(`${hex(pcm)} ${hex(positions)}`, expected, `${name}: 16-bit samples or position records differ`);
  if (expected) checked++;
}
assert.ok(!songs.length || checked > 0, 'no corpus song is in the table');
console.log(`wasm: ${checked} corpus songs bit-identical to the native digests`);

// Each command line in a fresh directory for each tool: exit status, standard
// output, the files left and the first line of standard error (timing aside).
const song = path.join(web, 'vinto.xm');
const cases = [
  [song, 'once.wav'],  // ends inside a block: the cut at the end of a pass
  ['--seconds', '1.5', '--sync', 'positions.csv', song, 'out.raw'],
  ['--frames', '1000', song, '-'],
  ['--frames', '5', '--seconds', '1', song, 'x.raw'],
  ['--frames', '10', 'missing.xm', 'x.raw'],
  ['--frames', '10', web, 'x.raw'],
  ['--frames', '10', song, 'no/such/dir.wav'],
];
const run = (command, args) => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'vinto-render-'));
  const result = spawnSync(command[0], [...command.slice(1), ...args], { cwd: dir, maxBuffer: 1 << 28 });
  const files = Object.fromEntries(fs.readdirSync(dir).map((f) => [f, fs.readFileSync(path.join(dir, f))]));
  fs.rmSync(dir, { recursive: true });
  const said = result.stderr.toString().split('\n')[0].replace(/ in [\d.]+ s wall time.*/, '');
  return { status: result.status, stdout: result.stdout, files, said };
};
for (const args of cases) {
  const native = run([nativeRender], args);
  assert.deepEqual(run([process.execPath, path.join(web, 'vinto-render.mjs')], args), native, args.join(' '));
}
// --mode exact is the native tool's rendering.
assert.deepEqual(run([process.execPath, path.join(web, 'vinto-render.mjs')], ['--mode', 'exact', ...cases[2]]),
  run([nativeRender], cases[2]));
console.log(`vinto-render.mjs: ${cases.length + 1} command lines as the native tool`);

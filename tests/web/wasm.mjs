// The WebAssembly build in Node.js: the first 30 s of every corpus song give
// the native digest tables' values in both modes, and vinto-render.mjs
// behaves and writes byte for byte as the native vinto-render.
//   node wasm.mjs WEB_OUTDIR NATIVE_VINTO_RENDER EXACT_HASHES COMPLETE_HASHES [CORPUS_DIR]
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

const [web, nativeRender, exactHashes, completeHashes, corpus] = process.argv.slice(2).map((a) => path.resolve(a));
const { Vinto } = await import(path.join(web, 'vinto.js'));

// 64-bit FNV-1a as the native digest tests take it, in two 32-bit halves:
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

const vinto = Vinto.createSync(fs.readFileSync(path.join(web, 'vinto.wasm')));
const songs = corpus ? fs.readdirSync(corpus).filter((n) => /\.xm$/i.test(n)).sort() : [];
for (const [mode, hashes] of [['exact', exactHashes], ['complete', completeHashes]]) {
  const table = new Map(fs.readFileSync(hashes, 'utf8').split('\n').filter((l) => l && l[0] !== '#')
    .map((l) => l.split(/\s+/)).map(([, size, digest, pcm, positions]) => [`${size} ${digest}`, `${pcm} ${positions}`]));
  let checked = 0;
  for (const name of songs) {
    const bytes = fs.readFileSync(path.join(corpus, name));
    const expected = table.get(`${bytes.length} ${hex(fnv(basis(), bytes))}`);
    try {
      vinto.load(bytes, { mode });
    } catch {
      continue;  // the loader's own tests judge refusals
    }
    // Each block's 16-bit values, then its order u8, row u8 and time u32 LE.
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
    if (!expected) console.log(`not in the ${mode} table: ${name}`);
    else assert.equal(`${hex(pcm)} ${hex(positions)}`, expected, `${name} (${mode}): 16-bit samples or position records differ`);
    if (expected) checked++;
  }
  assert.ok(!songs.length || checked > 0, `no corpus song is in the ${mode} table`);
  console.log(`wasm, ${mode} mode: ${checked} corpus songs bit-identical to the native digests`);
}

// Each command line in a fresh directory for each tool, holding a song cut
// short (cut.xm), a link to a file not there yet and a WAV name linked to
// standard output (a pipe: written in place): exit status, standard output,
// the files left (links as such) and the first line of standard error (timing aside).
const song = path.join(web, 'vinto.xm');
const cases = [
  [song, 'once.wav'],  // ends inside a block: the cut at the end of a pass
  ['--seconds', '1.5', '--sync', 'positions.csv', song, 'out.raw'],
  ['--frames', '1000', song, '-'],
  ['--mode', 'exact', '--frames', '1000', song, '-'],
  ['--frames', '5', '--seconds', '1', song, 'x.raw'],
  ['--frames', '10', 'missing.xm', 'x.raw'],
  ['--frames', '10', web, 'x.raw'],
  ['--frames', '10', song, 'no/such/dir.wav'],
  // The controls through the wasm, each the engine's call: a seek, passes, mutes, volume.
  ['--loops', '2', '--start', '0:40.25', '--mute', '1,3-4', '--volume', '0.6', song, 'link.raw'],
  ['--mode', 'exact', '--start-order', '3:16', song, 'pipe.wav'],  // counted first: the header comes first
  ['--info', 'cut.xm'], ['--frames', '2000', 'cut.xm', 'cut.xm'], [song, 'out.mp3'], ['--version'],
];
const run = (command, args) => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'vinto-render-'));
  fs.writeFileSync(path.join(dir, 'cut.xm'), fs.readFileSync(song).subarray(0, 20000));
  fs.symlinkSync('real.raw', path.join(dir, 'link.raw'));
  fs.symlinkSync('/dev/stdout', path.join(dir, 'pipe.wav'));
  // Standard output a pipe, as in a shell (Node.js gives a socket, which /dev/stdout cannot open).
  const result = spawnSync('bash', ['-c', 'set -o pipefail; "$@" | cat', '-', ...command, ...args],
    { cwd: dir, maxBuffer: 1 << 28 });
  const files = Object.fromEntries(fs.readdirSync(dir).map((f) => path.join(dir, f)).map((f) =>
    [path.basename(f), fs.lstatSync(f).isSymbolicLink() ? `-> ${fs.readlinkSync(f)}` : fs.readFileSync(f)]));
  fs.rmSync(dir, { recursive: true });
  const said = result.stderr.toString().split('\n')[0].replace(/ in [\d.]+ s wall time.*/, '');
  return { status: result.status, stdout: result.stdout, files, said };
};
for (const args of cases) {
  const native = run([nativeRender], args);
  assert.deepEqual(run([process.execPath, path.join(web, 'vinto-render.mjs')], args), native, args.join(' '));
}
console.log(`vinto-render.mjs: ${cases.length} command lines as the native tool`);

// The WebAssembly build in Node.js: the first 30 s of the demo song and every corpus song render in both modes as
// the native vinto-render renders them (which the digest tables pin), and vinto-render.mjs behaves and writes byte
// for byte as the native vinto-render.
//   node wasm.mjs WEB_OUTDIR NATIVE_VINTO_RENDER [CORPUS_DIR]
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

const [web, nativeRender, corpus] = process.argv.slice(2).map((a) => path.resolve(a));
const { Vinto } = await import(path.join(web, 'vinto.js'));

// Each song in both modes, 30 s block by block: the 16-bit frames and the position (order, row, time) it records.
const vinto = Vinto.createSync(fs.readFileSync(path.join(web, 'vinto.wasm')));
const songs = [path.join(web, 'vinto.xm'), ...(corpus ? fs.readdirSync(corpus).filter((n) => /\.xm$/i.test(n)).map((n) => path.join(corpus, n)) : [])];
const csv = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'vinto-wasm-')), 'positions.csv');
for (const mode of ['exact', 'complete']) {
  let checked = 0;
  for (const song of songs) {
    try { vinto.load(fs.readFileSync(song), { mode }); } catch { continue; }  // the loader's tests judge refusals
    const native = spawnSync(nativeRender, ['--mode', mode, '--seconds', '30', '--sync', csv, song, '-'], { maxBuffer: 1 << 26 }).stdout;
    const rows = fs.readFileSync(csv, 'utf8').trim().split('\n').slice(1);
    assert.equal(rows.length, 1497, song);
    rows.forEach((line, block) => {
      const frames = vinto.renderBlock(), { order, row, time } = vinto.position;
      assert.ok(Buffer.from(frames.buffer, frames.byteOffset, frames.byteLength).equals(native.subarray(block * 3536, (block + 1) * 3536)) &&
        line === `${block},${order},${row},${time}`, `${song} (${mode}): block ${block} differs`);
    });
    checked++;
  }
  assert.ok(checked > songs.length / 2, `${mode}: few songs load`);
  console.log(`wasm, ${mode} mode: ${checked} songs bit-identical to the native tool`);
}
fs.rmSync(path.dirname(csv), { recursive: true });

// Each command line in a fresh directory for each tool, holding a song cut short (cut.xm), a link to a file not
// there yet and a WAV name linked to standard output (a pipe: written in place): exit status, standard output, the
// files left (links as such) and the first line of standard error (timing aside).
const song = path.join(web, 'vinto.xm');
const cases = [
  [song, 'once.wav'],  // ends inside a block: the cut at the end of a pass
  ['--seconds', '1.5', '--sync', 'positions.csv', song, 'out.raw'], ['--frames', '1000', song, '-'],
  ['--mode', 'exact', '--frames', '1000', song, '-'], ['--frames', '5', '--seconds', '1', song, 'x.raw'],
  ['--frames', '10', 'missing.xm', 'x.raw'], ['--frames', '10', web, 'x.raw'], ['--frames', '10', song, 'no/such/dir.wav'],
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
const script = [process.execPath, path.join(web, 'vinto-render.mjs')];
for (const args of cases) assert.deepEqual(run(script, args), run([nativeRender], args), args.join(' '));
console.log(`vinto-render.mjs: ${cases.length} command lines as the native tool`);

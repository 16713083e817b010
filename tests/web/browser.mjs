// The web build in headless Chromium, driven over the DevTools protocol on a pipe, its pages from a static server.
//   node browser.mjs worklet|demo WEB_OUTDIR NATIVE_VINTO_RENDER OUT_DIR
import assert from 'node:assert/strict';
import { execFileSync, spawn } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';

const [which, web, nativeRender, outDir] = process.argv.slice(2);
const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm' };
const server = http.createServer((request, response) => {
  const file = path.join(web, path.normalize(new URL(request.url, 'http://x').pathname));
  if (!fs.existsSync(file) || !fs.statSync(file).isFile()) return response.writeHead(404).end();
  response.writeHead(200, { 'Content-Type': TYPES[path.extname(file)] ?? 'application/octet-stream' }).end(fs.readFileSync(file));
}).listen(0, '127.0.0.1');
await new Promise((resolve) => server.once('listening', resolve));
const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'vinto-chromium-'));
const chromium = spawn(process.env.VINTO_CHROMIUM || '/usr/bin/chromium', ['--headless', '--no-sandbox', '--disable-gpu',
  '--no-first-run', '--disable-background-networking', '--disable-component-update', '--remote-debugging-pipe',
  `--user-data-dir=${profile}`, '--window-size=800,600', 'about:blank'], { stdio: ['ignore', 'ignore', 'ignore', 'pipe', 'pipe'] });
setTimeout(() => { console.error('timed out'); finish(1); }, 60000).unref();
// Chromium closes its helper processes before its own exit; the profile goes then.
function finish(status) {
  process.exitCode = status;
  server.close();
  chromium.once('exit', () => fs.rmSync(profile, { recursive: true, force: true, maxRetries: 20 }));
  send('Browser.close').catch(() => {});
  setTimeout(() => chromium.kill(), 5000).unref();
}
// DevTools messages: JSON, each ended by a NUL byte.
let next = 1, received = '', waiting = new Map();
chromium.stdio[4].on('data', (chunk) => {
  const parts = (received + chunk).split('\0');
  received = parts.pop();
  for (const { id, result, error } of parts.map(JSON.parse)) waiting.get(id)?.(error ? Promise.reject(new Error(error.message)) : result);
});
const send = (method, params = {}, sessionId) => new Promise((resolve) => {
  waiting.set(next, resolve);
  chromium.stdio[3].write(JSON.stringify({ id: next++, method, params, sessionId }) + '\0');
});
const { sessionId } = await send('Target.attachToTarget', { targetId: (await send('Target.createTarget', { url: 'about:blank' })).targetId, flatten: true });
const page = (method, params) => send(method, params, sessionId);
// Runs an expression in the page (as after a click) and returns its value.
async function run(expression) {
  const { result, exceptionDetails } = await page('Runtime.evaluate', { expression, awaitPromise: true, returnByValue: true, userGesture: true });
  if (exceptionDetails) throw new Error(exceptionDetails.exception?.description ?? exceptionDetails.text);
  return result.value;
}
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
await page('Page.navigate', { url: `http://127.0.0.1:${server.address().port}/index.html` });
while (await run('document.readyState') !== 'complete') await sleep(50);

try {
  const song = path.join(web, 'vinto.xm');
  if (which === 'worklet') {
    // 10 s of vinto.xm through the worklet in an OfflineAudioContext, each float
    // times 32768 back to the 16-bit value it came from (exact, or reported):
    // in exact mode from the start, in complete mode from 28 s (a seek).
    const frames = 441000;
    for (const [mode, start] of [['exact', 0], ['complete', 28]]) {
      const got = await run(`(async () => {
        const [wasm, song] = await Promise.all(['vinto.wasm', 'vinto.xm'].map((u) => fetch(u).then((r) => r.arrayBuffer())));
        const context = new OfflineAudioContext(2, ${frames}, 44100);
        await context.audioWorklet.addModule('vinto-worklet.js');
        new AudioWorkletNode(context, 'vinto', { outputChannelCount: [2],
          processorOptions: { wasm, song, mode: '${mode}', frame: ${start * 44100}, play: true } }).connect(context.destination);
        const [left, right] = ((r) => [r.getChannelData(0), r.getChannelData(1)])(await context.startRendering());
        const float = (i) => [left, right][i & 1][i >> 1] * 32768;
        const pcm = Int16Array.from({ length: 2 * ${frames} }, (_, i) => float(i));
        return { pcm: [...pcm], inexact: pcm.filter((value, i) => value !== float(i)).length };
      })()`);
      assert.equal(got.inexact, 0, 'floats that are no 16-bit value / 32768');
      const native = execFileSync(nativeRender, ['--mode', mode, '--start', `${start}`, '--frames', `${frames}`, song, '-'],
        { maxBuffer: 1 << 26, stdio: ['ignore', 'pipe', 'ignore'] }).subarray(0, frames * 4);
      const first = got.pcm.findIndex((value, i) => value !== native.readInt16LE(2 * i));
      assert.equal(first, -1, `${mode}: 16-bit frames differ from frame ${first >> 1} on`);
      console.log(`worklet: ${frames} frames in ${mode} mode from ${start} s equal to the native render`);
    }
  } else {
    // Play the demo song, mute and unmute a channel, switch the mode, pause, resume: the page shows what it reports.
    const info = execFileSync(nativeRender, ['--info', song]).toString();
    const channels = Number(/channels +(\d+)/.exec(info)[1]), frames = Number(/\((\d+) frames/.exec(info)[1]);
    const state = () => run(`(($) => ({ ...$('position').dataset, text: $('position').textContent,
      play: $('play').textContent, title: $('title').textContent, status: $('status').textContent,
      fill: parseFloat($('fill').style.width), muted: [...$('channels').children].map((b) => b.classList.contains('muted')),
    }))((id) => document.getElementById(id))`);
    const waitFor = async (test) => { for (let p; ; await sleep(100)) if (test(p = await state())) return p; };
    // Clicks the n-th element that matches, then waits for a state that passes the test.
    const click = (id, n, test) => run(`document.querySelectorAll('${id}')[${n}].click()`).then(() => waitFor(test));
    const playing = await click('#play', 0, (p) => Number(p.ms) > 1500);
    assert.match(playing.text, new RegExp(`^order \\d+ · row \\d+ · 0:0[1-9]\\.\\d / ${/duration +(\d+:\d+\.\d)/.exec(info)[1]}$`));
    assert.match(playing.play, /Pause/);
    assert.match(playing.title, new RegExp(`^vinto · ${channels} channels`));
    assert.ok(Math.abs(playing.fill - 100 * playing.frame / frames) < 0.5 && playing.fill > 0, 'progress bar');
    assert.equal(playing.muted.length, channels, 'a mute button a channel');
    assert.deepEqual((await click('#channels button', 2, (p) => p.muted[2])).muted.flatMap((m, c) => (m ? [c] : [])), [2]);
    fs.mkdirSync(outDir, { recursive: true });
    const clip = await run('(({ x, y, width, height }) => ({ x: x - 16, y: y - 16, width: width + 32, height: height + 32, scale: 1 }))(document.querySelector("main").getBoundingClientRect())');
    const { data } = await page('Page.captureScreenshot', { format: 'png', clip });
    fs.writeFileSync(path.join(outDir, 'demo.png'), Buffer.from(data, 'base64'));
    const before = await click('#channels button', 2, (p) => !p.muted[2]);
    await run(`(($) => { $.value = 'exact'; $.onchange(); })(document.getElementById('mode'))`);
    await waitFor((p) => /exact mode/.test(p.status)).then(() => sleep(200));  // the reports of the song loaded anew
    assert.ok(Number((await state()).frame) >= Number(before.frame), 'the mode switch went on from where it was');
    await click('#play', 0, (p) => /Play/.test(p.play)).then(() => sleep(300));  // reports on their way arrive
    const paused = await state();
    await sleep(700);
    assert.deepEqual(await state(), paused, 'the position moved while paused');
    const resumed = await click('#play', 0, (p) => Number(p.frame) > Number(paused.frame) + 22050);
    assert.ok(Number(resumed.ms) >= Number(paused.ms), 'resumed where it paused');
    console.log(`demo: played to ${playing.text}, paused at frame ${paused.frame}, resumed to ${resumed.frame}`);
  }
  finish(0);
} catch (error) {
  console.error(error);
  finish(1);
}

// The demo page: one AudioWorkletNode plays the chosen song, or vinto.xm.
const $ = (id) => document.getElementById(id);
const wasm = fetch('vinto.wasm').then((response) => response.arrayBuffer());
let context, node, song, name, info, playing = false;

async function start() {
  context = new AudioContext({ sampleRate: 44100 });
  await context.audioWorklet.addModule('vinto-worklet.js');
  node = new AudioWorkletNode(context, 'vinto', { outputChannelCount: [2], processorOptions: { wasm: await wasm } });
  node.port.onmessage = ({ data }) => handlers[data.type]?.(data);
  node.connect(context.destination);
}

async function load(bytes, label) {
  [song, name] = [bytes, label];
  if (!node) await start();
  node.port.postMessage({ type: 'load', song: song.slice(0), mode: $('mode').value, play: playing });
}

function setPlaying(on) {
  playing = on;
  $('play').textContent = on ? '❚❚ Pause' : '▶ Play';
}

const clock = (ms) => `${Math.floor(ms / 60000)}:${(ms / 1000 % 60).toFixed(1).padStart(4, '0')}`;

const handlers = {
  loaded(data) {
    info = data.info;
    $('mode').value = data.mode;
    $('title').textContent = info?.title.trim() || name;
    $('status').textContent = `${name}: ${data.mode} mode`;
    const channels = $('channels');
    channels.textContent = data.features.mute ? '' : 'Channel mute: not available in this build.';
    for (let c = 0; data.features.mute && c < info.channels; c++) {
      const button = channels.appendChild(document.createElement('button'));
      button.textContent = c + 1;
      button.title = `mute channel ${c + 1}`;
      button.onclick = () => node.port.postMessage({ type: 'mute', channel: c, on: button.classList.toggle('muted') });
    }
  },
  position({ order, row, time, frame }) {
    const total = info ? ` / ${clock(info.durationMs)}` : '';
    $('position').textContent = `order ${order} · row ${row} · ${clock(time)}${total}`;
    Object.assign($('position').dataset, { order, row, time, frame });
    $('fill').style.width = info ? `${Math.min(100, 100 * frame / info.durationFrames)}%` : '0';
  },
  ended() { setPlaying(false); },
  error({ message, request }) {
    $('status').textContent = request === 'load' ? `${name}: ${message}` : message;
    if (request === 'load') setPlaying(false);
  },
};

$('play').onclick = async () => {
  setPlaying(!playing);
  if (!song) await load(await (await fetch('vinto.xm')).arrayBuffer(), 'vinto.xm');
  else node.port.postMessage({ type: playing ? 'play' : 'pause' });
  await context.resume();
};
$('mode').onchange = () => song && load(song, name);
$('file').onchange = async ({ target }) => target.files[0] && load(await target.files[0].arrayBuffer(), target.files[0].name);
$('bar').onclick = ({ offsetX, currentTarget }) => info && node.port.postMessage(
  { type: 'seek', frame: Math.floor(info.durationFrames * offsetX / currentTarget.clientWidth) });
const drop = $('drop');
drop.ondragover = (event) => { event.preventDefault(); drop.classList.add('over'); };
drop.ondragleave = () => drop.classList.remove('over');
drop.ondrop = async (event) => {
  event.preventDefault();
  drop.classList.remove('over');
  const file = event.dataTransfer.files[0];
  if (file) await load(await file.arrayBuffer(), file.name);
};

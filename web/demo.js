// The demo page: one AudioWorkletNode plays the chosen song, or vinto.xm.
const $ = (id) => document.getElementById(id);
const wasm = fetch('vinto.wasm').then((response) => response.arrayBuffer());
let context, node, song, name, info, playing = false, ended = false, frame = 0;

async function start() {
  context = new AudioContext({ sampleRate: 44100 });
  await context.audioWorklet.addModule('vinto-worklet.js');
  node = new AudioWorkletNode(context, 'vinto', { outputChannelCount: [2], processorOptions: { wasm: await wasm } });
  node.port.onmessage = ({ data }) => handlers[data.type]?.(data);
  node.connect(context.destination);
}

const post = (message) => node.port.postMessage(message);
const loops = () => ($('loop').checked ? 0 : 1);

// Loads bytes; from `at` (a frame) when the same song comes again in another mode.
async function load(bytes, label, at = 0) {
  [song, name] = [bytes, label];
  if (!node) await start();
  post({ type: 'load', song: song.slice(0), mode: $('mode').value, loops: loops(), frame: at, play: playing });
  post({ type: 'volume', gain: $('volume').value / 100 });
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
    $('title').textContent = `${info.title.trim() || name} · ${info.channels} channels · `
      + (info.durationFrames ? clock(info.durationMs) : 'no end');
    $('status').textContent = `${name}: ${data.mode} mode, ${info.orders} orders, ${info.instruments.length} instruments`
      + (data.warning ? ` (${data.warning})` : '');
    const channels = $('channels');
    channels.textContent = '';
    for (let c = 0; c < info.channels; c++) {
      const button = channels.appendChild(document.createElement('button'));
      button.textContent = c + 1;
      button.title = `mute channel ${c + 1}`;
      button.onclick = () => post({ type: 'mute', channel: c, on: !button.classList.contains('muted') });
    }
  },
  position(data) {
    ({ frame, ended } = data);
    const total = info.durationFrames ? ` / ${clock(info.durationMs)}` : '';
    $('position').textContent = `order ${data.order} · row ${data.row} · ${clock(data.ms)}${total}`;
    Object.assign($('position').dataset, { order: data.order, row: data.row, ms: data.ms, frame });
    $('fill').style.width = info.durationFrames ? `${Math.min(100, 100 * frame / info.durationFrames)}%` : '0';
    [...$('channels').children].forEach((button, c) => button.classList.toggle('muted', data.muted.includes(c)));
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
  else {
    if (playing && ended) post({ type: 'seek', frame: 0 });
    post({ type: playing ? 'play' : 'pause' });
  }
  await context.resume();
};
$('mode').onchange = () => song && load(song, name, frame);
$('loop').onchange = () => node && post({ type: 'loops', passes: loops() });
$('volume').oninput = () => node && post({ type: 'volume', gain: $('volume').value / 100 });
$('file').onchange = async ({ target }) => target.files[0] && load(await target.files[0].arrayBuffer(), target.files[0].name);
$('bar').onclick = ({ offsetX, currentTarget }) => info?.durationFrames && post(
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

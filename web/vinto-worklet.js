// The AudioWorklet processor 'vinto': the engine runs on the audio thread, in a
// context at 44100 Hz. Options { wasm (bytes or WebAssembly.Module), song?,
// mode?, loops?, play? }; the page posts { type: 'load', song, mode, loops,
// frame, play }, 'play', 'pause', 'seek' { frame | seconds | order, row },
// 'loops' { passes }, 'volume' { gain } and 'mute' { channel, on }, and hears
// 'loaded' (mode, song information, load warning), 'position' (about every
// 23 ms while playing and after each command), 'ended' and 'error'.
import { Vinto, SAMPLE_RATE } from './vinto.js';

const QUANTA_PER_REPORT = 8;

class VintoProcessor extends AudioWorkletProcessor {
  constructor({ processorOptions: options }) {
    super();
    this.vinto = Vinto.createSync(options.wasm);
    this.playing = false;
    this.quanta = 0;
    this.pcm = new Int16Array(256);  // one render quantum of 128 frames
    this.port.onmessage = ({ data }) => this.command(data);
    if (sampleRate !== SAMPLE_RATE) this.fail(`the context runs at ${sampleRate} Hz, vinto at ${SAMPLE_RATE} Hz`);
    if (options.song) this.command({ type: 'load', ...options });
  }

  command({ type, ...args }) {
    const v = this.vinto;
    try {
      if (type === 'load') {
        this.playing = false;
        v.load(args.song, { mode: args.mode });
        if (args.loops !== undefined) v.setLoops(args.loops);
        if (args.frame) v.seek({ frame: args.frame });  // where the page was, as when switching modes
        this.port.postMessage({ type: 'loaded', mode: v.mode, info: v.info, warning: v.warning });
        this.playing = !!args.play;
      } else if (type === 'play' || type === 'pause') {
        this.playing = type === 'play' && !!v.song && !v.ended;
      } else if (type === 'seek') {
        v.seek(args);
      } else if (type === 'loops') {
        v.setLoops(args.passes);
      } else if (type === 'volume') {
        v.volume = args.gain;
      } else if (type === 'mute') {
        v.mute(args.channel, args.on);
      }
    } catch (error) {
      this.fail(error.message, type);
    }
    this.report();
  }

  fail(message, request) {
    this.port.postMessage({ type: 'error', message, request });
  }

  report() {
    const v = this.vinto;
    if (!v.song) return;
    const muted = [];
    for (let c = 0; c < 32; c++) if (v.muted(c)) muted.push(c);
    this.port.postMessage({ type: 'position', ...v.position, playing: this.playing, ended: v.ended,
      passes: v.passes, volume: v.volume, muted });
  }

  process(inputs, outputs) {
    const [left, right] = outputs[0];
    let done = 0;
    if (this.playing) {
      if (this.pcm.length < left.length * 2) this.pcm = new Int16Array(left.length * 2);
      const pcm = this.vinto.render(left.length, this.pcm);
      done = pcm.length / 2;
      // Exact: every 16-bit value divided by 32768 is a float.
      for (let i = 0; i < done; i++) {
        left[i] = pcm[2 * i] / 32768;
        right[i] = pcm[2 * i + 1] / 32768;
      }
      if (done < left.length) {
        this.playing = false;
        this.port.postMessage({ type: 'ended' });
      }
      if (++this.quanta % QUANTA_PER_REPORT === 0 || !this.playing) this.report();
    }
    left.fill(0, done);
    right.fill(0, done);
    return true;
  }
}

registerProcessor('vinto', VintoProcessor);

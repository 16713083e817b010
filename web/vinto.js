// vinto in JavaScript: the WebAssembly engine behind one small class, for
// pages, AudioWorklets and Node.js alike. It needs no fetch, TextDecoder,
// performance, crypto or atob, which an AudioWorkletGlobalScope lacks.

export const SAMPLE_RATE = 44100;
export const MODES = ['exact', 'complete'];

// Engine calls that arrive with the library's controls, by feature. A method
// whose calls this wasm does not export throws "... not available in this build".
const FEATURES = {
  info: ['GetModuleTitle', 'GetModuleChannels', 'GetModuleOrders', 'GetModulePatterns',
    'GetModuleInstruments', 'GetInstrumentName', 'GetSongDurationMs', 'GetSongDurationFrames'],
  loops: ['SetPassCount', 'GetSongEnded'],
  frame: ['GetPlayFrame'],
  seek: ['SeekToFrame', 'SeekToOrder'],
  volume: ['SetMasterVolume'],
  mute: ['SetChannelMute'],
};

// The standalone wasm's only import; growth needs no action, views are made afresh.
const IMPORTS = { env: { emscripten_notify_memory_growth() {} } };

export class Vinto {
  // source: the wasm's bytes, a WebAssembly.Module, or a Response (or its promise).
  static async create(source) {
    source = await source;
    if (typeof source?.arrayBuffer === 'function') source = await source.arrayBuffer();
    if (!(source instanceof WebAssembly.Module)) source = await WebAssembly.compile(source);
    return new Vinto(await WebAssembly.instantiate(source, IMPORTS));
  }

  // The same at once, from bytes or a WebAssembly.Module (worklets, Node.js).
  static createSync(source) {
    const module = source instanceof WebAssembly.Module ? source : new WebAssembly.Module(source);
    return new Vinto(new WebAssembly.Instance(module, IMPORTS));
  }

  constructor(instance) {
    this.x = instance.exports;
    this.x._initialize?.();
    this.song = 0;  // the engine's Module*, 0 when none is loaded
    this.blockFrames = this.x.GetBlockFrames();
    this.pcm = this.x.malloc(this.blockFrames * 4);  // one block of 16-bit frames
    this.frame = 0;  // frames handed out since the load or the last seek
    this.carry = new Int16Array(0);  // the rest of the last block, not yet handed out
  }

  has(feature) {
    return FEATURES[feature].every((name) => typeof this.x[name] === 'function');
  }

  need(feature) {
    if (!this.has(feature)) throw new Error(`vinto: ${feature} is not available in this build`);
    if (!this.song) throw new Error('vinto: no song loaded');
  }

  // Loads an XM song (ArrayBuffer or typed array) in mode 'exact' or 'complete'
  // and starts rendering it from its start; throws the loader's reason.
  load(data, { mode = 'exact' } = {}) {
    const number = MODES.indexOf(mode);
    if (number < 0) throw new Error(`vinto: unknown mode ${mode}`);
    this.unload();
    const bytes = ArrayBuffer.isView(data)
      ? new Uint8Array(data.buffer, data.byteOffset, data.byteLength) : new Uint8Array(data);
    const x = this.x;
    const copy = x.malloc(Math.max(bytes.length, 1));
    if (!copy) throw new Error('out of memory');
    new Uint8Array(x.memory.buffer).set(bytes, copy);
    // The bytes are read during the call only.
    const song = x.LoadModuleFromMemory(copy, bytes.length, number);
    x.free(copy);
    if (!song) throw new Error(this.text(x.GetLoadError()) || 'cannot load it');
    if (!x.StartRendering(song)) {
      x.FreeModule(song);
      throw new Error('cannot be rendered (unplayable or out of memory)');
    }
    this.song = song;
    return this;
  }

  unload() {
    if (this.song) this.x.FreeModule(this.song);
    this.song = 0;
    this.frame = 0;
    this.carry = new Int16Array(0);
    this.gain = undefined;
  }

  // The next block exactly as the engine renders it: a view of its interleaved
  // 16-bit frames, valid until the next call; empty when the song has ended.
  renderBlock() {
    this.carry = new Int16Array(0);
    const block = this.nextBlock();
    this.frame += block.length / 2;
    return block;
  }

  nextBlock() {
    const frames = this.song ? this.x.RenderNextBlock(this.pcm, this.blockFrames) : 0;
    return new Int16Array(this.x.memory.buffer, this.pcm, frames * 2);
  }

  // The next `frames` frames, interleaved left first, into out (made when not
  // given); returns the part of out filled, shorter only at the song's end.
  render(frames, out = new Int16Array(frames * 2)) {
    let done = 0;
    while (done < frames) {
      if (!this.carry.length) {
        this.carry = this.nextBlock();
        if (!this.carry.length) break;
      }
      const take = Math.min(this.carry.length, (frames - done) * 2);
      out.set(this.carry.subarray(0, take), done * 2);
      this.carry = this.carry.subarray(take);
      done += take / 2;
    }
    this.frame += done;
    return out.subarray(0, done * 2);
  }

  // Where the song stands at the end of the last block rendered (order, row,
  // time in ms as the engine counts it), and frames handed out (`frame`).
  get position() {
    const x = this.x;
    const s = this.song;
    return { order: x.GetPlayOrder(s), row: x.GetPlayRow(s), time: x.GetPlayTime(s), frame: this.frame };
  }

  get mode() { return this.song ? MODES[this.x.GetModuleMode(this.song)] : undefined; }
  get passes() { return this.x.GetSongLoops(this.song); }       // passes completed so far
  get loopFrame() { return this.x.GetSongLoopFrame(this.song); }  // where in the last block one ended, or -1

  get info() {
    this.need('info');
    const x = this.x;
    const s = this.song;
    const instruments = [];
    for (let i = 0; i < x.GetModuleInstruments(s); i++) instruments.push(this.text(x.GetInstrumentName(s, i)));
    return {
      title: this.text(x.GetModuleTitle(s)), mode: this.mode, channels: x.GetModuleChannels(s),
      orders: x.GetModuleOrders(s), patterns: x.GetModulePatterns(s), instruments,
      durationMs: x.GetSongDurationMs(s), durationFrames: Number(x.GetSongDurationFrames(s)),
    };
  }

  // Passes to play before the song ends (Infinity: for ever).
  setLoops(passes) {
    this.need('loops');
    this.x.SetPassCount(this.song, passes === Infinity ? 0 : passes);
  }

  get ended() {
    this.need('loops');
    return !!this.x.GetSongEnded(this.song);
  }

  // To { frame }, { seconds } or { order, row }, exactly as if rendered there.
  seek({ frame, seconds, order, row = 0 }) {
    this.need('seek');
    this.carry = new Int16Array(0);
    if (order !== undefined) {
      if (!this.x.SeekToOrder(this.song, order, row)) throw new Error('vinto: no such order and row');
      this.need('frame');
      this.frame = Number(this.x.GetPlayFrame(this.song));
      return;
    }
    frame ??= Math.round(seconds * SAMPLE_RATE);
    if (!this.x.SeekToFrame(this.song, BigInt(frame))) throw new Error('vinto: cannot seek there');
    this.frame = frame;
  }

  // Master gain after mixing, 0..1 (1 keeps the exact output).
  set volume(gain) {
    this.need('volume');
    this.x.SetMasterVolume(this.song, gain);
    this.gain = gain;
  }

  get volume() { return this.gain ?? 1; }

  // Mutes (on) or unmutes channel 0.. of the song.
  mute(channel, on = true) {
    this.need('mute');
    this.x.SetChannelMute(this.song, channel, on);
  }

  // An engine text (8-bit, zero-terminated) as a string.
  text(address) {
    const heap = new Uint8Array(this.x.memory.buffer);
    let s = '';
    for (let i = address; address && heap[i]; i++) s += String.fromCharCode(heap[i]);
    return s;
  }
}

// vinto in JavaScript: the WebAssembly engine behind one small class, for
// pages, AudioWorklets and Node.js alike. It needs no fetch, TextDecoder,
// performance, crypto or atob, which an AudioWorkletGlobalScope lacks.

export const SAMPLE_RATE = 44100;
export const MODES = ['exact', 'complete'];

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
    this.warning = '';  // what the last load had to make up
    this.blockFrames = this.x.GetBlockFrames();
    this.pcm = this.x.malloc(this.blockFrames * 4);  // one block of 16-bit frames
    this.carry = new Int16Array(0);  // the rest of the last block, not yet handed out
  }

  // Loads an XM song (ArrayBuffer or typed array) in mode 'complete' (every
  // XM effect as FastTracker 2 plays it) or 'exact' (the engine's defined
  // subset) and starts rendering it from its start, for ever until setLoops
  // says otherwise; throws the loader's reason.
  load(data, { mode = 'complete' } = {}) {
    const number = MODES.indexOf(mode);
    if (number < 0) throw new Error(`vinto: unknown mode ${mode}`);
    this.unload();
    this.warning = '';
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
    this.warning = this.text(x.GetLoadWarning());
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
    this.carry = new Int16Array(0);
  }

  // The next block exactly as the engine renders it: a view of its interleaved
  // 16-bit frames, valid until the next call; shorter where the last pass ends
  // or after a seek into a block, empty once the song has ended.
  renderBlock() {
    this.carry = new Int16Array(0);
    return this.nextBlock();
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
    return out.subarray(0, done * 2);
  }

  // Order, row and song time (ms as the engine counts it, a little slow) at
  // the end of the last block rendered; frame: the engine's exact position
  // of the next frame handed out, counted from the song's start (seeks
  // included), and ms, whole milliseconds of it.
  get position() {
    const x = this.x;
    const s = this.song;
    const frame = Number(x.GetPlayPosition(s)) - this.carry.length / 2;
    return { order: x.GetPlayOrder(s), row: x.GetPlayRow(s), time: x.GetPlayTime(s), frame,
      ms: Math.floor(frame * 1000 / SAMPLE_RATE) };
  }

  get mode() { return this.song ? MODES[this.x.GetModuleMode(this.song)] : undefined; }
  get passes() { return this.x.GetSongLoops(this.song); }       // passes completed so far
  get loopFrame() { return this.x.GetSongLoopFrame(this.song); }  // where in the last block one ended, or -1

  get info() {
    const x = this.x;
    const s = this.need();
    const instruments = [];
    for (let i = 0; i < x.GetInstrumentCount(s); i++) instruments.push(this.text(x.GetInstrumentName(s, i)));
    return {
      title: this.text(x.GetSongTitle(s)), mode: this.mode, channels: x.GetChannelCount(s),
      orders: x.GetSongLength(s), patterns: x.GetPatternCount(s), instruments,
      linear: !!x.UsesLinearFrequencies(s),
      durationMs: x.GetSongDurationMs(s), durationFrames: Number(x.GetSongDurationFrames(s)),
    };
  }

  // Passes to play before the song ends (Infinity or 0: for ever, the default).
  setLoops(passes) {
    if (!this.x.SetPassCount(this.need(), passes === Infinity ? 0 : passes)) throw new Error('vinto: passes from 0');
  }

  get loops() { return this.x.GetPassCount(this.song) || Infinity; }

  // The last pass has ended and every frame of it has been handed out.
  get ended() { return !!this.x.HasSongEnded(this.song) && !this.carry.length; }

  // To { frame }, { seconds } or { order, row }, exactly as if rendered up to
  // there; beyond the last pass's end the song ends.
  seek({ frame, seconds, order, row = 0 }) {
    const s = this.need();
    this.carry = new Int16Array(0);
    if (order !== undefined) {
      if (!this.x.SeekToOrder(s, order, row)) throw new Error(`vinto: order ${order} row ${row} is never played`);
    } else {
      frame ??= Math.round(seconds * SAMPLE_RATE);
      if (!(frame >= 0) || !this.x.SeekToFrame(s, BigInt(frame))) throw new Error('vinto: cannot seek there');
    }
  }

  // Master gain applied to the mix, 0..1 (1, the default, keeps every sample).
  set volume(gain) {
    if (!this.x.SetMasterVolume(this.need(), gain)) throw new Error('vinto: volume from 0 to 1');
  }

  get volume() { return this.x.GetMasterVolume(this.song); }

  // Mutes (on) or unmutes channel 0.. of the song; its notes go on unheard.
  mute(channel, on = true) {
    if (!this.x.SetChannelMuted(this.need(), channel, on)) throw new Error(`vinto: no channel ${channel}`);
  }

  muted(channel) { return !!this.x.IsChannelMuted(this.song, channel); }

  need() {
    if (!this.song) throw new Error('vinto: no song loaded');
    return this.song;
  }

  // An engine text (8-bit, zero-terminated) as a string of those bytes.
  text(address) {
    const heap = new Uint8Array(this.x.memory.buffer);
    let s = '';
    for (let i = address; address && heap[i]; i++) s += String.fromCharCode(heap[i]);
    return s;
  }
}

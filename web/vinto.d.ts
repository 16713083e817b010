// Types of vinto.js, the WebAssembly engine's JavaScript module.

export const SAMPLE_RATE: 44100;
export const MODES: readonly ['exact', 'complete'];
/** complete: every XM effect as FastTracker 2 plays it; exact: the engine's defined subset. */
export type Mode = 'exact' | 'complete';

export interface Position {
  /** Order 0..255, row 0..255 and song time (ms as the engine counts it, a little slow) at the end of the last block rendered. */
  order: number;
  row: number;
  time: number;
  /** The next frame handed out, from the song's start (seeks included): exact. */
  frame: number;
  /** Whole milliseconds of frame. */
  ms: number;
}

export interface SongInfo {
  /** As stored, 8-bit characters (at most 20). */
  title: string;
  mode: Mode;
  /** 1..32 */
  channels: number;
  /** Entries of the order list, 1..256. */
  orders: number;
  patterns: number;
  /** Their names, at most 22 characters each. */
  instruments: string[];
  /** Linear frequencies (true) or Amiga periods. */
  linear: boolean;
  /** One pass through the song, to where it wraps back, exact; 0 when none ends within 30 minutes. */
  durationMs: number;
  durationFrames: number;
}

export class Vinto {
  /** Instantiates the engine from the wasm's bytes, a compiled module or a Response. */
  static create(source: BufferSource | WebAssembly.Module | Response | Promise<Response>): Promise<Vinto>;
  /** The same at once (AudioWorklets, Node.js). */
  static createSync(source: BufferSource | WebAssembly.Module): Vinto;
  /** 884: the frames of one engine block. */
  readonly blockFrames: number;
  /** Loads an XM song (mode 'complete' by default) and starts rendering it from its start, for ever; throws the loader's reason. */
  load(data: ArrayBuffer | ArrayBufferView, options?: { mode?: Mode }): this;
  /** What the last load had to make up (a file cut short, ...); '' when nothing. */
  readonly warning: string;
  unload(): void;
  /** The next frames, interleaved 16-bit stereo, left first; shorter only at the song's end. */
  render(frames: number, out?: Int16Array): Int16Array;
  /** The next block as the engine renders it (a view, valid until the next call). */
  renderBlock(): Int16Array;
  readonly position: Position;
  readonly mode: Mode | undefined;
  /** Passes through the song completed by rendering so far. */
  readonly passes: number;
  /** The frame of the last block at which a pass ended, or -1. */
  readonly loopFrame: number;
  readonly info: SongInfo;
  /** Passes to play before the song ends (Infinity or 0: for ever, the default). */
  setLoops(passes: number): void;
  readonly loops: number;
  /** The last pass has ended and all of it has been handed out. */
  readonly ended: boolean;
  /** Exactly as if rendered up to there; seconds are rounded to the nearest frame. */
  seek(to: { frame: number } | { seconds: number } | { order: number; row?: number }): void;
  /** Master gain applied to the mix, 0..1 (1 keeps every sample). */
  volume: number;
  /** Channel from 0; its notes go on unheard. */
  mute(channel: number, on?: boolean): void;
  muted(channel: number): boolean;
}

/** What the 'vinto' AudioWorkletProcessor (vinto-worklet.js) takes and says. */
export interface VintoProcessorOptions {
  wasm: ArrayBuffer | WebAssembly.Module;
  song?: ArrayBuffer;
  mode?: Mode;
  loops?: number;
  /** Where to start, as a seek there. */
  frame?: number;
  play?: boolean;
}
export type VintoCommand =
  | { type: 'load'; song: ArrayBuffer; mode?: Mode; loops?: number; frame?: number; play?: boolean }
  | { type: 'play' } | { type: 'pause' }
  | ({ type: 'seek' } & ({ frame: number } | { seconds: number } | { order: number; row?: number }))
  | { type: 'loops'; passes: number }
  | { type: 'volume'; gain: number }
  | { type: 'mute'; channel: number; on: boolean };
export type VintoReport =
  | { type: 'loaded'; mode: Mode; info: SongInfo; warning: string }
  | ({ type: 'position'; playing: boolean; ended: boolean; passes: number; volume: number; muted: number[] } & Position)
  | { type: 'ended' }
  | { type: 'error'; message: string; request?: string };

// Types of vinto.js, the WebAssembly engine's JavaScript module.

export const SAMPLE_RATE: 44100;
export const MODES: readonly ['exact', 'complete'];
export type Mode = 'exact' | 'complete';
/** Groups of engine calls a build may have; `has` tells. */
export type Feature = 'info' | 'loops' | 'frame' | 'seek' | 'volume' | 'mute';

export interface Position {
  /** Order 0..255, row 0..255 and song time (ms, the engine's count) at the end of the last block rendered. */
  order: number;
  row: number;
  time: number;
  /** Frames handed out since the load or the last seek. */
  frame: number;
}

export interface SongInfo {
  title: string;
  mode: Mode;
  channels: number;
  orders: number;
  patterns: number;
  instruments: string[];
  /** One pass through the song, to where it wraps back. */
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
  has(feature: Feature): boolean;
  /** Loads an XM song and starts rendering it from its start; throws the loader's reason. */
  load(data: ArrayBuffer | ArrayBufferView, options?: { mode?: Mode }): this;
  unload(): void;
  /** The next frames, interleaved 16-bit stereo, left first; shorter only at the song's end. */
  render(frames: number, out?: Int16Array): Int16Array;
  /** The next whole block as the engine renders it (a view, valid until the next call). */
  renderBlock(): Int16Array;
  readonly position: Position;
  readonly mode: Mode | undefined;
  /** Passes through the song completed by rendering so far. */
  readonly passes: number;
  /** The frame of the last block at which a pass ended, or -1. */
  readonly loopFrame: number;
  /** Needs 'info'. */
  readonly info: SongInfo;
  /** Passes to play before the song ends (Infinity: for ever). Needs 'loops'. */
  setLoops(passes: number): void;
  /** Needs 'loops'. */
  readonly ended: boolean;
  /** Exactly as if rendered up to there. Needs 'seek'. */
  seek(to: { frame: number } | { seconds: number } | { order: number; row?: number }): void;
  /** Master gain after mixing, 0..1. Needs 'volume' to set. */
  volume: number;
  /** Channel from 0. Needs 'mute'. */
  mute(channel: number, on?: boolean): void;
}

/** What the 'vinto' AudioWorkletProcessor (vinto-worklet.js) takes and says. */
export interface VintoProcessorOptions {
  wasm: ArrayBuffer | WebAssembly.Module;
  song?: ArrayBuffer;
  mode?: Mode;
  play?: boolean;
}
export type VintoCommand =
  | { type: 'load'; song: ArrayBuffer; mode?: Mode; play?: boolean }
  | { type: 'play' } | { type: 'pause' }
  | ({ type: 'seek' } & ({ frame: number } | { seconds: number } | { order: number; row?: number }))
  | { type: 'loops'; passes: number }
  | { type: 'volume'; gain: number }
  | { type: 'mute'; channel: number; on: boolean };
export type VintoReport =
  | { type: 'loaded'; mode: Mode; info: SongInfo | null; features: Record<Exclude<Feature, 'frame'>, boolean> }
  | ({ type: 'position'; playing: boolean } & Position)
  | { type: 'ended' }
  | { type: 'error'; message: string; request?: string };

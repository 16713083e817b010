#!/usr/bin/env node
// vinto-render in Node.js: the native tool's command line, messages, exit
// statuses and file handling, and the same bytes, rendered by the WebAssembly
// engine.
import fs from 'node:fs';
import { once } from 'node:events';
import { Vinto, MODES, SAMPLE_RATE } from './vinto.js';

const CAP_FRAMES = 30 * 60 * SAMPLE_RATE;  // once through: at most 30 minutes
const MAX_FRAMES = 2n ** 40n;  // far beyond any sensible request
const WAV_MAX_DATA_BYTES = 0xFFFFFFFF - 36;
const BLOCKS_PER_WRITE = 64;

const USAGE = `usage: vinto-render [--mode exact|complete] [--frames N | --seconds S] [--sync FILE.csv]
         [--loops N] [--start TIME | --start-order N[:ROW]] [--mute LIST] [--volume V]
         INPUT.xm OUTPUT
       vinto-render [--mode exact|complete] --info INPUT.xm
       vinto-render --help | --version
`;
const HELP = `Renders an XM module to 16-bit stereo PCM at 44100 Hz.

OUTPUT  a path ending in .wav gets a WAV file; one ending in .raw or .pcm,
        or without an extension, raw signed 16-bit little-endian interleaved
        stereo (left first); '-' the same raw bytes on standard output. Other
        extensions (.mp3, .flac, ...) are refused. OUTPUT is never the input.
        A new or existing regular file is written beside its place and
        renamed over it at the end; a symbolic link's target is written that
        way; a device or FIFO is written in place (a WAV header first, so
        without --frames or --seconds the song is rendered twice: once to
        count its frames).

  --mode M        replay mode: complete (the default) plays every XM effect as
                  FastTracker 2 plays it; exact plays the engine's defined
                  subset to the bit, as the player program vinto does
  --frames N      render whole 884-frame blocks until at least N frames exist
                  and write exactly those blocks
  --seconds S     the same with N = ceil(S x 44100); S is a decimal number
                  (without either, the song is rendered once through: up to
                  the frame where it wraps back to its restart position, or
                  to order 0 by a pattern break on its last order, at most
                  30 minutes)
  --sync FILE.csv write one line per rendered block after the header
                  'block,order,row,time_ms': the block number from 0 and the
                  order, row and song time reached at the end of the block
  --loops N       N passes through the song instead of one (N from 1); with
                  --frames or --seconds, at most N passes
  --start TIME    start at TIME into the song: seconds (95.5) or minutes and
                  seconds (1:35.5); the frames are exactly those rendering
                  from the start gives there
  --start-order N[:ROW]
                  start where the song first plays order N, row ROW (both
                  from 0, ROW 0 when left out)
  --mute LIST     channels not to hear, from 1: for example 1,4-6
  --volume V      master volume, a decimal number 0..1 (1, the default,
                  leaves every sample as it is)
  --info          print the title, channels, orders, patterns, instruments
                  with their names, frequency table and the duration of one
                  pass; render nothing
  --help          show this text
  --version       show the version

A closing line on standard error tells the frames and seconds rendered, the
wall time and how many times faster than real time it ran; a file that ends
early gives a warning there. On failure the exit status is 1 (2 for a bad
command line) and no OUTPUT file is left (a device or FIFO keeps what it got).
`;

class Failure extends Error {}

const say = (text) => process.stderr.write(`vinto-render: ${text}\n`);

function usageError(message, argument) {
  say(`${message}${argument !== undefined ? `: ${argument}` : ''}\n${USAGE}`.slice(0, -1));
  return 2;
}

// A Node.js file error in the words of the C library's strerror.
const STRERROR = { EISDIR: 'Is a directory', EPIPE: 'Broken pipe', ELOOP: 'Too many levels of symbolic links',
  EEXIST: 'File exists', EXDEV: 'Invalid cross-device link', ETXTBSY: 'Text file busy', EIO: 'Input/output error',
  ENAMETOOLONG: 'File name too long', EBUSY: 'Device or resource busy' };
function reason(error) {
  if (STRERROR[error.code]) return STRERROR[error.code];
  const text = /^\w+: (.*?)(, |$)/.exec(error.message)?.[1] ?? error.message;
  return text[0].toUpperCase() + text.slice(1);
}

// ---- numbers on the command line ---------------------------------------------

// Digits only, 0..limit; undefined otherwise.
function whole(text, limit) {
  if (!/^\d+$/.test(text)) return undefined;
  const value = BigInt(text);
  return value <= BigInt(limit) ? Number(value) : undefined;
}

// ceil(S x 44100) for a decimal S, exact for any number of digits.
function secondsToFrames(text, allowZero = false) {
  const parts = /^(\d*)(?:\.(\d*))?$/.exec(text);
  const digits = parts ? parts[1] + (parts[2] ?? '') : '';
  if (!digits) return undefined;
  const scale = 10n ** BigInt((parts[2] ?? '').length);
  const value = (BigInt(digits) * BigInt(SAMPLE_RATE) + scale - 1n) / scale;
  return (value > 0n || allowZero) && value <= MAX_FRAMES ? Number(value) : undefined;
}

// Seconds, or minutes and seconds M:SS[.fraction].
function startTime(text) {
  const colon = text.indexOf(':');
  const minutes = colon < 0 ? 0 : whole(text.slice(0, colon), 100000);
  const frames = minutes === undefined ? undefined : secondsToFrames(text.slice(colon + 1), true);
  const value = frames === undefined ? undefined : frames + minutes * 60 * SAMPLE_RATE;
  return value <= Number(MAX_FRAMES) ? value : undefined;
}

// N or N:ROW, both from 0.
function orderRow(text) {
  const [order, row, extra] = text.split(':');
  const o = whole(order, 255), r = row === undefined ? 0 : whole(row, 255);
  return o === undefined || r === undefined || extra !== undefined ? undefined : [o, r];
}

// Channels from 1, single or as ranges: 1,4-6.
function channels(text) {
  const list = [];
  for (const item of text.split(',')) {
    const dash = item.indexOf('-');
    const first = whole(dash < 0 ? item : item.slice(0, dash), 32);
    const last = whole(dash < 0 ? item : item.slice(dash + 1), 32);
    if (!(first >= 1 && last >= first)) return undefined;
    for (let c = first; c <= last; c++) list.push(c);
  }
  return list;
}

function parse(argv) {
  const o = { mode: 'complete', mute: [], positional: [] };
  for (let i = 0; i < argv.length; i++) {
    const arg = argv[i];
    if (arg === '--help' || arg === '-h') {
      process.stdout.write(USAGE + HELP);
      return 0;
    }
    if (arg === '--version') {
      const { version } = JSON.parse(fs.readFileSync(new URL('./package.json', import.meta.url)));
      process.stdout.write(`vinto-render ${version}\n`);
      return 0;
    }
    if (arg === '--info') {
      o.info = true;
    } else if (['--loops', '--start', '--start-order', '--mute', '--volume'].includes(arg)) {
      if (i + 1 >= argv.length) return usageError('missing value after', arg);
      const value = argv[++i];
      let ok;
      if (arg === '--loops') {
        o.loops = whole(value, 1000000);
        ok = o.loops >= 1;
      } else if (arg === '--start' || arg === '--start-order') {
        ok = o.start === undefined && o.startOrder === undefined;
        if (arg === '--start') o.start = startTime(value) ?? -1;
        else o.startOrder = orderRow(value) ?? -1;
        ok &&= (o.start ?? o.startOrder) !== -1;
      } else if (arg === '--mute') {
        const list = channels(value);
        ok = list !== undefined;
        o.mute.push(...(list ?? []));
      } else {
        o.volume = secondsToFrames(value, true) <= SAMPLE_RATE ? Number(value) : undefined;
        ok = o.volume !== undefined;
      }
      if (!ok) return usageError(`${value}: not a valid value for ${arg} (at most one start)`);
    } else if (['--frames', '--seconds', '--sync', '--mode'].includes(arg)) {
      if (i + 1 >= argv.length) return usageError('missing value after', arg);
      const value = argv[++i];
      if (arg === '--mode') {
        if (!MODES.includes(value)) return usageError('--mode needs exact or complete', value);
        o.mode = value;
      } else if (arg === '--sync') {
        if (o.sync !== undefined) return usageError('--sync given twice');
        if (!value || value === '-') return usageError('--sync needs a file name');
        o.sync = value;
      } else {
        if (o.frames !== undefined) return usageError('give at most one of --frames and --seconds');
        o.frames = arg === '--frames' ? whole(value, MAX_FRAMES) || undefined : secondsToFrames(value);
        if (o.frames === undefined) {
          return usageError(arg === '--frames' ? '--frames needs a whole number of frames above 0'
            : '--seconds needs a decimal number of seconds above 0', value);
        }
      }
    } else if (arg === '--') {
      o.positional.push(...argv.slice(i + 1));
      break;
    } else if (arg[0] === '-' && arg.length > 1) {
      return usageError('unknown option', arg);
    } else {
      o.positional.push(arg);
    }
  }
  return o;
}

// ---- the song -------------------------------------------------------------------

// Loads INPUT; a file that ends early loads, with a warning.
function loadInput(vinto, input, mode) {
  let bytes;
  try {
    bytes = fs.readFileSync(input);
  } catch (error) {
    throw new Failure(`${input}: cannot open the file (${reason(error)})`);
  }
  try {
    vinto.load(bytes, { mode });
  } finally {
    if (vinto.warning) say(`${input}: warning: ${vinto.warning}`);
  }
  return bytes;
}

// Applies the controls of the command line to the rendering just started.
function applyControls(vinto, o) {
  vinto.setLoops(o.loops ?? (o.frames !== undefined ? 0 : 1));  // once through unless told otherwise
  for (const channel of o.mute) {
    try {
      vinto.mute(channel - 1);
    } catch {
      throw new Error(`no channel ${channel} (the song has ${vinto.info.channels})`);
    }
  }
  if (o.volume !== undefined) vinto.volume = o.volume;
  if (o.start !== undefined) vinto.seek({ frame: o.start });
  if (o.startOrder !== undefined) {
    try {
      vinto.seek({ order: o.startOrder[0], row: o.startOrder[1] });
    } catch {
      throw new Error(`order ${o.startOrder[0]} row ${o.startOrder[1]} is never played`);
    }
  }
}

function printInfo(vinto) {
  const { title, channels, orders, patterns, instruments, linear, durationMs: ms, durationFrames } = vinto.info;
  const two = (n) => String(n).padStart(2, '0');
  const lines = [`title        ${title}`, `channels     ${channels}`, `orders       ${orders}`,
    `patterns     ${patterns}`, `instruments  ${instruments.length}`, `frequencies  ${linear ? 'linear' : 'Amiga'}`,
    durationFrames ? `duration     ${Math.floor(ms / 60000)}:${two(Math.floor(ms / 1000) % 60)}.${String(ms % 1000).padStart(3, '0')} (${durationFrames} frames)`
      : 'duration     no end within 30 minutes',
    ...instruments.map((name, i) => `instrument ${String(i + 1).padStart(3)}  ${name}`)];
  process.stdout.write(Buffer.from(lines.join('\n') + '\n', 'latin1'));  // the file's own bytes
}

// ---- output files -----------------------------------------------------------------
//
// OUTPUT and the position file are never the input. A new file, or an existing
// regular file the user may write, is written beside its place and renamed
// over it at the end, keeping an existing file's permissions: a failure leaves
// nothing behind. A symbolic link is followed and its target written that way.
// An existing file that is no regular file (a device, a FIFO) is written in place.

const statOf = (path) => fs.statSync(path, { bigint: true, throwIfNoEntry: false });

// Where path's bytes would go ({ path, info of what exists there }); throws
// what a plain open would refuse.
function resolve(name) {
  const out = { name, path: name, info: statOf(name) };  // through any links, as an open would
  if (out.info?.isDirectory()) throw Object.assign(new Error(), { code: 'EISDIR' });
  if (out.info && !out.info.isFile()) return out;
  // A regular file, or a new one: the name behind the links is replaced.
  for (let links = 0; ; links++) {
    if (links === 40) throw Object.assign(new Error(), { code: 'ELOOP' });
    if (!fs.lstatSync(out.path, { throwIfNoEntry: false })?.isSymbolicLink()) break;
    const target = fs.readlinkSync(out.path);
    const slash = out.path.lastIndexOf('/');
    out.path = target[0] === '/' || slash < 0 ? target : out.path.slice(0, slash + 1) + target;
  }
  if (out.info) fs.closeSync(fs.openSync(out.path, fs.constants.O_WRONLY));  // may this user write it?
  return out;
}

const inPlace = (out) => out.info && !out.info.isFile();
const sameFile = (out, info) => !!out.info && !!info && out.info.dev === info.dev && out.info.ino === info.ino;

// Opens a resolved output: in place, or as a new file beside it.
function open(out) {
  const { O_WRONLY, O_NOCTTY } = fs.constants;
  if (inPlace(out)) {
    out.fd = fs.openSync(out.path, O_WRONLY | O_NOCTTY);
    return;
  }
  const letters = 'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789';
  for (let tries = 0; out.fd === undefined; tries++) {
    const temporary = `${out.path}.partial-${Array.from({ length: 6 }, () => letters[Math.floor(Math.random() * 62)]).join('')}`;
    try {
      out.fd = fs.openSync(temporary, 'wx', 0o666);
      out.temporary = temporary;
    } catch (error) {
      if (error.code !== 'EEXIST' || tries === 100) throw error;
    }
  }
  if (!out.info) return;
  // The permissions of the file it replaces, and its owner for root (best effort).
  fs.fchmodSync(out.fd, Number(out.info.mode) & 0o777);
  if (process.geteuid?.() === 0) {
    try { fs.fchownSync(out.fd, Number(out.info.uid), Number(out.info.gid)); } catch {}
  }
}

// Every byte, also where a pipe or device takes fewer at a time.
function writeAll(fd, bytes, position) {
  for (let done = 0; done < bytes.length;) {
    done += fs.writeSync(fd, bytes, done, bytes.length - done, position === undefined ? null : position + done);
  }
}

function discard(out) {
  if (out?.fd !== undefined) fs.closeSync(out.fd);
  if (out?.temporary) fs.rmSync(out.temporary, { force: true });
  if (out) out.fd = out.temporary = undefined;
}

function wavHeader(dataBytes) {
  const header = Buffer.alloc(44);
  header.write('RIFF', 0);
  header.writeUInt32LE((36 + dataBytes) >>> 0, 4);
  header.write('WAVEfmt ', 8);
  header.writeUInt32LE(16, 16);               // format chunk size
  header.writeUInt16LE(1, 20);                // PCM
  header.writeUInt16LE(2, 22);                // channels
  header.writeUInt32LE(SAMPLE_RATE, 24);      // frames per second
  header.writeUInt32LE(SAMPLE_RATE * 4, 28);  // bytes per second
  header.writeUInt16LE(4, 32);                // bytes per frame
  header.writeUInt16LE(16, 34);               // bits per sample
  header.write('data', 36);
  header.writeUInt32LE(dataBytes >>> 0, 40);
  return header;
}

// ---- rendering --------------------------------------------------------------------

// Renders what the options ask for from where the song stands, handing every
// block's frames (the last one maybe cut) to write. Returns the frames and
// whether 30 minutes cut a song that never wrapped back.
async function renderSong(vinto, o, input, write) {
  let written = 0, capped = false;
  for (let block = 0; ; block++) {
    if (o.frames !== undefined && written >= o.frames) break;
    const frames = vinto.renderBlock();
    let count = frames.length / 2;
    if (!count) {
      if (vinto.ended) break;  // the last pass (or the song from --start) has ended
      throw new Failure(`${input}: rendering stopped unexpectedly`);
    }
    let last = false;
    if (o.frames === undefined && count >= CAP_FRAMES - written) {
      capped = count > CAP_FRAMES - written || !vinto.ended;
      count = CAP_FRAMES - written;
      last = true;
    }
    if (count > 0) {
      await write(frames.subarray(0, count * 2), block);
      written += count;
    }
    if (last) break;
  }
  return { written, capped };
}

async function main(argv) {
  const o = parse(argv);
  if (typeof o === 'number') return o;
  const vinto = Vinto.createSync(fs.readFileSync(new URL('./vinto.wasm', import.meta.url)));
  const [input, output] = o.positional;
  let pcm, sync;
  try {
    if (o.info) {
      if (o.positional.length !== 1) return usageError('--info takes INPUT.xm alone');
      try {
        loadInput(vinto, input, o.mode);
      } catch (error) {
        throw new Failure(error instanceof Failure ? error.message : `${input}: ${error.message}`);
      }
      printInfo(vinto);
      return 0;
    }
    if (o.positional.length !== 2) return usageError('expected INPUT.xm and OUTPUT');
    const toStdout = output === '-';
    const name = output.slice(output.lastIndexOf('/') + 1);
    const extension = toStdout || name.lastIndexOf('.') <= 0 ? '' : name.slice(name.lastIndexOf('.') + 1).toLowerCase();
    const wav = extension === 'wav';
    const lengthFrames = Math.ceil((o.frames ?? 0) / vinto.blockFrames) * vinto.blockFrames;

    // Where the bytes would go, checked before anything is read or written.
    const inputInfo = (() => { try { return statOf(input); } catch {} })();
    if (inputInfo?.isDirectory()) throw new Failure(`${input}: is a directory`);
    const resolveOrFail = (path) => {
      try {
        return resolve(path);
      } catch (error) {
        throw new Failure(`${path}: cannot write: ${reason(error)}`);
      }
    };
    pcm = toStdout ? { name: 'standard output', stdout: true } : resolveOrFail(output);
    if (o.sync !== undefined) sync = resolveOrFail(o.sync);
    for (const out of [pcm, sync]) {
      if (out && sameFile(out, inputInfo)) throw new Failure(`${out.name}: is the input file (${input}); refusing to write over it`);
    }
    if (wav === false && !['', 'raw', 'pcm'].includes(extension)) {
      return usageError('OUTPUT ends in an extension it cannot write (.wav gives WAV; .raw, .pcm or none raw PCM)', output);
    }
    if (sync && (sync.path === pcm.path || sameFile(sync, pcm.info))) return usageError('--sync and OUTPUT name the same file');
    if (wav && lengthFrames * 4 > WAV_MAX_DATA_BYTES) return usageError('too long for a WAV file (at most 4 GiB of data)');

    // The song and the controls checked before any file is made.
    const start = (() => {
      let song;
      return () => {
        try {
          if (song) vinto.load(song, { mode: o.mode });
          else song = loadInput(vinto, input, o.mode);
          applyControls(vinto, o);
        } catch (error) {
          throw new Failure(error instanceof Failure ? error.message : `${input}: ${error.message}`);
        }
      };
    })();
    start();

    // A WAV header written in place cannot be rewritten: its size comes first.
    let wavFrames = lengthFrames;
    if (wav && inPlace(pcm) && o.frames === undefined) {
      wavFrames = (await renderSong(vinto, o, input, () => {})).written;
      start();
    }
    const cannotWrite = (out) => (error) => { throw new Failure(`${out.name}: cannot write: ${reason(error)}`); };
    for (const out of [pcm, sync]) {
      try {
        if (out && !out.stdout) open(out);
      } catch (error) {
        cannotWrite(out)(error);
      }
    }
    let stdoutError;
    if (pcm.stdout) process.stdout.on('error', (error) => { stdoutError = error; });
    const write = async (bytes) => {
      if (!pcm.stdout) return writeAll(pcm.fd, bytes);
      if (!process.stdout.write(bytes)) await once(process.stdout, 'drain');
      if (stdoutError) throw stdoutError;
    };

    const pending = [wav ? wavHeader(wavFrames * 4) : Buffer.alloc(0)];  // rewritten at the end unless in place
    const lines = ['block,order,row,time_ms\n'];
    const flush = async () => {
      await write(Buffer.concat(pending)).catch(cannotWrite(pcm));
      try {
        if (sync) writeAll(sync.fd, Buffer.from(lines.join('')));
      } catch (error) {
        cannotWrite(sync)(error);
      }
      pending.length = lines.length = 0;
    };
    const started = process.hrtime.bigint();
    const { written, capped } = await renderSong(vinto, o, input, async (frames, block) => {
      // A copy: the frames are a view of the engine's memory. Little-endian, as wasm is.
      pending.push(Buffer.from(new Uint8Array(frames.buffer, frames.byteOffset, frames.byteLength)));
      if (sync) {
        const { order, row, time } = vinto.position;
        lines.push(`${block},${order},${row},${time}\n`);
      }
      if (pending.length >= BLOCKS_PER_WRITE) await flush();
    });
    await flush();
    const wall = Number(process.hrtime.bigint() - started) / 1e9;

    try {
      if (wav && !inPlace(pcm)) writeAll(pcm.fd, wavHeader(written * 4), 0);
      if (pcm.stdout) await new Promise((resolve, reject) => process.stdout.write('', (e) => (e ? reject(e) : resolve())));
      else fs.closeSync(pcm.fd);
      pcm.fd = undefined;
    } catch (error) {
      cannotWrite(pcm)(error);
    }
    try {
      if (sync) fs.closeSync(sync.fd);
      if (sync) sync.fd = undefined;
      // Into place: the position file first, so that a failure leaves neither.
      if (sync?.temporary) fs.renameSync(sync.temporary, sync.path);
      if (sync) sync.temporary = undefined;
    } catch (error) {
      cannotWrite(sync)(error);
    }
    try {
      if (pcm.temporary) fs.renameSync(pcm.temporary, pcm.path);
      pcm.temporary = undefined;
    } catch (error) {
      if (sync && !inPlace(sync)) fs.rmSync(sync.path, { force: true });
      cannotWrite(pcm)(error);
    }
    vinto.unload();
    if (capped) say(`${input} did not wrap back within 30 minutes; stopped there`);
    const seconds = written / SAMPLE_RATE;
    say(`${written} frames, ${seconds.toFixed(3)} s of audio in ${wall.toFixed(3)} s wall time, `
      + `${(wall > 0 ? seconds / wall : 0).toFixed(1)}x real time`);
    return 0;
  } catch (error) {
    if (!(error instanceof Failure)) throw error;
    say(error.message);
    discard(pcm);
    discard(sync);
    return 1;
  }
}

process.exitCode = await main(process.argv.slice(2));

#!/usr/bin/env node
// vinto-render in Node.js: the native tool's command line, messages and exit
// statuses, and the same bytes, rendered by the WebAssembly engine.
import fs from 'node:fs';
import { once } from 'node:events';
import { Vinto, MODES, SAMPLE_RATE } from './vinto.js';

const CAP_FRAMES = 30 * 60 * SAMPLE_RATE;  // once through: at most 30 minutes
const MAX_FRAMES = 2 ** 40;
const WAV_MAX_DATA_BYTES = 0xFFFFFFFF - 36;
const BLOCKS_PER_WRITE = 64;
// Follows the native tool, which renders exact only so far; `complete` once
// the complete replay is the native default.
const DEFAULT_MODE = 'exact';

const USAGE = 'usage: vinto-render [--mode exact|complete] [--frames N | --seconds S] [--sync FILE.csv] INPUT.xm OUTPUT\n';
const HELP = `Renders an XM module to 16-bit stereo PCM at 44100 Hz.

OUTPUT  a path ending in .wav gets a WAV file; '-' writes raw signed 16-bit
        little-endian interleaved stereo (left first) to standard output;
        any other path gets the same raw bytes.

  --mode M        the replay mode: exact (the default; what the player program
                  plays) or complete (every XM effect, where this build has it)
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
  --help          show this text

A closing line on standard error tells the frames and seconds rendered, the
wall time and how many times faster than real time it ran. On failure the
exit status is 1 (2 for a bad command line) and no OUTPUT file is left.
`;

class Failure extends Error {}

function usageError(message, argument) {
  process.stderr.write(`vinto-render: ${message}${argument !== undefined ? `: ${argument}` : ''}\n${USAGE}`);
  return 2;
}

// The system's text for a Node.js file error, as strerror words it.
function reason(error) {
  const own = { EISDIR: 'Is a directory', EPIPE: 'Broken pipe' }[error.code];
  if (own) return own;
  const text = /^\w+: (.*?), \w+/.exec(error.message)?.[1] ?? error.message;
  return text[0].toUpperCase() + text.slice(1);
}

function parseFrames(text) {
  if (!/^\d+$/.test(text)) return undefined;
  const digits = text.replace(/^0+(?=\d)/, '');
  const value = Number(digits.length > 14 ? MAX_FRAMES + 1 : digits);
  return value > 0 && value <= MAX_FRAMES ? value : undefined;
}

// ceil(S x 44100), exact for any number of digits.
function parseSeconds(text) {
  const parts = /^(\d*)(?:\.(\d*))?$/.exec(text);
  if (!parts || !(parts[1] + (parts[2] ?? ''))) return undefined;
  const scale = 10n ** BigInt((parts[2] ?? '').length);
  const value = (BigInt(parts[1] + (parts[2] ?? '')) * BigInt(SAMPLE_RATE) + scale - 1n) / scale;
  return value > 0n && value <= BigInt(MAX_FRAMES) ? Number(value) : undefined;
}

// A file written beside its final name and renamed into place when complete.
function createBeside(path) {
  const temporary = `${path}.partial-${Math.random().toString(36).slice(2, 8).padEnd(6, '0')}`;
  try {
    return { path, temporary, fd: fs.openSync(temporary, 'wx', 0o666) };
  } catch (error) {
    throw new Failure(`${path}: cannot write: ${reason(error)}`);
  }
}

function discard(file) {
  if (file?.fd !== undefined) fs.closeSync(file.fd);
  if (file?.temporary) fs.rmSync(file.temporary, { force: true });
}

function wavHeader(dataBytes) {
  const header = Buffer.alloc(44);
  header.write('RIFF', 0);
  header.writeUInt32LE(36 + dataBytes, 4);
  header.write('WAVEfmt ', 8);
  header.writeUInt32LE(16, 16);               // format chunk size
  header.writeUInt16LE(1, 20);                // PCM
  header.writeUInt16LE(2, 22);                // channels
  header.writeUInt32LE(SAMPLE_RATE, 24);      // frames per second
  header.writeUInt32LE(SAMPLE_RATE * 4, 28);  // bytes per second
  header.writeUInt16LE(4, 32);                // bytes per frame
  header.writeUInt16LE(16, 34);               // bits per sample
  header.write('data', 36);
  header.writeUInt32LE(dataBytes, 40);
  return header;
}

async function main(argv) {
  const positional = [];
  let frames, mode, syncPath;
  for (let i = 0; i < argv.length; i++) {
    const arg = argv[i];
    if (arg === '--help' || arg === '-h') {
      process.stdout.write(USAGE + HELP);
      return 0;
    }
    if (['--frames', '--seconds', '--sync', '--mode'].includes(arg)) {
      if (i + 1 >= argv.length) return usageError('missing value after', arg);
      const value = argv[++i];
      if (arg === '--sync') {
        if (syncPath !== undefined) return usageError('--sync given twice');
        if (!value || value === '-') return usageError('--sync needs a file name');
        syncPath = value;
      } else if (arg === '--mode') {
        if (mode !== undefined) return usageError('--mode given twice');
        if (!MODES.includes(value)) return usageError('--mode needs exact or complete', value);
        mode = value;
      } else {
        if (frames !== undefined) return usageError('give at most one of --frames and --seconds');
        frames = arg === '--frames' ? parseFrames(value) : parseSeconds(value);
        if (frames === undefined) {
          return usageError(arg === '--frames' ? '--frames needs a whole number of frames above 0'
            : '--seconds needs a decimal number of seconds above 0', value);
        }
      }
    } else if (arg === '--') {
      positional.push(...argv.slice(i + 1));
      break;
    } else if (arg[0] === '-' && arg.length > 1) {
      return usageError('unknown option', arg);
    } else {
      positional.push(arg);
    }
  }
  if (positional.length !== 2) return usageError('expected INPUT.xm and OUTPUT');
  const [input, output] = positional;
  const toStdout = output === '-';
  const wav = !toStdout && output.toLowerCase().endsWith('.wav');
  if (syncPath !== undefined && syncPath === output) return usageError('--sync and OUTPUT name the same file');

  const vinto = Vinto.createSync(fs.readFileSync(new URL('./vinto.wasm', import.meta.url)));
  const blockFrames = vinto.blockFrames;
  const blocksWanted = frames === undefined ? Infinity : Math.ceil(frames / blockFrames);
  if (wav && frames !== undefined && blocksWanted * blockFrames * 4 > WAV_MAX_DATA_BYTES) {
    return usageError('too long for a WAV file (at most 4 GiB of data)');
  }

  let pcm, sync;
  try {
    let song;
    try {
      song = fs.readFileSync(input);
    } catch (error) {
      throw new Failure(`${input}: cannot open the file (${reason(error)})`);
    }
    try {
      vinto.load(song, { mode: mode ?? DEFAULT_MODE });
    } catch (error) {
      throw new Failure(`${input}: ${error.message}`);
    }
    pcm = toStdout ? { fd: undefined } : createBeside(output);
    if (syncPath !== undefined) sync = createBeside(syncPath);
    const pcmName = toStdout ? 'standard output' : output;
    const cannotWrite = (error) => new Failure(`${pcmName}: cannot write: ${reason(error)}`);
    const write = async (bytes) => {
      if (!toStdout) return fs.writeSync(pcm.fd, bytes);
      if (!process.stdout.write(bytes)) await once(process.stdout, 'drain');
    };
    let stdoutError;
    process.stdout.on('error', (error) => { stdoutError = error; });

    if (wav) fs.writeSync(pcm.fd, wavHeader(0));  // sizes filled in at the end
    const syncLines = ['block,order,row,time_ms\n'];
    const pending = [];
    let written = 0;
    let block = 0;
    let capped = false;
    const started = process.hrtime.bigint();
    for (;;) {
      if (block >= blocksWanted) break;
      const rendered = vinto.renderBlock();
      let count = rendered.length / 2;
      if (!count) throw new Failure(`${input}: rendering stopped unexpectedly`);
      let last = false;
      if (blocksWanted === Infinity) {
        // Once through: stop at the frame where the song first wraps back,
        // or at the cap when it never does.
        if (vinto.passes > 0) {
          const end = vinto.loopFrame;
          if (end >= 0 && end < count) count = end;
          last = true;
        }
        const room = CAP_FRAMES - written;
        if (count > room || (count === room && !last)) [count, last, capped] = [room, true, true];
      }
      if (count > 0) {
        // A copy: the block is a view of the engine's memory. Little-endian, as wasm is.
        pending.push(Buffer.from(new Uint8Array(rendered.buffer, rendered.byteOffset, count * 4)));
        if (sync) {
          const { order, row, time } = vinto.position;
          syncLines.push(`${block},${order},${row},${time}\n`);
        }
        written += count;
        block++;
      }
      if (pending.length >= BLOCKS_PER_WRITE || last || block >= blocksWanted) {
        await write(Buffer.concat(pending)).catch((error) => { throw cannotWrite(error); });
        pending.length = 0;
        if (stdoutError) throw cannotWrite(stdoutError);
      }
      if (last) break;
    }
    const wall = Number(process.hrtime.bigint() - started) / 1e9;

    try {
      if (wav) fs.writeSync(pcm.fd, wavHeader(written * 4), 0, 44, 0);
      if (toStdout) await new Promise((resolve, reject) => process.stdout.write('', (e) => (e ? reject(e) : resolve())));
      else fs.closeSync(pcm.fd);
      pcm.fd = undefined;
    } catch (error) {
      throw cannotWrite(error);
    }
    if (sync) {
      try {
        fs.writeSync(sync.fd, syncLines.join(''));
        fs.closeSync(sync.fd);
        sync.fd = undefined;
        // Into place: the position file first, so that a failure leaves neither.
        fs.renameSync(sync.temporary, sync.path);
        sync.temporary = undefined;
      } catch (error) {
        throw new Failure(`${syncPath}: cannot write: ${reason(error)}`);
      }
    }
    if (!toStdout) {
      try {
        fs.renameSync(pcm.temporary, pcm.path);
        pcm.temporary = undefined;
      } catch (error) {
        if (sync) fs.rmSync(sync.path, { force: true });
        throw cannotWrite(error);
      }
    }
    vinto.unload();
    if (capped) process.stderr.write(`vinto-render: ${input} did not wrap back within 30 minutes; stopped there\n`);
    const seconds = written / SAMPLE_RATE;
    process.stderr.write(`vinto-render: ${written} frames, ${seconds.toFixed(3)} s of audio in ${wall.toFixed(3)} s `
      + `wall time, ${(wall > 0 ? seconds / wall : 0).toFixed(1)}x real time\n`);
    return 0;
  } catch (error) {
    if (!(error instanceof Failure)) throw error;
    process.stderr.write(`vinto-render: ${error.message}\n`);
    discard(pcm);
    discard(sync);
    return 1;
  }
}

process.exitCode = await main(process.argv.slice(2));

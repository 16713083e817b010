// The XM loader: reads an XM file through the file access table, unpacks its
// patterns into fixed cells and turns every sample into 16-bit PCM with a
// guard entry behind its loop. Also the release of a module.
//
// The loader reads sequentially and trusts the file's layout, but never its
// sizes: every read lands in freshly zeroed bytes (a file that ends early reads
// as zeros), every count is checked or clamped before it sizes an allocation or
// an index, and every allocation whose size or number the file decides
// (patterns, instruments, samples and their data) comes out of one budget.
#include <stdlib.h>
#include <string.h>

#include "module/file_io.h"
#include "module/module.h"
#include "output/stop.h"
#include "replay/modes.h"

namespace vinto {

Sample EmptySample = {};
Instrument EmptyInstrument = {};

namespace {

constexpr char XM_IDENTIFICATION[] = "Extended Module: ";
constexpr uint32_t XM_IDENTIFICATION_SIZE = 17;
constexpr int32_t XM_VERSION_OFFSET = 58;      // format version, read in complete mode only
constexpr int32_t XM_HEADER_SIZE_OFFSET = 60;  // header size H; counted from here
constexpr int64_t XM_CHANNEL_COUNT_END = 70;    // the fields that can refuse a song end here
constexpr uint32_t XM_HEADER_BLOCK_SIZE = 264;  // instrument count .. order table
constexpr uint32_t PATTERN_HEADER_SIZE = 9;     // exact mode assumes it whatever the file says
constexpr uint16_t XM_VERSION_SHORT_ROWS = 0x0102;    // pattern rows in one byte, less one
constexpr uint16_t XM_VERSION_PATTERNS_LAST = 0x0103;  // like 0x0102, instruments before patterns
constexpr uint32_t INSTRUMENT_HEADER_BYTES = 263;  // what FastTracker 2 writes; the fields end at 241
constexpr uint32_t SAMPLE_HEADER_SIZE = 40;
constexpr int32_t SAMPLE_NAME_SIZE = 23;        // reserved byte and sample name: skipped
constexpr uint32_t ENVELOPE_BYTES = FILE_ENVELOPE_POINTS * 4;
constexpr uint32_t ENVELOPE_BLOCK_SIZE = 16;   // point counts .. fadeout

constexpr int32_t MAX_LOADED_CHANNELS = 32;  // the replay engines' channel slots
constexpr uint32_t MAX_PATTERN_ROWS = 256;
constexpr int32_t EMPTY_PATTERN_ROWS = 64;  // a pattern the song names but the file lacks
constexpr uint32_t MAX_INSTRUMENTS = 32767;  // what instrument_count can hold
constexpr uint32_t MAX_SAMPLE_FRAMES = 0x7FFFFFFF;
constexpr uint64_t MAX_MODULE_BYTES = uint64_t(256) << 20;  // patterns, instruments and samples together
constexpr uint32_t SAMPLE_EXTRA_ENTRIES = 9;  // one zero entry in front, eight behind
// Forward loops shorter than REPEAT_LOOPS_BELOW entries are stored again,
// repeated over at least REPEAT_SPAN entries beyond one pass (Sample.repeats),
// out of an allowance of their own: repeats never take memory a song's own
// data needs, and never decide whether a song loads.
constexpr uint32_t REPEAT_LOOPS_BELOW = 1024;
constexpr uint32_t REPEAT_SPAN = 4096;
constexpr uint64_t REPEAT_BUDGET_BYTES = uint64_t(8) << 20;
constexpr uint32_t SAMPLE_READ_PIECE = 1u << 20;  // bytes of sample data per read
constexpr uint32_t FILL_RUN_ENTRIES = 4096;       // entries set one by one before copying
constexpr int16_t FALLBACK_BPM = 125;
constexpr uint8_t START_GLOBAL_VOLUME = 64;
constexpr uint16_t MAX_ENVELOPE_VALUE = 64;

constexpr uint8_t CELL_PACKED = 0x80;  // packed cell: bits 0-4 say which fields follow
constexpr uint8_t XM_KEY_OFF_NOTE = 97;
constexpr uint8_t MAX_CELL_INSTRUMENT = 128;
constexpr uint8_t SAMPLE_TYPE_FORWARD = 0x01;
constexpr uint8_t SAMPLE_TYPE_BIDI = 0x02;
constexpr uint8_t SAMPLE_TYPE_16_BIT = 0x10;

// ---- why the last load failed, and what it made up -----------------------------
//
// A load is refused (LoadModule returns null and releases what was built) for:
//   "not an XM module"                         identification text wrong or short
//   "file is cut short at byte N (header incomplete)"  it ends before the channel count does
//   "no channels"
//   "too many channels (N, at most 32)"        the replay engine has 32 channel slots
//   "empty song (song length 0)"
//   "too many instruments (N, at most 32767)"  instrument_count is a signed 16-bit field
//   "pattern with too many rows (N, at most 256)"
//   "too many samples in an instrument (N, at most 16)"
//   "sample too long (N frames, at most 2147483647)"
//   "module too large (patterns and samples need more than 256 MiB)"
//   "out of memory"
// and before parsing for "unknown replay mode", "no file callbacks installed",
// "cannot open the file" and "no data". Everything else out of range is
// clamped where it is read. A file that ends later loads with zeros for what
// it lacks, and the load warning says where it ended.

// Small static texts: composing one must not allocate.
constexpr size_t MESSAGE_SIZE = 96;
char load_error[MESSAGE_SIZE] = "";
char load_warning[MESSAGE_SIZE] = "";

void AppendText(char* message, size_t& used, const char* text) {
    while (*text && used + 1 < MESSAGE_SIZE) message[used++] = *text++;
    message[used] = 0;
}

// before, the number in decimal, after.
void Compose(char* message, const char* before, uint32_t value, const char* after) {
    char digits[12];
    int count = 0;
    do {
        digits[sizeof(digits) - 2 - count++] = char('0' + value % 10);
        value /= 10;
    } while (value);
    digits[sizeof(digits) - 1] = 0;
    size_t used = 0;
    message[0] = 0;
    AppendText(message, used, before);
    AppendText(message, used, digits + sizeof(digits) - 1 - count);
    AppendText(message, used, after);
}

// Every refusal goes through here: records the reason and fails the load.
bool Refuse(const char* reason) {
    SetLoadError(reason);
    return false;
}

// A reason with the offending number: before, the number, after.
bool Refuse(const char* before, uint32_t value, const char* after) {
    Compose(load_error, before, value, after);
    return false;
}

bool RefuseTooLarge() { return Refuse("module too large (patterns and samples need more than 256 MiB)"); }
bool OutOfMemory() { return Refuse("out of memory"); }

// ---- bounded reading ------------------------------------------------------------

struct XmReader {
    Module* module;
    FileHandle* file;
    uint64_t bytes_reserved;  // pattern and sample memory taken from the budget so far
    int64_t file_end;         // the file's length once a read came up short; -1 before
    // Complete mode reads the layout the file declares (version, header
    // sizes); exact mode reads the fixed layout of version 0x0104.
    bool complete;
    uint16_t version;  // complete mode only
    uint64_t repeat_bytes;  // storage taken by loop repeats so far
};

// A read came up short: the file's length is noted once (the read may have
// started past the end, so it is asked for), and reading goes on where it was.
void NoteFileEnd(XmReader& reader) {
    if (reader.file_end >= 0) return;
    const int32_t position = FileTell(reader.file);
    FileSeek(reader.file, 0, SEEK_FROM_END);
    reader.file_end = FileTell(reader.file);
    FileSeek(reader.file, position, SEEK_FROM_START);
}

// Zeroes the buffer before reading, so bytes the file lacks read as 0 and no
// value from an earlier read survives. Returns the bytes actually read.
uint32_t ReadBlock(XmReader& reader, void* buffer, uint32_t size) {
    memset(buffer, 0, size);
    const uint32_t got = FileRead(buffer, size, reader.file);
    if (got < size) NoteFileEnd(reader);
    return got;
}

uint16_t Get16(const uint8_t* bytes) { return uint16_t(bytes[0] | bytes[1] << 8); }

uint32_t Get32(const uint8_t* bytes) {
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
           uint32_t(bytes[3]) << 24;
}

int16_t AsSigned16(uint16_t value) {
    return int16_t(value >= 0x8000 ? int32_t(value) - 0x10000 : int32_t(value));
}

int8_t AsSigned8(uint8_t value) { return int8_t(value >= 0x80 ? int32_t(value) - 0x100 : int32_t(value)); }

uint8_t Read8(XmReader& reader) {
    uint8_t bytes[1];
    ReadBlock(reader, bytes, 1);
    return bytes[0];
}

uint16_t Read16(XmReader& reader) {
    uint8_t bytes[2];
    ReadBlock(reader, bytes, 2);
    return Get16(bytes);
}

uint32_t Read32(XmReader& reader) {
    uint8_t bytes[4];
    ReadBlock(reader, bytes, 4);
    return Get32(bytes);
}

// Positions are computed in 64 bits from stored sizes; one that does not fit the
// callbacks' 32 bits lands as far as they reach (past any real end), so a huge
// stored size never wraps around into a seek backwards.
void SeekTo(XmReader& reader, int64_t position) {
    if (position < 0) position = 0;
    if (position > INT32_MAX) position = INT32_MAX;
    FileSeek(reader.file, int32_t(position), SEEK_FROM_START);
}

void SkipForward(XmReader& reader, uint32_t count) {
    while (count > 0) {
        uint32_t step = count > uint32_t(INT32_MAX) ? uint32_t(INT32_MAX) : count;
        FileSeek(reader.file, int32_t(step), SEEK_FROM_CURRENT);
        count -= step;
    }
}

// Takes bytes from the module's budget before they are allocated.
bool Reserve(XmReader& reader, uint64_t bytes) {
    if (bytes > MAX_MODULE_BYTES - reader.bytes_reserved) return false;
    reader.bytes_reserved += bytes;
    return true;
}

// ---- module header ----------------------------------------------------------------

// A name field as text: up to the first zero byte, trailing spaces dropped
// (trackers pad with either); out has room for size + 1 bytes.
void KeepName(char* out, const uint8_t* bytes, uint32_t size) {
    uint32_t length = 0;
    while (length < size && bytes[length]) length++;
    while (length > 0 && bytes[length - 1] == ' ') length--;
    memcpy(out, bytes, length);
    out[length] = 0;
}

bool ReadIdentification(XmReader& reader) {
    uint8_t text[XM_IDENTIFICATION_SIZE];
    FileSeek(reader.file, 0, SEEK_FROM_START);
    if (ReadBlock(reader, text, XM_IDENTIFICATION_SIZE) < XM_IDENTIFICATION_SIZE) return Refuse("not an XM module");
    for (uint32_t k = 0; k < XM_IDENTIFICATION_SIZE; k++)
        if (text[k] != uint8_t(XM_IDENTIFICATION[k])) return Refuse("not an XM module");
    uint8_t title[SONG_TITLE_SIZE];
    ReadBlock(reader, title, SONG_TITLE_SIZE);  // right behind the identification
    KeepName(reader.module->title, title, SONG_TITLE_SIZE);
    return true;
}

// Reads the header from offset 60 and leaves the file at the first pattern.
// Returns the number of patterns the file stores.
bool ReadModuleHeader(XmReader& reader, uint32_t& stored_patterns) {
    Module& module = *reader.module;
    if (reader.complete) {
        FileSeek(reader.file, XM_VERSION_OFFSET, SEEK_FROM_START);
        reader.version = Read16(reader);
    }
    FileSeek(reader.file, XM_HEADER_SIZE_OFFSET, SEEK_FROM_START);
    uint32_t header_size = Read32(reader);
    uint8_t counts[6];
    ReadBlock(reader, counts, sizeof(counts));
    uint32_t song_length = Get16(counts);
    uint32_t restart_position = Get16(counts + 2);
    uint32_t channel_count = Get16(counts + 4);
    stored_patterns = Read16(reader);
    uint8_t block[XM_HEADER_BLOCK_SIZE];
    ReadBlock(reader, block, sizeof(block));
    uint32_t instrument_count = Get16(block);

    // Zeros standing in for these fields would refuse the song for the wrong reason.
    if (reader.file_end >= 0 && reader.file_end < XM_CHANNEL_COUNT_END)
        return Refuse("file is cut short at byte ", uint32_t(reader.file_end), " (header incomplete)");
    if (channel_count == 0) return Refuse("no channels");
    if (channel_count > uint32_t(MAX_LOADED_CHANNELS))
        return Refuse("too many channels (", channel_count, ", at most 32)");
    if (song_length == 0) return Refuse("empty song (song length 0)");
    if (instrument_count > MAX_INSTRUMENTS)
        return Refuse("too many instruments (", instrument_count, ", at most 32767)");

    // The order table holds 256 entries; a longer song would play past it.
    if (song_length > uint32_t(ORDER_TABLE_SIZE)) song_length = ORDER_TABLE_SIZE;
    // Continuing outside the song could name a pattern that was never built.
    if (restart_position >= song_length) restart_position = 0;

    module.song_length = int16_t(song_length);
    module.restart_position = int16_t(restart_position);
    module.channel_count = int16_t(channel_count);
    module.instrument_count = int16_t(instrument_count);
    module.flags = Get16(block + 2);
    module.default_speed = AsSigned16(Get16(block + 4));
    module.default_bpm = AsSigned16(Get16(block + 6));
    // A tempo below 1 gives no finite tick length.
    if (module.default_bpm < 1) module.default_bpm = FALLBACK_BPM;
    memcpy(module.orders, block + 8, ORDER_TABLE_SIZE);

    SeekTo(reader, int64_t(XM_HEADER_SIZE_OFFSET) + header_size);
    return true;
}

// ---- patterns -------------------------------------------------------------------

void ReadCell(XmReader& reader, PatternCell& cell) {
    uint8_t first = Read8(reader);
    if (first & CELL_PACKED) {
        if (first & 0x01) cell.note = Read8(reader);
        if (first & 0x02) cell.instrument = Read8(reader);
        if (first & 0x04) cell.volume = Read8(reader);
        if (first & 0x08) cell.effect = Read8(reader);
        if (first & 0x10) cell.param = Read8(reader);
    } else {
        uint8_t rest[4];
        ReadBlock(reader, rest, sizeof(rest));
        cell.note = first;
        cell.instrument = rest[0];
        cell.volume = rest[1];
        cell.effect = rest[2];
        cell.param = rest[3];
    }
    if (cell.note == XM_KEY_OFF_NOTE) cell.note = KEY_OFF_NOTE;
    if (cell.instrument > MAX_CELL_INSTRUMENT) cell.instrument = 0;
}

// Gives a pattern `rows` rows of zeroed cells, taken from the budget.
bool AllocateCells(XmReader& reader, Pattern& pattern, uint32_t rows) {
    uint64_t cells = uint64_t(rows) * uint64_t(reader.module->channel_count);
    if (!Reserve(reader, cells * sizeof(PatternCell))) return RefuseTooLarge();
    pattern.cells = static_cast<PatternCell*>(calloc(size_t(cells), sizeof(PatternCell)));
    if (!pattern.cells) return OutOfMemory();
    pattern.row_count = int32_t(rows);
    return true;
}

bool ReadPattern(XmReader& reader, Pattern& pattern) {
    int64_t start = reader.complete ? FileTell(reader.file) : 0;
    uint8_t header[PATTERN_HEADER_SIZE];
    uint32_t rows, packed_size, header_length = 0;
    bool short_rows = reader.complete && reader.version == XM_VERSION_SHORT_ROWS;
    if (short_rows) {
        ReadBlock(reader, header, PATTERN_HEADER_SIZE - 1);
        header_length = Get32(header);
        rows = uint32_t(header[5]) + 1;
        packed_size = Get16(header + 6);
    } else {
        ReadBlock(reader, header, sizeof(header));
        header_length = Get32(header);
        rows = Get16(header + 5);
        packed_size = Get16(header + 7);
    }
    if (rows > MAX_PATTERN_ROWS) return Refuse("pattern with too many rows (", rows, ", at most 256)");
    // A pattern of no rows could not be played; it becomes 64 empty rows.
    if (!AllocateCells(reader, pattern, rows == 0 ? EMPTY_PATTERN_ROWS : rows)) return false;
    // A stated length shorter than the fields just read cannot be right.
    uint32_t read_length = short_rows ? PATTERN_HEADER_SIZE - 1 : PATTERN_HEADER_SIZE;
    int64_t data_start = start + (header_length < read_length ? read_length : header_length);
    if (reader.complete) SeekTo(reader, data_start);
    if (packed_size == 0) return true;
    uint32_t cells = rows * uint32_t(reader.module->channel_count);
    for (uint32_t k = 0; k < cells; k++) ReadCell(reader, pattern.cells[k]);
    // The stored size says where the next pattern starts, whatever the cells took.
    if (reader.complete) SeekTo(reader, data_start + packed_size);
    return true;
}

bool ReadPatterns(XmReader& reader, uint32_t stored_patterns) {
    Module& module = *reader.module;
    int32_t highest = 0;
    for (int k = 0; k < module.song_length; k++)
        if (module.orders[k] > highest) highest = module.orders[k];
    int32_t used = highest + 1;
    int32_t count = int32_t(stored_patterns) > used ? int32_t(stored_patterns) : used;

    if (!Reserve(reader, uint64_t(count) * sizeof(Pattern))) return RefuseTooLarge();
    module.patterns = static_cast<Pattern*>(calloc(size_t(count), sizeof(Pattern)));
    if (!module.patterns) return OutOfMemory();
    module.pattern_count = count;
    module.used_pattern_count = used;

    for (uint32_t i = 0; i < stored_patterns; i++)
        if (!ReadPattern(reader, module.patterns[i])) return false;
    // Patterns the song names but the file lacks: empty rows to play through.
    for (int32_t i = int32_t(stored_patterns); i < used; i++)
        if (!AllocateCells(reader, module.patterns[i], EMPTY_PATTERN_ROWS)) return false;
    return true;
}

// ---- instruments ----------------------------------------------------------------

void ReadEnvelopePoints(const uint8_t* bytes, EnvelopePoint* points) {
    for (int k = 0; k < FILE_ENVELOPE_POINTS; k++) {
        points[k].tick = Get16(bytes + 4 * k);
        uint16_t value = Get16(bytes + 4 * k + 2);
        // The envelope scales a 0..64 volume or panning; more would overdrive it.
        points[k].value = value > MAX_ENVELOPE_VALUE ? MAX_ENVELOPE_VALUE : value;
    }
}

// Keeps an envelope's counts and indices inside its points: a feature whose
// points are missing is switched off rather than indexing past them.
void NormaliseEnvelope(uint8_t& point_count, uint8_t& type, uint8_t sustain, uint8_t loop_start,
                       uint8_t loop_end) {
    // The file supplies 12 points; more would read zero points as real ones.
    if (point_count > FILE_ENVELOPE_POINTS) point_count = FILE_ENVELOPE_POINTS;
    if (point_count < 2) type = 0;
    if (sustain >= point_count) type &= uint8_t(~ENVELOPE_SUSTAIN);
    if (loop_start >= point_count || loop_end >= point_count || loop_start > loop_end)
        type &= uint8_t(~ENVELOPE_LOOP);
}

// points: both envelopes' 12 points; block: point counts .. fadeout.
void SetEnvelopes(const uint8_t* points, const uint8_t* block, Instrument& instrument) {
    ReadEnvelopePoints(points, instrument.volume_envelope);
    ReadEnvelopePoints(points + ENVELOPE_BYTES, instrument.pan_envelope);
    instrument.volume_point_count = block[0];
    instrument.pan_point_count = block[1];
    instrument.volume_sustain = block[2];
    instrument.volume_loop_start = block[3];
    instrument.volume_loop_end = block[4];
    instrument.pan_sustain = block[5];
    instrument.pan_loop_start = block[6];
    instrument.pan_loop_end = block[7];
    instrument.volume_envelope_type = block[8];
    instrument.pan_envelope_type = block[9];
    instrument.vibrato_type = block[10];
    instrument.vibrato_sweep = block[11];
    instrument.vibrato_depth = block[12];
    instrument.vibrato_rate = block[13];
    instrument.fadeout = uint16_t(2 * Get16(block + 14));

    NormaliseEnvelope(instrument.volume_point_count, instrument.volume_envelope_type,
                      instrument.volume_sustain, instrument.volume_loop_start, instrument.volume_loop_end);
    NormaliseEnvelope(instrument.pan_point_count, instrument.pan_envelope_type, instrument.pan_sustain,
                      instrument.pan_loop_start, instrument.pan_loop_end);
}

void ReadEnvelopes(XmReader& reader, Instrument& instrument) {
    uint8_t points[2 * ENVELOPE_BYTES];
    ReadBlock(reader, points, sizeof(points));
    uint8_t block[ENVELOPE_BLOCK_SIZE];
    ReadBlock(reader, block, sizeof(block));
    SetEnvelopes(points, block, instrument);
}

#if VINTO_LOOP_REPEATS
// Stores a short forward loop once more, repeated (Sample.repeats), out of
// the allowance for repeats; without room the sample simply has none.
void RepeatLoop(XmReader& reader, Sample& sample) {
    const uint32_t length = sample.loop_length;
    if (sample.loop_mode != LOOP_FORWARD || length >= REPEAT_LOOPS_BELOW) return;
    const uint32_t entries = ((REPEAT_SPAN + length - 1) / length + 1) * length;
    const uint64_t bytes = (uint64_t(entries) + 2) * sizeof(int16_t);
    if (bytes > REPEAT_BUDGET_BYTES - reader.repeat_bytes) return;
    int16_t* storage = static_cast<int16_t*>(malloc(size_t(bytes)));
    if (!storage) return;
    reader.repeat_bytes += bytes;
    storage[0] = 0;
    memcpy(storage + 1, sample.data + sample.loop_start, size_t(length) * sizeof(int16_t));
    for (uint32_t j = length; j <= entries; j++) storage[1 + j] = storage[1 + j - length];
    sample.repeats = storage + 1;
    sample.repeat_entries = entries;
}
#endif

// Reads one 40-byte sample header, brings sizes to frames and the loop inside
// the sample, and allocates the sample's zeroed storage.
bool ReadSampleHeader(XmReader& reader, Sample& sample) {
    uint8_t head[14];
    ReadBlock(reader, head, sizeof(head));
    uint32_t length = Get32(head);
    uint32_t loop_start = Get32(head + 4);
    uint32_t loop_length = Get32(head + 8);
    sample.volume = head[12];
    sample.finetune = AsSigned8(head[13]);

    uint8_t type = Read8(reader);
    uint8_t loop_mode = LOOP_NONE;
    if (type & SAMPLE_TYPE_FORWARD) loop_mode = LOOP_FORWARD;
    if (type & SAMPLE_TYPE_BIDI) loop_mode = LOOP_BIDI;
    sample.bits = (type & SAMPLE_TYPE_16_BIT) ? 16 : 8;
    if (loop_mode == LOOP_NONE) {
        loop_start = 0;
        loop_length = length;
    }
    if (sample.bits == 16) {  // bytes to frames; an odd byte is lost
        length >>= 1;
        loop_start >>= 1;
        loop_length >>= 1;
    }
    if (loop_length == 0) {  // a loop of no frames is no loop
        loop_start = 0;
        loop_length = length;
        loop_mode = LOOP_NONE;
    }
    sample.pan = Read8(reader);
    sample.relative_note = AsSigned8(Read8(reader));
    FileSeek(reader.file, SAMPLE_NAME_SIZE, SEEK_FROM_CURRENT);

    if (length > MAX_SAMPLE_FRAMES)
        return Refuse("sample too long (", length, " frames, at most 2147483647)");
    // The guard entry behind the loop must stay inside the sample's storage.
    if (loop_start >= length) {
        loop_mode = LOOP_NONE;
        loop_start = 0;
        loop_length = length;
    } else if (loop_length > length - loop_start) {
        loop_length = length - loop_start;
    }
    sample.length = length;
    sample.loop_start = loop_start;
    sample.loop_length = loop_length;
    sample.loop_mode = loop_mode;
    if (length == 0) return true;

    uint64_t entries = uint64_t(length) + SAMPLE_EXTRA_ENTRIES;
    if (!Reserve(reader, entries * sizeof(int16_t))) return RefuseTooLarge();
    int16_t* storage = static_cast<int16_t*>(calloc(size_t(entries), sizeof(int16_t)));
    if (!storage) return OutOfMemory();
    // One zero entry in front of the first frame: a ping-pong reflection at
    // loop start 0 may read it.
    sample.data = storage + 1;
    return true;
}

// Sets count entries to value: one short run by hand, then copies of it.
void FillEntries(int16_t* entries, uint32_t count, int16_t value) {
    uint32_t run = count < FILL_RUN_ENTRIES ? count : FILL_RUN_ENTRIES;
    for (uint32_t k = 0; k < run; k++) entries[k] = value;
    for (uint32_t done = run; done < count; done += run) {
        uint32_t n = count - done < run ? count - done : run;
        memcpy(entries + done, entries, size_t(n) * sizeof(int16_t));
    }
}

// Fills a sample's storage from the file or the sample loader, widens 8-bit
// values, removes the delta coding and writes the guard entry.
void ReadSampleData(XmReader& reader, Sample& sample, int32_t instrument_index, uint32_t sample_index) {
    uint32_t length = sample.length;
    if (length == 0) return;
    // The storage is still zero-filled: bytes the file lacks stay 0. Its
    // length + 8 entries are the 2 x length + 16 bytes a sample loader may fill.
    uint8_t* bytes = reinterpret_cast<uint8_t*>(sample.data);
    uint32_t byte_count = sample.bits == 16 ? 2 * length : length;
    uint32_t handed = byte_count;  // bytes given to the loader or the read callback
    SampleLoader loader = reader.module->sample_loader;
    if (loader) {
        loader(bytes, byte_count, sample.bits, instrument_index, sample_index);
        SkipForward(reader, byte_count);
    } else {
        // In pieces, ending at the first short read: storage past the file's
        // end is never handed out, so it stays zero without being touched,
        // and a short file declaring a long sample loads quickly.
        handed = 0;
        while (handed < byte_count) {
            uint32_t piece = byte_count - handed < SAMPLE_READ_PIECE ? byte_count - handed : SAMPLE_READ_PIECE;
            uint32_t got = FileRead(bytes + handed, piece, reader.file);
            handed += piece;
            if (got < piece) {
                NoteFileEnd(reader);
                break;
            }
        }
    }
    // Entries from here on hold only bytes never handed out: zeros.
    uint32_t frames = sample.bits == 16 ? handed / 2 : handed;

    int16_t* data = sample.data;
    if (sample.bits == 8) {
        // Widen in place from the end: entry k covers bytes 2k and 2k + 1,
        // which lie at or behind byte k, so no byte is overwritten unread.
        for (uint32_t k = frames; k-- > 0;) data[k] = int16_t(AsSigned8(bytes[k]) * 256);
        sample.bits = 16;
    } else {
        for (uint32_t k = 0; k < frames; k++) data[k] = AsSigned16(Get16(bytes + 2 * k));
    }

    // Data from a sample loader is plain PCM; the file's is delta-coded.
    if (!loader) {
        uint16_t sum = 0;
        for (uint32_t k = 0; k < frames; k++) {
            sum = uint16_t(sum + uint16_t(data[k]));
            data[k] = AsSigned16(sum);
        }
        // Zero deltas: the last value carries on to the end.
        if (sum != 0) FillEntries(data + frames, length - frames, AsSigned16(sum));
    }

    // The interpolation partner of the loop's last frame, so the mixer finds
    // the loop's continuation right behind it.
    uint32_t loop_end = sample.loop_start + sample.loop_length;
    if (sample.loop_mode == LOOP_BIDI) data[loop_end] = data[loop_end - 1];
    if (sample.loop_mode == LOOP_FORWARD) data[loop_end] = data[sample.loop_start];
#if VINTO_LOOP_REPEATS
    RepeatLoop(reader, sample);
#endif
}

bool ReadInstrument(XmReader& reader, int32_t index) {
    Instrument& instrument = reader.module->instruments[index];
    int64_t start = FileTell(reader.file);
    uint32_t header_size = Read32(reader);
    uint8_t name[INSTRUMENT_NAME_BYTES];
    ReadBlock(reader, name, INSTRUMENT_NAME_BYTES);
    KeepName(instrument.name, name, INSTRUMENT_NAME_BYTES);
    FileSeek(reader.file, 1, SEEK_FROM_CURRENT);  // the type byte
    uint32_t sample_count = Read16(reader);
    if (sample_count > uint32_t(MAX_INSTRUMENT_SAMPLES))
        return Refuse("too many samples in an instrument (", sample_count, ", at most 16)");
    instrument.sample_count = int32_t(sample_count);
    for (uint32_t j = sample_count; j < uint32_t(INSTRUMENT_SAMPLE_SLOTS); j++) instrument.samples[j] = &EmptySample;
    if (sample_count == 0) {
        SeekTo(reader, start + header_size);
        return true;
    }

    Read32(reader);  // sample header size: 40 bytes are assumed
    ReadBlock(reader, instrument.keymap, KEYMAP_NOTES);
    ReadEnvelopes(reader, instrument);
    SeekTo(reader, start + header_size);

    // Slots below sample_count stay null until their sample exists, so a
    // failure half-way leaves nothing for the release to mistake as owned.
    for (uint32_t j = 0; j < sample_count; j++) {
        if (!Reserve(reader, sizeof(Sample))) return RefuseTooLarge();
        Sample* sample = static_cast<Sample*>(calloc(1, sizeof(Sample)));
        if (!sample) return OutOfMemory();
        instrument.samples[j] = sample;
        if (!ReadSampleHeader(reader, *sample)) return false;
    }
    for (uint32_t j = 0; j < sample_count; j++) ReadSampleData(reader, *instrument.samples[j], index, j);
    return true;
}

// Complete mode: the header is read within its stated size (fields beyond it
// stay zero), sample headers are as long as the instrument says, and an
// instrument may carry more than 16 samples: up to 32 are kept, the others'
// headers and data are passed over.
bool ReadInstrumentInLayout(XmReader& reader, int32_t index) {
    Instrument& instrument = reader.module->instruments[index];
    int64_t start = FileTell(reader.file);
    uint8_t header[INSTRUMENT_HEADER_BYTES] = {};
    uint32_t header_size = Read32(reader);
    uint32_t stated = header_size < INSTRUMENT_HEADER_BYTES ? header_size : INSTRUMENT_HEADER_BYTES;
    if (stated > 4) ReadBlock(reader, header + 4, stated - 4);
    KeepName(instrument.name, header + 4, INSTRUMENT_NAME_BYTES);
    uint32_t sample_count = Get16(header + 27);
    uint32_t sample_header_size = Get32(header + 29);
    // A sample header shorter than its fields cannot be right: such sizes come from damaged files.
    if (sample_header_size < SAMPLE_HEADER_SIZE) sample_header_size = SAMPLE_HEADER_SIZE;
    uint32_t kept = sample_count < uint32_t(INSTRUMENT_SAMPLE_SLOTS) ? sample_count : INSTRUMENT_SAMPLE_SLOTS;
    instrument.sample_count = int32_t(kept);
    for (uint32_t j = kept; j < uint32_t(INSTRUMENT_SAMPLE_SLOTS); j++) instrument.samples[j] = &EmptySample;
    if (sample_count > 0) {
        memcpy(instrument.keymap, header + 33, KEYMAP_NOTES);
        SetEnvelopes(header + 129, header + 225, instrument);
    }
    SeekTo(reader, start + header_size);

    uint64_t skipped_bytes = 0;  // data of the samples beyond the slots
    for (uint32_t j = 0; j < sample_count; j++) {
        int64_t sample_start = FileTell(reader.file);
        if (j < kept) {
            if (!Reserve(reader, sizeof(Sample))) return RefuseTooLarge();
            Sample* sample = static_cast<Sample*>(calloc(1, sizeof(Sample)));
            if (!sample) return OutOfMemory();
            instrument.samples[j] = sample;
            if (!ReadSampleHeader(reader, *sample)) return false;
        } else {
            skipped_bytes += Read32(reader);  // stored length in bytes, 8- or 16-bit alike
        }
        SeekTo(reader, sample_start + sample_header_size);
    }
    for (uint32_t j = 0; j < kept; j++) ReadSampleData(reader, *instrument.samples[j], index, j);
    SeekTo(reader, FileTell(reader.file) + int64_t(skipped_bytes));
    return true;
}

// read_one: ReadInstrument, or ReadInstrumentInLayout for a declared layout.
bool ReadInstruments(XmReader& reader, bool (*read_one)(XmReader& reader, int32_t index)) {
    Module& module = *reader.module;
    if (module.instrument_count == 0) return true;
    // Up to 32767 records: a few bytes of file must not buy megabytes beyond the budget.
    if (!Reserve(reader, uint64_t(module.instrument_count) * sizeof(Instrument))) return RefuseTooLarge();
    module.instruments = static_cast<Instrument*>(calloc(size_t(module.instrument_count), sizeof(Instrument)));
    if (!module.instruments) return OutOfMemory();
    for (int32_t i = 0; i < module.instrument_count; i++)
        if (!read_one(reader, i)) return false;
    return true;
}

// Releases everything a module owns, then the module. Not for a module that
// may be playing: FreeModule stops its playback first.
void ReleaseModule(Module* module) {
    if (module->instruments) {
        for (int32_t i = 0; i < module->instrument_count; i++) {
            Instrument& instrument = module->instruments[i];
            // Slots from sample_count on hold EmptySample, which is never released.
            for (int32_t j = 0; j < instrument.sample_count && j < INSTRUMENT_SAMPLE_SLOTS; j++) {
                Sample* sample = instrument.samples[j];
                if (!sample) continue;
                if (sample->data) free(sample->data - 1);  // the zero entry in front
#if VINTO_LOOP_REPEATS
                if (sample->repeats) free(sample->repeats - 1);
#endif
                free(sample);
            }
        }
        free(module->instruments);
    }
    if (module->patterns) {
        for (int32_t i = 0; i < module->pattern_count; i++) free(module->patterns[i].cells);
        free(module->patterns);
    }
    free(module);
}

}  // namespace

void SetLoadError(const char* reason) {
    size_t used = 0;
    load_error[0] = 0;
    AppendText(load_error, used, reason);
}

// A load that read past the file's end succeeds, with a warning saying so.
bool NoteEarlyEnd(const XmReader& reader) {
    if (reader.file_end >= 0)
        Compose(load_warning, "file ends at byte ", uint32_t(reader.file_end), "; the rest plays as silence");
    return true;
}

bool ParseXmInDeclaredLayout(Module* module, FileHandle* handle) {
    XmReader reader = {module, handle, 0, -1, true, 0, 0};
    if (!ReadIdentification(reader)) return false;
    module->default_global_volume = START_GLOBAL_VOLUME;
    uint32_t stored_patterns = 0;
    if (!ReadModuleHeader(reader, stored_patterns)) return false;
    // Versions 0x0102 and 0x0103 store the instruments before the patterns;
    // any other version is read as 0x0104.
    if (reader.version == XM_VERSION_SHORT_ROWS || reader.version == XM_VERSION_PATTERNS_LAST) {
        if (!ReadInstruments(reader, ReadInstrumentInLayout) || !ReadPatterns(reader, stored_patterns)) return false;
    } else if (!ReadPatterns(reader, stored_patterns) || !ReadInstruments(reader, ReadInstrumentInLayout)) {
        return false;
    }
    return NoteEarlyEnd(reader);
}

bool ParseXm(Module* module, FileHandle* handle) {
    if (!module || !handle) return Refuse("cannot open the file");
    // The one place the mode decides: the replay that plays the module and
    // the layout the loader reads. The declared-layout parser is reached only
    // through the table of modes, so a build without the complete mode links
    // none of it.
    const ReplayMode* replay = FindReplayMode(module->mode);
    if (!replay) return Refuse("unknown replay mode");
    module->tick_handler = replay->tick;
    if (replay->parse_declared_layout) return replay->parse_declared_layout(module, handle);
    XmReader reader = {module, handle, 0, -1, false, 0, 0};
    if (!ReadIdentification(reader)) return false;
    module->default_global_volume = START_GLOBAL_VOLUME;
    uint32_t stored_patterns = 0;
    if (!ReadModuleHeader(reader, stored_patterns)) return false;
    if (!ReadPatterns(reader, stored_patterns)) return false;
    if (!ReadInstruments(reader, ReadInstrument)) return false;
    return NoteEarlyEnd(reader);
}

namespace {

// The start of every public load: no error or warning yet; false (refused)
// for a mode the build does not have.
bool BeginLoad(int32_t mode) {
    SetLoadError("");
    load_warning[0] = 0;
    if (FindReplayMode(mode)) return true;
    Refuse("unknown replay mode");
    return false;
}

// Reads a module from the opened file, which it closes. Each public load opens
// its own kind of file, so a program that never loads from memory links none of it.
Module* LoadFrom(FileHandle* file, SampleLoader sample_loader, int32_t mode, bool from_memory) {
    Module* module = static_cast<Module*>(calloc(1, sizeof(Module)));
    if (!module) {
        FileClose(file);
        OutOfMemory();
        return nullptr;
    }
    module->sample_loader = sample_loader;
    module->mode = mode;
    module->from_memory = from_memory;
    bool parsed = ParseXm(module, file);
    FileClose(file);
    if (!parsed) {
        // Never played, so nothing to stop.
        load_warning[0] = 0;
        ReleaseModule(module);
        return nullptr;
    }
    return module;
}

}  // namespace

}  // namespace vinto

using namespace vinto;

const char* GetLoadError(void) { return load_error; }

const char* GetLoadWarning(void) { return load_warning; }

Module* VintoLoadModule(const char* name, SampleLoader sample_loader) {
    return LoadModuleInMode(name, sample_loader, VINTO_MODE_EXACT);
}

Module* LoadModuleInMode(const char* name, SampleLoader sample_loader, int32_t mode) {
    if (!BeginLoad(mode)) return nullptr;
    if (!FileIoInstalled()) {
        Refuse("no file callbacks installed");
        return nullptr;
    }
    FileHandle* file = FileOpen(name);
    if (!file) {
        Refuse("cannot open the file");
        return nullptr;
    }
    return LoadFrom(file, sample_loader, mode, false);
}

Module* LoadModuleFromMemory(const void* data, uint32_t size, int32_t mode) {
    if (!BeginLoad(mode)) return nullptr;
    if (!data) {
        Refuse("no data");
        return nullptr;
    }
    FileHandle* file = FileOpenMemory(data, size);
    if (!file) {
        OutOfMemory();
        return nullptr;
    }
    return LoadFrom(file, nullptr, mode, true);
}

bool VintoFreeModule(Module* module) {
    if (!module) return false;
    // Its own playback or rendering only: another module may be playing.
    StopOutputOf(module);
    ReleaseModule(module);
    return true;
}

#ifndef _WIN32
// The same operations under their plain names, where the system has none of its own.
Module* LoadModule(const char* name, SampleLoader sample_loader) { return VintoLoadModule(name, sample_loader); }
bool FreeModule(Module* module) { return VintoFreeModule(module); }
#endif

int32_t GetModuleMode(const Module* module) { return module ? module->mode : -1; }

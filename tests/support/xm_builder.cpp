#include "tests/support/xm_builder.h"

#include <string.h>

#include "module/module.h"

#include <algorithm>

using namespace vinto;

namespace xm {
namespace {

void Put8(std::vector<uint8_t>& out, uint32_t v) { out.push_back(uint8_t(v)); }
void Put16(std::vector<uint8_t>& out, uint32_t v) {
    Put8(out, v);
    Put8(out, v >> 8);
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
    Put16(out, v);
    Put16(out, v >> 16);
}
void PutText(std::vector<uint8_t>& out, const char* text, size_t size) {
    size_t n = strlen(text);
    for (size_t i = 0; i < size; i++) Put8(out, i < n ? uint8_t(text[i]) : 0);
}
void PadTo(std::vector<uint8_t>& out, size_t size) {
    if (out.size() < size) out.resize(size, 0);
}

void PutPattern(std::vector<uint8_t>& out, const PatternSpec& p, int channels) {
    std::vector<Cell> cells = p.cells;
    cells.resize(size_t(p.rows) * size_t(channels));
    std::vector<uint8_t> data = p.raw_cells;
    if (p.packing != Packing::NoData && p.raw_cells.empty()) {
        for (const Cell& c : cells) {
            if (p.packing == Packing::Unpacked) {
                Put8(data, c.note);
                Put8(data, c.instrument);
                Put8(data, c.volume);
                Put8(data, c.effect);
                Put8(data, c.param);
                continue;
            }
            uint8_t mask = 0x80;
            if (c.note) mask |= 1;
            if (c.instrument) mask |= 2;
            if (c.volume) mask |= 4;
            if (c.effect) mask |= 8;
            if (c.param) mask |= 16;
            Put8(data, mask);
            if (c.note) Put8(data, c.note);
            if (c.instrument) Put8(data, c.instrument);
            if (c.volume) Put8(data, c.volume);
            if (c.effect) Put8(data, c.effect);
            if (c.param) Put8(data, c.param);
        }
    }
    Put32(out, 9);
    Put8(out, 0);
    Put16(out, uint32_t(p.rows));
    // A non-empty pattern must not declare size 0, whatever its byte count.
    Put16(out, p.packing == Packing::NoData ? 0 : std::max<uint32_t>(1, uint32_t(data.size())));
    out.insert(out.end(), data.begin(), data.end());
}

void PutEnvelopePoints(std::vector<uint8_t>& out, const EnvelopeSpec& e) {
    for (int i = 0; i < 12; i++) {
        uint16_t tick = 0, value = 0;
        if (size_t(i) < e.points.size()) {
            tick = e.points[i].first;
            value = e.points[i].second;
        }
        Put16(out, tick);
        Put16(out, value);
    }
}

uint8_t PointCount(const EnvelopeSpec& e) {
    return e.point_count == 0xFF ? uint8_t(e.points.size()) : e.point_count;
}

void PutInstrument(std::vector<uint8_t>& out, const InstrumentSpec& in) {
    size_t start = out.size();
    int n = in.declared_samples >= 0 ? in.declared_samples : int(in.samples.size());
    Put32(out, in.header_size);
    PutText(out, "instrument", 22);
    Put8(out, 0);
    Put16(out, uint32_t(n));
    if (n > 0) {
        Put32(out, 40);
        for (int i = 0; i < 96; i++) Put8(out, in.keymap[i]);
        PutEnvelopePoints(out, in.volume_envelope);
        PutEnvelopePoints(out, in.pan_envelope);
        Put8(out, PointCount(in.volume_envelope));
        Put8(out, PointCount(in.pan_envelope));
        Put8(out, in.volume_envelope.sustain);
        Put8(out, in.volume_envelope.loop_start);
        Put8(out, in.volume_envelope.loop_end);
        Put8(out, in.pan_envelope.sustain);
        Put8(out, in.pan_envelope.loop_start);
        Put8(out, in.pan_envelope.loop_end);
        Put8(out, in.volume_envelope.type);
        Put8(out, in.pan_envelope.type);
        Put8(out, in.vibrato_type);
        Put8(out, in.vibrato_sweep);
        Put8(out, in.vibrato_depth);
        Put8(out, in.vibrato_rate);
        Put16(out, in.fadeout);
    }
    // The header is exactly header_size bytes (shorter fields are padded, longer cut).
    out.resize(start + in.header_size, 0);
    for (const SampleSpec& s : in.samples) {
        uint32_t width = s.sixteen_bit ? 2 : 1;
        uint32_t frames = uint32_t(s.pcm.size());
        Put32(out, s.raw_sizes ? s.raw_length : frames * width);
        Put32(out, s.raw_sizes ? s.raw_loop_start : s.loop_start * width);
        Put32(out, s.raw_sizes ? s.raw_loop_length : s.loop_length * width);
        Put8(out, s.volume);
        Put8(out, uint8_t(s.finetune));
        Put8(out, uint32_t(s.loop_type | (s.sixteen_bit ? 0x10 : 0) | s.extra_type_bits));
        Put8(out, s.pan);
        Put8(out, uint8_t(s.relative_note));
        Put8(out, 0);
        PutText(out, "sample", 22);
    }
    for (const SampleSpec& s : in.samples) {
        int32_t previous = 0;
        for (int16_t v : s.pcm) {
            int32_t delta = v - previous;
            previous = v;
            if (s.sixteen_bit)
                Put16(out, uint16_t(delta));
            else
                Put8(out, uint8_t(delta));
        }
    }
}

struct MemoryStream {
    std::vector<uint8_t> bytes;
    int64_t position = 0;
};

std::vector<uint8_t> memory_file;
int open_streams = 0;

void* MemoryOpen(const char*) {
    open_streams++;
    MemoryStream* s = new MemoryStream;
    s->bytes = memory_file;
    return s;
}
void MemoryClose(void* stream) {
    open_streams--;
    delete static_cast<MemoryStream*>(stream);
}
uint32_t MemoryRead(uint8_t* buffer, uint32_t size, void* stream) {
    MemoryStream* s = static_cast<MemoryStream*>(stream);
    int64_t available = int64_t(s->bytes.size()) - s->position;
    if (available <= 0) return 0;
    uint32_t count = uint32_t(std::min<int64_t>(size, available));
    memcpy(buffer, s->bytes.data() + s->position, count);
    s->position += count;
    return count;
}
void MemorySeek(void* stream, int32_t offset, uint8_t origin) {
    MemoryStream* s = static_cast<MemoryStream*>(stream);
    int64_t size = int64_t(s->bytes.size());
    if (origin == 0) s->position = offset;
    if (origin == 1) s->position += offset;
    if (origin == 2) s->position = size + offset;
    s->position = std::clamp<int64_t>(s->position, 0, size);
}
int32_t MemoryTell(void* stream) { return int32_t(static_cast<MemoryStream*>(stream)->position); }

}  // namespace

Cell& PatternSpec::At(int row, int channel, int channel_count) {
    size_t index = size_t(row) * size_t(channel_count) + size_t(channel);
    size_t needed = size_t(rows) * size_t(channel_count);
    if (cells.size() < std::max(needed, index + 1)) cells.resize(std::max(needed, index + 1));
    return cells[index];
}

std::vector<uint8_t> Build(const SongSpec& song) {
    std::vector<uint8_t> out;
    PutText(out, "Extended Module: ", 17);
    PutText(out, "vinto test", 20);
    Put8(out, 0x1A);
    PutText(out, "xm builder", 20);
    Put16(out, 0x0104);
    Put32(out, song.header_size);
    int song_length = song.song_length >= 0 ? song.song_length : int(song.orders.size());
    int patterns = song.declared_patterns >= 0 ? song.declared_patterns : int(song.patterns.size());
    int instruments =
        song.declared_instruments >= 0 ? song.declared_instruments : int(song.instruments.size());
    Put16(out, uint32_t(song_length));
    Put16(out, song.restart_position);
    Put16(out, uint32_t(song.channels));
    Put16(out, uint32_t(patterns));
    Put16(out, uint32_t(instruments));
    Put16(out, song.flags);
    Put16(out, song.speed);
    Put16(out, song.bpm);
    for (int i = 0; i < 256; i++) Put8(out, size_t(i) < song.orders.size() ? song.orders[i] : 0);
    PadTo(out, 60 + size_t(song.header_size));
    out.resize(60 + size_t(song.header_size));
    for (size_t i = 0; i < song.patterns.size() && int(i) < patterns; i++)
        PutPattern(out, song.patterns[i], song.channels);
    for (size_t i = 0; i < song.instruments.size() && int(i) < instruments; i++)
        PutInstrument(out, song.instruments[i]);
    return out;
}

SongSpec SimpleSong(int channels, int rows) {
    SongSpec song;
    song.channels = channels;
    song.orders = {0};
    PatternSpec pattern;
    pattern.rows = rows;
    song.patterns.push_back(pattern);
    InstrumentSpec instrument;
    SampleSpec square;
    for (int i = 0; i < 32; i++) square.pcm.push_back(i < 16 ? 100 : -100);
    square.loop_type = FORWARD_LOOP;
    square.loop_start = 0;
    square.loop_length = 32;
    instrument.samples.push_back(square);
    song.instruments.push_back(instrument);
    return song;
}

void InstallMemoryFile(const std::vector<uint8_t>& bytes) {
    memory_file = bytes;
    SetFileIo(MemoryOpen, MemoryClose, MemoryRead, MemorySeek, MemoryTell);
}

Module* Load(const std::vector<uint8_t>& bytes, SampleLoader loader) {
    InstallMemoryFile(bytes);
    return LoadModule("memory.xm", loader);
}

Module* Load(const SongSpec& song, SampleLoader loader) { return Load(Build(song), loader); }

int OpenMemoryStreams() { return open_streams; }

namespace {

void Fault(std::string& faults, const std::string& where, const std::string& what) {
    faults += where + ": " + what + "\n";
}

void CheckEnvelope(std::string& faults, const std::string& where, const EnvelopePoint* points,
                   uint8_t count, uint8_t type, uint8_t sustain, uint8_t loop_start, uint8_t loop_end) {
    if (count > 12) Fault(faults, where, "more than 12 points");
    if (count < 2 && type != 0) Fault(faults, where, "switched on with fewer than 2 points");
    if ((type & ENVELOPE_SUSTAIN) && sustain >= count) Fault(faults, where, "sustain point beyond the points");
    if ((type & ENVELOPE_LOOP) && (loop_start > loop_end || loop_end >= count))
        Fault(faults, where, "loop outside the points");
    for (int k = 0; k < 20; k++)
        if (points[k].value > 64) Fault(faults, where, "point value above 64");
}

void CheckSample(std::string& faults, const std::string& where, const Sample& s) {
    if (s.length >= 0x80000000u) Fault(faults, where, "length of 2^31 frames or more");
    if (s.loop_mode != LOOP_NONE && s.loop_mode != LOOP_FORWARD && s.loop_mode != LOOP_BIDI)
        Fault(faults, where, "unknown loop mode");
    if (s.loop_mode == LOOP_NONE && (s.loop_start != 0 || s.loop_length != s.length))
        Fault(faults, where, "no loop, but loop_start/loop_length not 0/length");
    if (s.loop_length == 0 && s.length != 0) Fault(faults, where, "loop of no frames");
    if (uint64_t(s.loop_start) + s.loop_length > s.length) Fault(faults, where, "loop beyond the sample");
    if ((s.data == nullptr) != (s.length == 0)) Fault(faults, where, "data null exactly when length is 0 broken");
    if (!s.data || s.length == 0 || uint64_t(s.loop_start) + s.loop_length > s.length) return;
    if (s.bits != 16) Fault(faults, where, "sample with data not 16-bit");
    if (s.data[-1] != 0) Fault(faults, where, "entry in front of data[0] not 0");
    // Every stored entry must be readable (the sanitizers check the storage).
    int64_t sum = 0;
    for (uint32_t k = 0; k < s.length + 8; k++) sum += s.data[k];
    (void)sum;
    uint32_t end = s.loop_start + s.loop_length;
    if (s.loop_mode == LOOP_FORWARD && s.data[end] != s.data[s.loop_start])
        Fault(faults, where, "forward guard entry is not the loop start");
    if (s.loop_mode == LOOP_BIDI && s.data[end] != s.data[end - 1])
        Fault(faults, where, "ping-pong guard entry is not the loop's last frame");
    if (s.loop_mode == LOOP_NONE && s.data[s.length] != 0) Fault(faults, where, "entry after the last frame not 0");
    for (uint32_t k = s.length + 1; k < s.length + 8; k++)
        if (s.data[k] != 0) Fault(faults, where, "entries behind the sample not 0");
}

}  // namespace

std::string ModuleFaults(const Module* module) {
    std::string faults;
    if (!module) return "no module\n";
    const Module& m = *module;
    if (m.song_length < 1 || m.song_length > 256) Fault(faults, "module", "song_length outside 1..256");
    if (m.restart_position < 0 || m.restart_position >= m.song_length)
        Fault(faults, "module", "restart_position outside the song");
    if (m.channel_count < 1 || m.channel_count > 32) Fault(faults, "module", "channel_count outside 1..32");
    if (m.default_bpm < 1) Fault(faults, "module", "default_bpm below 1");
    if (m.default_global_volume != 64) Fault(faults, "module", "default_global_volume not 64");
    if (!m.tick_handler) Fault(faults, "module", "no tick handler");
    if (m.used_pattern_count < 1 || m.pattern_count < m.used_pattern_count)
        Fault(faults, "module", "pattern_count below used_pattern_count");
    for (int k = 0; k < m.song_length && k < 256; k++)
        if (m.orders[k] >= m.pattern_count) Fault(faults, "module", "order names a pattern that does not exist");
    if (m.pattern_count > 0 && !m.patterns) Fault(faults, "module", "no pattern array");
    for (int32_t i = 0; m.patterns && i < m.pattern_count; i++) {
        const Pattern& p = m.patterns[i];
        std::string where = "pattern " + std::to_string(i);
        if (p.row_count < 1 || p.row_count > 256) Fault(faults, where, "row_count outside 1..256");
        if (!p.cells) {
            Fault(faults, where, "no cells");
            continue;
        }
        uint32_t sum = 0;  // every cell of every row and channel must be reachable
        for (int32_t k = 0; k < p.row_count * m.channel_count; k++) {
            const PatternCell& c = p.cells[k];
            sum += c.note + c.instrument + c.volume + c.effect + c.param;
            if (c.note == 97) Fault(faults, where, "note 97 not turned into key off");
            if (c.instrument > 128) Fault(faults, where, "instrument above 128");
        }
        (void)sum;
    }
    if (m.instrument_count < 0) Fault(faults, "module", "negative instrument_count");
    if (m.instrument_count > 0 && !m.instruments) Fault(faults, "module", "no instrument array");
    for (int32_t i = 0; m.instruments && i < m.instrument_count; i++) {
        const Instrument& in = m.instruments[i];
        std::string where = "instrument " + std::to_string(i);
        const int most = m.mode == VINTO_MODE_COMPLETE ? INSTRUMENT_SAMPLE_SLOTS : MAX_INSTRUMENT_SAMPLES;
        if (in.sample_count < 0 || in.sample_count > most) Fault(faults, where, "sample_count out of range");
        for (int j = 0; j < INSTRUMENT_SAMPLE_SLOTS; j++) {
            const Sample* s = in.samples[j];
            std::string slot = where + " slot " + std::to_string(j);
            if (!s) {
                Fault(faults, slot, "null slot");
                continue;
            }
            if (j >= in.sample_count && s != &EmptySample) Fault(faults, slot, "unused slot not EmptySample");
            if (j < in.sample_count && s == &EmptySample) Fault(faults, slot, "own slot is EmptySample");
            if (j < in.sample_count) CheckSample(faults, slot, *s);
        }
        CheckEnvelope(faults, where + " volume envelope", in.volume_envelope, in.volume_point_count,
                      in.volume_envelope_type, in.volume_sustain, in.volume_loop_start, in.volume_loop_end);
        CheckEnvelope(faults, where + " panning envelope", in.pan_envelope, in.pan_point_count,
                      in.pan_envelope_type, in.pan_sustain, in.pan_loop_start, in.pan_loop_end);
    }
    if (EmptySample.data || EmptySample.length || EmptySample.loop_mode)
        Fault(faults, "EmptySample", "not zero-filled any more");
    return faults;
}

}  // namespace xm

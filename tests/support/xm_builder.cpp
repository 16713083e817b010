#include "tests/support/xm_builder.h"

#include <stdlib.h>

#include <algorithm>
#include <initializer_list>

#include "module/module.h"
#include "module/resource_file.h"

using namespace vinto;

namespace xm {
namespace {

struct Out {
    std::vector<uint8_t> bytes;
    void U8(uint32_t v) { bytes.push_back(uint8_t(v)); }
    void U16(uint32_t v) { U8(v), U8(v >> 8); }
    void U32(uint32_t v) { U16(v), U16(v >> 16); }
    void Bytes(std::initializer_list<uint32_t> values) { for (uint32_t v : values) U8(v); }
    void Text(std::string text, size_t size) {
        text.resize(size, '\0');
        bytes.insert(bytes.end(), text.begin(), text.end());
    }
};

void PutPattern(Out& o, const PatternSpec& p, const SongSpec& song) {
    std::vector<Cell> cells = p.cells;
    cells.resize(size_t(p.rows) * size_t(song.channels));
    Out data{p.raw_cells};
    const bool packed = p.packing == Packing::Packed;
    for (size_t k = 0; p.raw_cells.empty() && p.packing != Packing::NoData && k < cells.size(); k++) {
        const Cell& c = cells[k];
        const uint8_t fields[5] = {c.note, c.instrument, c.volume, c.effect, c.param};
        if (packed) data.U8(0x80 | (c.note ? 1 : 0) | (c.instrument ? 2 : 0) | (c.volume ? 4 : 0) |
                            (c.effect ? 8 : 0) | (c.param ? 16 : 0));
        for (uint8_t field : fields)
            if (field || !packed) data.U8(field);
    }
    const size_t start = o.bytes.size();
    o.U32(song.pattern_header), o.U8(0);
    song.version == 0x0102 ? o.U8(uint32_t(p.rows - 1)) : o.U16(uint32_t(p.rows));
    // A pattern with cell data never declares size 0, whatever its byte count.
    o.U16(p.packing == Packing::NoData ? 0 : std::max<uint32_t>(1, uint32_t(data.bytes.size())));
    o.bytes.resize(start + song.pattern_header, 0);
    o.bytes.insert(o.bytes.end(), data.bytes.begin(), data.bytes.end());
}

void PutInstrument(Out& o, const InstrumentSpec& in, uint32_t sample_header) {
    const size_t start = o.bytes.size();
    o.U32(in.header_size), o.Text("instrument", 22), o.U8(0), o.U16(uint32_t(in.samples.size()));
    if (!in.samples.empty()) {
        o.U32(sample_header);
        for (uint8_t slot : in.keymap) o.U8(slot);
        const EnvelopeSpec &v = in.volume_envelope, &p = in.pan_envelope;
        for (const EnvelopeSpec* e : {&v, &p})
            for (size_t k = 0; k < 12; k++) {
                const auto point = k < e->points.size() ? e->points[k] : std::pair<uint16_t, uint16_t>();
                o.U16(point.first), o.U16(point.second);
            }
        auto count = [](const EnvelopeSpec& e) { return e.point_count == 0xFF ? uint32_t(e.points.size()) : e.point_count; };
        o.Bytes({count(v), count(p), v.sustain, v.loop_start, v.loop_end, p.sustain, p.loop_start, p.loop_end, v.type,
                 p.type, in.vibrato_type, in.vibrato_sweep, in.vibrato_depth, in.vibrato_rate});
        o.U16(in.fadeout);
    }
    o.bytes.resize(start + in.header_size, 0);  // padded or cut to the size it declares
    for (const SampleSpec& s : in.samples) {
        const uint32_t width = s.sixteen_bit ? 2 : 1;
        o.U32(s.raw_sizes ? s.raw_length : uint32_t(s.pcm.size()) * width);
        o.U32(s.raw_sizes ? s.raw_loop_start : s.loop_start * width);
        o.U32(s.raw_sizes ? s.raw_loop_length : s.loop_length * width);
        o.Bytes({s.volume, uint8_t(s.finetune), uint32_t(s.loop_type | (s.sixteen_bit ? 0x10 : 0)), s.pan,
                 uint8_t(s.relative_note), 0});
        o.Text("sample", 22), o.bytes.resize(o.bytes.size() + sample_header - 40, 0xEE);
    }
    for (const SampleSpec& s : in.samples)
        for (size_t k = 0; k < s.pcm.size(); k++) {
            const uint32_t delta = uint32_t(s.pcm[k] - (k ? s.pcm[k - 1] : 0));
            s.sixteen_bit ? o.U16(delta) : o.U8(delta);
        }
}

// The file is served by the engine's own memory-file stream functions.
std::vector<uint8_t> memory_file;
int open_streams = 0;

void* MemoryOpen(const char*) {
    open_streams++;
    ResourceFile* file = static_cast<ResourceFile*>(calloc(1, sizeof(ResourceFile)));
    *file = {int32_t(memory_file.size()), 0, memory_file.data()};
    return file;
}
void MemoryClose(void* stream) {
    open_streams--;
    ResourceFileClose(stream);
}

}  // namespace

Cell& PatternSpec::At(int row, int channel, int channel_count) {
    const size_t index = size_t(row) * size_t(channel_count) + size_t(channel);
    cells.resize(std::max({cells.size(), size_t(rows) * size_t(channel_count), index + 1}));
    return cells[index];
}

std::vector<uint8_t> Build(const SongSpec& song) {
    Out o;
    o.Text("Extended Module: ", 17), o.Text("vinto test", 20), o.U8(0x1A), o.Text("xm builder", 20);
    o.U16(song.version), o.U32(song.header_size);
    const int patterns = song.declared_patterns >= 0 ? song.declared_patterns : int(song.patterns.size());
    const int instruments = song.declared_instruments >= 0 ? song.declared_instruments : int(song.instruments.size());
    for (int v : {song.song_length >= 0 ? song.song_length : int(song.orders.size()), int(song.restart_position),
                  song.channels, patterns, instruments, int(song.flags), int(song.speed), int(song.bpm)})
        o.U16(uint32_t(v));
    for (size_t i = 0; i < 256; i++) o.U8(i < song.orders.size() ? song.orders[i] : 0);
    o.bytes.resize(60 + size_t(song.header_size), 0);
    const auto put_patterns = [&] {
        for (size_t i = 0; i < song.patterns.size() && int(i) < patterns; i++) PutPattern(o, song.patterns[i], song);
    };
    if (song.version > 0x0103) put_patterns();
    for (size_t i = 0; i < song.instruments.size() && int(i) < instruments; i++) PutInstrument(o, song.instruments[i], song.sample_header);
    if (song.version <= 0x0103) put_patterns();
    return o.bytes;
}

SongSpec SimpleSong(int channels, int rows) {
    SongSpec song;
    song.channels = channels;
    song.patterns.resize(1), song.patterns[0].rows = rows;
    SampleSpec square;
    square.pcm.assign(16, 100), square.pcm.resize(32, -100);
    square.loop_type = FORWARD_LOOP, square.loop_length = 32;
    song.instruments.resize(1), song.instruments[0].samples = {square};
    return song;
}

void InstallMemoryFile(const std::vector<uint8_t>& bytes) {
    memory_file = bytes;
    SetFileIo(MemoryOpen, MemoryClose, ResourceFileRead, ResourceFileSeek, ResourceFileTell);
}

Module* Load(const std::vector<uint8_t>& bytes, SampleLoader loader, int32_t mode) {
    InstallMemoryFile(bytes);
    return LoadModuleInMode("memory.xm", loader, mode);
}

Module* Load(const SongSpec& song, SampleLoader loader, int32_t mode) { return Load(Build(song), loader, mode); }

int OpenMemoryStreams() { return open_streams; }

std::string ModuleFaults(const Module* module) {
    if (!module) return "no module\n";
    std::string faults;
    auto need = [&faults](bool ok, const char* what, int index) {
        if (!ok) faults += std::string(what) + " " + std::to_string(index) + "\n";
    };
    const Module& m = *module;
    need(m.song_length >= 1 && m.song_length <= 256 && m.restart_position >= 0 && m.restart_position < m.song_length &&
             m.channel_count >= 1 && m.channel_count <= 32 && m.default_bpm >= 1 && m.default_global_volume == 64 &&
             m.tick_handler && m.used_pattern_count >= 1 && m.pattern_count >= m.used_pattern_count && m.patterns &&
             m.instrument_count >= 0 && (m.instrument_count == 0 || m.instruments) && !EmptySample.data &&
             !EmptySample.length && !EmptySample.loop_mode,
         "header values or placeholders", 0);
    for (int k = 0; k < m.song_length && k < 256; k++) need(m.orders[k] < m.pattern_count, "order names no pattern", k);
    volatile uint32_t sink = 0;  // every cell and sample entry is read
    for (int32_t i = 0; m.patterns && i < m.pattern_count; i++) {
        const Pattern& p = m.patterns[i];
        need(p.row_count >= 1 && p.row_count <= 256 && p.cells, "pattern rows or cells", i);
        for (int32_t k = 0; p.cells && k < p.row_count * m.channel_count; k++) {
            const PatternCell& c = p.cells[k];
            sink = sink + c.volume + c.effect + c.param;
            if (c.note == 97 || c.instrument > 128) need(false, "pattern with a key off 97 or an instrument past 128", i);
        }
    }
    for (int32_t i = 0; m.instruments && i < m.instrument_count; i++) {
        const Instrument& in = m.instruments[i];
        const int most = m.mode == VINTO_MODE_COMPLETE ? INSTRUMENT_SAMPLE_SLOTS : MAX_INSTRUMENT_SAMPLES;
        need(in.sample_count >= 0 && in.sample_count <= most, "instrument sample count", i);
        const struct { const EnvelopePoint* points; uint8_t count, type, sustain, start, end; } envelopes[] = {
            {in.volume_envelope, in.volume_point_count, in.volume_envelope_type, in.volume_sustain, in.volume_loop_start,
             in.volume_loop_end},
            {in.pan_envelope, in.pan_point_count, in.pan_envelope_type, in.pan_sustain, in.pan_loop_start, in.pan_loop_end}};
        for (const auto& e : envelopes) {
            bool values = true;
            for (int k = 0; k < ENVELOPE_POINTS; k++) values = values && e.points[k].value <= 64;
            need(values && e.count <= 12 && (e.count >= 2 || e.type == 0) &&
                     (!(e.type & ENVELOPE_SUSTAIN) || e.sustain < e.count) &&
                     (!(e.type & ENVELOPE_LOOP) || (e.start <= e.end && e.end < e.count)),
                 "instrument envelope points, values, sustain or loop", i);
        }
        for (int j = 0; j < INSTRUMENT_SAMPLE_SLOTS; j++) {
            const Sample* s = in.samples[j];
            need(s && (s == &EmptySample) == (j >= in.sample_count), "instrument slot null or mixed up", i);
            if (!s || j >= in.sample_count) continue;
            const uint64_t end = uint64_t(s->loop_start) + s->loop_length;
            need(s->length < 0x80000000u && end <= s->length && (s->loop_length > 0 || s->length == 0) &&
                     (s->data == nullptr) == (s->length == 0) &&
                     (s->loop_mode == LOOP_FORWARD || s->loop_mode == LOOP_BIDI ||
                      (s->loop_mode == LOOP_NONE && s->loop_start == 0 && s->loop_length == s->length)),
                 "instrument sample length, loop or mode", i);
            if (!s->data || end > s->length) continue;
            bool zeros = s->data[-1] == 0;  // in front, and behind the guard entry
            for (uint32_t k = 0; k < s->length + 8; k++) sink = sink + uint16_t(s->data[k]), zeros = zeros && (k <= s->length || s->data[k] == 0);
            const int16_t guard = s->loop_mode == LOOP_FORWARD ? s->data[s->loop_start] : s->loop_mode == LOOP_BIDI ? s->data[end - 1] : 0;
            need(s->bits == 16 && zeros && s->data[end] == guard, "instrument sample width, guard entry or zeros", i);
        }
    }
    return faults;
}

}  // namespace xm

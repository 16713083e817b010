#include "tests/hardening_check.h"

#include <set>
#include <sstream>
#include <utility>

#include "mixer/mixer.h"
#include "module/module.h"
#include "output/output.h"
#include "replay/replay.h"

namespace hardening {
namespace {

constexpr int32_t MIX_RATE = 44100;

void Fault(std::string& faults, int block, const std::string& what) {
    std::ostringstream line;
    line << "block " << block << ": " << what << "\n";
    faults += line.str();
}

std::string Range(const char* name, int64_t value) {
    std::ostringstream text;
    text << name << " = " << value;
    return text.str();
}

void CheckSong(const Module& m, int block, std::string& faults) {
    if (m.samples_per_tick < 1) Fault(faults, block, Range("samples_per_tick", m.samples_per_tick));
    if (m.tick_samples_left < 0 || m.tick_samples_left > m.samples_per_tick)
        Fault(faults, block, Range("tick_samples_left", m.tick_samples_left));
    if (m.order < 0 || m.order >= m.song_length) {
        Fault(faults, block, Range("order", m.order));
        return;
    }
    int32_t number = m.orders[m.order];
    if (number >= m.pattern_count) {
        Fault(faults, block, Range("pattern number", number));
        return;
    }
    const Pattern& pattern = m.patterns[number];
    if (m.row < 0 || m.row >= pattern.row_count) Fault(faults, block, Range("row", m.row));
    if (m.global_volume < 0 || m.global_volume > 64) Fault(faults, block, Range("global_volume", m.global_volume));
}

void CheckChannels(const Module& m, int block, std::string& faults) {
    int32_t count = m.channel_count < MAX_CHANNELS ? m.channel_count : MAX_CHANNELS;
    for (int32_t i = 0; i < count; i++) {
        const Channel& c = channels[i];
        std::string at = "channel " + std::to_string(i) + " ";
        if (c.volume < 0 || c.volume > 64) Fault(faults, block, at + Range("volume", c.volume));
        if (c.volume_env.value < 0 || c.volume_env.value > 64)
            Fault(faults, block, at + Range("volume envelope", c.volume_env.value));
        if (c.pan_env.value < 0 || c.pan_env.value > 64)
            Fault(faults, block, at + Range("panning envelope", c.pan_env.value));
        if (c.fade_volume < 0 || c.fade_volume > 65536) Fault(faults, block, at + Range("fade", c.fade_volume));
        if (c.note >= KEYMAP_NOTES) Fault(faults, block, at + Range("note", c.note));
        if (c.transposed_note > 119) Fault(faults, block, at + Range("transposed note", c.transposed_note));
    }
}

void CheckVoices(int block, std::string& faults) {
    for (int i = 0; i < MIXED_VOICE_COUNT; i++) {
        const Voice& v = VoicePool[i];
        if (!v.sample) continue;
        std::string at = "voice " + std::to_string(i) + " ";
        const Sample& s = *v.sample;
        uint64_t end = uint64_t(s.loop_start) + s.loop_length;
        if (end > s.length) Fault(faults, block, at + "loop beyond the sample");
        // From the entry in front of the data (-1) to the loop end.
        if (v.position != 0xFFFFFFFFu && v.position > end) Fault(faults, block, at + Range("position", v.position));
        if (v.volume < 0 || v.volume > 127) Fault(faults, block, at + Range("volume", v.volume));
        if (v.left_gain < 0 || v.left_gain > 255 || v.right_gain < 0 || v.right_gain > 255)
            Fault(faults, block, at + Range("gain", v.left_gain) + "/" + std::to_string(v.right_gain));
        if (v.pan < 0 || v.pan > 255) Fault(faults, block, at + Range("pan", v.pan));
    }
}

}  // namespace

PlayReport Play(Module* module, int blocks) {
    PlayReport report;
    if (!module) {
        report.faults = "no module\n";
        return report;
    }
    if (!StartRendering(module)) {
        report.faults = "StartRendering refused the module\n";
        return report;
    }
    const int32_t frames = GetBlockFrames();
    std::vector<int16_t> out(size_t(frames) * 2);
    std::set<std::pair<int32_t, int32_t>> positions;
    uint32_t last_time = 0;
    int32_t last_order = module->order, last_row = module->row;
    for (int b = 0; b < blocks && report.faults.empty(); b++) {
        if (RenderNextBlock(out.data(), frames) != frames) {
            Fault(report.faults, b, "no block rendered");
            break;
        }
        for (int16_t v : out) report.nonzero_values += v != 0;
        uint32_t time = GetPlayTime(module);
        uint64_t limit = uint64_t(b + 1) * uint64_t(frames) * 1000 / MIX_RATE;
        if (time < last_time || time > limit) Fault(report.faults, b, Range("time_ms", time));
        last_time = time;
        CheckSong(*module, b, report.faults);
        CheckChannels(*module, b, report.faults);
        CheckVoices(b, report.faults);
        positions.insert({module->order, module->row});
        if (module->order != last_order || module->row != last_row) report.moves++;
        last_order = module->order;
        last_row = module->row;
    }
    report.positions = uint32_t(positions.size());
    report.time_ms = last_time;
    report.loops = GetSongLoops(module);
    StopPlayback(module);
    return report;
}

}  // namespace hardening

// compare: how fast vinto renders and loads the songs of a corpus directory,
// beside two other XM players used only as yardsticks: libxmp (linear
// interpolation, 16-bit stereo) and libopenmpt (interpolation filter length 2,
// 16-bit stereo), all at 44100 Hz. Each song is rendered for the same number
// of frames by each engine in turn, repeated with the engines' order rotated;
// the figures are the medians of the repeats, in the thread's CPU time (wall
// time is printed beside it for the whole run).
//
//   compare [--seconds S] [--repeats N] [--mode exact|complete] [--playback] CORPUS_DIR
//
// --mode chooses vinto's replay mode (exact by default).
// --playback also times StartPlayback (the two-second prefill and the device
// start) per song, on SDL's dummy audio driver unless SDL_AUDIODRIVER is set.
#include <dirent.h>
#include <libopenmpt/libopenmpt.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <time.h>
#include <xmp.h>

#include <algorithm>
#include <string>
#include <vector>

#include "vinto/vinto.h"

namespace {

constexpr int32_t RATE = 44100;
constexpr int32_t BLOCK = 884;  // vinto's block; the others render in chunks of the same size

double ThreadSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double WallSeconds() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// ---- vinto's file callbacks over one song in memory -----------------------

struct MemoryStream {
    const std::vector<uint8_t>* bytes;
    size_t position;
};
const std::vector<uint8_t>* current_song = nullptr;

void* MemoryOpen(const char*) { return current_song ? new MemoryStream{current_song, 0} : nullptr; }
void MemoryClose(void* stream) { delete static_cast<MemoryStream*>(stream); }
uint32_t MemoryRead(uint8_t* buffer, uint32_t size, void* stream) {
    MemoryStream* s = static_cast<MemoryStream*>(stream);
    const size_t left = s->position < s->bytes->size() ? s->bytes->size() - s->position : 0;
    const size_t n = std::min<size_t>(size, left);
    memcpy(buffer, s->bytes->data() + s->position, n);
    s->position += n;
    return uint32_t(n);
}
void MemorySeek(void* stream, int32_t offset, uint8_t origin) {
    MemoryStream* s = static_cast<MemoryStream*>(stream);
    const long base = origin == 1 ? long(s->position) : origin == 2 ? long(s->bytes->size()) : 0;
    const long target = base + offset;
    s->position = target < 0 ? 0 : size_t(target);
}
int32_t MemoryTell(void* stream) { return int32_t(static_cast<MemoryStream*>(stream)->position); }

int32_t vinto_mode = VINTO_MODE_EXACT;

Module* VintoLoad(const std::vector<uint8_t>& bytes) {
    current_song = &bytes;
    SetFileIo(MemoryOpen, MemoryClose, MemoryRead, MemorySeek, MemoryTell);
    return LoadModuleInMode("song.xm", nullptr, vinto_mode);
}

// ---- the three renderers: each renders `blocks` chunks of BLOCK frames ----

// Returns the CPU seconds of the rendering alone (preparation included, load excluded).
double RenderVinto(Module* module, int64_t blocks, std::vector<int16_t>& buffer) {
    const double start = ThreadSeconds();
    if (!StartRendering(module)) return -1;
    for (int64_t b = 0; b < blocks; b++)
        if (RenderNextBlock(buffer.data(), BLOCK) != BLOCK) return -1;
    const double seconds = ThreadSeconds() - start;
    StopPlayback(module);
    return seconds;
}

double RenderXmp(xmp_context context, int64_t blocks, std::vector<int16_t>& buffer) {
    const double start = ThreadSeconds();
    if (xmp_start_player(context, RATE, 0) != 0) return -1;
    xmp_set_player(context, XMP_PLAYER_INTERP, XMP_INTERP_LINEAR);
    for (int64_t b = 0; b < blocks; b++)
        if (xmp_play_buffer(context, buffer.data(), BLOCK * 4, 0) != 0) return -1;  // 0: loop for ever
    const double seconds = ThreadSeconds() - start;
    xmp_end_player(context);
    return seconds;
}

double RenderOpenmpt(openmpt_module* module, int64_t blocks, std::vector<int16_t>& buffer) {
    const double start = ThreadSeconds();
    for (int64_t b = 0; b < blocks; b++)
        if (openmpt_module_read_interleaved_stereo(module, RATE, BLOCK, buffer.data()) != size_t(BLOCK)) return -1;
    return ThreadSeconds() - start;
}

openmpt_module* OpenmptLoad(const std::vector<uint8_t>& bytes) {
    openmpt_module* module = openmpt_module_create_from_memory2(bytes.data(), bytes.size(), nullptr, nullptr, nullptr,
                                                                nullptr, nullptr, nullptr, nullptr);
    if (!module) return nullptr;
    openmpt_module_set_render_param(module, OPENMPT_MODULE_RENDER_INTERPOLATIONFILTER_LENGTH, 2);
    openmpt_module_set_repeat_count(module, -1);
    return module;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::vector<uint8_t> bytes;
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) return bytes;
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    fclose(file);
    return bytes;
}

int Usage() {
    fprintf(stderr, "usage: compare [--seconds S] [--repeats N] [--mode exact|complete] [--playback] CORPUS_DIR\n");
    return 2;
}

struct Row {
    std::string name;
    double vinto = 0, xmp = 0, openmpt = 0;  // render CPU seconds, medians
    double load_vinto = 0, load_xmp = 0;     // load CPU seconds, medians
    double playback = -1;                    // StartPlayback wall seconds, median
    size_t size = 0;
};

}  // namespace

int main(int argc, char** argv) {
    double seconds = 60;
    int repeats = 3;
    bool playback = false;
    const char* dir = nullptr;
    for (int i = 1; i < argc; i++) {
        if (!strcmp(argv[i], "--seconds") && i + 1 < argc) {
            seconds = atof(argv[++i]);
        } else if (!strcmp(argv[i], "--repeats") && i + 1 < argc) {
            repeats = atoi(argv[++i]);
        } else if (!strcmp(argv[i], "--mode") && i + 1 < argc) {
            const char* mode = argv[++i];
            if (strcmp(mode, "exact") && strcmp(mode, "complete")) return Usage();
            vinto_mode = strcmp(mode, "exact") ? VINTO_MODE_COMPLETE : VINTO_MODE_EXACT;
        } else if (!strcmp(argv[i], "--playback")) {
            playback = true;
        } else if (argv[i][0] == '-' || dir) {
            return Usage();
        } else {
            dir = argv[i];
        }
    }
    if (!dir || seconds <= 0 || repeats < 1) return Usage();
    if (playback) setenv("SDL_AUDIODRIVER", "dummy", 0);

    std::vector<std::string> names;
    if (DIR* d = opendir(dir)) {
        while (dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name.size() > 3 && strcasecmp(name.c_str() + name.size() - 3, ".xm") == 0) names.push_back(name);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    if (names.empty()) {
        fprintf(stderr, "compare: no .xm files in %s\n", dir);
        return 1;
    }

    const int64_t blocks = int64_t((seconds * RATE + BLOCK - 1) / BLOCK);
    const double audio_seconds = double(blocks * BLOCK) / RATE;
    std::vector<int16_t> buffer(size_t(BLOCK) * 2);
    printf("vinto in %s mode; ", vinto_mode == VINTO_MODE_EXACT ? "exact" : "complete");
    printf("%d songs, %.3f s of audio each (%lld frames), %d repeats, engines rotated; CPU ms, medians\n",
           int(names.size()), audio_seconds, (long long)(blocks * BLOCK), repeats);
    printf("%-46s %8s %8s %8s %7s %7s %8s %8s%s\n", "song", "vinto", "libxmp", "openmpt", "xmp/v", "mpt/v", "load v",
           "load xmp", playback ? "  start v" : "");

    const double wall_start = WallSeconds();
    std::vector<Row> rows;
    for (const std::string& name : names) {
        const std::vector<uint8_t> bytes = ReadFile(std::string(dir) + "/" + name);
        Row row;
        row.name = name;
        row.size = bytes.size();
        std::vector<double> v, x, o, lv, lx, pb;
        for (int r = 0; r < repeats; r++) {
            for (int k = 0; k < 3; k++) {
                const int engine = (k + r) % 3;
                if (engine == 0) {
                    double t = ThreadSeconds();
                    Module* module = VintoLoad(bytes);
                    lv.push_back(ThreadSeconds() - t);
                    if (!module) break;
                    v.push_back(RenderVinto(module, blocks, buffer));
                    if (playback) {
                        t = WallSeconds();
                        const bool started = StartPlayback(module);
                        pb.push_back(started ? WallSeconds() - t : -1);
                        StopPlayback(module);
                    }
                    FreeModule(module);
                } else if (engine == 1) {
                    xmp_context context = xmp_create_context();
                    const double t = ThreadSeconds();
                    const int loaded = xmp_load_module_from_memory(context, bytes.data(), long(bytes.size()));
                    lx.push_back(ThreadSeconds() - t);
                    if (loaded == 0) {
                        x.push_back(RenderXmp(context, blocks, buffer));
                        xmp_release_module(context);
                    }
                    xmp_free_context(context);
                } else {
                    openmpt_module* module = OpenmptLoad(bytes);
                    if (module) {
                        o.push_back(RenderOpenmpt(module, blocks, buffer));
                        openmpt_module_destroy(module);
                    }
                }
            }
        }
        row.vinto = Median(v);
        row.xmp = Median(x);
        row.openmpt = Median(o);
        row.load_vinto = Median(lv);
        row.load_xmp = Median(lx);
        if (playback) row.playback = Median(pb);
        printf("%-46s %8.2f %8.2f %8.2f %7.2f %7.2f %8.3f %8.3f", name.c_str(), row.vinto * 1e3, row.xmp * 1e3,
               row.openmpt * 1e3, row.xmp / row.vinto, row.openmpt / row.vinto, row.load_vinto * 1e3,
               row.load_xmp * 1e3);
        if (playback) printf("  %7.2f", row.playback * 1e3);
        printf("\n");
        fflush(stdout);
        rows.push_back(row);
    }

    std::vector<double> ratio_xmp, ratio_openmpt, speed_vinto, speed_xmp, speed_openmpt;
    double total_vinto = 0, total_xmp = 0, total_openmpt = 0;
    for (const Row& row : rows) {
        if (row.vinto <= 0 || row.xmp <= 0 || row.openmpt <= 0) continue;
        ratio_xmp.push_back(row.xmp / row.vinto);
        ratio_openmpt.push_back(row.openmpt / row.vinto);
        speed_vinto.push_back(audio_seconds / row.vinto);
        speed_xmp.push_back(audio_seconds / row.xmp);
        speed_openmpt.push_back(audio_seconds / row.openmpt);
        total_vinto += row.vinto;
        total_xmp += row.xmp;
        total_openmpt += row.openmpt;
    }
    printf("\nsongs compared: %zu of %zu; wall time of the run %.1f s\n", ratio_xmp.size(), rows.size(),
           WallSeconds() - wall_start);
    printf("median ratio libxmp/vinto:    %.2f (min %.2f, max %.2f)\n", Median(ratio_xmp),
           *std::min_element(ratio_xmp.begin(), ratio_xmp.end()),
           *std::max_element(ratio_xmp.begin(), ratio_xmp.end()));
    printf("median ratio libopenmpt/vinto: %.2f\n", Median(ratio_openmpt));
    printf("median speed (x real time):   vinto %.0f, libxmp %.0f, libopenmpt %.0f\n", Median(speed_vinto),
           Median(speed_xmp), Median(speed_openmpt));
    printf("whole corpus CPU s:           vinto %.3f, libxmp %.3f, libopenmpt %.3f\n", total_vinto, total_xmp,
           total_openmpt);
    const Row* largest = &rows[0];
    for (const Row& row : rows)
        if (row.size > largest->size) largest = &row;
    printf("largest song %s (%zu bytes): load vinto %.3f ms, libxmp %.3f ms\n", largest->name.c_str(), largest->size,
           largest->load_vinto * 1e3, largest->load_xmp * 1e3);
    if (playback) {
        const Row* heaviest = &rows[0];
        for (const Row& row : rows)
            if (row.vinto > heaviest->vinto) heaviest = &row;
        printf("heaviest song %s: StartPlayback %.2f ms (wall)\n", heaviest->name.c_str(), heaviest->playback * 1e3);
    }
    return 0;
}

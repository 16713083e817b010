// fidelity-render: the first seconds of one XM file as raw signed 16-bit
// stereo at 44100 Hz, rendered by vinto (either mode) or by one of the two
// players used as yardsticks. bench/fidelity.py runs it over a corpus.
//
//   fidelity-render vinto-exact|vinto-complete|libxmp|libopenmpt SECONDS INPUT.xm OUTPUT.raw
//
// The yardsticks are set to be comparable with vinto: linear interpolation
// and full stereo separation (libxmp: XMP_INTERP_LINEAR, mix 100 instead of
// its default 70; libopenmpt: interpolation filter length 2, stereo separation
// 100 %, its default volume ramping, no dither), both looping the song for
// ever as vinto does.
#include <libopenmpt/libopenmpt.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <xmp.h>

#include <string>
#include <vector>

#include "vinto/vinto.h"

namespace {

constexpr int RATE = 44100;

std::vector<uint8_t> ReadFile(const char* path) {
    std::vector<uint8_t> bytes;
    FILE* file = fopen(path, "rb");
    if (!file) return bytes;
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    fclose(file);
    return bytes;
}

void* StdioOpen(const char* name) { return fopen(name, "rb"); }
void StdioClose(void* stream) { fclose(static_cast<FILE*>(stream)); }
uint32_t StdioRead(uint8_t* buffer, uint32_t size, void* stream) {
    return uint32_t(fread(buffer, 1, size, static_cast<FILE*>(stream)));
}
void StdioSeek(void* stream, int32_t offset, uint8_t origin) {
    fseek(static_cast<FILE*>(stream), offset, origin == 1 ? SEEK_CUR : origin == 2 ? SEEK_END : SEEK_SET);
}
int32_t StdioTell(void* stream) { return int32_t(ftell(static_cast<FILE*>(stream))); }

bool RenderVinto(const char* path, int32_t mode, int64_t frames, std::vector<int16_t>& out) {
    SetFileIo(StdioOpen, StdioClose, StdioRead, StdioSeek, StdioTell);
    Module* module = LoadModuleInMode(path, nullptr, mode);
    if (!module || !StartRendering(module)) return false;
    std::vector<int16_t> block(size_t(GetBlockFrames()) * 2);
    while (int64_t(out.size()) < frames * 2) {
        int32_t n = RenderNextBlock(block.data(), GetBlockFrames());
        if (n <= 0) break;
        out.insert(out.end(), block.begin(), block.begin() + n * 2);
    }
    FreeModule(module);
    return true;
}

bool RenderXmp(const std::vector<uint8_t>& bytes, int64_t frames, std::vector<int16_t>& out) {
    xmp_context context = xmp_create_context();
    if (xmp_load_module_from_memory(context, bytes.data(), long(bytes.size())) != 0) return false;
    xmp_start_player(context, RATE, 0);
    xmp_set_player(context, XMP_PLAYER_INTERP, XMP_INTERP_LINEAR);
    xmp_set_player(context, XMP_PLAYER_MIX, 100);
    out.resize(size_t(frames) * 2);
    xmp_play_buffer(context, out.data(), int(frames * 4), 0);
    xmp_end_player(context);
    xmp_release_module(context);
    xmp_free_context(context);
    return true;
}

bool RenderOpenmpt(const std::vector<uint8_t>& bytes, int64_t frames, std::vector<int16_t>& out) {
    openmpt_module* module = openmpt_module_create_from_memory2(bytes.data(), bytes.size(), nullptr, nullptr, nullptr,
                                                                nullptr, nullptr, nullptr, nullptr);
    if (!module) return false;
    openmpt_module_set_render_param(module, OPENMPT_MODULE_RENDER_INTERPOLATIONFILTER_LENGTH, 2);
    openmpt_module_set_render_param(module, OPENMPT_MODULE_RENDER_STEREOSEPARATION_PERCENT, 100);
    openmpt_module_set_repeat_count(module, -1);
    openmpt_module_ctl_set_integer(module, "dither", 0);  // its default dither would make every run differ
    out.resize(size_t(frames) * 2);
    size_t done = 0;
    while (done < size_t(frames)) {
        size_t n = openmpt_module_read_interleaved_stereo(module, RATE, size_t(frames) - done, out.data() + done * 2);
        if (n == 0) break;
        done += n;
    }
    openmpt_module_destroy(module);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        fprintf(stderr, "usage: fidelity-render vinto-exact|vinto-complete|libxmp|libopenmpt SECONDS INPUT.xm OUTPUT.raw\n");
        return 2;
    }
    const std::string engine = argv[1];
    const int64_t frames = int64_t(atof(argv[2]) * RATE);
    std::vector<int16_t> out;
    bool ok;
    if (engine == "vinto-exact" || engine == "vinto-complete")
        ok = RenderVinto(argv[3], engine == "vinto-exact" ? VINTO_MODE_EXACT : VINTO_MODE_COMPLETE, frames, out);
    else if (engine == "libxmp")
        ok = RenderXmp(ReadFile(argv[3]), frames, out);
    else if (engine == "libopenmpt")
        ok = RenderOpenmpt(ReadFile(argv[3]), frames, out);
    else
        ok = false;
    if (!ok) {
        fprintf(stderr, "fidelity-render: %s cannot render %s\n", argv[1], argv[3]);
        return 1;
    }
    if (int64_t(out.size()) > frames * 2) out.resize(size_t(frames) * 2);
    FILE* file = fopen(argv[4], "wb");
    if (!file || fwrite(out.data(), 2, out.size(), file) != out.size()) return 1;
    return fclose(file) == 0 ? 0 : 1;
}

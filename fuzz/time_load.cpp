// Times LoadModule (with FreeModule) on files, in the optimised build without
// sanitizers: fuzz_time_load FILE... prints "<ms> <file>" for the slowest
// load, the best of three runs each, then the count of files; for a single
// file also whether it loaded or why not.
#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <string>
#include <vector>

#include "module/resource_file.h"
#include "vinto/vinto.h"

using namespace vinto;

namespace {

std::vector<uint8_t> current;

void* OpenCurrent(const char*) {
    ResourceFile* file = static_cast<ResourceFile*>(calloc(1, sizeof(ResourceFile)));
    if (!file) return nullptr;
    file->data = current.data();
    file->length = int32_t(current.size());
    return file;
}

bool ReadWhole(const char* path, std::vector<uint8_t>& bytes) {
    FILE* file = fopen(path, "rb");
    if (!file) return false;
    bytes.clear();
    uint8_t buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), file)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    fclose(file);
    return bytes.size() < size_t(INT32_MAX);
}

}  // namespace

int main(int argc, char** argv) {
    SetFileIo(OpenCurrent, ResourceFileClose, ResourceFileRead, ResourceFileSeek, ResourceFileTell);
    double slowest = -1;
    std::string slowest_path;
    int files = 0;
    for (int i = 1; i < argc; i++) {
        if (!ReadWhole(argv[i], current)) continue;
        double best = 1e30;
        for (int run = 0; run < 3; run++) {
            auto start = std::chrono::steady_clock::now();
            Module* module = LoadModule("timed.xm", nullptr);
            if (argc == 2 && run == 0) printf("%s\n", module ? "loaded" : GetLoadError());
            FreeModule(module);
            double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            if (ms < best) best = ms;
        }
        files++;
        if (best > slowest) {
            slowest = best;
            slowest_path = argv[i];
        }
    }
    if (files) printf("%.1f %s\n", slowest, slowest_path.c_str());
    printf("%d files\n", files);
    return 0;
}

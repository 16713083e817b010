// Times LoadModule (with FreeModule), optimised and without sanitizers:
// fuzz_time_load FILE... prints "<ms> <file>" for the slowest load (the best of
// three runs each), then the count of files; for a single file also whether it
// loaded or why not.
#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "module/resource_file.h"
#include "vinto/vinto.h"

using namespace vinto;

std::vector<uint8_t> current;

void* OpenCurrent(const char*) {
    ResourceFile* file = static_cast<ResourceFile*>(calloc(1, sizeof(ResourceFile)));
    if (file) *file = {int32_t(current.size()), 0, current.data()};
    return file;
}

int main(int argc, char** argv) {
    SetFileIo(OpenCurrent, ResourceFileClose, ResourceFileRead, ResourceFileSeek, ResourceFileTell);
    double slowest = -1;
    std::string slowest_path;
    int files = 0;
    for (int i = 1; i < argc; i++, files++) {
        std::ifstream file(argv[i], std::ios::binary);
        current.assign(std::istreambuf_iterator<char>(file), {});
        double best = 1e30;
        for (int run = 0; run < 3; run++) {
            const auto start = std::chrono::steady_clock::now();
            Module* module = LoadModule("timed.xm", nullptr);
            if (argc == 2 && run == 0) printf("%s\n", module ? "loaded" : GetLoadError());
            FreeModule(module);
            const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            best = ms < best ? ms : best;
        }
        if (best > slowest) slowest = best, slowest_path = argv[i];
    }
    if (files) printf("%.1f %s\n", slowest, slowest_path.c_str());
    printf("%d files\n", files);
    return 0;
}

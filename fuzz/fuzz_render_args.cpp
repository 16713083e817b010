// Fuzz target: vinto-render's command line and its file handling. The input
// is up to 8 arguments, each ending in a NUL byte, closed by an empty one;
// the bytes after it are written to "in.xm" in a private working directory
// that the arguments can name. Arguments holding a '/' are skipped, so every
// path the tool touches stays inside that directory.
//
// Files written during one run are limited to 1 MiB (standard output goes to
// a file there too): a long or endless render ends in a write failure after
// about 300 blocks instead of filling the disk, and that failure path is
// fuzzed along with the rest.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <unistd.h>

#include <string>
#include <vector>

int VintoRenderMain(int argc, char** argv);

namespace {

constexpr size_t MAX_ARGUMENTS = 8;
constexpr rlim_t MAX_FILE_BYTES = 1 << 20;

std::string work_dir;

void RemoveWorkDir() {
    if (work_dir.empty()) return;
    std::string command = "rm -rf '" + work_dir + "'";
    if (system(command.c_str()) != 0) fprintf(stderr, "fuzz_render_args: could not remove %s\n", work_dir.c_str());
}

void Prepare() {
    if (!work_dir.empty()) return;
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vinto-fuzz-render-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back(0);
    if (!mkdtemp(name.data())) {
        perror("fuzz_render_args: working directory");
        abort();
    }
    work_dir = name.data();
    atexit(RemoveWorkDir);
    // The tool's raw output to "-" lands in a file, under the same limit.
    int out = open((work_dir + "/stdout.bin").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || dup2(out, 1) < 0) abort();
    close(out);
    signal(SIGXFSZ, SIG_IGN);  // an oversized write fails with EFBIG instead
    struct rlimit limit = {MAX_FILE_BYTES, MAX_FILE_BYTES};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) abort();
}

// Whatever a run wrote (outputs under any name, left-over temporaries) goes,
// so the directory never grows.
void ClearWorkDir() {
    DIR* dir = opendir(".");
    if (!dir) abort();
    while (dirent* entry = readdir(dir)) {
        const char* name = entry->d_name;
        if (!strcmp(name, ".") || !strcmp(name, "..") || !strcmp(name, "stdout.bin")) continue;
        unlink(name);
    }
    closedir(dir);
}

// The tool runs inside the working directory; the fuzzer itself reads its
// corpus by relative paths, so the old directory comes back afterwards.
struct InWorkDir {
    int previous = open(".", O_RDONLY | O_DIRECTORY);
    InWorkDir() {
        if (previous < 0 || chdir(work_dir.c_str()) != 0) abort();
    }
    ~InWorkDir() {
        if (fchdir(previous) != 0) abort();
        close(previous);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Prepare();
    InWorkDir in_work_dir;
    std::vector<std::string> arguments;
    size_t at = 0;
    while (at < size && arguments.size() < MAX_ARGUMENTS) {
        const void* end = memchr(data + at, 0, size - at);
        if (!end) break;
        size_t length = size_t(static_cast<const uint8_t*>(end) - (data + at));
        std::string argument(reinterpret_cast<const char*>(data + at), length);
        at += length + 1;
        if (argument.empty()) break;
        if (argument.find('/') != std::string::npos) return 0;
        arguments.push_back(argument);
    }

    FILE* input = fopen("in.xm", "wb");
    if (!input) abort();
    if (at < size) fwrite(data + at, 1, size - at, input);
    fclose(input);
    if (ftruncate(1, 0) != 0 || lseek(1, 0, SEEK_SET) != 0) abort();

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>("vinto-render"));
    for (std::string& argument : arguments) argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    int status = VintoRenderMain(int(argv.size() - 1), argv.data());
    if (status < 0 || status > 2) abort();  // 0 done, 1 failed, 2 bad command line
    ClearWorkDir();
    return 0;
}

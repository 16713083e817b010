// Fuzz target: vinto-render's command line and file handling. The input is up to 8 arguments, each ended by a NUL
// byte, closed by an empty one; the bytes after it go to "in.xm" in a private working directory (an argument holding
// a '/' skips the input, so every path the tool touches stays inside). Files written in a run, standard output among
// them, are limited to 1 MiB: a long render ends in a write failure, and that path is fuzzed too.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <unistd.h>

#include <string>
#include <vector>

int VintoRenderMain(int argc, char** argv);

namespace {

std::string work_dir;

void Prepare() {
    const char* tmp = getenv("TMPDIR");
    work_dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/vinto-fuzz-render-XXXXXX";
    if (!mkdtemp(&work_dir[0])) perror("working directory"), abort();
    atexit([] { (void)!system(("rm -rf '" + work_dir + "'").c_str()); });
    const int out = open((work_dir + "/stdout.bin").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const struct rlimit limit = {1 << 20, 1 << 20};
    signal(SIGXFSZ, SIG_IGN);  // an oversized write fails with EFBIG instead
    if (out < 0 || dup2(out, 1) < 0 || close(out) != 0 || setrlimit(RLIMIT_FSIZE, &limit) != 0) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (work_dir.empty()) Prepare();
    std::string bytes(reinterpret_cast<const char*>(data), size);  // the arguments point into it
    std::vector<char*> argv = {const_cast<char*>("vinto-render")};
    size_t at = 0, end;
    while ((end = bytes.find('\0', at)) != std::string::npos) {
        const size_t start = at;
        at = end + 1;
        if (end == start || argv.size() > 8) break;  // the closing empty argument, or a ninth dropped
        if (bytes.find('/', start) < end) return 0;
        argv.push_back(&bytes[start]);
    }
    argv.push_back(nullptr);
    // The tool runs inside the working directory; the fuzzer reads its corpus by relative paths.
    const int previous = open(".", O_RDONLY | O_DIRECTORY);
    if (previous < 0 || chdir(work_dir.c_str()) != 0) abort();
    FILE* song = fopen("in.xm", "wb");
    if (!song || fwrite(data + at, 1, size - at, song) != size - at || fclose(song) != 0) abort();
    if (ftruncate(1, 0) != 0 || lseek(1, 0, SEEK_SET) != 0) abort();
    const int status = VintoRenderMain(int(argv.size() - 1), argv.data());
    if (status < 0 || status > 2) abort();  // 0 done, 1 failed, 2 bad command line
    // Whatever a run wrote goes, so the directory never grows.
    DIR* dir = opendir(".");
    while (dirent* entry = dir ? readdir(dir) : nullptr)
        if (strcmp(entry->d_name, ".") && strcmp(entry->d_name, "..") && strcmp(entry->d_name, "stdout.bin")) unlink(entry->d_name);
    if (!dir || closedir(dir) != 0 || fchdir(previous) != 0) abort();
    close(previous);
    return 0;
}

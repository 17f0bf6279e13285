// Reader throughput over generated settings files, beside two references
// measured in the same run over the same files: a floor (large block reads
// counting line feeds) and a general INI reader with a handler that matches
// sections and keys ignoring case, as the launcher's table does.
//
// LAUNCHER_BENCH_MB sets the size of each file (default 100).
#include "launch_files/launch_settings.h"
#include "launch_files/section_reader.h"
#include "settings_files.h"

#include <benchmark/benchmark.h>
#include <ini.h>

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

namespace {

std::string directory;
std::map<FileKind, std::string> files;

size_t file_size(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? (size_t)info.st_size : 0;
}

// The floor: what reading the bytes and finding line ends costs at least.
size_t count_lines(const std::string& path) {
    static std::vector<char> block(1 << 20);
    int fd = open(path.c_str(), O_RDONLY);
    size_t lines = 0;
    ssize_t n;
    while ((n = read(fd, block.data(), block.size())) > 0) {
        const char* p = block.data();
        const char* end = p + n;
        while ((p = (const char*)memchr(p, '\n', (size_t)(end - p))) != nullptr) {
            lines++;
            p++;
        }
    }
    close(fd);
    return lines;
}

// The peer's handler: the same decisions as the launcher's table, by name.
struct PeerSettings {
    char app[80] = "product7";
    char command[80] = "";
    char path[80] = "";
    char title[256] = "";
    char user[80] = "";
    int keys = 0;
};

void store(char* field, size_t capacity, const char* value) {
    size_t length = strlen(value);
    if (length < capacity) memcpy(field, value, length + 1);
}

int peer_handler(void* user, const char* section, const char* name, const char* value) {
    PeerSettings* s = (PeerSettings*)user;
    s->keys++;
    if (strcasecmp(section, "launch") == 0) {
        if (strcasecmp(name, "app") == 0)
            store(s->app, sizeof s->app, value);
        else if (strcasecmp(name, "title") == 0)
            store(s->title, sizeof s->title, value);
    } else if (strcasecmp(section, s->app) == 0) {
        if (strcasecmp(name, "command") == 0)
            store(s->command, sizeof s->command, value);
        else if (strcasecmp(name, "path") == 0)
            store(s->path, sizeof s->path, value);
        else if (strcasecmp(name, "title") == 0)
            store(s->title, sizeof s->title, value);
    } else if (strcasecmp(section, "identification") == 0) {
        if (strcasecmp(name, "user") == 0) store(s->user, sizeof s->user, value);
    }
    return 1;
}

void set_up(benchmark::State& state, FileKind kind) {
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)file_size(files[kind]));
}

void bm_floor(benchmark::State& state, FileKind kind) {
    for (auto _ : state)
        benchmark::DoNotOptimize(count_lines(files[kind]));
    set_up(state, kind);
}

void bm_launcher(benchmark::State& state, FileKind kind) {
    for (auto _ : state) {
        launch_settings_init();
        // The product section is one of the generated ones.
        strcpy(launch_settings.app, "product7");
        int result = parse_section_file(nullptr, files[kind].c_str(), SOURCE_SETTINGS_FILE);
        if (result != 1) state.SkipWithError("the file could not be read");
        benchmark::DoNotOptimize(launch_settings);
    }
    set_up(state, kind);
}

void bm_peer(benchmark::State& state, FileKind kind) {
    for (auto _ : state) {
        PeerSettings settings;
        benchmark::DoNotOptimize(ini_parse(files[kind].c_str(), peer_handler, &settings));
        benchmark::DoNotOptimize(settings);
    }
    set_up(state, kind);
}

// Prints each reader's MB/s and its ratio to the floor of the same file.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    // Plain text, so the output can be kept in a file.
    RatioReporter() : ConsoleReporter(OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            auto rate = run.counters.find("bytes_per_second");
            if (run.error_occurred || rate == run.counters.end()) continue;
            results_.push_back({run.benchmark_name(), rate->second.value / 1e6});
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        printf("\n%-28s %10s %10s\n", "reader/file", "MB/s", "to floor");
        for (const auto& r : results_) {
            std::string file = r.first.substr(r.first.find('/') + 1);
            double floor = 0;
            for (const auto& f : results_)
                if (f.first == "floor/" + file) floor = f.second;
            printf("%-28s %10.0f %10.2f\n", r.first.c_str(), r.second,
                   floor > 0 ? r.second / floor : 0.0);
        }
    }

  private:
    std::vector<std::pair<std::string, double>> results_;
};

void remove_files() {
    for (const auto& f : files)
        unlink(f.second.c_str());
    if (!directory.empty()) rmdir(directory.c_str());
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    const char* mb = getenv("LAUNCHER_BENCH_MB");
    size_t bytes = (size_t)(mb != nullptr ? atof(mb) : 100.0) * 1000 * 1000;
    const char* base = getenv("TMPDIR");
    char pattern[4096];
    snprintf(pattern, sizeof pattern, "%s/launcher-bench-XXXXXX", base ? base : "/tmp");
    if (mkdtemp(pattern) == nullptr) {
        perror("mkdtemp");
        return 1;
    }
    directory = pattern;
    atexit(remove_files);

    // Tuned for the peer: lines up to the launcher's own 4096-byte line.
    ini_max_line = LINE_BUFFER_CAP + 3;

    for (FileKind kind : {FileKind::Realistic, FileKind::LongLines, FileKind::ShortLines}) {
        std::string path = directory + "/" + kind_name(kind) + ".ini";
        if (!write_settings_file(kind, bytes, path)) {
            fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
        files[kind] = path;
        std::string name = kind_name(kind);
        benchmark::RegisterBenchmark(("floor/" + name).c_str(), bm_floor, kind);
        benchmark::RegisterBenchmark(("launcher/" + name).c_str(), bm_launcher, kind);
        benchmark::RegisterBenchmark(("peer/" + name).c_str(), bm_peer, kind);
    }

    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

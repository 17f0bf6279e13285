// Reader throughput over generated settings files, beside three references
// measured in the same run over the same files: a floor (large block reads
// counting line feeds), the system's `wc -l` as a whole process, and a
// general INI reader with a handler that matches sections and keys ignoring
// case, as the launcher's table does.
//
// LAUNCHER_BENCH_MB sets the size of each file (default 100).
#include "launch_files/launch_settings.h"
#include "launch_files/section_reader.h"
#include "settings_files.h"

#include <benchmark/benchmark.h>
#include <ini.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

std::string directory;
std::map<FileKind, std::string> files;

size_t file_size(const std::string& path) {
    std::error_code error;
    size_t size = (size_t)std::filesystem::file_size(path, error);
    return error ? 0 : size;
}

// The floor: what reading the bytes and finding line ends costs at least.
size_t count_lines(const std::string& path) {
    static std::vector<char> block(1 << 20);
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) return 0;
    setvbuf(file, nullptr, _IONBF, 0); // whole blocks straight from the system
    size_t lines = 0, n;
    while ((n = fread(block.data(), 1, block.size(), file)) > 0) {
        const char* p = block.data();
        const char* end = p + n;
        while ((p = (const char*)memchr(p, '\n', (size_t)(end - p))) != nullptr) {
            lines++;
            p++;
        }
    }
    fclose(file);
    return lines;
}

// Seconds from the start of one `wc -l PATH` to its exit, or -1 when it
// could not be run. Its start and exit are counted too: it is a whole reader.
double wc_lines_seconds(const std::string& path) {
    if (path.find('\'') != std::string::npos) return -1; // not to be quoted below
    std::string command = "exec wc -l '" + path + "' >/dev/null";
    auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) return -1;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The peer's handler: the same decisions as the launcher's table, by name.
struct PeerSettings {
    char app[80] = {};
    char command[80] = "";
    char path[80] = "";
    char title[256] = "";
    char user[80] = "";
    int keys = 0;
};

// Names compared as the launcher's table compares them: ASCII case ignored.
bool same(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; a++, b++) {
        char x = *a >= 'A' && *a <= 'Z' ? (char)(*a + 32) : *a;
        char y = *b >= 'A' && *b <= 'Z' ? (char)(*b + 32) : *b;
        if (x != y) return false;
    }
    return *a == *b;
}

void store(char* field, size_t capacity, const char* value) {
    size_t length = strlen(value);
    if (length < capacity) memcpy(field, value, length + 1);
}

int peer_handler(void* user, const char* section, const char* name, const char* value) {
    PeerSettings* s = (PeerSettings*)user;
    s->keys++;
    if (same(section, "launch")) {
        if (same(name, "app"))
            store(s->app, sizeof s->app, value);
        else if (same(name, "title"))
            store(s->title, sizeof s->title, value);
    } else if (same(section, s->app)) {
        if (same(name, "command"))
            store(s->command, sizeof s->command, value);
        else if (same(name, "path"))
            store(s->path, sizeof s->path, value);
        else if (same(name, "title"))
            store(s->title, sizeof s->title, value);
    } else if (same(section, "identification")) {
        if (same(name, "user")) store(s->user, sizeof s->user, value);
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

// Timed by hand: another process's time, which the benchmark cannot see.
void bm_wc_lines(benchmark::State& state, FileKind kind) {
    for (auto _ : state) {
        double seconds = wc_lines_seconds(files[kind]);
        if (seconds < 0) {
            state.SkipWithError("wc -l could not be run");
            break;
        }
        state.SetIterationTime(seconds);
    }
    set_up(state, kind);
}

void bm_launcher(benchmark::State& state, FileKind kind) {
    for (auto _ : state) {
        launch_settings_init();
        bad_header_boxes = 0; // each read is a run of its own
        // The product section is one of the generated ones.
        strcpy(launch_settings.app, PRODUCT_SECTION);
        int result = parse_section_file(nullptr, files[kind].c_str(), SOURCE_SETTINGS_FILE);
        if (result != 1) state.SkipWithError("the file could not be read");
        benchmark::DoNotOptimize(launch_settings);
    }
    set_up(state, kind);
}

void bm_peer(benchmark::State& state, FileKind kind) {
    for (auto _ : state) {
        PeerSettings settings;
        strcpy(settings.app, PRODUCT_SECTION);
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
            // Without the "/manual_time" that the by-hand timing adds.
            results_.push_back({run.run_name.function_name, rate->second.value / 1e6});
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        printf("\n%-24s %10s %10s\n", "reader/file", "MB/s", "to floor");
        for (const auto& r : results_) {
            std::string file = r.first.substr(r.first.find('/') + 1);
            double floor = rate("floor", file);
            printf("%-24s %10.0f %10.2f\n", r.first.c_str(), r.second,
                   floor > 0 ? r.second / floor : 0.0);
        }
        // Times are inverse to throughputs: the launcher's time over the
        // faster reference's is the reference's rate over the launcher's.
        printf("\n%-12s %8s %8s %9s %8s %13s %14s\n", "file (MB/s)", "floor", "wc -l", "launcher",
               "peer", "time / faster", "rate / peer");
        for (FileKind kind : FILE_KINDS) {
            std::string file = kind_name(kind);
            double floor = rate("floor", file), wc = rate("wc_lines", file);
            double launcher = rate("launcher", file), peer = rate("peer", file);
            double faster = floor > wc ? floor : wc;
            printf("%-12s %8.0f %8.0f %9.0f %8.0f %13.2f %14.1f\n", file.c_str(), floor, wc,
                   launcher, peer, launcher > 0 ? faster / launcher : 0.0,
                   peer > 0 ? launcher / peer : 0.0);
        }
    }

  private:
    // MB/s of `reader` on `file`, 0 when it was not measured.
    double rate(const std::string& reader, const std::string& file) const {
        for (const auto& r : results_)
            if (r.first == reader + "/" + file) return r.second;
        return 0;
    }

    std::vector<std::pair<std::string, double>> results_;
};

void remove_files() {
    std::error_code ignored;
    if (!directory.empty()) std::filesystem::remove_all(directory, ignored);
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    const char* mb = getenv("LAUNCHER_BENCH_MB");
    size_t bytes = (size_t)(mb != nullptr ? atof(mb) : 100.0) * 1000 * 1000;
    // A folder of this run's own under TMPDIR (else /tmp).
    std::error_code error;
    std::filesystem::path base = std::filesystem::temp_directory_path(error);
    std::random_device random;
    for (int tries = 0; directory.empty() && tries < 100; tries++) {
        std::filesystem::path folder = base / ("launcher-bench-" + std::to_string(random()));
        if (std::filesystem::create_directory(folder, error)) directory = folder.string();
    }
    if (directory.empty()) {
        fprintf(stderr, "cannot make a folder in %s\n", base.c_str());
        return 1;
    }
    atexit(remove_files);

    // Tuned for the peer: lines up to the launcher's own 4096-byte line.
    ini_max_line = LINE_BUFFER_CAP + 3;

    for (FileKind kind : FILE_KINDS) {
        std::string path = directory + "/" + kind_name(kind) + ".ini";
        if (!write_settings_file(kind, bytes, path)) {
            fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
        files[kind] = path;
        std::string name = kind_name(kind);
        benchmark::RegisterBenchmark(("floor/" + name).c_str(), bm_floor, kind);
        benchmark::RegisterBenchmark(("wc_lines/" + name).c_str(), bm_wc_lines, kind)
            ->UseManualTime();
        benchmark::RegisterBenchmark(("launcher/" + name).c_str(), bm_launcher, kind);
        benchmark::RegisterBenchmark(("peer/" + name).c_str(), bm_peer, kind);
    }

    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
